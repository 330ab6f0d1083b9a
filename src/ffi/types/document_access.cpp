#include "ffi/types/document_access.hpp"

#include <utility>
#include <vector>

#include "ffi/args.hpp"
#include "ffi/convert/decode.hpp"  // GcPause
#include "ffi/types/document_view.hpp"
#include "util/try.hpp"

namespace kestrine {

PyResult<HandleAccess> access_handle(HandleData& handle) noexcept {
  KESTRINE_ASSIGN_OR_RETURN(BorrowFlag::Shared own, handle.borrow.borrow());
  // Handles are made only for KestrineDocument instances.
  DocumentData* data = document_data(handle.document.get());
  if (data == nullptr) return fail(PyErr::internal_fault("handle without a document"));
  KESTRINE_ASSIGN_OR_RETURN(BorrowFlag::Shared doc, data->borrow.borrow());
  return HandleAccess{std::move(own), std::move(doc), data};
}

PyResult<BorrowFlag::Shared> access_document(DocumentData& data) noexcept { return data.borrow.borrow(); }

// ---- DocumentRead ---------------------------------------------------------------------

void DocumentRead::move_to_root(std::size_t root) noexcept {
  root_ = root;
  if (aliases_ && root < data_.record.roots.size()) aliases_->rebind(data_.record.roots[root]);
}

AliasFollower& DocumentRead::aliases() {
  if (!aliases_) aliases_.emplace(data_.record.roots.at(root_), &data_.bindings);
  return *aliases_;
}

const YamlNode* DocumentRead::resolve(const NodePath& path) {
  return resolve_path(data_.record, root_, path, &data_.lookups);
}

const YamlNode* DocumentRead::resolve_rebased(NodePath& path) {
  const YamlNode* node = resolve(path);
  if (node == nullptr || !node->is_alias()) return node;
  return kestrine::resolve_rebased(data_.record, root_, path, aliases(), &data_.lookups);
}

PyResult<OwnedRef> DocumentRead::value_of(const YamlNode& node) {
  if (node.is_scalar() || node.is_null()) return scalar_node_to_py(node, options_);
  return node_to_py(node, options_, aliases(), objects_);
}

PyResult<OwnedRef> DocumentRead::key_of(const YamlNode& node) {
  if (node.is_scalar() || node.is_null()) return scalar_node_to_py(node, options_);
  return node_to_py_key(node, options_, aliases(), &keys_);
}

PyResult<OwnedRef> convert_whole(DocumentRead& read, const YamlNode& node) {
  // The conversion runs no Python code of its own, except building dates.
  GcPause pause(!read.options().timestamps);
  return read.value_of(node);
}

// ---- item access ----------------------------------------------------------------------

PyResult<bool> key_node_matches(const NodeReadOptions& options, const YamlNode& key_node, PyObject* key) {
  // A key of empty content (": v", "? ") reads as None like a "null:".
  if (!key_node.is_scalar() && !key_node.is_null()) return false;
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, scalar_node_to_py(key_node, options));
  const int equal = PyObject_RichCompareBool(value.get(), key, Py_EQ);
  if (equal < 0) PyErr_Clear();
  return equal > 0;
}

namespace {

// The text of the last pair's key that equals `key` by Python equality
// (pairs from the last to the first), or nothing.  Python code runs here:
// the tree cannot change meanwhile (the read holds shared access), but
// nothing of the key index is held across it.
PyResult<std::optional<std::string>> matching_key_text(DocumentRead& read, const YamlNode& mapping, PyObject* key) {
  const auto pairs = mapping.pairs();
  for (std::size_t i = pairs.size(); i-- > 0;) {
    // A step names a key by its text: a key of empty content has none that
    // could not be another key's ("''").
    if (!pairs[i].key.is_scalar()) continue;
    KESTRINE_ASSIGN_OR_RETURN(const bool match, key_node_matches(read.options(), pairs[i].key, key));
    if (match) return std::optional<std::string>(pairs[i].key.text());
  }
  return std::optional<std::string>();
}

// The step a key takes in a mapping (its Key step by text) and the value it
// reaches, or KeyError.
struct MappingHit {
  PathSegment step;
  const YamlNode* value = nullptr;
};

PyResult<MappingHit> mapping_step(DocumentRead& read, const YamlNode& mapping, PyObject* key) {
  if (PyUnicode_CheckExact(key)) {
    KESTRINE_ASSIGN_OR_RETURN(std::string_view text, str_view(key));
    const TextKeyMatch match = match_text_key(mapping, text, read.record().flags, read.lookups());
    if (match.result == TextKeyMatch::Result::Found)
      return MappingHit{PathSegment::of_key(std::string(text)), &mapping.pairs()[match.pair].value};
    if (match.result == TextKeyMatch::Result::Missing) return fail(key_error_for(key));
  }
  KESTRINE_ASSIGN_OR_RETURN(std::optional<std::string> text, matching_key_text(read, mapping, key));
  if (!text) return fail(key_error_for(key));
  PathSegment step = PathSegment::of_key(std::move(*text));
  const YamlNode* value = child_by_segment(mapping, step, read.lookups());
  return MappingHit{std::move(step), value};
}

}  // namespace

PyResult<OwnedRef> item_result(DocumentRead& read, PyObject* document, NodePath path, const YamlNode& child) {
  if (child.is_scalar() || child.is_null()) return scalar_node_to_py(child, read.options());
  if (child.is_collection()) return new_view(document, read.root_index(), std::move(path));
  const YamlNode& root = read.record().roots[read.root_index()];
  ItemResult item = view_or_value(root, std::move(path), child, read.aliases());
  if (item.is_view) return new_view(document, read.root_index(), std::move(item.path));
  return read.value_of(child);
}

PyResult<OwnedRef> lookup_item(DocumentRead& read, PyObject* document, const NodePath& base, const YamlNode& node,
                               PyObject* key) {
  MappingHit hit;
  if (node.is_mapping()) {
    KESTRINE_ASSIGN_OR_RETURN(hit, mapping_step(read, node, key));
  } else {
    KESTRINE_ASSIGN_OR_RETURN(hit.step, py_to_path_segment(key));
    hit.value = child_by_segment(node, hit.step, read.lookups());
  }
  const YamlNode* child = hit.value;
  if (child == nullptr) return fail(missing_step_error(node, key));
  PathSegment& step = hit.step;
  NodePath path;
  path.reserve(base.size() + 1);
  path.insert(path.end(), base.begin(), base.end());
  path.push_back(std::move(step));
  return item_result(read, document, std::move(path), *child);
}

namespace {
constexpr const char* kGetParams[] = {"key", "default"};
constexpr ArgSpec kGetArgs{"get", kGetParams, 2, 0, 2, 2};
}  // namespace

PyResult<OwnedRef> get_or_default(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                  const std::function<PyResult<OwnedRef>(PyObject* key)>& lookup) {
  PyObject* arg[2];
  KESTRINE_TRY(parse_fastcall(kGetArgs, args, nargs, kwnames, arg));
  PyResult<OwnedRef> result = lookup(arg[0]);
  if (result) return result;
  const PyErr& err = result.error();
  if (err.is_instance_of(PyExc_KeyError) || err.is_instance_of(PyExc_IndexError) ||
      err.is_instance_of(PyExc_TypeError))
    return OwnedRef::borrow(arg[1]);
  return result;
}

// ---- keys, length, membership -----------------------------------------------------------

PyResult<OwnedRef> distinct_keys(DocumentRead& read, const YamlNode& mapping) {
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef keys, checked(PyList_New(0)));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef seen, checked(PyDict_New()));
  for (const NodePair& pair : mapping.pairs()) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef hashable, read.key_of(pair.key));
    const int known = PyDict_Contains(seen.get(), hashable.get());
    if (known < 0) return fail_fetch();
    if (known > 0) continue;
    KESTRINE_TRY(checked_status(PyDict_SetItem(seen.get(), hashable.get(), Py_None)));
    OwnedRef plain = hashable;
    if (pair.key.is_collection() || pair.key.is_alias()) {
      KESTRINE_ASSIGN_OR_RETURN(plain, read.value_of(pair.key));
    }
    KESTRINE_TRY(checked_status(PyList_Append(keys.get(), plain.get())));
  }
  return keys;
}

PyResult<Py_ssize_t> node_length(DocumentRead& read, const YamlNode& node) {
  if (node.is_sequence()) return static_cast<Py_ssize_t>(node.size());
  if (!node.is_mapping()) return 1;
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef keys, distinct_keys(read, node));
  return PyList_GET_SIZE(keys.get());
}

PyResult<bool> contains_text(DocumentRead& read, const YamlNode& node, PyObject* key) {
  if (!node.is_mapping() || !PyUnicode_Check(key)) return false;
  KESTRINE_ASSIGN_OR_RETURN(std::string_view text, str_view(key));
  return contains_text_key(node, text, read.lookups());
}

// ---- the leaf walk ------------------------------------------------------------------------

namespace {

// Collects (path tuple, value) pairs; the path holds one converted key or
// index per level.  Keys are converted once per pair visited.
class LeafCollector {
 public:
  LeafCollector(DocumentRead& read, PyObject* out) : read_(read), out_(out) {}

  bool enter_key(const YamlNode& key) { return push(read_.key_of(key)); }
  bool enter_index(std::size_t index) { return push(new_uint(index)); }
  void leave() { path_.pop_back(); }
  bool leaf(const YamlNode& node) {
    PyStatus added = add(node);
    if (!added) error_.emplace(std::move(added.error()));
    return added.has_value();
  }

  std::optional<PyErr>& error() noexcept { return error_; }

 private:
  bool push(PyResult<OwnedRef> step) {
    if (!step) {
      error_.emplace(std::move(step.error()));
      return false;
    }
    path_.push_back(std::move(*step));
    return true;
  }

  PyStatus add(const YamlNode& node) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, read_.value_of(node));
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef path, checked(PyTuple_New(static_cast<Py_ssize_t>(path_.size()))));
    for (std::size_t i = 0; i < path_.size(); ++i)
      PyTuple_SET_ITEM(path.get(), static_cast<Py_ssize_t>(i), path_[i].new_ref());
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef record, checked(PyTuple_Pack(2, path.get(), value.get())));
    return checked_status(PyList_Append(out_, record.get()));
  }

  DocumentRead& read_;
  PyObject* out_;
  std::vector<OwnedRef> path_;
  std::optional<PyErr> error_;
};

}  // namespace

PyResult<OwnedRef> walk_node(DocumentRead& read, const YamlNode& node) {
  GcPause pause(!read.options().timestamps);
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef out, checked(PyList_New(0)));
  LeafCollector collector(read, out.get());
  if (!walk_leaves(node, collector)) {
    if (collector.error()) return fail(std::move(*collector.error()));
  }
  return out;
}

// ---- positions ----------------------------------------------------------------------------

PyResult<OwnedRef> range_tuple(const YamlNode& node) noexcept {
  return checked(Py_BuildValue("(KKKK)", static_cast<unsigned long long>(node.span.line) + 1,
                               static_cast<unsigned long long>(node.span.column) + 1,
                               static_cast<unsigned long long>(node.end_line) + 1,
                               static_cast<unsigned long long>(node.end_column) + 1));
}

}  // namespace kestrine
