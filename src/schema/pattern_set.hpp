// Character classes as set expressions (internal to src/schema: the
// pattern translator's set algebra).
//
// The dialect's classes nest, take the operations && -- ~~ and put negated
// items beside others ([^\W\d]); RE2 classes spell none of that.  The
// translator reads such a class into a `SetExpr` over `ClassLiteral`s, and
// `spell_set` writes it as a union of intersections, each intersection one
// negated RE2 class of the complements ([^ ¬a ¬b] is a ∩ b).
//
//   SetExpr e{SetExpr::Op::Inter, {}, {literal_expr(range_literal('a', 'z')), property_expr(*set)}};
//   std::optional<std::string> spelled = spell_set(e);  // nothing: too complex
//
// A SetExpr owns its parts.  Its destructor and spell_set recurse once per
// level: whoever builds one bounds its depth.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "schema/pattern_unicode.hpp"

namespace kestrine {

struct SetExpr {
  enum class Op : std::uint8_t { Literal, Union, Inter, Diff, SymDiff, Not } op = Op::Union;
  ClassLiteral literal;        // Op::Literal
  std::vector<SetExpr> parts;  // Union, Inter: any number; Diff, SymDiff: two; Not: one
};

SetExpr literal_expr(ClassLiteral lit);
// The union of a property's literals, complemented when the property is.
SetExpr property_expr(PropertySet set);

// `e` as one RE2 class or a non-capturing alternation of classes; nothing
// when its union of intersections grows past 256 terms.
std::optional<std::string> spell_set(const SetExpr& e);

}  // namespace kestrine
