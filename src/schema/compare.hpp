// Numbers and equality as the schema keywords read them (`enum`, `const`,
// `uniqueItems`, the numeric keywords).
//
// Equality is JSON-like rather than YAML-like: an integer equals a float of
// the same value (1 and 1.0), integers compare by value whatever their form
// (a 64-bit integer against a big integer's digits, underscores and a "+"
// ignored), mappings are equal when they hold the same entries in any order,
// and nothing else crosses kinds (1 is not true, "1" is not 1).  Texts of
// strings compare byte for byte.
#pragma once

#include <optional>
#include <span>

#include "decode/value.hpp"

namespace kestrine {

// Int as a double; BigInt's digits (underscores dropped) read as a double,
// infinite beyond the double range; Float itself; nothing for other kinds.
std::optional<double> number_as_f64(const YamlValue& value);

// Int, or BigInt's digits (optional sign, underscores dropped) when they fit
// 128 bits; nothing otherwise.
std::optional<__int128> numeric_value(const YamlValue& value);

// Schema equality of two values (see above).  NaN equals nothing.  Mappings:
// the same number of entries, and every entry of each side has an equal
// entry (key and value) on the other.
bool schema_values_equal(const YamlValue& a, const YamlValue& b);

// True when two of `items` are equal by schema_values_equal.  Hashed, so
// O(n log n) whatever the items hold.
bool has_equal_items(std::span<const YamlValue> items);

}  // namespace kestrine
