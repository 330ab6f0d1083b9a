#include "include/error.hpp"

#include <charconv>

namespace kestrine {

std::string format_load_error(const LoadError& error) {
  static constexpr std::string_view kIn = " in ";
  static constexpr std::string_view kFrom = "\n  included from ";
  static constexpr std::string_view kLine = ", line ";
  std::size_t size = error.message.size() + kIn.size() + error.file.size();
  for (const IncludeFrame& frame : error.include_chain) {
    size += kFrom.size() + frame.file.size() + kLine.size() + 10;
  }
  std::string out;
  out.reserve(size);
  out += error.message;
  out += kIn;
  out += error.file;
  for (const IncludeFrame& frame : error.include_chain) {
    out += kFrom;
    out += frame.file;
    out += kLine;
    char digits[24];
    const auto line = static_cast<std::uint64_t>(frame.line) + 1;
    const auto end = std::to_chars(digits, digits + sizeof digits, line).ptr;
    out.append(digits, end);
  }
  return out;
}

}  // namespace kestrine
