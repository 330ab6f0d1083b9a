// Local schema references: "$ref" values of the form "#" (the whole schema)
// or "#/" followed by a JSON Pointer into it.
//
// Pointer segments are separated by "/"; in each, "~1" stands for "/" and
// then "~0" for "~".  A segment steps into a mapping by the first entry
// whose key is a string equal to it, or into a sequence by an index: decimal
// digits, optionally after one "+", leading zeros allowed, less than the
// length.  Anything else ("-1", an empty index, a key that is missing, a
// reference to another document) does not resolve.
#pragma once

#include <string_view>

#include "decode/value.hpp"

namespace kestrine {

// The value `ref` points to inside `root`, or null when it does not resolve.
const YamlValue* resolve_schema_ref(const YamlValue& root, std::string_view ref);

}  // namespace kestrine
