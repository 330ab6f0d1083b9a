// Merge keys ("<<"): folding the pairs of other mappings into the mapping
// that holds the merge key, over finished value trees.
//
// The decoder turns every scalar that resolves to the merge kind into a merge
// marker (`merge_key_value`) and, once the whole stream is decoded and only
// if it made a marker, calls `apply_merge_keys` on each document.
//
// Precedence in a mapping with merge keys: a key written in the mapping
// itself wins over merged ones and keeps the position where it first
// appeared; among merged mappings the earlier one wins (an earlier "<<" entry
// over a later one, an earlier mapping of a merged list over a later one);
// repeated own keys collapse to one pair holding the last value.  Merge
// values that are not mappings are kept under a "<<" string key (several of
// them as a list).  Nothing here fails.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <absl/container/flat_hash_map.h>

#include "decode/value.hpp"

namespace kestrine {

// Maps a key fingerprint to the position of that key's pair in the rebuilt
// pair vector.
using FingerprintIndex = absl::flat_hash_map<std::string, std::size_t>;

// A new merge marker: Tagged "tag:yaml.org,2002:merge" around the String "<<".
YamlValue merge_key_value(ValueArena& arena);
// Any Tagged value whose tag is exactly "tag:yaml.org,2002:merge".
bool is_merge_marker(const YamlValue& value) noexcept;

// Folds the merge keys of one document.  Replaces `document` by the result;
// nodes are never edited in place (changed paths are rebuilt in `arena`, the
// arena that owns the document), so subtrees shared between several parents
// (aliases) are safe and come out as private copies would.
void apply_merge_keys(ValueArena& arena, YamlValue& document);

// Folds one merge value into the mapping being rebuilt (`pairs`, indexed by
// `index`); returns the part that could not be folded, if any.
std::optional<YamlValue> expand_merge_keys(ValueArena& arena, const YamlValue& merge_value,
                                           std::vector<ValuePair>& pairs,
                                           FingerprintIndex& index);

// Appends the identity of `value` as a key.  Unlike the duplicate-key
// signature, it keeps types apart: 1, 1.0 and true are three keys.
void write_key_fingerprint(std::string& out, const YamlValue& value);

// Replaces every merge marker inside `value` by the String "<<": the first
// form rebuilds the changed paths in `arena` (safe with shared subtrees), the
// second edits the tree in place (for trees without shared parts).
void replace_merge_markers(ValueArena& arena, YamlValue& value);
void replace_merge_markers_in_place(YamlValue& value);

}  // namespace kestrine
