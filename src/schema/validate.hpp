// Validation of a loaded document against a compiled schema.
//
// The keyword subset is that of JSON Schema draft 6: boolean schemas, local
// `$ref`, `type`, `enum`, `const`, the numeric and string keywords
// (`pattern` on RE2), `allOf`/`anyOf`/`oneOf`/`not`, and the array and
// object keywords (`items`/`additionalItems`, `contains`, `uniqueItems`,
// `properties`/`patternProperties`/`additionalProperties`, `required`,
// `propertyNames`, `dependencies`, the count limits).  Keywords are
// evaluated in a fixed order and every failure is a record in that order;
// the first one is what a caller reports.  Failures inside `anyOf`, `oneOf`,
// `not` and `contains` branches only decide those keywords.
//
// Scalars read as the load returns them (`KeyReading::mode`: the version
// mode the load's own conversion reads them with, PyyamlCompat included):
// quoted scalars and scalars tagged as strings are strings, timestamps are
// strings, a plain 2.0 is an integer for `type`.
//
// Time: each (instance node, schema) pair that can be met more than once is
// walked once (walker.hpp), so validation ends in time bounded by the
// document and schema sizes, also for branching `$ref`s and alias bombs.
//
// Budgets: a `$ref` met after 128 consecutive `$ref` hops (no member or item
// entered in between) fails, as any other failure does: a branch of `anyOf`
// that holds it fails, a `not` around it passes.  When the chain is a loop
// (it follows one target twice on the same node), the failure ends the
// validation instead, and so does a `$ref` met when the validation's budget
// is spent: 100000 hops, plus 128 more for every member or item entered, so
// that a large document with a schema of `$ref` definitions never runs out.
// Those failures stand wherever the `$ref` is met, under `not` or in a
// branch of `anyOf` as well: a loop never passes.  Every recursive step runs
// under the stack guard.
//
// Two ways in:
//   validate_root      the round-trip tree of a document: exact, with the
//                      failing node's position and the instance path
//                      ("$", ".key" per member, "[i]" per item);
//   check_value_tree   the plain decoder's tree of the same document: the
//                      same verdict much faster, without positions; it may
//                      answer Undecided, and a caller that needs the error
//                      then composes the text and asks validate_root.  The
//                      verdicts agree only when `value_tree_reads_like_nodes`
//                      holds for the text (no alias, tag or merge key) and the
//                      decoder read scalars with the validation's version
//                      mode (a timestamp it made is Undecided).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "decode/value.hpp"
#include "roundtrip/tree/ast.hpp"
#include "scanner/span.hpp"
#include "schema/instance.hpp"
#include "schema/schema.hpp"

namespace kestrine {

inline constexpr std::uint64_t kSchemaRefBudget = 100'000;
inline constexpr std::uint64_t kSchemaRefAllowance = 128;  // added for every member or item entered
inline constexpr std::uint32_t kSchemaMaxRefDepth = 127;  // deepest depth at which a $ref may still be followed

// One failure: the message, the instance path, and where the failing node
// (for a member key check, the key) starts.
struct ValidationError {
  std::string message;
  std::string schema_path;
  Span span;
};

// The first failure of `root` against the schema, or nothing when it is
// valid.  The tree is read as the load returns it (schema/instance.hpp):
// `reading` is how the load read scalars and compared keys (merge keys,
// repeated keys);
// `alias_text_budget` the scalar bytes it may read through aliases.
std::optional<ValidationError> validate_root(const YamlNode& root, const SchemaSet& schemas, KeyReading reading,
                                             std::uint64_t alias_text_budget = kValidationAliasTextBudget);

enum class ValueVerdict : std::uint8_t { Valid, Invalid, Undecided };

// The verdict for a decoded document (see above).  Undecided when the answer
// hangs on what the value tree does not keep: the text of a key that is not
// a string, a tagged or timestamp value, which of two repeated keys the
// data keeps.
ValueVerdict check_value_tree(const YamlValue& root, const SchemaSet& schemas);

// The text holds no alias, no tag and no merge key, so that its decoded
// value tree and its composed node tree present the same instance.  Reads
// the text for the three indicators first and scans it only when one occurs.
bool value_tree_reads_like_nodes(std::string_view text);

}  // namespace kestrine
