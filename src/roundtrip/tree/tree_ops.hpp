// Walks and operations over round-trip trees: change detection, the texts
// to write back for included files, anchor and alias searches, alias-
// expanding copies and the leaf walk.  None of them touches Python objects;
// every recursive step runs under the stack guard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "roundtrip/tree/anchors.hpp"
#include "roundtrip/tree/ast.hpp"
#include "util/hash_map.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

// Whether `test` holds for some child of `node` (items; keys and values),
// under the stack guard.
template <class Test>
bool any_child(const YamlNode& node, Test&& test) {
  return stack_guarded([&] {
    for (const YamlNode& item : node.items())
      if (test(item)) return true;
    for (const NodePair& pair : node.pairs())
      if (test(pair.key) || test(pair.value)) return true;
    return false;
  });
}

// ---- change detection ---------------------------------------------------------

// The node or any node below it (included subtrees too) carries `modified`.
bool subtree_modified(const YamlNode& node);
bool subtree_modified_inner(const YamlNode& node);

// As subtree_modified, but a subtree that came from another file (a node with
// a `source`) counts as unmodified: its edits belong to its own file.
bool subtree_modified_in_file(const YamlNode& node);
bool pairs_modified_in_file(const NodePair& pair);

// ---- comments -----------------------------------------------------------------

// A block mapping or sequence with at least one entry: one whose entries
// stand on lines of their own, with comment lines between and after them.
inline bool is_block_collection(const YamlNode& n) noexcept {
  return n.is_collection() && n.style == CollectionStyle::Block && n.size() > 0;
}

// From `node`, the node whose foot receives a comment line at `column` that
// follows its content: the last block collection down its last entries that
// starts at a column not past `column` (`node` itself when none does),
// entering a mapping's last value only for a line right of the mapping's
// entries.  Content that replaced a directive is another file's: it is not
// entered.
YamlNode& find_attach_target(YamlNode& node, std::uint32_t column);
const YamlNode& find_attach_target(const YamlNode& node, std::uint32_t column);

// How many lines at the front of an entry's head lines lie inside the
// content before the entry: those read indented deeper than the entry's
// own `column`, up to the first line at or left of it (or below the
// introducer).  The reader gives them to the entry only because they come
// before it; they are not its comment, and they are written back where
// they stood.  A line set later counts as read at column 0.
std::size_t inner_head_lines(std::span<const HeadComment> head, std::uint32_t column) noexcept;

// The comments and spacing written around a node, which stay where they
// are when its content is replaced (its kept block text and compact layout
// go with the content).
void carry_comments(const Comments& from, Comments& to);

// ---- provenance ---------------------------------------------------------------

// Whether the content of `node` was edited at its top: its own `modified`
// flag, or for a node that replaced a directive, the flag of its content
// record (IncludeSource::content_comments), since its own flag marks the
// directive in the including file.
inline bool content_modified(const YamlNode& node) noexcept {
  const IncludeSource* source = node.source();
  return source != nullptr ? source->content_comments.modified : node.comments.modified;
}
// Sets (or clears) that flag; gives its previous value.
bool set_content_modified(YamlNode& node, bool modified);

inline constexpr std::string_view kSecretTag = "!secret";
inline constexpr std::string_view kEnvVarTag = "!env_var";

// True exactly for the five include tags ("!include", "!include_dir_list",
// "!include_dir_named", "!include_dir_merge_list", "!include_dir_merge_named").
bool is_include_tag(std::string_view tag) noexcept;
inline bool is_include_tag(const char* tag) noexcept {
  return tag != nullptr && is_include_tag(std::string_view(tag));
}
inline bool is_include_tag(const std::optional<std::string>& tag) noexcept {
  return tag.has_value() && is_include_tag(std::string_view(*tag));
}
// A configuration directive: an include tag, "!secret" or "!env_var".  Its
// argument is a path or a name, not the node's value.
inline bool is_directive_tag(std::string_view tag) noexcept {
  return tag == kSecretTag || tag == kEnvVarTag || is_include_tag(tag);
}

// The node's content came from `!secret`, here or in what an include here
// stands for (IncludeSource::content_secret).  Nothing of it, or of anything below it, may be quoted in a
// message, logged or written to another file.
inline bool is_secret_node(const YamlNode& node) noexcept {
  const IncludeSource* source = node.source();
  return source != nullptr && (source->tag == kSecretTag || source->content_secret);
}

// Why no file can hold an edit of the content that `node`'s directive stands
// for, as the end of a refusal naming the directive ("... '{tag} {target}',
// {reason}"); null when the node holds no directive, or one whose file holds
// its content (an `!include` of a file that is not itself a directive).  A
// directory tag's content came from many files, a secret or a variable from
// none.
inline const char* content_without_file(const YamlNode& node) noexcept {
  const IncludeSource* source = node.source();
  if (source == nullptr) return nullptr;
  if (!source->target_file_id) return "which names no single file to hold it";
  if (source->content_from_directive) return "whose file holds a directive in place of its content";
  return nullptr;
}

// ---- paths and anchors --------------------------------------------------------

// One step of a node path from a document root.
struct PathSegment {
  enum class Kind : std::uint8_t {
    Key,      // the value of the last pair whose scalar key has `key` as text
    Index,    // a sequence item
    KeyNode,  // the key node itself of such a pair
  };
  Kind kind = Kind::Index;
  std::string key;        // Key, KeyNode
  std::size_t index = 0;  // Index

  static PathSegment of_key(std::string k) { return {Kind::Key, std::move(k), 0}; }
  static PathSegment of_index(std::size_t i) { return {Kind::Index, {}, i}; }
  static PathSegment of_key_node(std::string k) { return {Kind::KeyNode, std::move(k), 0}; }
  friend bool operator==(const PathSegment&, const PathSegment&) = default;
};
using NodePath = std::vector<PathSegment>;

// Depth-first in document order: a scalar-keyed pair's key (KeyNode) before
// its value (Key); pairs with other keys are skipped with their values;
// aliases are not followed.  The path to the first node anchored `name`.
std::optional<NodePath> find_anchor_path(std::span<const YamlNode> roots, std::string_view name);
// The body over one node: fills `result` unless it is already set.
void find_anchor_node(const YamlNode& node, std::string_view name, NodePath& path,
                      std::optional<NodePath>& result);

// Same traversal: a copy of the path of every Alias node named `name`.
void collect_aliases(const YamlNode& node, std::string_view name, NodePath& path,
                     std::vector<NodePath>& out);
// Same traversal: (anchor name, path) of every anchored node, parents first.
void collect_anchor_paths(const YamlNode& node, NodePath& path,
                          std::vector<std::pair<std::string, NodePath>>& out);

// ---- alias-expanding copies ---------------------------------------------------

// How a detached copy writes a directive it keeps (below) that was read in
// another file than the one the copy is written in: an include names its
// path from the folder of the file holding it, and a secret is looked up
// from there.  `relocate` rewrites `source` (the directive as read in file
// `read_in`) so that it reads the same from file `written_in`, or gives why
// that cannot be done.
class DirectiveRelocator {
 public:
  virtual ~DirectiveRelocator() = default;
  virtual std::optional<std::string> relocate(IncludeSource& source, std::uint32_t read_in,
                                              std::uint32_t written_in) const = 0;
};

// Why an alias-expanding copy failed: a limit (kAliasDepthMessage,
// kAliasBombMessage) at the node or alias where it was reached, or a
// directive the relocator refused, at that directive.
struct AliasCopyError {
  std::string message;
  Span span;
  bool relocation = false;  // the relocator's refusal
};

// The copy used when an alias is detached (replaced by what it refers to):
// each alias replaced by a copy of what it is bound to (the most recent
// definition before it, in its file; depth + 1 per alias).  Every node copied
// spends one of `budget` (kAliasNodeBudget for a whole copy; an alias itself
// costs nothing, so a copy of an alias spends what reading it as a value is
// charged); a copy that would spend more than `budget`, or nest more than
// kMaxAliasDepth alias expansions, fails with the limit's message (at the
// node or alias where it is reached), the error a read of the same alias
// gives: a copy is whole or nothing.  Rebuilt nodes keep span, tag, style
// and comments (no anchor; a collection ends where it starts), and the
// include source of a directive whose content no file holds
// (content_without_file): a copied secret, variable or directory include is
// written as its directive, like the node it copies.  Such a directive is
// written in the file of `node` (the alias's); one read in another file is
// handed to `relocator` (none: kept as read), whose refusal fails the copy.
// What lies below a kept directive is read again from its files, not
// written: it keeps every include source, so that a write-back knows the
// files the directive reads.  The content of an included file is otherwise
// copied without its source and written inline, so that the copy is
// independent: as the directive it would share the file with what it
// copies.  The copy of an alias, at any depth, carries the alias's own
// comments, not its anchored node's: those stay with that node, and the
// copy of a node holding both would write them twice.  An alias bound to
// nothing becomes a Null at its start keeping the alias's comments, tag
// and style.
using AliasCopy = std::expected<YamlNode, AliasCopyError>;
AliasCopy copy_expanding_aliases_for_detach(const YamlNode& node, const AnchorBindings& bindings,
                                            std::uint32_t depth, std::uint64_t& budget,
                                            const DirectiveRelocator* relocator = nullptr);

// ---- leaves -------------------------------------------------------------------

// Visits every leaf (scalar, null, alias: aliases are not followed) below
// `node` in document order: a sequence steps into each item by index, a
// mapping into the value of each pair whose key is a scalar (pairs with other
// keys are skipped with their values; duplicate keys are visited each); an
// empty collection has no leaf.  The visitor's steps return false to stop the
// walk, and so does walk_leaves then:
//
//   struct Visitor {
//     bool enter_key(const YamlNode& key);    // before the value of a pair
//     bool enter_index(std::size_t index);    // before a sequence item
//     void leave();                           // after either
//     bool leaf(const YamlNode& node);
//   };
template <class Visitor>
bool walk_leaves(const YamlNode& node, Visitor& visit) {
  return stack_guarded([&] {
    if (node.is_sequence()) {
      const auto items = node.items();
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (!visit.enter_index(i)) return false;
        const bool go = walk_leaves(items[i], visit);
        visit.leave();
        if (!go) return false;
      }
      return true;
    }
    if (node.is_mapping()) {
      for (const NodePair& p : node.pairs()) {
        if (!p.key.is_scalar()) continue;
        if (!visit.enter_key(p.key)) return false;
        const bool go = walk_leaves(p.value, visit);
        visit.leave();
        if (!go) return false;
      }
      return true;
    }
    return visit.leaf(node);
  });
}

}  // namespace kestrine
