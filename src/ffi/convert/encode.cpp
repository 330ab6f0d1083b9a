#include "ffi/convert/encode.hpp"

#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "ffi/errors.hpp"
#include "ffi/types.hpp"
#include "ffi/types/tag.hpp"
#include "util/stack_guard.hpp"
#include "util/utf8.hpp"

namespace kestrine {
namespace {

constexpr const char* kSurrogateMessage =
    "cannot serialize a str containing unpaired surrogates; convert it to valid Unicode (or "
    "recover the original bytes and handle them explicitly) before dumping";
constexpr const char* kBytesMessage =
    "cannot serialize bytes that are not valid UTF-8; decode them yourself (e.g. base64) before "
    "dumping";
constexpr const char* kDoubleTagMessage = "cannot attach a tag to a value that already carries a tag";
constexpr const char* kSerializerResultMessage =
    "a tags callback must return a KestrineTag or a (tag, value) tuple";

// ---------------------------------------------------------------------------
// Small interpreter helpers

// Interned attribute names, made on first use (with the interpreter lock).
struct Names {
  PyObject* isoformat;
  PyObject* value;
  PyObject* tag;
  PyObject* dataclass_fields;
  PyObject* field_type;
  PyObject* fspath;
  PyObject* module;
  PyObject* tolist;
  PyObject* item;
  PyObject* is_finite;
  PyObject* format;
  PyObject* f;
};

PyResult<const Names*> names() noexcept {
  static Names n{};
  static bool ready = false;
  if (ready) [[likely]] return &n;
  const std::pair<PyObject**, const char*> table[] = {
      {&n.isoformat, "isoformat"}, {&n.value, "value"},
      {&n.tag, "tag"},             {&n.dataclass_fields, "__dataclass_fields__"},
      {&n.field_type, "_field_type"}, {&n.fspath, "__fspath__"},
      {&n.module, "__module__"},   {&n.tolist, "tolist"},
      {&n.item, "item"},           {&n.is_finite, "is_finite"},
      {&n.format, "__format__"},   {&n.f, "f"},
  };
  for (auto& [slot, text] : table) {
    if (*slot != nullptr) continue;
    PyObject* s = PyUnicode_InternFromString(text);
    if (s == nullptr) return fail_fetch();
    *slot = s;  // kept for the life of the process
  }
  ready = true;
  return &n;
}

// Reads an attribute; an empty reference when it does not exist, an error
// for any other failure.
PyResult<OwnedRef> lookup_attr(PyObject* obj, PyObject* name) noexcept {
  PyObject* result = nullptr;
#if PY_VERSION_HEX >= 0x030D0000
  int found = PyObject_GetOptionalAttr(obj, name, &result);
#else
  int found = _PyObject_LookupAttr(obj, name, &result);
#endif
  if (found < 0) return fail_fetch();
  return OwnedRef::steal(result);
}

// The UTF-8 text of a str (subclasses included); the interpreter's error
// otherwise.
PyResult<std::string_view> utf8_of(PyObject* str) noexcept {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) return fail_fetch();
  return std::string_view(data, static_cast<std::size_t>(size));
}

// The `__name__` of a type, as text (the unqualified name).
PyResult<OwnedRef> type_name(PyTypeObject* type) noexcept {
#if PY_VERSION_HEX >= 0x030B0000
  return checked(PyType_GetName(type));
#else
  return checked(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
#endif
}

bool str_equals(PyObject* str, std::string_view text) noexcept {
  if (!PyUnicode_Check(str) || !PyUnicode_IS_ASCII(str)) return false;
  return static_cast<std::size_t>(PyUnicode_GET_LENGTH(str)) == text.size() &&
         std::memcmp(PyUnicode_DATA(str), text.data(), text.size()) == 0;
}

std::string type_name_text(PyTypeObject* type) {
  auto name = type_name(type);
  if (name) {
    if (auto text = utf8_of(name->get())) return std::string(*text);
  }
  PyErr_Clear();
  return type->tp_name;
}

PyErr not_serializable_error(PyObject* obj) {
  return unserializable_error_to_py("type " + type_name_text(Py_TYPE(obj)) + " is not YAML serializable");
}

constexpr std::uint32_t kStackCheckEvery = 4;

PyErr too_deep() { return encode_error_to_py(kTooDeepMessage); }

// ---------------------------------------------------------------------------
// Text quoting for messages

bool is_non_printable(char32_t c) noexcept {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
  switch (c) {
    case 0xAD: case 0x061C: case 0x06DD: case 0x070F: case 0x180E: case 0x1680:
    case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000: case 0xFEFF:
    case 0xA0: case 0xFFFE: case 0xFFFF:
      return true;
    default: break;
  }
  return (c >= 0x0600 && c <= 0x0605) || (c >= 0x2000 && c <= 0x200F) ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) ||
         (c >= 0xFFF9 && c <= 0xFFFB) || (c >= 0xD800 && c <= 0xDFFF);
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one code point of valid UTF-8 at `i`, advancing `i`.
char32_t next_code_point(std::string_view s, std::size_t& i) noexcept {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = b0 >= 0xF0 ? 3 : b0 >= 0xE0 ? 2 : 1;
  char32_t c = b0 & (0x3F >> extra);
  ++i;
  for (int k = 0; k < extra && i < s.size(); ++k, ++i) {
    c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
  }
  return c;
}

void append_escaped(std::string& out, char32_t c, char quote) {
  switch (c) {
    case 0: out += "\\0"; return;
    case '\t': out += "\\t"; return;
    case '\r': out += "\\r"; return;
    case '\n': out += "\\n"; return;
    case '\\': out += "\\\\"; return;
    default: break;
  }
  if (c == static_cast<char32_t>(quote)) {
    out.push_back('\\');
    out.push_back(quote);
    return;
  }
  if (is_non_printable(c)) {
    static constexpr char kHex[] = "0123456789abcdef";
    char buf[8];
    int n = 0;
    char32_t v = c;
    do {
      buf[n++] = kHex[v & 0xF];
      v >>= 4;
    } while (v != 0);
    out += "\\u{";
    while (n > 0) out.push_back(buf[--n]);
    out.push_back('}');
    return;
  }
  append_utf8(out, c);
}

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

// ---------------------------------------------------------------------------
// Process-wide caches of Python objects (kept for the life of the process)

// The markers of dataclass fields that are not instance data.
struct DataclassMarkers {
  bool loaded = false;
  PyObject* classvar = nullptr;
  PyObject* initvar = nullptr;
};
DataclassMarkers g_dataclass_markers;

void load_dataclass_markers() noexcept {
  if (g_dataclass_markers.loaded) return;
  g_dataclass_markers.loaded = true;
  OwnedRef mod = OwnedRef::steal(PyImport_ImportModule("dataclasses"));
  if (mod) {
    g_dataclass_markers.classvar = PyObject_GetAttrString(mod.get(), "_FIELD_CLASSVAR");
    if (g_dataclass_markers.classvar == nullptr) PyErr_Clear();
    g_dataclass_markers.initvar = PyObject_GetAttrString(mod.get(), "_FIELD_INITVAR");
    if (g_dataclass_markers.initvar == nullptr) PyErr_Clear();
  } else {
    PyErr_Clear();
  }
}

// Is this `__dataclass_fields__` entry a ClassVar or InitVar pseudo-field?
PyResult<bool> is_pseudo_field(PyObject* field) noexcept {
  load_dataclass_markers();
  if (g_dataclass_markers.classvar == nullptr && g_dataclass_markers.initvar == nullptr) return false;
  auto n = names();
  if (!n) return fail(std::move(n.error()));
  auto kind = lookup_attr(field, (*n)->field_type);
  if (!kind) return fail(std::move(kind.error()));
  if (!*kind) return false;
  return kind->get() == g_dataclass_markers.classvar || kind->get() == g_dataclass_markers.initvar;
}

struct NumpyTypes {
  enum State : std::uint8_t { Unknown, Available, Unavailable } state = Unknown;
  PyObject* ndarray = nullptr;
  PyObject* generic = nullptr;
};
NumpyTypes g_numpy;

// Imports numpy once for the process; a failure is final.
void numpy_types() noexcept {
  if (g_numpy.state != NumpyTypes::Unknown) return;
  OwnedRef mod = OwnedRef::steal(PyImport_ImportModule("numpy"));
  PyObject* ndarray = mod ? PyObject_GetAttrString(mod.get(), "ndarray") : nullptr;
  PyObject* generic = ndarray ? PyObject_GetAttrString(mod.get(), "generic") : nullptr;
  // The import may have let another thread fill the cache meanwhile.
  if (g_numpy.state != NumpyTypes::Unknown) {
    Py_XDECREF(ndarray);
    Py_XDECREF(generic);
    PyErr_Clear();
    return;
  }
  if (ndarray == nullptr || generic == nullptr) {
    Py_XDECREF(ndarray);
    Py_XDECREF(generic);
    PyErr_Clear();
    g_numpy.state = NumpyTypes::Unavailable;
    return;
  }
  g_numpy.ndarray = ndarray;
  g_numpy.generic = generic;
  g_numpy.state = NumpyTypes::Available;
}

// ---------------------------------------------------------------------------
// The datetime text rewrite

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

std::string rewrite_iso_text(std::string_view s, const EncodeOptions& opt) {
  std::string_view base = s;
  std::string_view zone;
  if (!s.empty() && s.back() == 'Z') {
    zone = "Z";
    base = s.substr(0, s.size() - 1);
  } else if (s.size() > 5) {
    std::string_view tail = s.substr(s.size() - 6);
    if ((tail[0] == '+' || tail[0] == '-') && is_digit(tail[1]) && is_digit(tail[2]) &&
        tail[3] == ':' && is_digit(tail[4]) && is_digit(tail[5])) {
      zone = tail;
      base = s.substr(0, s.size() - 6);
    }
  }
  const bool has_time = base.find('T') != std::string_view::npos;
  if (opt.omit_microseconds) {
    if (auto dot = base.find('.'); dot != std::string_view::npos) base = base.substr(0, dot);
  }
  if (opt.naive_utc && zone.empty() && has_time) zone = "+00:00";
  if (opt.utc_z && zone == "+00:00") zone = "Z";
  std::string out;
  out.reserve(base.size() + zone.size());
  out.append(base);
  out.append(zone);
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Public helpers

std::string debug_quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (std::size_t i = 0; i < text.size();) append_escaped(out, next_code_point(text, i), '"');
  out.push_back('"');
  return out;
}

std::string debug_quoted_char(char32_t ch) {
  std::string out = "'";
  append_escaped(out, ch, '\'');
  out.push_back('\'');
  return out;
}

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
  if (tag.size() > 1) {
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

PyResult<std::optional<YamlValue>> datetime_to_value(PyObject* obj, const EncodeOptions& opt,
                                                     ValueArena& arena) {
  auto n = names();
  if (!n) return fail(std::move(n.error()));
  OwnedRef method = OwnedRef::steal(PyObject_GetAttr(obj, (*n)->isoformat));
  if (!method) {
    PyErr_Clear();  // no isoformat (or a property that raised): not a datetime
    return std::optional<YamlValue>();
  }
  if (opt.passthrough_datetime) return std::optional<YamlValue>();
  auto text_obj = checked(PyObject_CallNoArgs(method.get()));
  if (!text_obj) return fail(std::move(text_obj.error()));
  if (!PyUnicode_Check(text_obj->get())) return std::optional<YamlValue>();
  auto text = utf8_of(text_obj->get());
  if (!text) {
    PyErr_Clear();
    return std::optional<YamlValue>();
  }
  return std::optional<YamlValue>(arena.make_string(rewrite_iso_text(*text, opt)));
}

bool is_enum_member(PyObject* obj) noexcept {
  const char* meta = Py_TYPE(Py_TYPE(obj))->tp_name;
  return std::strcmp(meta, "EnumType") == 0 || std::strcmp(meta, "EnumMeta") == 0;
}

PyResult<OwnedRef> numpy_to_value(PyObject* obj) {
  numpy_types();
  if (g_numpy.state != NumpyTypes::Available) return OwnedRef();
  int is = PyObject_IsInstance(obj, g_numpy.ndarray);
  if (is == 0) is = PyObject_IsInstance(obj, g_numpy.generic);
  if (is < 0) return fail_fetch();
  if (is == 0) return OwnedRef();
  auto n = names();
  if (!n) return fail(std::move(n.error()));
  PyObject* sub = PyObject_CallMethodNoArgs(obj, (*n)->tolist);
  if (sub == nullptr) {
    PyErr_Clear();
    sub = PyObject_CallMethodNoArgs(obj, (*n)->item);
    if (sub == nullptr) {
      PyErr_Clear();
      return OwnedRef();
    }
  }
  return OwnedRef::steal(sub);
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

void PyEncoder::keep(PyObject* obj) {
  kept_.push_back(obj);
  Py_INCREF(obj);
}

PyResult<YamlValue> PyEncoder::convert(PyObject* obj) {
  YamlValue root;
  if (auto st = convert_into(obj, root, options_, options_.depth); !st) return fail(std::move(st.error()));
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
      std::memcpy(copy, data, len);
      slot.kind = ValueKind::String;
      slot.len_ = static_cast<std::uint32_t>(len);
      slot.text_ = copy;
    } else {
      keep(str);
      slot = arena_.make_string_ref(text);
    }
    return {};
  }
  // Encode the interpreter's storage straight into the arena: first the exact
  // size (and the surrogate check), then the bytes.
  const int kind = PyUnicode_KIND(str);
  std::size_t size = 0;
  for (std::size_t i = 0; i < len; ++i) {
    const Py_UCS4 c = PyUnicode_READ(kind, data, i);
    if (c < 0x80) {
      size += 1;
    } else if (c < 0x800) {
      size += 2;
    } else if (c < 0x10000) {
      if (c >= 0xD800 && c <= 0xDFFF) [[unlikely]] return fail(encode_error_to_py(kSurrogateMessage));
      size += 3;
    } else {
      size += 4;
    }
  }
  auto* out = static_cast<unsigned char*>(arena_.allocate(size, 1));
  unsigned char* p = out;
  for (std::size_t i = 0; i < len; ++i) {
    const Py_UCS4 c = PyUnicode_READ(kind, data, i);
    if (c < 0x80) {
      *p++ = static_cast<unsigned char>(c);
    } else if (c < 0x800) {
      *p++ = static_cast<unsigned char>(0xC0 | (c >> 6));
      *p++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *p++ = static_cast<unsigned char>(0xE0 | (c >> 12));
      *p++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else {
      *p++ = static_cast<unsigned char>(0xF0 | (c >> 18));
      *p++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
      *p++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    }
  }
  slot = arena_.make_string_ref(std::string_view(reinterpret_cast<const char*>(out), size));
  return {};
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
  auto as_int = checked(PyNumber_Long(obj));
  if (!as_int) return fail(std::move(as_int.error()));
  auto digits = checked(PyObject_Str(as_int->get()));
  if (!digits) return fail(std::move(digits.error()));
  auto text = utf8_of(digits->get());
  if (!text) return fail(std::move(text.error()));
  slot = arena_.make_bigint(*text);
  return {};
}

PyStatus PyEncoder::convert_into(PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                                 std::uint32_t depth) {
  if (depth > kMaxEncodeDepth) [[unlikely]] return fail(too_deep());
  PyTypeObject* const type = Py_TYPE(obj);
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
  // The stack check runs every kStackCheckEvery levels of containers: a few
  // frames of this walk take far less than the red zone it keeps free.
  const bool check_stack = (depth % kStackCheckEvery) == 0;
  if (type == &PyList_Type) {
    if (!check_stack) return convert_list(obj, slot, opt, depth);
    return stack_guarded([&] { return convert_list(obj, slot, opt, depth); });
  }
  if (type == &PyDict_Type) {
    if (!check_stack) return convert_dict(obj, slot, opt, depth);
    return stack_guarded([&] { return convert_dict(obj, slot, opt, depth); });
  }
  return stack_guarded([&] { return convert_slow(obj, slot, opt, depth); });
}

// The scalars that need neither Python code nor an error path, converted in
// place by the container loops (saving a call per item).  False when the
// object is something else; then convert_into takes it.
[[gnu::always_inline]] inline bool PyEncoder::put_simple(PyObject* obj, YamlValue& slot) {
  PyTypeObject* const type = Py_TYPE(obj);
  if (type == &PyUnicode_Type) {
#if PY_VERSION_HEX < 0x030C0000
    if (!PyUnicode_IS_READY(obj)) return false;
#endif
    if (!PyUnicode_IS_COMPACT_ASCII(obj)) return false;
    const auto len = static_cast<std::size_t>(PyUnicode_GET_LENGTH(obj));
    if (len > kCopyTextLimit) return false;
    char* copy = static_cast<char*>(arena_.allocate(len == 0 ? 1 : len, 1));
    std::memcpy(copy, PyUnicode_DATA(obj), len);
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

PyStatus PyEncoder::convert_list(PyObject* list, YamlValue& slot, const EncodeOptions& opt,
                                 std::uint32_t depth) {
  // The length is fixed on entry: callbacks that grow the list while it is
  // walked do not extend the walk, and ones that shrink it end it early.
  const Py_ssize_t n = PyList_GET_SIZE(list);
  if (n == 0) {
    slot = YamlValue::empty_sequence();
    return {};
  }
  OwnedRef hold = OwnedRef::borrow(list);
  YamlValue* items = arena_.allocate_array<YamlValue>(static_cast<std::size_t>(n));
  Py_ssize_t i = 0;
  const bool simple_ok = depth + 1 <= kMaxEncodeDepth;
  for (; i < n && i < PyList_GET_SIZE(list); ++i) {
    PyObject* item = PyList_GET_ITEM(list, i);
    if (simple_ok && put_simple(item, items[i])) continue;
    if (auto st = convert_into(item, items[i], opt, depth + 1); !st) return st;
  }
  slot = arena_.adopt_sequence(items, static_cast<std::size_t>(i));
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
    if (auto st = convert_into(PyTuple_GET_ITEM(tuple, i), items[i], opt, depth + 1); !st) return st;
  }
  slot = arena_.adopt_sequence(items, static_cast<std::size_t>(n));
  return {};
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
  Py_ssize_t pos = 0;
  Py_ssize_t i = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (i < n && PyDict_Next(dict, &pos, &key, &value)) {
    ValuePair& pair = pairs[i];
    if (Py_TYPE(key) == &PyUnicode_Type) [[likely]] {
      // Converting a str runs no Python code: `value` stays valid.
      if (!put_simple(key, pair.key)) {
        if (auto st = put_str(key, pair.key); !st) return st;
      }
      if (put_simple(value, pair.value)) {
        ++i;
        continue;
      }
      if (auto st = convert_into(value, pair.value, opt, depth + 1); !st) return st;
    } else {
      // The key's conversion may call back into Python, which may change
      // the dict: hold both objects.
      OwnedRef key_hold = OwnedRef::borrow(key);
      OwnedRef value_hold = OwnedRef::borrow(value);
      if (auto st = convert_into(key, pair.key, opt, depth + 1); !st) return st;
      if (auto st = convert_into(value, pair.value, opt, depth + 1); !st) return st;
    }
    ++i;
  }
  slot = arena_.adopt_mapping(pairs, static_cast<std::size_t>(i));
  return {};
}

PyStatus PyEncoder::convert_ordered_dict(PyObject* dict, YamlValue& slot, const EncodeOptions& opt,
                                         std::uint32_t depth) {
  auto items = checked(PyMapping_Items(dict));  // a list of (key, value) tuples
  if (!items) return fail(std::move(items.error()));
  const Py_ssize_t n = PyList_GET_SIZE(items->get());
  if (n == 0) {
    slot = YamlValue::empty_mapping();
    return {};
  }
  ValuePair* pairs = arena_.allocate_array<ValuePair>(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* item = PyList_GET_ITEM(items->get(), i);
    if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
      return fail(PyErr::type_error("items() must give (key, value) pairs"));
    }
    if (auto st = convert_into(PyTuple_GET_ITEM(item, 0), pairs[i].key, opt, depth + 1); !st) return st;
    if (auto st = convert_into(PyTuple_GET_ITEM(item, 1), pairs[i].value, opt, depth + 1); !st) return st;
  }
  slot = arena_.adopt_mapping(pairs, static_cast<std::size_t>(n));
  return {};
}

PyStatus PyEncoder::convert_iterable(PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                                     std::uint32_t depth) {
  auto iter = checked(PyObject_GetIter(obj));
  if (!iter) return fail(std::move(iter.error()));
  std::vector<YamlValue> items;
  if (Py_ssize_t hint = PyObject_LengthHint(obj, 0); hint > 0) {
    items.reserve(static_cast<std::size_t>(hint));
  } else if (hint < 0) {
    PyErr_Clear();
  }
  while (true) {
    OwnedRef item = OwnedRef::steal(PyIter_Next(iter->get()));
    if (!item) {
      if (PyErr_Occurred()) return fail_fetch();
      break;
    }
    YamlValue v;
    if (auto st = convert_into(item.get(), v, opt, depth + 1); !st) return st;
    items.push_back(v);
  }
  slot = arena_.make_sequence(items);
  return {};
}

namespace {

// Builds a Tagged value, refusing a second tag.
PyStatus make_tagged(ValueArena& arena, std::string_view tag, const YamlValue& inner, YamlValue& slot) {
  if (inner.is_tagged()) return fail(encode_error_to_py(kDoubleTagMessage));
  slot = arena.make_tagged(tag, inner);
  return {};
}

}  // namespace

PyStatus PyEncoder::convert_slow(PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                                 std::uint32_t depth) {
  // Everything below may run Python code that drops the container holding
  // `obj`: keep it alive until done.
  OwnedRef hold = OwnedRef::borrow(obj);

  if (PyLong_Check(obj)) return put_int(obj, slot);
  if (PyFloat_Check(obj)) {
    const double d = PyFloat_AsDouble(obj);
    if (d == -1.0 && PyErr_Occurred()) return fail_fetch();
    slot = YamlValue::of_float(d);
    return {};
  }
  if (PyUnicode_Check(obj)) return put_str(obj, slot);
  if (PyBytes_Check(obj)) {
    std::string_view bytes(PyBytes_AS_STRING(obj), static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
    if (!is_valid_utf8(bytes)) return fail(encode_error_to_py(kBytesMessage));
    if (bytes.size() <= kCopyTextLimit) {
      slot = arena_.make_string(bytes);
    } else {
      keep(obj);
      slot = arena_.make_string_ref(bytes);
    }
    return {};
  }
  if (PyTuple_CheckExact(obj)) return convert_tuple(obj, slot, opt, depth);
  if (PyList_Check(obj) || PyTuple_Check(obj)) return convert_iterable(obj, slot, opt, depth);
  // An OrderedDict keeps its own order (move_to_end), which the dict
  // storage underneath does not follow: take its items() instead.
  if (PyODict_Check(obj)) return convert_ordered_dict(obj, slot, opt, depth);
  if (PyDict_Check(obj)) return convert_dict(obj, slot, opt, depth);
  if (PyAnySet_Check(obj)) return convert_iterable(obj, slot, opt, depth);

  if (is_kestrine_tag(obj)) return convert_tag(obj, slot, opt, depth);

  if (opt.serializers != nullptr) {
    PyObject* fn = PyDict_GetItemWithError(opt.serializers, reinterpret_cast<PyObject*>(Py_TYPE(obj)));
    if (fn == nullptr && PyErr_Occurred()) return fail_fetch();
    if (fn != nullptr) {
      OwnedRef fn_hold = OwnedRef::borrow(fn);
      auto result = checked(PyObject_CallOneArg(fn, obj));
      if (!result) return fail(std::move(result.error()));
      return convert_serializer_result(result->get(), slot, opt, depth);
    }
  }

  if (auto handled = convert_fallback(obj, slot, opt, depth); !handled) {
    return fail(std::move(handled.error()));
  } else if (*handled) {
    return {};
  }

  if (opt.default_fn != nullptr) {
    auto result = checked(PyObject_CallOneArg(opt.default_fn, obj));
    if (!result) return fail(std::move(result.error()));
    EncodeOptions inner = opt;
    inner.default_fn = nullptr;  // applied once: never to its own result
    return convert_into(result->get(), slot, inner, depth + 1);
  }
  return fail(not_serializable_error(obj));
}

PyStatus PyEncoder::convert_tag(PyObject* tag_obj, YamlValue& slot, const EncodeOptions& opt,
                                std::uint32_t depth) {
  // The fields never change after construction; the shared borrow only
  // guards against a concurrent teardown.
  TagData& data = const_cast<TagData&>(kestrine_tag_data(tag_obj));
  auto shared = data.borrow.borrow();
  if (!shared) return fail(std::move(shared.error()));
  OwnedRef value = data.value ? data.value : none_ref();
  const std::string_view tag = data.tag;
  if (auto ok = check_tag(tag); !ok) return ok;
  YamlValue inner;
  if (auto st = convert_into(value.get(), inner, opt, depth + 1); !st) return st;
  return make_tagged(arena_, tag, inner, slot);
}

PyStatus PyEncoder::convert_tagged(PyObject* tag, PyObject* value, YamlValue& slot,
                                   const EncodeOptions& opt, std::uint32_t depth) {
  auto text = utf8_of(tag);
  if (!text) return fail(std::move(text.error()));
  if (auto ok = check_tag(*text); !ok) return ok;
  YamlValue inner;
  if (auto st = convert_into(value, inner, opt, depth + 1); !st) return st;
  return make_tagged(arena_, *text, inner, slot);
}

PyStatus PyEncoder::convert_serializer_result(PyObject* result, YamlValue& slot,
                                              const EncodeOptions& opt, std::uint32_t depth) {
  if (is_kestrine_tag(result)) return convert_tag(result, slot, opt, depth);
  if (PyTuple_Check(result) && PyTuple_GET_SIZE(result) == 2) {
    PyObject* tag = PyTuple_GET_ITEM(result, 0);
    if (!PyUnicode_Check(tag)) {
      return fail(PyErr::type_error("the tag of a (tag, value) tuple must be a str, not " +
                                    type_name_text(Py_TYPE(tag))));
    }
    return convert_tagged(tag, PyTuple_GET_ITEM(result, 1), slot, opt, depth);
  }
  return fail(encode_error_to_py(kSerializerResultMessage));
}

PyResult<bool> PyEncoder::convert_fallback(PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                                           std::uint32_t depth) {
  auto n = names();
  if (!n) return fail(std::move(n.error()));
  const Names& nm = **n;

  // 1. Anything with an isoformat() method.
  auto dt = datetime_to_value(obj, opt, arena_);
  if (!dt) return fail(std::move(dt.error()));
  if (*dt) {
    slot = **dt;
    return true;
  }

  PyTypeObject* const type = Py_TYPE(obj);
  auto tname = type_name(type);
  if (!tname) return fail(std::move(tname.error()));

  // 2. Enumeration members: their value.
  if (is_enum_member(obj)) {
    auto value = checked(PyObject_GetAttr(obj, nm.value));
    if (!value) return fail(std::move(value.error()));
    if (auto st = convert_into(value->get(), slot, opt, depth + 1); !st) return fail(std::move(st.error()));
    return true;
  }

  // 3. Dataclass instances: a mapping of their fields.
  if (!opt.passthrough_dataclass) {
    auto fields = lookup_attr(obj, nm.dataclass_fields);
    if (!fields) return fail(std::move(fields.error()));
    if (*fields && !PyType_Check(obj)) {
      if (auto st = convert_dataclass(obj, fields->get(), slot, opt, depth); !st) {
        return fail(std::move(st.error()));
      }
      return true;
    }
  }

  // 4. numpy arrays and scalars, through their Python equivalents.
  if (opt.serialize_numpy) {
    auto sub = numpy_to_value(obj);
    if (!sub) return fail(std::move(sub.error()));
    if (*sub) {
      if (auto st = convert_into(sub->get(), slot, opt, depth + 1); !st) return fail(std::move(st.error()));
      return true;
    }
  }

  // 5, 6. uuid.UUID and decimal.Decimal, recognised by name.
  const bool is_uuid_name = str_equals(tname->get(), "UUID");
  const bool is_decimal_name = !is_uuid_name && str_equals(tname->get(), "Decimal");
  if (is_uuid_name || is_decimal_name) {
    auto module = checked(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), nm.module));
    if (!module) return fail(std::move(module.error()));
    if (!PyUnicode_Check(module->get())) {
      return fail(PyErr::type_error("__module__ must be a str, not " +
                                    type_name_text(Py_TYPE(module->get()))));
    }
    if (is_uuid_name && str_equals(module->get(), "uuid")) {
      auto text_obj = checked(PyObject_Str(obj));
      if (!text_obj) return fail(std::move(text_obj.error()));
      auto text = utf8_of(text_obj->get());
      if (!text) return fail(std::move(text.error()));
      slot = arena_.make_string(*text);
      return true;
    }
    if (is_decimal_name && str_equals(module->get(), "decimal")) {
      if (auto st = convert_decimal(obj, slot); !st) return fail(std::move(st.error()));
      return true;
    }
  }

  // 7. Path-like objects whose __fspath__() gives a str.
  auto fspath = lookup_attr(obj, nm.fspath);
  if (!fspath) return fail(std::move(fspath.error()));
  if (*fspath) {
    auto path = checked(PyObject_CallMethodNoArgs(obj, nm.fspath));
    if (!path) return fail(std::move(path.error()));
    if (PyUnicode_Check(path->get())) {
      auto text = utf8_of(path->get());
      if (text) {
        slot = arena_.make_string(*text);
        return true;
      }
      PyErr_Clear();
    }
  }
  return false;
}

PyStatus PyEncoder::convert_dataclass(PyObject* obj, PyObject* fields, YamlValue& slot,
                                      const EncodeOptions& opt, std::uint32_t depth) {
  std::vector<ValuePair> pairs;
  auto add_field = [&](PyObject* name) -> PyStatus {
    if (!PyUnicode_Check(name)) {
      return fail(PyErr::type_error("dataclass field names must be str, not " +
                                    type_name_text(Py_TYPE(name))));
    }
    ValuePair pair;
    if (auto st = put_str(name, pair.key); !st) return st;
    auto value = checked(PyObject_GetAttr(obj, name));
    if (!value) return fail(std::move(value.error()));
    if (auto st = convert_into(value->get(), pair.value, opt, depth + 1); !st) return st;
    pairs.push_back(pair);
    return {};
  };

  if (PyDict_Check(fields)) {
    // A snapshot of (name, field) pairs: reading attributes runs Python code.
    auto items = checked(PyDict_Items(fields));
    if (!items) return fail(std::move(items.error()));
    const Py_ssize_t count = PyList_GET_SIZE(items->get());
    pairs.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
      PyObject* entry = PyList_GET_ITEM(items->get(), i);
      PyObject* name = PyTuple_GET_ITEM(entry, 0);
      // ClassVar and InitVar entries are not instance data.
      auto pseudo = is_pseudo_field(PyTuple_GET_ITEM(entry, 1));
      if (!pseudo) return fail(std::move(pseudo.error()));
      if (*pseudo) continue;
      if (auto st = add_field(name); !st) return st;
    }
  } else {
    auto iter = checked(PyObject_GetIter(fields));
    if (!iter) return fail(std::move(iter.error()));
    while (true) {
      OwnedRef name = OwnedRef::steal(PyIter_Next(iter->get()));
      if (!name) {
        if (PyErr_Occurred()) return fail_fetch();
        break;
      }
      if (auto st = add_field(name.get()); !st) return st;
    }
  }
  slot = arena_.make_mapping(pairs);
  return {};
}

PyStatus PyEncoder::convert_decimal(PyObject* obj, YamlValue& slot) {
  auto n = names();
  if (!n) return fail(std::move(n.error()));
  const Names& nm = **n;

  auto finite_obj = checked(PyObject_CallMethodNoArgs(obj, nm.is_finite));
  if (!finite_obj) return fail(std::move(finite_obj.error()));
  const int finite = PyObject_IsTrue(finite_obj->get());
  if (finite < 0) return fail_fetch();
  if (!finite) {
    // Infinities and NaN; a signalling NaN refuses the float conversion.
    double d = std::numeric_limits<double>::quiet_NaN();
    if (OwnedRef f = OwnedRef::steal(PyNumber_Float(obj))) {
      d = PyFloat_AS_DOUBLE(f.get());
    } else {
      PyErr_Clear();
    }
    slot = YamlValue::of_float(d);
    return {};
  }

  auto fixed = checked(PyObject_CallMethodOneArg(obj, nm.format, nm.f));
  if (!fixed) return fail(std::move(fixed.error()));
  if (!PyUnicode_Check(fixed->get())) {
    return fail(PyErr::type_error("Decimal.__format__ returned " + type_name_text(Py_TYPE(fixed->get())) +
                                  ", not str"));
  }
  auto text = utf8_of(fixed->get());
  if (!text) return fail(std::move(text.error()));
  if (text->find('.') == std::string_view::npos) {
    slot = arena_.make_bigint(*text);
    return {};
  }
  OwnedRef as_float = OwnedRef::steal(PyNumber_Float(obj));
  if (!as_float) {
    PyErr_Clear();
    slot = arena_.make_string(*text);
    return {};
  }
  // The float is used only when it stands for exactly the same number.
  auto repr = checked(PyObject_Repr(as_float.get()));
  if (!repr) return fail(std::move(repr.error()));
  auto back = checked(PyObject_CallOneArg(reinterpret_cast<PyObject*>(Py_TYPE(obj)), repr->get()));
  if (!back) return fail(std::move(back.error()));
  const int same = PyObject_RichCompareBool(back->get(), obj, Py_EQ);
  if (same < 0) return fail_fetch();
  if (same) {
    slot = YamlValue::of_float(PyFloat_AS_DOUBLE(as_float.get()));
  } else {
    slot = arena_.make_string(*text);
  }
  return {};
}

}  // namespace kestrine
