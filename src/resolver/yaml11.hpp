// The YAML 1.1 resolver, with the stricter reading of OPT_PYYAML_COMPAT.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "resolver/kind.hpp"

namespace kestrine {

// ---- YAML 1.1 ---------------------------------------------------------------

// `pyyaml`: the stricter reading (no single-letter booleans, no leading
// underscore in numbers, floats need "." and a signed exponent).
ScalarKind resolve_plain_yaml11(bool pyyaml, std::string_view text, bool non_plain,
                                std::optional<std::string_view> tag) noexcept;
std::optional<bool> yaml11_bool(std::string_view text, bool pyyaml) noexcept;
std::optional<std::int64_t> yaml11_int(std::string_view text) noexcept;
bool yaml11_big_int(std::string_view text) noexcept;
// Base-60 floats ("1:30.5").
std::optional<double> yaml11_float(std::string_view text) noexcept;
// Digits of `radix` only (no sign, no prefix), at least one, value at most
// 2^63-1.
std::optional<std::int64_t> parse_int_radix(std::string_view digits, unsigned radix) noexcept;
std::string strip_underscores(std::string_view text);

// True for the empty text, "~", "null", "Null", "NULL".
bool is_null_word(std::string_view text) noexcept;

}  // namespace kestrine
