#include "encode/plain_check.hpp"

#include <cstdint>
#include <cstring>

namespace kestrine {
namespace {

inline unsigned char byte_at(std::string_view s, std::size_t i) noexcept {
  return static_cast<unsigned char>(s[i]);
}

// Byte classes for the quick tests.
enum : std::uint8_t {
  kLeadIndicator = 1,  // may not start a plain scalar
  kInner = 2,          // needs a closer look inside the text
  kNumberStart = 4,    // may start a number (digits, "+", ".")
  kWordStart = 8,      // may start a reserved word
};

struct Table {
  std::uint8_t cls[256] = {};
  constexpr Table() {
    for (unsigned char c : std::string_view("\t !\"#%&'*,-:>?@[]`{|}")) cls[c] |= kLeadIndicator;
    for (int c = 0; c < 0x20; ++c) cls[c] |= kInner;
    cls[0x7F] |= kInner;
    for (int c = 0x80; c < 0x100; ++c) cls[c] |= kInner;
    cls[static_cast<unsigned char>('#')] |= kInner;
    cls[static_cast<unsigned char>(':')] |= kInner;
    for (int c = '0'; c <= '9'; ++c) cls[c] |= kNumberStart;
    cls[static_cast<unsigned char>('+')] |= kNumberStart;
    cls[static_cast<unsigned char>('.')] |= kNumberStart;
    for (unsigned char c : std::string_view("~=nNoOyYtTfF<.+-")) cls[c] |= kWordStart;
  }
};
constexpr Table kTable{};

inline bool eq(std::string_view text, const char* word) noexcept {
  return std::memcmp(text.data(), word, text.size()) == 0;
}

// Words that read as null, booleans, the merge key, special floats or the
// document end marker under any version.  "=" is YAML 1.1's value key, which
// 1.1 readers refuse to load as a plain scalar.
bool is_reserved_word(std::string_view t) noexcept {
  switch (t.size()) {
    case 1:
      return t[0] == '~' || t[0] == '=';
    case 2:
      return eq(t, "no") || eq(t, "No") || eq(t, "NO") || eq(t, "on") || eq(t, "On") ||
             eq(t, "ON") || eq(t, "<<");
    case 3:
      return eq(t, "yes") || eq(t, "Yes") || eq(t, "YES") || eq(t, "off") || eq(t, "Off") ||
             eq(t, "OFF") || eq(t, "...");
    case 4:
      return eq(t, "null") || eq(t, "Null") || eq(t, "NULL") || eq(t, "true") ||
             eq(t, "True") || eq(t, "TRUE") || eq(t, ".inf") || eq(t, ".Inf") ||
             eq(t, ".INF") || eq(t, ".nan") || eq(t, ".NaN") || eq(t, ".NAN");
    case 5:
      return eq(t, "false") || eq(t, "False") || eq(t, "FALSE") || eq(t, "-.inf") ||
             eq(t, "-.Inf") || eq(t, "-.INF") || eq(t, "+.inf") || eq(t, "+.Inf") ||
             eq(t, "+.INF");
    default:
      return false;
  }
}

inline bool is_number(ScalarType t) noexcept {
  return t == ScalarType::Int || t == ScalarType::BigInt || t == ScalarType::Float;
}

// Positions 1.. of the text: comment and mapping indicators, and characters a
// plain scalar cannot carry (controls, DEL, C1 controls other than NEL,
// U+FFFE, U+FFFF, and NEL, U+2028, U+2029, which YAML 1.1 readers take for
// line breaks).  The first byte was checked against the indicators already,
// so it only needs the character test.
bool has_unsafe_inner(std::string_view t) noexcept {
  const std::size_t n = t.size();
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char b = byte_at(t, i);
    if (!(kTable.cls[b] & kInner)) continue;
    if (b < 0x20 || b == 0x7F) return true;
    if (b == '#') {
      if (i > 0 && t[i - 1] == ' ') return true;
    } else if (b == ':') {
      if (i > 0 && (i + 1 == n || t[i + 1] == ' ')) return true;
    } else if (b == 0xC2) {
      if (i + 1 < n && byte_at(t, i + 1) >= 0x80 && byte_at(t, i + 1) <= 0x9F) return true;
    } else if (b == 0xEF) {
      if (i + 2 < n && byte_at(t, i + 1) == 0xBF &&
          (byte_at(t, i + 2) == 0xBE || byte_at(t, i + 2) == 0xBF)) {
        return true;
      }
    } else if (b == 0xE2) {
      if (i + 2 < n && byte_at(t, i + 1) == 0x80 &&
          (byte_at(t, i + 2) == 0xA8 || byte_at(t, i + 2) == 0xA9)) {
        return true;
      }
    }
  }
  return false;
}

inline bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
inline bool is_blank(char c) noexcept { return c == ' ' || c == '\t'; }

// Reads between `lo` and `hi` digits at `pos`.
inline bool digits(std::string_view t, std::size_t& pos, std::size_t lo, std::size_t hi) noexcept {
  std::size_t k = 0;
  while (k < hi && pos < t.size() && is_digit(t[pos])) {
    ++pos;
    ++k;
  }
  return k >= lo;
}

inline bool lit(std::string_view t, std::size_t& pos, char c) noexcept {
  if (pos < t.size() && t[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

}  // namespace

bool looks_like_timestamp(std::string_view t) noexcept {
  std::size_t pos = 0;
  if (!digits(t, pos, 4, 4) || pos != 4 || !lit(t, pos, '-')) return false;
  if (t.size() == 10) {
    return is_digit(t[5]) && is_digit(t[6]) && t[7] == '-' && is_digit(t[8]) && is_digit(t[9]);
  }
  if (!digits(t, pos, 1, 2) || !lit(t, pos, '-') || !digits(t, pos, 1, 2)) return false;
  // Separator.
  if (pos < t.size() && (t[pos] == 'T' || t[pos] == 't')) {
    ++pos;
  } else {
    std::size_t start = pos;
    while (pos < t.size() && is_blank(t[pos])) ++pos;
    if (pos == start) return false;
  }
  if (!digits(t, pos, 1, 2) || !lit(t, pos, ':') || !digits(t, pos, 2, 2) ||
      (pos < t.size() && is_digit(t[pos])) || !lit(t, pos, ':') || !digits(t, pos, 2, 2) ||
      (pos < t.size() && is_digit(t[pos]))) {
    return false;
  }
  if (lit(t, pos, '.')) {
    while (pos < t.size() && is_digit(t[pos])) ++pos;
  }
  while (pos < t.size() && is_blank(t[pos])) ++pos;
  if (pos == t.size()) return true;
  // Zone, ending the text.  Our reader also takes a lower-case "z".
  if (t[pos] == 'Z' || t[pos] == 'z') return pos + 1 == t.size();
  if (t[pos] != '+' && t[pos] != '-') return false;
  ++pos;
  if (!digits(t, pos, 1, 2)) return false;
  if (pos == t.size()) return true;
  if (!lit(t, pos, ':') || !digits(t, pos, 2, 2)) return false;
  return pos == t.size();
}

bool has_fold_point(std::string_view t) noexcept {
  for (std::size_t i = 1; i + 1 < t.size(); ++i) {
    if (t[i] == ' ' && !is_blank(t[i - 1]) && !is_blank(t[i + 1])) return true;
  }
  return false;
}

bool needs_quotes(std::string_view text, VersionMode mode) noexcept {
  const std::size_t n = text.size();
  if (n == 0) return true;
  const unsigned char first = byte_at(text, 0);
  if (n >= 3 && first == 0xEF && byte_at(text, 1) == 0xBB && byte_at(text, 2) == 0xBF) {
    return true;  // a leading byte-order mark would be dropped on reading
  }
  if (n <= 5 && (kTable.cls[first] & kWordStart) && is_reserved_word(text)) return true;
  if (mode == VersionMode::Yaml11 && n == 1 &&
      (first == 'y' || first == 'Y' || first == 'n' || first == 'N')) {
    return true;
  }
  if (n >= 4 && text[0] == '.' && text[1] == '.' && text[2] == '.' && is_blank(text[3])) {
    return true;
  }
  if (kTable.cls[first] & kLeadIndicator) return true;
  if (is_blank(text[n - 1])) return true;
  if (has_unsafe_inner(text)) return true;

  // Only texts that can start a number reach the resolvers.  YAML 1.1 reads
  // underscores as digit separators anywhere, "_1" and "__.5" included.
  if (!(kTable.cls[first] & kNumberStart)) {
    if (first != '_') return false;
    std::size_t i = 1;
    while (i < n && text[i] == '_') ++i;
    if (i == n || !(kTable.cls[byte_at(text, i)] & kNumberStart)) return false;
  }
  const bool yaml11 = mode != VersionMode::Yaml12;
  if (is_number(resolve_plain_yaml12(text, false, std::nullopt).type)) return true;
  if (!yaml11) {
    // Texts YAML 1.1 readers take for numbers (underscores, base 2, old
    // octal) are quoted too; sexagesimal forms such as 1:30 stay plain.
    if (std::memchr(text.data(), ':', n) != nullptr) return false;
    return is_number(resolve_plain_yaml11(false, text, false, std::nullopt).type);
  }
  const bool pyyaml = mode != VersionMode::Yaml11;  // every other byte reads as PyyamlCompat
  if (is_number(resolve_plain_yaml11(pyyaml, text, false, std::nullopt).type)) return true;
  return looks_like_timestamp(text);
}

}  // namespace kestrine
