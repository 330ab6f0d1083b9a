#include "resolver/yaml12.hpp"

#include <charconv>
#include <cmath>
#include <limits>

#include "resolver/text_util.hpp"
#include "resolver/yaml11.hpp"

namespace kestrine {

using namespace resolver_detail;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

char lower_ascii(char c) noexcept { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

bool iequals(std::string_view s, std::string_view lower_word) noexcept {
  if (s.size() != lower_word.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (lower_ascii(s[i]) != lower_word[i]) return false;
  return true;
}

std::optional<bool> yaml12_bool_word(std::string_view t) noexcept {
  if (t.size() == 4) {
    if (t == "true" || t == "True" || t == "TRUE") return true;
  } else if (t.size() == 5) {
    if (t == "false" || t == "False" || t == "FALSE") return false;
  }
  return std::nullopt;
}

ScalarKind yaml12_int_kind(std::string_view text) noexcept {
  if (auto v = yaml12_int(text)) return ScalarKind::of_int(*v);
  if (yaml12_int_simple(text)) return ScalarKind::big_int();
  return ScalarKind::str();
}

}  // namespace

std::optional<std::int64_t> yaml12_int(std::string_view text) noexcept {
  const auto sign = split_sign(text);
  if (!sign) return std::nullopt;
  const std::string_view r = sign->rest;
  std::optional<std::int64_t> mag;
  if (r.size() == 1 && r[0] == '0') {
    mag = 0;
  } else if (has_radix_prefix(r, 'x')) {
    mag = parse_int_radix(r.substr(2), 16);
  } else if (has_radix_prefix(r, 'o')) {
    mag = parse_int_radix(r.substr(2), 8);
  } else if (r.size() >= 2 && r[0] == '0') {
    return std::nullopt;
  } else {
    mag = parse_int_radix(r, 10);
  }
  if (!mag) return std::nullopt;
  return sign->negative ? -*mag : *mag;
}

bool yaml12_int_simple(std::string_view text) noexcept {
  auto s = split_sign(text);
  if (!s) return false;
  std::string_view r = s->rest;
  if (has_radix_prefix(r, 'x')) return r.size() > 2 && all_of(r.substr(2), is_hex);
  if (has_radix_prefix(r, 'o')) return r.size() > 2 && all_of(r.substr(2), is_octal);
  return all_digits(r) && (r.size() == 1 || r[0] != '0');
}

std::optional<double> parse_float_literal(std::string_view t) noexcept {
  switch (t.size()) {
    case 4:
      if (t == ".inf" || t == ".Inf" || t == ".INF") return kInf;
      if (t == ".nan" || t == ".NaN" || t == ".NAN") return std::numeric_limits<double>::quiet_NaN();
      break;
    case 5:
      if (t == "+.inf" || t == "+.Inf" || t == "+.INF") return kInf;
      if (t == "-.inf" || t == "-.Inf" || t == "-.INF") return -kInf;
      break;
    default:
      break;
  }
  return std::nullopt;
}

std::optional<double> parse_standard_float(std::string_view text) noexcept {
  bool negative = false;
  std::string_view body = text;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
    negative = body[0] == '-';
    body.remove_prefix(1);
  }
  if (body.empty()) return std::nullopt;
  if (!is_digit(body[0]) && body[0] != '.') {
    if (iequals(body, "inf") || iequals(body, "infinity")) return negative ? -kInf : kInf;
    if (iequals(body, "nan")) {
      double nan = std::numeric_limits<double>::quiet_NaN();
      return negative ? -nan : nan;
    }
    return std::nullopt;
  }
  // Validate the decimal form by hand; from_chars alone would accept a prefix.
  const std::size_t n = body.size();
  std::size_t p = 0;
  std::size_t int_begin = 0;
  while (p < n && is_digit(body[p])) ++p;
  const std::size_t int_end = p;
  std::size_t frac_begin = p, frac_end = p;
  if (p < n && body[p] == '.') {
    ++p;
    frac_begin = p;
    while (p < n && is_digit(body[p])) ++p;
    frac_end = p;
  }
  if (int_end - int_begin + frac_end - frac_begin == 0) return std::nullopt;
  std::int64_t exp_value = 0;
  if (p < n && (body[p] == 'e' || body[p] == 'E')) {
    ++p;
    bool exp_negative = false;
    if (p < n && (body[p] == '+' || body[p] == '-')) {
      exp_negative = body[p] == '-';
      ++p;
    }
    const std::size_t exp_begin = p;
    while (p < n && is_digit(body[p])) {
      if (exp_value < 1'000'000'000) exp_value = exp_value * 10 + (body[p] - '0');
      ++p;
    }
    if (p == exp_begin) return std::nullopt;
    if (exp_negative) exp_value = -exp_value;
  }
  if (p != n) return std::nullopt;

  double value = 0.0;
  auto [ptr, ec] = std::from_chars(body.data(), body.data() + n, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: find the decimal magnitude of the
    // first significant digit to tell overflow from underflow.
    std::int64_t magnitude = 0;
    bool found = false;
    for (std::size_t i = int_begin; i < int_end && !found; ++i)
      if (body[i] != '0') {
        magnitude = std::int64_t(int_end - i) - 1;
        found = true;
      }
    for (std::size_t i = frac_begin; i < frac_end && !found; ++i)
      if (body[i] != '0') {
        magnitude = -std::int64_t(i - frac_begin) - 1;
        found = true;
      }
    value = (found && magnitude + exp_value >= 0) ? kInf : 0.0;
  } else if (ec != std::errc() || ptr != body.data() + n) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

ScalarKind resolve_plain_yaml12(std::string_view text, bool non_plain,
                                std::optional<std::string_view> tag) noexcept {
  if (tag) [[unlikely]] {
    const std::string_view name = core_tag_name(*tag);
    if (name == "int") return yaml12_int_kind(text);
    if (name == "null") return is_null_word(text) ? ScalarKind::null() : ScalarKind::str();
    if (name == "bool") {
      if (auto b = yaml12_bool_word(text)) return ScalarKind::of_bool(*b);
      return ScalarKind::str();
    }
    if (name == "float") {
      if (auto f = parse_float_literal(text)) return ScalarKind::of_float(*f);
      if (auto f = parse_standard_float(text)) return ScalarKind::of_float(*f);
      return ScalarKind::str();
    }
    // "!!merge" names a YAML 1.1 type: a string here (the plain "<<" is
    // the merge key in every mode).
    return ScalarKind::str();
  }
  if (non_plain) return ScalarKind::str();
  if (text.empty()) return ScalarKind::null();
  const char c = text[0];
  if (c == '-' || c == '+' || c == '.' || is_digit(c)) {
    std::int64_t small;
    if (small_decimal(text, small)) return ScalarKind::of_int(small);
    // No integer form holds a ".", so such texts go straight to the floats.
    const bool dot = contains(text, '.');
    if (!dot) {
      if (auto v = yaml12_int(text)) return ScalarKind::of_int(*v);
      if (yaml12_int_simple(text)) return ScalarKind::big_int();
    }
    if (auto f = parse_float_literal(text)) return ScalarKind::of_float(*f);
    if (dot || contains(text, 'e') || contains(text, 'E')) {
      if (auto f = parse_standard_float(text)) return ScalarKind::of_float(*f);
    }
    return ScalarKind::str();
  }
  switch (c) {
    case '~':
      return text.size() == 1 ? ScalarKind::null() : ScalarKind::str();
    case 'n':
    case 'N':
      return is_null_word(text) ? ScalarKind::null() : ScalarKind::str();
    case 't':
    case 'T':
    case 'f':
    case 'F':
      if (auto b = yaml12_bool_word(text)) return ScalarKind::of_bool(*b);
      return ScalarKind::str();
    case '<':
      return text == "<<" ? ScalarKind::merge() : ScalarKind::str();
    default:
      return ScalarKind::str();
  }
}

}  // namespace kestrine
