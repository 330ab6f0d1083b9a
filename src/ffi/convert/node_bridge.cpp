#include "ffi/convert/node_bridge.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "decode/directives.hpp"  // is_custom_tag
#include "emit_util/float_text.hpp"
#include "emit_util/scalar_text.hpp"
#include "emit_util/plain_scalar.hpp"
#include "ffi/convert/decode.hpp"
#include "resolver/timestamp.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {

// ---- node to Python -------------------------------------------------------------------

namespace {

// The node an alias is read as (null: it refers to nothing), or the
// follower's limit error as a ValueError.
PyResult<const YamlNode*> expand_alias(const YamlNode& alias, AliasFollower& aliases) {
  auto target = aliases.expand(alias);
  if (!target) return fail(PyErr::value_error(target.error().message));
  return *target;
}

class NodeReader {
 public:
  NodeReader(const NodeReadOptions& opts, AliasFollower& aliases, AnchorObjectCache& cache)
      : opts_(opts), aliases_(aliases), cache_(cache) {}

  PyResult<OwnedRef> read(const YamlNode& node) {
    return stack_guarded([&]() -> PyResult<OwnedRef> {
      if (node.is_alias()) {
        KESTRINE_ASSIGN_OR_RETURN(const YamlNode* target, expand_alias(node, aliases_));
        if (target == nullptr) return none_ref();
        if (OwnedRef hit = cache_.find(target)) return hit;
        return read(*target);
      }
      PyResult<OwnedRef> obj = node.is_sequence() ? sequence(node)
                               : node.is_mapping() ? mapping(node)
                                                   : scalar_node_to_py(node, opts_);
      if (obj && node.anchor()) cache_.store(&node, *obj);
      return obj;
    });
  }

 private:
  PyResult<OwnedRef> sequence(const YamlNode& node) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, checked(PyList_New(0)));
    for (const YamlNode& item : node.items()) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef obj, read(item));
      KESTRINE_TRY(checked_status(PyList_Append(list.get(), obj.get())));
    }
    return list;
  }

  PyResult<OwnedRef> mapping(const YamlNode& node) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef dict, checked(PyDict_New()));
    const auto pairs = node.pairs();
    if (!has_merge_key(pairs)) {
      for (const NodePair& p : pairs) {
        KESTRINE_ASSIGN_OR_RETURN(OwnedRef key, node_to_py_key(p.key, opts_, aliases_, &key_cache_));
        KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, read(p.value));
        KESTRINE_TRY(checked_status(PyDict_SetItem(dict.get(), key.get(), value.get())));
      }
      return dict;
    }
    KESTRINE_TRY(merged_pairs(dict.get(), pairs));
    return dict;
  }

  // The pairs of a mapping with merge keys, in order: a merge applies where
  // its key stands, so later keys override what it brought in.
  PyStatus merged_pairs(PyObject* dict, std::span<const NodePair> pairs) {
    bool slot_taken = false;
    for (const NodePair& p : pairs) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, read(p.value));
      if (is_merge_key_node(p.key)) {
        KESTRINE_ASSIGN_OR_RETURN(OwnedRef leftover, apply_merge(dict, p.value, value.get(), aliases_.bindings()));
        if (!leftover) continue;
        KESTRINE_ASSIGN_OR_RETURN(OwnedRef key, is_merge_text(p.key) ? node_to_py_key(p.key, opts_, aliases_, &key_cache_)
                                                                     : new_str(kMergeKeyText));
        KESTRINE_TRY(insert_merge_slot(dict, key.get(), leftover.get(), slot_taken));
        continue;
      }
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef key, node_to_py_key(p.key, opts_, aliases_, &key_cache_));
      KESTRINE_TRY(checked_status(PyDict_SetItem(dict, key.get(), value.get())));
      if (slot_taken && is_ordinary_merge_text_key(p.key)) slot_taken = false;
    }
    return {};
  }

  const NodeReadOptions& opts_;
  AliasFollower& aliases_;
  AnchorObjectCache& cache_;
  AnchorObjectCache key_cache_;  // key objects of alias targets
};

// Hashable key objects.  What an alias stands for is built once per cache and
// shared by every alias to it (tuples, str and numbers are immutable), so
// keys made of aliases cost no copy of the texts they name.
class KeyReader {
 public:
  KeyReader(const NodeReadOptions& opts, AliasFollower& aliases, AnchorObjectCache* aliased,
            const TagHandlers* handlers)
      : opts_(opts), aliases_(aliases), aliased_(aliased), handlers_(handlers) {}

  PyResult<OwnedRef> key_of(const YamlNode& node) {
    return stack_guarded([&]() -> PyResult<OwnedRef> {
      const YamlNode* n = &node;
      while (n->is_alias()) {
        KESTRINE_ASSIGN_OR_RETURN(n, expand_alias(*n, aliases_));
        if (n == nullptr) return none_ref();
      }
      const bool shared = n != &node && aliased_ != nullptr;
      if (shared) {
        if (OwnedRef hit = aliased_->find(n)) return hit;
      }
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef obj, n->is_sequence() ? sequence_key(*n)
                                              : n->is_mapping() ? mapping_key(*n)
                                                                : scalar_node_to_py(*n, opts_));
      if (handlers_ != nullptr) {
        if (const auto tag = n->expanded_tag(); tag && is_custom_tag(*tag)) {
          KESTRINE_ASSIGN_OR_RETURN(obj, apply_tag(*tag, std::move(obj), *handlers_));
        }
      }
      if (shared) aliased_->store(n, obj);
      return obj;
    });
  }

 private:
  PyResult<OwnedRef> sequence_key(const YamlNode& node) {
    const auto items = node.items();
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef tuple, checked(PyTuple_New(static_cast<Py_ssize_t>(items.size()))));
    for (std::size_t i = 0; i < items.size(); ++i) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef item, key_of(items[i]));
      PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return tuple;
  }

  PyResult<OwnedRef> mapping_key(const YamlNode& node) {
    const auto pairs = node.pairs();
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef tuple, checked(PyTuple_New(static_cast<Py_ssize_t>(pairs.size()))));
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef k, key_of(pairs[i].key));
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef v, key_of(pairs[i].value));
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef pair, checked(PyTuple_Pack(2, k.get(), v.get())));
      PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), pair.release());
    }
    return tuple;
  }

  const NodeReadOptions& opts_;
  AliasFollower& aliases_;
  AnchorObjectCache* aliased_;
  const TagHandlers* handlers_;
};

}  // namespace

PyResult<OwnedRef> scalar_to_py(const ResolvedScalar& s) noexcept {
  switch (s.type) {
    case ResolvedScalar::Type::Null: return none_ref();
    case ResolvedScalar::Type::Bool: return OwnedRef::borrow(s.boolean ? Py_True : Py_False);
    case ResolvedScalar::Type::Int: return new_int(s.integer);
    case ResolvedScalar::Type::BigInt: return bigint_to_py(s.text);
    case ResolvedScalar::Type::Float: return checked(PyFloat_FromDouble(s.real));
    case ResolvedScalar::Type::String: return new_str(s.text);
  }
  return fail(PyErr::internal_fault("unknown scalar type"));
}

PyResult<OwnedRef> scalar_kind_to_py(const ScalarKind& kind, std::string_view text) {
  switch (kind.type) {
    case ScalarType::Null: return none_ref();
    case ScalarType::Bool: return OwnedRef::borrow(kind.boolean ? Py_True : Py_False);
    case ScalarType::Int: return new_int(kind.integer);
    case ScalarType::Float: return checked(PyFloat_FromDouble(kind.real));
    case ScalarType::Str:
    case ScalarType::Merge: return new_str(text);
    case ScalarType::BigInt: return scalar_to_py(to_resolved_scalar(kind, text));
  }
  return fail(PyErr::internal_fault("unknown scalar type"));
}

PyResult<OwnedRef> scalar_node_to_py(const YamlNode& node, const NodeReadOptions& opts) {
  const auto tag = node.expanded_tag();
  if (node.is_scalar()) {
    if (opts.timestamps && !tag && node.scalar_style() == ScalarStyle::Plain) {
      if (const auto ts = parse_timestamp(node.text())) {
        auto obj = timestamp_to_py(*ts);
        if (obj) return obj;
        // A timestamp the interpreter refuses reads as the resolver says.
      }
    }
    // Resolve by kind first: only texts that stay strings are copied.
    return scalar_kind_to_py(
        resolve_scalar_kind(opts.mode, node.text(), node.scalar_style() != ScalarStyle::Plain, tag), node.text());
  }
  if (node.is_null()) {
    if (!tag) return none_ref();
    return scalar_to_py(resolve_scalar_value(opts.mode, "", false, tag));
  }
  return fail(PyErr::internal_fault("scalar conversion of a collection or alias node"));
}

PyResult<OwnedRef> node_to_py(const YamlNode& node, const NodeReadOptions& opts, AliasFollower& aliases,
                              AnchorObjectCache& cache) {
  NodeReader reader(opts, aliases, cache);
  return reader.read(node);
}

PyResult<OwnedRef> node_to_py(const YamlNode& node, const NodeReadOptions& opts, const AnchorBindings& bindings,
                              AnchorObjectCache& cache) {
  AliasFollower aliases(bindings);
  return node_to_py(node, opts, aliases, cache);
}

PyResult<OwnedRef> node_to_py_key(const YamlNode& node, const NodeReadOptions& opts, AliasFollower& aliases,
                                  AnchorObjectCache* aliased) {
  KeyReader reader(opts, aliases, aliased, nullptr);
  return reader.key_of(node);
}

PyResult<OwnedRef> node_to_py_key(const YamlNode& node, const NodeReadOptions& opts,
                                  const AnchorBindings& bindings, AnchorObjectCache* aliased,
                                  const TagHandlers* handlers) {
  AliasFollower aliases(bindings);
  KeyReader reader(opts, aliases, aliased, handlers);
  return reader.key_of(node);
}

// ---- merge keys -------------------------------------------------------------------------

namespace {

// The (key, value) pairs of a dict as a list of 2-tuples, in the order the
// dict iterates (a subclass such as OrderedDict may keep its own order): a
// snapshot, since code run while the pairs are used may edit the dict.
PyResult<OwnedRef> dict_pairs(PyObject* dict) {
  if (PyDict_CheckExact(dict)) return checked(PyDict_Items(dict));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef items, checked(PyMapping_Items(dict)));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
    PyObject* pair = PyList_GET_ITEM(items.get(), i);
    if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2)
      return fail(PyErr::type_error("items() of a dict subclass must give (key, value) pairs"));
  }
  return items;
}

// Adds the pairs of `value` whose keys `target` lacks.
PyStatus merge_dict(PyObject* target, PyObject* value) {
  // A snapshot: key comparisons may run Python code that edits `value`.
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef items, dict_pairs(value));
  const Py_ssize_t n = PyList_GET_SIZE(items.get());
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* pair = PyList_GET_ITEM(items.get(), i);
    PyObject* k = PyTuple_GET_ITEM(pair, 0);
    const int has = PyDict_Contains(target, k);
    if (has < 0) return fail_fetch();
    if (has == 0) KESTRINE_TRY(checked_status(PyDict_SetItem(target, k, PyTuple_GET_ITEM(pair, 1))));
  }
  return {};
}

PyResult<OwnedRef> merge_rec(PyObject* target, const YamlNode& node, PyObject* value,
                             const AnchorBindings& bindings);

// Merges each item of the sequence `node` (converted to the list `value`) in
// order; gives a list of what was left over, or nothing.
PyResult<OwnedRef> merge_items(PyObject* target, const YamlNode& node, PyObject* value,
                               const AnchorBindings& bindings) {
  // A snapshot: merging may run Python code that edits the list.
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef items, checked(PyList_AsTuple(value)));
  const auto nodes = node.items();
  OwnedRef leftovers;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    PyObject* item = PyTuple_GET_ITEM(items.get(), static_cast<Py_ssize_t>(i));
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef left, merge_rec(target, nodes[i], item, bindings));
    if (!left) continue;
    if (!leftovers) {
      KESTRINE_ASSIGN_OR_RETURN(leftovers, checked(PyList_New(0)));
    }
    KESTRINE_TRY(checked_status(PyList_Append(leftovers.get(), left.get())));
  }
  return leftovers;
}

PyResult<OwnedRef> merge_rec(PyObject* target, const YamlNode& node, PyObject* value,
                             const AnchorBindings& bindings) {
  return stack_guarded([&]() -> PyResult<OwnedRef> {
    const YamlNode* n = follow_aliases(node, bindings);
    // What a custom tag made of a node is the tag's business: never merged.
    if (n != nullptr && n->tag() && !is_core_tag(*n->expanded_tag())) return OwnedRef::borrow(value);
    if (value == Py_None) return OwnedRef();
    if (n != nullptr && n->is_mapping() && PyDict_Check(value)) {
      KESTRINE_TRY(merge_dict(target, value));
      return OwnedRef();
    }
    if (n != nullptr && n->is_sequence() && PyList_Check(value) &&
        PyList_GET_SIZE(value) == static_cast<Py_ssize_t>(n->size()))
      return merge_items(target, *n, value, bindings);
    return OwnedRef::borrow(value);
  });
}

}  // namespace

PyResult<OwnedRef> apply_merge(PyObject* target, const YamlNode& node, PyObject* value,
                               const AnchorBindings& bindings) {
  return merge_rec(target, node, value, bindings);
}

PyStatus insert_merge_slot(PyObject* target, PyObject* key, PyObject* leftover, bool& slot_taken) {
  if (!slot_taken) {
    const int has = PyDict_Contains(target, key);
    if (has < 0) return fail_fetch();
    if (has > 0) return {};
    KESTRINE_TRY(checked_status(PyDict_SetItem(target, key, leftover)));
    slot_taken = true;
    return {};
  }
  PyObject* current = PyDict_GetItemWithError(target, key);  // borrowed
  if (current == nullptr) {
    if (PyErr_Occurred()) return fail_fetch();
    // The slot was taken by this mapping and nothing removes keys from it.
    return fail(PyErr::internal_fault("merge slot vanished from its mapping"));
  }
  OwnedRef slot = OwnedRef::borrow(current);
  if (!PyList_Check(slot.get())) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, checked(PyList_New(1)));
    PyList_SET_ITEM(list.get(), 0, slot.release());
    KESTRINE_TRY(checked_status(PyDict_SetItem(target, key, list.get())));
    slot = std::move(list);
  }
  if (PyList_Check(leftover)) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef items, checked(PyList_AsTuple(leftover)));
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items.get()); ++i)
      KESTRINE_TRY(checked_status(PyList_Append(slot.get(), PyTuple_GET_ITEM(items.get(), i))));
    return {};
  }
  return checked_status(PyList_Append(slot.get(), leftover));
}

// ---- Python to node -------------------------------------------------------------------

ScalarStyle choose_string_style(std::string_view text, bool prefer_double, VersionMode mode) noexcept {
  if (!needs_quotes(text, mode)) return ScalarStyle::Plain;
  return quoted_string_style(text, prefer_double);
}

ScalarStyle quoted_string_style(std::string_view text, bool prefer_double) noexcept {
  if (prefer_double) return ScalarStyle::DoubleQuoted;
  if (text.find('\'') != std::string_view::npos) return ScalarStyle::DoubleQuoted;
  return is_printable_single_line(text) ? ScalarStyle::SingleQuoted : ScalarStyle::DoubleQuoted;
}

namespace {

PyResult<YamlNode> to_node(PyObject* obj, bool prefer_double, VersionMode mode, std::uint32_t depth);

PyResult<YamlNode> child_node(PyObject* obj, bool prefer_double, VersionMode mode, std::uint32_t depth) {
  return stack_guarded([&] { return to_node(obj, prefer_double, mode, depth); });
}

// A scalar node for None, a bool, an integer (anything with an integer
// conversion; an int beyond 64 bits keeps all its digits), a float or a str;
// nothing for any other value.
PyResult<std::optional<YamlNode>> scalar_to_node(PyObject* obj, bool prefer_double, VersionMode mode) {
  if (obj == Py_None) {
    YamlNode node;
    node.synthetic = true;
    return node;
  }
  if (PyBool_Check(obj)) return YamlNode::scalar(obj == Py_True ? "true" : "false");

  const long long integer = PyLong_AsLongLong(obj);
  if (integer != -1 || !PyErr_Occurred()) return YamlNode::scalar(std::to_string(integer));
  if (PyLong_Check(obj)) {
    PyErr_Clear();
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef text, checked(PyObject_Str(obj)));
    KESTRINE_ASSIGN_OR_RETURN(std::string_view view, str_view(text.get()));
    return YamlNode::scalar(std::string(view));
  }
  PyErr_Clear();

  if (PyFloat_CheckExact(obj)) return YamlNode::scalar(format_float(PyFloat_AS_DOUBLE(obj)));
  if (!PyUnicode_Check(obj)) {
    const double real = PyFloat_AsDouble(obj);
    if (real != -1.0 || !PyErr_Occurred()) return YamlNode::scalar(format_float(real));
    PyErr_Clear();
    return std::nullopt;
  }
  if (auto view = str_view(obj)) {
    return YamlNode::scalar(std::string(*view), choose_string_style(*view, prefer_double, mode));
  }
  // A str that cannot be encoded falls through to the final error.
  return std::nullopt;
}

PyResult<YamlNode> list_to_node(PyObject* obj, bool prefer_double, VersionMode mode, std::uint32_t depth) {
  std::vector<YamlNode> items;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(obj); ++i) {
    // Hold the item: converting it may run code that edits the list.
    OwnedRef item = OwnedRef::borrow(PyList_GET_ITEM(obj, i));
    KESTRINE_ASSIGN_OR_RETURN(YamlNode node, child_node(item.get(), prefer_double, mode, depth + 1));
    items.push_back(std::move(node));
  }
  return YamlNode::sequence(std::move(items));
}

PyResult<YamlNode> dict_to_node(PyObject* obj, bool prefer_double, VersionMode mode, std::uint32_t depth) {
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef items, dict_pairs(obj));
  std::vector<NodePair> pairs;
  const Py_ssize_t n = PyList_GET_SIZE(items.get());
  pairs.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* pair = PyList_GET_ITEM(items.get(), i);
    KESTRINE_ASSIGN_OR_RETURN(YamlNode key, child_node(PyTuple_GET_ITEM(pair, 0), prefer_double, mode, depth + 1));
    KESTRINE_ASSIGN_OR_RETURN(YamlNode value, child_node(PyTuple_GET_ITEM(pair, 1), prefer_double, mode, depth + 1));
    pairs.push_back(NodePair{std::move(key), std::move(value)});
  }
  return YamlNode::mapping(std::move(pairs));
}

PyResult<YamlNode> to_node(PyObject* obj, bool prefer_double, VersionMode mode, std::uint32_t depth) {
  if (depth > kMaxAssignDepth)
    return fail(PyErr::value_error("value is too deeply nested to assign (possible self-reference)"));
  KESTRINE_ASSIGN_OR_RETURN(std::optional<YamlNode> scalar, scalar_to_node(obj, prefer_double, mode));
  if (scalar) return std::move(*scalar);
  if (PyList_Check(obj)) return list_to_node(obj, prefer_double, mode, depth);
  if (PyDict_Check(obj)) return dict_to_node(obj, prefer_double, mode, depth);

  PyErr_Clear();
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef repr, checked(PyObject_Repr(obj)));
  KESTRINE_ASSIGN_OR_RETURN(std::string_view text, str_view(repr.get()));
  return fail(PyErr::type_error("cannot convert " + std::string(text) + " to a YAML node"));
}

}  // namespace

PyResult<YamlNode> py_to_node(PyObject* obj, bool prefer_double, VersionMode mode, std::uint32_t depth) {
  return child_node(obj, prefer_double, mode, depth);
}

}  // namespace kestrine
