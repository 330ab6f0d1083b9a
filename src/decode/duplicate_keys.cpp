#include "decode/duplicate_keys.hpp"

#include <algorithm>

#include "decode/merge.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

std::string duplicate_key_warning(std::string_view shown, std::optional<Span> place, bool nan_key) {
  std::string w = "duplicate mapping key '";
  w += shown;
  w += '\'';
  if (place) {
    w += " at line " + std::to_string(std::uint64_t{place->line} + 1) + ", column " +
         std::to_string(std::uint64_t{place->column} + 1);
  }
  w += nan_key ? "; NaN keys never compare equal, so both pairs are kept" : "; keeping the last value";
  return w;
}

std::string duplicate_key_message(std::string_view shown) {
  std::string m = "duplicate mapping key: ";
  m += shown;
  return m;
}

std::string shown_key(const YamlValue& tagged_key, const KeyTags* tags) {
  const YamlValue& key = key_as_converted(tagged_key, tags);
  if (key.is_string()) return std::string(key.text());
  // A scalar under a tag the conversion keeps reads as the text writes it
  // ("!k x"); a tag that a %TAG handle expanded in its verbatim form.
  if (key.is_tagged() && (key.tagged().inner.is_string() || key.tagged().inner.is_null())) {
    const std::string_view tag = key.tagged().tag;
    std::string shown = tag.starts_with('!') ? std::string(tag) : "!<" + std::string(tag) + ">";
    if (key.tagged().inner.is_string() && !key.tagged().inner.text().empty()) {
      shown += ' ';
      shown += key.tagged().inner.text();
    }
    return shown;
  }
  return debug_render_value(key);
}

std::vector<bool> repeated_pairs(const YamlValue& mapping, const KeyTags* tags) {
  // A mapping's pairs lie flat, key, value, key, value, as the decoder
  // hands them to the index.
  const auto pairs = mapping.pairs();
  const std::span<const YamlValue> flat(&pairs.data()->key, pairs.size() * 2);
  std::vector<bool> repeated(pairs.size());
  DuplicateKeyIndex index(tags);
  const std::size_t level = index.open();
  for (std::size_t i = 0; i < pairs.size(); ++i) repeated[i] = index.repeats(flat.first(2 * i + 2), level);
  return repeated;
}

namespace {

// A text of `key` that lies in `text`, depth first.
const char* text_in(const YamlValue& key, std::string_view text) {
  switch (key.kind) {
    case ValueKind::String:
    case ValueKind::BigInt: {
      const char* p = key.text().data();
      return p >= text.data() && p < text.data() + text.size() ? p : nullptr;
    }
    case ValueKind::Tagged:
      return text_in(key.tagged().inner, text);
    case ValueKind::Sequence:
      for (const YamlValue& item : key.items())
        if (const char* p = stack_guarded([&] { return text_in(item, text); })) return p;
      return nullptr;
    case ValueKind::Mapping:
      for (const ValuePair& pair : key.pairs()) {
        if (const char* p = stack_guarded([&] { return text_in(pair.key, text); })) return p;
        if (const char* p = stack_guarded([&] { return text_in(pair.value, text); })) return p;
      }
      return nullptr;
    default:
      return nullptr;
  }
}

}  // namespace

std::optional<Span> key_place(const YamlValue& key, std::string_view text) {
  const char* at = text_in(key, text);
  if (at == nullptr) return std::nullopt;
  // Lines end at LF, CR or CR LF; a column counts characters (a leading
  // byte-order mark none).
  Span span;
  span.offset = static_cast<std::size_t>(at - text.data());
  const std::size_t bom = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  for (std::size_t i = std::min(bom, span.offset); i < span.offset; ++i) {
    const char c = text[i];
    if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
      ++span.line;
      span.column = 0;
    } else if (c != '\r' && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++span.column;
    }
  }
  return span;
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
