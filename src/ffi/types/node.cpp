// The class `KestrineNode`: its spec, slots and members.
#include "ffi/types/node.hpp"

namespace kestrine {
namespace {

constexpr const char kNodeDoc[] =
    "A metadata-bearing handle onto a single node of a [`KestrineDocument`].\n\nIt reads and edits the node's value, comments, anchor, tag and style and reports its position; a handle whose path no longer resolves reports \"stale node\".";

PyType_Slot node_slots[] = {
    {Py_tp_doc, const_cast<char*>(kNodeDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<NodeObject>)},
    {0, nullptr},
};

PyType_Spec node_spec = {
    "KestrineNode",
    static_cast<int>(sizeof(NodeObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    node_slots,
};

TypeCell node_cell{"KestrineNode"};

}  // namespace

PyResult<PyTypeObject*> kestrine_node_type() noexcept { return create_type_once(node_cell, node_spec, nullptr); }

}  // namespace kestrine
