// The bridge between Python values and round-trip nodes.
//
//   AliasFollower aliases(root);                          // roundtrip/tree/anchors.hpp
//   AnchorObjectCache cache;
//   PyResult<OwnedRef> obj = node_to_py(root, opts, aliases, cache);
//   PyResult<YamlNode> node = py_to_node(value, prefer_double, mode, null_style);
//
// node_to_py reads a node out as a plain value; py_to_node builds a node for a
// value assigned into a tree.  The tree conversions (annotate.hpp) share the
// scalar, key and merge-key pieces below.  An alias converts to the object
// already built for its target (the `AnchorObjectCache`), or else converts
// the target node itself; nothing is copied.  Every alias read is charged to
// the follower, so a document whose aliases expand past its limits fails
// with ValueError (its message) instead of filling memory.
//
// Everything here requires the interpreter lock.  Every recursive walk runs
// under the stack guard.  Python errors come back as values; C++ exceptions
// (allocation failures) are left to the caller's py_entry.  Bindings and caches point into the tree: the tree
// must not change while they are in use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "emit_util/null_style.hpp"
#include "ffi/convert/decode.hpp"
#include "ffi/py.hpp"
#include "resolver/kind.hpp"
#include "resolver/resolve.hpp"
#include "roundtrip/tree/anchors.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/merged_pairs.hpp"
#include "scanner/scanner.hpp"
#include "util/hash_map.hpp"
#include "util/try.hpp"

namespace kestrine {

// Anchored node to the Python object built for it within one conversion.
// Owns one reference per entry.
class AnchorObjectCache {
 public:
  AnchorObjectCache() = default;
  AnchorObjectCache(const AnchorObjectCache&) = delete;
  AnchorObjectCache& operator=(const AnchorObjectCache&) = delete;

  // A new reference to the cached object, or an empty one.
  OwnedRef find(const YamlNode* node) const noexcept {
    auto it = objects_.find(node);
    return it == objects_.end() ? OwnedRef() : it->second;
  }
  // Stores (or replaces) the object for `node`.
  void store(const YamlNode* node, const OwnedRef& obj) { objects_.insert_or_assign(node, obj); }
  std::size_t size() const noexcept { return objects_.size(); }

 private:
  SeededHashMap<const YamlNode*, OwnedRef> objects_;
};

// ---- node to Python -------------------------------------------------------------------

// How scalars read: the version mode, and whether untagged plain scalars that
// parse as timestamps become date/datetime objects.
struct NodeReadOptions {
  VersionMode mode = VersionMode::Yaml12;
  bool timestamps = false;
};

// A plain Python value for a node: None, bool, int, float, str, date or
// datetime for scalars; list and dict for collections (merge keys applied, no
// tag handler called); an alias gives the cached object of its target, else
// the target converted.  Fails when the interpreter does (memory, a hash or
// comparison raising) or an alias goes past the follower's limits.  With
// load-time bindings the load already held the aliases to its budget.
PyResult<OwnedRef> node_to_py(const YamlNode& node, const NodeReadOptions& opts, AliasFollower& aliases,
                              AnchorObjectCache& cache);
PyResult<OwnedRef> node_to_py(const YamlNode& node, const NodeReadOptions& opts, const AnchorBindings& bindings,
                              AnchorObjectCache& cache);

// A resolved scalar as a Python object.
PyResult<OwnedRef> scalar_to_py(const ResolvedScalar& scalar) noexcept;

// A scalar's plain value from its resolved kind (`text`: the scalar's text).
PyResult<OwnedRef> scalar_kind_to_py(const ScalarKind& kind, std::string_view text);

// The scalar or null node's plain value (aliases and collections excluded).
PyResult<OwnedRef> scalar_node_to_py(const YamlNode& node, const NodeReadOptions& opts);

// A hashable object for a mapping key: sequences become tuples, mappings
// tuples of (key, value) tuples (merge keys not applied), scalars as
// node_to_py; aliases are followed, and one that refers to nothing gives None.
// With `aliased`, the object built for an alias target is kept there and
// shared by later aliases to it (keys are immutable), so keys made of
// aliases never copy the texts they name once per alias.  With `handlers`
// (a load's), every node with a custom tag, the key's own included, goes to
// apply_tag in its hashable form, as on the plain road; without them tags
// are dropped.  What a callback returns need not be hashable: storing such
// a key is the caller's error.
PyResult<OwnedRef> node_to_py_key(const YamlNode& node, const NodeReadOptions& opts, AliasFollower& aliases,
                                  AnchorObjectCache* aliased = nullptr);
PyResult<OwnedRef> node_to_py_key(const YamlNode& node, const NodeReadOptions& opts,
                                  const AnchorBindings& bindings, AnchorObjectCache* aliased = nullptr,
                                  const TagHandlers* handlers = nullptr);

// ---- merge keys -------------------------------------------------------------------------

// Fills `dict` with the pairs of a mapping holding merge keys, as the merge
// fold (roundtrip/tree/merged_pairs.hpp) leaves them, in order: each value first,
// by `value(node)`, then its key, by `key(node)`; what merging left over
// goes under "<<" (a list of leftovers as a new list).  A merge key converts
// to the str "<<", so the slot's key is its merge key converted.  With
// `keys_may_meet` (tag callbacks may make keys equal that the fold told
// apart) the pairs are placed by their origin (MergedPairStore).  After each
// pair, `stored(i, lost)` (i: the pair's index; lost: its key repeated one
// of the same origin and replaced that value) may look at the dict.
template <class Key, class Value, class Stored>
PyStatus fill_folded_dict(PyObject* dict, const FoldedMapping<NodeRef>& folded, bool keys_may_meet, Key&& key,
                          Value&& value, Stored&& stored);

// ---- Python to node -------------------------------------------------------------------

// Nesting levels accepted by py_to_node (depth 0 to 999).
inline constexpr std::uint32_t kMaxAssignDepth = 999;

// A node for a Python value assigned into a tree: None (a synthetic null),
// bool, int (any size), float, str, list and dict; anything else is a
// TypeError "cannot convert {repr} to a YAML node".  Deeper than
// kMaxAssignDepth: ValueError "value is too deeply nested to assign (possible
// self-reference)".  Built nodes have no position, comments or properties.
// A None used as a key (of a dict in the value) becomes the plain word a
// null is written as under `null_style` ("~" for Tilde, else "null"): keys
// are found by their text, as a loaded "null:" key is.
PyResult<YamlNode> py_to_node(PyObject* obj, bool prefer_double, VersionMode mode,
                              NullStyle null_style = NullStyle::Default, std::uint32_t depth = 0);
// The same for a value that becomes a mapping key itself.
PyResult<YamlNode> py_to_key_node(PyObject* obj, bool prefer_double, VersionMode mode, NullStyle null_style);

// Plain when the text reads back as itself, else double quotes when preferred
// or when the text holds "'", else single quotes when the text fits on one
// printable line, else double quotes.
ScalarStyle choose_string_style(std::string_view text, bool prefer_double, VersionMode mode) noexcept;
// The quotes of a text that needs them: double when preferred or when the
// text holds "'", else single when the text fits on one printable line.
ScalarStyle quoted_string_style(std::string_view text, bool prefer_double) noexcept;

// ---- template definitions ----------------------------------------------------------------

namespace bridge_detail {

template <class Value>
PyResult<OwnedRef> folded_value(const NodeRef& ref, Value& value);

template <class Value>
PyResult<OwnedRef> leftover_object(const MergeLeftover<NodeRef>& left, Value& value) {
  if (!left.is_list) return folded_value(left.value, value);
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, checked(PyList_New(static_cast<Py_ssize_t>(left.items.size()))));
  for (std::size_t i = 0; i < left.items.size(); ++i) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef item, leftover_object(left.items[i], value));
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
  }
  return list;
}

template <class Value>
PyResult<OwnedRef> folded_value(const NodeRef& ref, Value& value) {
  if (ref.list != nullptr) return leftover_object(*ref.list, value);
  if (ref.node == nullptr) return none_ref();
  return value(*ref.node);
}

}  // namespace bridge_detail

template <class Key, class Value, class Stored>
PyStatus fill_folded_dict(PyObject* dict, const FoldedMapping<NodeRef>& folded, bool keys_may_meet, Key&& key,
                          Value&& value, Stored&& stored) {
  MergedPairStore store(dict);
  for (std::size_t i = 0; i < folded.pairs.size(); ++i) {
    const FoldedPair<NodeRef>& p = folded.pairs[i];
    PyResult<OwnedRef> v = folded.slot == i ? bridge_detail::leftover_object(folded.leftover, value)
                                            : bridge_detail::folded_value(p.value, value);
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef v_obj, std::move(v));
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef k_obj, p.key.node != nullptr ? key(*p.key.node) : new_str("<<"));
    bool lost = false;
    if (keys_may_meet) {
      MergedStore outcome;
      KESTRINE_TRY(checked_status(store.store(k_obj.get(), v_obj.get(), p.source, outcome)));
      lost = outcome == MergedStore::Replaced;
    } else {
      const Py_ssize_t before = PyDict_GET_SIZE(dict);
      KESTRINE_TRY(checked_status(PyDict_SetItem(dict, k_obj.get(), v_obj.get())));
      lost = PyDict_GET_SIZE(dict) == before;
    }
    KESTRINE_TRY(stored(i, lost));
  }
  return {};
}

}  // namespace kestrine
