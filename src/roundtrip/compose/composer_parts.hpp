// Small records the composer keeps while it builds a tree: how a node is
// introduced (for comment placement), a tag read before its node, and what
// a collection learns from its children; and the single-pair mapping of a
// flow sequence.  Used by composer.cpp only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "roundtrip/comments/comments.hpp"
#include "roundtrip/tree/ast.hpp"

namespace kestrine::compose_parts {

using Pos = CommentPlacer::Pos;
using Introducer = CommentPlacer::Introducer;

// How the node being composed is introduced, for comment placement.
struct Visit {
  Introducer intro{};
  bool may_take_trailing = true;
};
// Mapping keys: nothing introduces them and a comment after one belongs to
// its value (but for a key after "?" in a block mapping, whose line is its
// own).
inline constexpr Visit kKeyVisit{{}, false};

// A tag read before a node: as written (what is written back) and, where a
// %TAG handle of the document applied, expanded (what it means).
// `after_anchor`: the node's anchor was read before it.
struct PendingTag {
  std::string_view written;
  OptText expanded;
  bool after_anchor = false;
};

// What a collection learns from its children as they are composed: the
// furthest end among them (its node_end_position) and the child whose
// source extent reaches furthest (its end offset).
struct EndAcc {
  Pos end;
  bool any = false;
  // Copied, not pointed to: children move when their collection closes.
  std::size_t far_offset = 0;
  std::uint32_t far_line = 0;
  std::uint32_t far_column = 0;
  void take(Pos p, const YamlNode& child) noexcept {
    if (!any || p > end) end = p;
    if (!any || child.end_offset > far_offset) {
      far_offset = child.end_offset;
      far_line = child.end_line;
      far_column = child.end_column;
    }
    any = true;
  }
};

// The single-pair flow mapping `key: value` of a flow sequence, in `out`,
// starting at `at`.  The pair ends where the part that reaches furthest
// ends, as any collection does (it starts at its key or at its ":").
inline void make_single_pair(YamlNode& out, YamlNode&& key, YamlNode&& value, Span at) {
  const YamlNode& far = value.end_offset >= key.end_offset ? value : key;
  const bool past_start = far.end_offset > at.offset;
  const std::size_t end_offset = far.end_offset;
  const std::uint32_t end_line = far.end_line, end_column = far.end_column;
  std::vector<NodePair> pairs;
  pairs.push_back(NodePair{std::move(key), std::move(value)});
  out.span = at;
  out.style = CollectionStyle::Flow;
  out.set_mapping(std::move(pairs));
  out.set_end_to_start();
  if (past_start) {
    out.end_offset = end_offset;
    out.end_line = end_line;
    out.end_column = end_column;
  }
}

}  // namespace kestrine::compose_parts
