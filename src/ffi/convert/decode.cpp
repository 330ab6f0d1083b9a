#include "ffi/convert/decode.hpp"

#include <datetime.h>

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

#include "decode/duplicate_keys.hpp"
#include "decode/merge.hpp"
#include "ffi/errors.hpp"
#include "ffi/types/tag.hpp"
#include "resolver/kind.hpp"
#include "util/hash_map.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"
#include "util/unaligned.hpp"

namespace kestrine {
namespace {

// ---------------------------------------------------------------------------
// Small object constructors (new reference, or null with an exception set)

// ---------------------------------------------------------------------------
// datetime

std::atomic<PyDateTime_CAPI*> g_datetime_api{nullptr};

// Whether a GcPause of this thread has the collector paused (see GcPause).
thread_local bool t_gc_paused = false;

// The first use imports the datetime module: Python code, which may let
// other threads run and, at interpreter exit, may end this thread with a
// forced unwind.  So it is never called from a noexcept frame, and a paused
// collector is resumed around it (other threads may run meanwhile).
PyDateTime_CAPI* import_datetime_api() {
  if (t_gc_paused) PyGC_Enable();
  auto* api = static_cast<PyDateTime_CAPI*>(PyCapsule_Import(PyDateTime_CAPSULE_NAME, 0));
  if (t_gc_paused) PyGC_Disable();
  if (api == nullptr) return nullptr;  // not cached: the next call tries again
  PyDateTime_CAPI* expected = nullptr;
  if (!g_datetime_api.compare_exchange_strong(expected, api, std::memory_order_acq_rel)) api = expected;
  PyDateTimeAPI = api;  // this unit's copy of the header's pointer, for the macros
  return api;
}

inline PyDateTime_CAPI* datetime_api() {
  PyDateTime_CAPI* api = g_datetime_api.load(std::memory_order_acquire);
  if (api != nullptr) [[likely]] return api;
  return import_datetime_api();
}

PyObject* make_timezone(std::int32_t offset_minutes) {
  PyDateTime_CAPI* api = datetime_api();
  if (api == nullptr) return nullptr;
  PyObject* delta = api->Delta_FromDelta(0, offset_minutes * 60, 0, 1, api->DeltaType);
  if (delta == nullptr) return nullptr;
  PyObject* tz = api->TimeZone_FromTimeZone(delta, nullptr);
  Py_DECREF(delta);
  return tz;
}

PyObject* make_timestamp(const Timestamp& ts, PyObject* tz) {
  PyDateTime_CAPI* api = datetime_api();
  if (api == nullptr) return nullptr;
  if (const Date* d = std::get_if<Date>(&ts)) {
    return api->Date_FromDate(d->year, d->month, d->day, api->DateType);
  }
  const DateTime& dt = std::get<DateTime>(ts);
  return api->DateTime_FromDateAndTime(dt.year, dt.month, dt.day, dt.hour, dt.minute, dt.second,
                                       static_cast<int>(dt.microsecond), tz != nullptr ? tz : Py_None,
                                       api->DateTimeType);
}

// ---------------------------------------------------------------------------
// Big integers

// Never throws (the scalar readers that call it are noexcept): the copy
// without underscores lives in interpreter memory.
PyObject* bigint_object(std::string_view digits) noexcept {
  char* clean = static_cast<char*>(PyMem_Malloc(digits.size() + 1));
  if (clean == nullptr) return PyErr_NoMemory();
  std::size_t size = 0;
  for (char ch : digits) {
    if (ch != '_') clean[size++] = ch;
  }
  clean[size] = '\0';  // the interpreter's parser reads up to the first NUL
  const std::string_view text(clean, size);
  PyObject* value = nullptr;
  if (text.find('\0') == std::string_view::npos) {
    value = PyLong_FromString(clean, nullptr, 10);
    if (value == nullptr) PyErr_Clear();
  }
  if (value == nullptr) value = str_from_utf8(text);
  PyMem_Free(clean);
  return value;
}

// ---------------------------------------------------------------------------
// Tags

PyObject* apply_tag_raw(std::string_view tag, PyObject* value, const TagHandlers& h) {
  // `value` is a new reference that this function consumes.
  tag = unwrap_verbatim_tag(tag);
  if (h.tags != nullptr) {
    PyObject* key = str_from_utf8(tag);
    if (key == nullptr) {
      Py_DECREF(value);
      return nullptr;
    }
    PyObject* entry = PyDict_GetItemWithError(h.tags, key);  // borrowed
    Py_DECREF(key);
    if (entry == nullptr && PyErr_Occurred()) {
      Py_DECREF(value);
      return nullptr;
    }
    if (entry != nullptr) {
      Py_INCREF(entry);  // the callable may drop its own dict entry
      PyObject* result = PyObject_CallOneArg(entry, value);
      Py_DECREF(entry);
      Py_DECREF(value);
      return result;
    }
  }
  if (h.tag_handler != nullptr) {
    PyObject* tag_str = str_from_utf8(tag);
    if (tag_str == nullptr) {
      Py_DECREF(value);
      return nullptr;
    }
    PyObject* args[2] = {tag_str, value};
    PyObject* result = PyObject_Vectorcall(h.tag_handler, args, 2, nullptr);
    Py_DECREF(tag_str);
    Py_DECREF(value);
    return result;
  }
  if (h.passthrough_tag) {
    auto obj = new_kestrine_tag(tag, value);
    Py_DECREF(value);
    if (!obj) {
      std::move(obj.error()).restore();
      return nullptr;
    }
    return obj->release();
  }
  return value;
}

// Replaces the pending exception of a failed dict store by the decode error
// for an unhashable key (the interpreter's TypeError kept as the cause).
// Other failures (out of memory, a user __eq__ that raised) pass unchanged.
void report_unhashable_key() noexcept {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyErr cause = PyErr::fetch();
  PyErr err = decode_error_to_py("mapping key is not hashable in Python");
  err.set_cause(std::move(cause));
  std::move(err).restore();
}

// ---------------------------------------------------------------------------
// The converter

// Converts value trees with one key cache.  Internally every step returns a
// new reference, or null with the interpreter's exception set (the C API's
// own convention, which keeps the recursion free of result wrappers); the
// public functions turn that into PyResult values.
class PlainConverter {
 public:
  PlainConverter(const TagHandlers& handlers, bool ascii_texts, const DuplicateKeyCheck& duplicates)
      : handlers_(handlers), ascii_texts_(ascii_texts), duplicates_(duplicates) {}
  ~PlainConverter() {
    for (auto& entry : zones_) Py_DECREF(entry.second);
    for (auto& entry : shared_texts_) Py_DECREF(entry.second.object);
  }
  PlainConverter(const PlainConverter&) = delete;
  PlainConverter& operator=(const PlainConverter&) = delete;

  // The warnings of lost pairs, in the order found.
  std::vector<std::string> warnings() noexcept {
    return lost_ ? std::move(lost_->warnings) : std::vector<std::string>();
  }

  PyObject* convert(const YamlValue& v, unsigned depth) {
    if ((v.flags & YamlValue::kSharedTexts) && !shared_) [[unlikely]]
      return sharing_texts([&] { return convert_value(v, depth); });
    return convert_value(v, depth);
  }

  PyObject* convert_value(const YamlValue& v, unsigned depth) {
    switch (v.kind) {
      case ValueKind::Null:
        return Py_NewRef(Py_None);
      case ValueKind::Bool:
        return Py_NewRef(v.boolean ? Py_True : Py_False);
      case ValueKind::Int:
        return PyLong_FromLongLong(v.integer);
      case ValueKind::BigInt:
        return shared_ ? shared_text(v) : bigint_object(v.text());
      case ValueKind::Float:
        return PyFloat_FromDouble(v.real);
      case ValueKind::String:
        return shared_ ? shared_text(v) : text_str(v.text());
      case ValueKind::Timestamp:
        return timestamp(v.timestamp());
      case ValueKind::Sequence:
        return sequence(v, depth);
      case ValueKind::Mapping:
        // Without callbacks the fold compared keys as Python will.
        if ((v.flags & YamlValue::kMergedPairs) && handlers_.calls_back()) [[unlikely]]
          return merged_mapping(v, depth);
        // The check of lost pairs has a loop of its own: the usual one
        // stays as small as without it.
        return duplicates_.on() ? mapping<true>(v, depth) : mapping<false>(v, depth);
      case ValueKind::Tagged:
        return tagged(v, depth);
    }
    PyErr_SetString(PyExc_SystemError, "unknown value kind");
    return nullptr;
  }

  // A child of a collection at nesting level `depth`; every 8 levels the
  // native stack is checked (and the walk moves to a new segment if short).
  PyObject* child(const YamlValue& v, unsigned depth) {
    if (depth % 8 == 0 && (v.kind == ValueKind::Sequence || v.kind == ValueKind::Mapping ||
                           v.kind == ValueKind::Tagged)) {
      return stack_guarded([&] { return convert(v, depth); });
    }
    return convert(v, depth);
  }

  PyObject* key_child(const YamlValue& v, unsigned depth) {
    if (depth % 8 == 0) return stack_guarded([&] { return hashable_key(v, depth); });
    return hashable_key(v, depth);
  }

 private:
  PyObject* sequence(const YamlValue& v, unsigned depth) {
    const auto items = v.items();
    OwnedRef list = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
      PyObject* item;
      if (!scalar_item(items[i], item)) item = child(items[i], depth + 1);
      if (item == nullptr) return nullptr;
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
  }

  // A null, boolean or number item, made inline in the loop that fills a
  // list: true, with `out` the new reference (or null with the exception
  // set); false for any other kind.  These kinds carry no text, so the
  // sharing of anchored texts plays no part.
  [[gnu::always_inline]] static bool scalar_item(const YamlValue& v, PyObject*& out) noexcept {
    switch (v.kind) {
      case ValueKind::Null:
        out = Py_NewRef(Py_None);
        return true;
      case ValueKind::Bool:
        out = Py_NewRef(v.boolean ? Py_True : Py_False);
        return true;
      case ValueKind::Int:
        out = PyLong_FromLongLong(v.integer);
        return true;
      case ValueKind::Float:
        out = PyFloat_FromDouble(v.real);
        return true;
      default:
        return false;
    }
  }

  template <bool kCheck>
  PyObject* mapping(const YamlValue& v, unsigned depth) {
    const auto pairs = v.pairs();
    OwnedRef dict = OwnedRef::steal(new_presized_dict(pairs.size()));
    if (!dict) return nullptr;
    Py_ssize_t size = 0;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      const ValuePair& pair = pairs[i];
      if (i + 1 < pairs.size() && pairs[i + 1].key.kind == ValueKind::String) keys_.prefetch(pairs[i + 1].key.text());
      OwnedRef key = OwnedRef::steal(key_object(pair.key, depth + 1));
      if (!key) return nullptr;
      OwnedRef value = OwnedRef::steal(child(pair.value, depth + 1));
      if (!value) return nullptr;
      if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) {
        report_unhashable_key();
        return nullptr;
      }
      if constexpr (kCheck) {
        const Py_ssize_t now = PyDict_GET_SIZE(dict.get());
        if (now == size && !lost_pair(v, i)) return nullptr;
        size = now;
      }
    }
    return dict.release();
  }

  // A mapping holding merged pairs, under tag callbacks that may make keys
  // equal that the fold told apart: the pairs are placed by their origin
  // (MergedPairStore), and only a key repeated within one origin is lost.
  [[gnu::noinline]] PyObject* merged_mapping(const YamlValue& v, unsigned depth) {
    const auto pairs = v.pairs();
    OwnedRef dict = OwnedRef::steal(new_presized_dict(pairs.size()));
    if (!dict) return nullptr;
    MergedPairStore store(dict.get());
    std::uint32_t source = 0;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      const ValuePair& pair = pairs[i];
      OwnedRef key = OwnedRef::steal(key_object(pair.key, depth + 1));
      if (!key) return nullptr;
      OwnedRef value = OwnedRef::steal(child(pair.value, depth + 1));
      if (!value) return nullptr;
      source += (pair.key.flags & YamlValue::kMergeSourceStart) != 0;
      MergedStore outcome;
      if (store.store(key.get(), value.get(), (pair.key.flags & YamlValue::kMergedKey) ? source : 0, outcome) < 0) {
        report_unhashable_key();
        return nullptr;
      }
      if (outcome == MergedStore::Replaced && duplicates_.on() && !lost_pair(v, i)) return nullptr;
    }
    return dict.release();
  }

  // What tells one written key from another across the copies that merging
  // makes of a source's pairs: the address of the text or record it refers
  // to, else (keys without one) the pair's own place.
  static const void* written_key(const YamlValue& key) noexcept {
    switch (key.kind) {
      case ValueKind::String:
      case ValueKind::BigInt:
        return key.size() != 0 ? static_cast<const void*>(key.text().data()) : &key;
      case ValueKind::Tagged:
        return &key.tagged();
      case ValueKind::Timestamp:
        return &key.timestamp();
      case ValueKind::Sequence:
      case ValueKind::Mapping:
        return key.size() != 0 ? static_cast<const void*>(key.items().data()) : &key;
      default:
        return &key;
    }
  }

  // Pair `i` of `mapping` replaced an equal key's value: reported unless the
  // core did; false with the exception set for the error.  A key read more
  // than once (a mapping that aliases share, a source that several merges
  // read) is reported once.  Out of line: the loop that fills a dict stays
  // small.
  [[gnu::noinline, gnu::cold]] bool lost_pair(const YamlValue& mapping, std::size_t i) {
    const YamlValue& key = mapping.pairs()[i].key;
    if (duplicates_.policy == DuplicateKeyPolicy::Warn) {
      if (!lost_) lost_ = std::make_unique<LostPairs>();
      LostPairs& lost = *lost_;
      if (lost.repeated_for != mapping.pairs().data()) {
        lost.repeated = repeated_pairs(mapping, duplicates_.key_tags);
        lost.repeated_for = mapping.pairs().data();
      }
      if (lost.repeated[i] || !lost.reported.insert(written_key(key)).second) return true;
    }
    const std::string shown = shown_key(key, duplicates_.key_tags);
    const std::optional<Span> place = key_place(key, duplicates_.text);
    if (duplicates_.policy == DuplicateKeyPolicy::Warn) {
      lost_->warnings.push_back(duplicate_key_warning(shown, place));
      return true;
    }
    PyErr error = place ? decoder_error_to_py(DecoderError{duplicate_key_message(shown), *place,
                                                           DecoderErrorKind::DuplicateKey})
                        : duplicate_key_error_to_py(duplicate_key_message(shown));
    std::move(error).restore();
    return false;
  }


  PyObject* tagged(const YamlValue& v, unsigned depth) {
    const TaggedValue& t = v.tagged();
    PyObject* inner = child(t.inner, depth + 1);
    if (inner == nullptr) return nullptr;
    // A merge marker that merge folding left in place reads as its text.
    if (t.tag == kMergeTag) return inner;
    return apply_tag_raw(t.tag, inner, handlers_);
  }

  PyObject* timestamp(const Timestamp& ts) {
    PyObject* tz = nullptr;
    if (const DateTime* dt = std::get_if<DateTime>(&ts); dt != nullptr && dt->offset_minutes) {
      tz = zone(*dt->offset_minutes);
      if (tz == nullptr) return nullptr;
    }
    return make_timestamp(ts, tz);
  }

  // One timezone object per distinct offset and call (borrowed).
  PyObject* zone(std::int32_t offset) {
    for (auto& entry : zones_) {
      if (entry.first == offset) return entry.second;
    }
    OwnedRef tz = OwnedRef::steal(make_timezone(offset));
    if (!tz) return nullptr;
    zones_.emplace_back(offset, tz.get());  // if this throws, `tz` still frees the zone
    return tz.release();                    // the cache's reference; borrowed by the caller
  }

  // The object for a String or BigInt text inside an anchored subtree: one
  // per text, found by the text's address (an alias refers to the very bytes
  // of its anchor), so neither hashing nor copying grows with the text.
  // Sharing is invisible: str and int objects are immutable.
  PyObject* shared_text(const YamlValue& v) {
    const std::string_view text = v.text();
    const bool is_str = v.kind == ValueKind::String;
    if (text.empty()) return is_str ? str_from_utf8(text) : bigint_object(text);
    auto found = shared_texts_.find(text.data());
    if (found != shared_texts_.end() && found->second.size == text.size() && found->second.kind == v.kind)
      return Py_NewRef(found->second.object);
    OwnedRef obj = OwnedRef::steal(is_str ? text_str(text) : bigint_object(text));
    if (!obj) return nullptr;
    if (found == shared_texts_.end()) {
      shared_texts_.emplace(text.data(), SharedText{obj.get(), text.size(), v.kind});
      Py_INCREF(obj.get());  // the cache's reference
    }
    return obj.release();
  }

  PyObject* text_str(std::string_view text) const noexcept {
    return ascii_texts_ ? str_from_ascii(text) : str_from_utf8(text);
  }

  // A mapping key: strings through the cache, collections as tuples,
  // anything else as a value.
  PyObject* key_object(const YamlValue& key, unsigned depth) {
    switch (key.kind) {
      case ValueKind::String:
        if ((shared_ || (key.flags & YamlValue::kSharedTexts)) && key.size() > kLongKey) [[unlikely]]
          return shared_text(key);
        return keys_.get(key.text());
      case ValueKind::Sequence:
      case ValueKind::Mapping:
      case ValueKind::Tagged:
        return key_child(key, depth);
      default:
        return child(key, depth);
    }
  }

  // Runs `f` with the texts it converts shared (an anchored subtree).
  template <class F>
  PyObject* sharing_texts(F&& f) {
    shared_ = true;
    PyObject* obj = f();
    shared_ = false;
    return obj;
  }

  // A collection used as a key: a sequence becomes a tuple of its items, a
  // mapping a tuple of (key, value) tuples, all converted the same way.  A
  // tagged node inside a key (or the key itself) goes to the tag callbacks
  // in that form, so a tag alone never makes a key unhashable ("? !t [1]"
  // is (1,) as "? [1]" is); a callback may still return an unhashable
  // object, which storing the key reports.
  PyObject* hashable_key(const YamlValue& v, unsigned depth) {
    if ((v.flags & YamlValue::kSharedTexts) && !shared_) [[unlikely]]
      return sharing_texts([&] { return hashable_key(v, depth); });
    if (v.kind == ValueKind::Tagged) {
      const TaggedValue& t = v.tagged();
      PyObject* inner = key_child(t.inner, depth + 1);
      if (inner == nullptr || t.tag == kMergeTag) return inner;
      return apply_tag_raw(t.tag, inner, handlers_);
    }
    if (v.kind == ValueKind::Sequence) {
      const auto items = v.items();
      OwnedRef tuple = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
      if (!tuple) return nullptr;
      for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* item = key_child(items[i], depth + 1);
        if (item == nullptr) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
      }
      return tuple.release();
    }
    if (v.kind == ValueKind::Mapping) {
      const auto pairs = v.pairs();
      OwnedRef tuple = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(pairs.size())));
      if (!tuple) return nullptr;
      for (std::size_t i = 0; i < pairs.size(); ++i) {
        OwnedRef pair = OwnedRef::steal(PyTuple_New(2));
        if (!pair) return nullptr;
        PyObject* k = key_child(pairs[i].key, depth + 1);
        if (k == nullptr) return nullptr;
        PyTuple_SET_ITEM(pair.get(), 0, k);
        PyObject* val = key_child(pairs[i].value, depth + 1);
        if (val == nullptr) return nullptr;
        PyTuple_SET_ITEM(pair.get(), 1, val);
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), pair.release());
      }
      return tuple.release();
    }
    return convert(v, depth);
  }

  // Keys longer than this inside anchored subtrees are found by address, not
  // hashed by content once per alias.
  static constexpr std::size_t kLongKey = 64;
  struct SharedText {
    PyObject* object;  // owned
    std::size_t size;
    ValueKind kind;
  };

  const TagHandlers& handlers_;
  const bool ascii_texts_;  // every text is ASCII (DecodedStream::ascii_texts)
  const DuplicateKeyCheck duplicates_;
  // What lost pairs under the warn policy need; made by the first.
  struct LostPairs {
    std::vector<std::string> warnings;         // in the order found
    SeededHashSet<const void*> reported;       // keys warned about (written_key)
    const ValuePair* repeated_for = nullptr;   // the mapping whose verdicts `repeated` holds
    std::vector<bool> repeated;                // the core's verdicts on its keys
  };
  std::unique_ptr<LostPairs> lost_;
  KeyStrCache keys_;
  std::vector<std::pair<std::int32_t, PyObject*>> zones_;   // offset -> timezone (owned)
  SeededHashMap<const char*, SharedText> shared_texts_;     // anchored texts by address
  bool shared_ = false;                                      // inside an anchored subtree
};

}  // namespace

PyObject* new_presized_dict(std::size_t n) noexcept {
#if PY_VERSION_HEX < 0x030D0000
  if (n > 5) return _PyDict_NewPresized(static_cast<Py_ssize_t>(n));
#else
  (void)n;
#endif
  return PyDict_New();
}

KeyStrCache::~KeyStrCache() {
  if (slots_.empty()) return;
  for (std::size_t i = 0; i <= mask_; ++i) Py_XDECREF(slots_[i].str);
}

// The cache alone makes equal keys one object per call.  Interning them in
// the interpreter's table as well measured about 13% slower on a corpus of
// small configuration files (one lookup in a large table per distinct key)
// and buys nothing inside the result.
PyObject* KeyStrCache::get(std::string_view text) {
  std::uint32_t& recent = recent_[recent_index(text)];
  if (recent != 0) [[likely]] {
    const Slot& slot = slots_[recent - 1];
    if (slot.size == text.size() && same_bytes(slot.data, text)) return Py_NewRef(slot.str);
  }
  return get_slow(text, recent);
}

// Keys are mostly short: up to 16 bytes compare as two overlapping words,
// without a call.
bool KeyStrCache::same_bytes(const char* data, std::string_view text) noexcept {
  const std::size_t n = text.size();
  const char* t = text.data();
  if (n >= 8 && n <= 16) return load_u64(data) == load_u64(t) && load_u64(data + n - 8) == load_u64(t + n - 8);
  if (n >= 4 && n < 8) return load_u32(data) == load_u32(t) && load_u32(data + n - 4) == load_u32(t + n - 4);
  return std::string_view(data, n) == text;
}

// The length and the first, middle and last bytes: keys that recur differ
// there.
std::size_t KeyStrCache::recent_index(std::string_view text) noexcept {
  const std::size_t n = text.size();
  if (n == 0) return 0;
  const auto first = static_cast<unsigned char>(text[0]);
  const auto middle = static_cast<unsigned char>(text[n / 2]);
  const auto last = static_cast<unsigned char>(text[n - 1]);
  return (n * 31 + first * 7 + middle * 3 + last) % kRecent;
}

void KeyStrCache::prefetch(std::string_view text) noexcept {
  if (mask_ < kPrefetchCapacity) return;
  if (const std::uint32_t recent = recent_[recent_index(text)]; recent != 0) __builtin_prefetch(&slots_[recent - 1]);
  prefetched_ = text.data();
  prefetched_size_ = text.size();
  prefetched_hash_ = SeededStringHash{}(text);
  __builtin_prefetch(&slots_[prefetched_hash_ & mask_]);
}

PyObject* KeyStrCache::get_slow(std::string_view text, std::uint32_t& recent) {
  if (slots_.empty()) {
    slots_.resize(kFirstCapacity);
    mask_ = kFirstCapacity - 1;
  }
  // The same bytes in memory: the hash prefetch computed for them.
  const std::size_t hash = text.data() == prefetched_ && text.size() == prefetched_size_ && prefetched_ != nullptr
                               ? prefetched_hash_
                               : SeededStringHash{}(text);
  for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
    const Slot& slot = slots_[i];
    if (slot.str == nullptr) return insert(text, hash, i);
    if (slot.hash == hash && slot.size == text.size() && same_bytes(slot.data, text)) {
      recent = static_cast<std::uint32_t>(i + 1);  // a key that recurs takes the recent entry
      return Py_NewRef(slot.str);
    }
  }
}

// Fills the free slot `at` with a new str for `text`.
PyObject* KeyStrCache::insert(std::string_view text, std::size_t hash, std::size_t at) {
  OwnedRef owned = OwnedRef::steal(str_from_utf8(text));
  if (!owned) return nullptr;
  PyObject* const str = owned.get();
  (void)PyObject_Hash(str);  // a str's hash cannot fail; kept in the object
  const std::optional<std::string_view> own = compact_ascii_view(str);
  const std::string_view key = own ? *own : std::string_view(texts_.emplace_front(text));
  slots_[at] = Slot{key.data(), key.size(), hash, owned.release()};  // the cache's reference from here on
  if (++used_ * 2 > mask_ + 1) {
    grow();
  } else if (std::uint32_t& recent = recent_[recent_index(text)]; recent == 0) {
    recent = static_cast<std::uint32_t>(at + 1);  // a key seen once takes only a free entry
  }
  return Py_NewRef(str);  // and one for the caller
}

// Doubles the table, keeping it at most half full.  Only called right after
// an insertion, so a failed allocation (std::bad_alloc) leaves a valid table.
void KeyStrCache::grow() {
  const std::size_t capacity = (mask_ + 1) * 2;
  std::vector<Slot, BlockAllocator<Slot>> slots(capacity);
  const std::size_t mask = capacity - 1;
  for (std::size_t i = 0; i <= mask_; ++i) {
    const Slot& old = slots_[i];
    if (old.str == nullptr) continue;
    std::size_t j = old.hash & mask;
    while (slots[j].str != nullptr) j = (j + 1) & mask;
    slots[j] = old;
  }
  slots_ = std::move(slots);
  mask_ = mask;
  recent_.fill(0);  // slot numbers changed
}

GcPause::GcPause(bool active) noexcept {
  if (!active || t_gc_paused) return;
  paused_ = PyGC_Disable() != 0;
  t_gc_paused = paused_;
}

GcPause::~GcPause() {
  if (!paused_) return;
  t_gc_paused = false;
  PyGC_Enable();
}

PyResult<OwnedRef> document_to_py(const YamlValue& document, const TagHandlers& handlers, bool ascii_texts,
                                  const DuplicateKeyCheck& duplicates) {
  std::vector<std::string> warnings;
  PyResult<OwnedRef> result = [&] {
    GcPause pause(!handlers.calls_back());
    PlainConverter converter(handlers, ascii_texts, duplicates);
    PyResult<OwnedRef> obj = checked(converter.child(document, 0));
    warnings = converter.warnings();
    return obj;
  }();
  // Logging runs the handlers' code: once the collector runs again.
  log_warnings(warnings);
  return result;
}

PyResult<OwnedRef> documents_to_py_list(std::span<const YamlValue> documents, const TagHandlers& handlers,
                                        bool ascii_texts, const DuplicateKeyCheck& duplicates) {
  std::vector<std::string> warnings;
  PyResult<OwnedRef> result = [&]() -> PyResult<OwnedRef> {
    GcPause pause(!handlers.calls_back());
    PlainConverter converter(handlers, ascii_texts, duplicates);
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, checked(PyList_New(static_cast<Py_ssize_t>(documents.size()))));
    for (std::size_t i = 0; i < documents.size(); ++i) {
      PyObject* item = converter.child(documents[i], 0);
      if (item == nullptr) {
        warnings = converter.warnings();
        return fail_fetch();
      }
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    warnings = converter.warnings();
    return list;
  }();
  log_warnings(warnings);
  return result;
}

int MergedPairStore::store(PyObject* key, PyObject* value, std::uint32_t source, MergedStore& outcome) {
  outcome = MergedStore::Added;
  if (source == 0) {
    const Py_ssize_t before = PyDict_GET_SIZE(dict_);
    if (PyDict_SetItem(dict_, key, value) < 0) return -1;
    if (PyDict_GET_SIZE(dict_) != before) return 0;
    // The key was there: an own key wins over a merged pair's, and repeats
    // an own pair's.
    const int merged = origins_ ? PyDict_Contains(origins_.get(), key) : 0;
    if (merged < 0) return -1;
    if (merged == 1) return PyDict_DelItem(origins_.get(), key);
    outcome = MergedStore::Replaced;
    return 0;
  }
  const int present = PyDict_Contains(dict_, key);
  if (present < 0) return -1;
  if (present == 0) {
    if (!origins_) {
      origins_ = OwnedRef::steal(PyDict_New());
      if (!origins_) return -1;
    }
    OwnedRef number = OwnedRef::steal(PyLong_FromUnsignedLong(source));
    if (!number || PyDict_SetItem(origins_.get(), key, number.get()) < 0) return -1;
    return PyDict_SetItem(dict_, key, value);
  }
  PyObject* origin = origins_ ? PyDict_GetItemWithError(origins_.get(), key) : nullptr;  // borrowed
  if (origin == nullptr && PyErr_Occurred()) return -1;
  if (origin == nullptr || PyLong_AsUnsignedLong(origin) != source) {
    outcome = MergedStore::Kept;
    return 0;
  }
  outcome = MergedStore::Replaced;
  return PyDict_SetItem(dict_, key, value);
}

PyResult<OwnedRef> apply_tag(std::string_view tag, OwnedRef value, const TagHandlers& handlers) {
  PyObject* result = apply_tag_raw(tag, value.release(), handlers);
  if (result == nullptr) return fail_fetch();
  return OwnedRef::steal(result);
}

KeyTags key_tags_of(const TagHandlers& handlers) {
  KeyTags kept;
  kept.keep_all = handlers.tag_handler != nullptr || handlers.passthrough_tag;
  if (kept.keep_all || handlers.tags == nullptr) return kept;
  Py_ssize_t pos = 0;
  PyObject* name = nullptr;
  PyObject* callable = nullptr;
  while (PyDict_Next(handlers.tags, &pos, &name, &callable)) {
    if (!PyUnicode_Check(name)) continue;  // never found under a tag's str
    // A name with lone surrogates has no UTF-8 form, and no tag is spelled so.
    if (auto text = str_view(name)) kept.names.emplace_back(*text);
  }
  return kept;
}

PyResult<OwnedRef> timestamp_to_py(const Timestamp& ts) {
  OwnedRef tz;
  if (const DateTime* dt = std::get_if<DateTime>(&ts); dt != nullptr && dt->offset_minutes) {
    tz = OwnedRef::steal(make_timezone(*dt->offset_minutes));
    if (!tz) return fail_fetch();
  }
  return checked(make_timestamp(ts, tz.get()));
}

PyResult<OwnedRef> bigint_to_py(std::string_view digits) noexcept { return checked(bigint_object(digits)); }

}  // namespace kestrine
