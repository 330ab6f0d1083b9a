// The plain value tree: the decoder's output, the dumper's input, what the
// plain conversion to Python and schema validation read.
//
// Memory model
// ------------
// A `YamlValue` is a 16-byte handle: a kind byte, a boolean payload, a 32-bit
// length and one 8-byte payload word.  Everything a value points to (child
// arrays, texts, tagged boxes, timestamps) lives in a `ValueArena`, a bump
// allocator that hands out memory from large chunks and frees all of it at
// once.  So:
//   * building a node never calls the general-purpose allocator per node;
//   * releasing a tree of any depth is O(number of chunks) and never recurses
//     (`drop_value_tree` / the arena's destructor);
//   * handles are trivially copyable.  Copying a handle does NOT copy the
//     subtree: the copy refers to the same children.  `deep_copy_value` makes
//     an independent copy.
//
// Texts (String, BigInt, tags) are views.  `ValueArena::make_string` and
// friends copy the text into the arena; the `*_ref` variants only refer to
// the caller's bytes, which must then stay alive and unchanged for as long as
// the tree is used (for example the scanner's `ScanResult` that owns the
// decoded scalar texts, or the UTF-8 buffer of a Python str that the caller
// keeps referenced while the tree is written).  Texts are never mutated
// through a tree, so subtrees may share them freely.
//
// Collections: a Sequence is an arena array of items, a Mapping an arena
// array of `ValuePair`s (key, value), both in document order; a Mapping may
// hold equal keys.  Their lengths are fixed when they are made; builders
// collect children first (see `ValueStack`) and then copy them into one
// exactly sized array.  Editing a tree means replacing handles in place
// (`items()[i] = v`) or swapping in a new array.
//
// Trees are normally strict trees.  Sharing a subtree between two parents is
// allowed as long as no one edits it in place afterwards; every walk here
// treats a shared subtree as if it were copied (counts and copies expand it),
// and the merge pass (decode/merge.hpp) rebuilds changed paths instead of
// editing them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "resolver/resolve.hpp"
#include "resolver/timestamp.hpp"
#include "util/large_block.hpp"

namespace kestrine {

enum class ValueKind : std::uint8_t {
  Null = 0,
  Bool = 1,
  Int = 2,
  BigInt = 3,  // text of an integer beyond 64 bits
  Float = 4,
  String = 5,
  Timestamp = 6,
  Sequence = 7,
  Mapping = 8,
  Tagged = 9,
};

struct YamlValue;
struct ValuePair;
struct TaggedValue;
class ValueArena;

// Out-of-line length record for texts and arrays of 2^32-1 elements or more.
struct LongRef {
  const void* data;
  std::size_t size;
};

struct YamlValue {
  static constexpr std::uint32_t kLongLength = 0xFFFFFFFFu;

  // `flags`: kSharedTexts marks a node that an anchor names (and every alias
  // to it): its texts are reached more than once, so a conversion makes one
  // object per text for the whole subtree instead of one per occurrence.
  static constexpr std::uint16_t kSharedTexts = 1;
  // Set by merge-key folding (decode/merge.hpp): kMergedPairs on a mapping
  // that holds pairs taken from merge sources; on the key of such a pair
  // kMergedKey, and also kMergeSourceStart on the first pair of each source
  // (a source's pairs stand together, sources in fold order).
  static constexpr std::uint16_t kMergedPairs = 2;
  static constexpr std::uint16_t kMergedKey = 4;
  static constexpr std::uint16_t kMergeSourceStart = 8;

  ValueKind kind = ValueKind::Null;
  bool boolean = false;          // payload of Bool
  std::uint16_t flags = 0;       // the k* flags above, or zero
  std::uint32_t len_ = 0;        // text length / element count, or kLongLength
  union {
    std::int64_t integer = 0;    // payload of Int
    double real;                 // payload of Float
    const char* text_;           // String, BigInt
    YamlValue* items_;           // Sequence
    ValuePair* pairs_;           // Mapping (stored as key, value, key, value, ...)
    TaggedValue* tagged_;        // Tagged
    const Timestamp* timestamp_; // Timestamp
    LongRef* long_;              // any of the texts/arrays when len_ == kLongLength
  };

  // ---- scalars that need no arena ----
  static constexpr YamlValue null() noexcept { return YamlValue{}; }
  static constexpr YamlValue of_bool(bool b) noexcept {
    YamlValue v;
    v.kind = ValueKind::Bool;
    v.boolean = b;
    return v;
  }
  static constexpr YamlValue of_int(std::int64_t i) noexcept {
    YamlValue v;
    v.kind = ValueKind::Int;
    v.integer = i;
    return v;
  }
  static constexpr YamlValue of_float(double d) noexcept {
    YamlValue v;
    v.kind = ValueKind::Float;
    v.real = d;
    return v;
  }
  static constexpr YamlValue empty_sequence() noexcept {
    YamlValue v;
    v.kind = ValueKind::Sequence;
    v.items_ = nullptr;
    return v;
  }
  static constexpr YamlValue empty_mapping() noexcept {
    YamlValue v;
    v.kind = ValueKind::Mapping;
    v.pairs_ = nullptr;
    return v;
  }
  // A String/BigInt referring to `text` without copying; for texts shorter
  // than 4 GiB (use ValueArena::make_string_ref for any length).  Static
  // literals are the typical use.
  static YamlValue string_literal(std::string_view text) noexcept;

  // ---- kind tests ----
  bool is_null() const noexcept { return kind == ValueKind::Null; }
  bool is_string() const noexcept { return kind == ValueKind::String; }
  bool is_sequence() const noexcept { return kind == ValueKind::Sequence; }
  bool is_mapping() const noexcept { return kind == ValueKind::Mapping; }
  bool is_tagged() const noexcept { return kind == ValueKind::Tagged; }

  // ---- payload access (the kind must match) ----
  // String and BigInt.
  std::string_view text() const noexcept {
    if (len_ != kLongLength) [[likely]] return {text_, len_};
    return {static_cast<const char*>(long_->data), long_->size};
  }
  // Element count of a Sequence (items) or Mapping (pairs).
  std::size_t size() const noexcept { return len_ != kLongLength ? len_ : long_->size; }
  std::span<YamlValue> items() noexcept { return {item_data(), size()}; }
  std::span<const YamlValue> items() const noexcept { return {item_data(), size()}; }
  inline std::span<ValuePair> pairs() noexcept;
  inline std::span<const ValuePair> pairs() const noexcept;
  TaggedValue& tagged() noexcept { return *tagged_; }
  const TaggedValue& tagged() const noexcept { return *tagged_; }
  const Timestamp& timestamp() const noexcept { return *timestamp_; }

 private:
  YamlValue* item_data() const noexcept {
    return len_ != kLongLength ? items_
                               : static_cast<YamlValue*>(const_cast<void*>(long_->data));
  }
};
static_assert(sizeof(YamlValue) == 16);

struct ValuePair {
  YamlValue key;
  YamlValue value;
};
static_assert(sizeof(ValuePair) == 2 * sizeof(YamlValue));

struct TaggedValue {
  std::string_view tag;  // as resolved by the decoder ("!custom", "tag:yaml.org,2002:merge", ...)
  YamlValue inner;
};

inline std::span<ValuePair> YamlValue::pairs() noexcept {
  return {reinterpret_cast<ValuePair*>(item_data()), size()};
}
inline std::span<const ValuePair> YamlValue::pairs() const noexcept {
  return {reinterpret_cast<const ValuePair*>(item_data()), size()};
}

// Bump allocator owning everything a tree points to.  Movable, not copyable.
// Allocation failure throws std::bad_alloc (an internal fault the Python
// boundary turns into an exception).
class ValueArena {
 public:
  ValueArena() noexcept = default;
  // `first_chunk_bytes`: size of the first chunk (e.g. a guess from the input
  // length); later chunks double up to 1 MiB.
  explicit ValueArena(std::size_t first_chunk_bytes) noexcept;
  ~ValueArena();
  ValueArena(ValueArena&& other) noexcept;
  ValueArena& operator=(ValueArena&& other) noexcept;
  ValueArena(const ValueArena&) = delete;
  ValueArena& operator=(const ValueArena&) = delete;

  // Inline: most allocations fit the current chunk (the rest take
  // allocate_slow).
  void* allocate(std::size_t bytes, std::size_t align = alignof(std::max_align_t)) {
    if (align == 1 && bytes != 0) {  // texts: one comparison (an empty arena has no room)
      if (bytes <= static_cast<std::size_t>(limit_ - cursor_)) [[likely]] {
        void* p = cursor_;
        cursor_ += bytes;
        return p;
      }
      return allocate_slow(bytes, align);
    }
    const std::uintptr_t p = (reinterpret_cast<std::uintptr_t>(cursor_) + (align - 1)) & ~std::uintptr_t(align - 1);
    if (cursor_ != nullptr && p <= reinterpret_cast<std::uintptr_t>(limit_) &&
        bytes <= std::size_t(reinterpret_cast<std::uintptr_t>(limit_) - p)) [[likely]] {
      cursor_ = reinterpret_cast<char*>(p + bytes);
      return reinterpret_cast<void*>(p);
    }
    return allocate_slow(bytes, align);
  }
  template <class T>
  T* allocate_array(std::size_t n) {
    static_assert(std::is_trivially_destructible_v<T>);
    if (n > std::size_t(-1) / (4 * sizeof(T))) throw std::bad_alloc();
    return static_cast<T*>(allocate(n * sizeof(T), alignof(T)));
  }
  // Copies `text` into the arena.
  std::string_view copy_text(std::string_view text);

  // Texts: `make_*` copy the bytes, `make_*_ref` refer to them (see the top
  // of this file for the lifetime rule).
  YamlValue make_string(std::string_view text);
  YamlValue make_string_ref(std::string_view text);
  YamlValue make_bigint(std::string_view digits);
  YamlValue make_bigint_ref(std::string_view digits);
  YamlValue make_timestamp(const Timestamp& ts);
  // Collections, copying the handles into an exactly sized arena array.
  YamlValue make_sequence(std::span<const YamlValue> items);
  YamlValue make_mapping(std::span<const ValuePair> pairs);
  // `flat` holds key, value, key, value, ... (an even count).
  YamlValue make_mapping_flat(std::span<const YamlValue> flat);
  // Collections of `n` Null elements, to be filled through items()/pairs().
  YamlValue alloc_sequence(std::size_t n);
  YamlValue alloc_mapping(std::size_t n);
  // Collections over arrays already allocated in this arena (by
  // allocate_array), adopted without copying.
  YamlValue adopt_sequence(YamlValue* items, std::size_t n);
  YamlValue adopt_mapping(ValuePair* pairs, std::size_t n);
  // Tagged: `make_tagged` copies the tag text, `make_tagged_ref` refers to it.
  YamlValue make_tagged(std::string_view tag, YamlValue inner);
  YamlValue make_tagged_ref(std::string_view tag, YamlValue inner);

  // Frees every chunk; all trees built here become invalid.  O(chunks).
  void release() noexcept;
  // The same, except that up to `keep_bytes` of chunks are kept for the
  // trees built next in this arena, which take them before asking the
  // system for memory: fresh memory costs a page fault per page the first
  // time it is written, a good part of building a large tree.  Gives the
  // bytes kept.
  std::size_t release_keeping(std::size_t keep_bytes) noexcept;
  // Bytes of the chunks in use (obtained from the system or kept), and of
  // those the bytes handed out, roughly (less the free end of the current
  // chunk).
  std::size_t bytes_reserved() const noexcept { return reserved_; }
  std::size_t bytes_used() const noexcept { return reserved_ - static_cast<std::size_t>(limit_ - cursor_); }

 private:
  struct Chunk;
  void* allocate_slow(std::size_t bytes, std::size_t align);
  // A kept chunk of at least `need` and at most `most` bytes, or null;
  // fresh memory of `size`.
  Chunk* take_kept_chunk(std::size_t need, std::size_t most = std::size_t(-1)) noexcept;
  Chunk* fresh_chunk(std::size_t size);
  YamlValue make_text_value(ValueKind kind, std::string_view text);
  YamlValue make_array_value(ValueKind kind, void* data, std::size_t count);

  Chunk* head_ = nullptr;   // current chunk; older chunks follow through `prev`
  Chunk* spare_ = nullptr;  // chunks kept by release_keeping, linked through `prev`
  char* cursor_ = nullptr;  // next free byte in head_
  char* limit_ = nullptr;   // end of head_
  std::size_t next_chunk_ = 4096;
  std::size_t reserved_ = 0;
};

// A tree (or several) together with the arena that owns it.
struct ValueTree {
  ValueArena arena;
  YamlValue root;
};

// Collects children while collections are open.  One stack serves a whole
// build: a collection takes `mark()` when it opens, pushes its children (a
// mapping pushes key, value, key, value, ...) and, when it closes, `finish_*`
// moves the children above the mark into one arena array and pops them.
// Nested collections thus reuse the same buffer without per-node allocation.
class ValueStack {
 public:
  std::size_t mark() const noexcept { return slots_.size(); }
  void push(YamlValue v) { slots_.push_back(v); }
  std::span<YamlValue> above(std::size_t mark) noexcept {
    return std::span<YamlValue>(slots_).subspan(mark);
  }
  YamlValue finish_sequence(ValueArena& arena, std::size_t mark);
  YamlValue finish_mapping(ValueArena& arena, std::size_t mark);  // even count above mark
  void truncate(std::size_t mark) noexcept { slots_.resize(mark); }
  void clear() noexcept { slots_.clear(); }
  void reserve(std::size_t n) { slots_.reserve(n); }

 private:
  std::vector<YamlValue, BlockAllocator<YamlValue>> slots_;  // large ones mapped on their own
};

// Number of nodes: scalars 1, a Sequence 1 + its items, a Mapping 1 + its keys
// and values, a Tagged 1 + its inner value.  Iterative (no recursion).
std::uint64_t count_value_nodes(const YamlValue& value);

// Releases trees.  With arenas, a tree is released with the arena that owns
// it, in O(chunks) and without recursion; these are the explicit spellings.
void drop_value_tree(ValueArena&& arena) noexcept;
void drop_value_tree(ValueTree&& tree) noexcept;

// Which custom tags the conversion to Python keeps on a key.  A tag that no
// handler of the load takes (a `tags` entry of its name, a `tag_handler`,
// OPT_PASSTHROUGH_TAG) is dropped when the key is converted, so the key
// stands in Python as its untagged value and meets untagged keys equal to
// it.  Names are compared as the tag callbacks see them (unwrap_verbatim_tag).
struct KeyTags {
  bool keep_all = false;           // a tag_handler, or OPT_PASSTHROUGH_TAG
  std::vector<std::string> names;  // the `tags` dict's names
  bool keeps(std::string_view tag) const noexcept;
};

// Key signature of the duplicate-key check: equal for keys that Python
// considers the same key (1, 1.0 and true; 0, false and -0.0; a big integer
// and its canonical digits, also against an integral float; aware date-times
// naming the same instant; a mapping and the sequence of its (key, value)
// pairs, both tuples of tuples once loaded).  Appends to `out`.  Every
// custom tag counts.
void write_key_signature(std::string& out, const YamlValue& key);
// The same with the custom tags that `tags` does not keep left out (null:
// none kept), at any depth of the key: the signature of the key as the
// conversion builds it.
void write_key_signature(std::string& out, const YamlValue& key, const KeyTags* tags);
// The value a key stands for in Python at its top: dropped tags (see
// KeyTags) taken off; a merge marker is left as it is.
const YamlValue& untag_dropped(const YamlValue& key, const KeyTags* tags) noexcept;
inline const YamlValue& key_as_converted(const YamlValue& key, const KeyTags* tags) noexcept {
  if (key.kind != ValueKind::Tagged) [[likely]] return key;
  return untag_dropped(key, tags);
}
// The same signature for a resolved scalar (as the round-trip side resolves
// key scalars), so that both sides compare keys alike.
void write_key_signature(std::string& out, const ResolvedScalar& key);

// Debug rendering used in messages about non-string keys, e.g.
// `Int(1)`, `Sequence([String("a"), Null])`, `Mapping([(String("k"), Bool(true))])`.
std::string debug_render_value(const YamlValue& value);

// Content equality: same kind and content (floats numerically, big integers
// by their digits, strings byte for byte, timestamps field by field,
// collections element-wise).  Iterative.
bool values_equal(const YamlValue& a, const YamlValue& b);

// Shortest decimal text that reads back as `d`, written without exponent
// ("NaN", "inf", "-inf" for the non-finite values); integral values keep no
// fraction ("3", "-0", "1e20" as "100000000000000000000").
void append_float_plain(std::string& out, double d);

}  // namespace kestrine
