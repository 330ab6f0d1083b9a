// The plain decoder's duplicate-key index: which keys each open mapping has
// seen, so that a repeated key is found as it is read.
//
// One entry per open mapping, by its nesting among checked mappings.  A
// String key (once the tags the conversion drops are off) equals only a
// String key with the same text, so string keys are compared by their text
// (a view into the source, which must outlive the document) and only other
// keys need a signature (`write_key_signature`, kept in a scratch arena
// owned here).  Small mappings compare string keys
// linearly; a mapping that grows past a few pairs indexes them.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decode/value.hpp"
#include "scanner/span.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

// The warning for a repeated key under the warn policy: "duplicate mapping
// key '{}' at line {}, column {}; keeping the last value", where `shown` is
// the key as messages show it and `place` its position (left out when not
// known).  A NaN key (`nan_key`) equals no other key once loaded, so the
// warning says that both pairs stay instead.
std::string duplicate_key_warning(std::string_view shown, std::optional<Span> place, bool nan_key = false);
// The error's message: "duplicate mapping key: {}".
std::string duplicate_key_message(std::string_view shown);
// A key of a value tree as the messages show it, with the custom tags the
// conversion drops left out: a string's text, a scalar under a kept tag as
// written ("!k x"), else its debug rendering.
std::string shown_key(const YamlValue& key, const KeyTags* tags);

// Which pairs of a finished mapping the decoder's check reports (a key equal
// to an earlier one, as DuplicateKeyIndex compares them), by index: a
// conversion that finds two keys equal as Python objects reports the others
// itself.
std::vector<bool> repeated_pairs(const YamlValue& mapping, const KeyTags* tags);

// Where `key` stands in `text`, the text its tree was decoded from: the
// place of the first text the key holds that lies in `text` (none for a key
// without such a text, as a number or a text read from escapes).
std::optional<Span> key_place(const YamlValue& key, std::string_view text);

class DuplicateKeyIndex {
 public:
  // Keys compare as the conversion builds them: custom tags that `tags`
  // does not keep are left out (null: none is kept).
  explicit DuplicateKeyIndex(const KeyTags* tags = nullptr) noexcept : tags_(tags) {}

  // A mapping opens: gives its level.
  std::size_t open();
  void close() noexcept { --level_; }
  // The document ends: every level is free again.  The scratch memory stays
  // for the next small document.
  void end_document();

  // Does the newest key of the mapping at `level` repeat an earlier one?
  // `pairs` holds the mapping's keys and values so far, flat (key, value,
  // key, value, ...), the newest pair last.  Merge keys never repeat.
  bool repeats(std::span<const YamlValue> pairs, std::size_t level) {
    const YamlValue& key = key_as_converted(pairs[pairs.size() - 2], tags_);
    if (!key.is_string()) return repeats_non_string(key, level);
    KeySets& sets = sets_[level];
    const std::string_view text = key.text();
    if (sets.strings_indexed) return !sets.strings.insert(text).second;
    const std::size_t newest = pairs.size() - 2;
    for (std::size_t i = 0; i < newest; i += 2) {
      const YamlValue& earlier = key_as_converted(pairs[i], tags_);
      if (earlier.is_string() && earlier.text() == text) return true;
    }
    if (newest / 2 + 1 >= kLinearPairs) index_strings(pairs, sets);
    return false;
  }

 private:
  static constexpr std::size_t kLinearPairs = 8;
  struct KeySets {
    SeededHashSet<std::string_view> strings;
    SeededHashSet<std::string_view> signatures;
    bool strings_indexed = false;
  };

  bool repeats_non_string(const YamlValue& key, std::size_t level);
  void index_strings(std::span<const YamlValue> pairs, KeySets& sets) const;

  const KeyTags* tags_;
  std::vector<KeySets> sets_;
  std::size_t level_ = 0;
  ValueArena arena_;
  std::string buffer_;
};

}  // namespace kestrine
