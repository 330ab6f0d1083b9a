// The class `KestrineTreeNode`: its spec, its read-only attributes, and the
// snapshot builder behind `KestrineDocument.to_tree()`.
#include "ffi/types/tree_node.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ffi/convert/node_bridge.hpp"
#include "roundtrip/document/comment_places.hpp"
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

// The comment lines around a node, as a handle at its path reads them
// (comment_places.hpp), from what its parent knows.
struct Around {
  std::optional<std::string> before;  // comment_before
  std::optional<std::string> lead;    // a collection's: the lines above its first entry
  FootSource<const YamlNode> after;   // comment_after
};

// The lines of `outer` (with `outward`) followed by those of `record`.
std::optional<std::string> lines_of(bool outward, const std::optional<std::string>& outer,
                                    const HeadSource<const YamlNode>::Record& record) {
  std::optional<std::string> out = outward ? outer : std::nullopt;
  if (std::optional<std::string> own = head_text(*record.comments, record.part, record.inner)) append_lines(out, *own);
  return out;
}

class SnapshotBuilder {
 public:
  explicit SnapshotBuilder(const DocumentFlags& flags) : options_{flags.version_mode, flags.timestamps} {}

  PyResult<OwnedRef> build(const YamlNode& node, Around around) {
    return stack_guarded([&]() -> PyResult<OwnedRef> {
      TreeNodeData d;
      KESTRINE_ASSIGN_OR_RETURN(d.value, value_of(node, around));
      d.tag = node.tag();
      d.anchor = node.anchor();
      d.comment = node.comments.inline_comment();
      d.comment_before = OptText(std::move(around.before));
      d.comment_after = OptText(foot_text(around.after));
      d.kind = node.is_null() ? "scalar" : node_kind_name(node.kind());
      d.style = node_style_name(node);
      d.is_merge_key = is_merge_key_node(node, options_.mode);
      KESTRINE_ASSIGN_OR_RETURN(PyTypeObject* type, kestrine_tree_node_type());
      KESTRINE_ASSIGN_OR_RETURN(TreeNodeObject* obj, new_instance<TreeNodeObject>(type, std::move(d)));
      return OwnedRef::steal(reinterpret_cast<PyObject*>(obj));
    });
  }

 private:
  PyResult<OwnedRef> value_of(const YamlNode& node, const Around& around) {
    if (node.is_alias()) return new_str(node.alias_name());
    if (node.is_collection()) return entries_of(node, around);
    return scalar_node_to_py(node, options_);
  }

  // What a child of `collection` (entry `index`, a key when `key`) reads.
  static Around around_entry(const YamlNode& collection, std::size_t index, const YamlNode& child, bool key,
                             const Around& outer) {
    Around around;
    bool outward = false;
    const auto entry = entry_head(collection, index, outward);
    around.before = lines_of(outward, outer.lead, entry);
    if (child.is_collection()) {
      const auto own = collection_head(child, collection.is_mapping() ? nullptr : &collection, index, outward);
      around.lead = lines_of(outward, outer.lead, own);
    }
    around.after = entry_foot_source(collection, index, child, key, outer.after);
    return around;
  }

  PyResult<OwnedRef> entries_of(const YamlNode& collection, const Around& around) {
    std::vector<OwnedRef> built;
    built.reserve(collection.size());
    const auto items = collection.items();
    for (std::size_t i = 0; i < items.size(); ++i) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef snapshot,
                                build(items[i], around_entry(collection, i, items[i], false, around)));
      built.push_back(std::move(snapshot));
    }
    const auto pairs = collection.pairs();
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      // Key and value read the lines above their pair.
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef k,
                                build(pairs[i].key, around_entry(collection, i, pairs[i].key, true, around)));
      KESTRINE_ASSIGN_OR_RETURN(
          OwnedRef v, build(pairs[i].value, around_entry(collection, i, pairs[i].value, false, around)));
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
  Around around;
  around.before = head_text(root.comments, HeadPart::All);
  bool outward = false;
  const auto lead = collection_head(root, nullptr, 0, outward);
  around.lead = head_text(*lead.comments, lead.part);
  around.after.node = &root;
  return builder.build(root, std::move(around));
}

}  // namespace kestrine
