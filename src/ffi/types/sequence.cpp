// The class `KestrineSequence`: its spec, slots and members.
#include "ffi/types/sequence.hpp"

namespace kestrine {
namespace {

constexpr const char kSequenceDoc[] =
    "KestrineSequence(items, *, tag=None, flow=None, comment=None, comment_before=None, comment_after=None)\n--\n\nA sequence node descriptor returned by a `represent` callback: items that are passed through `represent` the same way, an optional tag and an optional flow override.";

PyObject* sequence_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
  return not_implemented_new("KestrineSequence");
}

PyType_Slot sequence_slots[] = {
    {Py_tp_doc, const_cast<char*>(kSequenceDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<SequenceObject>)},
    {Py_tp_new, reinterpret_cast<void*>(sequence_new)},
    {0, nullptr},
};

PyType_Spec sequence_spec = {
    "kestrine.KestrineSequence",
    static_cast<int>(sizeof(SequenceObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    sequence_slots,
};

TypeCell sequence_cell{"KestrineSequence"};

}  // namespace

PyResult<PyTypeObject*> kestrine_sequence_type() noexcept { return create_type_once(sequence_cell, sequence_spec, nullptr); }

}  // namespace kestrine
