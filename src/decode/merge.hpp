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
// repeated own keys collapse to one pair holding the last value.  Keys are
// the same key when they are equal as Python values (1, 1.0 and true; the
// duplicate-key signature), so the result reads the same once converted to a
// dict; NaN keys equal nothing.  Merge values that are not mappings
// (scalars, custom-tagged values) are kept under a "<<" string key (several
// of them as a list).  Nothing here fails.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>


#include "decode/value.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

// Maps a key's identity to the position of that key's pair in the rebuilt
// pair vector.
using FingerprintIndex = SeededHashMap<std::string, std::size_t>;

// A new merge marker: Tagged "tag:yaml.org,2002:merge" around the String
// `text` that the scalar was written as ("<<", or any text tagged !!merge);
// a marker that ends up outside a mapping key reads as that text.  `text` is
// referred to, not copied.
YamlValue merge_key_value(ValueArena& arena, std::string_view text = "<<");
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

// Replaces every merge marker inside `value` by its text: the first
// form rebuilds the changed paths in `arena` (safe with shared subtrees), the
// second edits the tree in place (for trees without shared parts).
void replace_merge_markers(ValueArena& arena, YamlValue& value);
void replace_merge_markers_in_place(YamlValue& value);

}  // namespace kestrine
