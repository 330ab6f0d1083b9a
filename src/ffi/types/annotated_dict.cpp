// The class `KestrineAnnotatedDict`, and the members it shares with
// `KestrineAnnotatedList`: metadata getters, predicates, pickling support.
#include "ffi/types/annotated_dict.hpp"

#include <array>
#include <cstddef>
#include <string_view>
#include <utility>

#include "ffi/args.hpp"
#include "ffi/types/annotated_list.hpp"
#include "roundtrip/tree/tree_ops.hpp"  // is_include_tag
#include "util/try.hpp"

namespace kestrine {

AnnotatedData& annotated_data(PyObject* self) noexcept {
  if (PyDict_Check(self)) return reinterpret_cast<AnnotatedDictObject*>(self)->data;
  return reinterpret_cast<AnnotatedListObject*>(self)->data;
}

std::optional<std::string_view> annotation_text(const OwnedRef& field) noexcept {
  if (!field) return std::nullopt;
  auto text = str_view(field.get());
  if (!text) return std::nullopt;
  return *text;
}

namespace {

OwnedRef text_or_none(const OwnedRef& field) noexcept { return field ? field : none_ref(); }

}  // namespace

PyResult<OwnedRef> span_to_py_tuple(const Annotation& meta) noexcept {
  std::array<PyResult<OwnedRef>, 9> items = {
      new_uint(meta.line),       new_uint(meta.column),        text_or_none(meta.file),
      new_uint(meta.end_line),   new_uint(meta.end_column),    text_or_none(meta.source_tag),
      text_or_none(meta.source_target), new_uint(meta.offset), new_uint(meta.end_offset),
  };
  for (auto& item : items) KESTRINE_TRY(item);
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef tuple, checked(PyTuple_New(9)));
  for (std::size_t i = 0; i < items.size(); ++i)
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), items[i]->release());
  return tuple;
}

namespace annotated_members {
namespace {

enum Field : std::intptr_t {
  kLine,
  kColumn,
  kFile,
  kEndLine,
  kEndColumn,
  kSourceTag,
  kSourceTarget,
  kOffset,
  kEndOffset,
};

PyObject* get_field(PyObject* self, void* closure) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    AnnotatedData& data = annotated_data(self);
    KESTRINE_ASSIGN_OR_RETURN(const BorrowFlag::Shared shared, data.borrow.borrow());
    const Annotation& m = data.meta;
    switch (static_cast<Field>(reinterpret_cast<std::intptr_t>(closure))) {
      case kLine: return new_uint(m.line);
      case kColumn: return new_uint(m.column);
      case kFile: return text_or_none(m.file);
      case kEndLine: return new_uint(m.end_line);
      case kEndColumn: return new_uint(m.end_column);
      case kSourceTag: return text_or_none(m.source_tag);
      case kSourceTarget: return text_or_none(m.source_target);
      case kOffset: return new_uint(m.offset);
      case kEndOffset: return new_uint(m.end_offset);
    }
    return fail(PyErr::internal_fault("unknown annotation field"));
  });
}

enum Predicate : std::intptr_t { kIsSecret, kIsEnvVar, kIsInclude };

PyObject* get_predicate(PyObject* self, void* closure) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    AnnotatedData& data = annotated_data(self);
    KESTRINE_ASSIGN_OR_RETURN(const BorrowFlag::Shared shared, data.borrow.borrow());
    const std::optional<std::string_view> tag = annotation_text(data.meta.source_tag);
    bool result = false;
    switch (static_cast<Predicate>(reinterpret_cast<std::intptr_t>(closure))) {
      case kIsSecret: result = tag && *tag == "!secret"; break;
      case kIsEnvVar: result = tag && *tag == "!env_var"; break;
      case kIsInclude: result = tag && is_include_tag(*tag); break;
    }
    return OwnedRef::borrow(result ? Py_True : Py_False);
  });
}

void* field(Field f) noexcept { return reinterpret_cast<void*>(f); }
void* predicate(Predicate p) noexcept { return reinterpret_cast<void*>(p); }

// ---- __setstate__ ---------------------------------------------------------------

// An item of the state that must be an unsigned integer of at most `max`.
// Runs `__index__`, which may execute Python code: done before any borrow.
PyResult<std::uint64_t> state_number(PyObject* item, std::uint64_t max) noexcept {
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef index, checked(PyNumber_Index(item)));
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return fail_fetch();
  if (value > max) {
    return fail(PyErr::new_error(PyExc_OverflowError, "out of range integral type conversion attempted"));
  }
  return value;
}

// A text item of the state as an exact str (a subclass instance is copied,
// so the record never holds user objects); empty for None.
PyResult<OwnedRef> state_text(PyObject* item, int position) {
  if (item == Py_None) return OwnedRef();
  if (!PyUnicode_Check(item)) {
    return fail(PyErr::type_error("state item " + std::to_string(position) + " must be str or None, not " +
                                  Py_TYPE(item)->tp_name));
  }
  KESTRINE_ASSIGN_OR_RETURN(std::string_view text, str_view(item));
  if (PyUnicode_CheckExact(item)) return OwnedRef::borrow(item);
  return new_str(text);
}

PyResult<Annotation> state_to_annotation(PyObject* state) {
  if (!PyTuple_Check(state)) {
    return fail(PyErr::type_error(std::string("argument 'state': '") + Py_TYPE(state)->tp_name +
                                  "' object is not an instance of 'tuple'"));
  }
  const Py_ssize_t n = PyTuple_GET_SIZE(state);
  if (n != 9) {
    return fail(PyErr::value_error("expected tuple of length 9, but got tuple of length " + std::to_string(n)));
  }
  // The tuple is immutable and holds its items, so Python code run by an
  // item's __index__ cannot pull them away from under us.
  constexpr std::uint64_t kU32 = 0xFFFFFFFFu;
  constexpr std::uint64_t kU64 = ~std::uint64_t{0};
  auto item = [&](int i) { return PyTuple_GET_ITEM(state, i); };
  Annotation m;
  KESTRINE_ASSIGN_OR_RETURN(m.line, state_number(item(0), kU32));
  KESTRINE_ASSIGN_OR_RETURN(m.column, state_number(item(1), kU32));
  KESTRINE_ASSIGN_OR_RETURN(m.file, state_text(item(2), 2));
  KESTRINE_ASSIGN_OR_RETURN(m.end_line, state_number(item(3), kU32));
  KESTRINE_ASSIGN_OR_RETURN(m.end_column, state_number(item(4), kU32));
  KESTRINE_ASSIGN_OR_RETURN(m.source_tag, state_text(item(5), 5));
  KESTRINE_ASSIGN_OR_RETURN(m.source_target, state_text(item(6), 6));
  KESTRINE_ASSIGN_OR_RETURN(m.offset, state_number(item(7), kU64));
  KESTRINE_ASSIGN_OR_RETURN(m.end_offset, state_number(item(8), kU64));
  return m;
}

const char* const kSetstateNames[] = {"state"};
constexpr ArgSpec kSetstateSpec{"__setstate__", kSetstateNames, 1, 0, 1, 1};

// The instance dictionary of a subclass instance; empty for the two classes
// themselves, which have none.
PyResult<OwnedRef> instance_dict(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  bool has_dict = type->tp_dictoffset != 0;
#ifdef Py_TPFLAGS_MANAGED_DICT
  has_dict = has_dict || PyType_HasFeature(type, Py_TPFLAGS_MANAGED_DICT);
#endif
  if (!has_dict) return OwnedRef();
  return checked(PyObject_GenericGetDict(self, nullptr));
}

// A subclass instance with attributes of its own pickles the pair (metadata,
// attributes); the state is the metadata alone otherwise.
bool is_state_with_attributes(PyObject* state) noexcept {
  return PyTuple_Check(state) && PyTuple_GET_SIZE(state) == 2 && PyTuple_Check(PyTuple_GET_ITEM(state, 0)) &&
         PyDict_Check(PyTuple_GET_ITEM(state, 1));
}

PyObject* setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    PyObject* state = nullptr;
    KESTRINE_TRY(parse_fastcall(kSetstateSpec, args, nargs, kwnames, &state));
    OwnedRef hold = OwnedRef::borrow(state);
    PyObject* attributes = nullptr;
    if (is_state_with_attributes(state)) {
      attributes = PyTuple_GET_ITEM(state, 1);
      state = PyTuple_GET_ITEM(state, 0);
    }
    // Everything that can run Python code happens before the exclusive
    // borrow is taken, so a re-entrant call sees a free flag.
    KESTRINE_ASSIGN_OR_RETURN(Annotation meta, state_to_annotation(state));
    if (attributes != nullptr) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef dict, instance_dict(self));
      if (!dict) return fail(PyErr::type_error(std::string(Py_TYPE(self)->tp_name) + " instances have no attributes"));
      KESTRINE_TRY(checked_status(PyDict_Update(dict.get(), attributes)));
    }
    AnnotatedData& data = annotated_data(self);
    KESTRINE_ASSIGN_OR_RETURN(const BorrowFlag::Exclusive exclusive, data.borrow.borrow_mut());
    data.meta = std::move(meta);
    return none_ref();
  });
}

// ---- __reduce__ -----------------------------------------------------------------

PyObject* reduce(PyObject* self, PyObject*) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef state, [&]() -> PyResult<OwnedRef> {
      AnnotatedData& data = annotated_data(self);
      auto shared = data.borrow.borrow();
      if (!shared) return fail(PyErr::internal_fault(kAlreadyMutablyBorrowed));
      return span_to_py_tuple(data.meta);
    }());
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef dict, instance_dict(self));
    if (dict && PyDict_GET_SIZE(dict.get()) > 0) {
      KESTRINE_ASSIGN_OR_RETURN(state, checked(PyTuple_Pack(2, state.get(), dict.get())));
    }
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef empty, checked(PyTuple_New(0)));
    OwnedRef list_items = none_ref();
    OwnedRef dict_items = none_ref();
    if (PyDict_Check(self)) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef items, checked(PyObject_CallMethod(self, "items", nullptr)));
      KESTRINE_ASSIGN_OR_RETURN(dict_items, checked(PyObject_GetIter(items.get())));
    } else {
      KESTRINE_ASSIGN_OR_RETURN(list_items, checked(PyObject_GetIter(self)));
    }
    return checked(PyTuple_Pack(5, reinterpret_cast<PyObject*>(Py_TYPE(self)), empty.get(), state.get(),
                                list_items.get(), dict_items.get()));
  });
}

}  // namespace

PyGetSetDef getset[] = {
    {"__line__", get_field, nullptr, nullptr, field(kLine)},
    {"__column__", get_field, nullptr, nullptr, field(kColumn)},
    {"__file__", get_field, nullptr, nullptr, field(kFile)},
    {"__end_line__", get_field, nullptr,
     "Line of the position just past the node's last character (1-based).", field(kEndLine)},
    {"__end_column__", get_field, nullptr, nullptr, field(kEndColumn)},
    {"__offset__", get_field, nullptr, "0-based byte offset of the node's first source character.",
     field(kOffset)},
    {"__end_offset__", get_field, nullptr, "0-based byte offset just past the node's last source character.",
     field(kEndOffset)},
    {"__source_tag__", get_field, nullptr,
     "The configuration or custom tag that produced the node (\"!secret\", \"!env_var\", an include tag, "
     "or a custom tag), or None.",
     field(kSourceTag)},
    {"__source_target__", get_field, nullptr,
     "The directive argument that produced the node (the secret name, the include path, the variable "
     "specification), or None.",
     field(kSourceTarget)},
    {"is_secret", get_predicate, nullptr, "Whether this node's value was produced by a `!secret` directive.",
     predicate(kIsSecret)},
    {"is_env_var", get_predicate, nullptr, "Whether this node's value was produced by an `!env_var` directive.",
     predicate(kIsEnvVar)},
    {"is_include", get_predicate, nullptr, "Whether this node's value was produced by any `!include` directive.",
     predicate(kIsInclude)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"__setstate__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(setstate)),
     METH_FASTCALL | METH_KEYWORDS,
     "__setstate__($self, state)\n--\n\nRestores the source-location metadata from the 9-tuple made by "
     "`__reduce__` (line, column, file, end line, end column, source tag, source target, offset, end "
     "offset), or from the pair (that 9-tuple, attributes) of a subclass instance with attributes of its "
     "own, which are restored too. The items are left alone."},
    {"__reduce__", reduce, METH_NOARGS,
     "__reduce__($self)\n--\n\nPickle support: the class, no constructor arguments, the metadata as a "
     "9-tuple for `__setstate__` (paired with the instance's attributes when a subclass instance has "
     "any), and an iterator over the items."},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* new_slot(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    // The arguments are for the inherited __init__; only their kinds are
    // checked (they differ only through direct slot calls).
    if (args != nullptr && !PyTuple_Check(args)) return fail(PyErr::type_error("argument '_args' must be a tuple"));
    if (kwargs != nullptr && !PyDict_Check(kwargs)) return fail(PyErr::type_error("argument '_kwargs' must be a dict"));
    if (PyType_IsSubtype(type, &PyDict_Type)) {
      KESTRINE_ASSIGN_OR_RETURN(AnnotatedDictObject* obj, new_instance<AnnotatedDictObject>(type));
      return OwnedRef::steal(reinterpret_cast<PyObject*>(obj));
    }
    KESTRINE_ASSIGN_OR_RETURN(AnnotatedListObject* obj, new_instance<AnnotatedListObject>(type));
    return OwnedRef::steal(reinterpret_cast<PyObject*>(obj));
  });
}

}  // namespace annotated_members

namespace {

constexpr const char kAnnotatedDictDoc[] =
    "KestrineAnnotatedDict(*_args, **_kwargs)\n--\n\nA `dict` subclass carrying source-location metadata: where the mapping came from (line, column, end position, byte offsets, source file) and the configuration tag that produced it.\n\nIt is constructible like `dict` and survives `copy`, `deepcopy` and `pickle` with its metadata.";

// The base's deallocator guards deep nesting with the interpreter's
// trashcan only for its own type, so a chain of nested instances of this
// class would recurse once per level: guard it here.
void annotated_dict_dealloc(PyObject* self) noexcept {
  PyObject_GC_UnTrack(self);
  Py_TRASHCAN_BEGIN(self, annotated_dict_dealloc)
  dealloc_with_base<AnnotatedDictObject>(self, &PyDict_Type);
  Py_TRASHCAN_END
}

PyType_Slot annotated_dict_slots[] = {
    {Py_tp_doc, const_cast<char*>(kAnnotatedDictDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(annotated_dict_dealloc)},
    {Py_tp_new, reinterpret_cast<void*>(annotated_members::new_slot)},
    {Py_tp_getset, annotated_members::getset},
    {Py_tp_methods, annotated_members::methods},
    {0, nullptr},
};

PyType_Spec annotated_dict_spec = {
    "kestrine.KestrineAnnotatedDict",
    static_cast<int>(sizeof(AnnotatedDictObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_BASETYPE,
    annotated_dict_slots,
};

TypeCell annotated_dict_cell{"KestrineAnnotatedDict"};

}  // namespace

PyResult<PyTypeObject*> kestrine_annotated_dict_type() noexcept { return create_type_once(annotated_dict_cell, annotated_dict_spec, &PyDict_Type); }

PyResult<OwnedRef> new_annotated_dict(Annotation meta) noexcept {
  KESTRINE_ASSIGN_OR_RETURN(PyTypeObject* const type, kestrine_annotated_dict_type());
  KESTRINE_ASSIGN_OR_RETURN(AnnotatedDictObject* obj, new_instance<AnnotatedDictObject>(type, std::move(meta)));
  return OwnedRef::steal(reinterpret_cast<PyObject*>(obj));
}

}  // namespace kestrine
