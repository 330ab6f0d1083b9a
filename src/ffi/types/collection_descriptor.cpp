#include "ffi/types/collection_descriptor.hpp"

#include "util/try.hpp"

namespace kestrine {
namespace {

const CollectionFields& fields_of(PyObject* self) noexcept {
  return reinterpret_cast<CollectionObject*>(self)->data.fields;
}
const DescriptorText& text_of(PyObject* self) noexcept { return fields_of(self).text; }
using TextGetters = DescriptorTextGetters<text_of>;

// (The collection is gone only after a garbage-collector clear.)
PyObject* get_collection(PyObject* self, void*) noexcept {
  const OwnedRef& collection = fields_of(self).collection;
  if (!collection) Py_RETURN_NONE;
  return collection.new_ref();
}
PyObject* get_flow(PyObject* self, void*) noexcept {
  const auto& flow = fields_of(self).flow;
  if (!flow) Py_RETURN_NONE;
  return PyBool_FromLong(*flow);
}

int collection_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(fields_of(self).collection.get());
  return 0;
}

// The items may hold the descriptor itself: a cycle through it is broken here.
int collection_clear(PyObject* self) noexcept {
  reinterpret_cast<CollectionObject*>(self)->data.fields.collection.reset();
  return 0;
}

PyObject* collection_reduce(PyObject* self, PyObject*) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    const CollectionFields& f = fields_of(self);
    OwnedRef flow = f.flow ? OwnedRef::borrow(*f.flow ? Py_True : Py_False) : none_ref();
    OwnedRef collection = f.collection ? f.collection : none_ref();
    return reduce_descriptor(self, collection.get(), f.text, "flow", flow.get());
  });
}

PyMethodDef collection_methods[] = {
    {"__reduce__", collection_reduce, METH_NOARGS, "Pickle and copy support."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyObject* new_collection_descriptor(const ArgSpec& spec, PyTypeObject* type, PyObject* args,
                                    PyObject* kwargs) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    KESTRINE_ASSIGN_OR_RETURN(CollectionFields fields, collection_fields_from_args(spec, args, kwargs));
    KESTRINE_ASSIGN_OR_RETURN(CollectionObject* obj, new_instance<CollectionObject>(type, std::move(fields)));
    return OwnedRef::steal(reinterpret_cast<PyObject*>(obj));
  });
}

CollectionClass::CollectionClass(const char* qualname, const char* doc, const ArgSpec& args,
                                 const char* collection_doc, newfunc tp_new) noexcept
    : getset_{
          {args.names[0], get_collection, nullptr, collection_doc, nullptr},
          TextGetters::kTag,
          {"flow", get_flow, nullptr, "True for flow style, False for block, None for automatic.", nullptr},
          TextGetters::kComment,
          TextGetters::kCommentBefore,
          TextGetters::kCommentAfter,
          {nullptr, nullptr, nullptr, nullptr, nullptr},
      },
      slots_{
          {Py_tp_doc, const_cast<char*>(doc)},
          {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<CollectionObject>)},
          {Py_tp_new, reinterpret_cast<void*>(tp_new)},
          {Py_tp_traverse, reinterpret_cast<void*>(collection_traverse)},
          {Py_tp_clear, reinterpret_cast<void*>(collection_clear)},
          {Py_tp_getset, getset_},
          {Py_tp_methods, collection_methods},
          {0, nullptr},
      },
      spec_{
          qualname,
          static_cast<int>(sizeof(CollectionObject)),
          0,
          Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_HAVE_GC,
          slots_,
      },
      cell_{args.fname} {}

const CollectionFields* CollectionClass::fields(PyObject* obj) const noexcept {
  if (cell_.type == nullptr || !PyObject_TypeCheck(obj, cell_.type)) return nullptr;
  return &fields_of(obj);
}

}  // namespace kestrine
