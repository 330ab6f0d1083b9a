// Plain value trees to Python objects: the last step of the plain road of
// `loads` and `loads_all`.
//
//   TagHandlers handlers{tags, tag_handler, passthrough};
//   PyResult<OwnedRef> obj = document_to_py(doc, handlers);   // lock held
//
// Mappings become dicts, sequences lists, strings str, integers int (big
// ones too), floats float, timestamps date/datetime, custom-tagged values
// whatever the tag callbacks return.  String keys are made once per call
// (a cache keyed by their text), so equal keys share one str object.  Aliases
// in the tree become independent collections, as if the anchored value had
// been copied, but the texts (str, big int) of an anchored subtree are made
// once and shared by the anchor and all its aliases (YamlValue::kSharedTexts).
//
// Also shared with the other converters: apply_tag, timestamp_to_py and
// bigint_to_py.
#pragma once

#include <array>
#include <cstdint>
#include <forward_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/decoder.hpp"
#include "decode/value.hpp"
#include "ffi/py.hpp"
#include "resolver/timestamp.hpp"
#include "util/hash_map.hpp"
#include "util/large_block.hpp"

namespace kestrine {

// The tag callbacks of one load, applied in this order by apply_tag.
// Borrowed references; the caller keeps them alive for the call.
struct TagHandlers {
  PyObject* tags = nullptr;         // dict (or subclass): tag text -> callable
  PyObject* tag_handler = nullptr;  // callable(tag, value)
  bool passthrough_tag = false;     // OPT_PASSTHROUGH_TAG: unhandled tags become KestrineTag

  // Whether applying a tag may call the caller's Python code.
  bool calls_back() const noexcept { return tags != nullptr || tag_handler != nullptr; }
};

// Pauses the cyclic garbage collector for a conversion that builds its
// (acyclic) result without running Python code, and restores the previous
// state when it ends: collections during the build would only re-walk the
// new objects.  Only for conversions that call no user callback and no
// Python-level constructor: the conversion then never lets another thread
// in, so the pause cannot be observed.  The one exception, the first import
// of the datetime module when a conversion makes its first date or time,
// resumes the collector while the import runs.  Pauses do not nest: an inner
// one on the same thread does nothing.
class GcPause {
 public:
  explicit GcPause(bool active) noexcept;
  ~GcPause();
  GcPause(const GcPause&) = delete;
  GcPause& operator=(const GcPause&) = delete;

 private:
  bool paused_ = false;
};

// A dict with room for `n` items without resizing (new reference, or null
// with the exception set).
PyObject* new_presized_dict(std::size_t n) noexcept;

// Mapping keys of one conversion call: one str per distinct key text, so
// equal keys share one object, whose hash is computed once, when it is made.
// Holds a reference to each str, and no pointer into the caller's text (the
// tree a key was read from may go first): an ASCII key is found by the text
// of its own str, any other by a copy.  An open-addressing table with the
// seeded text hash; it costs nothing until the first key and grows with the
// number of distinct keys, so a small load pays for a small table.  Keys of
// configuration files recur in the same few shapes, so a small index of the
// keys seen last, found from the length and three bytes, answers most
// lookups before the text is hashed.
class KeyStrCache {
 public:
  KeyStrCache() = default;
  ~KeyStrCache();
  KeyStrCache(const KeyStrCache&) = delete;
  KeyStrCache& operator=(const KeyStrCache&) = delete;

  // A new reference to the str for `text`, or null with the exception set.
  PyObject* get(std::string_view text);
  // Tells the cache that get(text) comes next: once the table outgrows the
  // processor's caches (a document of many distinct keys), the slots that
  // lookup reads are loaded meanwhile, and its hash is kept for it.
  void prefetch(std::string_view text) noexcept;

 private:
  struct Slot {
    const char* data = nullptr;  // the key's text (its str's own bytes, or in texts_)
    std::size_t size = 0;
    std::size_t hash = 0;
    PyObject* str = nullptr;  // owned; null: the slot is free
  };
  static constexpr std::size_t kFirstCapacity = 32;  // a power of two
  static constexpr std::size_t kRecent = 128;
  static std::size_t recent_index(std::string_view text) noexcept;
  // Whether the `text.size()` bytes at `data` equal `text`.
  static bool same_bytes(const char* data, std::string_view text) noexcept;
  PyObject* get_slow(std::string_view text, std::uint32_t& recent);
  PyObject* insert(std::string_view text, std::size_t hash, std::size_t at);
  void grow();

  // Below this capacity the table stays in the processor's caches and
  // prefetching would only add work.
  static constexpr std::size_t kPrefetchCapacity = std::size_t{1} << 14;
  std::array<std::uint32_t, kRecent> recent_{};  // slot index + 1 of a recent key, or 0
  // The key that prefetch saw last, and its hash.
  const char* prefetched_ = nullptr;
  std::size_t prefetched_size_ = 0;
  std::size_t prefetched_hash_ = 0;
  std::vector<Slot, BlockAllocator<Slot>> slots_;  // a large table is mapped on its own
  std::size_t mask_ = 0;  // capacity - 1 once slots_ exists
  std::size_t used_ = 0;
  // The texts of non-ASCII keys (a list: no allocation while empty, and the
  // texts never move).
  std::forward_list<std::string> texts_;
};

// A load's duplicate-key policy as the conversions apply it.  The core
// compares keys before any object exists; only the built dict knows Python
// equality (what tag callbacks return, say).  So a store that leaves the
// dict no larger loses a pair (where merged pairs are placed by origin, one
// that replaced a value of the same origin): unless the core reported that key, the
// conversion reports it as the core would ("duplicate mapping key: ..."
// raised, or the warning logged once the conversion is done).
struct DuplicateKeyCheck {
  DuplicateKeyPolicy policy = DuplicateKeyPolicy::Silent;
  const KeyTags* key_tags = nullptr;  // as the core compared keys (borrowed)
  std::string_view text;              // the text the tree was read from: where keys stand

  bool on() const noexcept { return policy != DuplicateKeyPolicy::Silent; }
};

// Places the pairs of a mapping that holds merged pairs in its dict when tag
// callbacks may make keys equal that merge folding told apart (it compares
// keys before any callback ran): a merged pair never replaces the value of
// an own pair or of an earlier source's pair, as own keys and earlier
// sources win, while pairs of one origin replace each other as that
// origin's own dict would (the last value).
//
//   MergedPairStore store(dict);
//   MergedStore outcome;
//   if (store.store(key, value, source, outcome) < 0) ...;  // exception set
//   if (outcome == MergedStore::Replaced) ...;               // a lost pair
enum class MergedStore : std::uint8_t {
  Added,     // stored; no pair of the same origin had the key
  Replaced,  // replaced the value of a pair of the same origin: a repeated key
  Kept,      // not stored: the key came first from an own pair or an earlier source
};

class MergedPairStore {
 public:
  explicit MergedPairStore(PyObject* dict) noexcept : dict_(dict) {}
  MergedPairStore(const MergedPairStore&) = delete;
  MergedPairStore& operator=(const MergedPairStore&) = delete;

  // Stores one pair in fold order; `source`: 0 for an own pair (or the
  // merge slot's), n for a pair of the n-th merge source.  -1 with the
  // interpreter's exception set when hashing or comparing the key failed.
  int store(PyObject* key, PyObject* value, std::uint32_t source, MergedStore& outcome);

 private:
  PyObject* dict_;    // borrowed
  OwnedRef origins_;  // key -> source number, for the keys merged pairs added
};

// One document to a Python object.  `ascii_texts`: every text in the tree is
// ASCII (DecodedStream::ascii_texts), so strs are made without looking.
PyResult<OwnedRef> document_to_py(const YamlValue& document, const TagHandlers& handlers,
                                  bool ascii_texts = false, const DuplicateKeyCheck& duplicates = {});

// Every document of a stream, in order, into a new list (one key cache for
// all of them).
PyResult<OwnedRef> documents_to_py_list(std::span<const YamlValue> documents, const TagHandlers& handlers,
                                        bool ascii_texts = false, const DuplicateKeyCheck& duplicates = {});

// The object that stands for a node tagged `tag` whose value converted to
// `value`: the `tags` entry's callable, else `tag_handler`, else a
// KestrineTag under passthrough, else `value` itself.  A verbatim tag
// "!<...>" is unwrapped first.
PyResult<OwnedRef> apply_tag(std::string_view tag, OwnedRef value, const TagHandlers& handlers);

// The custom tags `handlers` keep on keys (what apply_tag does not drop), so
// that the duplicate-key checks compare keys as they will stand in Python:
// every tag under a tag_handler or passthrough, else the `tags` names that
// are str.
KeyTags key_tags_of(const TagHandlers& handlers);

// A date, a naive datetime, or an aware one with a datetime.timezone.  The
// first call in a process imports the datetime module (Python code: never
// call this from a noexcept frame).
PyResult<OwnedRef> timestamp_to_py(const Timestamp& ts);

// An int from decimal digits (underscores ignored); text that is not a
// number (or too long for the interpreter's int parser) is returned as str.
PyResult<OwnedRef> bigint_to_py(std::string_view digits) noexcept;

}  // namespace kestrine
