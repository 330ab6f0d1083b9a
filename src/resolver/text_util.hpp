// Small byte-level helpers shared by the resolvers (header only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace kestrine::resolver_detail {

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
constexpr bool is_octal(char c) noexcept { return c >= '0' && c <= '7'; }
constexpr bool is_hex(char c) noexcept {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
constexpr bool all_of(std::string_view s, bool (*pred)(char) noexcept) noexcept {
  for (char c : s)
    if (!pred(c)) return false;
  return true;
}
constexpr bool all_digits(std::string_view s) noexcept { return !s.empty() && all_of(s, is_digit); }
inline bool contains(std::string_view s, char c) noexcept {
  return !s.empty() && std::memchr(s.data(), c, s.size()) != nullptr;
}
// Case-sensitive prefix of the radix forms: "0x"/"0X" and so on.
constexpr bool has_radix_prefix(std::string_view s, char lower) noexcept {
  return s.size() >= 2 && s[0] == '0' && (s[1] == lower || s[1] == lower - 32);
}

// A numeric text with its leading "+" or "-" (if any) split off.
struct SignedText {
  bool negative;
  std::string_view rest;  // never empty
};
// Nullopt for an empty text or a lone sign.
constexpr std::optional<SignedText> split_sign(std::string_view text) noexcept {
  if (text.empty()) return std::nullopt;
  const bool sign = text[0] == '+' || text[0] == '-';
  const SignedText out{text[0] == '-', sign ? text.substr(1) : text};
  if (out.rest.empty()) return std::nullopt;
  return out;
}

// The common integer form shared by every mode: an optional sign, then at
// most 18 decimal digits without a leading zero (or a lone "0").  Such a text
// reads as the same integer under YAML 1.2 and 1.1; anything else goes the
// long way.
inline bool small_decimal(std::string_view t, std::int64_t& out) noexcept {
  std::size_t i = 0;
  bool negative = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    negative = t[0] == '-';
    i = 1;
  }
  const std::size_t n = t.size() - i;
  if (n == 0 || n > 18 || (t[i] == '0' && n > 1)) return false;
  std::int64_t v = 0;
  for (; i < t.size(); ++i) {
    const unsigned d = unsigned(static_cast<unsigned char>(t[i])) - '0';
    if (d > 9) return false;
    v = v * 10 + std::int64_t(d);
  }
  out = negative ? -v : v;
  return true;
}

// The text with every "_" removed.  Texts up to kInline bytes stay in the
// object; longer ones use the heap.
class StrippedText {
 public:
  static constexpr std::size_t kInline = 256;
  explicit StrippedText(std::string_view text) {
    const void* first = text.empty() ? nullptr : std::memchr(text.data(), '_', text.size());
    if (first == nullptr) {
      view_ = text;
      return;
    }
    char* out = buf_;
    if (text.size() > kInline) {
      heap_.resize(text.size());
      out = heap_.data();
    }
    std::size_t n = 0;
    for (char c : text)
      if (c != '_') out[n++] = c;
    view_ = std::string_view(out, n);
  }
  StrippedText(const StrippedText&) = delete;
  StrippedText& operator=(const StrippedText&) = delete;
  std::string_view view() const noexcept { return view_; }

 private:
  std::string_view view_;
  std::string heap_;
  char buf_[kInline];
};

}  // namespace kestrine::resolver_detail
