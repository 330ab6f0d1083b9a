#include "emit_util/plain_scalar.hpp"

#include <cstdint>
#include <cstring>

#include "emit_util/scalar_text.hpp"
#include "resolver/text_util.hpp"
#include "resolver/timestamp.hpp"

namespace kestrine {
namespace {

using resolver_detail::is_digit;

inline unsigned char byte_at(std::string_view s, std::size_t i) noexcept {
  return static_cast<unsigned char>(s[i]);
}

// Byte classes.  The syntax test: bytes that never start a plain scalar
// (blanks included), the indicators that start one only before a non-blank,
// bytes inside that need a closer look (controls, DEL, "#", ":", lead bytes of
// the multi-byte characters a plain scalar cannot carry), tabs, flow
// indicators, and "?" (quoted in flow by the cautious rule).  The value
// writers' resolution test: bytes that may start a number or a reserved word.
enum : std::uint8_t {
  kNeverLeads = 1,
  kLeadsBeforeNonBlank = 2,
  kInner = 4,
  kTab = 8,
  kFlow = 16,
  kQuestion = 32,
  kNumberStart = 64,
  kWordStart = 128,
};

struct Table {
  std::uint8_t cls[256] = {};
  constexpr Table() {
    for (unsigned char c : std::string_view("\t ,[]{}#&*!|>'\"%@`")) cls[c] |= kNeverLeads;
    for (unsigned char c : std::string_view("-?:")) cls[c] |= kLeadsBeforeNonBlank;
    for (int c = 0; c < 0x20; ++c) cls[c] |= c == '\t' ? kTab : kInner;
    cls[0x7F] |= kInner;
    cls[static_cast<unsigned char>('#')] |= kInner;
    cls[static_cast<unsigned char>(':')] |= kInner;
    cls[0xC2] |= kInner;
    cls[0xE2] |= kInner;
    cls[0xEF] |= kInner;
    for (unsigned char c : std::string_view(",[]{}")) cls[c] |= kFlow;
    cls[static_cast<unsigned char>('?')] |= kQuestion;
    for (int c = '0'; c <= '9'; ++c) cls[c] |= kNumberStart;
    cls[static_cast<unsigned char>('+')] |= kNumberStart;
    cls[static_cast<unsigned char>('.')] |= kNumberStart;
    for (unsigned char c : std::string_view("~=nNoOyYtTfF<.+-")) cls[c] |= kWordStart;
  }
};
constexpr Table kTable{};

inline bool is_blank(char c) noexcept { return c == ' ' || c == '\t'; }

inline bool is_flow_indicator(char c) noexcept {
  return c == ',' || c == '[' || c == ']' || c == '{' || c == '}';
}

inline bool eq(std::string_view text, const char* word) noexcept {
  return std::memcmp(text.data(), word, text.size()) == 0;
}

inline bool starts_with_bom(std::string_view t) noexcept {
  return t.size() >= 3 && byte_at(t, 0) == 0xEF && byte_at(t, 1) == 0xBB && byte_at(t, 2) == 0xBF;
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

inline bool lit(std::string_view t, std::size_t& pos, char c) noexcept {
  if (pos < t.size() && t[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

}  // namespace

bool looks_like_timestamp(std::string_view t) noexcept {
  // The cursor steps of the timestamp reader, without its range checks.
  const auto digits = [&](std::size_t& pos, std::size_t lo, std::size_t hi) {
    return timestamp_read_digits(t, pos, lo, hi).has_value();
  };
  const auto more_digits = [&](std::size_t pos) { return pos < t.size() && is_digit(t[pos]); };
  std::size_t pos = 0;
  if (!digits(pos, 4, 4) || !lit(t, pos, '-')) return false;
  if (t.size() == 10) {
    return is_digit(t[5]) && is_digit(t[6]) && t[7] == '-' && is_digit(t[8]) && is_digit(t[9]);
  }
  if (!timestamp_read_1_or_2_digits(t, pos) || !lit(t, pos, '-') ||
      !timestamp_read_1_or_2_digits(t, pos) || !timestamp_separator(t, pos)) {
    return false;
  }
  if (!timestamp_read_1_or_2_digits(t, pos) || !lit(t, pos, ':') || !digits(pos, 2, 2) ||
      more_digits(pos) || !lit(t, pos, ':') || !digits(pos, 2, 2) || more_digits(pos)) {
    return false;
  }
  if (lit(t, pos, '.')) digits(pos, 0, 0);
  while (pos < t.size() && is_blank(t[pos])) ++pos;
  if (pos == t.size()) return true;
  // Zone, ending the text.  Our reader also takes a lower-case "z".
  if (t[pos] == 'Z' || t[pos] == 'z') return pos + 1 == t.size();
  if (t[pos] != '+' && t[pos] != '-') return false;
  ++pos;
  if (!timestamp_read_1_or_2_digits(t, pos)) return false;
  if (pos == t.size()) return true;
  if (!lit(t, pos, ':') || !digits(pos, 2, 2)) return false;
  return pos == t.size();
}

bool plain_text_safe(std::string_view text, bool in_flow, PlainSafety safety) noexcept {
  const std::size_t n = text.size();
  if (n == 0) return true;
  const bool cautious = safety == PlainSafety::Cautious;
  const unsigned char first = byte_at(text, 0);
  const std::uint8_t lead = kTable.cls[first];
  if (lead & kNeverLeads) return false;
  if (lead & kLeadsBeforeNonBlank) {
    // In flow context readers may take a leading ":" or "?" for an indicator
    // (an empty key before the text).
    if (cautious || (in_flow && first != '-')) return false;
    if (n == 1 || is_blank(text[1]) || (in_flow && is_flow_indicator(text[1]))) return false;
  }
  if (is_blank(text[n - 1])) return false;
  if (first == 0xEF && starts_with_bom(text)) return false;  // it would be dropped on reading
  // Document markers.
  if ((first == '-' || first == '.') && n >= 3 && text[1] == first && text[2] == first &&
      (n == 3 || is_blank(text[3])))
    return false;
  const std::uint8_t mask = kInner | (in_flow ? kFlow : 0) | (cautious ? kTab : 0) |
                            (cautious && in_flow ? kQuestion : 0);
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char b = byte_at(text, i);
    const std::uint8_t cls = kTable.cls[b] & mask;
    if (cls == 0) [[likely]] continue;
    if (cls != kInner) return false;  // a tab, a flow indicator or "?" where refused
    if (b == '#') {
      if (i > 0 && is_blank(text[i - 1])) return false;
    } else if (b == ':') {
      if (i + 1 == n || is_blank(text[i + 1]) || (in_flow && is_flow_indicator(text[i + 1])))
        return false;
    } else if (b >= 0x80) {
      if (escaped_multibyte_length(text, i) != 0) return false;
    } else {
      return false;  // a control character or DEL
    }
  }
  return true;
}

bool needs_quotes(std::string_view text, VersionMode mode, bool in_flow) noexcept {
  const std::size_t n = text.size();
  if (n == 0) return true;
  const unsigned char first = byte_at(text, 0);
  if (n <= 5 && (kTable.cls[first] & kWordStart) && is_reserved_word(text)) return true;
  if (mode == VersionMode::Yaml11 && n == 1 &&
      (first == 'y' || first == 'Y' || first == 'n' || first == 'N')) {
    return true;
  }
  if (!plain_text_safe(text, in_flow, PlainSafety::Cautious)) return true;

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
