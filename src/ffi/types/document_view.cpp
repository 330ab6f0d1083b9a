// The class `KestrineDocumentView`: its spec, slots and members.
#include "ffi/types/document_view.hpp"

namespace kestrine {
namespace {

constexpr const char kDocumentViewDoc[] =
    "A live proxy onto a nested node of a [`KestrineDocument`], addressed by path.\n\nThe path is resolved again on every access; a view whose path no longer resolves reports \"stale view\".";

PyType_Slot document_view_slots[] = {
    {Py_tp_doc, const_cast<char*>(kDocumentViewDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<DocumentViewObject>)},
    {0, nullptr},
};

PyType_Spec document_view_spec = {
    "KestrineDocumentView",
    static_cast<int>(sizeof(DocumentViewObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    document_view_slots,
};

TypeCell document_view_cell{"KestrineDocumentView"};

}  // namespace

PyResult<PyTypeObject*> kestrine_document_view_type() noexcept { return create_type_once(document_view_cell, document_view_spec, nullptr); }

}  // namespace kestrine
