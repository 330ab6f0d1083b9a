// The class objects of the module and what every class file builds them
// with: the table of classes, the class object made once per process from a
// PyType_Spec, and the making and freeing of instances.
//
// Each class lives in src/ffi/types/<name>.{hpp,cpp}: the .hpp declares its
// instance layout (the base's object struct followed by a C++ `data` member
// that holds the class's own fields), the .cpp its spec, slots and members.
// Instances are made with new_instance<Obj>, which constructs `data`; the
// dealloc helpers destroy it.
#pragma once

#include <new>
#include <type_traits>
#include <utility>

#include "ffi/py.hpp"

namespace kestrine {

// Accessors, in registration order: the class object (borrowed; lives for the
// process), created on the first call.
PyResult<PyTypeObject*> kestrine_document_type() noexcept;
PyResult<PyTypeObject*> kestrine_tree_node_type() noexcept;
PyResult<PyTypeObject*> kestrine_document_view_type() noexcept;
PyResult<PyTypeObject*> kestrine_node_type() noexcept;
PyResult<PyTypeObject*> kestrine_tag_type() noexcept;
PyResult<PyTypeObject*> kestrine_annotated_dict_type() noexcept;
PyResult<PyTypeObject*> kestrine_annotated_list_type() noexcept;
PyResult<PyTypeObject*> kestrine_scalar_type() noexcept;
PyResult<PyTypeObject*> kestrine_sequence_type() noexcept;
PyResult<PyTypeObject*> kestrine_mapping_type() noexcept;

// The class table of the module, in registration order.
struct ClassEntry {
  const char* name;
  PyResult<PyTypeObject*> (*type)() noexcept;
};
inline constexpr ClassEntry kModuleClasses[] = {
    {"KestrineDocument", kestrine_document_type},
    {"KestrineTreeNode", kestrine_tree_node_type},
    {"KestrineDocumentView", kestrine_document_view_type},
    {"KestrineNode", kestrine_node_type},
    {"KestrineTag", kestrine_tag_type},
    {"KestrineAnnotatedDict", kestrine_annotated_dict_type},
    {"KestrineAnnotatedList", kestrine_annotated_list_type},
    {"KestrineScalar", kestrine_scalar_type},
    {"KestrineSequence", kestrine_sequence_type},
    {"KestrineMapping", kestrine_mapping_type},
};

// ---------------------------------------------------------------------------
// Building blocks for the class files

// The storage of one class object.
struct TypeCell {
  const char* name;  // class name for the fault message
  PyTypeObject* type = nullptr;
};

// Creates the class from `spec` (with `base`, or object when null) unless the
// cell holds it already.  On failure the Python error is reported as
// unraisable and the result is the internal fault
// "failed to create type object for `{name}`".
PyResult<PyTypeObject*> create_type_once(TypeCell& cell, PyType_Spec& spec, PyTypeObject* base) noexcept;

namespace detail {
// Allocates an instance of `type` initialised as its built-in base needs
// (a dict subclass gets an empty dict); null with an exception on failure.
PyObject* alloc_raw(PyTypeObject* type) noexcept;
// Frees an instance from alloc_raw whose `data` was never constructed.
void discard_raw(PyObject* raw) noexcept;
}  // namespace detail

// Allocates an instance of `type` (the class or a subclass) and constructs
// its `data` member from `args`.
template <class Obj, class... Args>
PyResult<Obj*> new_instance(PyTypeObject* type, Args&&... args) noexcept {
  PyObject* raw = detail::alloc_raw(type);
  if (raw == nullptr) return fail_fetch();
  auto* obj = reinterpret_cast<Obj*>(raw);
  using Data = decltype(obj->data);
  if constexpr (std::is_nothrow_constructible_v<Data, Args&&...>) {
    new (&obj->data) Data(std::forward<Args>(args)...);
  } else {
    // A constructor that throws leaves an object without `data`, which only
    // this function can free.
    try {
      new (&obj->data) Data(std::forward<Args>(args)...);
    } catch (...) {
      detail::discard_raw(raw);
      return fail(PyErr::memory_error());
    }
  }
  return obj;
}

// tp_dealloc for classes whose base is object.
template <class Obj>
void dealloc_object(PyObject* self) noexcept {
  PyTypeObject* tp = Py_TYPE(self);
  if (PyType_IS_GC(tp)) PyObject_GC_UnTrack(self);
  using Data = decltype(std::declval<Obj&>().data);
  reinterpret_cast<Obj*>(self)->data.~Data();
  tp->tp_free(self);
  Py_DECREF(tp);
}

// tp_dealloc for classes derived from a built-in container (dict, list):
// destroys `data`, then lets the base free the object.
template <class Obj>
void dealloc_with_base(PyObject* self, PyTypeObject* base) noexcept {
  PyTypeObject* tp = Py_TYPE(self);
  using Data = decltype(std::declval<Obj&>().data);
  reinterpret_cast<Obj*>(self)->data.~Data();
  base->tp_dealloc(self);
  Py_DECREF(tp);
}

}  // namespace kestrine
