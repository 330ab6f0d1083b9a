// The YAML 1.2 core-schema resolver.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "resolver/kind.hpp"

namespace kestrine {

// ---- YAML 1.2 core schema ---------------------------------------------------

ScalarKind resolve_plain_yaml12(std::string_view text, bool non_plain,
                                std::optional<std::string_view> tag) noexcept;
std::optional<std::int64_t> yaml12_int(std::string_view text) noexcept;
bool yaml12_int_simple(std::string_view text) noexcept;
// The special float words only (".inf", "-.Inf", ".NaN", ...).
std::optional<double> parse_float_literal(std::string_view text) noexcept;
// The standard decimal conversion: optional sign, then inf/infinity/nan in
// any case, or digits with an optional "." and fraction and an optional
// exponent.  Correctly rounded, locale-free; overflow gives infinity.
std::optional<double> parse_standard_float(std::string_view text) noexcept;

}  // namespace kestrine
