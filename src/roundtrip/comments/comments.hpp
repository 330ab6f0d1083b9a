// Comment attachment: distributes the comments the scanner skipped over the
// nodes of composed document roots (head, inline and foot comments) and
// records the blank lines and column spacing the round-trip emitter needs to
// write the documents back in the layout they were read in.
//
// The composer drives a CommentPlacer while it builds the tree (one pass);
// attach_comments does the same placement over finished roots.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "roundtrip/tree/ast.hpp"
#include "scanner/scanner.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

// Positions (line, column) of "-" entry indicators whose item starts on a
// later line; filled by the composer.
using IntroducerSet = FlatHashSet<std::uint64_t>;

constexpr std::uint64_t introducer_key(std::uint32_t line, std::uint32_t column) noexcept {
  return (std::uint64_t{line} << 32) | column;
}

// The (line, column) just past a node's content, 0-based: for a scalar read
// from text its source end, for one built from a value the end of its text
// counted from its start; for a collection the furthest end of its children;
// otherwise its start.
std::pair<std::uint32_t, std::uint32_t> node_end_position(const YamlNode& node);

// Just past the closing bracket of a flow collection read from `text`
// (whose first byte has the offset `base`), or nothing when the bracket
// cannot be found after the collection's last entry.
std::optional<std::size_t> flow_collection_end(const YamlNode& node, std::string_view text, std::size_t base);

// The placement state of one text: a cursor over its comments that moves
// forward only, shared by all its roots in document order.  Nodes are
// visited in pre-order: `before` when a node's start (and properties) are
// known, `after` once its content is complete.  `place` does both for a
// whole subtree; the composer calls the steps as it builds nodes, so the
// tree is not walked a second time.
class CommentPlacer {
 public:
  using Pos = std::pair<std::uint32_t, std::uint32_t>;

  // What introduces a node on an earlier line.
  struct Introducer {
    enum class Kind : std::uint8_t { None, AfterKey, InSequence } kind = Kind::None;
    std::uint32_t line = 0;    // AfterKey: the line where the key ends
    std::uint32_t column = 0;  // AfterKey: the column where the key ends; InSequence: the sequence column
  };

  CommentPlacer(std::span<const SourceComment> comments, std::string_view text,
                const IntroducerSet& introducers);

  // Blank lines before the node, and the comments on the lines before it
  // (head comments, or the inline comment of its introducer line).
  void before(YamlNode& node, const Introducer& intro) {
    // The common case: the node follows the previous content on the same or
    // the next line, with no comment in between.
    const std::uint32_t node_line = node.span.line;
    if ((next_ >= comments_.size() || comments_[next_].span.line >= node_line) &&
        (!has_last_ || node_line <= last_line_ + 1)) {
      if (has_last_ && node.comments.blank_before != 0) node.comments.blank_before = 0;
      account(node_line);
      return;
    }
    before_slow(node, intro);
  }
  // Accounts for the node's lines and gives it a trailing comment on its
  // first line when it may take one.  `end` is node_end_position(node);
  // returns it.
  Pos after(YamlNode& node, bool may_take_trailing, Pos end) {
    // The common case: no block text, no comment on the node's first or
    // last line (for a flow collection: none from its first line on, as its
    // closing bracket may stand on a later line).
    if ((!may_take_trailing || next_ >= comments_.size() ||
         (is_flow_collection(node) ? comments_[next_].span.line < node.span.line
                                   : comments_[next_].span.line > end.first ||
                                         (comments_[next_].span.line != node.span.line &&
                                          comments_[next_].span.line != end.first))) &&
        !node.comments.raw()) {
      account(end.first);
      return end;
    }
    return after_slow(node, may_take_trailing, end);
  }
  // before, the children, after, for a whole subtree; gives its end.
  Pos place(YamlNode& node, bool may_take_trailing, Introducer intro);
  // The same for a node made for empty content.  It has no text after
  // which a comment could stand, so a comment right after the indicator
  // that introduced it, on that indicator's line, is its trailing comment:
  // after "key:" (the node then sits at the zero position, before its key),
  // or after the "-" the node stands at.
  Pos place_empty(YamlNode& node, bool may_take_trailing, const Introducer& intro);
  // Comments left after the last node become foot comments.
  void place_feet(std::span<YamlNode> roots);

  // The end of a node without children (node_end_position).
  static Pos leaf_end(const YamlNode& node) noexcept {
    // A scalar read from text knows its source end.
    if (node.is_scalar() && node.end_offset > node.span.offset) return {node.end_line, node.end_column};
    return leaf_end_slow(node);
  }
  static bool is_flow_collection(const YamlNode& node) noexcept {
    return node.is_collection() && node.style == CollectionStyle::Flow;
  }
  static Introducer in_sequence(const YamlNode& sequence) noexcept {
    return Introducer{Introducer::Kind::InSequence, 0, sequence.span.column};
  }
  static Introducer value_introducer(const YamlNode& mapping, const YamlNode& key) noexcept {
    if (mapping.style == CollectionStyle::Block && key.end_line >= mapping.span.line &&
        !key.explicit_key)
      return Introducer{Introducer::Kind::AfterKey, key.end_line, key.end_column};
    return Introducer{};
  }
  // The spacing between a plain key and a value on the same line.
  static void set_value_pad(const YamlNode& key, Pos key_end, YamlNode& value) noexcept {
    if (key.is_scalar() && key.scalar_style() == ScalarStyle::Plain &&
        key_end.first == value.span.line && key_end.second < value.span.column &&
        value.has_no_properties()) {
      value.comments.value_pad = value.span.column - key_end.second - 1;
    }
  }

 private:
  std::span<const SourceComment> comments_;
  std::string_view text_;
  const IntroducerSet& introducers_;
  std::size_t next_ = 0;
  std::uint32_t last_line_ = 0;
  bool has_last_ = false;
  // The node being placed is an entry of a flow collection.
  bool in_flow_ = false;

  // Blank lines among lines [from, to), where `at` is the offset of a
  // character on line `to`: found by walking back over those lines only.
  std::uint32_t blank_lines_before(std::uint32_t from, std::uint32_t to, std::size_t at) const noexcept;
  void account(std::uint32_t line) noexcept {
    last_line_ = has_last_ ? std::max(last_line_, line) : line;
    has_last_ = true;
  }
  // Records a comment just given to `cm` that has no space after its "#".
  void note_spacing(Comments& cm, const SourceComment& c);
  void before_slow(YamlNode& node, const Introducer& intro);
  Pos after_slow(YamlNode& node, bool may_take_trailing, Pos end);
  // The spacing before `c` when it is the node's trailing comment.
  std::optional<std::uint32_t> trailing_spacing(const YamlNode& node, const SourceComment& c, Pos end) const;
  // The spacing before `c` when only blanks and commas lie between `from`
  // and it.
  std::optional<std::uint32_t> direct_gap(std::size_t from, const SourceComment& c) const noexcept;
  // Just past the closing bracket of a flow collection read from the text.
  std::optional<std::size_t> flow_close_offset(const YamlNode& node) const;
  static Pos leaf_end_slow(const YamlNode& node) noexcept;
};

}  // namespace kestrine
