// The class `KestrineMapping`: its spec, slots and members.
#include "ffi/types/mapping.hpp"

namespace kestrine {
namespace {

constexpr const char kMappingDoc[] =
    "KestrineMapping(pairs, *, tag=None, flow=None, comment=None, comment_before=None, comment_after=None)\n--\n\nA mapping node descriptor returned by a `represent` callback: `(key, value)` pairs (the caller's own objects, each passed through `represent` again), an optional tag and a flow override.";

PyObject* mapping_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
  return not_implemented_new("KestrineMapping");
}

PyType_Slot mapping_slots[] = {
    {Py_tp_doc, const_cast<char*>(kMappingDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<MappingObject>)},
    {Py_tp_new, reinterpret_cast<void*>(mapping_new)},
    {0, nullptr},
};

PyType_Spec mapping_spec = {
    "kestrine.KestrineMapping",
    static_cast<int>(sizeof(MappingObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    mapping_slots,
};

TypeCell mapping_cell{"KestrineMapping"};

}  // namespace

PyResult<PyTypeObject*> kestrine_mapping_type() noexcept { return create_type_once(mapping_cell, mapping_spec, nullptr); }

}  // namespace kestrine
