// The editing members of `KestrineNode`.
#include "ffi/types/node_edit.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ffi/args.hpp"
#include "ffi/comment_text.hpp"
#include "ffi/types/document_access.hpp"
#include "ffi/types/document_edit.hpp"
#include "ffi/types/node.hpp"
#include "include/relocate.hpp"
#include "roundtrip/document/anchor_edit.hpp"
#include "roundtrip/document/edit.hpp"
#include "roundtrip/tree/anchors.hpp"
#include "util/debug_quote.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

PyErr stale_node() noexcept { return PyErr::new_error(PyExc_KeyError, "stale node"); }

PyErr cannot_delete(std::string_view attribute) noexcept {
  return PyErr::new_error(PyExc_AttributeError, "cannot delete attribute '" + std::string(attribute) + "'");
}

// A setter's argument: a str, or None for nothing.
PyResult<std::optional<std::string_view>> optional_text(PyObject* value, const char* argument) {
  if (value == Py_None) return std::optional<std::string_view>();
  if (!PyUnicode_Check(value)) {
    return fail(argument_type_error("", argument, "str or None", value));
  }
  KESTRINE_ASSIGN_OR_RETURN(std::string_view text, str_view(value));
  return std::optional<std::string_view>(text);
}

// Shared access to the handle and exclusive access to its document for one
// edit through it.
struct NodeEdit {
  BorrowFlag::Shared own;
  DocumentEdit edit;
  HandleData* handle;

  // The document root the handle's path starts at, or null.
  YamlNode* root() noexcept {
    auto& roots = edit.record().roots;
    return handle->start_root < roots.size() ? &roots[handle->start_root] : nullptr;
  }
  // The node at the handle's path, or null.
  YamlNode* resolve() {
    const DocumentRecord& record = edit.record();
    return const_cast<YamlNode*>(resolve_path(record, handle->start_root, handle->path, edit.lookups()));
  }
  // Refused when the node lies where no output keeps an edit: inside a
  // secret's value or a directory's content (check_edit_kept).  Requires
  // the path to resolve.
  PyStatus check_kept() { return edit_status(check_edit_kept(*root(), handle->path, edit.lookups())); }
  // After an edit of the node: the nodes on its path are marked, and a key
  // node changed in place leaves the key indexes of its mapping wrong.
  void done() {
    if (!handle->path.empty() && handle->path.back().kind == PathSegment::Kind::KeyNode) edit.lookups()->clear();
    edit.mark(handle->start_root, handle->path);
  }
};

PyResult<NodeEdit> edit_node(PyObject* self) {
  HandleData* handle = node_data(self);
  if (handle == nullptr) return fail(PyErr::internal_fault("not a KestrineNode"));
  KESTRINE_ASSIGN_OR_RETURN(BorrowFlag::Shared own, handle->borrow.borrow());
  DocumentData* data = document_data(handle->document.get());
  if (data == nullptr) return fail(PyErr::internal_fault("handle without a document"));
  KESTRINE_ASSIGN_OR_RETURN(DocumentEdit edit, edit_document(*data));
  return NodeEdit{std::move(own), std::move(edit), handle};
}

// Characters a reader would not take into an anchor name, or that no writer
// can show: ASCII blanks and line breaks, the flow indicators, controls (C0,
// DEL, C1), the byte-order mark and the non-characters U+FFFE and U+FFFF.
bool forbidden_in_anchor(char32_t c) noexcept {
  switch (c) {
    case U' ':
    case U',':
    case U'[':
    case U']':
    case U'{':
    case U'}':
    case 0xFEFF:
    case 0xFFFE:
    case 0xFFFF: return true;
    default: return c < 0x20 || (c >= 0x7F && c <= 0x9F);
  }
}

PyStatus check_anchor_name(std::string_view name) {
  if (name.empty()) return fail(PyErr::value_error("anchor name cannot be empty"));
  for (std::size_t at = 0; at < name.size();) {
    const char32_t c = next_code_point(name, at);
    if (!forbidden_in_anchor(c)) continue;
    return fail(PyErr::value_error("invalid anchor name " + debug_quoted(name) +
                                   ": cannot contain whitespace, line breaks, or flow indicators (found " +
                                   debug_quoted_char(c) + ")"));
  }
  return {};
}

// Comment lines from a setter's text (None: none).
PyResult<std::vector<std::string>> comment_lines(std::optional<std::string_view> text) {
  KESTRINE_ASSIGN_OR_RETURN(std::optional<std::string> joined,
                            split_comment_lines(text ? std::optional<std::string>(*text) : std::nullopt));
  if (!joined) return std::vector<std::string>();
  return split_lines(*joined);
}

}  // namespace

int set_node_value(PyObject* self, PyObject* value, void*) noexcept {
  return py_entry_status([&]() -> PyStatus {
    if (value == nullptr) return fail(cannot_delete("value"));
    KESTRINE_ASSIGN_OR_RETURN(NodeEdit e, edit_node(self));
    YamlNode* node = e.resolve();
    if (node == nullptr) return fail(stale_node());
    KESTRINE_TRY(e.check_kept());
    KESTRINE_ASSIGN_OR_RETURN(YamlNode fresh, value_node(e.edit, value));
    const std::vector<PathSegment>& path = e.handle->path;
    std::optional<FootSource<YamlNode>> after;
    YamlNode* parent = nullptr;
    if (!path.empty()) {
      // (Only a collection, or head lines carried over, depend on the style
      // of the parent.)
      if (fresh.is_collection() || !node->comments.head().empty())
        parent = const_cast<YamlNode*>(resolve_path(e.edit.record(), e.handle->start_root,
                                                    std::span(path).first(path.size() - 1), e.edit.lookups()));
      if (parent != nullptr && parent->style == CollectionStyle::Flow) take_flow_style(fresh);
      // (Lines after anything else keep their places.)
      if (is_block_collection(fresh) || is_block_collection(*node))
        after = lines_after_replaced_source(e.edit.record(), e.handle->start_root, path);
    }
    KESTRINE_TRY(edit_status(replace_node(*e.root(), *node, std::move(fresh), e.edit.record().flags.version_mode,
                                          e.edit.lookups(), after ? &*after : nullptr)));
    if (parent != nullptr && parent->style == CollectionStyle::Flow && parent->is_mapping() &&
        path.back().kind == PathSegment::Kind::Key) {
      for (NodePair& pair : parent->pairs_mut())
        if (&pair.value == node) value_head_to_key(pair);
    }
    // A document's whole content replaced: its lines are not those read.
    if (path.empty()) {
      e.edit.record().documents_replaced = true;
      // A root block collection has no line of its own for an inline comment.
      root_inline_to_head(*node);
    }
    e.done();
    return {};
  });
}

int set_node_anchor(PyObject* self, PyObject* value, void*) noexcept {
  return py_entry_status([&]() -> PyStatus {
    if (value == nullptr) return fail(cannot_delete("anchor"));
    KESTRINE_ASSIGN_OR_RETURN(const std::optional<std::string_view> name, optional_text(value, "name"));
    if (name) KESTRINE_TRY(check_anchor_name(*name));
    KESTRINE_ASSIGN_OR_RETURN(NodeEdit e, edit_node(self));
    YamlNode* root = e.root();
    YamlNode* node = e.resolve();
    if (name && root != nullptr) {
      const YamlNode* owner = find_anchored_node(*root, *name);
      if (owner != nullptr && owner != node)
        return fail(PyErr::value_error("anchor name '" + std::string(*name) + "' is already used by another node"));
    }
    if (node == nullptr) return fail(stale_node());
    KESTRINE_TRY(e.check_kept());
    KESTRINE_TRY(edit_status(set_anchor(*root, *node, name)));
    e.done();
    return {};
  });
}

int set_node_comment(PyObject* self, PyObject* value, void*) noexcept {
  return py_entry_status([&]() -> PyStatus {
    if (value == nullptr) return fail(cannot_delete("comment"));
    KESTRINE_ASSIGN_OR_RETURN(const std::optional<std::string_view> text, optional_text(value, "text"));
    KESTRINE_TRY(check_inline_comment(text ? std::optional<std::string>(*text) : std::nullopt));
    KESTRINE_ASSIGN_OR_RETURN(NodeEdit e, edit_node(self));
    YamlNode* node = e.resolve();
    if (node == nullptr) return fail(stale_node());
    KESTRINE_TRY(e.check_kept());
    const std::vector<PathSegment>& path = e.handle->path;
    const bool is_key = !path.empty() && path.back().kind == PathSegment::Kind::KeyNode;
    const bool below = node->comments.inline_before_value &&
                       std::any_of(node->comments.head().begin(), node->comments.head().end(),
                                   [](const HeadComment& h) { return h.below_introducer; });
    const EditResult<bool> changed = set_inline_comment(*node, is_key, path.empty(), text);
    if (!changed) return fail(edit_error_to_py(changed.error()));
    if (!*changed) return {};
    // The lines below the dash became lines above it.
    if (below && !text && !path.empty() && path.back().kind == PathSegment::Kind::Index) {
      if (auto place = comment_before_source_mut(e.edit.record(), e.handle->start_root, path)) gather_head(*place);
    }
    e.done();
    return {};
  });
}

int set_node_comment_before(PyObject* self, PyObject* value, void*) noexcept {
  return py_entry_status([&]() -> PyStatus {
    if (value == nullptr) return fail(cannot_delete("comment_before"));
    KESTRINE_ASSIGN_OR_RETURN(const std::optional<std::string_view> text, optional_text(value, "text"));
    KESTRINE_ASSIGN_OR_RETURN(NodeEdit e, edit_node(self));
    auto target = comment_before_source_mut(e.edit.record(), e.handle->start_root, e.handle->path);
    if (!target) return fail(stale_node());
    KESTRINE_TRY(e.check_kept());
    KESTRINE_ASSIGN_OR_RETURN(std::vector<std::string> lines, comment_lines(text));
    if (set_head(*target, std::move(lines))) e.done();
    return {};
  });
}

int set_node_comment_after(PyObject* self, PyObject* value, void*) noexcept {
  return py_entry_status([&]() -> PyStatus {
    if (value == nullptr) return fail(cannot_delete("comment_after"));
    KESTRINE_ASSIGN_OR_RETURN(const std::optional<std::string_view> text, optional_text(value, "text"));
    KESTRINE_ASSIGN_OR_RETURN(NodeEdit e, edit_node(self));
    auto place = comment_after_source_mut(e.edit.record(), e.handle->start_root, e.handle->path);
    if (!place) return fail(stale_node());
    KESTRINE_TRY(e.check_kept());
    if (text) KESTRINE_TRY(edit_status(check_foot_place(*place, e.handle->path.empty())));
    KESTRINE_ASSIGN_OR_RETURN(std::vector<std::string> lines, comment_lines(text));
    if (set_foot(*place, std::move(lines))) e.done();
    return {};
  });
}

namespace {
constexpr const char* kMakeAliasParams[] = {"name"};
constexpr ArgSpec kMakeAliasArgs{"make_alias", kMakeAliasParams, 1, 0, 1, 1};
}  // namespace

PyObject* node_make_alias(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    PyObject* arg[1];
    KESTRINE_TRY(parse_fastcall(kMakeAliasArgs, args, nargs, kwnames, arg));
    if (!PyUnicode_Check(arg[0])) {
      return fail(argument_type_error("make_alias", "name", "str", arg[0]));
    }
    KESTRINE_ASSIGN_OR_RETURN(const std::string_view name, str_view(arg[0]));
    KESTRINE_ASSIGN_OR_RETURN(NodeEdit e, edit_node(self));
    YamlNode* root = e.root();
    const std::optional<NodePath> definition =
        root == nullptr ? std::nullopt : find_anchor_path(std::span<const YamlNode>(root, 1), name);
    if (!definition)
      return fail(PyErr::value_error("no anchor '&" + std::string(name) + "' is defined in this document"));
    KESTRINE_TRY(edit_status(check_alias_order(*root, *definition, e.handle->path, name)));
    YamlNode* node = e.resolve();
    if (node == nullptr) return fail(stale_node());
    KESTRINE_TRY(e.check_kept());
    KESTRINE_TRY(edit_status(make_alias(*root, *node, name, e.edit.lookups())));
    e.done();
    return none_ref();
  });
}

PyObject* node_detach(PyObject* self, PyObject*) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    KESTRINE_ASSIGN_OR_RETURN(NodeEdit e, edit_node(self));
    YamlNode* node = e.resolve();
    if (node == nullptr) return fail(stale_node());
    KESTRINE_TRY(e.check_kept());
    const SourceTableRelocator relocator(e.edit.record());
    KESTRINE_TRY(edit_status(detach_alias(*e.root(), *node, &relocator)));
    e.done();
    return new_node(e.handle->document.get(), e.handle->start_root, e.handle->path);
  });
}

// The aliases that refer to this node, in document order.
PyObject* node_aliases(PyObject* self, void*) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    HandleData* handle = node_data(self);
    if (handle == nullptr) return fail(PyErr::internal_fault("not a KestrineNode"));
    KESTRINE_ASSIGN_OR_RETURN(const HandleAccess access, access_handle(*handle));
    const DocumentRecord& record = access.data->record;
    const YamlNode* node = resolve_path(record, handle->start_root, handle->path, &access.data->lookups);
    if (node == nullptr) return fail(stale_node());
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, checked(PyList_New(0)));
    if (!node->anchor()) return list;
    const YamlNode& root = record.roots[handle->start_root];
    const AnchorBindings bindings = bind_root_unlimited(root);
    NodePath scratch;
    std::vector<NodePath> paths;
    collect_aliases(root, *node->anchor(), scratch, paths);
    for (NodePath& path : paths) {
      const YamlNode* alias = resolve_path(record, handle->start_root, path);
      if (alias == nullptr || bindings.target(*alias) != node) continue;
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef item, new_node(handle->document.get(), handle->start_root, std::move(path)));
      KESTRINE_TRY(checked_status(PyList_Append(list.get(), item.get())));
    }
    return list;
  });
}

}  // namespace kestrine
