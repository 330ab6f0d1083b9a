// The bridge between Python values and round-trip nodes.
//
//   py_to_node(obj, prefer_double, mode)     a Python value assigned into a tree
//   node_to_py(node, opts, bindings, cache)  a node read out as a plain value
//
// plus the pieces that the tree conversions (ffi/convert/annotate.hpp) share:
// alias binding, mapping keys of collections, and merge keys.
//
// Aliases.  An alias stands for the most recent node before it, in its own
// document, that carries its anchor and is complete where the alias appears
// (an alias inside the node it names, or naming an anchor that only follows
// it, binds to an earlier definition or to nothing).  `bind_anchors` works
// this out once per operation and charges every alias the node count of what
// it stands for, exactly like the plain decoder's alias budget, so a document
// that would expand beyond the budget fails before any object is built.  No
// node is copied: an alias converts to the object already built for its
// target (the `AnchorObjectCache`), or else converts the target node itself.
//
// Everything here requires the interpreter lock.  Every recursive walk runs
// under the stack guard.  Bindings and caches point into the tree: the tree
// must not change while they are in use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "ffi/py.hpp"
#include "resolver/kind.hpp"
#include "resolver/resolve.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/compose_error.hpp"
#include "scanner/scanner.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

// ---- aliases -----------------------------------------------------------------------

// What every alias of one or more documents stands for.
class AnchorBindings {
 public:
  // The node the alias refers to, or null when it refers to nothing.
  const YamlNode* target(const YamlNode& alias) const noexcept {
    auto it = targets_.find(&alias);
    return it == targets_.end() ? nullptr : it->second;
  }
  bool empty() const noexcept { return targets_.empty(); }
  std::size_t size() const noexcept { return targets_.size(); }

 private:
  friend class AnchorBinder;
  SeededHashMap<const YamlNode*, const YamlNode*> targets_;
};

// Nodes that all aliases of one operation may stand for, counted as if every
// alias had been replaced by a copy of its target: the plain decoder's limit.
inline constexpr std::uint64_t kAliasExpansionBudget = 10'000'000;
inline constexpr std::string_view kAliasBombMessage = "document expands to too many nodes (possible alias bomb)";

// Binds the aliases of each root within that root; the budget is shared by
// all of them.  Fails with kAliasBombMessage at the alias that exceeds it
// (raise through compose_error_to_py).
std::expected<AnchorBindings, ComposeError> bind_anchors(std::span<const YamlNode> roots,
                                                         std::uint64_t budget = kAliasExpansionBudget);
inline std::expected<AnchorBindings, ComposeError> bind_anchors(const YamlNode& root) {
  return bind_anchors(std::span<const YamlNode>(&root, 1));
}

// The node an alias chain ends at (the node itself when it is no alias), or
// null for an alias that refers to nothing.
const YamlNode* follow_aliases(const YamlNode& node, const AnchorBindings& bindings) noexcept;

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

// True for the merge key "<<": tagged !!merge (either spelling, whatever the
// text), or untagged, plain and exactly "<<".
bool is_merge_key_node(const YamlNode& key) noexcept;
// Some pair's key is a merge key.
bool has_merge_key(std::span<const NodePair> pairs) noexcept;
// A scalar "<<" that is not a merge key (quoted, block, otherwise tagged).
bool is_ordinary_merge_text_key(const YamlNode& key) noexcept;

// A plain Python value for a node: None, bool, int, float, str, date or
// datetime for scalars; list and dict for collections (merge keys applied, no
// tag handler called); an alias gives the cached object of its target, else
// the target converted.  Fails only when the interpreter does (memory, a
// hash or comparison raising).
PyResult<OwnedRef> node_to_py(const YamlNode& node, const NodeReadOptions& opts, const AnchorBindings& bindings,
                              AnchorObjectCache& cache) noexcept;

// A resolved scalar as a Python object.
PyResult<OwnedRef> scalar_to_py(const ResolvedScalar& scalar) noexcept;

// The scalar or null node's plain value (aliases and collections excluded).
PyResult<OwnedRef> scalar_node_to_py(const YamlNode& node, const NodeReadOptions& opts) noexcept;

// A hashable object for a mapping key: sequences become tuples, mappings
// tuples of (key, value) tuples (merge keys not applied), scalars as
// node_to_py; aliases are followed, and one that refers to nothing gives None.
PyResult<OwnedRef> node_to_py_key(const YamlNode& node, const NodeReadOptions& opts,
                                  const AnchorBindings& bindings) noexcept;

// A sequence or mapping, or an alias that stands for one.
bool is_collection_node(const YamlNode& node, const AnchorBindings& bindings) noexcept;

// ---- merge keys -------------------------------------------------------------------------

// Merges `value` into `target` (a dict): a dict's missing keys are added, a
// list's items are merged in order, None adds nothing.  Gives what could not
// be merged (an empty reference for nothing, the value itself, or a new list
// of the leftovers of a list).
PyResult<OwnedRef> apply_merge(PyObject* target, PyObject* value) noexcept;

// Stores a merge leftover under `key`: the first one goes in unless the key is
// taken (then it is dropped) and sets `slot_taken`; later ones turn the entry
// into a list and are appended (a list leftover item by item).
PyStatus insert_merge_slot(PyObject* target, PyObject* key, PyObject* leftover, bool& slot_taken) noexcept;

// ---- Python to node -------------------------------------------------------------------

// Nesting levels accepted by py_to_node (depth 0 to 999).
inline constexpr std::uint32_t kMaxAssignDepth = 999;

// A node for a Python value assigned into a tree: None (a synthetic null),
// bool, int (any size), float, str, list and dict; anything else is a
// TypeError "cannot convert {repr} to a YAML node".  Deeper than
// kMaxAssignDepth: ValueError "value is too deeply nested to assign (possible
// self-reference)".  Built nodes have no position, comments or properties.
PyResult<YamlNode> py_to_node(PyObject* obj, bool prefer_double, VersionMode mode, std::uint32_t depth = 0) noexcept;

// Plain when the text reads back as itself, else double quotes when preferred
// or when the text holds "'", else single quotes when the text fits on one
// printable line, else double quotes.
ScalarStyle choose_string_style(std::string_view text, bool prefer_double, VersionMode mode) noexcept;

}  // namespace kestrine
