#include "roundtrip/document/upgrade.hpp"

#include <cmath>
#include <string>

#include "emit_util/float_text.hpp"
#include "emit_util/scalar_text.hpp"
#include "resolver/resolve.hpp"
#include "roundtrip/tree/anchors.hpp"
#include "roundtrip/tree/tree_ops.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

namespace {

// Visits every scalar and empty node of the subtree in document order (a
// pair's key before its value) with whether it lies in a value that came
// from `!secret`; aliases are passed over.
template <class Node, class Visit>
void for_each_leaf(Node& node, Visit& visit, bool in_secret = false) {
  in_secret = in_secret || is_secret_node(node);
  switch (node.kind()) {
    case NodeKind::Scalar:
    case NodeKind::Null:
      visit(node, in_secret);
      return;
    case NodeKind::Sequence:
      stack_guarded([&] {
        for (auto& item : node.items()) for_each_leaf(item, visit, in_secret);
      });
      return;
    case NodeKind::Mapping:
      stack_guarded([&] {
        for (auto& pair : node.pairs()) {
          for_each_leaf(pair.key, visit, in_secret);
          for_each_leaf(pair.value, visit, in_secret);
        }
      });
      return;
    case NodeKind::Alias:
      return;
  }
}

bool same_reading(const ResolvedScalar& a, const ResolvedScalar& b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case ResolvedScalar::Type::Null:
      return true;
    case ResolvedScalar::Type::Bool:
      return a.boolean == b.boolean;
    case ResolvedScalar::Type::Int:
      return a.integer == b.integer;
    case ResolvedScalar::Type::BigInt:
      return canonical_bigint_text(a.text) == canonical_bigint_text(b.text);
    case ResolvedScalar::Type::Float:
      return a.real == b.real;  // a NaN never equals anything
    case ResolvedScalar::Type::String:
      return a.text == b.text;
  }
  return false;
}

// Spells the node as the one merge key every version reads: "!!merge x"
// (also "!!merge" on empty content) is the merge key only under YAML 1.1.
void spell_as_merge_key(YamlNode& n) {
  n.set_tag(OptText());
  n.set_scalar("<<", ScalarStyle::Plain);
}

// Makes the node a string in every version: without its tag (a core tag
// whose YAML 1.1 reading failed, as "!!int 0o17"; under YAML 1.2 that tag
// would read the text) and, when plain, quoted.
void spell_as_string(YamlNode& n, bool prefer_double_quotes) {
  n.set_tag(OptText());
  if (n.scalar_style() != ScalarStyle::Plain) return;
  const std::string& t = n.text();
  const bool single = !prefer_double_quotes && t.find('\'') == std::string::npos && is_printable_single_line(t);
  n.set_scalar_style(single ? ScalarStyle::SingleQuoted : ScalarStyle::DoubleQuoted);
}

}  // namespace

void warn_version_differences(const YamlNode& node, VersionMode mode,
                              std::vector<std::string>& warnings) {
  if (mode == VersionMode::Yaml12) return;
  auto visit = [&](const YamlNode& n, bool in_secret) {
    // A warning quotes the text: a secret's would reach the log.
    if (in_secret || !n.is_scalar()) return;
    const bool non_plain = n.scalar_style() != ScalarStyle::Plain;
    auto names = implicit_tag_name(mode, n.text(), non_plain, n.expanded_tag());
    if (!names) return;
    std::string w = "YAML 1.1 syntax '";
    w += n.text();
    w += "' resolves as ";
    w += names->first;
    w += " in 1.1 but ";
    w += names->second;
    w += " in 1.2 at line ";
    w += std::to_string(n.span.line + 1);
    w += ", column ";
    w += std::to_string(n.span.column + 1);
    warnings.push_back(std::move(w));
  };
  for_each_leaf(node, visit);
}

std::vector<std::string> collect_version_warnings(std::span<const YamlNode> roots,
                                                  VersionMode mode) {
  std::vector<std::string> warnings;
  for (const YamlNode& root : roots) warn_version_differences(root, mode, warnings);
  return warnings;
}

std::optional<std::string> yaml12_spelling(std::string_view text, std::optional<std::string_view> tag,
                                           VersionMode mode, bool non_plain) {
  if (mode == VersionMode::Yaml12) return std::nullopt;
  const ResolvedScalar a = resolve_scalar_value(mode, text, non_plain, tag);
  if (a.type == ResolvedScalar::Type::String) return std::nullopt;
  const ResolvedScalar b = resolve_scalar_value(VersionMode::Yaml12, text, non_plain, tag);
  if (same_reading(a, b)) return std::nullopt;
  switch (a.type) {
    case ResolvedScalar::Type::Null:
      return std::string("null");
    case ResolvedScalar::Type::Bool:
      return std::string(a.boolean ? "true" : "false");
    case ResolvedScalar::Type::Int:
      return std::to_string(a.integer);
    case ResolvedScalar::Type::BigInt:
      // Canonical digits: the text as written may carry "+" or "_", which
      // YAML 1.2 does not read as an integer.
      return canonical_bigint_text(a.text);
    case ResolvedScalar::Type::Float:
      return format_float(a.real);
    case ResolvedScalar::Type::String:
      break;
  }
  return std::nullopt;
}

bool reads_as_string_only_under(std::string_view text, std::optional<std::string_view> tag, VersionMode mode,
                                bool non_plain) noexcept {
  if (mode == VersionMode::Yaml12) return false;
  if (resolve_scalar_kind(mode, text, non_plain, tag).type != ScalarType::Str) return false;
  const ScalarType type12 = resolve_scalar_kind(VersionMode::Yaml12, text, non_plain, tag).type;
  return type12 != ScalarType::Str && type12 != ScalarType::Merge;
}

void upgrade_yaml11_scalars(YamlNode& node, VersionMode mode, bool prefer_double_quotes) {
  if (mode == VersionMode::Yaml12) return;
  auto visit = [&](YamlNode& n, bool in_secret) {
    // Untagged, a quoted or block scalar (or empty content) reads the same
    // in every version; a tag makes it read by the tag's rules, which
    // differ between versions as a plain scalar's do ("!!bool 'yes'").
    if (n.is_null() ? !n.tag() : n.scalar_style() != ScalarStyle::Plain && !n.tag()) return;
    const bool non_plain = n.scalar_style() != ScalarStyle::Plain;
    // A scalar that replaced an include directive is an edit of the
    // included file (set_content_modified), not of the one naming it.
    // A secret's value keeps its meaning in memory, but is never written
    // anywhere (its directive is), so it does not count as an edit.
    if (is_merge_key_node(n, mode) && n.tag()) {
      spell_as_merge_key(n);
    } else if (n.is_null()) {
      return;
    } else if (std::optional<std::string> spelled = yaml12_spelling(n.text(), n.expanded_tag(), mode, non_plain)) {
      n.text_mut() = std::move(*spelled);
      // A block scalar's text as read would be written back in place of the new one.
      if (n.comments.raw()) n.comments.raw_mut().reset();
    } else if (reads_as_string_only_under(n.text(), n.expanded_tag(), mode, non_plain)) {
      spell_as_string(n, prefer_double_quotes);
    } else {
      return;
    }
    if (!in_secret) set_content_modified(n, true);
  };
  for_each_leaf(node, visit);
}

}  // namespace kestrine
