// The class `KestrineDocumentView`: its spec, slots and members (item
// assignment is document_edit.cpp's).
#include "ffi/types/document_view.hpp"

#include <string>
#include <type_traits>
#include <utility>

#include "ffi/types/document_edit.hpp"
#include "ffi/types/node.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr const char kDocumentViewDoc[] =
    "A live proxy onto a nested node of a [`KestrineDocument`], addressed by path.\n\nThe path is resolved again on every access; a view whose path no longer resolves reports \"stale view\".";

HandleData& handle_of(PyObject* self) noexcept { return reinterpret_cast<DocumentViewObject*>(self)->data; }

PyErr stale_view() noexcept { return PyErr::new_error(PyExc_KeyError, "stale view"); }

// Runs `body(read, node, path)` on the node the view addresses (an alias
// there stands for its anchored node); KeyError "stale view" when its path
// does not resolve.
template <class Body>
auto with_view(PyObject* self, Body&& body) {
  return with_rebased_handle(handle_of(self), stale_view, std::forward<Body>(body));
}

PyResult<OwnedRef> view_item(PyObject* self, PyObject* key) {
  return with_view(self, [&](DocumentRead& read, const YamlNode& node, const NodePath& path) {
    return lookup_item(read, handle_of(self).document.get(), path, node, key);
  });
}

PyObject* view_subscript(PyObject* self, PyObject* key) noexcept {
  return py_entry([&] { return view_item(self, key); });
}

PyObject* view_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return py_entry([&] {
    return get_or_default(args, nargs, kwnames, [&](PyObject* key) { return view_item(self, key); });
  });
}

PyObject* view_keys(PyObject* self, PyObject*) noexcept {
  return py_entry([&] {
    return with_view(self, [&](DocumentRead& read, const YamlNode& node, const NodePath&) -> PyResult<OwnedRef> {
      if (!node.is_mapping()) return fail(PyErr::type_error("node is not a mapping"));
      return distinct_keys(read, node);
    });
  });
}

PyObject* view_unwrap(PyObject* self, PyObject*) noexcept {
  return py_entry([&] {
    return with_view(self, [&](DocumentRead& read, const YamlNode& node, const NodePath&) {
      return convert_whole(read, node);
    });
  });
}

PyObject* view_range(PyObject* self, PyObject*) noexcept {
  return py_entry([&] {
    return with_view(self, [&](DocumentRead&, const YamlNode& node, const NodePath&) { return range_tuple(node); });
  });
}

PyObject* view_walk(PyObject* self, PyObject*) noexcept {
  return py_entry([&] {
    return with_view(self, [&](DocumentRead& read, const YamlNode& node, const NodePath&) {
      return walk_node(read, node);
    });
  });
}

PyObject* view_to_yaml(PyObject* self, PyObject*) noexcept {
  return py_entry([&] {
    return with_view(self, [&](DocumentRead& read, const YamlNode& node, const NodePath& path) -> PyResult<OwnedRef> {
      // A secret is written as its directive; a part of its value has no
      // text that may be written, and writing it as the value would leak it.
      const YamlNode& root = read.record().roots[read.root_index()];
      if (const YamlNode* secret = enclosing_secret(root, path, read.lookups()))
        return fail(PyErr::value_error(inside_secret_message("render", *secret)));
      return new_bytes(emit_to_string(node, read.record().flags.null_style));
    });
  });
}

PyObject* view_node(PyObject* self, void*) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    HandleData& handle = handle_of(self);
    KESTRINE_ASSIGN_OR_RETURN(const BorrowFlag::Shared shared, handle.borrow.borrow());
    return new_node(handle.document.get(), handle.start_root, handle.path);
  });
}

Py_ssize_t view_length(PyObject* self) noexcept {
  Py_ssize_t length = -1;
  const int status = py_entry_status([&] {
    return with_view(self, [&](DocumentRead& read, const YamlNode& node, const NodePath&) -> PyStatus {
      KESTRINE_ASSIGN_OR_RETURN(length, node_length(read, node));
      return {};
    });
  });
  return status < 0 ? -1 : length;
}

int view_contains(PyObject* self, PyObject* key) noexcept {
  bool found = false;
  const int status = py_entry_status([&] {
    return with_view(self, [&](DocumentRead& read, const YamlNode& node, const NodePath&) -> PyStatus {
      KESTRINE_ASSIGN_OR_RETURN(found, contains_text(read, node, key));
      return {};
    });
  });
  return status < 0 ? -1 : found;
}

// "KestrineDocumentView(<kind>)", or "KestrineDocumentView(<stale>)".
PyObject* view_repr(PyObject* self) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    auto kind = with_view(self, [&](DocumentRead&, const YamlNode& node, const NodePath&) {
      return new_str(node_kind_name(node.kind()));
    });
    if (!kind) {
      if (!kind.error().is_instance_of(PyExc_KeyError)) return kind;
      return new_str("KestrineDocumentView(<stale>)");
    }
    KESTRINE_ASSIGN_OR_RETURN(std::string_view name, str_view(kind->get()));
    return new_str("KestrineDocumentView(" + std::string(name) + ")");
  });
}

PyMethodDef view_methods[] = {
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(view_get)), METH_FASTCALL | METH_KEYWORDS,
     "get($self, key, default)\n--\n\n`self[key]`, or `default` when there is no such item."},
    {"keys", view_keys, METH_NOARGS, "keys($self)\n--\n\nThe keys of the mapping, each once, in order."},
    {"unwrap", view_unwrap, METH_NOARGS,
     "unwrap($self)\n--\n\nThe node as plain Python data (aliases followed, merge keys applied)."},
    {"to_dict", view_unwrap, METH_NOARGS, "to_dict($self)\n--\n\nThe same as `unwrap()`."},
    {"range", view_range, METH_NOARGS,
     "range($self)\n--\n\n(line, column, end_line, end_column) of the node, 1-based."},
    {"walk", view_walk, METH_NOARGS,
     "walk($self)\n--\n\nEvery scalar leaf below the node as (path, value), the path relative to the node."},
    {"to_yaml", view_to_yaml, METH_NOARGS, "to_yaml($self)\n--\n\nThe node alone as YAML bytes."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef view_getset[] = {
    {"node", view_node, nullptr, "A `KestrineNode` for the same path.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot document_view_slots[] = {
    {Py_tp_doc, const_cast<char*>(kDocumentViewDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<DocumentViewObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(view_repr)},
    {Py_tp_methods, view_methods},
    {Py_tp_getset, view_getset},
    {Py_mp_subscript, reinterpret_cast<void*>(view_subscript)},
    {Py_mp_ass_subscript, reinterpret_cast<void*>(view_ass_subscript)},
    {Py_mp_length, reinterpret_cast<void*>(view_length)},
    {Py_sq_contains, reinterpret_cast<void*>(view_contains)},
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

PyResult<OwnedRef> new_view(PyObject* document, std::size_t start_root, NodePath path) noexcept {
  KESTRINE_ASSIGN_OR_RETURN(PyTypeObject* type, kestrine_document_view_type());
  KESTRINE_ASSIGN_OR_RETURN(DocumentViewObject* obj,
                            new_instance<DocumentViewObject>(type, OwnedRef::borrow(document), start_root, std::move(path)));
  return OwnedRef::steal(reinterpret_cast<PyObject*>(obj));
}

HandleData* view_data(PyObject* obj) noexcept {
  auto type = kestrine_document_view_type();
  if (!type) {
    PyErr_Clear();
    return nullptr;
  }
  if (!PyObject_TypeCheck(obj, *type)) return nullptr;
  return &handle_of(obj);
}

PyResult<OwnedRef> view_json_value(PyObject* view) { return checked(PyObject_CallMethod(view, "to_dict", nullptr)); }

}  // namespace kestrine
