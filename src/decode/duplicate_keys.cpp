#include "decode/duplicate_keys.hpp"

#include "decode/merge.hpp"

namespace kestrine {

std::string duplicate_key_warning(std::string_view shown, const Span& place, bool nan_key) {
  std::string w = "duplicate mapping key '";
  w += shown;
  w += "' at line " + std::to_string(std::uint64_t{place.line} + 1) + ", column " +
       std::to_string(std::uint64_t{place.column} + 1);
  w += nan_key ? "; NaN keys never compare equal, so both pairs are kept" : "; keeping the last value";
  return w;
}

std::size_t DuplicateKeyIndex::open() {
  const std::size_t level = level_++;
  if (sets_.size() <= level) sets_.resize(level + 1);
  KeySets& sets = sets_[level];
  if (sets.strings_indexed) sets.strings.clear();
  sets.strings_indexed = false;
  sets.signatures.clear();
  return level;
}

void DuplicateKeyIndex::end_document() {
  level_ = 0;
  // Every set is cleared before reuse, so old signatures are never read
  // again; keep the scratch memory across small documents.
  if (arena_.bytes_reserved() > (std::size_t(8) << 20)) arena_.release();
}

bool DuplicateKeyIndex::repeats_non_string(const YamlValue& key, std::size_t level) {
  if (is_merge_marker(key)) return false;  // merge keys may repeat
  KeySets& sets = sets_[level];
  buffer_.clear();
  write_key_signature(buffer_, key, tags_);
  if (sets.signatures.contains(std::string_view(buffer_))) return true;
  sets.signatures.insert(arena_.copy_text(buffer_));
  return false;
}

void DuplicateKeyIndex::index_strings(std::span<const YamlValue> pairs, KeySets& sets) const {
  for (std::size_t i = 0; i < pairs.size(); i += 2) {
    const YamlValue& key = key_as_converted(pairs[i], tags_);
    if (key.is_string()) sets.strings.insert(key.text());
  }
  sets.strings_indexed = true;
}

}  // namespace kestrine
