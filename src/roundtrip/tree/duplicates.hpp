// Duplicate-key checks on round-trip trees.
//
// The composer keeps every pair of a mapping, duplicates included.  These
// checks compare keys as they will stand in Python: by the signature the
// plain decoder uses (write_key_signature) of the value the load reads
// (key_node_value), so that keys equal as Python values (the plain scalars
// 1, 1.0 and true) are one key, an alias is the key it stands for, and a
// custom tag counts only where the conversion keeps it (KeyReading::tags).
// Strings are length-prefixed inside signatures, so no crafted key can
// imitate another.  Merge keys ("<<") are never reported, and values that
// came from `!secret` are not examined: a message would quote their keys.
// Aliases in keys are bound within their root, under the alias-expansion
// budget; past it (the load fails on reading anyway) such keys are left
// unchecked.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decode/value.hpp"
#include "resolver/kind.hpp"
#include "roundtrip/tree/anchors.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/compose_error.hpp"

namespace kestrine {

// How the load reads key scalars: the version mode, and whether plain
// untagged scalars that parse as timestamps become date/datetime objects
// (then two spellings of one date, or one instant in two zones, are one
// key); and which custom tags the conversion keeps (null: none, as without
// tag handlers; borrowed), for the duplicate-key checks and merge folds.
struct KeyReading {
  constexpr KeyReading(VersionMode mode, bool timestamps = false, const KeyTags* tags = nullptr) noexcept
      : mode(mode), timestamps(timestamps), tags(tags) {}
  VersionMode mode;
  bool timestamps;
  const KeyTags* tags;
};

// The signature of `key` read as `reading` says, for a key outside any
// document (an alias in it stands for nothing).
std::string node_key_signature(const YamlNode& key, KeyReading reading);

// A short rendering of a key for messages: a scalar's text, after its tag
// as written when the conversion keeps that tag (`tags`: null, none kept),
// e.g. "!k x"; otherwise the kind and the content (e.g. "sequence [a, b]",
// "alias *x").
std::string describe_key(const YamlNode& key, const KeyTags* tags = nullptr);

// The first duplicate key in the tree, in document order (a mapping's own
// duplicate at pair i after everything inside pairs 0..i-1): "duplicate
// mapping key: {}" at the second occurrence.
std::optional<ComposeError> check_duplicate_keys(const YamlNode& node, KeyReading reading);
std::optional<ComposeError> check_duplicate_keys_roots(std::span<const YamlNode> roots, KeyReading reading);

// Every duplicate over all roots, in order, as warning texts
// (duplicate_key_warning: "duplicate mapping key '{}' at line {}, column {};
// keeping the last value").
std::vector<std::string> warn_duplicate_keys(std::span<const YamlNode> roots, KeyReading reading);

// Which of the keys of one mapping, in order (null: the merge slot's "<<"),
// the checks above report (a key equal to an earlier one; merge keys
// never), by index, aliases bound by `bindings`: a conversion that finds
// two keys equal as Python objects reports the others itself.
std::vector<bool> repeated_keys(std::span<const YamlNode* const> keys, KeyReading reading,
                                const AnchorBindings& bindings);

}  // namespace kestrine
