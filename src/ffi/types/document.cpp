// The class `KestrineDocument`: its spec, slots and members.
#include "ffi/types/document.hpp"

namespace kestrine {
namespace {

constexpr const char kDocumentDoc[] =
    "A structure-preserving YAML document returned by `loads(..., OPT_ROUND_TRIP)`.\n\nComments, scalar styles, anchors, directives and include boundaries are kept. The document is read and edited through item access and its methods, and written back with `dumps` or `save`.";

PyType_Slot document_slots[] = {
    {Py_tp_doc, const_cast<char*>(kDocumentDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<DocumentObject>)},
    {0, nullptr},
};

PyType_Spec document_spec = {
    "KestrineDocument",
    static_cast<int>(sizeof(DocumentObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    document_slots,
};

TypeCell document_cell{"KestrineDocument"};

}  // namespace

PyResult<PyTypeObject*> kestrine_document_type() noexcept { return create_type_once(document_cell, document_spec, nullptr); }

}  // namespace kestrine
