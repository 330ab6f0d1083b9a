#include "resolver/resolve.hpp"

#include <cstdio>
#include <vector>

#include "resolver/text_util.hpp"

namespace kestrine {

using namespace resolver_detail;

ScalarKind resolve_scalar_kind(VersionMode mode, std::string_view text, bool non_plain,
                               std::optional<std::string_view> tag) noexcept {
  switch (mode) {
    case VersionMode::Yaml12:
      return resolve_plain_yaml12(text, non_plain, tag);
    case VersionMode::Yaml11:
      return resolve_plain_yaml11(false, text, non_plain, tag);
    default:
      return resolve_plain_yaml11(true, text, non_plain, tag);
  }
}

ResolvedScalar to_resolved_scalar(ScalarKind kind, std::string_view text) {
  ResolvedScalar r;
  switch (kind.type) {
    case ScalarType::Null:
      r.type = ResolvedScalar::Type::Null;
      break;
    case ScalarType::Bool:
      r.type = ResolvedScalar::Type::Bool;
      r.boolean = kind.boolean;
      break;
    case ScalarType::Int:
      r.type = ResolvedScalar::Type::Int;
      r.integer = kind.integer;
      break;
    case ScalarType::Float:
      r.type = ResolvedScalar::Type::Float;
      r.real = kind.real;
      break;
    case ScalarType::BigInt:
      r.type = ResolvedScalar::Type::BigInt;
      if (auto n = normalize_int_literal(text))
        r.text = std::move(*n);
      else
        r.text.assign(text);
      break;
    case ScalarType::Str:
      r.type = ResolvedScalar::Type::String;
      r.text.assign(text);
      break;
    case ScalarType::Merge:
      r.type = ResolvedScalar::Type::String;
      r.text = "<<";
      break;
  }
  return r;
}

ResolvedScalar resolve_scalar_value(VersionMode mode, std::string_view text, bool non_plain,
                                    std::optional<std::string_view> tag) {
  return to_resolved_scalar(resolve_scalar_kind(mode, text, non_plain, tag), text);
}

std::string_view scalar_kind_tag_name(ScalarType type) noexcept {
  switch (type) {
    case ScalarType::Null:
      return "null";
    case ScalarType::Bool:
      return "bool";
    case ScalarType::Int:
    case ScalarType::BigInt:
      return "int";
    case ScalarType::Float:
      return "float";
    case ScalarType::Merge:
      return "merge";
    case ScalarType::Str:
    default:
      return "str";
  }
}

std::optional<std::pair<std::string_view, std::string_view>> implicit_tag_name(
    VersionMode mode, std::string_view text, bool non_plain,
    std::optional<std::string_view> tag) noexcept {
  if (mode == VersionMode::Yaml12) return std::nullopt;
  const std::string_view here = scalar_kind_tag_name(resolve_scalar_kind(mode, text, non_plain, tag).type);
  if (here == "str") return std::nullopt;
  const std::string_view v12 =
      scalar_kind_tag_name(resolve_plain_yaml12(text, non_plain, tag).type);
  if (here == v12) return std::nullopt;
  return std::pair{here, v12};
}

bool reads_as_non_string(VersionMode mode, std::string_view text) noexcept {
  return resolve_scalar_kind(mode, text, false, std::nullopt).type != ScalarType::Str;
}

std::optional<std::string> normalize_int_literal(std::string_view text) {
  const auto sign = split_sign(text);
  if (!sign) return std::nullopt;
  const StrippedText stripped(sign->rest);
  const std::string_view s = stripped.view();
  if (s.size() < 2) return std::nullopt;
  unsigned radix;
  std::string_view digits;
  if (has_radix_prefix(s, 'x')) {
    radix = 16;
    digits = s.substr(2);
  } else if (has_radix_prefix(s, 'o')) {
    radix = 8;
    digits = s.substr(2);
  } else if (has_radix_prefix(s, 'b')) {
    radix = 2;
    digits = s.substr(2);
  } else if (s[0] == '0' && all_digits(s)) {
    radix = 8;
    digits = s.substr(1);
  } else {
    return std::nullopt;
  }
  // Radix conversion is quadratic in the length; past this many digits the
  // value (thousands of decimal digits, more than Python converts to int by
  // default anyway) keeps its text as written instead.
  constexpr std::size_t kMaxRadixDigits = 16384;
  if (digits.size() > kMaxRadixDigits) return std::nullopt;

  // Little-endian limbs of 10^9.  Input digits are taken in chunks whose
  // combined multiplier stays within 2^32, so limb * mult + carry fits 64 bits.
  constexpr std::uint64_t kBase = 1'000'000'000;
  const std::size_t chunk = radix == 16 ? 8 : radix == 8 ? 10 : 32;
  std::vector<std::uint32_t> limbs{0};
  limbs.reserve(digits.size() / 7 + 2);
  for (std::size_t pos = 0; pos < digits.size(); pos += chunk) {
    const std::string_view part = digits.substr(pos, chunk);
    std::uint64_t mult = 1, add = 0;
    for (char c : part) {
      unsigned d = 0;
      if (c >= '0' && c <= '9') d = unsigned(c - '0');
      else if (c >= 'a' && c <= 'f') d = unsigned(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') d = unsigned(c - 'A' + 10);
      if (d >= radix) d = 0;  // only accepted integers reach here
      mult *= radix;
      add = add * radix + d;
    }
    std::uint64_t carry = add;
    for (auto& limb : limbs) {
      const std::uint64_t v = std::uint64_t(limb) * mult + carry;
      limb = std::uint32_t(v % kBase);
      carry = v / kBase;
    }
    while (carry != 0) {
      limbs.push_back(std::uint32_t(carry % kBase));
      carry /= kBase;
    }
  }
  std::string out;
  out.reserve(limbs.size() * 9 + 1);
  if (sign->negative) out.push_back('-');
  char buf[16];
  int n = std::snprintf(buf, sizeof buf, "%u", limbs.back());
  out.append(buf, std::size_t(n));
  for (std::size_t i = limbs.size() - 1; i-- > 0;) {
    n = std::snprintf(buf, sizeof buf, "%09u", limbs[i]);
    out.append(buf, std::size_t(n));
  }
  return out;
}

std::string canonical_bigint_text(std::string_view text) {
  std::optional<std::string> normalized = normalize_int_literal(text);
  std::string_view t = normalized ? std::string_view(*normalized) : text;
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    negative = t[0] == '-';
    t.remove_prefix(1);
  }
  std::string digits;
  digits.reserve(t.size() + 1);
  for (char c : t) {
    if (c == '_') continue;
    if (!is_digit(c)) return std::string(text);
    if (digits.empty() && c == '0') continue;  // leading zeros
    digits.push_back(c);
  }
  if (digits.empty()) {
    if (t.find_first_of("0123456789") == std::string_view::npos) return std::string(text);
    return "0";
  }
  if (negative) digits.insert(digits.begin(), '-');
  return digits;
}

}  // namespace kestrine
