// YAML 1.1 readings in round-trip trees.
//
// A document read under YAML 1.1 rules can mean something else when it is
// written back and read as YAML 1.2: `yes` is a boolean in 1.1 and a string
// in 1.2, `1:30` the integer 90 in 1.1 and a string in 1.2.  These walks
// report such plain scalars (OPT_YAML_1_1_WARN) or rewrite them into the YAML
// 1.2 spelling of their 1.1 meaning, quoting the 1.1 strings that 1.2 would
// read otherwise (OPT_UPGRADE_1_1; the document writer then declares
// "%YAML 1.2").  Under YAML 1.2 both readings agree and
// neither walk reports or changes anything.  Both run under the stack guard.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "resolver/kind.hpp"
#include "roundtrip/tree/ast.hpp"

namespace kestrine {

// Appends, in document order, one warning per scalar of the subtree whose
// reading under `mode` is not a string and differs in type from its YAML 1.2
// reading: "YAML 1.1 syntax '{}' resolves as {} in 1.1 but {} in 1.2 at line
// {}, column {}" (1-based position).  Keys are checked like values; values
// from `!secret` are passed over, since the warning quotes the text.
void warn_version_differences(const YamlNode& node, VersionMode mode,
                              std::vector<std::string>& warnings);

// The warnings of every root, in root order.
std::vector<std::string> collect_version_warnings(std::span<const YamlNode> roots,
                                                  VersionMode mode);

// The YAML 1.2 spelling of a scalar (plain, or `non_plain`: quoted or block,
// read by its tag) whose reading under `mode` is not a string and differs
// from its YAML 1.2 reading: "null", "true"/"false", a decimal integer (big
// integers in canonical digits: no "+", no "_"), or a float as
// `format_float` writes it.  Nothing when the readings agree.
std::optional<std::string> yaml12_spelling(std::string_view text, std::optional<std::string_view> tag,
                                           VersionMode mode, bool non_plain = false);

// True when the scalar (plain, or `non_plain`: quoted or block, read by its
// tag) reads as a string under `mode` but as something else (null, a
// boolean, a number) under YAML 1.2, as the plain "0o17" and "!!int '0o17'"
// do under YAML 1.1.
bool reads_as_string_only_under(std::string_view text, std::optional<std::string_view> tag, VersionMode mode,
                                bool non_plain = false) noexcept;

// Rewrites every scalar of the subtree (keys included) that has a YAML 1.2
// spelling into it (plain ones, and tagged quoted or block ones, which keep
// their style), and makes a string of every scalar that reads as one only
// under `mode`: untagged plain ones are quoted (double quotes, or single
// quotes where possible unless `prefer_double_quotes`), tagged ones lose
// their tag (and are quoted when plain).  Either is marked modified (not
// within values from `!secret`, which are never written back).  Tag,
// anchor, comments and positions stay otherwise, except that a node tagged
// !!merge (a scalar, or empty content) becomes the untagged plain "<<", the
// only merge key YAML 1.2 reads.
void upgrade_yaml11_scalars(YamlNode& node, VersionMode mode, bool prefer_double_quotes = true);

}  // namespace kestrine
