// The class `KestrineAnnotatedDict`: its spec, slots and members.
#include "ffi/types/annotated_dict.hpp"

namespace kestrine {
namespace {

constexpr const char kAnnotatedDictDoc[] =
    "KestrineAnnotatedDict(*_args, **_kwargs)\n--\n\nA `dict` subclass carrying source-location metadata: where the mapping came from (line, column, end position, byte offsets, source file) and the configuration tag that produced it.\n\nIt is constructible like `dict` and survives `copy`, `deepcopy` and `pickle` with its metadata.";

void annotated_dict_dealloc(PyObject* self) noexcept { dealloc_with_base<AnnotatedDictObject>(self, &PyDict_Type); }
PyObject* annotated_dict_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
  return not_implemented_new("KestrineAnnotatedDict");
}

PyType_Slot annotated_dict_slots[] = {
    {Py_tp_doc, const_cast<char*>(kAnnotatedDictDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(annotated_dict_dealloc)},
    {Py_tp_new, reinterpret_cast<void*>(annotated_dict_new)},
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

}  // namespace kestrine
