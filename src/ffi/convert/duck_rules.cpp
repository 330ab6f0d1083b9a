#include "ffi/convert/duck_rules.hpp"

#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "ffi/errors.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

// ---------------------------------------------------------------------------
// Interpreter helpers

// Interned attribute names, made on first use (with the interpreter lock).
struct AttributeNames {
  PyObject* isoformat;
  PyObject* value;
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

PyResult<const AttributeNames*> attribute_names() noexcept {
  static AttributeNames n{};
  static bool ready = false;
  if (ready) [[likely]] return &n;
  const std::pair<PyObject**, const char*> table[] = {
      {&n.isoformat, "isoformat"},    {&n.value, "value"},
      {&n.dataclass_fields, "__dataclass_fields__"}, {&n.field_type, "_field_type"},
      {&n.fspath, "__fspath__"},      {&n.module, "__module__"},
      {&n.tolist, "tolist"},          {&n.item, "item"},
      {&n.is_finite, "is_finite"},    {&n.format, "__format__"},
      {&n.f, "f"},
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

// The `__name__` of a type, as a str object.
PyResult<OwnedRef> type_name_object(PyTypeObject* type) noexcept {
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

PyErr not_serializable_error(PyObject* obj) {
  return unserializable_error_to_py("type " + type_name_text(Py_TYPE(obj)) + " is not YAML serializable");
}

// A path whose text holds bytes that are not UTF-8 (os.fsdecode turns them
// into lone surrogates): said so, with the text escaped, rather than blaming
// the path's type.
PyErr undecodable_path_error(PyObject* path) {
  std::string message = "cannot serialize a path that is not valid UTF-8";
  OwnedRef shown = OwnedRef::steal(PyObject_Repr(path));  // lone surrogates escaped
  if (shown) {
    if (auto text = str_view(shown.get())) {
      message += ": ";
      message += *text;
    }
  }
  PyErr_Clear();
  return unserializable_error_to_py(message + "; convert it to text yourself before dumping");
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
PyResult<bool> is_pseudo_field(PyObject* field, const AttributeNames& names) noexcept {
  load_dataclass_markers();
  if (g_dataclass_markers.classvar == nullptr && g_dataclass_markers.initvar == nullptr) return false;
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef kind, lookup_attr(field, names.field_type));
  if (!kind) return false;
  return kind.get() == g_dataclass_markers.classvar || kind.get() == g_dataclass_markers.initvar;
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

// Two ASCII digits at `pos`.
bool two_digits(std::string_view s, std::size_t pos) noexcept {
  return pos + 2 <= s.size() && is_digit(s[pos]) && is_digit(s[pos + 1]);
}

// The length of the UTC offset that ends an isoformat text: "Z", or a sign,
// "hh:mm", optionally ":ss" and optionally a fraction (offsets are not
// whole minutes in general); 0 when the text ends in none.  The offset
// follows the time, so only a sign after the time's first ":" counts, never
// the "-" of a date.
std::size_t utc_offset_length(std::string_view s) noexcept {
  if (!s.empty() && s.back() == 'Z') return 1;
  const std::size_t time = s.find(':');
  if (time == std::string_view::npos) return 0;  // a date, or no time at all
  const std::size_t sign = s.find_first_of("+-", time);
  if (sign == std::string_view::npos) return 0;
  std::size_t pos = sign + 1;
  if (!two_digits(s, pos) || pos + 2 >= s.size() || s[pos + 2] != ':' || !two_digits(s, pos + 3)) return 0;
  pos += 5;
  if (pos < s.size() && s[pos] == ':') {
    if (!two_digits(s, pos + 1)) return 0;
    pos += 3;
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      const std::size_t digits = pos;
      while (pos < s.size() && is_digit(s[pos])) ++pos;
      if (pos == digits) return 0;
    }
  }
  return pos == s.size() ? s.size() - sign : 0;
}

std::string rewrite_iso_text(std::string_view s, const EncodeOptions& opt) {
  const std::size_t zone_length = utc_offset_length(s);
  std::string_view base = s.substr(0, s.size() - zone_length);
  std::string_view zone = s.substr(s.size() - zone_length);
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

// ---------------------------------------------------------------------------
// The rules of the chain after the datetime rule

// One object on its way through the chain.
struct RuleCall {
  PyEncoder& encoder;
  PyObject* obj;
  YamlValue& slot;
  const EncodeOptions& opt;
  std::uint32_t depth;
  const AttributeNames& names;
  PyObject* type_name;  // the `__name__` of the object's type (borrowed)
  // Set by the path rule to a path text without a UTF-8 form, which it
  // leaves to `default` but which, left over, is the reason for the error.
  OwnedRef* undecodable_path;
};

// A rule: true when it took the object (the value is in `slot`).
using Rule = PyResult<bool> (*)(const RuleCall&);

// Enumeration members: their value.
PyResult<bool> enum_rule(const RuleCall& c) {
  if (!is_enum_member(c.obj)) return false;
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, checked(PyObject_GetAttr(c.obj, c.names.value)));
  KESTRINE_TRY(c.encoder.convert_into(value.get(), c.slot, c.opt, c.depth + 1));
  return true;
}

// Dataclass instances (not the classes themselves), unless passed through:
// the mapping of their fields.
PyResult<bool> dataclass_rule(const RuleCall& c) {
  KESTRINE_ASSIGN_OR_RETURN(std::optional<std::vector<OwnedRef>> names, dataclass_field_names(c.obj, c.opt));
  if (!names) return false;
  std::vector<ValuePair> pairs;
  pairs.reserve(names->size());
  for (const OwnedRef& name : *names) {
    ValuePair pair;
    KESTRINE_TRY(c.encoder.put_str(name.get(), pair.key));
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, checked(PyObject_GetAttr(c.obj, name.get())));
    KESTRINE_TRY(c.encoder.convert_into(value.get(), pair.value, c.opt, c.depth + 1));
    pairs.push_back(pair);
  }
  c.slot = c.encoder.arena().make_mapping(pairs);
  return true;
}

// numpy arrays and scalars, through their Python equivalents.
PyResult<bool> numpy_rule(const RuleCall& c) {
  if (!c.opt.serialize_numpy) return false;
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef substitute, numpy_to_value(c.obj));
  if (!substitute) return false;
  KESTRINE_TRY(c.encoder.convert_into(substitute.get(), c.slot, c.opt, c.depth + 1));
  return true;
}

// A decimal.Decimal: infinities and NaN as floats; a whole number as its
// digits; otherwise a float when the float stands for exactly the same
// number, else the fixed-point text.
PyResult<YamlValue> decimal_to_value(PyObject* obj, ValueArena& arena, const AttributeNames& names) {
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef finite_obj, checked(PyObject_CallMethodNoArgs(obj, names.is_finite)));
  const int finite = PyObject_IsTrue(finite_obj.get());
  if (finite < 0) return fail_fetch();
  if (!finite) {
    // A signalling NaN refuses the float conversion.
    double d = std::numeric_limits<double>::quiet_NaN();
    if (OwnedRef f = OwnedRef::steal(PyNumber_Float(obj))) {
      d = PyFloat_AS_DOUBLE(f.get());
    } else {
      PyErr_Clear();
    }
    return YamlValue::of_float(d);
  }

  KESTRINE_ASSIGN_OR_RETURN(OwnedRef fixed, checked(PyObject_CallMethodOneArg(obj, names.format, names.f)));
  if (!PyUnicode_Check(fixed.get())) {
    return fail(PyErr::type_error("Decimal.__format__ returned " + type_name_text(Py_TYPE(fixed.get())) +
                                  ", not str"));
  }
  KESTRINE_ASSIGN_OR_RETURN(std::string_view text, str_view(fixed.get()));
  if (text.find('.') == std::string_view::npos) return arena.make_bigint(text);
  OwnedRef as_float = OwnedRef::steal(PyNumber_Float(obj));
  if (!as_float) {
    PyErr_Clear();
    return arena.make_string(text);
  }
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef repr, checked(PyObject_Repr(as_float.get())));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef back,
                            checked(PyObject_CallOneArg(reinterpret_cast<PyObject*>(Py_TYPE(obj)), repr.get())));
  const int same = PyObject_RichCompareBool(back.get(), obj, Py_EQ);
  if (same < 0) return fail_fetch();
  if (same) return YamlValue::of_float(PyFloat_AS_DOUBLE(as_float.get()));
  return arena.make_string(text);
}

// uuid.UUID and decimal.Decimal, recognised by the names of the type and of
// its module.
PyResult<bool> uuid_or_decimal_rule(const RuleCall& c) {
  const bool is_uuid_name = str_equals(c.type_name, "UUID");
  const bool is_decimal_name = !is_uuid_name && str_equals(c.type_name, "Decimal");
  if (!is_uuid_name && !is_decimal_name) return false;
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef module,
                            checked(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(c.obj)), c.names.module)));
  if (!PyUnicode_Check(module.get())) {
    return fail(PyErr::type_error("__module__ must be a str, not " + type_name_text(Py_TYPE(module.get()))));
  }
  if (is_uuid_name && str_equals(module.get(), "uuid")) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef text_obj, checked(PyObject_Str(c.obj)));
    KESTRINE_ASSIGN_OR_RETURN(std::string_view text, str_view(text_obj.get()));
    c.slot = c.encoder.arena().make_string(text);
    return true;
  }
  if (is_decimal_name && str_equals(module.get(), "decimal")) {
    KESTRINE_ASSIGN_OR_RETURN(c.slot, decimal_to_value(c.obj, c.encoder.arena(), c.names));
    return true;
  }
  return false;
}

// Path-like objects whose `__fspath__()` gives a str.
PyResult<bool> fspath_rule(const RuleCall& c) {
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef fspath, lookup_attr(c.obj, c.names.fspath));
  if (!fspath) return false;
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef path, checked(PyObject_CallMethodNoArgs(c.obj, c.names.fspath)));
  if (!PyUnicode_Check(path.get())) return false;
  auto text = str_view(path.get());
  if (!text) {  // no UTF-8 form (bytes smuggled in as surrogates): not taken
    if (c.undecodable_path != nullptr) *c.undecodable_path = std::move(path);
    return false;
  }
  c.slot = c.encoder.arena().make_string(*text);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// The shared rules

PyResult<std::optional<YamlValue>> datetime_to_value(PyObject* obj, const EncodeOptions& opt, ValueArena& arena) {
  KESTRINE_ASSIGN_OR_RETURN(const AttributeNames* names, attribute_names());
  OwnedRef method = OwnedRef::steal(PyObject_GetAttr(obj, names->isoformat));
  if (!method) {
    PyErr_Clear();  // no isoformat (or a property that raised): not a datetime
    return std::optional<YamlValue>();
  }
  if (opt.passthrough_datetime) return std::optional<YamlValue>();
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef text_obj, checked(PyObject_CallNoArgs(method.get())));
  if (!PyUnicode_Check(text_obj.get())) return std::optional<YamlValue>();
  auto text = str_view(text_obj.get());
  if (!text) return std::optional<YamlValue>();  // no UTF-8 form: not a datetime text
  return std::optional<YamlValue>(arena.make_string(rewrite_iso_text(*text, opt)));
}

PyResult<std::optional<std::vector<OwnedRef>>> dataclass_field_names(PyObject* obj, const EncodeOptions& opt) {
  using Names = std::optional<std::vector<OwnedRef>>;
  if (opt.passthrough_dataclass) return Names();
  KESTRINE_ASSIGN_OR_RETURN(const AttributeNames* names, attribute_names());
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef fields, lookup_attr(obj, names->dataclass_fields));
  if (!fields || PyType_Check(obj)) return Names();
  std::vector<OwnedRef> out;
  auto add_name = [&](PyObject* name) -> PyStatus {
    if (!PyUnicode_Check(name)) {
      return fail(PyErr::type_error("dataclass field names must be str, not " + type_name_text(Py_TYPE(name))));
    }
    out.push_back(OwnedRef::borrow(name));
    return {};
  };
  if (PyDict_Check(fields.get())) {
    // A snapshot of (name, field) pairs: the pseudo-field test reads
    // attributes, which runs Python code.
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef items, checked(PyDict_Items(fields.get())));
    const Py_ssize_t count = PyList_GET_SIZE(items.get());
    out.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
      PyObject* entry = PyList_GET_ITEM(items.get(), i);
      KESTRINE_ASSIGN_OR_RETURN(const bool pseudo, is_pseudo_field(PyTuple_GET_ITEM(entry, 1), *names));
      if (!pseudo) KESTRINE_TRY(add_name(PyTuple_GET_ITEM(entry, 0)));
    }
  } else {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef iter, checked(PyObject_GetIter(fields.get())));
    while (OwnedRef name = OwnedRef::steal(PyIter_Next(iter.get()))) KESTRINE_TRY(add_name(name.get()));
    if (PyErr_Occurred()) return fail_fetch();
  }
  return Names(std::move(out));
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
  KESTRINE_ASSIGN_OR_RETURN(const AttributeNames* names, attribute_names());
  PyObject* sub = PyObject_CallMethodNoArgs(obj, names->tolist);
  if (sub == nullptr) {
    PyErr_Clear();
    sub = PyObject_CallMethodNoArgs(obj, names->item);
    if (sub == nullptr) {
      PyErr_Clear();
      return OwnedRef();
    }
  }
  return OwnedRef::steal(sub);
}

// ---------------------------------------------------------------------------
// The chain and the hooks around it

PyResult<bool> fallback_to_value(PyEncoder& encoder, PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                                 std::uint32_t depth, OwnedRef* undecodable_path) {
  KESTRINE_ASSIGN_OR_RETURN(const AttributeNames* names, attribute_names());
  KESTRINE_ASSIGN_OR_RETURN(std::optional<YamlValue> datetime, datetime_to_value(obj, opt, encoder.arena()));
  if (datetime) {
    slot = *datetime;
    return true;
  }
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef type_name, type_name_object(Py_TYPE(obj)));
  const RuleCall call{encoder, obj, slot, opt, depth, *names, type_name.get(), undecodable_path};
  static constexpr Rule kRules[] = {enum_rule, dataclass_rule, numpy_rule, uuid_or_decimal_rule, fspath_rule};
  for (const Rule rule : kRules) {
    KESTRINE_ASSIGN_OR_RETURN(const bool taken, rule(call));
    if (taken) return true;
  }
  return false;
}

PyResult<OwnedRef> call_serializer(PyObject* obj, const EncodeOptions& opt) {
  if (opt.serializers == nullptr) return OwnedRef();
  PyObject* fn = PyDict_GetItemWithError(opt.serializers, reinterpret_cast<PyObject*>(Py_TYPE(obj)));
  if (fn == nullptr) {
    if (PyErr_Occurred()) return fail_fetch();
    return OwnedRef();
  }
  OwnedRef fn_hold = OwnedRef::borrow(fn);  // the call may drop the dict's entry
  return checked(PyObject_CallOneArg(fn, obj));
}

PyStatus convert_unmatched(PyEncoder& encoder, PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                           std::uint32_t depth) {
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef serialized, call_serializer(obj, opt));
  if (serialized) return encoder.convert_serializer_result(serialized.get(), slot, opt, depth);
  OwnedRef undecodable_path;
  KESTRINE_ASSIGN_OR_RETURN(const bool taken, fallback_to_value(encoder, obj, slot, opt, depth, &undecodable_path));
  if (taken) return {};
  if (opt.default_fn != nullptr) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef result, checked(PyObject_CallOneArg(opt.default_fn, obj)));
    EncodeOptions inner = opt;
    inner.default_fn = nullptr;  // applied once: never to its own result
    return encoder.convert_into(result.get(), slot, inner, depth + 1);
  }
  if (undecodable_path) return fail(undecodable_path_error(undecodable_path.get()));
  return fail(not_serializable_error(obj));
}

}  // namespace kestrine
