// The class `KestrineTag`: its spec, slots and members.
#include "ffi/types/tag.hpp"

namespace kestrine {
namespace {

constexpr const char kTagDoc[] =
    "KestrineTag(tag, value)\n--\n\nA custom-tagged YAML value, returned when `OPT_PASSTHROUGH_TAG` is set and accepted by `dumps` to write the tagged value back out.\n\nHolds the tag and the resolved inner value.";

PyObject* tag_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
  return not_implemented_new("KestrineTag");
}

PyType_Slot tag_slots[] = {
    {Py_tp_doc, const_cast<char*>(kTagDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<TagObject>)},
    {Py_tp_new, reinterpret_cast<void*>(tag_new)},
    {0, nullptr},
};

PyType_Spec tag_spec = {
    "KestrineTag",
    static_cast<int>(sizeof(TagObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    tag_slots,
};

TypeCell tag_cell{"KestrineTag"};

}  // namespace

PyResult<PyTypeObject*> kestrine_tag_type() noexcept { return create_type_once(tag_cell, tag_spec, nullptr); }

}  // namespace kestrine
