// The class `KestrineTreeNode`: its spec, its read-only attributes, and the
// snapshot builder behind `KestrineDocument.to_tree()`.
#include "ffi/types/tree_node.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ffi/convert/node_bridge.hpp"
#include "roundtrip/tree/anchors.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr const char kTreeNodeDoc[] =
    "An owned node snapshot.\n\nReturned by `KestrineDocument.to_tree()`: a read-only tree of one document's values and metadata that does not change when the document is edited later.";

TreeNodeData& data_of(PyObject* self) noexcept { return reinterpret_cast<TreeNodeObject*>(self)->data; }

enum Field : std::intptr_t {
  kKind,
  kValue,
  kStyle,
  kTag,
  kAnchor,
  kComment,
  kCommentBefore,
  kCommentAfter,
  kIsMergeKey,
};

PyObject* get_field(PyObject* self, void* closure) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    const TreeNodeData& d = data_of(self);
    switch (static_cast<Field>(reinterpret_cast<std::intptr_t>(closure))) {
      case kKind: return new_str(d.kind);
      case kValue: return d.value;
      case kStyle: return new_str(d.style);
      case kTag: return optional_str(d.tag.view());
      case kAnchor: return optional_str(d.anchor.view());
      case kComment: return optional_str(d.comment.view());
      case kCommentBefore: return optional_str(d.comment_before.view());
      case kCommentAfter: return optional_str(d.comment_after.view());
      case kIsMergeKey: return OwnedRef::borrow(d.is_merge_key ? Py_True : Py_False);
    }
    return fail(PyErr::internal_fault("unknown snapshot field"));
  });
}

void* field(Field f) noexcept { return reinterpret_cast<void*>(f); }

PyGetSetDef tree_node_getset[] = {
    {"kind", get_field, nullptr, "\"scalar\", \"sequence\", \"mapping\" or \"alias\".", field(kKind)},
    {"value", get_field, nullptr,
     "The scalar's value, a tuple of item snapshots, a tuple of (key, value) snapshot pairs, or the alias name.",
     field(kValue)},
    {"style", get_field, nullptr, "How the node is written, as KestrineNode.style.", field(kStyle)},
    {"tag", get_field, nullptr, "The node's own tag, or None.", field(kTag)},
    {"anchor", get_field, nullptr, "The anchor name defined on the node, or None.", field(kAnchor)},
    {"comment", get_field, nullptr, "The comment on the node's line, or None.", field(kComment)},
    {"comment_before", get_field, nullptr, "The comment lines above the node, or None.", field(kCommentBefore)},
    {"comment_after", get_field, nullptr, "The comment lines after the node's content, or None.",
     field(kCommentAfter)},
    {"is_merge_key", get_field, nullptr, "The node is a merge key (<<).", field(kIsMergeKey)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot tree_node_slots[] = {
    {Py_tp_doc, const_cast<char*>(kTreeNodeDoc)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<TreeNodeObject>)},
    {Py_tp_getset, tree_node_getset},
    {0, nullptr},
};

PyType_Spec tree_node_spec = {
    "kestrine.KestrineTreeNode",
    static_cast<int>(sizeof(TreeNodeObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    tree_node_slots,
};

TypeCell tree_node_cell{"KestrineTreeNode"};

// ---- building -------------------------------------------------------------------------

class SnapshotBuilder {
 public:
  explicit SnapshotBuilder(const DocumentFlags& flags) : options_{flags.version_mode, flags.timestamps} {}

  PyResult<OwnedRef> build(const YamlNode& node, std::optional<std::string> comment_before, bool is_item) {
    return stack_guarded([&]() -> PyResult<OwnedRef> {
      TreeNodeData d;
      KESTRINE_ASSIGN_OR_RETURN(d.value, value_of(node, is_item));
      d.tag = node.tag();
      d.anchor = node.anchor();
      d.comment = node.comments.inline_comment();
      d.comment_before = OptText(std::move(comment_before));
      d.comment_after = OptText(foot_text(node));
      d.kind = node.is_null() ? "scalar" : node_kind_name(node.kind());
      d.style = node_style_name(node);
      d.is_merge_key = is_merge_key_node(node, options_.mode);
      KESTRINE_ASSIGN_OR_RETURN(PyTypeObject* type, kestrine_tree_node_type());
      KESTRINE_ASSIGN_OR_RETURN(TreeNodeObject* obj, new_instance<TreeNodeObject>(type, std::move(d)));
      return OwnedRef::steal(reinterpret_cast<PyObject*>(obj));
    });
  }

 private:
  PyResult<OwnedRef> value_of(const YamlNode& node, bool is_item) {
    if (node.is_alias()) return new_str(node.alias_name());
    if (node.is_sequence()) return items_of(node);
    if (node.is_mapping()) return pairs_of(node, is_item);
    return scalar_node_to_py(node, options_);
  }

  PyResult<OwnedRef> items_of(const YamlNode& sequence) {
    const auto items = sequence.items();
    std::vector<OwnedRef> built;
    built.reserve(items.size());
    for (const YamlNode& item : items) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef snapshot, build(item, head_text(item.comments, item_head_part(item)), true));
      built.push_back(std::move(snapshot));
    }
    return tuple_of(built);
  }

  PyResult<OwnedRef> pairs_of(const YamlNode& mapping, bool is_item) {
    const auto pairs = mapping.pairs();
    std::vector<OwnedRef> built;
    built.reserve(pairs.size());
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      const YamlNode& key = pairs[i].key;
      std::optional<std::string> value_comment;
      if (i > 0) {
        value_comment = head_text(key.comments, HeadPart::All);
      } else {
        const HeadSource<const YamlNode> head = first_key_head(mapping, is_item);
        value_comment = head_text(*head.comments, head.part);
      }
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef k, build(key, head_text(key.comments, HeadPart::All), false));
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef v, build(pairs[i].value, std::move(value_comment), false));
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef pair, checked(PyTuple_Pack(2, k.get(), v.get())));
      built.push_back(std::move(pair));
    }
    return tuple_of(built);
  }

  static PyResult<OwnedRef> tuple_of(std::vector<OwnedRef>& items) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef tuple, checked(PyTuple_New(static_cast<Py_ssize_t>(items.size()))));
    for (std::size_t i = 0; i < items.size(); ++i)
      PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), items[i].release());
    return tuple;
  }

  NodeReadOptions options_;
};

}  // namespace

PyResult<PyTypeObject*> kestrine_tree_node_type() noexcept { return create_type_once(tree_node_cell, tree_node_spec, nullptr); }

PyResult<OwnedRef> tree_snapshot(const YamlNode& root, const DocumentFlags& flags) {
  SnapshotBuilder builder(flags);
  return builder.build(root, head_text(root.comments, HeadPart::All), false);
}

}  // namespace kestrine
