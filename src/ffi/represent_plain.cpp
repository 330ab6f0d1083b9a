#include "ffi/represent_plain.hpp"

#include <cstdint>
#include <string>
#include <utility>

#include "emit_util/scalar_text.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/output_buffer.hpp"
#include "util/hash_map.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

// The attempt leaves data nested deeper than kMaxPlainDepth to the node
// walk, which takes at most a few KiB of stack per level (more in a
// sanitizer build): with kStackNeeded left it cannot run short that far
// down, so an attempt that gets through never hides the node walk's
// "too deep" error.
constexpr std::uint32_t kMaxPlainDepth = 256;
constexpr std::size_t kStackNeeded = (std::size_t{4} << 20) + kStackRedZone;
static_assert(kMaxPlainDepth < kMaxEncodeDepth);

// A key of more than this many bytes of text, counting kKeyEntryBytes more
// for each object in it, stops the attempt: written out it could pass the
// implicit-key limit, where the two writers lay the entry out differently.
// (A text byte takes at most 4 bytes once escaped; a number, a keyword,
// quotes or a separator fit in 4 * kKeyEntryBytes.)
constexpr std::size_t kKeyTextLimit = 200;
constexpr std::size_t kKeyEntryBytes = 24;
static_assert(4 * kKeyTextLimit < kMaxImplicitKeyBytes);

// The plain writer writes a text that fits a literal block as one; the
// emitter quotes it when its last line holds only blanks (which would read
// back as trailing space).  Such a text ends, before its line feeds, in a
// blank, which most texts do not.
bool writers_differ_on_block(std::string_view text) noexcept {
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] == '\n') --end;
  if (end == 0 || (text[end - 1] != ' ' && text[end - 1] != '\t')) return false;
  return literal_block_suits(text) && !fits_block_scalar(text);
}

class PlainAttempt {
 public:
  PlainAttempt(PyObject* represent, ReplayLog& log) noexcept : represent_(represent), log_(log) {}
  PlainAttempt(const PlainAttempt&) = delete;
  PlainAttempt& operator=(const PlainAttempt&) = delete;

  // Fills `out`; false when the attempt stopped (the log says where).
  PyResult<bool> value(PyObject* obj, std::uint32_t depth, bool in_key, YamlValue& out);

  ValueArena& arena() noexcept { return arena_; }
  std::size_t output_estimate() const noexcept { return output_estimate_; }

 private:
  PyObject* represent_;
  ReplayLog& log_;
  ValueArena arena_{std::size_t{64} << 10};
  SeededHashSet<std::uint64_t> seen_;  // tracked objects met
  std::size_t key_bytes_ = 0;          // text bytes of the key being built
  std::size_t output_estimate_ = 256;

  // Stops after the call that answered `answer`.
  PyResult<bool> stop_after(OwnedRef answer) {
    --log_.none_answers;
    log_.last_answer = std::move(answer);
    return false;
  }
  PyResult<bool> text(PyObject* obj, bool in_key, YamlValue& out);
  PyResult<bool> collection(PyObject* obj, std::uint32_t depth, bool in_key, YamlValue& out);
};

PyResult<bool> PlainAttempt::value(PyObject* obj, std::uint32_t depth, bool in_key, YamlValue& out) {
  if (depth > kMaxPlainDepth) return false;
  output_estimate_ += 2 * depth + 8;
  PyTypeObject* const type = Py_TYPE(obj);
  const bool scalar = type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type ||
                      type == &PyBool_Type || obj == Py_None;
  if (!scalar && is_tracked(obj) && !seen_.insert(reinterpret_cast<std::uintptr_t>(obj)).second) return false;
  OwnedRef answer = OwnedRef::steal(PyObject_CallOneArg(represent_, obj));
  if (!answer) return fail_fetch();
  ++log_.none_answers;
  if (answer.get() != Py_None) return stop_after(std::move(answer));

  if (in_key) {
    // Room for whatever a text's quotes and escapes add, or for a number.
    key_bytes_ += kKeyEntryBytes;
    if (key_bytes_ > kKeyTextLimit) return stop_after(std::move(answer));
  }
  if (type == &PyUnicode_Type) {
    KESTRINE_ASSIGN_OR_RETURN(const bool taken, text(obj, in_key, out));
    if (!taken) return stop_after(std::move(answer));
    return true;
  }
  if (obj == Py_None) {
    out = YamlValue::null();
    return true;
  }
  if (type == &PyLong_Type) {
    const std::optional<std::int64_t> v = int64_value(obj);
    if (!v) return stop_after(std::move(answer));  // a big one: converted by the node walk
    out = YamlValue::of_int(*v);
    return true;
  }
  if (type == &PyFloat_Type) {
    out = YamlValue::of_float(PyFloat_AS_DOUBLE(obj));
    return true;
  }
  if (type == &PyBool_Type) {
    out = YamlValue::of_bool(obj == Py_True);
    return true;
  }
  if (type == &PyTuple_Type || (!in_key && (type == &PyDict_Type || type == &PyList_Type))) {
    return collection(obj, depth, in_key, out);
  }
  return stop_after(std::move(answer));
}

PyResult<bool> PlainAttempt::text(PyObject* obj, bool in_key, YamlValue& out) {
  std::string_view text;
  if (const std::optional<std::string_view> ascii = compact_ascii_view(obj)) {
    text = *ascii;
  } else {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
    if (data == nullptr) {
      PyErr_Clear();  // lone surrogates: the node walk raises the error
      return false;
    }
    text = std::string_view(data, static_cast<std::size_t>(size));
  }
  if (in_key) {
    key_bytes_ += text.size();
    if (key_bytes_ > kKeyTextLimit) return false;
  } else if (writers_differ_on_block(text)) {
    return false;
  }
  output_estimate_ += text.size();
  // The text stays in the str, which the log (or the caller) holds.
  out = arena_.make_string_ref(text);
  return true;
}

PyResult<bool> PlainAttempt::collection(PyObject* obj, std::uint32_t depth, bool in_key, YamlValue& out) {
  const bool is_dict = Py_TYPE(obj) == &PyDict_Type;
  const std::size_t first = log_.snapshots.size();
  if (is_dict) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    while (PyDict_Next(obj, &pos, &key, &item)) {
      log_.snapshots.push(key);
      log_.snapshots.push(item);
    }
  } else {
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(obj);
    PyObject** items = PySequence_Fast_ITEMS(obj);
    for (Py_ssize_t i = 0; i < n; ++i) log_.snapshots.push(items[i]);
  }
  const std::size_t count = log_.snapshots.size() - first;
  log_.snapshot_sizes.push_back(count);
  if (is_dict) {
    const std::size_t pairs = count / 2;
    ValuePair* slots = arena_.allocate_array<ValuePair>(pairs);
    for (std::size_t i = 0; i < pairs; ++i) {
      key_bytes_ = 0;
      KESTRINE_ASSIGN_OR_RETURN(bool taken, value(log_.snapshots[first + 2 * i], depth + 1, true, slots[i].key));
      key_bytes_ = 0;
      if (!taken) return false;
      KESTRINE_ASSIGN_OR_RETURN(taken, value(log_.snapshots[first + 2 * i + 1], depth + 1, false, slots[i].value));
      if (!taken) return false;
    }
    out = arena_.adopt_mapping(slots, pairs);
    return true;
  }
  YamlValue* slots = arena_.allocate_array<YamlValue>(count);
  for (std::size_t i = 0; i < count; ++i) {
    KESTRINE_ASSIGN_OR_RETURN(const bool taken, value(log_.snapshots[first + i], depth + 1, in_key, slots[i]));
    if (!taken) return false;
  }
  out = arena_.adopt_sequence(slots, count);
  return true;
}

}  // namespace

PyResult<OwnedRef> try_plain_represent(PyObject* obj, PyObject* represent, const WriterOptions& layout,
                                       ReplayLog& log) {
  if (layout.flow || layout.sort_keys || layout.width != 0 || remaining_stack() < kStackNeeded) return OwnedRef();
  PlainAttempt attempt(represent, log);
  YamlValue root;
  KESTRINE_ASSIGN_OR_RETURN(const bool done, attempt.value(obj, 0, false, root));
  if (!done) return OwnedRef();
  OutputBuffer buffer;
  LargeText& text = buffer.text();
  without_gil([&] {
    text.reserve(attempt.output_estimate());
    write_yaml(text, root, layout);
    attempt.arena().release();
  });
  return new_bytes(text);
}

}  // namespace kestrine
