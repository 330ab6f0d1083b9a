// A round-trip document: the record a load keeps (one tree per YAML
// document, the source files, the text as read, the load's flags), path
// resolution over its trees, and the tree side of reading it through
// handles (key matching, alias re-basing, node facts; the places of
// comment lines are comment_places.hpp's).
//
//   DocumentRecord rec{roots, names, texts, text, std::nullopt, flags};
//   KeyIndexCache lookups;                       // lives as long as the document
//   NodePath path = {PathSegment::of_key("servers"), PathSegment::of_index(0)};
//   const YamlNode* node = resolve_path(rec, 0, path, &lookups);  // null: nothing there
//
// Handles onto a document keep only a path of PathSegment steps from a root
// and resolve it anew on every access, so an edit never leaves one pointing
// at freed nodes.  Resolved pointers are valid until the next edit of the
// tree.  Nothing here touches Python objects.
//
// Aliases: every document of a stream binds its aliases within its own root
// (roundtrip/tree/anchors.hpp), so a handle whose path starts at root i follows
// aliases with an AliasFollower over root i.  Item access through an alias
// re-bases the path onto the anchored node, so a handle's path never passes
// through an alias and an edit through it changes the anchored node (and so
// every alias of it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/load_settings.hpp"
#include "emit_util/null_style.hpp"
#include "resolver/kind.hpp"
#include "roundtrip/tree/anchors.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/tree_ops.hpp"
#include "util/hash_map.hpp"
#include "util/large_block.hpp"
#include "util/text_facts.hpp"

namespace kestrine {

// The settings a round-trip document keeps from its load.
struct DocumentFlags {
  bool prefer_double_quotes = true;  // not OPT_SINGLE_QUOTES
  bool upgrade_1_1 = false;          // OPT_UPGRADE_1_1
  bool timestamps = false;           // OPT_TIMESTAMPS
  NullStyle null_style = NullStyle::Default;
  VersionMode version_mode = VersionMode::Yaml12;
};

// What a round-trip document holds: one root per YAML document, the
// source-file table (file names and texts as read, indexed by file number;
// empty without include options), the whole text as loaded, where it was
// loaded from, its flags and the include root.  A root may be a Null node
// (an empty document): it is a document like any other.
struct DocumentRecord {
  std::vector<YamlNode> roots;
  std::vector<std::string> source_names;
  std::vector<std::optional<std::string>> source_texts;
  std::optional<LargeText> source_text;
  // Taken from `source_text` when it is stored (a render needs them).
  std::optional<TextFacts> source_facts;
  std::optional<std::string> origin;
  DocumentFlags flags;
  // The include root of the load in canonical form (empty without include
  // options): write-back never writes outside it.
  std::string include_root;
  // Where `source_text` begins in the text the nodes' offsets count in (a
  // document of a stream keeps only its own part of the stream).
  std::size_t source_offset = 0;
  // A whole document was removed from the stream, or replaced: the text as
  // read no longer holds (although no remaining node may be modified), and
  // the lines between documents are no longer theirs.
  bool documents_replaced = false;
  // Every node above a modified one carries `edited_below` (kept by the
  // document API's edits once set; see roundtrip/document/edit.hpp).  Without it,
  // rendering looks for edits through the whole tree.
  bool edit_marks = false;
};

// The flags a round-trip document keeps from the settings of its load;
// `mode`: the version mode the document was read in (stored as YAML 1.2
// when the upgrade rewrote its 1.1 forms).
DocumentFlags document_flags(const LoadSettings& settings, VersionMode mode) noexcept;

// The texts of the documents of a stream: `starts` are the offsets at which
// the documents begin (the first 0); each text runs to the next start, the
// last to the end, so the texts put together give `text` again.
std::vector<std::string_view> document_slices(std::string_view text, std::span<const std::size_t> starts);

// The one root of a document that holds exactly one, else null: such a
// document reads like that root; one with zero or several roots reads like a
// list of its documents.
inline const YamlNode* single_root(const DocumentRecord& doc) noexcept {
  return doc.roots.size() == 1 ? &doc.roots.front() : nullptr;
}

// ---- key lookups ------------------------------------------------------------------

// Mappings with at least this many pairs get a key index on first lookup.
inline constexpr std::size_t kIndexedMappingSize = 16;

// Key indexes of the large mappings of one document: key text to the last
// pair with that scalar key, so that a lookup in a mapping of any width costs
// one probe.  An index remembers the pair list it was built from and is
// rebuilt when the mapping's list changed; every index holds only
// positions, checked against the live pairs on each probe, so a stale index
// can never read freed memory.  The owner still clears the cache whenever it
// edits the trees (a key's text changed in place is not noticed).
// Not thread-safe: lookups fill the cache, so callers serialise them (the
// document API runs under the interpreter lock and never calls out while
// it probes).
class KeyIndexCache {
 public:
  // The position of the last pair of `mapping` whose key is a scalar with
  // exactly `text`, or nothing.
  std::optional<std::size_t> last_pair_with_key(const YamlNode& mapping, std::string_view text);
  void clear() noexcept { indexes_.clear(); }
  // Drops the indexes of the mappings in `subtree` (the subtree itself
  // included), which an edit is about to free or replace: a mapping built
  // later at one of their places must not find an index of theirs.
  void forget(const YamlNode& subtree);
  // Number of indexes held.
  std::size_t size() const noexcept { return indexes_.size(); }

 private:
  // One slot of an open-addressing table: pair position + 1 (0 for an empty
  // slot) and the high half of the key's hash, so that a probe compares
  // only the pair whose hash matches (each pair compared is a cache miss in
  // a large tree).
  struct Slot {
    std::uint32_t position = 0;
    std::uint32_t hash = 0;
  };
  struct Index {
    const NodePair* pairs = nullptr;
    std::size_t size = 0;
    std::vector<Slot> slots;  // power-of-two length, at most half full
  };
  Index& index_of(const YamlNode& mapping);

  SeededHashMap<const YamlNode*, Index> indexes_;
};

// The same lookup with the cache when one is given, else a scan from the
// last pair.
std::optional<std::size_t> last_pair_with_key(const YamlNode& mapping, std::string_view text,
                                              KeyIndexCache* cache);

// ---- paths ------------------------------------------------------------------------

// One step down from `node`: in a mapping, Key gives the value and KeyNode the
// key of the last pair whose key is a scalar with exactly that text; in a
// sequence, Index gives the item.  Anything else (aliases included) gives
// null.
const YamlNode* child_by_segment(const YamlNode& node, const PathSegment& segment) noexcept;
const YamlNode* child_by_segment(const YamlNode& node, const PathSegment& segment, KeyIndexCache* cache);

// The node at `path` from root `start_root`, or null.
const YamlNode* resolve_path(const DocumentRecord& doc, std::size_t start_root,
                             std::span<const PathSegment> path) noexcept;
const YamlNode* resolve_path(const DocumentRecord& doc, std::size_t start_root, std::span<const PathSegment> path,
                             KeyIndexCache* cache);
YamlNode* resolve_path_mut(DocumentRecord& doc, std::size_t start_root, std::span<const PathSegment> path) noexcept;

// The path from `root` to `target` (a node of that tree) in the steps a
// handle stores, or nothing when no such path reaches it: the node lies
// inside a key that is not a scalar, or under a pair whose key text a later
// pair of the same mapping repeats.
std::optional<NodePath> path_to_node(const YamlNode& root, const YamlNode& target);

// The node at `path` from root `start_root` (null when the path does not
// resolve), where an alias at the end stands for its anchored node when a
// path reaches that node: `path` is then replaced by that node's path.  An
// alias that refers to nothing, or to a node no path reaches, stays itself.
// `aliases` follows the aliases of root `start_root`.
const YamlNode* resolve_rebased(const DocumentRecord& doc, std::size_t start_root, NodePath& path,
                                AliasFollower& aliases, KeyIndexCache* cache);

// The `!secret` node that the node at `path` of `root` lies inside (strictly
// below it: the secret itself is not inside), or null; null too when the
// path does not resolve.  A secret is written as its directive and never as
// its value, so a part of the value has no text of its own that may be
// written, nor a place where an edit of it could be kept.
const YamlNode* enclosing_secret(const YamlNode& root, std::span<const PathSegment> path, KeyIndexCache* cache);
// The node holding a directive (a `source`) nearest above the node at `path`
// of `root` (strictly above it), or null; null too when the path does not
// resolve.  An edit below it is written where that directive's content was
// read from (content_without_file).
const YamlNode* enclosing_directive(const YamlNode& root, std::span<const PathSegment> path, KeyIndexCache* cache);
// "cannot {action} part of a !secret value ('{directive}'): ...", the
// refusal for a node inside `secret`: names the directive, never the value.
std::string inside_secret_message(std::string_view action, const YamlNode& secret);

// What item access gives for `child`, found at `path` of root `root`: a view
// (a live handle) at `path` for a mapping or sequence, and for an alias that
// stands for one at the anchored node's path; a plain value of `child`
// otherwise (an alias that refers to nothing reads as None).
struct ItemResult {
  bool is_view = false;
  NodePath path;  // views: where the view points
};
ItemResult view_or_value(const YamlNode& root, NodePath path, const YamlNode& child, AliasFollower& aliases);

// ---- keys as Python sees them -------------------------------------------------------

// What a mapping key node reads as, for comparing it with a str: that text
// (a scalar that resolves to a string), something else, or not known
// without converting it (texts that may become a date, or an integer too
// long for the interpreter).
enum class KeyTextReading : std::uint8_t { Text, Other, Unknown };
KeyTextReading key_reads_as_text(const YamlNode& key, const DocumentFlags& flags) noexcept;

// Which pair of `mapping` an exact str key `text` addresses.  Found: some
// scalar key reads as that text, and `pair` is the last pair whose key has
// the text (where the stored Key step leads; it can be a different pair when
// a plain key and a quoted key share a text).  Missing: no key reads as it.
// Undecided: a key with that text cannot be judged without Python.
struct TextKeyMatch {
  enum class Result : std::uint8_t { Found, Missing, Undecided };
  Result result = Result::Missing;
  std::size_t pair = 0;
};
TextKeyMatch match_text_key(const YamlNode& mapping, std::string_view text, const DocumentFlags& flags,
                            KeyIndexCache* cache);

// `node` is a mapping with a pair whose key is a scalar of exactly `text`.
bool contains_text_key(const YamlNode& node, std::string_view text, KeyIndexCache* cache);

// ---- node facts -----------------------------------------------------------------------

// "plain", "single", "double", "literal", "folded" for scalars, "block" or
// "flow" for collections, "alias", "null".
std::string_view node_style_name(const YamlNode& node) noexcept;

// The tag of the directive that produced the node (its include source), else
// the node's own tag when it is a local one (not "!!..." nor the core
// prefix), else nothing.
std::optional<std::string_view> source_tag_of(const YamlNode& node) noexcept;
// The include source's target, else nothing.
std::optional<std::string_view> source_target_of(const YamlNode& node) noexcept;

}  // namespace kestrine
