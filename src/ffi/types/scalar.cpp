// The class `KestrineScalar`: its spec, slots and members.
#include "ffi/types/scalar.hpp"

namespace kestrine {
namespace {

constexpr const char kScalarDoc[] =
    "KestrineScalar(value, *, tag=None, style=\"auto\", comment=None, comment_before=None, comment_after=None)\n--\n\nA scalar node descriptor returned by a `represent` callback: the text to emit, an optional explicit tag and a style.\n\nThe default style lets the emitter apply its implicit-resolver quoting; an explicit style is validated against the value and then honoured.";

PyObject* scalar_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
  return not_implemented_new("KestrineScalar");
}

PyType_Slot scalar_slots[] = {
    {Py_tp_doc, const_cast<char*>(kScalarDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<ScalarObject>)},
    {Py_tp_new, reinterpret_cast<void*>(scalar_new)},
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

PyResult<PyTypeObject*> kestrine_scalar_type() noexcept { return create_type_once(scalar_cell, scalar_spec, nullptr); }

}  // namespace kestrine
