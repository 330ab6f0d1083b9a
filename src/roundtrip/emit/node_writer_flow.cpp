// The node writer's flow collections: one line, or one entry per line when
// entries carry comments.
#include <algorithm>

#include "emit_util/scalar_text.hpp"
#include "roundtrip/emit/node_writer_impl.hpp"

namespace kestrine {

void NodeWriter::flow_separator(std::size_t indent) {
  out_.push_back(',');
  if (e_.width != 0 && !e_.no_fold && current_column(out_) >= e_.width) {
    out_.push_back('\n');
    spaces(std::max<std::size_t>(indent, 1));
  } else {
    out_.push_back(' ');
  }
}

void NodeWriter::flow_sequence(const YamlNode& n, std::size_t indent) {
  auto items = n.items();
  if (items.empty()) {
    out_ += "[]";
    return;
  }
  const bool multi = std::any_of(items.begin(), items.end(), has_comments);
  if (multi) {
    out_ += "[\n";
    ++e_.flow_depth;
    const std::size_t inner = indent + step();
    for (std::size_t i = 0; i < items.size(); ++i) {
      const YamlNode& item = items[i];
      for (const HeadComment& h : item.comments.head()) comment_line(item, h.text, inner);
      spaces(inner);
      properties(item);
      node(item, inner, static_cast<long>(inner));
      const bool comma = i + 1 < items.size();
      if (comma) out_.push_back(',');
      inline_comment(item, comma);
      out_.push_back('\n');
      foot_lines(item, inner);
    }
    --e_.flow_depth;
    spaces(indent);
    out_.push_back(']');
    return;
  }
  out_.push_back('[');
  ++e_.flow_depth;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) flow_separator(indent);
    properties(items[i]);
    node(items[i], indent, static_cast<long>(indent));
  }
  --e_.flow_depth;
  out_.push_back(']');
}

void NodeWriter::flow_key(const YamlNode& key, std::size_t indent) {
  const std::size_t mark = out_.size();
  const YamlNode* last_inline = e_.last_inline;
  implicit_key(key, indent);
  if (key_too_long(key, mark)) {
    out_.resize(mark);
    e_.last_inline = last_inline;
    out_ += "? ";
    implicit_key(key, indent);
  }
}

void NodeWriter::flow_mapping(const YamlNode& n, std::size_t indent) {
  auto pairs = n.pairs();
  if (pairs.empty()) {
    out_ += "{}";
    return;
  }
  const bool multi = std::any_of(pairs.begin(), pairs.end(), [](const NodePair& p) {
    return has_comments(p.key) || has_comments(p.value);
  });
  if (multi) {
    out_ += "{\n";
    ++e_.flow_depth;
    const std::size_t inner = indent + step();
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      const NodePair& p = pairs[i];
      for (const HeadComment& h : p.key.comments.head()) comment_line(p.key, h.text, inner);
      for (const HeadComment& h : p.value.comments.head()) comment_line(p.value, h.text, inner);
      spaces(inner);
      flow_key(p.key, inner);
      out_ += ": ";
      properties(p.value);
      node(p.value, inner, static_cast<long>(inner));
      const bool comma = i + 1 < pairs.size();
      if (comma) out_.push_back(',');
      inline_comment(p.value, comma);
      out_.push_back('\n');
      foot_lines(p.key, inner);
      foot_lines(p.value, inner);
    }
    --e_.flow_depth;
    spaces(indent);
    out_.push_back('}');
    return;
  }
  out_.push_back('{');
  ++e_.flow_depth;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (i > 0) flow_separator(indent);
    flow_key(pairs[i].key, indent);
    out_ += ": ";
    properties(pairs[i].value);
    node(pairs[i].value, indent, static_cast<long>(indent));
  }
  --e_.flow_depth;
  out_.push_back('}');
}

}  // namespace kestrine
