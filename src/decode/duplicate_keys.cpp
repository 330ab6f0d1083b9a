#include "decode/duplicate_keys.hpp"

#include "decode/merge.hpp"

namespace kestrine {

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
  write_key_signature(buffer_, key);
  if (sets.signatures.contains(std::string_view(buffer_))) return true;
  sets.signatures.insert(arena_.copy_text(buffer_));
  return false;
}

void DuplicateKeyIndex::index_strings(std::span<const YamlValue> pairs, KeySets& sets) {
  for (std::size_t i = 0; i < pairs.size(); i += 2)
    if (pairs[i].is_string()) sets.strings.insert(pairs[i].text());
  sets.strings_indexed = true;
}

}  // namespace kestrine
