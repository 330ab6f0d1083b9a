// The class `KestrineDocument`: its spec, construction, `to_yaml`, repr, and
// Python keys as path steps.
#include "ffi/types/document.hpp"

#include <string>
#include <utility>

#include "roundtrip/emitter.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr const char kDocumentDoc[] =
    "A structure-preserving YAML document returned by `loads(..., OPT_ROUND_TRIP)`.\n\nComments, scalar styles, anchors, directives and include boundaries are kept. The document is read and edited through item access and its methods, and written back with `dumps` or `save`.";

PyObject* document_to_yaml_method(PyObject* self, PyObject*) noexcept {
  return py_entry([&] { return document_to_yaml(self); });
}

// "KestrineDocument(documents=N)", N being the number of roots.
PyObject* document_repr(PyObject* self) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    DocumentData& data = reinterpret_cast<DocumentObject*>(self)->data;
    KESTRINE_ASSIGN_OR_RETURN(BorrowFlag::Shared shared, data.borrow.borrow());
    return new_str("KestrineDocument(documents=" + std::to_string(data.record.roots.size()) + ")");
  });
}

PyMethodDef document_methods[] = {
    {"to_yaml", document_to_yaml_method, METH_NOARGS,
     "to_yaml($self)\n--\n\nThe document as YAML bytes: the text as read while nothing was edited, "
     "otherwise the edited trees written back with their comments and styles."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot document_slots[] = {
    {Py_tp_doc, const_cast<char*>(kDocumentDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<DocumentObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(document_repr)},
    {Py_tp_methods, document_methods},
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

PyResult<OwnedRef> new_document(DocumentRecord&& record) noexcept {
  KESTRINE_ASSIGN_OR_RETURN(PyTypeObject* type, kestrine_document_type());
  KESTRINE_ASSIGN_OR_RETURN(DocumentObject* obj, new_instance<DocumentObject>(type, std::move(record)));
  return OwnedRef::steal(reinterpret_cast<PyObject*>(obj));
}

DocumentData* document_data(PyObject* obj) noexcept {
  auto type = kestrine_document_type();
  if (!type) {
    PyErr_Clear();
    return nullptr;
  }
  if (!PyObject_TypeCheck(obj, *type)) return nullptr;
  return &reinterpret_cast<DocumentObject*>(obj)->data;
}

PyResult<OwnedRef> document_to_yaml(PyObject* document) {
  DocumentData* data = document_data(document);
  if (data == nullptr) return fail(PyErr::type_error("expected a KestrineDocument"));
  KESTRINE_ASSIGN_OR_RETURN(BorrowFlag::Shared shared, data->borrow.borrow());
  const std::string text = render_document(data->record);
  return checked(PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// ---- paths ------------------------------------------------------------------------

PyResult<PathSegment> py_to_path_segment(PyObject* key) {
  if (PyUnicode_Check(key)) {
    KESTRINE_ASSIGN_OR_RETURN(std::string_view text, str_view(key));
    return PathSegment::of_key(std::string(text));
  }
  if (OwnedRef index = OwnedRef::steal(PyNumber_Index(key))) {
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value != static_cast<unsigned long long>(-1) || !PyErr_Occurred())
      return PathSegment::of_index(static_cast<std::size_t>(value));
  }
  PyErr_Clear();
  return fail(PyErr::type_error("mapping keys must be str or int"));
}

PyErr missing_step_error(const YamlNode& node, PyObject* key) noexcept {
  if (node.is_sequence()) return PyErr::new_error(PyExc_IndexError, "index out of range");
  OwnedRef text = OwnedRef::steal(PyObject_Str(key));
  if (!text) return PyErr::fetch();
  return PyErr::new_error_obj(PyExc_KeyError, text.get());
}

}  // namespace kestrine
