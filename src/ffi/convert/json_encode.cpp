#include "ffi/convert/json_encode.hpp"

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "ffi/bytes_sink.hpp"
#include "ffi/convert/encode_walk.hpp"
#include "ffi/errors.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

// The first capacity of the text: most documents fit, and a larger text
// grows by doubling (a realloc, which moves large blocks by remapping).
constexpr std::size_t kFirstCapacity = 1024;
// Containers check the native stack every this many levels (as the encoder).
constexpr std::uint32_t kStackCheckEvery = 4;

// One to_json call.  Mirrors the encoder's walk (PyEncoder::convert_into and
// its list and dict loops) step for step, writing where it would build.
class JsonEncoder {
 public:
  JsonEncoder(PyEncoder& encoder, const EncodeOptions& options, const JsonOptions& json, TextSink& out)
      : encoder_(encoder), opt_(options), json_(json), out_(out) {}

  PyStatus value(PyObject* obj, std::uint32_t depth);
  // A collection was used as a key somewhere (reported once all is converted).
  bool collection_key_seen() const noexcept { return collection_key_; }

 private:
  std::size_t level(std::uint32_t depth) const noexcept { return depth - opt_.depth; }
  bool scalar(PyObject* obj);
  PyStatus str(PyObject* obj);
  PyStatus list(PyObject* list, std::uint32_t depth);
  PyStatus tuple(PyObject* tuple, std::uint32_t depth);
  PyStatus dict(PyObject* dict, std::uint32_t depth);
  PyStatus member_name(PyObject* key, bool first, std::uint32_t depth);
  PyStatus through_tree(PyObject* obj, std::uint32_t depth);
  template <class Walk>
  PyStatus guarded(std::uint32_t depth, Walk walk) {
    if (depth % kStackCheckEvery != 0) return walk();
    return stack_guarded(std::move(walk));
  }

  PyEncoder& encoder_;
  const EncodeOptions& opt_;
  const JsonOptions& json_;
  TextSink& out_;
  std::string key_text_;  // scratch for keys that are not str
  bool collection_key_ = false;
};

// The scalars that need neither Python code nor an error path (the
// encoder's put_simple set, any length of ASCII text), written in place:
// false when the object is something else.
[[gnu::always_inline]] inline bool JsonEncoder::scalar(PyObject* obj) {
  PyTypeObject* const type = Py_TYPE(obj);
  if (type == &PyUnicode_Type) {
    const std::optional<std::string_view> text = compact_ascii_view(obj);
    if (!text) return false;
    write_json_string(out_, *text);
    return true;
  }
  if (obj == Py_None) {
    out_.append("null", 4);
    return true;
  }
  if (type == &PyLong_Type) {
    std::int64_t v = 0;
#if PY_VERSION_HEX >= 0x030C0000
    auto* number = reinterpret_cast<PyLongObject*>(obj);
    if (!PyUnstable_Long_IsCompact(number)) return false;
    v = static_cast<std::int64_t>(PyUnstable_Long_CompactValue(number));
#else
    const Py_ssize_t size = Py_SIZE(obj);
    if (size < -1 || size > 1) return false;
    v = static_cast<std::int64_t>(size) * static_cast<std::int64_t>(reinterpret_cast<PyLongObject*>(obj)->ob_digit[0]);
#endif
    char* p = out_.reserve(24);
    out_.commit(std::to_chars(p, p + 24, v).ptr);
    return true;
  }
  if (type == &PyFloat_Type) {
    write_json_float(out_, PyFloat_AS_DOUBLE(obj));
    return true;
  }
  if (type == &PyBool_Type) {
    if (obj == Py_True) out_.append("true", 4); else out_.append("false", 5);
    return true;
  }
  return false;
}

// A str that is not compact ASCII: its UTF-8 form through the encoder (the
// unpaired-surrogate error included).
PyStatus JsonEncoder::str(PyObject* obj) {
  YamlValue text;
  KESTRINE_TRY(encoder_.put_str(obj, text));
  write_json_string(out_, text.text());
  return {};
}

PyStatus JsonEncoder::value(PyObject* obj, std::uint32_t depth) {
  if (depth > kMaxEncodeDepth) [[unlikely]] return fail(encode_error_to_py(kTooDeepMessage));
  if (scalar(obj)) return {};
  PyTypeObject* const type = Py_TYPE(obj);
  if (type == &PyUnicode_Type) return str(obj);
  if (type == &PyList_Type) return guarded(depth, [&] { return list(obj, depth); });
  if (type == &PyDict_Type) return guarded(depth, [&] { return dict(obj, depth); });
  if (type == &PyTuple_Type) return stack_guarded([&] { return tuple(obj, depth); });
  if (type == &PyLong_Type) {
    // Beyond one internal digit: the 64-bit value, else the digits of the
    // big integer through the encoder.
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow == 0 && !(v == -1 && PyErr_Occurred())) {
      char* p = out_.reserve(24);
      out_.commit(std::to_chars(p, p + 24, v).ptr);
      return {};
    }
    PyErr_Clear();
  }
  return through_tree(obj, depth);
}

// What the walk does not write itself: the encoder converts it (with the
// walks open so far registered, so it copies them before running Python
// code), then its tree is written where it stands.
PyStatus JsonEncoder::through_tree(PyObject* obj, std::uint32_t depth) {
  YamlValue converted;
  KESTRINE_TRY(encoder_.convert_into(obj, converted, opt_, depth));
  if (!write_json_value(out_, converted, json_, level(depth))) collection_key_ = true;
  return {};
}

PyStatus JsonEncoder::list(PyObject* list, std::uint32_t depth) {
  const Py_ssize_t n = PyList_GET_SIZE(list);
  if (n == 0) {
    out_.append("[]", 2);
    return {};
  }
  OwnedRef hold = OwnedRef::borrow(list);
  out_.push_back('[');
  const bool simple_ok = depth + 1 <= kMaxEncodeDepth;
  PyEncoder::WalkScope scope(encoder_, list, false);
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item;
    if (!scope.copied()) {
      if (i >= PyList_GET_SIZE(list)) break;
      item = PyList_GET_ITEM(list, i);
      write_json_item_start(out_, i == 0, json_, level(depth));
      if (simple_ok && scalar(item)) [[likely]] continue;
      scope.at(i, static_cast<std::size_t>(i));
    } else {
      item = scope.copied_entry(static_cast<std::size_t>(i) - scope.first());
      if (item == nullptr) break;
      write_json_item_start(out_, i == 0, json_, level(depth));
      if (simple_ok && scalar(item)) continue;
    }
    KESTRINE_TRY(value(item, depth + 1));
  }
  write_json_close(out_, ']', json_, level(depth));
  return {};
}

PyStatus JsonEncoder::tuple(PyObject* tuple, std::uint32_t depth) {
  const Py_ssize_t n = PyTuple_GET_SIZE(tuple);
  if (n == 0) {
    out_.append("[]", 2);
    return {};
  }
  OwnedRef hold = OwnedRef::borrow(tuple);
  out_.push_back('[');
  for (Py_ssize_t i = 0; i < n; ++i) {
    write_json_item_start(out_, i == 0, json_, level(depth));
    KESTRINE_TRY(value(PyTuple_GET_ITEM(tuple, i), depth + 1));
  }
  write_json_close(out_, ']', json_, level(depth));
  return {};
}

// `,"key":` for one member: a str in place, any other key through the
// encoder and its member name (a collection is noted and written as null).
PyStatus JsonEncoder::member_name(PyObject* key, bool first, std::uint32_t depth) {
  if (Py_TYPE(key) == &PyUnicode_Type) {
    if (const std::optional<std::string_view> text = compact_ascii_view(key)) [[likely]] {
      write_json_member_name(out_, *text, first, json_, level(depth - 1));
      return {};
    }
    YamlValue utf8;
    KESTRINE_TRY(encoder_.put_str(key, utf8));
    write_json_member_name(out_, utf8.text(), first, json_, level(depth - 1));
    return {};
  }
  YamlValue converted;
  KESTRINE_TRY(encoder_.convert_into(key, converted, opt_, depth));
  key_text_.clear();
  if (!append_json_key_text(key_text_, converted)) {
    collection_key_ = true;
    key_text_ = "null";
  }
  write_json_member_name(out_, key_text_, first, json_, level(depth - 1));
  return {};
}

PyStatus JsonEncoder::dict(PyObject* dict, std::uint32_t depth) {
  const Py_ssize_t n = PyDict_GET_SIZE(dict);
  if (n == 0) {
    out_.append("{}", 2);
    return {};
  }
  if (depth + 1 > kMaxEncodeDepth) return fail(encode_error_to_py(kTooDeepMessage));
  OwnedRef hold = OwnedRef::borrow(dict);
  out_.push_back('{');
  PyEncoder::WalkScope scope(encoder_, dict, true);
  Py_ssize_t pos = 0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
    PyObject* key = nullptr;
    PyObject* value_obj = nullptr;
    if (!scope.copied()) {
      const Py_ssize_t before = pos;
      if (!PyDict_Next(dict, &pos, &key, &value_obj)) break;
      if (Py_TYPE(key) == &PyUnicode_Type) [[likely]] {
        // A str key runs no Python code: written before its value decides
        // whether the walk opens.
        KESTRINE_TRY(member_name(key, i == 0, depth + 1));
        if (scalar(value_obj)) [[likely]] continue;
        scope.at(before, i);
        KESTRINE_TRY(value(value_obj, depth + 1));
        continue;
      }
      // A copy taken while this pair converts starts with it, so that
      // `value_obj` (borrowed from the dict) stays alive.
      scope.at(before, i);
    } else {
      const std::size_t k = 2 * (i - scope.first());
      key = scope.copied_entry(k);
      value_obj = scope.copied_entry(k + 1);
      if (value_obj == nullptr) break;
    }
    KESTRINE_TRY(member_name(key, i == 0, depth + 1));
    KESTRINE_TRY(value(value_obj, depth + 1));
  }
  write_json_close(out_, '}', json_, level(depth));
  return {};
}

}  // namespace

PyResult<OwnedRef> py_to_json_bytes(PyObject* obj, const EncodeOptions& options, const JsonOptions& json) {
  PyEncoder encoder(options);
  BytesSink out(kFirstCapacity);
  JsonEncoder writer(encoder, options, json, out);
  KESTRINE_TRY(writer.value(obj, options.depth));
  if (writer.collection_key_seen()) return fail(encode_error_to_py(kJsonCollectionKeyError));
  return out.finish();
}

}  // namespace kestrine
