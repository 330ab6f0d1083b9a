// The class `KestrineTreeNode`: its spec, slots and members.
#include "ffi/types/tree_node.hpp"

namespace kestrine {
namespace {

constexpr const char kTreeNodeDoc[] =
    "An owned node snapshot.\n\nReturned by `KestrineDocument.to_tree()`: a read-only tree of one document's values and metadata that does not change when the document is edited later.";

PyType_Slot tree_node_slots[] = {
    {Py_tp_doc, const_cast<char*>(kTreeNodeDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<TreeNodeObject>)},
    {0, nullptr},
};

PyType_Spec tree_node_spec = {
    "kestrine.KestrineTreeNode",
    static_cast<int>(sizeof(TreeNodeObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    tree_node_slots,
};

TypeCell tree_node_cell{"KestrineTreeNode"};

}  // namespace

PyResult<PyTypeObject*> kestrine_tree_node_type() noexcept { return create_type_once(tree_node_cell, tree_node_spec, nullptr); }

}  // namespace kestrine
