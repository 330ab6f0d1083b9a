// Merge keys ("<<"): folding the pairs of other mappings into the mapping
// that holds the merge key, over finished value trees.
//
// The decoder turns every scalar that resolves to the merge kind into a merge
// marker (`merge_key_value`) and, once the whole stream is decoded and only
// if it made a marker, calls `apply_merge_keys` on each document.
//
// The fold itself, shared with the round-trip roads and schema validation,
// is decode/merge_fold.hpp; here keys are the same key when they are equal
// as Python values (1, 1.0 and true; the duplicate-key signature, custom
// tags the conversion drops left out), so the result reads the same once
// converted to a dict, and NaN keys equal nothing.  A folded mapping tells
// which of its pairs came from which merge source (YamlValue::kMergedPairs
// and the key flags), for a conversion whose tag callbacks make keys equal
// that the fold could not.  Nothing here fails.
#pragma once

#include "decode/value.hpp"

namespace kestrine {

// A new merge marker: Tagged "tag:yaml.org,2002:merge" around the String
// "<<"; a marker that ends up outside a mapping key reads as "<<", however
// the merge key was written ("<<", or "!!merge x" under YAML 1.1).
YamlValue merge_key_value(ValueArena& arena);
// Any Tagged value whose tag is exactly "tag:yaml.org,2002:merge".
bool is_merge_marker(const YamlValue& value) noexcept;

// Folds the merge keys of one document.  Replaces `document` by the result;
// nodes are never edited in place (changed paths are rebuilt in `arena`, the
// arena that owns the document), so subtrees shared between several parents
// (aliases) are safe and come out as private copies would.  Keys compare as
// the conversion builds them: the custom tags `key_tags` does not keep are
// left out (null: none kept, as without tag handlers).
void apply_merge_keys(ValueArena& arena, YamlValue& document, const KeyTags* key_tags = nullptr);

// Whether two keys of `mapping` are one key once loaded (the fold's
// identity); and the mapping as the load keeps it: one pair per key, the
// last value at the first key's position (allocated in `arena`).
bool has_repeated_keys(const YamlValue& mapping);
YamlValue collapse_repeated_keys(ValueArena& arena, const YamlValue& mapping);

}  // namespace kestrine
