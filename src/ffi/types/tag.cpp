// The class `KestrineTag`: its spec, slots and members.
#include "ffi/types/tag.hpp"

#include "ffi/args.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr const char kTagDoc[] =
    "KestrineTag(tag, value)\n--\n\nA custom-tagged YAML value, returned when `OPT_PASSTHROUGH_TAG` is set and accepted by `dumps` to write the tagged value back out.\n\nHolds the tag and the resolved inner value.";

constexpr const char* kTagParams[] = {"tag", "value"};
constexpr ArgSpec kTagArgs{"KestrineTag", kTagParams, 2, 0, 2, 2};

TagObject* as_tag(PyObject* self) noexcept { return reinterpret_cast<TagObject*>(self); }

PyObject* tag_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    PyObject* parsed[2] = {nullptr, nullptr};
    KESTRINE_TRY(parse_tuple_dict(kTagArgs, args, kwargs, parsed));
    if (!PyUnicode_Check(parsed[0])) {
      return fail(argument_type_error(kTagArgs.fname, "tag", "str", parsed[0]));
    }
    KESTRINE_ASSIGN_OR_RETURN(std::string_view text, str_view(parsed[0]));
    KESTRINE_ASSIGN_OR_RETURN(TagObject* obj,
                              new_instance<TagObject>(type, std::string(text), OwnedRef::borrow(parsed[1])));
    return OwnedRef::steal(reinterpret_cast<PyObject*>(obj));
  });
}

PyObject* tag_get_tag(PyObject* self, void*) noexcept { return str_from_utf8(as_tag(self)->data.tag); }

PyObject* tag_get_value(PyObject* self, void*) noexcept {
  PyObject* value = as_tag(self)->data.value.get();
  if (value == nullptr) value = Py_None;
  Py_INCREF(value);
  return value;
}

PyObject* tag_repr(PyObject* self) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    std::string text = "KestrineTag('";
    text += as_tag(self)->data.tag;
    text += "', ...)";
    return new_str(text);
  });
}

// The value may hold the tag object itself (a list containing it, say), so
// instances take part in cyclic garbage collection.
int tag_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(as_tag(self)->data.value.get());
  return 0;
}

int tag_clear(PyObject* self) noexcept {
  as_tag(self)->data.value.reset();
  return 0;
}

// Pickle and copy make the tag again from its two fields.
PyObject* tag_reduce(PyObject* self, PyObject*) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    const TagData& data = as_tag(self)->data;
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef tag, new_str(data.tag));
    PyObject* value = data.value ? data.value.get() : Py_None;
    return checked(Py_BuildValue("O(OO)", reinterpret_cast<PyObject*>(Py_TYPE(self)), tag.get(), value));
  });
}

PyMethodDef tag_methods[] = {
    {"__reduce__", tag_reduce, METH_NOARGS, "Pickle and copy support."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef tag_getset[] = {
    {"tag", tag_get_tag, nullptr, "The tag text, e.g. '!point'.", nullptr},
    {"value", tag_get_value, nullptr, "The tagged value.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot tag_slots[] = {
    {Py_tp_doc, const_cast<char*>(kTagDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<TagObject>)},
    {Py_tp_new, reinterpret_cast<void*>(tag_new)},
    {Py_tp_repr, reinterpret_cast<void*>(tag_repr)},
    {Py_tp_getset, tag_getset},
    {Py_tp_methods, tag_methods},
    {Py_tp_traverse, reinterpret_cast<void*>(tag_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(tag_clear)},
    {0, nullptr},
};

PyType_Spec tag_spec = {
    // Registered under the package, so that pickle finds the class.
    "kestrine.KestrineTag",
    static_cast<int>(sizeof(TagObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_HAVE_GC,
    tag_slots,
};

TypeCell tag_cell{"KestrineTag"};

}  // namespace

PyResult<PyTypeObject*> kestrine_tag_type() noexcept { return create_type_once(tag_cell, tag_spec, nullptr); }

PyResult<OwnedRef> new_kestrine_tag(std::string_view tag, PyObject* value) noexcept {
  KESTRINE_ASSIGN_OR_RETURN(PyTypeObject* const type, kestrine_tag_type());
  // Never throws: the plain conversion calls this from its walk that follows
  // the C API's convention (raw references, no unwinding).
  std::string text;
  try {
    text.assign(tag);
  } catch (const std::bad_alloc&) {
    return fail(PyErr::memory_error());
  }
  KESTRINE_ASSIGN_OR_RETURN(TagObject* obj, new_instance<TagObject>(type, std::move(text), OwnedRef::borrow(value)));
  return OwnedRef::steal(reinterpret_cast<PyObject*>(obj));
}

bool is_kestrine_tag(PyObject* obj) noexcept {
  return tag_cell.type != nullptr && Py_TYPE(obj) == tag_cell.type;
}

}  // namespace kestrine
