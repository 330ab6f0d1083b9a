// The class `KestrineMapping`: its spec, slots and members.
#include "ffi/types/mapping.hpp"

namespace kestrine {
namespace {

constexpr const char kMappingDoc[] =
    "KestrineMapping(pairs, *, tag=None, flow=None, comment=None, comment_before=None, comment_after=None)\n--\n\nA mapping node descriptor returned by a `represent` callback: `(key, value)` pairs (the caller's own objects, each passed through `represent` again), an optional tag and a flow override.";

constexpr const char* kMappingParams[] = {"pairs", "tag", "flow", "comment", "comment_before", "comment_after"};
constexpr ArgSpec kMappingArgs{"KestrineMapping", kMappingParams, 6, 0, 1, 1};

PyObject* mapping_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    auto fields = collection_fields_from_args(kMappingArgs, args, kwargs);
    if (!fields) return fail(std::move(fields.error()));
    auto obj = new_instance<MappingObject>(type, std::move(*fields));
    if (!obj) return fail(std::move(obj.error()));
    return OwnedRef::steal(reinterpret_cast<PyObject*>(*obj));
  });
}

const CollectionFields& fields_of(PyObject* self) noexcept {
  return reinterpret_cast<MappingObject*>(self)->data.fields;
}

PyObject* get_collection(PyObject* self, void*) noexcept { return fields_of(self).collection.new_ref(); }
PyObject* get_tag(PyObject* self, void*) noexcept { return optional_text_to_py(fields_of(self).text.tag); }
PyObject* get_flow(PyObject* self, void*) noexcept {
  const auto& flow = fields_of(self).flow;
  if (!flow) Py_RETURN_NONE;
  return PyBool_FromLong(*flow);
}
PyObject* get_comment(PyObject* self, void*) noexcept {
  return optional_text_to_py(fields_of(self).text.comment);
}
PyObject* get_comment_before(PyObject* self, void*) noexcept {
  return optional_text_to_py(fields_of(self).text.comment_before);
}
PyObject* get_comment_after(PyObject* self, void*) noexcept {
  return optional_text_to_py(fields_of(self).text.comment_after);
}

int mapping_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(fields_of(self).collection.get());
  return 0;
}

PyGetSetDef mapping_getset[] = {
    {"pairs", get_collection, nullptr, "The (key, value) pairs, as given (a list or tuple).", nullptr},
    {"tag", get_tag, nullptr, "The explicit tag, or None.", nullptr},
    {"flow", get_flow, nullptr, "True for flow style, False for block, None for automatic.", nullptr},
    {"comment", get_comment, nullptr, "The inline comment, or None.", nullptr},
    {"comment_before", get_comment_before, nullptr, "The comment lines above the node, or None.", nullptr},
    {"comment_after", get_comment_after, nullptr, "The comment lines after the node, or None.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot mapping_slots[] = {
    {Py_tp_doc, const_cast<char*>(kMappingDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<MappingObject>)},
    {Py_tp_new, reinterpret_cast<void*>(mapping_new)},
    {Py_tp_traverse, reinterpret_cast<void*>(mapping_traverse)},
    {Py_tp_getset, mapping_getset},
    {0, nullptr},
};

PyType_Spec mapping_spec = {
    "kestrine.KestrineMapping",
    static_cast<int>(sizeof(MappingObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_HAVE_GC,
    mapping_slots,
};

TypeCell mapping_cell{"KestrineMapping"};

}  // namespace

const CollectionFields* mapping_fields(PyObject* obj) noexcept {
  if (mapping_cell.type == nullptr || !PyObject_TypeCheck(obj, mapping_cell.type)) return nullptr;
  return &fields_of(obj);
}

PyResult<PyTypeObject*> kestrine_mapping_type() noexcept { return create_type_once(mapping_cell, mapping_spec, nullptr); }

}  // namespace kestrine
