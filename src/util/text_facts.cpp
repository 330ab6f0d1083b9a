#include "util/text_facts.hpp"

#include <cstring>

namespace kestrine {

TextFacts text_facts(std::string_view text) noexcept {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  TextFacts facts;
  facts.has_cr = std::memchr(text.data(), '\r', text.size()) != nullptr;
  const std::string_view rest = text.starts_with(kBom) ? text.substr(kBom.size()) : text;
  facts.inner_bom = std::memchr(rest.data(), '\xEF', rest.size()) != nullptr && rest.find(kBom) != std::string_view::npos;
  return facts;
}

}  // namespace kestrine
