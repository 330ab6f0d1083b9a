#include "ffi/types/class_objects.hpp"

#include <cstdio>
#include <cstring>

namespace kestrine {

PyResult<PyTypeObject*> create_type_once(TypeCell& cell, PyType_Spec& spec, PyTypeObject* base) noexcept {
  if (cell.type != nullptr) [[likely]] return cell.type;
  // A class without a module keeps a bare type name, but still needs a
  // `__module__` (pydoc and friends read it, and the interpreter warns when
  // it cannot derive one): build it as "builtins.<name>", then give the type
  // its bare name back.  tp_name is only a pointer; the interpreter frees its
  // own copy of the PyType_Spec name, not tp_name.
  const char* const bare_name = std::strchr(spec.name, '.') == nullptr ? spec.name : nullptr;
  char dotted[256];
  if (bare_name != nullptr) {
    const int length = std::snprintf(dotted, sizeof dotted, "builtins.%s", bare_name);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof dotted) {
      return fail(PyErr::internal_fault("class name too long"));
    }
    spec.name = dotted;
  }
  PyObject* created = base != nullptr ? PyType_FromSpecWithBases(&spec, reinterpret_cast<PyObject*>(base))
                                      : PyType_FromSpec(&spec);
  if (bare_name != nullptr) {
    spec.name = bare_name;
    if (created != nullptr) reinterpret_cast<PyTypeObject*>(created)->tp_name = bare_name;
  }
  if (created == nullptr) {
    PyErr_WriteUnraisable(nullptr);
    PyErr_Format(PyExc_SystemError, "failed to create type object for `%s`", cell.name);
    return fail_fetch();
  }
  cell.type = reinterpret_cast<PyTypeObject*>(created);
  return cell.type;
}

PyObject* detail::alloc_raw(PyTypeObject* type) noexcept {
  if (PyType_IsSubtype(type, &PyDict_Type)) {
    // dict's allocator leaves the keys table unset; its tp_new fills it.
    OwnedRef empty = OwnedRef::steal(PyTuple_New(0));
    if (!empty) return nullptr;
    return PyDict_Type.tp_new(type, empty.get(), nullptr);
  }
  return type->tp_alloc(type, 0);
}

void detail::discard_raw(PyObject* raw) noexcept {
  PyTypeObject* tp = Py_TYPE(raw);
  if (PyType_IsSubtype(tp, &PyDict_Type)) {
    PyDict_Type.tp_dealloc(raw);
  } else if (PyType_IsSubtype(tp, &PyList_Type)) {
    PyList_Type.tp_dealloc(raw);
  } else {
    if (PyType_IS_GC(tp)) PyObject_GC_UnTrack(raw);
    tp->tp_free(raw);
  }
  if (tp->tp_flags & Py_TPFLAGS_HEAPTYPE) Py_DECREF(tp);
}

}  // namespace kestrine
