// The class `KestrineAnnotatedList`: its spec and slots.  The members are
// shared with the dict class (annotated_dict.cpp).
#include "ffi/types/annotated_list.hpp"

#include <utility>

#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr const char kAnnotatedListDoc[] =
    "KestrineAnnotatedList(*_args, **_kwargs)\n--\n\nA `list` subclass carrying source-location metadata: where the sequence came from (line, column, end position, byte offsets, source file) and the configuration tag that produced it.\n\nIt is constructible like `list` and survives `copy`, `deepcopy` and `pickle` with its metadata.";

// The base's deallocator guards deep nesting with the interpreter's
// trashcan only for its own type, so a chain of nested instances of this
// class would recurse once per level: guard it here.
void annotated_list_dealloc(PyObject* self) noexcept {
  PyObject_GC_UnTrack(self);
  Py_TRASHCAN_BEGIN(self, annotated_list_dealloc)
  dealloc_with_base<AnnotatedListObject>(self, &PyList_Type);
  Py_TRASHCAN_END
}

PyType_Slot annotated_list_slots[] = {
    {Py_tp_doc, const_cast<char*>(kAnnotatedListDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(annotated_list_dealloc)},
    {Py_tp_new, reinterpret_cast<void*>(annotated_members::new_slot)},
    {Py_tp_getset, annotated_members::getset},
    {Py_tp_methods, annotated_members::methods},
    {0, nullptr},
};

PyType_Spec annotated_list_spec = {
    "kestrine.KestrineAnnotatedList",
    static_cast<int>(sizeof(AnnotatedListObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_BASETYPE,
    annotated_list_slots,
};

TypeCell annotated_list_cell{"KestrineAnnotatedList"};

}  // namespace

PyResult<PyTypeObject*> kestrine_annotated_list_type() noexcept { return create_type_once(annotated_list_cell, annotated_list_spec, &PyList_Type); }

PyResult<OwnedRef> new_annotated_list(Annotation meta) noexcept {
  KESTRINE_ASSIGN_OR_RETURN(PyTypeObject* const type, kestrine_annotated_list_type());
  KESTRINE_ASSIGN_OR_RETURN(AnnotatedListObject* obj, new_instance<AnnotatedListObject>(type, std::move(meta)));
  return OwnedRef::steal(reinterpret_cast<PyObject*>(obj));
}

}  // namespace kestrine
