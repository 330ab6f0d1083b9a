#include "ffi/convert/encode.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "ffi/convert/duck_rules.hpp"
#include "ffi/convert/encode_walk.hpp"
#include "ffi/errors.hpp"
#include "ffi/types/tag.hpp"
#include "util/debug_quote.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"
#include "util/unaligned.hpp"
#include "util/utf8.hpp"
#include "util/wide_utf8.hpp"

namespace kestrine {
namespace {

constexpr const char* kSurrogateMessage =
    "cannot serialize a str containing unpaired surrogates; convert it to valid Unicode (or "
    "recover the original bytes and handle them explicitly) before dumping";
constexpr const char* kBytesMessage =
    "cannot serialize bytes that are not valid UTF-8; decode them yourself (e.g. base64) before "
    "dumping";

constexpr std::uint32_t kStackCheckEvery = 4;

PyErr too_deep() { return encode_error_to_py(kTooDeepMessage); }

// ---------------------------------------------------------------------------
// Tags

bool is_tag_space_or_control(char32_t c) noexcept {
  if (c <= 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  switch (c) {
    case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default: return c >= 0x2000 && c <= 0x200A;
  }
}

PyErr invalid_tag(std::string_view tag, std::string_view reason) {
  return encode_error_to_py("invalid tag " + debug_quoted(tag) + ": " + std::string(reason));
}

// Builds a Tagged value, refusing a second tag.
PyStatus make_tagged(ValueArena& arena, std::string_view tag, const YamlValue& inner, YamlValue& slot) {
  if (inner.is_tagged()) return fail(encode_error_to_py(kDoubleTagMessage));
  slot = arena.make_tagged(tag, inner);
  return {};
}

// A str's characters, stored `Unit` wide, as UTF-8 in the arena: first the
// exact size (and the surrogate check), then the bytes.
template <class Unit>
PyStatus put_utf8(ValueArena& arena, const void* data, std::size_t n, YamlValue& slot) {
  const auto* units = static_cast<const Unit*>(data);
  const std::optional<std::size_t> size = wide_utf8_size(units, n);
  if (!size) [[unlikely]] return fail(encode_error_to_py(kSurrogateMessage));
  auto* out = static_cast<char*>(arena.allocate(*size, 1));
  write_wide_utf8(units, n, out);
  slot = arena.make_string_ref(std::string_view(out, *size));
  return {};
}

// The UTF-8 form that a str which is not compact ASCII keeps once asked for
// it (PyUnicode_AsUTF8 and the like), read in place: nothing when it has
// none, or on interpreters whose str layout is not known here.
std::optional<std::string_view> cached_utf8_view(PyObject* str) noexcept {
#if PY_VERSION_HEX < 0x030F0000
  const auto* object = reinterpret_cast<const PyCompactUnicodeObject*>(str);
  if (object->utf8 == nullptr) return std::nullopt;
  return std::string_view(object->utf8, static_cast<std::size_t>(object->utf8_length));
#else
  (void)str;
  return std::nullopt;
#endif
}

}  // namespace

PyStatus check_tag(std::string_view tag) {
  if (tag.empty() || tag[0] != '!') return fail(invalid_tag(tag, "a tag must start with '!'"));
  for (std::size_t i = 0; i < tag.size();) {
    const char32_t c = next_code_point(tag, i);
    if (is_tag_space_or_control(c)) {
      return fail(invalid_tag(tag, "a tag cannot contain whitespace or control characters (found " +
                                       debug_quoted_char(c) + ")"));
    }
  }
  if (tag.size() >= 2 && tag[1] == '<') {
    const bool ok = tag.size() > 3 && tag.back() == '>' &&
                    tag.substr(2, tag.size() - 3).find('>') == std::string_view::npos;
    if (!ok) {
      return fail(invalid_tag(
          tag, "a verbatim tag must be '!<...>' with non-empty content and no interior '>'"));
    }
    return {};
  }
  {
    const std::size_t handle = tag.starts_with("!!") ? 2 : 1;
    if (tag.substr(handle).find('!') != std::string_view::npos) {
      return fail(invalid_tag(
          tag, "a named tag handle (!name!suffix) needs a %TAG directive, which dumps does not "
               "emit; use a primary (!suffix), secondary (!!suffix), or verbatim (!<uri>) tag"));
    }
  }
  if (auto pos = tag.find_first_of(",]}"); pos != std::string_view::npos) {
    return fail(invalid_tag(tag, "a shorthand tag cannot contain a flow indicator (found " +
                                     debug_quoted_char(static_cast<unsigned char>(tag[pos])) + ")"));
  }
  return {};
}

namespace {

// A URI's scheme and its ':' start the tag ("tag:", "urn:", "http:"): a
// global tag, the only kind that is written without a "!" of its own.
bool is_global_tag(std::string_view tag) noexcept {
  const auto letter = [](char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; };
  const std::size_t colon = tag.find(':');
  if (colon == std::string_view::npos || colon == 0 || !letter(tag[0])) return false;
  for (char c : tag.substr(0, colon)) {
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

}  // namespace

PyResult<std::string_view> written_tag(std::string_view tag, std::string& storage) {
  if (is_global_tag(tag)) {
    storage.assign("!<").append(tag).push_back('>');
    tag = storage;
  }
  KESTRINE_TRY(check_tag(tag));
  return tag;
}

PyResult<std::string_view> serializer_tag_text(PyObject* tag) {
  if (!PyUnicode_Check(tag)) {
    return fail(PyErr::type_error("the tag of a (tag, value) tuple must be a str, not " +
                                  type_name_text(Py_TYPE(tag))));
  }
  return str_view(tag);
}

EncodeOptions EncodeOptions::from_option_bits(Options option, PyObject* default_fn,
                                              PyObject* serializers) noexcept {
  EncodeOptions o;
  o.default_fn = default_fn;
  o.serializers = serializers;
  o.serialize_numpy = option & OPT_SERIALIZE_NUMPY;
  o.omit_microseconds = option & OPT_OMIT_MICROSECONDS;
  o.naive_utc = option & OPT_NAIVE_UTC;
  o.utc_z = option & OPT_UTC_Z;
  o.passthrough_datetime = option & OPT_PASSTHROUGH_DATETIME;
  o.passthrough_dataclass = option & OPT_PASSTHROUGH_DATACLASS;
  return o;
}

// ---------------------------------------------------------------------------
// The encoder

PyEncoder::PyEncoder(const EncodeOptions& options, std::size_t first_chunk_bytes)
    : options_(options), arena_(first_chunk_bytes) {}

PyEncoder::~PyEncoder() { release_refs(); }

void PyEncoder::release_refs() noexcept {
  for (PyObject* obj : kept_) Py_DECREF(obj);
  kept_.clear();
}

YamlValue PyEncoder::refer_text(PyObject* owner, std::string_view text) {
  kept_.push_back(owner);
  Py_INCREF(owner);
  referred_text_bytes_ += text.size();
  return arena_.make_string_ref(text);
}

PyResult<YamlValue> PyEncoder::convert(PyObject* obj) {
  YamlValue root;
  PyStatus done = convert_into(obj, root, options_, options_.depth);
  // An address names a converted container only while it is held: past
  // the conversion the memo is of no use, and holding on to the containers
  // would keep the caller's objects alive with the tree.
  converted_.clear();
  converted_held_.clear();
  KESTRINE_TRY(std::move(done));
  return root;
}

PyStatus PyEncoder::put_str(PyObject* str, YamlValue& slot) {
#if PY_VERSION_HEX < 0x030C0000
  if (!PyUnicode_IS_READY(str) && PyUnicode_READY(str) < 0) return fail_fetch();
#endif
  const auto len = static_cast<std::size_t>(PyUnicode_GET_LENGTH(str));
  const void* data = PyUnicode_DATA(str);
  if (PyUnicode_IS_ASCII(str)) [[likely]] {
    std::string_view text(static_cast<const char*>(data), len);
    if (len <= kCopyTextLimit) {
      // The arena's inline fast path; short texts need no length record.
      char* copy = static_cast<char*>(arena_.allocate(len == 0 ? 1 : len, 1));
      copy_bytes(copy, static_cast<const char*>(data), len);
      slot.kind = ValueKind::String;
      slot.len_ = static_cast<std::uint32_t>(len);
      slot.text_ = copy;
    } else {
      slot = refer_text(str, text);
    }
    return {};
  }
  // Not ASCII: a UTF-8 form the str already keeps (never one with a lone
  // surrogate), else its storage encoded straight into the arena.
  if (const std::optional<std::string_view> cached = cached_utf8_view(str)) {
    slot = cached->size() <= kCopyTextLimit ? arena_.make_string(*cached) : refer_text(str, *cached);
    return {};
  }
  switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND: return put_utf8<Py_UCS1>(arena_, data, len, slot);
    case PyUnicode_2BYTE_KIND: return put_utf8<Py_UCS2>(arena_, data, len, slot);
    default: return put_utf8<Py_UCS4>(arena_, data, len, slot);
  }
}

PyStatus PyEncoder::put_int(PyObject* obj, YamlValue& slot) {
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (overflow == 0) [[likely]] {
    if (v == -1 && PyErr_Occurred()) {
      PyErr_Clear();  // fall back to the text form below
    } else {
      slot = YamlValue::of_int(v);
      return {};
    }
  }
  // Beyond 64 bits: the decimal text of int(obj), so that subclasses with
  // their own str() still give plain digits.
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef as_int, checked(PyNumber_Long(obj)));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef digits, checked(PyObject_Str(as_int.get())));
  KESTRINE_ASSIGN_OR_RETURN(std::string_view text, str_view(digits.get()));
  slot = arena_.make_bigint(text);
  return {};
}

PyStatus PyEncoder::convert_into(PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                                 std::uint32_t depth) {
  if (depth > kMaxEncodeDepth) [[unlikely]] return fail(too_deep());
  PyTypeObject* const type = Py_TYPE(obj);
  // An object held only by its container occurs once: only one referred to
  // from elsewhere as well can be met again.
  if (convert_repeats_once_ && (type == &PyDict_Type || type == &PyList_Type || type == &PyTuple_Type) &&
      Py_REFCNT(obj) > 1) [[unlikely]]
    return convert_repeatable(obj, slot, opt, depth);
  // Containers first: the walks try the scalars themselves (put_simple)
  // before they call here.  The stack check runs every kStackCheckEvery
  // levels of containers: a few frames of this walk take far less than the
  // red zone it keeps free.
  const bool check_stack = (depth % kStackCheckEvery) == 0;
  if (type == &PyDict_Type) {
    if (!check_stack) return convert_dict(obj, slot, opt, depth);
    return stack_guarded([&] { return convert_dict(obj, slot, opt, depth); });
  }
  if (type == &PyList_Type) {
    if (!check_stack) return convert_list(obj, slot, opt, depth);
    return stack_guarded([&] { return convert_list(obj, slot, opt, depth); });
  }
  if (type == &PyUnicode_Type) return put_str(obj, slot);
  if (obj == Py_None) {
    slot = YamlValue::null();
    return {};
  }
  if (type == &PyLong_Type) return put_int(obj, slot);
  if (type == &PyFloat_Type) {
    slot = YamlValue::of_float(PyFloat_AS_DOUBLE(obj));
    return {};
  }
  if (type == &PyBool_Type) {
    slot = YamlValue::of_bool(obj == Py_True);
    return {};
  }
  return stack_guarded([&] { return convert_slow(obj, slot, opt, depth); });
}

PyStatus PyEncoder::convert_repeatable(PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                                       std::uint32_t depth) {
  if (const auto it = converted_.find(obj); it != converted_.end()) {
    slot = it->second;
    return {};
  }
  KESTRINE_TRY(stack_guarded([&]() -> PyStatus {
    if (PyDict_CheckExact(obj)) return convert_dict(obj, slot, opt, depth);
    if (PyList_CheckExact(obj)) return convert_list(obj, slot, opt, depth);
    return convert_tuple(obj, slot, opt, depth);
  }));
  converted_held_.push_back(OwnedRef::borrow(obj));
  converted_.try_emplace(obj, slot);
  return {};
}

// The scalars that need neither Python code nor an error path, converted in
// place by the container loops (saving a call per item).  False when the
// object is something else; then convert_into takes it.
[[gnu::always_inline]] inline bool PyEncoder::put_simple(PyObject* obj, YamlValue& slot) {
  PyTypeObject* const type = Py_TYPE(obj);
  if (type == &PyUnicode_Type) {
    const std::optional<std::string_view> text = compact_ascii_view(obj);
    if (!text || text->size() > kCopyTextLimit) return false;
    const std::size_t len = text->size();
    char* copy = static_cast<char*>(arena_.allocate(len == 0 ? 1 : len, 1));
    copy_bytes(copy, text->data(), len);
    slot.kind = ValueKind::String;
    slot.len_ = static_cast<std::uint32_t>(len);
    slot.text_ = copy;
    return true;
  }
  if (obj == Py_None) {
    slot = YamlValue::null();
    return true;
  }
  if (type == &PyLong_Type) {
    // Small integers (one internal digit) are read directly.
#if PY_VERSION_HEX >= 0x030C0000
    auto* number = reinterpret_cast<PyLongObject*>(obj);
    if (!PyUnstable_Long_IsCompact(number)) return false;
    slot = YamlValue::of_int(static_cast<std::int64_t>(PyUnstable_Long_CompactValue(number)));
#else
    const Py_ssize_t size = Py_SIZE(obj);
    if (size < -1 || size > 1) return false;
    slot = YamlValue::of_int(static_cast<std::int64_t>(size) *
                             static_cast<std::int64_t>(reinterpret_cast<PyLongObject*>(obj)->ob_digit[0]));
#endif
    return true;
  }
  if (type == &PyFloat_Type) {
    slot = YamlValue::of_float(PyFloat_AS_DOUBLE(obj));
    return true;
  }
  if (type == &PyBool_Type) {
    slot = YamlValue::of_bool(obj == Py_True);
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Container walks and their snapshots (encode_walk.hpp)
//
// The walks that lack a copy are always the innermost (a copy covers every
// walk open at the time), so the copies stack up and are released in LIFO
// order.

void PyEncoder::snapshot_open_walks() {
  for (; snapshotted_walks_ < walks_.size(); ++snapshotted_walks_) {
    OpenWalk& w = walks_[snapshotted_walks_];
    w.snapshot = snapshot_.size();
    w.first = w.index;
    // From the item being converted on: it may lose its last other owner.
    if (w.is_dict) {
      Py_ssize_t pos = w.position;
      PyObject* key = nullptr;
      PyObject* value = nullptr;
      while (PyDict_Next(w.container, &pos, &key, &value)) {
        snapshot_.push_back(Py_NewRef(key));
        snapshot_.push_back(Py_NewRef(value));
      }
    } else {
      for (Py_ssize_t i = w.position; i < PyList_GET_SIZE(w.container); ++i)
        snapshot_.push_back(Py_NewRef(PyList_GET_ITEM(w.container, i)));
    }
    w.count = snapshot_.size() - w.snapshot;
  }
}

PyStatus PyEncoder::convert_list(PyObject* list, YamlValue& slot, const EncodeOptions& opt,
                                 std::uint32_t depth) {
  const Py_ssize_t n = PyList_GET_SIZE(list);
  if (n == 0) {
    slot = YamlValue::empty_sequence();
    return {};
  }
  OwnedRef hold = OwnedRef::borrow(list);
  YamlValue* items = arena_.allocate_array<YamlValue>(static_cast<std::size_t>(n));
  const bool simple_ok = depth + 1 <= kMaxEncodeDepth;
  WalkScope scope(*this, list, false);
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item;
    if (!scope.copied()) {
      item = PyList_GET_ITEM(list, i);
      if (simple_ok && put_simple(item, items[i])) [[likely]] continue;
      scope.at(i, static_cast<std::size_t>(i));
    } else {
      item = scope.copied_entry(static_cast<std::size_t>(i) - scope.first());
      if (item == nullptr) break;
      if (simple_ok && put_simple(item, items[i])) continue;
    }
    KESTRINE_TRY(convert_into(item, items[i], opt, depth + 1));
  }
  slot = arena_.adopt_sequence(items, static_cast<std::size_t>(n));
  return {};
}

PyStatus PyEncoder::convert_tuple(PyObject* tuple, YamlValue& slot, const EncodeOptions& opt,
                                  std::uint32_t depth) {
  const Py_ssize_t n = PyTuple_GET_SIZE(tuple);
  if (n == 0) {
    slot = YamlValue::empty_sequence();
    return {};
  }
  OwnedRef hold = OwnedRef::borrow(tuple);
  YamlValue* items = arena_.allocate_array<YamlValue>(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    KESTRINE_TRY(convert_into(PyTuple_GET_ITEM(tuple, i), items[i], opt, depth + 1));
  }
  slot = arena_.adopt_sequence(items, static_cast<std::size_t>(n));
  return {};
}

// One key of a dict walk: a str converts in place (no Python code).
PyStatus PyEncoder::convert_key(PyObject* key, YamlValue& slot, const EncodeOptions& opt, std::uint32_t depth) {
  if (Py_TYPE(key) == &PyUnicode_Type) {
    if (put_simple(key, slot)) return {};
    return put_str(key, slot);
  }
  return convert_into(key, slot, opt, depth);
}

PyStatus PyEncoder::convert_dict(PyObject* dict, YamlValue& slot, const EncodeOptions& opt,
                                 std::uint32_t depth) {
  const Py_ssize_t n = PyDict_GET_SIZE(dict);
  if (n == 0) {
    slot = YamlValue::empty_mapping();
    return {};
  }
  if (depth + 1 > kMaxEncodeDepth) return fail(too_deep());
  OwnedRef hold = OwnedRef::borrow(dict);
  ValuePair* pairs = arena_.allocate_array<ValuePair>(static_cast<std::size_t>(n));
  WalkScope scope(*this, dict, true);
  Py_ssize_t pos = 0;
  std::size_t i = 0;
  for (; i < static_cast<std::size_t>(n); ++i) {
    ValuePair& pair = pairs[i];
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    if (!scope.copied()) {
      const Py_ssize_t before = pos;
      if (!PyDict_Next(dict, &pos, &key, &value)) break;
      if (Py_TYPE(key) == &PyUnicode_Type) [[likely]] {
        // A str key runs no Python code: converted before its value
        // decides whether the walk opens.
        if (!put_simple(key, pair.key)) KESTRINE_TRY(put_str(key, pair.key));
        if (put_simple(value, pair.value)) [[likely]] continue;
        scope.at(before, i);
        KESTRINE_TRY(convert_into(value, pair.value, opt, depth + 1));
        continue;
      }
      // A copy taken while this pair converts starts with it, so that
      // `value` (borrowed from the dict) stays alive.
      scope.at(before, i);
    } else {
      const std::size_t k = 2 * (i - scope.first());
      key = scope.copied_entry(k);
      value = scope.copied_entry(k + 1);
      if (value == nullptr) break;
    }
    KESTRINE_TRY(convert_key(key, pair.key, opt, depth + 1));
    if (!put_simple(value, pair.value)) KESTRINE_TRY(convert_into(value, pair.value, opt, depth + 1));
  }
  slot = arena_.adopt_mapping(pairs, i);
  return {};
}

PyStatus PyEncoder::convert_ordered_dict(PyObject* dict, YamlValue& slot, const EncodeOptions& opt,
                                         std::uint32_t depth) {
  // A list of (key, value) tuples.
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef items, checked(PyMapping_Items(dict)));
  const Py_ssize_t n = PyList_GET_SIZE(items.get());
  if (n == 0) {
    slot = YamlValue::empty_mapping();
    return {};
  }
  ValuePair* pairs = arena_.allocate_array<ValuePair>(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = PyList_GET_ITEM(items.get(), i);
    if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
      return fail(PyErr::type_error("items() must give (key, value) pairs"));
    }
    KESTRINE_TRY(convert_into(PyTuple_GET_ITEM(item, 0), pairs[i].key, opt, depth + 1));
    KESTRINE_TRY(convert_into(PyTuple_GET_ITEM(item, 1), pairs[i].value, opt, depth + 1));
  }
  slot = arena_.adopt_mapping(pairs, static_cast<std::size_t>(n));
  return {};
}

PyStatus PyEncoder::convert_iterable(PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                                     std::uint32_t depth) {
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef iter, checked(PyObject_GetIter(obj)));
  std::vector<YamlValue> items;
  if (Py_ssize_t hint = PyObject_LengthHint(obj, 0); hint > 0) {
    items.reserve(static_cast<std::size_t>(hint));
  } else if (hint < 0) {
    PyErr_Clear();
  }
  while (OwnedRef item = OwnedRef::steal(PyIter_Next(iter.get()))) {
    YamlValue v;
    KESTRINE_TRY(convert_into(item.get(), v, opt, depth + 1));
    items.push_back(v);
  }
  if (PyErr_Occurred()) return fail_fetch();
  slot = arena_.make_sequence(items);
  return {};
}

PyStatus PyEncoder::convert_slow(PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                                 std::uint32_t depth) {
  // Everything below may run Python code that drops the container holding
  // `obj`: keep it alive until done.
  OwnedRef hold = OwnedRef::borrow(obj);

  // These run no Python code of their own.  (No type passes two of the
  // built-in tests, so their order is free.)
  if (PyUnicode_Check(obj)) return put_str(obj, slot);
  if (PyTuple_CheckExact(obj)) return convert_tuple(obj, slot, opt, depth);
  if (PyDict_Check(obj) && !PyODict_Check(obj)) return convert_dict(obj, slot, opt, depth);
  if (is_kestrine_tag(obj)) return convert_tag(obj, slot, opt, depth);
  if (PyBytes_Check(obj)) {
    std::string_view bytes(PyBytes_AS_STRING(obj), static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
    if (!is_valid_utf8(bytes)) return fail(encode_error_to_py(kBytesMessage));
    slot = bytes.size() <= kCopyTextLimit ? arena_.make_string(bytes) : refer_text(obj, bytes);
    return {};
  }
  // The rest may run Python code (a subclass's conversions, iterators,
  // callbacks), which may change the containers being walked.
  snapshot_open_walks();
  if (PyLong_Check(obj)) return put_int(obj, slot);
  if (PyFloat_Check(obj)) {
    const double d = PyFloat_AsDouble(obj);
    if (d == -1.0 && PyErr_Occurred()) return fail_fetch();
    slot = YamlValue::of_float(d);
    return {};
  }
  if (PyList_Check(obj) || PyTuple_Check(obj)) return convert_iterable(obj, slot, opt, depth);
  // An OrderedDict keeps its own order (move_to_end), which the dict
  // storage underneath does not follow: take its items() instead.
  if (PyODict_Check(obj)) return convert_ordered_dict(obj, slot, opt, depth);
  if (PyAnySet_Check(obj)) return convert_iterable(obj, slot, opt, depth);
  return convert_unmatched(*this, obj, slot, opt, depth);
}

PyStatus PyEncoder::convert_tag(PyObject* tag_obj, YamlValue& slot, const EncodeOptions& opt,
                                std::uint32_t depth) {
  // The fields never change after construction; the shared borrow only
  // guards against a concurrent teardown.
  TagData& data = const_cast<TagData&>(kestrine_tag_data(tag_obj));
  KESTRINE_ASSIGN_OR_RETURN(const BorrowFlag::Shared shared, data.borrow.borrow());
  OwnedRef value = data.value ? data.value : none_ref();
  std::string storage;
  KESTRINE_ASSIGN_OR_RETURN(const std::string_view tag, written_tag(data.tag, storage));
  YamlValue inner;
  KESTRINE_TRY(convert_into(value.get(), inner, opt, depth + 1));
  return make_tagged(arena_, tag, inner, slot);
}

PyStatus PyEncoder::convert_tagged(PyObject* tag, PyObject* value, YamlValue& slot,
                                   const EncodeOptions& opt, std::uint32_t depth) {
  KESTRINE_ASSIGN_OR_RETURN(const std::string_view given, serializer_tag_text(tag));
  std::string storage;
  KESTRINE_ASSIGN_OR_RETURN(const std::string_view text, written_tag(given, storage));
  YamlValue inner;
  KESTRINE_TRY(convert_into(value, inner, opt, depth + 1));
  return make_tagged(arena_, text, inner, slot);
}

PyStatus PyEncoder::convert_serializer_result(PyObject* result, YamlValue& slot,
                                              const EncodeOptions& opt, std::uint32_t depth) {
  if (is_kestrine_tag(result)) return convert_tag(result, slot, opt, depth);
  if (PyTuple_Check(result) && PyTuple_GET_SIZE(result) == 2) {
    return convert_tagged(PyTuple_GET_ITEM(result, 0), PyTuple_GET_ITEM(result, 1), slot, opt, depth);
  }
  return fail(encode_error_to_py(kSerializerResultMessage));
}

}  // namespace kestrine
