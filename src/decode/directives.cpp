#include "decode/directives.hpp"

#include <cstring>

#include "resolver/resolve.hpp"
#include "util/white_space.hpp"

namespace kestrine {
namespace {

bool all_ascii_digits(std::string_view s) noexcept {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string_view concat(ValueArena& arena, std::string_view a, std::string_view b) {
  const std::size_t n = a.size() + b.size();
  if (n == 0) return std::string_view("", 0);
  char* p = arena.allocate_array<char>(n);
  std::memcpy(p, a.data(), a.size());
  if (!b.empty()) std::memcpy(p + a.size(), b.data(), b.size());
  return {p, n};
}

}  // namespace

std::vector<std::string_view> split_directive_words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (i < n) {
    std::size_t w;
    while (i < n && (w = white_space_at(line, i)) != 0) i += w;
    if (i >= n) break;
    const std::size_t start = i;
    while (i < n && white_space_at(line, i) == 0) ++i;
    words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool valid_yaml_version(std::string_view v) noexcept {
  const std::size_t dot = v.find('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view major = v.substr(0, dot), minor = v.substr(dot + 1);
  return all_ascii_digits(major) && all_ascii_digits(minor);  // a second "." fails the digit test
}

bool is_custom_tag(std::string_view tag) noexcept { return !is_core_tag(tag); }

const std::string_view* TagHandles::find(std::string_view handle) const noexcept {
  const auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : &it->second;
}

bool TagHandles::add(std::string_view handle, std::string_view prefix) {
  return handles_.try_emplace(handle, prefix).second;
}

std::expected<std::string_view, std::string_view> TagHandles::resolve(std::string_view t,
                                                                      ValueArena& arena) const {
  if (t.size() < 2 || t[0] != '!') {
    if (t == "!") {
      if (const std::string_view* p = find("!")) return concat(arena, *p, {});
    }
    return t;
  }
  if (t[1] == '<') return t;  // verbatim
  if (t[1] == '!') {
    if (const std::string_view* p = find("!!")) return concat(arena, *p, t.substr(2));
    return t;
  }
  const std::size_t bang = t.find('!', 1);
  if (bang != std::string_view::npos) {
    const std::string_view handle = t.substr(0, bang + 1);
    const std::string_view* p = find(handle);
    if (p == nullptr) return std::unexpected(handle);
    return concat(arena, *p, t.substr(bang + 1));
  }
  if (const std::string_view* p = find("!")) return concat(arena, *p, t.substr(1));
  return t;
}

}  // namespace kestrine
