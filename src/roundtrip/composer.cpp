#include "roundtrip/composer.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>

#include "roundtrip/comments.hpp"
#include "scanner/scanner.hpp"
#include "util/hash_map.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

namespace {

// Number of UTF-8 characters in `s` (bytes that are not continuation bytes).
std::uint32_t count_chars(std::string_view s) noexcept {
  std::uint32_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

bool has_line_break(std::string_view s) noexcept {
  return std::memchr(s.data(), '\n', s.size()) != nullptr ||
         std::memchr(s.data(), '\r', s.size()) != nullptr;
}

// A block scalar's source text ends where its scanning stopped, which may be
// inside the indentation of the next line; keep the slice up to its last line
// break when only blanks follow that break.
std::string_view last_line_break(std::string_view slice) noexcept {
  std::size_t pos = slice.find_last_of("\n\r");
  if (pos == std::string_view::npos) return slice;
  for (std::size_t i = pos + 1; i < slice.size(); ++i)
    if (slice[i] != ' ' && slice[i] != '\t') return slice;
  return slice.substr(0, pos + 1);
}

enum Status : int { kError = -1, kNone = 0, kNode = 1 };

class Composer {
 public:
  Composer(std::string_view text, std::span<const SpannedEvent> events)
      : text_(text), ev_(events) {
    line_starts_.push_back(text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
                                   static_cast<unsigned char>(text[1]) == 0xBB &&
                                   static_cast<unsigned char>(text[2]) == 0xBF
                               ? 3
                               : 0);
    const char* data = text.data();
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
      char c = data[i];
      if (c == '\n') {
        line_starts_.push_back(i + 1);
      } else if (c == '\r') {
        if (i + 1 < n && data[i + 1] == '\n') ++i;
        line_starts_.push_back(i + 1);
      }
    }
  }

  std::optional<ComposeError> error;
  std::vector<std::size_t> document_starts;
  IntroducerSet introducers;

  bool compose_stream(std::vector<YamlNode>& roots, bool empty_document_as_null) {
    std::vector<std::string> pending_directives;
    std::optional<std::size_t> directive_start;
    auto add_root = [&](YamlNode&& root, std::size_t doc_start) {
      root.set_directives(std::move(pending_directives));
      pending_directives.clear();
      directive_start.reset();
      document_starts.push_back(roots.empty() ? 0 : doc_start);
      roots.push_back(std::move(root));
    };
    while (position_ < ev_.size()) {
      const SpannedEvent& e = ev_[position_];
      switch (e.kind) {
        case EventKind::StreamStart:
        case EventKind::StreamEnd:
          ++position_;
          break;
        case EventKind::Directive:
          if (!directive_start) directive_start = e.start.offset;
          pending_directives.emplace_back(e.text);
          ++position_;
          break;
        case EventKind::DocumentStart: {
          std::size_t doc_start = directive_start.value_or(e.start.offset);
          ++position_;
          anchors_.clear();
          YamlNode node;
          int r = compose_node(false, node);
          if (r == kError) return false;
          if (r == kNode || empty_document_as_null) {
            if (r != kNode) node = YamlNode::null_at(e.start);
            node.explicit_start = true;
            add_root(std::move(node), doc_start);
          }
          if (!check_document_ended()) return false;
          pending_directives.clear();
          directive_start.reset();
          if (position_ < ev_.size() && ev_[position_].kind == EventKind::DocumentEnd) ++position_;
          break;
        }
        default: {
          std::size_t doc_start = directive_start.value_or(e.start.offset);
          std::size_t before = position_;
          anchors_.clear();
          YamlNode node;
          int r = compose_node(false, node);
          if (r == kError) return false;
          if (r == kNode) {
            node.explicit_start = !pending_directives.empty();
            add_root(std::move(node), doc_start);
            if (!check_document_ended()) return false;
          }
          if (position_ == before) ++position_;
          break;
        }
      }
    }
    return true;
  }

 private:
  std::string_view text_;
  std::span<const SpannedEvent> ev_;
  std::vector<std::size_t> line_starts_;
  std::optional<std::string_view> pending_tag_;
  std::optional<std::string_view> pending_anchor_;
  SeededHashSet<std::string_view> anchors_;
  std::size_t position_ = 0;
  std::uint32_t depth_ = 0;
  // Children of the collections being composed; each collection moves its
  // own off the top when it closes, so one buffer serves the whole stream.
  std::vector<YamlNode> item_scratch_;
  std::vector<NodePair> pair_scratch_;

  bool at_end() const noexcept { return position_ >= ev_.size(); }

  // A document holds one root node: whatever follows it must end the
  // document.  (Otherwise the rest would silently become another document.)
  bool check_document_ended() {
    if (at_end()) return true;
    const SpannedEvent& e = ev_[position_];
    switch (e.kind) {
      case EventKind::StreamEnd:
      case EventKind::DocumentStart:
      case EventKind::DocumentEnd:
      case EventKind::Directive:
        return true;
      default:
        fail("trailing content after document", e.start);
        return false;
    }
  }
  bool next_is(EventKind k) const noexcept { return position_ < ev_.size() && ev_[position_].kind == k; }

  int fail(std::string message, Span span) {
    error = ComposeError{std::move(message), span};
    return kError;
  }

  // (line, column) of a byte offset.
  std::pair<std::uint32_t, std::uint32_t> locate(std::size_t offset) const noexcept {
    offset = std::min(offset, text_.size());
    auto it = std::upper_bound(line_starts_.begin(), line_starts_.end(), offset);
    std::size_t line = it == line_starts_.begin() ? 0 : static_cast<std::size_t>(it - line_starts_.begin()) - 1;
    std::size_t ls = std::min(line_starts_[line], offset);
    return {static_cast<std::uint32_t>(line), count_chars(text_.substr(ls, offset - ls))};
  }

  int compose_node(bool indentless, YamlNode& out) {
    if (depth_ + 1 > kMaxComposeDepth) {
      Span at = at_end() ? Span{} : ev_[position_].start;
      return fail("maximum nesting depth (" + std::to_string(kMaxComposeDepth) + ") exceeded", at);
    }
    ++depth_;
    int r = stack_guarded([&] { return compose_node_body(indentless, out); });
    --depth_;
    return r;
  }

  int compose_node_body(bool indentless, YamlNode& out) {
    for (;;) {
      if (at_end()) return kNone;
      while (!at_end() && (ev_[position_].kind == EventKind::Tag ||
                           ev_[position_].kind == EventKind::Anchor)) {
        const SpannedEvent& p = ev_[position_];
        if (p.kind == EventKind::Tag) {
          pending_tag_ = p.text;
        } else {
          if (pending_anchor_) return fail("a node cannot have two anchors", p.start);
          pending_anchor_ = p.text;
        }
        ++position_;
      }
      if (at_end()) return kNone;

      const SpannedEvent& e = ev_[position_];
      const Span start = e.start;
      std::optional<std::string_view> tag = std::exchange(pending_tag_, std::nullopt);
      std::optional<std::string_view> anchor = std::exchange(pending_anchor_, std::nullopt);

      switch (e.kind) {
        case EventKind::SequenceEntry:
          if (indentless) {
            std::vector<YamlNode> items;
            if (compose_indentless_sequence(items) == kError) return kError;
            out = YamlNode::sequence(std::move(items), CollectionStyle::Block, start);
            break;
          }
          [[fallthrough]];
        case EventKind::StreamEnd:
        case EventKind::DocumentStart:
        case EventKind::DocumentEnd:
        case EventKind::MappingEnd:
        case EventKind::SequenceEnd:
        case EventKind::BlockEnd:
        case EventKind::Key:
        case EventKind::Value:
        case EventKind::FlowEntry:
          if (!tag && !anchor) return kNone;
          out = YamlNode::null_at(start);
          break;
        case EventKind::Scalar:
          ++position_;
          out = YamlNode::scalar(std::string(e.text), e.style, start);
          break;
        case EventKind::MappingStart: {
          ++position_;
          std::vector<NodePair> pairs;
          if (compose_mapping(e.flow, pairs) == kError) return kError;
          out = YamlNode::mapping(std::move(pairs),
                                  e.flow ? CollectionStyle::Flow : CollectionStyle::Block, start);
          break;
        }
        case EventKind::SequenceStart: {
          ++position_;
          std::vector<YamlNode> items;
          if (compose_sequence(e.flow, items) == kError) return kError;
          out = YamlNode::sequence(std::move(items),
                                   e.flow ? CollectionStyle::Flow : CollectionStyle::Block, start);
          break;
        }
        case EventKind::Alias:
          if (tag || anchor) return fail("an alias node cannot have an anchor or tag", start);
          if (!anchors_.contains(e.text))
            return fail("unknown alias: *" + std::string(e.text), start);
          ++position_;
          out = YamlNode::alias(std::string(e.text), start);
          break;
        case EventKind::StreamStart:
        case EventKind::Directive:
        case EventKind::Anchor:
        case EventKind::Tag:
          // Not expected inside a document: pass over it, dropping the
          // properties read so far, and compose what follows.
          ++position_;
          continue;
      }

      // The anchor is registered once the node is complete, so an alias
      // inside the node cannot refer to it.
      if (anchor) {
        anchors_.insert(*anchor);
        out.set_anchor(OptText(*anchor));
      }
      if (tag) out.set_tag(OptText(*tag));
      finish_positions(out, e);
      return kNode;
    }
  }

  void finish_positions(YamlNode& node, const SpannedEvent& e) {
    const Span& start = node.span;
    switch (node.kind()) {
      case NodeKind::Scalar: {
        std::size_t end = std::clamp(e.end, start.offset, text_.size());
        node.end_offset = end;
        std::string_view slice = start.offset <= end ? text_.substr(start.offset, end - start.offset)
                                                     : std::string_view{};
        if (!has_line_break(slice)) {
          node.end_line = start.line;
          node.end_column = start.column + count_chars(slice);
        } else {
          auto [l, c] = locate(end);
          node.end_line = l;
          node.end_column = c;
        }
        ScalarStyle st = node.scalar_style();
        if ((st == ScalarStyle::Literal || st == ScalarStyle::Folded) && end > start.offset) {
          node.comments.raw = end < text_.size() ? last_line_break(slice) : slice;
        }
        break;
      }
      case NodeKind::Sequence:
      case NodeKind::Mapping: {
        // The end of the child that reaches furthest; never before the start
        // (children made for empty content may sit at the zero position).
        const YamlNode* far = nullptr;
        auto consider = [&](const YamlNode& c) {
          if (far == nullptr || c.end_offset > far->end_offset) far = &c;
        };
        for (const YamlNode& it : node.items()) consider(it);
        for (const NodePair& p : node.pairs()) {
          consider(p.key);
          consider(p.value);
        }
        if (far != nullptr && far->end_offset > start.offset) {
          node.end_offset = far->end_offset;
          node.end_line = far->end_line;
          node.end_column = far->end_column;
        } else {
          node.set_end_to_start();
        }
        break;
      }
      default:
        node.set_end_to_start();
        break;
    }
  }

  template <class T>
  static std::vector<T> take_above(std::vector<T>& scratch, std::size_t mark) {
    std::vector<T> out;
    out.reserve(scratch.size() - mark);
    std::move(scratch.begin() + static_cast<std::ptrdiff_t>(mark), scratch.end(), std::back_inserter(out));
    scratch.resize(mark);
    return out;
  }

  int compose_mapping(bool flow, std::vector<NodePair>& out) {
    const std::size_t mark = pair_scratch_.size();
    auto bail = [&] {
      pair_scratch_.resize(mark);
      return kError;
    };
    bool done = false;
    while (!done && !at_end()) {
      const SpannedEvent& e = ev_[position_];
      switch (e.kind) {
        case EventKind::StreamEnd:
        case EventKind::DocumentStart:
        case EventKind::DocumentEnd:
          done = true;
          break;
        case EventKind::MappingEnd:
        case EventKind::BlockEnd:
          ++position_;
          done = true;
          break;
        case EventKind::FlowEntry:
          ++position_;
          break;
        case EventKind::Key: {
          const bool explicit_key = e.explicit_key;
          ++position_;
          NodePair pair;
          // After "?" in a block mapping, "-" entries at the indicator's own
          // column are the key's (indentless) sequence.
          int r = compose_node(!flow && explicit_key, pair.key);
          if (r == kError) return bail();
          if (r == kNone) pair.key = YamlNode::null_at();
          pair.key.explicit_key = explicit_key;
          if (next_is(EventKind::Value)) ++position_;
          r = compose_node(true, pair.value);
          if (r == kError) return bail();
          if (r == kNone) pair.value = YamlNode::null_at();
          pair_scratch_.push_back(std::move(pair));
          break;
        }
        default: {
          const std::size_t entry = position_;
          if (!flow) {
            std::size_t p = position_;
            while (p < ev_.size() &&
                   (ev_[p].kind == EventKind::Anchor || ev_[p].kind == EventKind::Tag))
              ++p;
            if (p < ev_.size()) {
              const SpannedEvent& n = ev_[p];
              if (((n.kind == EventKind::MappingStart || n.kind == EventKind::SequenceStart) &&
                   !n.flow) ||
                  n.kind == EventKind::SequenceEntry) {
                fail("a block collection cannot be a mapping key", n.start);
                return bail();
              }
            }
          }
          NodePair pair;
          int r = compose_node(false, pair.key);
          if (r == kError) return bail();
          if (r == kNone)
            pair.key = next_is(EventKind::Value) ? YamlNode::null_at(ev_[position_].start)
                                                 : YamlNode::null_at();
          if (next_is(EventKind::Value)) {
            ++position_;
            r = compose_node(true, pair.value);
            if (r == kError) return bail();
            if (r == kNone) pair.value = YamlNode::null_at();
          } else if (!flow && ev_[entry].kind == EventKind::Scalar) {
            fail("expected ':' after mapping key", ev_[entry].start);
            return bail();
          } else {
            pair.value = YamlNode::null_at();
          }
          if (position_ == entry) {
            // Nothing was read: an event this mapping cannot hold.  Stop
            // without inventing an empty pair for it.
            done = true;
            break;
          }
          pair_scratch_.push_back(std::move(pair));
          break;
        }
      }
    }
    out = take_above(pair_scratch_, mark);
    return kNode;
  }

  // One "-" entry (at `position_`) of a block sequence.
  int compose_entry(std::size_t mark) {
    const Span ind = ev_[position_].start;
    ++position_;
    YamlNode item;
    if (!at_end()) {
      EventKind k = ev_[position_].kind;
      if (k == EventKind::MappingEnd || k == EventKind::SequenceEnd || k == EventKind::BlockEnd ||
          k == EventKind::Key || k == EventKind::SequenceEntry) {
        item = YamlNode::null_at(ind);
        item_scratch_.push_back(std::move(item));
        return kNode;
      }
    }
    int r = compose_node(false, item);
    if (r == kError) {
      item_scratch_.resize(mark);
      return kError;
    }
    if (r == kNone) return kNone;
    if (item.span.line == ind.line) {
      if (item.is_sequence() && item.style == CollectionStyle::Block) item.comments.compact = true;
      bool padded_kind = item.is_scalar() || item.is_alias() ||
                         (item.is_collection() && item.style == CollectionStyle::Flow);
      if (padded_kind && item.span.column > ind.column && !item.anchor() && !item.tag())
        item.comments.value_pad = item.span.column - ind.column - 1;
    } else if (item.span.line > ind.line) {
      introducers.insert(introducer_key(ind.line, ind.column));
    }
    item_scratch_.push_back(std::move(item));
    return kNode;
  }

  int compose_sequence(bool flow, std::vector<YamlNode>& out) {
    const std::size_t mark = item_scratch_.size();
    auto bail = [&] {
      item_scratch_.resize(mark);
      return kError;
    };
    bool done = false;
    while (!done && !at_end()) {
      const SpannedEvent& e = ev_[position_];
      switch (e.kind) {
        case EventKind::StreamEnd:
        case EventKind::DocumentStart:
        case EventKind::DocumentEnd:
          done = true;
          break;
        case EventKind::MappingEnd:
        case EventKind::SequenceEnd:
        case EventKind::BlockEnd:
          ++position_;
          done = true;
          break;
        case EventKind::SequenceEntry:
          if (compose_entry(mark) == kError) return bail();
          break;
        case EventKind::FlowEntry: {
          const Span ind = e.start;
          ++position_;
          YamlNode item;
          int r = compose_flow_sequence_item(flow, item);
          if (r == kError) return bail();
          if (r == kNode) {
            if (item.is_sequence() && item.style == CollectionStyle::Block &&
                item.span.line == ind.line)
              item.comments.compact = true;
            item_scratch_.push_back(std::move(item));
          }
          break;
        }
        default: {
          const std::size_t before = position_;
          YamlNode item;
          int r = compose_flow_sequence_item(flow, item);
          if (r == kError) return bail();
          if (r == kNone) {
            done = true;
            break;
          }
          item_scratch_.push_back(std::move(item));
          if (position_ == before) done = true;
          break;
        }
      }
    }
    out = take_above(item_scratch_, mark);
    return kNode;
  }

  static YamlNode single_pair(YamlNode&& key, YamlNode&& value, Span at) {
    std::vector<NodePair> pairs;
    pairs.push_back(NodePair{std::move(key), std::move(value)});
    return YamlNode::mapping(std::move(pairs), CollectionStyle::Flow, at);
  }

  int compose_flow_sequence_item(bool flow, YamlNode& out) {
    if (flow && next_is(EventKind::Value)) {
      const Span at = ev_[position_].start;
      ++position_;
      YamlNode value;
      int r = compose_node(false, value);
      if (r == kError) return kError;
      if (r == kNone) value = YamlNode::null_at(at);
      out = single_pair(YamlNode::null_at(at), std::move(value), at);
      return kNode;
    }
    if (flow && next_is(EventKind::Key)) {
      const Span at = ev_[position_].start;
      const bool explicit_key = ev_[position_].explicit_key;
      ++position_;
      YamlNode key;
      int r = compose_node(false, key);
      if (r == kError) return kError;
      if (r == kNone) key = YamlNode::null_at(at);
      key.explicit_key = explicit_key;
      if (next_is(EventKind::Value)) ++position_;
      YamlNode value;
      r = compose_node(false, value);
      if (r == kError) return kError;
      if (r == kNone) value = YamlNode::null_at(at);
      out = single_pair(std::move(key), std::move(value), at);
      return kNode;
    }
    YamlNode node;
    int r = compose_node(false, node);
    if (r != kNode) return r;
    if (flow && next_is(EventKind::Value)) {
      ++position_;
      const Span at = node.span;
      YamlNode value;
      r = compose_node(false, value);
      if (r == kError) return kError;
      if (r == kNone) value = YamlNode::null_at(at);
      out = single_pair(std::move(node), std::move(value), at);
      return kNode;
    }
    out = std::move(node);
    return kNode;
  }

  int compose_indentless_sequence(std::vector<YamlNode>& out) {
    const std::size_t mark = item_scratch_.size();
    while (next_is(EventKind::SequenceEntry)) {
      if (compose_entry(mark) == kError) return kError;
    }
    if (next_is(EventKind::MappingEnd)) ++position_;
    out = take_above(item_scratch_, mark);
    return kNode;
  }
};

}  // namespace

std::expected<ComposedStream, ComposeError> compose_text(std::string_view text,
                                                         std::uint32_t file_id,
                                                         bool empty_document_as_null) {
  Scanner scanner = new_scanner(text);
  scanner.file_id = file_id;
  scanner.keep_comments = true;
  auto scanned = scan_events(scanner);
  if (!scanned) return std::unexpected(ComposeError{scanned.error().message, scanned.error().span});
  std::vector<SourceComment> comments = std::move(scanner.comments);

  ComposedStream out;
  {
    Composer composer(text, scanned->events);
    if (!composer.compose_stream(out.roots, empty_document_as_null)) {
      for (YamlNode& root : out.roots) drop_node_tree(std::move(root));
      return std::unexpected(std::move(*composer.error));
    }
    attach_comments(out.roots, comments, text, composer.introducers);
    out.document_starts = std::move(composer.document_starts);
  }
  if (!out.roots.empty() && scanner.leading_bom) out.roots.front().leading_bom = true;
  return out;
}

std::expected<std::vector<YamlNode>, ComposeError> parse_roundtrip(std::string_view text) {
  auto r = compose_text(text, 0, false);
  if (!r) return std::unexpected(std::move(r.error()));
  return std::move(r->roots);
}

std::expected<ComposedStream, ComposeError> parse_roundtrip_multi(std::string_view text) {
  return compose_text(text, 0, true);
}

std::expected<std::vector<YamlNode>, ComposeError> parse_roundtrip_file(std::string_view text,
                                                                        std::uint32_t file_id) {
  auto r = compose_text(text, file_id, false);
  if (!r) return std::unexpected(std::move(r.error()));
  return std::move(r->roots);
}

}  // namespace kestrine
