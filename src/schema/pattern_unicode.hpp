// Unicode sets of the pattern dialect as RE2 class items (internal to
// src/schema: the pattern translator's tables).
//
// A set is a union of literals, each spelled as class items for itself and
// for its complement, so that the translator can intersect and subtract
// sets RE2 only knows by name (`[^ ¬a ¬b]` is a ∩ b).
//
//   auto set = unicode_property("sc=Greek");   // \p{sc=Greek}
//   if (!set) ...set.error()...                // names the property
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrine {

struct ClassLiteral {
  std::string positive;  // class items for the set ("\p{Lu}", "a-z")
  std::string negated;   // class items for its complement ("\P{Lu}"); empty: nothing
};

struct PropertySet {
  std::vector<ClassLiteral> literals;  // their union
  bool complement = false;             // the set is the complement of that union
};

// The set of a \p{...} body (without the braces; "^name", "name=value",
// "name:value" and "name!=value" forms): general categories, scripts and
// binary properties by any of their names, loosely matched (case, spaces,
// "_" and "-" ignored, a leading "is" dropped).  The error names what is not
// known or not supported.
std::expected<PropertySet, std::string> unicode_property(std::string_view body);

// A range of code points, both ends included.
using CodePointRange = std::pair<std::uint32_t, std::uint32_t>;

// The literal of the code points in `ranges` (in any order, overlapping or
// not): one literal, whose complement is the gaps between them.
ClassLiteral ranges_literal(std::vector<CodePointRange> ranges);
// The literal of the code points lo..hi.
ClassLiteral range_literal(std::uint32_t lo, std::uint32_t hi);
// "\x{HEX}": a code point as a class item or a literal.
std::string code_point_item(std::uint32_t cp);

}  // namespace kestrine
