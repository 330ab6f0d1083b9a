// The class `KestrineNode`: its spec, slots and reading members; the
// editing members are node_edit.cpp's.
#include "ffi/types/node.hpp"

#include <string>
#include <type_traits>
#include <utility>

#include "ffi/types/node_edit.hpp"
#include "roundtrip/document/comment_places.hpp"
#include "roundtrip/tree/tree_ops.hpp"  // is_include_tag
#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr const char kNodeDoc[] =
    "A metadata-bearing handle onto a single node of a [`KestrineDocument`].\n\nIt reads and edits the node's value, comments, anchor, tag and style and reports its position; a handle whose path no longer resolves reports \"stale node\".";

HandleData& handle_of(PyObject* self) noexcept { return reinterpret_cast<NodeObject*>(self)->data; }

PyErr stale_node() noexcept { return PyErr::new_error(PyExc_KeyError, "stale node"); }

// Runs `body(read, node)` on the node at the handle's path, under shared
// access to the handle and its document; KeyError "stale node" when the path
// does not resolve.
template <class Body>
auto with_node(PyObject* self, Body&& body) -> std::invoke_result_t<Body&, DocumentRead&, const YamlNode&> {
  HandleData& handle = handle_of(self);
  KESTRINE_ASSIGN_OR_RETURN(const HandleAccess access, access_handle(handle));
  DocumentRead read(*access.data, handle.start_root);
  const YamlNode* node = read.resolve(handle.path);
  if (node == nullptr) return fail(stale_node());
  return body(read, *node);
}

// The same on the node indexing starts from: the anchored node when the
// handle addresses an alias (`base` then holds that node's path).
template <class Body>
auto with_base(PyObject* self, Body&& body) {
  return with_rebased_handle(handle_of(self), stale_node, std::forward<Body>(body));
}

PyObject* bool_ref(bool b) noexcept { return b ? Py_True : Py_False; }

// ---- properties ---------------------------------------------------------------------

enum Field : std::intptr_t {
  kValue,
  kLine,
  kColumn,
  kOffset,
  kEndOffset,
  kFile,
  kComment,
  kCommentBefore,
  kCommentAfter,
  kStyle,
  kAnchor,
  kTag,
  kSourceTag,
  kSourceTarget,
  kIsSecret,
  kIsEnvVar,
  kIsInclude,
  kIsAlias,
  kTarget,
};

PyResult<OwnedRef> file_of(const DocumentRecord& record, const YamlNode& node) {
  const std::uint32_t file = node.span.file_id;
  if (file >= record.source_names.size()) return none_ref();
  return lossy_str(record.source_names[file]);
}

PyResult<OwnedRef> comment_before_of(const DocumentRead& read, const HandleData& handle) {
  const auto source = comment_before_source(read.record(), handle.start_root, handle.path);
  if (!source) return fail(stale_node());
  const std::optional<std::string> text = head_text(*source);
  return optional_str(text ? std::optional<std::string_view>(*text) : std::nullopt);
}

PyResult<OwnedRef> comment_after_of(const DocumentRead& read, const HandleData& handle) {
  const auto source = comment_after_source(read.record(), handle.start_root, handle.path);
  if (!source) return fail(stale_node());
  const std::optional<std::string> text = foot_text(*source);
  return optional_str(text ? std::optional<std::string_view>(*text) : std::nullopt);
}

// The anchored node an alias stands for, as a handle of the same root; None
// for anything else, an alias that refers to nothing or to a node no path
// reaches.
PyResult<OwnedRef> target_of(DocumentRead& read, const HandleData& handle, const YamlNode& node) {
  if (!node.is_alias()) return none_ref();
  const YamlNode* target = read.aliases().target(node);
  if (target == nullptr) return none_ref();
  std::optional<NodePath> path = path_to_node(read.record().roots[handle.start_root], *target);
  if (!path) return none_ref();
  return new_node(handle.document.get(), handle.start_root, std::move(*path));
}

PyResult<OwnedRef> field_of(DocumentRead& read, const HandleData& handle, const YamlNode& node, Field field) {
  const auto source_tag = source_tag_of(node);
  switch (field) {
    case kValue: return convert_whole(read, node);
    case kLine: return new_uint(node.span.line + 1ULL);
    case kColumn: return new_uint(node.span.column + 1ULL);
    case kOffset: return new_uint(node.span.offset);
    case kEndOffset: return new_uint(node.end_offset);
    case kFile: return file_of(read.record(), node);
    case kComment: return optional_str(node.comments.inline_comment().view());
    case kCommentBefore: return comment_before_of(read, handle);
    case kCommentAfter: return comment_after_of(read, handle);
    case kStyle: return new_str(node_style_name(node));
    case kAnchor: return optional_str(node.anchor().view());
    case kTag: return optional_str(node.tag().view());
    case kSourceTag: return optional_str(source_tag);
    case kSourceTarget: return optional_str(source_target_of(node));
    case kIsSecret: return OwnedRef::borrow(bool_ref(source_tag == "!secret"));
    case kIsEnvVar: return OwnedRef::borrow(bool_ref(source_tag == "!env_var"));
    case kIsInclude: return OwnedRef::borrow(bool_ref(source_tag && is_include_tag(*source_tag)));
    case kIsAlias: return OwnedRef::borrow(bool_ref(node.is_alias()));
    case kTarget: return target_of(read, handle, node);
  }
  return fail(PyErr::internal_fault("unknown node field"));
}

PyObject* get_field(PyObject* self, void* closure) noexcept {
  return py_entry([&] {
    return with_node(self, [&](DocumentRead& read, const YamlNode& node) {
      return field_of(read, handle_of(self), node, static_cast<Field>(reinterpret_cast<std::intptr_t>(closure)));
    });
  });
}

void* field(Field f) noexcept { return reinterpret_cast<void*>(f); }

// ---- methods and slots ----------------------------------------------------------------

PyObject* node_range(PyObject* self, PyObject*) noexcept {
  return py_entry([&] {
    return with_node(self, [&](DocumentRead&, const YamlNode& node) { return range_tuple(node); });
  });
}

// Every step returns a handle, scalars included; through an alias it
// addresses the anchored node itself.
PyObject* node_subscript(PyObject* self, PyObject* key) noexcept {
  return py_entry([&] {
    return with_base(self, [&](DocumentRead& read, const YamlNode& node, const NodePath& base) -> PyResult<OwnedRef> {
      KESTRINE_ASSIGN_OR_RETURN(PathSegment step, py_to_path_segment(key));
      if (child_by_segment(node, step, read.lookups()) == nullptr) return fail(missing_step_error(node, key));
      NodePath path = base;
      path.push_back(std::move(step));
      return new_node(handle_of(self).document.get(), read.root_index(), std::move(path));
    });
  });
}

int node_contains(PyObject* self, PyObject* key) noexcept {
  bool found = false;
  const int status = py_entry_status([&] {
    return with_base(self, [&](DocumentRead& read, const YamlNode& node, const NodePath&) -> PyStatus {
      KESTRINE_ASSIGN_OR_RETURN(found, contains_text(read, node, key));
      return {};
    });
  });
  return status < 0 ? -1 : found;
}

// "KestrineNode(<kind>)", or "KestrineNode(<stale>)".
PyObject* node_repr(PyObject* self) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    auto kind = with_node(self, [&](DocumentRead&, const YamlNode& node) {
      return new_str(node_kind_name(node.kind()));
    });
    if (!kind) {
      if (!kind.error().is_instance_of(PyExc_KeyError)) return kind;
      return new_str("KestrineNode(<stale>)");
    }
    KESTRINE_ASSIGN_OR_RETURN(std::string_view name, str_view(kind->get()));
    return new_str("KestrineNode(" + std::string(name) + ")");
  });
}

PyMethodDef node_methods[] = {
    {"range", node_range, METH_NOARGS,
     "range($self)\n--\n\n(line, column, end_line, end_column) of the node, 1-based."},
    {"make_alias", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(node_make_alias)),
     METH_FASTCALL | METH_KEYWORDS,
     "make_alias($self, name)\n--\n\nTurns the node into the alias `*name` of an anchor defined before it."},
    {"detach", node_detach, METH_NOARGS,
     "detach($self)\n--\n\nReplaces this alias by an independent copy of what it refers to; returns the node."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef node_getset[] = {
    {"value", get_field, set_node_value, "The node's value as plain Python data.", field(kValue)},
    {"line", get_field, nullptr, "1-based line of the node's first character.", field(kLine)},
    {"column", get_field, nullptr, "1-based column of the node's first character.", field(kColumn)},
    {"offset", get_field, nullptr, "Byte offset of the node's first character.", field(kOffset)},
    {"end_offset", get_field, nullptr, "Byte offset just past the node's last character.", field(kEndOffset)},
    {"file", get_field, nullptr, "The file the node was read from, or None.", field(kFile)},
    {"comment", get_field, set_node_comment, "The comment on the node's line, or None.", field(kComment)},
    {"comment_before", get_field, set_node_comment_before, "The comment lines above the node, or None.", field(kCommentBefore)},
    {"comment_after", get_field, set_node_comment_after, "The comment lines after the node's content, or None.",
     field(kCommentAfter)},
    {"style", get_field, nullptr, "How the node is written: plain, single, double, literal, folded, block, "
     "flow, alias or null.", field(kStyle)},
    {"anchor", get_field, set_node_anchor, "The anchor name defined on the node, or None.", field(kAnchor)},
    {"tag", get_field, nullptr, "The node's own tag, or None.", field(kTag)},
    {"source_tag", get_field, nullptr, "The directive or local tag that produced the node, or None.",
     field(kSourceTag)},
    {"source_target", get_field, nullptr, "The include directive's argument, or None.", field(kSourceTarget)},
    {"is_secret", get_field, nullptr, "The node came from !secret.", field(kIsSecret)},
    {"is_env_var", get_field, nullptr, "The node came from !env_var.", field(kIsEnvVar)},
    {"is_include", get_field, nullptr, "The node came from an include directive.", field(kIsInclude)},
    {"is_alias", get_field, nullptr, "The node is an alias.", field(kIsAlias)},
    {"target", get_field, nullptr, "For an alias, the node its anchor is defined on; else None.", field(kTarget)},
    {"aliases", node_aliases, nullptr, "The alias nodes that refer to this node, in document order.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot node_slots[] = {
    {Py_tp_doc, const_cast<char*>(kNodeDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<NodeObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(node_repr)},
    {Py_tp_methods, node_methods},
    {Py_tp_getset, node_getset},
    {Py_mp_subscript, reinterpret_cast<void*>(node_subscript)},
    {Py_sq_contains, reinterpret_cast<void*>(node_contains)},
    {0, nullptr},
};

PyType_Spec node_spec = {
    "KestrineNode",
    static_cast<int>(sizeof(NodeObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    node_slots,
};

TypeCell node_cell{"KestrineNode"};

}  // namespace

PyResult<PyTypeObject*> kestrine_node_type() noexcept { return create_type_once(node_cell, node_spec, nullptr); }

PyResult<OwnedRef> new_node(PyObject* document, std::size_t start_root, NodePath path) noexcept {
  KESTRINE_ASSIGN_OR_RETURN(PyTypeObject* type, kestrine_node_type());
  KESTRINE_ASSIGN_OR_RETURN(NodeObject* obj,
                            new_instance<NodeObject>(type, OwnedRef::borrow(document), start_root, std::move(path)));
  return OwnedRef::steal(reinterpret_cast<PyObject*>(obj));
}

HandleData* node_data(PyObject* obj) noexcept {
  auto type = kestrine_node_type();
  if (!type) {
    PyErr_Clear();
    return nullptr;
  }
  if (!PyObject_TypeCheck(obj, *type)) return nullptr;
  return &handle_of(obj);
}

}  // namespace kestrine
