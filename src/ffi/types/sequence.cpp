// The class `KestrineSequence`: its spec, slots and members.
#include "ffi/types/sequence.hpp"

namespace kestrine {
namespace {

constexpr const char kSequenceDoc[] =
    "KestrineSequence(items, *, tag=None, flow=None, comment=None, comment_before=None, comment_after=None)\n--\n\nA sequence node descriptor returned by a `represent` callback: items that are passed through `represent` the same way, an optional tag and an optional flow override.";

constexpr const char* kSequenceParams[] = {"items", "tag", "flow", "comment", "comment_before", "comment_after"};
constexpr ArgSpec kSequenceArgs{"KestrineSequence", kSequenceParams, 6, 0, 1, 1};

PyObject* sequence_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    auto fields = collection_fields_from_args(kSequenceArgs, args, kwargs);
    if (!fields) return fail(std::move(fields.error()));
    auto obj = new_instance<SequenceObject>(type, std::move(*fields));
    if (!obj) return fail(std::move(obj.error()));
    return OwnedRef::steal(reinterpret_cast<PyObject*>(*obj));
  });
}

const CollectionFields& fields_of(PyObject* self) noexcept {
  return reinterpret_cast<SequenceObject*>(self)->data.fields;
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

int sequence_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(fields_of(self).collection.get());
  return 0;
}

PyGetSetDef sequence_getset[] = {
    {"items", get_collection, nullptr, "The items, as given (a list or tuple).", nullptr},
    {"tag", get_tag, nullptr, "The explicit tag, or None.", nullptr},
    {"flow", get_flow, nullptr, "True for flow style, False for block, None for automatic.", nullptr},
    {"comment", get_comment, nullptr, "The inline comment, or None.", nullptr},
    {"comment_before", get_comment_before, nullptr, "The comment lines above the node, or None.", nullptr},
    {"comment_after", get_comment_after, nullptr, "The comment lines after the node, or None.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot sequence_slots[] = {
    {Py_tp_doc, const_cast<char*>(kSequenceDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<SequenceObject>)},
    {Py_tp_new, reinterpret_cast<void*>(sequence_new)},
    {Py_tp_traverse, reinterpret_cast<void*>(sequence_traverse)},
    {Py_tp_getset, sequence_getset},
    {0, nullptr},
};

PyType_Spec sequence_spec = {
    "kestrine.KestrineSequence",
    static_cast<int>(sizeof(SequenceObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_HAVE_GC,
    sequence_slots,
};

TypeCell sequence_cell{"KestrineSequence"};

}  // namespace

const CollectionFields* sequence_fields(PyObject* obj) noexcept {
  if (sequence_cell.type == nullptr || !PyObject_TypeCheck(obj, sequence_cell.type)) return nullptr;
  return &fields_of(obj);
}

PyResult<PyTypeObject*> kestrine_sequence_type() noexcept { return create_type_once(sequence_cell, sequence_spec, nullptr); }

}  // namespace kestrine
