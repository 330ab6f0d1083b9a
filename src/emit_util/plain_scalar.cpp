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

// The bytes that any reader's numbers and timestamps are made of: digits,
// signs, ".", "_", ":", blanks (timestamps), hex letters, radix letters, the
// letters of inf, nan and infinity, and the timestamp's "T" and "Z".  A text
// with any other byte is no number to anyone: the resolvers are not asked.
struct NumberBytes {
  bool in[256] = {};
  constexpr NumberBytes() {
    for (unsigned char c : std::string_view("0123456789+-._: \t")) in[c] = true;
    for (unsigned char c : std::string_view("abcdefABCDEFoOxXiInNtTyYzZ")) in[c] = true;
  }
};
constexpr NumberBytes kNumberBytes{};

bool only_number_bytes(std::string_view t) noexcept {
  for (char c : t)
    if (!kNumberBytes.in[static_cast<unsigned char>(c)]) return false;
  return true;
}

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

// ---- what other readers take for numbers ---------------------------------------
// Hand-written forms of the number patterns of the YAML 1.2 core schema and
// of PyYAML's resolver (which, unlike our own readers, also takes "08" or
// "0x_" for integers), so that plain output reads back as a string there too.

bool is_digit_or_underscore(char c) noexcept { return is_digit(c) || c == '_'; }
bool is_octal_or_underscore(char c) noexcept { return (c >= '0' && c <= '7') || c == '_'; }
bool is_hex_or_underscore(char c) noexcept { return resolver_detail::is_hex(c) || c == '_'; }

std::string_view without_sign(std::string_view t) noexcept {
  return !t.empty() && (t[0] == '+' || t[0] == '-') ? t.substr(1) : t;
}

// Skips a run of bytes matching `pred` from `pos`.
std::size_t skip_while(std::string_view t, std::size_t pos, bool (*pred)(char) noexcept) noexcept {
  while (pos < t.size() && pred(t[pos])) ++pos;
  return pos;
}

// One or more base-60 groups ":" [0-5]?[0-9] from `pos`; the end, or npos.
std::size_t skip_base60_groups(std::string_view t, std::size_t pos) noexcept {
  bool any = false;
  while (pos < t.size() && t[pos] == ':') {
    ++pos;
    if (pos + 1 < t.size() && t[pos] >= '0' && t[pos] <= '5' && is_digit(t[pos + 1])) pos += 2;
    else if (pos < t.size() && is_digit(t[pos])) ++pos;
    else return std::string_view::npos;
    any = true;
  }
  return any ? pos : std::string_view::npos;
}

// An optional exponent ending the text: [eE] then `sign_required` a sign,
// then digits.
bool exponent_ends(std::string_view t, std::size_t pos, bool sign_required) noexcept {
  if (pos == t.size()) return true;
  if (t[pos] != 'e' && t[pos] != 'E') return false;
  ++pos;
  if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) ++pos;
  else if (sign_required) return false;
  const std::size_t digits = skip_while(t, pos, resolver_detail::is_digit);
  return digits > pos && digits == t.size();
}

// PyYAML's int: [-+]?0b[01_]+ | [-+]?0[0-7_]+ | [-+]?(0|[1-9][0-9_]*)
// | [-+]?0x[0-9a-fA-F_]+ | [-+]?[1-9][0-9_]*(:[0-5]?[0-9])+
bool pyyaml_int(std::string_view t) noexcept {
  const std::string_view s = without_sign(t);
  if (s.empty() || !is_digit(s[0])) return false;
  if (s.size() > 2 && s[0] == '0' && s[1] == 'b')
    return skip_while(s, 2, [](char c) noexcept { return c == '0' || c == '1' || c == '_'; }) == s.size();
  if (s.size() > 2 && s[0] == '0' && s[1] == 'x') return skip_while(s, 2, is_hex_or_underscore) == s.size();
  if (s[0] == '0') return skip_while(s, 1, is_octal_or_underscore) == s.size();
  const std::size_t pos = skip_while(s, 1, is_digit_or_underscore);
  return pos == s.size() || skip_base60_groups(s, pos) == s.size();
}

// PyYAML's float (the special words are reserved words already):
// [-+]?[0-9][0-9_]*\.[0-9_]*([eE][-+][0-9]+)? | \.[0-9][0-9_]*([eE][-+][0-9]+)?
// | [-+]?[0-9][0-9_]*(:[0-5]?[0-9])+\.[0-9_]*
bool pyyaml_float(std::string_view t) noexcept {
  if (t[0] == '.') return t.size() > 1 && is_digit(t[1]) && exponent_ends(t, skip_while(t, 2, is_digit_or_underscore), true);
  const std::string_view s = without_sign(t);
  if (s.empty() || !is_digit(s[0])) return false;
  std::size_t pos = skip_while(s, 1, is_digit_or_underscore);
  if (pos < s.size() && s[pos] == ':') {
    pos = skip_base60_groups(s, pos);
    if (pos == std::string_view::npos || pos == s.size() || s[pos] != '.') return false;
    return skip_while(s, pos + 1, is_digit_or_underscore) == s.size();
  }
  if (pos == s.size() || s[pos] != '.') return false;
  return exponent_ends(s, skip_while(s, pos + 1, is_digit_or_underscore), true);
}

// The YAML 1.2 core schema: [-+]?[0-9]+ | 0o[0-7]+ | 0x[0-9a-fA-F]+, and
// [-+]?(\.[0-9]+|[0-9]+(\.[0-9]*)?)([eE][-+]?[0-9]+)?
bool core_schema_number(std::string_view t) noexcept {
  using resolver_detail::is_hex;
  using resolver_detail::is_octal;
  if (t.size() > 2 && t[0] == '0' && t[1] == 'o') return skip_while(t, 2, is_octal) == t.size();
  if (t.size() > 2 && t[0] == '0' && t[1] == 'x') return skip_while(t, 2, is_hex) == t.size();
  const std::string_view s = without_sign(t);
  std::size_t pos = skip_while(s, 0, is_digit);
  const bool whole = pos > 0;
  if (pos < s.size() && s[pos] == '.') {
    const std::size_t frac = skip_while(s, pos + 1, is_digit);
    if (!whole && frac == pos + 1) return false;
    pos = frac;
  } else if (!whole) {
    return false;
  }
  return exponent_ends(s, pos, false);
}

// Does any reader we write for take this text (which starts with a digit,
// "." or "+") for a number or a timestamp: our YAML 1.2 and 1.1 readers
// (the stricter 1.1 reading takes fewer), the YAML 1.2 core schema, PyYAML?
bool reads_as_number_or_time(std::string_view text) noexcept {
  return is_number(resolve_plain_yaml12(text, false, std::nullopt).type) ||
         is_number(resolve_plain_yaml11(false, text, false, std::nullopt).type) ||
         core_schema_number(text) || pyyaml_int(text) || pyyaml_float(text) ||
         looks_like_timestamp(text);
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

bool needs_quotes(std::string_view text, VersionMode /*mode*/, bool in_flow) noexcept {
  const std::size_t n = text.size();
  if (n == 0) return true;
  const unsigned char first = byte_at(text, 0);
  if (n <= 5 && (kTable.cls[first] & kWordStart) && is_reserved_word(text)) return true;
  // The one-letter YAML 1.1 booleans.
  if (n == 1 && (first == 'y' || first == 'Y' || first == 'n' || first == 'N')) return true;
  if (!plain_text_safe(text, in_flow, PlainSafety::Cautious)) return true;
  // Only texts that can start a number reach the readers' number rules (a
  // leading "-" was quoted above).
  const bool number_start = kTable.cls[first] & kNumberStart;
  if ((!number_start && first != '_') || !only_number_bytes(text)) return false;
  if (number_start) return reads_as_number_or_time(text);
  // YAML 1.1 reads underscores as digit separators anywhere, "_1" and
  // "_-1.5" included.
  return is_number(resolve_plain_yaml11(false, text, false, std::nullopt).type);
}

}  // namespace kestrine
