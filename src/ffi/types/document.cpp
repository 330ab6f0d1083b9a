// The class `KestrineDocument`: its spec, construction, reading members,
// `to_yaml`, repr, and Python keys as path steps (item assignment, `save`
// and `set_origin` are document_edit.cpp's and document_save.cpp's).
#include "ffi/types/document.hpp"

#include <string>
#include <utility>

#include "ffi/types/document_access.hpp"
#include "ffi/types/document_edit.hpp"
#include "ffi/types/document_save.hpp"
#include "ffi/types/node.hpp"
#include "ffi/types/tree_node.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "roundtrip/tree/node_list.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr const char kDocumentDoc[] =
    "A structure-preserving YAML document returned by `loads(..., OPT_ROUND_TRIP)`.\n\nComments, scalar styles, anchors, directives and include boundaries are kept. The document is read and edited through item access and its methods, and written back with `dumps` or `save`.";

DocumentData& data_of(PyObject* self) noexcept { return reinterpret_cast<DocumentObject*>(self)->data; }

const NodePath kRootPath;

// Runs `body(data)` under shared access to the document.
template <class Body>
auto reading(PyObject* self, Body&& body) -> std::invoke_result_t<Body&, DocumentData&> {
  DocumentData& data = data_of(self);
  KESTRINE_ASSIGN_OR_RETURN(const BorrowFlag::Shared shared, access_document(data));
  return body(data);
}

// ---- item access ------------------------------------------------------------------

// A document of zero or several roots is indexed like a list of its
// documents; a view made so reads within its own document.
PyResult<OwnedRef> document_entry(DocumentData& data, PyObject* self, PyObject* key) {
  OwnedRef index = OwnedRef::steal(PyNumber_Index(key));
  const unsigned long long position = index ? PyLong_AsUnsignedLongLong(index.get()) : 0;
  if (!index || (position == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
    PyErr_Clear();
    return fail(PyErr::new_error(PyExc_KeyError, "multi-document access requires an integer index"));
  }
  if (position >= data.record.roots.size()) return fail(PyErr::new_error(PyExc_IndexError, "index out of range"));
  DocumentRead read(data, static_cast<std::size_t>(position));
  return item_result(read, self, {}, data.record.roots[position]);
}

PyResult<OwnedRef> document_item(PyObject* self, PyObject* key) {
  return reading(self, [&](DocumentData& data) -> PyResult<OwnedRef> {
    const YamlNode* root = single_root(data.record);
    if (root == nullptr) return document_entry(data, self, key);
    DocumentRead read(data, 0);
    return lookup_item(read, self, kRootPath, *root, key);
  });
}

PyObject* document_subscript(PyObject* self, PyObject* key) noexcept {
  return py_entry([&] { return document_item(self, key); });
}

PyObject* document_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return py_entry([&] {
    return get_or_default(args, nargs, kwnames, [&](PyObject* key) { return document_item(self, key); });
  });
}

Py_ssize_t document_length(PyObject* self) noexcept {
  Py_ssize_t length = -1;
  const int status = py_entry_status([&] {
    return reading(self, [&](DocumentData& data) -> PyStatus {
      const YamlNode* root = single_root(data.record);
      if (root == nullptr) {
        length = static_cast<Py_ssize_t>(data.record.roots.size());
        return {};
      }
      DocumentRead read(data, 0);
      KESTRINE_ASSIGN_OR_RETURN(length, node_length(read, *root));
      return {};
    });
  });
  return status < 0 ? -1 : length;
}

int document_contains(PyObject* self, PyObject* key) noexcept {
  bool found = false;
  const int status = py_entry_status([&] {
    return reading(self, [&](DocumentData& data) -> PyStatus {
      const YamlNode* root = single_root(data.record);
      if (root == nullptr) return {};
      DocumentRead read(data, 0);
      KESTRINE_ASSIGN_OR_RETURN(found, contains_text(read, *root, key));
      return {};
    });
  });
  return status < 0 ? -1 : found;
}

// ---- conversions ------------------------------------------------------------------

PyObject* document_keys(PyObject* self, PyObject*) noexcept {
  return py_entry([&] {
    return reading(self, [&](DocumentData& data) -> PyResult<OwnedRef> {
      const YamlNode* root = single_root(data.record);
      if (root == nullptr) return fail(PyErr::type_error("keys() is only available on a single mapping document"));
      if (!root->is_mapping()) return fail(PyErr::type_error("node is not a mapping"));
      DocumentRead read(data, 0);
      return distinct_keys(read, *root);
    });
  });
}

PyResult<OwnedRef> document_to_dict(DocumentData& data) {
  if (const YamlNode* root = single_root(data.record)) {
    DocumentRead read(data, 0);
    return convert_whole(read, *root);
  }
  // Each document's aliases bind within it; the expansion limits hold for
  // the whole call.
  const auto& roots = data.record.roots;
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, checked(PyList_New(static_cast<Py_ssize_t>(roots.size()))));
  DocumentRead read(data, 0);
  for (std::size_t i = 0; i < roots.size(); ++i) {
    read.move_to_root(i);
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, convert_whole(read, roots[i]));
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), value.release());
  }
  return list;
}

PyObject* document_to_dict_method(PyObject* self, PyObject*) noexcept {
  return py_entry([&] { return reading(self, document_to_dict); });
}

PyObject* document_walk(PyObject* self, PyObject*) noexcept {
  return py_entry([&] {
    return reading(self, [&](DocumentData& data) -> PyResult<OwnedRef> {
      if (data.record.roots.empty()) return checked(PyList_New(0));
      DocumentRead read(data, 0);
      return walk_node(read, data.record.roots.front());
    });
  });
}

PyObject* document_range(PyObject* self, PyObject*) noexcept {
  return py_entry([&] {
    return reading(self, [&](DocumentData& data) -> PyResult<OwnedRef> {
      if (data.record.roots.empty()) return none_ref();
      return range_tuple(data.record.roots.front());
    });
  });
}

PyObject* document_to_tree(PyObject* self, PyObject*) noexcept {
  return py_entry([&] {
    return reading(self, [&](DocumentData& data) -> PyResult<OwnedRef> {
      const auto& roots = data.record.roots;
      if (roots.empty()) return none_ref();
      if (roots.size() > 1)
        return fail(PyErr::value_error("to_tree() requires one document; use loads_all(option=OPT_ROUND_TRIP)"));
      return tree_snapshot(roots.front(), data.record.flags);
    });
  });
}

// ---- handles ----------------------------------------------------------------------

// The steps of a `locate` path, all converted before anything is looked up.
PyResult<NodePath> locate_steps(PyObject* path) {
  if (PyUnicode_Check(path))
    return fail(PyErr::type_error("locate() takes a sequence of str/int path segments, not a str"));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef items, checked(PyObject_GetIter(path)));
  NodePath steps;
  while (OwnedRef item = OwnedRef::steal(PyIter_Next(items.get()))) {
    KESTRINE_ASSIGN_OR_RETURN(PathSegment step, py_to_path_segment(item.get()));
    steps.push_back(std::move(step));
  }
  if (PyErr_Occurred()) return fail_fetch();
  return steps;
}

PyObject* document_locate(PyObject* self, PyObject* path) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    KESTRINE_ASSIGN_OR_RETURN(NodePath steps, locate_steps(path));
    return reading(self, [&](DocumentData& data) -> PyResult<OwnedRef> {
      if (resolve_path(data.record, 0, steps, &data.lookups) == nullptr) return none_ref();
      return new_node(self, 0, std::move(steps));
    });
  });
}

PyObject* document_node(PyObject* self, void*) noexcept {
  return py_entry([&] { return new_node(self, 0, {}); });
}

PyObject* document_origin(PyObject* self, void*) noexcept {
  return py_entry([&] {
    return reading(self, [&](DocumentData& data) -> PyResult<OwnedRef> {
      const auto& origin = data.record.origin;
      return optional_str(origin ? std::optional<std::string_view>(*origin) : std::nullopt);
    });
  });
}

// Anchor name to the node defining it, in the first document; a name defined
// twice keeps its first place and names its last node.
PyObject* document_anchors(PyObject* self, void*) noexcept {
  return py_entry([&] {
    return reading(self, [&](DocumentData& data) -> PyResult<OwnedRef> {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef anchors, checked(PyDict_New()));
      if (data.record.roots.empty()) return anchors;
      NodePath scratch;
      std::vector<std::pair<std::string, NodePath>> found;
      collect_anchor_paths(data.record.roots.front(), scratch, found);
      for (auto& [name, path] : found) {
        KESTRINE_ASSIGN_OR_RETURN(OwnedRef key, new_str(name));
        KESTRINE_ASSIGN_OR_RETURN(OwnedRef node, new_node(self, 0, std::move(path)));
        KESTRINE_TRY(checked_status(PyDict_SetItem(anchors.get(), key.get(), node.get())));
      }
      return anchors;
    });
  });
}

PyObject* document_explicit_start(PyObject* self, void*) noexcept {
  return py_entry([&] {
    return reading(self, [&](DocumentData& data) -> PyResult<OwnedRef> {
      const auto& roots = data.record.roots;
      return OwnedRef::borrow(!roots.empty() && roots.front().explicit_start ? Py_True : Py_False);
    });
  });
}

// ---- writing ----------------------------------------------------------------------

PyObject* document_to_yaml_method(PyObject* self, PyObject*) noexcept {
  return py_entry([&] { return document_to_yaml(self); });
}

// "KestrineDocument(documents=N)", N being the number of roots.
PyObject* document_repr(PyObject* self) noexcept {
  return py_entry([&] {
    return reading(self, [&](DocumentData& data) {
      return new_str("KestrineDocument(documents=" + std::to_string(data.record.roots.size()) + ")");
    });
  });
}

PyMethodDef document_methods[] = {
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_get)),
     METH_FASTCALL | METH_KEYWORDS, "get($self, key, default)\n--\n\n`self[key]`, or `default` when there is no such item."},
    {"keys", document_keys, METH_NOARGS, "keys($self)\n--\n\nThe keys of the root mapping, each once, in order."},
    {"to_dict", document_to_dict_method, METH_NOARGS,
     "to_dict($self)\n--\n\nThe document as plain Python data (a list of documents for a stream that does not hold "
     "exactly one)."},
    {"walk", document_walk, METH_NOARGS,
     "walk($self)\n--\n\nEvery scalar leaf of the first document as (path, value), path a tuple of keys and "
     "indexes."},
    {"range", document_range, METH_NOARGS,
     "range($self)\n--\n\n(line, column, end_line, end_column) of the first document, 1-based, or None."},
    {"locate", document_locate, METH_O,
     "locate($self, path)\n--\n\nA `KestrineNode` for a sequence of keys and indexes in the first document, or "
     "None when nothing is there."},
    {"to_yaml", document_to_yaml_method, METH_NOARGS,
     "to_yaml($self)\n--\n\nThe document as YAML bytes: the text as read while nothing was edited, "
     "otherwise the edited trees written back with their comments and styles."},
    {"save", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_save)), METH_FASTCALL | METH_KEYWORDS,
     "save($self, path=None)\n--\n\nWrites the edited document back: the included files that changed, then its own "
     "file (to `path` when given, else to its origin when something in it changed). Returns the paths written."},
    {"set_origin", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_set_origin)),
     METH_FASTCALL | METH_KEYWORDS, "set_origin($self, path)\n--\n\nSets the path `save()` writes the document to."},
    {"to_tree", document_to_tree, METH_NOARGS,
     "to_tree($self)\n--\n\nA `KestrineTreeNode` snapshot of the document's values and metadata, or None when it "
     "holds no document."},
    {nullptr, nullptr, 0, nullptr},
};

// The bytes of text a record's trees were read from.
std::size_t record_text_size(const DocumentRecord& record) noexcept {
  std::size_t size = record.source_text ? record.source_text->size() : 0;
  for (const auto& source : record.source_texts) size += source ? source->size() : 0;
  return size;
}

// A large document's trees go with the lock released (a thread that drops
// one lets the others run meanwhile), their memory kept for the next load;
// the rest as any object's data.
void document_dealloc(PyObject* self) noexcept {
  DocumentRecord& record = reinterpret_cast<DocumentObject*>(self)->data.record;
  const KeepReleasedChunks keep;
  drop_native(record.roots, record_text_size(record));
  dealloc_object<DocumentObject>(self);
}

PyGetSetDef document_getset[] = {
    {"node", document_node, nullptr, "A `KestrineNode` for the first document's root.", nullptr},
    {"origin", document_origin, nullptr, "The path the document was loaded from, or None.", nullptr},
    {"anchors", document_anchors, nullptr, "Anchor name to the `KestrineNode` defining it.", nullptr},
    {"explicit_start", document_explicit_start, nullptr, "The first document opens with \"---\".", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot document_slots[] = {
    {Py_tp_doc, const_cast<char*>(kDocumentDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(document_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(document_repr)},
    {Py_tp_methods, document_methods},
    {Py_tp_getset, document_getset},
    {Py_mp_subscript, reinterpret_cast<void*>(document_subscript)},
    {Py_mp_ass_subscript, reinterpret_cast<void*>(document_ass_subscript)},
    {Py_mp_length, reinterpret_cast<void*>(document_length)},
    {Py_sq_contains, reinterpret_cast<void*>(document_contains)},
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
  KESTRINE_ASSIGN_OR_RETURN(const BorrowFlag::Shared shared, access_document(*data));
  return new_bytes(render_document(data->record));
}

PyResult<OwnedRef> document_json_value(PyObject* document) {
  DocumentData* data = document_data(document);
  if (data == nullptr) return fail(PyErr::type_error("expected a KestrineDocument"));
  return reading(document, [](DocumentData& d) -> PyResult<OwnedRef> {
    if (d.record.roots.empty()) return none_ref();
    return document_to_dict(d);
  });
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

PyErr key_error_for(PyObject* key) noexcept {
  OwnedRef text = OwnedRef::steal(PyObject_Str(key));
  if (!text) return PyErr::fetch();
  return PyErr::new_error_obj(PyExc_KeyError, text.get());
}

PyErr missing_step_error(const YamlNode& node, PyObject* key) noexcept {
  if (node.is_sequence()) return PyErr::new_error(PyExc_IndexError, "index out of range");
  return key_error_for(key);
}

}  // namespace kestrine
