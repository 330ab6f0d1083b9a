// The round-trip node tree: the structure-preserving record of one YAML
// document (comments, styles, anchors, tags, directives, positions), built by
// the composer, edited through the document API and written back by the
// round-trip emitter.
//
// Memory model
// ------------
// A node owns its children (a sequence its items, a mapping its pairs, each
// pair holding key and value side by side) and its texts; there is no sharing
// between nodes, an alias refers to its anchor by name only.  Trees outlive
// the text they were read from, so every text is an owned std::string.  The
// child lists of composed trees lie in arena chunks that count their lists
// (see node_list.hpp), so a subtree may be moved anywhere.
//
// Large configuration files produce millions of nodes, so the record is kept
// small: the payload (scalar text, alias name, items or pairs) shares one
// slot, and the fields that are usually absent (anchor, tag, include source,
// directives; the comment texts) live in two boxed side records that cost
// one null pointer each when empty.  `OptText` behaves like
// std::optional<std::string> but is one pointer wide.
//
// Copies are deep (every field).  Destroying a node never recurses through
// its subtree: `~YamlNode` moves descendants onto an explicit work stack, so
// trees of any depth are released safely (see `drop_node_tree`).  Copying
// follows the stack guard, so deep copies continue on a fresh stack segment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "roundtrip/tree/node_list.hpp"
#include "scanner/scanner.hpp"
#include "scanner/span.hpp"

namespace kestrine {

// ---- boxed optional values ----------------------------------------------------

// An optional value held on the heap: one pointer wide, deep-copied, null
// when absent.  The interface follows std::optional.
template <class T>
class OptBox {
 public:
  OptBox() noexcept = default;
  OptBox(std::nullopt_t) noexcept {}
  OptBox(const T& v) : p_(std::make_unique<T>(v)) {}
  OptBox(T&& v) : p_(std::make_unique<T>(std::move(v))) {}
  OptBox(const std::optional<T>& v) {
    if (v) p_ = std::make_unique<T>(*v);
  }
  OptBox(std::optional<T>&& v) {
    if (v) p_ = std::make_unique<T>(std::move(*v));
  }
  OptBox(const OptBox& o) : p_(o.p_ ? std::make_unique<T>(*o.p_) : nullptr) {}
  OptBox(OptBox&&) noexcept = default;
  OptBox& operator=(const OptBox& o) {
    if (this != &o) p_ = o.p_ ? std::make_unique<T>(*o.p_) : nullptr;
    return *this;
  }
  OptBox& operator=(OptBox&&) noexcept = default;
  OptBox& operator=(std::nullopt_t) noexcept {
    p_.reset();
    return *this;
  }
  OptBox& operator=(const T& v) {
    if (p_) *p_ = v; else p_ = std::make_unique<T>(v);
    return *this;
  }
  OptBox& operator=(T&& v) {
    if (p_) *p_ = std::move(v); else p_ = std::make_unique<T>(std::move(v));
    return *this;
  }

  bool has_value() const noexcept { return p_ != nullptr; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  T& operator*() noexcept { return *p_; }
  const T& operator*() const noexcept { return *p_; }
  T* operator->() noexcept { return p_.get(); }
  const T* operator->() const noexcept { return p_.get(); }
  T* get() noexcept { return p_.get(); }
  const T* get() const noexcept { return p_.get(); }
  void reset() noexcept { p_.reset(); }
  template <class... A>
  T& emplace(A&&... args) {
    p_ = std::make_unique<T>(std::forward<A>(args)...);
    return *p_;
  }

  friend bool operator==(const OptBox& a, const OptBox& b) {
    if (!a.p_ || !b.p_) return a.p_ == b.p_;
    return *a.p_ == *b.p_;
  }

 private:
  std::unique_ptr<T> p_;
};

// An optional owned text, one pointer wide.  Extra conveniences over OptBox:
// construction and assignment from string views, `view()` and comparison
// with a text.
class OptText : public OptBox<std::string> {
 public:
  using OptBox<std::string>::OptBox;
  using OptBox<std::string>::operator=;
  OptText() noexcept = default;
  OptText(std::string_view s) : OptBox<std::string>(std::string(s)) {}
  OptText(const char* s) : OptBox<std::string>(std::string(s)) {}
  OptText(std::optional<std::string_view> s) {
    if (s) emplace(*s);
  }
  OptText& operator=(std::string_view s) {
    if (has_value()) (**this).assign(s); else emplace(s);
    return *this;
  }
  OptText& operator=(const char* s) { return *this = std::string_view(s); }
  OptText& operator=(std::optional<std::string_view> s) {
    if (s) *this = *s; else reset();
    return *this;
  }
  // The text, or nothing.
  std::optional<std::string_view> view() const noexcept {
    if (!has_value()) return std::nullopt;
    return std::string_view(**this);
  }
  // True when present and equal to `s`.
  bool equals(std::string_view s) const noexcept { return has_value() && **this == s; }

  friend bool operator==(const OptText& a, const OptText& b) {
    return static_cast<const OptBox<std::string>&>(a) == static_cast<const OptBox<std::string>&>(b);
  }
};

// ---- comments and layout facts ------------------------------------------------

// One whole-line comment above a node.  `below_introducer`: the line lies
// below the introducer line (the "- " or "key:") that carries this node's
// inline comment, so it is written between the introducer and the node.
// `column`: where its "#" was read (0 for a comment set later); a line
// indented deeper than its node lies inside the block before it.
struct HeadComment {
  std::string text;
  bool below_introducer = false;
  std::uint32_t column = 0;

  friend bool operator==(const HeadComment&, const HeadComment&) = default;
};

// The texts of a node's comments; boxed (see Comments) since few nodes
// have any.  Comment texts carry no "#".
struct CommentTexts {
  // Whole-line comments above the node, in source order.
  std::vector<HeadComment> head;
  // The comment on the node's line, after its content.
  OptText inline_comment;
  // Literal and folded scalars: the source text from the indicator to the end.
  OptText raw;
  // Comments after the node's content at the end of the document.
  std::vector<std::string> foot;
  // The texts among the above that were read with no space after their "#"
  // ("#X", "#####"): they are written back the same way.  A text set later
  // is written after "# " (unless it is one of these).
  std::vector<std::string> unspaced;

  bool empty() const noexcept { return head.empty() && !inline_comment && !raw && foot.empty(); }
};

// What a node without comment texts reads.
extern const CommentTexts kNoCommentTexts;

// A node's comments and the layout facts the emitter needs to write the node
// back as it was read.  The numbers and flags are inline; the texts live in
// one boxed record, created by the first `*_mut()` call.
struct Comments {
  // Blank lines between the previous content and this node (or its first
  // head comment).
  std::uint32_t blank_before = 0;
  // Columns between the end of what precedes the inline comment on its line
  // and its "#".
  std::uint32_t inline_spaces = 0;
  // Columns strictly between the introducer ("-", or the ":" position just
  // past a plain key) and the node's first character; 0 when not recorded.
  std::uint32_t value_pad = 0;
  // The inline comment sits on the introducer line and the node starts later.
  bool inline_before_value = false;
  // A block sequence starting on the same line as the "- " that holds it.
  bool compact = false;
  // Set by every edit through the document API; while no node of a tree
  // carries it the emitter may return the text as read.
  bool modified = false;
  // Set by the document API on every node above one it edits: rendering an
  // edited document looks inside only such nodes (roundtrip/document/edit.hpp).
  bool edited_below = false;

  // Reading: empty values when the node has no comment text.
  const std::vector<HeadComment>& head() const noexcept { return texts_ ? texts_->head : no_texts().head; }
  const OptText& inline_comment() const noexcept {
    return texts_ ? texts_->inline_comment : no_texts().inline_comment;
  }
  const OptText& raw() const noexcept { return texts_ ? texts_->raw : no_texts().raw; }
  const std::vector<std::string>& foot() const noexcept { return texts_ ? texts_->foot : no_texts().foot; }
  // Was `text` read as a comment of this node with no space after its "#"?
  bool is_unspaced(std::string_view text) const noexcept {
    if (!texts_) return false;
    for (const std::string& u : texts_->unspaced)
      if (u == text) return true;
    return false;
  }
  // Writing (creates the record).
  std::vector<HeadComment>& head_mut() { return texts_mut().head; }
  OptText& inline_comment_mut() { return texts_mut().inline_comment; }
  OptText& raw_mut() { return texts_mut().raw; }
  std::vector<std::string>& foot_mut() { return texts_mut().foot; }
  std::vector<std::string>& unspaced_mut() { return texts_mut().unspaced; }
  // True when any comment text (or raw block text) is present.
  bool has_texts() const noexcept { return texts_ && !texts_->empty(); }

  // No comment, no layout fact and no edit flag.
  bool empty() const noexcept {
    return blank_before == 0 && inline_spaces == 0 && value_pad == 0 && !inline_before_value &&
           !compact && !modified && !edited_below && !has_texts();
  }
  friend bool operator==(const Comments& a, const Comments& b) {
    return a.blank_before == b.blank_before && a.inline_spaces == b.inline_spaces &&
           a.value_pad == b.value_pad && a.inline_before_value == b.inline_before_value &&
           a.compact == b.compact && a.modified == b.modified && a.edited_below == b.edited_below &&
           a.head() == b.head() &&
           a.inline_comment() == b.inline_comment() && a.raw() == b.raw() && a.foot() == b.foot() &&
           (a.texts_ ? a.texts_->unspaced : no_texts().unspaced) ==
               (b.texts_ ? b.texts_->unspaced : no_texts().unspaced);
  }

 private:
  OptBox<CommentTexts> texts_;

  static const CommentTexts& no_texts() noexcept { return kNoCommentTexts; }
  CommentTexts& texts_mut() {
    if (!texts_) texts_.emplace();
    return *texts_;
  }
};

// ---- include provenance -------------------------------------------------------

// The directive that produced a node's content.  `source_tag` and
// `source_target` are the names under which Python sees `tag` and `target`.
// The node's own `comments` are those written around the directive in the
// including file; an included file's root keeps its comments here, so that
// each file is written back with its own.
struct IncludeSource {
  std::string tag;     // "!include", "!secret", "!env_var", a custom tag, ...
  std::string target;  // the directive's argument as written
  // File number (source-file table) of the file whose content replaced the
  // directive; absent for the directory forms, !secret, !env_var, custom tags.
  std::optional<std::uint32_t> target_file_id;
  // The files read whole for the content that no node of it names: each
  // file a directory form listed, the secrets.yaml a `!secret`'s value came
  // from, and, for an `!include` of a file that is itself a directive, the
  // files that directive read.  No edit can reach them, so write-back keeps
  // them as read.
  std::vector<std::uint32_t> content_files;
  // With a file number: the comments of that file's root node, and in
  // their `modified` flag the edits of the content itself (entries removed,
  // a scalar rewritten), which belong to that file: the node's own flag
  // marks the directive, in the including file.
  Comments content_comments;
  // With a file number, when that file's text goes on past its first
  // document (which alone replaced the directive) with more than blank and
  // comment lines (later documents, a "---" line): where the lines after
  // the first document begin; write-back keeps the text from there as read.
  // kUnknownOffset when that place could not be told.
  std::optional<std::size_t> later_text;
  static constexpr std::size_t kUnknownOffset = static_cast<std::size_t>(-1);
  // With a file number: that file's document was itself a directive, whose
  // result (read from elsewhere) stands here: the file cannot hold an edit.
  bool content_from_directive = false;
  // The content here is a secret's value (an `!include` of a file that is a
  // `!secret`, directly or through further includes), or holds one among
  // other files' content (a directory merge of such a file, whose pieces
  // cannot be told apart): is_secret_node.
  bool content_secret = false;

  friend bool operator==(const IncludeSource&, const IncludeSource&) = default;
};

// ---- the node -------------------------------------------------------------------

// The kind of a node's content; the numbering is the kind index.
enum class NodeKind : std::uint8_t {
  Scalar = 0,    // text (as scanned: escapes and folding applied) and ScalarStyle
  Sequence = 1,  // items
  Mapping = 2,   // key/value pairs in source order; duplicates kept
  Alias = 3,     // anchor name, without "*"; not resolved
  Null = 4,      // empty content; a written "null" or "~" is a Scalar
};

// "scalar", "sequence", "mapping", "alias", "null".
std::string_view node_kind_name(NodeKind kind) noexcept;

enum class CollectionStyle : std::uint8_t { Block = 0, Flow = 1 };

struct YamlNode;
struct NodePair;

// Facts about a Scalar's text found once while composing, off the
// interpreter lock, so that the conversions to Python need not find them
// again: bits of YamlNode::scalar_facts().  They hold for the text and style
// they were found for; changing either forgets them (0: nothing known).
namespace scalar_fact {
inline constexpr std::uint8_t kAsciiText = 1;  // every byte is below 0x80
// Untagged, the scalar reads as a str under YAML 1.2 (the usual mode, in
// which no timestamp is read): never null, bool, a number or the merge key.
inline constexpr std::uint8_t kStrInYaml12 = 2;
}  // namespace scalar_fact

// The facts of a scalar of this text and style.  `ascii_known`: the caller
// knows the text to be ASCII.
std::uint8_t find_scalar_facts(std::string_view text, ScalarStyle style, bool ascii_known) noexcept;

// Fields that are absent on almost every node, boxed together.
struct NodeExtra {
  OptText anchor;
  OptText tag;           // as written: what the writers write back
  OptText expanded_tag;  // only where a %TAG handle of the document changed `tag`
  std::optional<IncludeSource> source;
  std::vector<std::string> directives;
  // The anchor was read before the tag ("&a !t x"; a directive's tag too):
  // the writers keep the order read.  Means nothing without both.
  bool anchor_first = false;

  bool empty() const noexcept { return !anchor && !tag && !expanded_tag && !source && directives.empty(); }
  friend bool operator==(const NodeExtra&, const NodeExtra&) = default;
};

struct YamlNode {
  // ---- construction ----
  YamlNode() noexcept;  // a Null node at the zero position
  static YamlNode scalar(std::string text, ScalarStyle style = ScalarStyle::Plain, Span span = {});
  static YamlNode sequence(std::vector<YamlNode> items = {},
                           CollectionStyle style = CollectionStyle::Block, Span span = {});
  static YamlNode mapping();  // an empty block mapping
  static YamlNode mapping(std::vector<NodePair> pairs,
                          CollectionStyle style = CollectionStyle::Block, Span span = {});
  static YamlNode alias(std::string name, Span span = {});
  // A Null node whose start and end are `span` (end line/column from the span).
  static YamlNode null_at(Span span = {});

  YamlNode(const YamlNode& other);
  YamlNode(YamlNode&&) noexcept = default;
  YamlNode& operator=(const YamlNode& other);
  YamlNode& operator=(YamlNode&&) noexcept;
  // Releases the subtree without recursion.  (Inline: leaves, most nodes,
  // need no more than their members' destructors.)
  ~YamlNode() {
    if (payload_.index() == 1 || payload_.index() == 2) release_children();
  }
  // Back to a default node (Null at the zero position, nothing else).
  void clear() noexcept;

  // ---- kind and payload ----
  NodeKind kind() const noexcept { return static_cast<NodeKind>(payload_.index()); }
  bool is_scalar() const noexcept { return kind() == NodeKind::Scalar; }
  bool is_sequence() const noexcept { return kind() == NodeKind::Sequence; }
  bool is_mapping() const noexcept { return kind() == NodeKind::Mapping; }
  bool is_alias() const noexcept { return kind() == NodeKind::Alias; }
  bool is_null() const noexcept { return kind() == NodeKind::Null; }
  // Sequence or Mapping.
  bool is_collection() const noexcept { return is_sequence() || is_mapping(); }

  // Scalar: its text; Alias: the anchor name.  Empty for other kinds.
  const std::string& text() const noexcept;
  std::string& text_mut();  // Scalar or Alias only
  // The style of a Scalar (Plain for other kinds).
  ScalarStyle scalar_style() const noexcept { return scalar_style_; }
  void set_scalar_style(ScalarStyle s) noexcept {
    scalar_style_ = s;
    scalar_facts_ = 0;
  }
  // What composing found out about a Scalar's text (scalar_fact bits).
  std::uint8_t scalar_facts() const noexcept { return scalar_facts_; }
  void set_scalar_facts(std::uint8_t facts) noexcept { scalar_facts_ = facts; }
  // Alias name (same storage as text()).
  const std::string& alias_name() const noexcept { return text(); }

  // Sequence items; empty span for other kinds.
  std::span<YamlNode> items() noexcept;
  std::span<const YamlNode> items() const noexcept;
  NodeList<YamlNode>& items_mut();  // Sequence only
  // Mapping pairs; empty span for other kinds.
  std::span<NodePair> pairs() noexcept;
  std::span<const NodePair> pairs() const noexcept;
  NodeList<NodePair>& pairs_mut();  // Mapping only
  // Number of items or pairs (0 for other kinds).
  std::size_t size() const noexcept;

  // Replace the payload (other fields stay).
  void set_scalar(std::string text, ScalarStyle style);
  // set_scalar for a node without children, copying the text in place.
  void set_scalar(std::string_view text, ScalarStyle style);
  void set_scalar(const char* text, ScalarStyle style) { set_scalar(std::string_view(text), style); }
  void set_sequence(NodeList<YamlNode> items);
  void set_mapping(NodeList<NodePair> pairs);
  void set_sequence(std::vector<YamlNode> items) { set_sequence(NodeList<YamlNode>(std::move(items))); }
  void set_mapping(std::vector<NodePair> pairs) { set_mapping(NodeList<NodePair>(std::move(pairs))); }
  void set_alias(std::string name);
  void set_null();

  // ---- rarely present fields ----
  const OptText& anchor() const noexcept { return extra_ ? extra_->anchor : no_text(); }
  // The tag as written ("!e!x", "!!str", "!<...>").
  const OptText& tag() const noexcept { return extra_ ? extra_->tag : no_text(); }
  // The tag as it reads: with its %TAG handle expanded when one applied
  // ("tag:example.com,2000:x" for "!e!x"), else as written.  What resolves
  // the node and reaches tag handlers.
  std::optional<std::string_view> expanded_tag() const noexcept {
    if (!extra_) return std::nullopt;
    return extra_->expanded_tag ? extra_->expanded_tag.view() : extra_->tag.view();
  }
  const IncludeSource* source() const noexcept {
    return extra_ && extra_->source ? &*extra_->source : nullptr;
  }
  // The same, to edit in place (the content's comments); null when absent.
  IncludeSource* source_mut() noexcept { return extra_ && extra_->source ? &*extra_->source : nullptr; }
  std::span<const std::string> directives() const noexcept {
    if (!extra_) return {};
    return extra_->directives;
  }
  // Neither anchor nor tag.
  bool has_no_properties() const noexcept { return !extra_ || (!extra_->anchor && !extra_->tag); }
  void set_anchor(OptText anchor);
  // A new tag: as written and, where a %TAG handle changed it, expanded.
  void set_tag(OptText tag, OptText expanded = {});
  // The tag of `from`, both forms.
  void copy_tag(const YamlNode& from);
  // Whether the anchor is written before the tag (NodeExtra::anchor_first).
  bool anchor_first() const noexcept { return extra_ && extra_->anchor_first; }
  void set_anchor_first(bool first);
  void set_source(std::optional<IncludeSource> source);
  void set_directives(std::vector<std::string> directives);
  // Anchor, tag, source and directives together (null when all absent).
  const NodeExtra* extra() const noexcept { return extra_.get(); }

  // ---- positions ----
  Span span;                    // start
  std::size_t end_offset = 0;   // byte offset just past the last character
  std::uint32_t end_line = 0;   // 0-based line of end_offset
  std::uint32_t end_column = 0; // 0-based column (characters) of end_offset

  // The payload comes next so that the flags below share its padding.
 private:
  friend struct TreeReleaser;
  // Index = NodeKind: Scalar text, items, pairs, alias name, nothing.  The
  // variant's index byte is followed by unused bytes; `no_unique_address`
  // lets the layout and flag bytes below occupy them.
  [[no_unique_address]] std::variant<std::string, NodeList<YamlNode>, NodeList<NodePair>,
                                     std::string, std::monostate>
      payload_;  // (set by the constructors: see YamlNode())

 public:
  // ---- layout and flags ----
  CollectionStyle style = CollectionStyle::Block;  // sequences and mappings
  bool explicit_start = false;  // roots: opened by "---" (or had directives)
  bool leading_bom = false;     // first root: the text began with EF BB BF
  bool synthetic = false;       // built from a Python value, not read
  bool explicit_key = false;    // a mapping key written with "?"

 private:
  ScalarStyle scalar_style_ = ScalarStyle::Plain;
  std::uint8_t scalar_facts_ = 0;  // in what was padding

 public:
  Comments comments;

  // Sets end_offset/end_line/end_column to the start position.
  void set_end_to_start() noexcept {
    end_offset = span.offset;
    end_line = span.line;
    end_column = span.column;
  }

 private:
  OptBox<NodeExtra> extra_;

  static const OptText& no_text() noexcept;
  static const std::string& empty_text() noexcept;
  void release_children() noexcept;
  NodeExtra& extra_mut();
  void drop_extra_if_empty() noexcept;
};

struct NodePair {
  YamlNode key;
  YamlNode value;
};

// Defined where NodePair is complete: some compilers instantiate the
// payload's destructor (and so that of NodeList<NodePair>) at these
// points.
inline YamlNode::YamlNode() noexcept : payload_{std::in_place_index<4>} {}
inline YamlNode YamlNode::mapping() { return mapping(std::vector<NodePair>{}); }

// The payload's readers, inline: the walks over a tree (conversions,
// checks, writers) call them for every node.
inline const std::string& YamlNode::text() const noexcept {
  if (const auto* scalar = std::get_if<0>(&payload_)) return *scalar;
  if (const auto* alias = std::get_if<3>(&payload_)) return *alias;
  return empty_text();
}
inline std::span<YamlNode> YamlNode::items() noexcept {
  if (auto* items = std::get_if<1>(&payload_)) return *items;
  return {};
}
inline std::span<const YamlNode> YamlNode::items() const noexcept {
  if (const auto* items = std::get_if<1>(&payload_)) return *items;
  return {};
}
inline std::span<NodePair> YamlNode::pairs() noexcept {
  if (auto* pairs = std::get_if<2>(&payload_)) return *pairs;
  return {};
}
inline std::span<const NodePair> YamlNode::pairs() const noexcept {
  if (const auto* pairs = std::get_if<2>(&payload_)) return *pairs;
  return {};
}

// Structural equality of two trees: kind, payload, style and every field
// (positions, comments, anchor, tag, source, directives, flags).  Iterative
// depth is guarded.  For tests and change detection.
bool nodes_equal(const YamlNode& a, const YamlNode& b);

// Releases a whole tree without recursion (an explicit work stack).
void drop_node_tree(YamlNode&& node) noexcept;
// Releases a list of pairs: each key, then each value, via drop_node_tree.
void drop_node_pairs(std::vector<NodePair>&& pairs) noexcept;

}  // namespace kestrine
