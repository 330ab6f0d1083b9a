// The class `KestrineAnnotatedList`: its spec, slots and members.
#include "ffi/types/annotated_list.hpp"

namespace kestrine {
namespace {

constexpr const char kAnnotatedListDoc[] =
    "KestrineAnnotatedList(*_args, **_kwargs)\n--\n\nA `list` subclass carrying source-location metadata: where the sequence came from (line, column, end position, byte offsets, source file) and the configuration tag that produced it.\n\nIt is constructible like `list` and survives `copy`, `deepcopy` and `pickle` with its metadata.";

void annotated_list_dealloc(PyObject* self) noexcept { dealloc_with_base<AnnotatedListObject>(self, &PyList_Type); }
PyObject* annotated_list_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
  return not_implemented_new("KestrineAnnotatedList");
}

PyType_Slot annotated_list_slots[] = {
    {Py_tp_doc, const_cast<char*>(kAnnotatedListDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(annotated_list_dealloc)},
    {Py_tp_new, reinterpret_cast<void*>(annotated_list_new)},
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

}  // namespace kestrine
