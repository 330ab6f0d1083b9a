// The class `KestrineScalar`: its spec, slots and members.
#include "ffi/types/scalar.hpp"

#include <string_view>

#include "ffi/args.hpp"
#include "util/debug_quote.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr const char kScalarDoc[] =
    "KestrineScalar(value, *, tag=None, style=\"auto\", comment=None, comment_before=None, comment_after=None)\n--\n\nA scalar node descriptor returned by a `represent` callback: the text to emit, an optional explicit tag and a style.\n\nThe default style lets the emitter apply its implicit-resolver quoting; an explicit style is validated against the value and then honoured.";

constexpr const char* kScalarParams[] = {"value", "tag", "style", "comment", "comment_before", "comment_after"};
constexpr ArgSpec kScalarArgs{"KestrineScalar", kScalarParams, 6, 0, 1, 1};

// Named as the scanner names them (scalar_style_name).
constexpr ScalarStyle kStyles[] = {ScalarStyle::Plain, ScalarStyle::SingleQuoted, ScalarStyle::DoubleQuoted,
                                   ScalarStyle::Literal, ScalarStyle::Folded};

PyResult<std::optional<ScalarStyle>> parse_style(const std::optional<std::string>& name) {
  if (!name || *name == "auto") return std::optional<ScalarStyle>();
  for (const ScalarStyle style : kStyles) {
    if (*name == scalar_style_name(style)) return std::optional<ScalarStyle>(style);
  }
  return fail(PyErr::value_error("invalid scalar style " + debug_quoted(*name) +
                                 ": expected one of 'auto', 'plain', 'single', 'double', 'literal', 'folded'"));
}

PyObject* scalar_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    PyObject* arg[6];
    KESTRINE_TRY(parse_tuple_dict(kScalarArgs, args, kwargs, arg));
    const char* fname = kScalarArgs.fname;
    ScalarFields fields;
    KESTRINE_ASSIGN_OR_RETURN(fields.value, text_argument(arg[0], fname, "value"));
    KESTRINE_ASSIGN_OR_RETURN(std::optional<std::string> tag, optional_text_argument(arg[1], fname, "tag"));
    KESTRINE_ASSIGN_OR_RETURN(std::optional<std::string> style_name, optional_text_argument(arg[2], fname, "style"));
    KESTRINE_ASSIGN_OR_RETURN(fields.text, extract_comments(arg[3], arg[4], arg[5], fname));
    KESTRINE_ASSIGN_OR_RETURN(fields.style, parse_style(style_name));
    KESTRINE_TRY(normalize_comments(fields.text));
    fields.text.tag = std::move(tag);
    KESTRINE_ASSIGN_OR_RETURN(ScalarObject* obj, new_instance<ScalarObject>(type, std::move(fields)));
    return OwnedRef::steal(reinterpret_cast<PyObject*>(obj));
  });
}

const ScalarFields& fields_of(PyObject* self) noexcept {
  return reinterpret_cast<ScalarObject*>(self)->data.fields;
}

PyObject* get_value(PyObject* self, void*) noexcept { return str_from_utf8(fields_of(self).value); }
PyObject* get_style(PyObject* self, void*) noexcept {
  return PyUnicode_FromString(scalar_style_name(fields_of(self).style));
}
const DescriptorText& text_of(PyObject* self) noexcept { return fields_of(self).text; }
using TextGetters = DescriptorTextGetters<text_of>;

PyObject* scalar_repr(PyObject* self) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    const ScalarFields& f = fields_of(self);
    std::string out = "KestrineScalar(" + debug_quoted(f.value);
    if (f.text.tag) out += ", tag=" + debug_quoted(*f.text.tag);
    out += ", style=" + debug_quoted(scalar_style_name(f.style)) + ")";
    return new_str(out);
  });
}

PyObject* scalar_reduce(PyObject* self, PyObject*) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    const ScalarFields& f = fields_of(self);
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, new_str(f.value));
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef style, checked(PyUnicode_FromString(scalar_style_name(f.style))));
    return reduce_descriptor(self, value.get(), f.text, "style", style.get());
  });
}

PyMethodDef scalar_methods[] = {
    {"__reduce__", scalar_reduce, METH_NOARGS, "Pickle and copy support."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef scalar_getset[] = {
    {"value", get_value, nullptr, "The scalar text to emit.", nullptr},
    TextGetters::kTag,
    {"style", get_style, nullptr, "The requested style name (\"auto\" when none).", nullptr},
    TextGetters::kComment,
    TextGetters::kCommentBefore,
    TextGetters::kCommentAfter,
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot scalar_slots[] = {
    {Py_tp_doc, const_cast<char*>(kScalarDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<ScalarObject>)},
    {Py_tp_new, reinterpret_cast<void*>(scalar_new)},
    {Py_tp_repr, reinterpret_cast<void*>(scalar_repr)},
    {Py_tp_getset, scalar_getset},
    {Py_tp_methods, scalar_methods},
    {0, nullptr},
};

PyType_Spec scalar_spec = {
    "kestrine.KestrineScalar",
    static_cast<int>(sizeof(ScalarObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    scalar_slots,
};

TypeCell scalar_cell{"KestrineScalar"};

}  // namespace

const char* scalar_style_name(std::optional<ScalarStyle> style) noexcept {
  // The scanner's names are string literals: NUL-terminated.
  return style ? scalar_style_name(*style).data() : "auto";
}

const ScalarFields* scalar_fields(PyObject* obj) noexcept {
  if (scalar_cell.type == nullptr || !PyObject_TypeCheck(obj, scalar_cell.type)) return nullptr;
  return &fields_of(obj);
}

PyResult<PyTypeObject*> kestrine_scalar_type() noexcept { return create_type_once(scalar_cell, scalar_spec, nullptr); }

}  // namespace kestrine
