// Item assignment and deletion on documents and views.
#include "ffi/types/document_edit.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ffi/convert/node_bridge.hpp"
#include "ffi/types/document_access.hpp"
#include "ffi/types/document_view.hpp"
#include "roundtrip/tree/anchors.hpp"
#include "util/try.hpp"

namespace kestrine {

PyResult<DocumentEdit> edit_document(DocumentData& data) noexcept {
  KESTRINE_ASSIGN_OR_RETURN(BorrowFlag::Exclusive access, data.begin_tracked_edit());
  if (!data.record.edit_marks) {
    // Nodes modified before the first edit (by the 1.1 upgrade of the
    // load) are marked once; edits keep the marks from then on.
    try {
      mark_edits(data.record);
    } catch (...) {
      return fail(PyErr::memory_error());
    }
  }
  return DocumentEdit{std::move(access), &data};
}

void DocumentEdit::mark(std::size_t root, std::span<const PathSegment> path) {
  mark_edited_path(data->record, root, path, &data->lookups);
}

PyErr edit_error_to_py(const EditError& error) noexcept {
  switch (error.kind) {
    case EditError::Kind::Type: return PyErr::type_error(error.message);
    case EditError::Kind::Index: return PyErr::new_error(PyExc_IndexError, error.message);
    case EditError::Kind::Key: return PyErr::new_error(PyExc_KeyError, error.message);
    case EditError::Kind::Value: break;
  }
  return PyErr::value_error(error.message);
}

PyStatus edit_status(EditResult<> result) noexcept {
  if (!result) return fail(edit_error_to_py(result.error()));
  return {};
}

namespace {

NodeReadOptions read_options(const DocumentRecord& record) noexcept {
  return NodeReadOptions{record.flags.version_mode, record.flags.timestamps};
}

// A non-negative integer key for a sequence: the integer conversion's own
// TypeError or OverflowError otherwise.
PyResult<std::size_t> index_key(PyObject* key) {
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef index, checked(PyNumber_Index(key)));
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return fail_fetch();
  return static_cast<std::size_t>(value);
}

PyErr index_out_of_range() noexcept { return PyErr::new_error(PyExc_IndexError, "index out of range"); }

// Whether the pair's key equals `key`.  A str key can only equal a key that
// reads as that very text: the texts are compared first, and Python only
// judges keys whose reading is not plain (dates, long integers).
PyResult<bool> pair_matches(const DocumentRecord& record, const NodePair& pair, PyObject* key,
                            std::optional<std::string_view> text) {
  if (text) {
    if (!pair.key.is_scalar() || pair.key.text() != *text) return false;
    switch (key_reads_as_text(pair.key, record.flags)) {
      case KeyTextReading::Text: return true;
      case KeyTextReading::Other: return false;
      case KeyTextReading::Unknown: break;
    }
  }
  return key_node_matches(read_options(record), pair.key, key);
}

std::optional<std::string_view> exact_str(PyObject* key) {
  if (!PyUnicode_CheckExact(key)) return std::nullopt;
  auto view = str_view(key);
  if (!view) {
    PyErr_Clear();
    return std::nullopt;
  }
  return *view;
}

// The last pair of `mapping` whose key equals `key`, or nothing.
PyResult<std::optional<std::size_t>> last_matching_pair(DocumentEdit& edit, const YamlNode& mapping, PyObject* key) {
  const auto pairs = mapping.pairs();
  const std::optional<std::string_view> text = exact_str(key);
  std::optional<std::size_t> at;
  if (text) {
    // The key index finds the last pair with the text in one probe.
    at = last_pair_with_key(mapping, *text, edit.lookups());
  } else if (!pairs.empty()) {
    at = pairs.size() - 1;
  }
  for (; at; at = *at == 0 ? std::nullopt : std::optional<std::size_t>(*at - 1)) {
    KESTRINE_ASSIGN_OR_RETURN(const bool match, pair_matches(edit.record(), pairs[*at], key, text));
    if (match) return at;
  }
  return std::optional<std::size_t>();
}

// Every pair of `mapping` whose key equals `key`, first to last.
PyResult<std::vector<std::size_t>> matching_pairs(DocumentEdit& edit, const YamlNode& mapping, PyObject* key) {
  const auto pairs = mapping.pairs();
  const std::optional<std::string_view> text = exact_str(key);
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    KESTRINE_ASSIGN_OR_RETURN(const bool match, pair_matches(edit.record(), pairs[i], key, text));
    if (match) found.push_back(i);
  }
  return found;
}

PyErr not_a_collection() noexcept { return PyErr::type_error("node is not a mapping or sequence"); }

}  // namespace

PyResult<YamlNode> value_node(const DocumentEdit& edit, PyObject* value) {
  const DocumentFlags& flags = edit.data->record.flags;
  return py_to_node(value, flags.prefer_double_quotes, flags.version_mode, flags.null_style);
}

namespace {

PyResult<YamlNode> new_key_node(const DocumentEdit& edit, PyObject* key) {
  const DocumentFlags& flags = edit.data->record.flags;
  return py_to_key_node(key, flags.prefer_double_quotes, flags.version_mode, flags.null_style);
}

// Puts `fresh` in place of the entry of `container` (at `path`) that the
// step `step()` gives leads to, `slot`.
template <class Step>
PyStatus replace_entry(DocumentEdit& edit, std::size_t root, std::span<const PathSegment> path, const Step& step,
                       YamlNode& slot, YamlNode&& fresh) {
  std::optional<FootSource<YamlNode>> after;
  // (Lines after anything else keep their places.)
  if (is_block_collection(fresh) || is_block_collection(slot)) {
    NodePath to_slot(path.begin(), path.end());
    to_slot.push_back(step());
    after = lines_after_replaced_source(edit.record(), root, to_slot);
  }
  return edit_status(replace_node(edit.record().roots[root], slot, std::move(fresh), edit.record().flags.version_mode,
                                  edit.lookups(), after ? &*after : nullptr));
}

}  // namespace

PyStatus set_item(DocumentEdit& edit, std::size_t root, YamlNode& container, std::span<const PathSegment> path,
                  PyObject* key, PyObject* value) {
  if (container.is_mapping()) {
    KESTRINE_ASSIGN_OR_RETURN(YamlNode fresh, value_node(edit, value));
    if (container.style == CollectionStyle::Flow) take_flow_style(fresh);
    KESTRINE_ASSIGN_OR_RETURN(const std::optional<std::size_t> at, last_matching_pair(edit, container, key));
    if (at) {
      NodePair& pair = container.pairs_mut()[*at];
      // A key of empty content is spelled first: the lines after its value
      // are found through a path, and no path step names a key without a
      // text.  A refused replacement leaves the key as read.
      std::optional<YamlNode> unspelled;
      if (pair.key.is_null()) unspelled = pair.key;
      spell_empty_key(pair.key, edit.record().flags.null_style, edit.lookups());
      const auto step = [&] { return PathSegment::of_key(pair.key.is_scalar() ? std::string(pair.key.text()) : ""); };
      if (PyStatus done = replace_entry(edit, root, path, step, pair.value, std::move(fresh)); !done) {
        if (unspelled) {
          pair.key = std::move(*unspelled);
          if (edit.lookups() != nullptr) edit.lookups()->clear();
        }
        return done;
      }
      if (container.style == CollectionStyle::Flow) value_head_to_key(pair);
      return {};
    }
    KESTRINE_ASSIGN_OR_RETURN(YamlNode key_node, new_key_node(edit, key));
    if (container.style == CollectionStyle::Flow) take_flow_style(key_node);
    // (Only lines after an empty block mapping, in a block collection that
    // ends one, or that a block collection added at its end would take,
    // take a place of their own.)
    std::optional<FootSource<YamlNode>> after;
    if (container.style == CollectionStyle::Block && container.size() == 0)
      after = lines_after_replaced_source(edit.record(), root, path);
    else if (container.style == CollectionStyle::Block &&
             (is_block_collection(container.pairs().back().value) || is_block_collection(fresh)))
      after = comment_after_source_mut(edit.record(), root, path);
    append_pair(container, std::move(key_node), std::move(fresh), edit.lookups(), after ? &*after : nullptr);
    return {};
  }
  if (container.is_sequence()) {
    KESTRINE_ASSIGN_OR_RETURN(const std::size_t index, index_key(key));
    if (index >= container.size()) return fail(index_out_of_range());
    KESTRINE_ASSIGN_OR_RETURN(YamlNode fresh, value_node(edit, value));
    if (container.style == CollectionStyle::Flow) take_flow_style(fresh);
    return replace_entry(edit, root, path, [&] { return PathSegment::of_index(index); }, container.items_mut()[index],
                         std::move(fresh));
  }
  return fail(not_a_collection());
}

PyStatus delete_item(DocumentEdit& edit, std::size_t root, YamlNode& container, PyObject* key) {
  YamlNode& root_node = edit.record().roots[root];
  if (container.is_sequence()) {
    KESTRINE_ASSIGN_OR_RETURN(const std::size_t index, index_key(key));
    if (index >= container.size()) return fail(index_out_of_range());
    return edit_status(remove_item(root_node, container, index, edit.lookups()));
  }
  if (container.is_mapping()) {
    KESTRINE_ASSIGN_OR_RETURN(const std::vector<std::size_t> found, matching_pairs(edit, container, key));
    if (found.empty()) return fail(PyErr::new_error_obj(PyExc_KeyError, key));
    return edit_status(remove_pairs(root_node, container, found, edit.lookups()));
  }
  return fail(not_a_collection());
}

YamlNode* resolve_for_edit(DocumentRecord& record, KeyIndexCache* lookups, std::size_t root, NodePath& path) {
  // The record is ours to change: the const walk (which can use the key
  // indexes) finds the node, which is then edited.
  const DocumentRecord& shared = record;
  const YamlNode* node = resolve_path(shared, root, path, lookups);
  if (node != nullptr && node->is_alias()) {
    // The follower binds its own root: the document's bindings cache must
    // stay empty while the trees change.
    AliasFollower aliases(record.roots[root]);
    node = kestrine::resolve_rebased(shared, root, path, aliases, lookups);
  }
  return const_cast<YamlNode*>(node);
}

// ---- slots ---------------------------------------------------------------------------

namespace {

// A stream that does not hold exactly one document is edited like a list of
// its documents.  A document put in place keeps nothing of the old one.
PyStatus edit_stream_entry(DocumentEdit& edit, PyObject* key, PyObject* value) {
  KESTRINE_ASSIGN_OR_RETURN(const std::size_t index, index_key(key));
  std::vector<YamlNode>& roots = edit.record().roots;
  if (index >= roots.size()) return fail(index_out_of_range());
  if (value != nullptr) {
    KESTRINE_ASSIGN_OR_RETURN(YamlNode fresh, value_node(edit, value));
    mark_subtree_modified(fresh);
    YamlNode old = std::exchange(roots[index], std::move(fresh));
    drop_node_tree(std::move(old));
  } else {
    YamlNode old = std::move(roots[index]);
    roots.erase(roots.begin() + static_cast<std::ptrdiff_t>(index));
    drop_node_tree(std::move(old));
  }
  edit.record().documents_replaced = true;
  // Roots moved or went: nothing read from them is kept.
  edit.data->lookups.clear();
  return {};
}

}  // namespace

int document_ass_subscript(PyObject* self, PyObject* key, PyObject* value) noexcept {
  return py_entry_status([&]() -> PyStatus {
    DocumentData* data = document_data(self);
    if (data == nullptr) return fail(PyErr::internal_fault("not a KestrineDocument"));
    KESTRINE_ASSIGN_OR_RETURN(DocumentEdit edit, edit_document(*data));
    std::vector<YamlNode>& roots = edit.record().roots;
    if (roots.size() != 1) return edit_stream_entry(edit, key, value);
    KESTRINE_TRY(edit_status(check_edit_kept(roots.front(), {}, edit.lookups(), &roots.front())));
    KESTRINE_TRY(value == nullptr ? delete_item(edit, 0, roots.front(), key)
                                  : set_item(edit, 0, roots.front(), {}, key, value));
    edit.mark(0, {});
    return {};
  });
}

int view_ass_subscript(PyObject* self, PyObject* key, PyObject* value) noexcept {
  return py_entry_status([&]() -> PyStatus {
    HandleData* handle = view_data(self);
    if (handle == nullptr) return fail(PyErr::internal_fault("not a KestrineDocumentView"));
    KESTRINE_ASSIGN_OR_RETURN(const BorrowFlag::Exclusive own, handle->borrow.borrow_mut());
    DocumentData* data = document_data(handle->document.get());
    if (data == nullptr) return fail(PyErr::internal_fault("handle without a document"));
    KESTRINE_ASSIGN_OR_RETURN(DocumentEdit edit, edit_document(*data));
    NodePath path = handle->path;
    YamlNode* node = resolve_for_edit(edit.record(), edit.lookups(), handle->start_root, path);
    if (node == nullptr) return fail(PyErr::new_error(PyExc_KeyError, "stale view"));
    KESTRINE_TRY(edit_status(check_edit_kept(edit.record().roots[handle->start_root], path, edit.lookups(), node)));
    KESTRINE_TRY(value == nullptr ? delete_item(edit, handle->start_root, *node, key)
                                  : set_item(edit, handle->start_root, *node, path, key, value));
    edit.mark(handle->start_root, path);
    return {};
  });
}

}  // namespace kestrine
