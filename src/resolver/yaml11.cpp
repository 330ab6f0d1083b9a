#include "resolver/yaml11.hpp"

#include <limits>

#include "resolver/text_util.hpp"
#include "resolver/yaml12.hpp"

namespace kestrine {

using namespace resolver_detail;

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

int digit_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// A base-60 integer (after the sign, underscores removed): the first group a
// decimal number without a leading zero, each later group one or two digits
// below 60.
std::optional<std::int64_t> sexagesimal_int(std::string_view s) noexcept {
  std::int64_t value = 0;
  bool first = true;
  while (true) {
    const std::size_t colon = s.find(':');
    const std::string_view group = s.substr(0, colon);
    if (group.empty() || !all_digits(group)) return std::nullopt;
    std::int64_t g;
    if (first) {
      if (group[0] == '0') return std::nullopt;
      auto v = parse_int_radix(group, 10);
      if (!v) return std::nullopt;
      g = *v;
      value = g;
      first = false;
    } else {
      if (group.size() > 2) return std::nullopt;
      g = group.size() == 1 ? group[0] - '0' : (group[0] - '0') * 10 + (group[1] - '0');
      if (g >= 60) return std::nullopt;
      if (value > (kMax - g) / 60) return std::nullopt;
      value = value * 60 + g;
    }
    if (colon == std::string_view::npos) return value;
    s.remove_prefix(colon + 1);
  }
}

ScalarKind yaml11_int_kind(std::string_view text) noexcept {
  if (auto v = yaml11_int(text)) return ScalarKind::of_int(*v);
  if (yaml11_big_int(text)) return ScalarKind::big_int();
  return ScalarKind::str();
}

// The float rules shared by the "!!float" tag and the untagged reading once
// the text is known to contain ":" (and, untagged, "."): base 60.
ScalarKind float_or_str(std::optional<double> f) noexcept {
  return f ? ScalarKind::of_float(*f) : ScalarKind::str();
}

}  // namespace

bool is_null_word(std::string_view t) noexcept {
  switch (t.size()) {
    case 0:
      return true;
    case 1:
      return t[0] == '~';
    case 4:
      return t == "null" || t == "Null" || t == "NULL";
    default:
      return false;
  }
}

std::optional<bool> yaml11_bool(std::string_view t, bool pyyaml) noexcept {
  switch (t.size()) {
    case 1:
      if (pyyaml) return std::nullopt;
      if (t[0] == 'y' || t[0] == 'Y') return true;
      if (t[0] == 'n' || t[0] == 'N') return false;
      return std::nullopt;
    case 2:
      if (t == "on" || t == "On" || t == "ON") return true;
      if (t == "no" || t == "No" || t == "NO") return false;
      return std::nullopt;
    case 3:
      if (t == "yes" || t == "Yes" || t == "YES") return true;
      if (t == "off" || t == "Off" || t == "OFF") return false;
      return std::nullopt;
    case 4:
      if (t == "true" || t == "True" || t == "TRUE") return true;
      return std::nullopt;
    case 5:
      if (t == "false" || t == "False" || t == "FALSE") return false;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

std::optional<std::int64_t> parse_int_radix(std::string_view digits, unsigned radix) noexcept {
  if (digits.empty()) return std::nullopt;
  if (radix == 10 && digits.size() <= 18) {
    // Up to 18 decimal digits cannot overflow: no checks per digit.
    std::int64_t value = 0;
    for (char c : digits) {
      const unsigned d = unsigned(c) - '0';
      if (d > 9) return std::nullopt;
      value = value * 10 + std::int64_t(d);
    }
    return value;
  }
  std::int64_t value = 0;
  for (char c : digits) {
    const int d = digit_value(c);
    if (d >= int(radix)) return std::nullopt;
    if (__builtin_mul_overflow(value, std::int64_t(radix), &value) ||
        __builtin_add_overflow(value, std::int64_t(d), &value))
      return std::nullopt;
  }
  return value;
}

std::string strip_underscores(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '_') out.push_back(c);
  return out;
}

std::optional<std::int64_t> yaml11_int(std::string_view text) noexcept {
  const auto sign = split_sign(text);
  if (!sign) return std::nullopt;
  const StrippedText stripped(sign->rest);
  const std::string_view s = stripped.view();
  if (s.empty()) return std::nullopt;
  std::optional<std::int64_t> mag;
  if (has_radix_prefix(s, 'x')) {
    mag = parse_int_radix(s.substr(2), 16);  // a sign after the prefix is no hex digit
  } else if (has_radix_prefix(s, 'b')) {
    mag = parse_int_radix(s.substr(2), 2);
  } else if (s[0] == '0' && all_digits(s)) {
    mag = s.size() == 1 ? std::optional<std::int64_t>(0) : parse_int_radix(s.substr(1), 8);
  } else if (contains(s, ':')) {
    mag = sexagesimal_int(s);
  } else {
    mag = parse_int_radix(s, 10);  // refuses a second sign
  }
  if (!mag) return std::nullopt;
  return sign->negative ? -*mag : *mag;
}

bool yaml11_big_int(std::string_view text) noexcept {
  const auto sign = split_sign(text);
  if (!sign) return false;
  const StrippedText stripped(sign->rest);
  const std::string_view s = stripped.view();
  if (s.size() >= 2) {
    if (has_radix_prefix(s, 'x')) return s.size() > 2 && all_of(s.substr(2), is_hex);
    if (has_radix_prefix(s, 'b'))
      return s.size() > 2 && all_of(s.substr(2), [](char c) noexcept { return c == '0' || c == '1'; });
    if (s[0] == '0') return all_of(s.substr(1), is_octal);
  }
  return all_digits(s) && (s.size() == 1 || s[0] != '0');
}

std::optional<double> yaml11_float(std::string_view text) noexcept {
  const auto sign = split_sign(text);
  if (!sign) return std::nullopt;
  std::string_view rest = sign->rest;
  std::size_t colon = rest.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  // The first group is an unsigned run of digits: no second sign, no
  // exponent, no special float word before the first ":".
  if (!all_digits(rest.substr(0, colon))) return std::nullopt;
  double value = 0.0;
  bool first = true;
  while (true) {
    colon = rest.find(':');
    const bool last = colon == std::string_view::npos;
    const std::string_view group = rest.substr(0, colon);
    if (!last && contains(group, '.')) return std::nullopt;
    if (!first) {
      std::string_view whole = group.substr(0, group.find('.'));
      if (!whole.empty() && whole[0] == '+') whole.remove_prefix(1);
      if (!all_digits(whole)) return std::nullopt;
      // Below 60: at most two significant digits after leading zeros.
      std::size_t z = 0;
      while (z + 1 < whole.size() && whole[z] == '0') ++z;
      const std::string_view sig = whole.substr(z);
      if (sig.size() > 2 || (sig.size() == 2 && (sig[0] - '0') * 10 + (sig[1] - '0') >= 60))
        return std::nullopt;
    }
    auto g = parse_standard_float(group);
    if (!g) return std::nullopt;
    value = first ? *g : value * 60.0 + *g;
    first = false;
    if (last) break;
    rest.remove_prefix(colon + 1);
  }
  return sign->negative ? -value : value;
}

ScalarKind resolve_plain_yaml11(bool pyyaml, std::string_view text, bool non_plain,
                                std::optional<std::string_view> tag) noexcept {
  if (tag) [[unlikely]] {
    const std::string_view name = core_tag_name(*tag);
    if (name == "int") return yaml11_int_kind(text);
    if (name == "null") return is_null_word(text) ? ScalarKind::null() : ScalarKind::str();
    if (name == "bool") {
      if (auto b = yaml11_bool(text, pyyaml)) return ScalarKind::of_bool(*b);
      return ScalarKind::str();
    }
    if (name == "float") {
      if (auto f = parse_float_literal(text)) return ScalarKind::of_float(*f);
      const StrippedText stripped(text);
      const std::string_view s = stripped.view();
      if (contains(s, ':')) return float_or_str(yaml11_float(s));
      return float_or_str(parse_standard_float(s));
    }
    if (name == "merge") return ScalarKind::merge();
    return ScalarKind::str();
  }
  if (non_plain) return ScalarKind::str();
  if (is_null_word(text)) return ScalarKind::null();
  if (text.size() == 2 && text[0] == '<' && text[1] == '<') return ScalarKind::merge();
  if (auto b = yaml11_bool(text, pyyaml)) return ScalarKind::of_bool(*b);
  const char c = text[0];
  if (!(is_digit(c) || c == '+' || c == '-' || c == '.' || c == '_')) return ScalarKind::str();
  if (pyyaml) {
    const std::size_t i = (c == '+' || c == '-') ? 1 : 0;
    if (i < text.size() && text[i] == '_') return ScalarKind::str();
  }
  std::int64_t small;
  if (small_decimal(text, small)) return ScalarKind::of_int(small);
  // No integer form holds a ".", so such texts go straight to the floats.
  if (!contains(text, '.')) {
    if (auto v = yaml11_int(text)) return ScalarKind::of_int(*v);
    if (yaml11_big_int(text)) return ScalarKind::big_int();
  }
  if (auto f = parse_float_literal(text)) return ScalarKind::of_float(*f);

  const StrippedText stripped(text);
  const std::string_view s = stripped.view();
  const bool has_dot = contains(s, '.');
  const bool has_exp = contains(s, 'e') || contains(s, 'E');
  if (!has_dot && !has_exp) return ScalarKind::str();
  if (has_dot && contains(s, ':')) return float_or_str(yaml11_float(s));
  if (!pyyaml) return float_or_str(parse_standard_float(s));
  if (!has_dot) return ScalarKind::str();
  if (has_exp) {
    const std::size_t e = s.find_first_of("eE");
    if (e + 1 >= s.size() || (s[e + 1] != '+' && s[e + 1] != '-')) return ScalarKind::str();
  }
  return float_or_str(parse_standard_float(s));
}

}  // namespace kestrine
