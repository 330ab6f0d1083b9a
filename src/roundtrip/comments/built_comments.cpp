#include "roundtrip/comments/built_comments.hpp"

#include <string>
#include <vector>

namespace kestrine {
namespace {

// The lines of a comment text: cut at line feeds, a CR before a line feed
// dropped with it, no extra line for a final line feed, inner empty lines kept.
std::vector<std::string_view> comment_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (end < text.size() && line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    pos = next;
  }
  return lines;
}

bool has_any_comment(const YamlNode& n) noexcept {
  return !n.comments.head().empty() || n.comments.inline_comment() || !n.comments.foot().empty();
}

// The direct children: a sequence's items, a mapping's key then value for
// each pair.
void push_child_nodes(const YamlNode& node, std::vector<const YamlNode*>& stack) {
  if (node.is_sequence()) {
    for (const YamlNode& item : node.items()) stack.push_back(&item);
  } else if (node.is_mapping()) {
    for (const NodePair& pair : node.pairs()) {
      stack.push_back(&pair.key);
      stack.push_back(&pair.value);
    }
  }
}

}  // namespace

std::optional<std::string_view> apply_node_comments(YamlNode& node, std::optional<std::string_view> before,
                                                    std::optional<std::string_view> inline_text,
                                                    std::optional<std::string_view> after, bool is_root) {
  if (after && !is_root &&
      !(node.is_collection() && node.style == CollectionStyle::Block && node.size() > 0)) {
    return "comment_after is only supported on a block mapping, a block sequence, or the document root";
  }
  if (before) {
    std::vector<HeadComment>& head = node.comments.head_mut();
    head.clear();
    for (std::string_view line : comment_lines(*before)) head.push_back(HeadComment{std::string(line), false});
  }
  if (inline_text) {
    node.comments.inline_comment_mut() = *inline_text;
  } else if (node.comments.inline_comment()) {
    node.comments.inline_comment_mut() = std::nullopt;
  }
  if (after) {
    std::vector<std::string>& foot = node.comments.foot_mut();
    foot.clear();
    for (std::string_view line : comment_lines(*after)) foot.emplace_back(line);
  }
  return std::nullopt;
}

std::optional<std::string_view> check_key_comments(const YamlNode& key) {
  if (key.comments.inline_comment() || !key.comments.foot().empty())
    return "a mapping key cannot carry an inline comment or comment_after";
  if (!key.is_collection()) return std::nullopt;
  std::vector<const YamlNode*> stack;
  push_child_nodes(key, stack);
  while (!stack.empty()) {
    const YamlNode* n = stack.back();
    stack.pop_back();
    if (has_any_comment(*n))
      return "a comment inside a mapping key is not supported, since the key must stay on one line";
    push_child_nodes(*n, stack);
  }
  return std::nullopt;
}

}  // namespace kestrine
