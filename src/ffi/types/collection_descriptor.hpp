// What `KestrineSequence` and `KestrineMapping` have in common: one instance
// layout, the constructor, the members but the collection attribute
// (`items` / `pairs`), the slots and the PyType_Spec.  Each class file declares
// a CollectionClass with what sets it apart.  Immutable once made.
#pragma once

#include <utility>

#include "ffi/args.hpp"
#include "ffi/py.hpp"
#include "ffi/types/class_objects.hpp"
#include "ffi/types/descriptor_args.hpp"

namespace kestrine {

struct CollectionData {
  explicit CollectionData(CollectionFields&& f) noexcept : fields(std::move(f)) {}
  BorrowFlag borrow;
  CollectionFields fields;  // collection = the `items` / `pairs` list or tuple
};

struct CollectionObject {
  PyObject ob_base;
  CollectionData data;
};

// The body of a collection descriptor's tp_new: `spec` as for
// collection_fields_from_args.
PyObject* new_collection_descriptor(const ArgSpec& spec, PyTypeObject* type, PyObject* args,
                                    PyObject* kwargs) noexcept;

// One collection descriptor class: its members, slots, spec and class object.
class CollectionClass {
 public:
  // `qualname` is the dotted class name and `doc` its docstring; `args`
  // names the class and the collection attribute (its first parameter),
  // which `collection_doc` describes; `tp_new` calls
  // new_collection_descriptor with `args`.
  CollectionClass(const char* qualname, const char* doc, const ArgSpec& args, const char* collection_doc,
                  newfunc tp_new) noexcept;
  CollectionClass(const CollectionClass&) = delete;
  CollectionClass& operator=(const CollectionClass&) = delete;

  // The class object, created on the first call.
  PyResult<PyTypeObject*> type() noexcept { return create_type_once(cell_, spec_, nullptr); }
  // The descriptor's fields when `obj` is an instance of this class, else null.
  const CollectionFields* fields(PyObject* obj) const noexcept;

 private:
  PyGetSetDef getset_[7];
  PyType_Slot slots_[8];
  PyType_Spec spec_;
  TypeCell cell_;
};

}  // namespace kestrine
