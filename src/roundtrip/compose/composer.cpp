#include "roundtrip/compose/composer.hpp"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include "decode/directives.hpp"
#include "roundtrip/comments/comments.hpp"
#include "roundtrip/compose/child_counts.hpp"
#include "roundtrip/compose/composer_parts.hpp"
#include "roundtrip/compose/positions.hpp"
#include "scanner/scanner.hpp"
#include "util/hash_map.hpp"
#include "util/node_outcome.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {

namespace {

using namespace compose_parts;

class Composer {
 public:
  Composer(std::string_view text, const ScanResult& scan, std::span<const SourceComment> comments,
           ListArena* arena)
      : text_(text),
        ev_(scan.events),
        file_id_(scan.file_id),
        ascii_texts_(scan.ascii_texts),
        lines_(text),
        placer_(comments, text, introducers),
        lists_(ev_, arena) {}

  std::optional<ComposeError> error;
  std::vector<std::size_t> document_starts;
  bool aliases = false;  // an alias node was made
  bool tags = false;     // a tag was read
  IntroducerSet introducers;

  std::uint64_t child_count() const noexcept { return lists_.children(); }

  // Comments left after the last node of the stream become foot comments.
  void place_feet(std::span<YamlNode> roots) { placer_.place_feet(roots); }

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
          if (!directive_start) directive_start = e.offset;
          if (!read_directives(pending_directives)) return false;
          break;
        case EventKind::DocumentStart: {
          std::size_t doc_start = directive_start.value_or(e.offset);
          ++position_;
          anchors_.clear();
          YamlNode node;
          Pos end;
          NodeOutcome r = compose_node(false, node, Visit{}, end);
          if (r == NodeOutcome::Failed) return false;
          if (r == NodeOutcome::Node || empty_document_as_null) {
            if (r != NodeOutcome::Node) {
              node = YamlNode::null_at(span_of(e));
              place_leaf(node, Visit{});
            }
            node.explicit_start = true;
            add_root(std::move(node), doc_start);
          }
          if (r == NodeOutcome::Node && !check_document_ended()) return false;
          pending_directives.clear();
          directive_start.reset();
          tag_handles_.clear();  // never reach the next document
          if (position_ < ev_.size() && ev_[position_].kind == EventKind::DocumentEnd) ++position_;
          break;
        }
        default: {
          std::size_t doc_start = directive_start.value_or(e.offset);
          std::size_t before = position_;
          anchors_.clear();
          YamlNode node;
          Pos end;
          NodeOutcome r = compose_node(false, node, Visit{}, end);
          if (r == NodeOutcome::Failed) return false;
          if (r == NodeOutcome::Node) {
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
  std::uint32_t file_id_;  // of every event of this scan
  bool ascii_texts_;       // every event text is ASCII
  Span span_of(const SpannedEvent& e) const noexcept { return e.start(file_id_); }
  // The node starts where `e` does (field by field: cheaper than copying a
  // Span built on the stack).
  void set_start(YamlNode& node, const SpannedEvent& e) const noexcept {
    node.span.file_id = file_id_;
    node.span.line = e.line;
    node.span.column = e.column;
    node.span.offset = e.offset;
  }
  LineIndex lines_;
  // Comments are placed while the tree is built, in the same pre-order a
  // separate walk would use; inside flow collections placement is deferred
  // to one walk over the finished collection.
  CommentPlacer placer_;
  int deferred_ = 0;
  std::optional<PendingTag> pending_tag_;
  std::optional<std::string_view> pending_anchor_;
  SeededHashSet<std::string_view> anchors_;
  TagHandles tag_handles_;  // of the document being composed
  std::size_t position_ = 0;
  std::uint32_t depth_ = 0;
  // Storage of the child lists, presized.
  ChildLists lists_;
  // Index of the event that opens the collection being started.
  std::size_t collection_event_ = 0;

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
        fail("trailing content after document", span_of(e));
        return false;
    }
  }
  bool next_is(EventKind k) const noexcept { return position_ < ev_.size() && ev_[position_].kind == k; }

  // The run of directives at `position_`, checked as the plain decoder
  // checks them (so both refuse the same streams); their %TAG handles serve
  // the document that follows.  Their texts are kept for writing back.
  bool read_directives(std::vector<std::string>& texts) {
    auto next = read_directive_run(ev_, position_, tag_handles_);
    if (!next) {
      fail(std::move(next.error().message), span_of(ev_[next.error().event]));
      return false;
    }
    for (; position_ < *next; ++position_) texts.emplace_back(ev_[position_].text());
    return true;
  }

  NodeOutcome fail(std::string message, Span span) {
    error = ComposeError{std::move(message), span};
    return NodeOutcome::Failed;
  }

  // Places the comments of a node made for empty content; gives its end.
  Pos place_leaf(YamlNode& node, const Visit& v) {
    if (deferred_ > 0) return {node.span.line, node.span.column};
    return placer_.place_empty(node, v.may_take_trailing, v.intro);
  }

  // Composes the next node into `out`, which must be a default (Null) node;
  // on success `end` is its node_end_position.
  NodeOutcome compose_node(bool indentless, YamlNode& out, const Visit& v, Pos& end) {
    if (depth_ + 1 > kMaxComposeDepth) {
      Span at = at_end() ? Span{} : span_of(ev_[position_]);
      return fail("maximum nesting depth (" + std::to_string(kMaxComposeDepth) + ") exceeded", at);
    }
    const EventKind k = at_end() ? EventKind::StreamEnd : ev_[position_].kind;
    if (k == EventKind::Scalar && !pending_tag_ && !pending_anchor_) {
      compose_bare_scalar(out, v, end);
      return NodeOutcome::Node;
    }
    ++depth_;
    // Scalars and aliases do not descend: no stack check needed for them.
    NodeOutcome r = k == EventKind::Scalar || k == EventKind::Alias
                ? compose_node_body(indentless, out, v, end)
                : stack_guarded([&] { return compose_node_body(indentless, out, v, end); });
    --depth_;
    return r;
  }

  // The most common node: a scalar event without anchor or tag (what
  // compose_node_body does for it, without the general bookkeeping).
  void compose_bare_scalar(YamlNode& out, const Visit& v, Pos& end) {
    const SpannedEvent& e = ev_[position_];
    ++position_;
    set_start(out, e);
    if (deferred_ == 0) placer_.before(out, v.intro);
    out.set_scalar(e.text(), e.style);
    finish_scalar(out, e);
    if (deferred_ == 0) {
      end = placer_.after(out, v.may_take_trailing, CommentPlacer::leaf_end(out));
    } else {
      end = {e.line, e.column};
    }
  }

  // Tag and anchor events before a node become the pending properties.
  [[gnu::always_inline]] bool read_properties() {
    while (!at_end() && (ev_[position_].kind == EventKind::Tag ||
                         ev_[position_].kind == EventKind::Anchor)) {
      const SpannedEvent& p = ev_[position_];
      if (p.kind == EventKind::Tag) {
        if (pending_tag_) {
          fail("a node cannot have two tags", span_of(p));
          return false;
        }
        const auto tag = tag_handles_.expand(p.text());
        if (!tag) {
          fail(undefined_tag_handle_message(tag.error()), span_of(p));
          return false;
        }
        pending_tag_ = PendingTag{p.text(), tag->expanded ? OptText(tag->text()) : OptText(),
                                  pending_anchor_.has_value()};
        tags = true;
      } else {
        if (pending_anchor_) {
          fail("a node cannot have two anchors", span_of(p));
          return false;
        }
        pending_anchor_ = p.text();
      }
      ++position_;
    }
    return true;
  }

  // What the event after a node's properties holds.
  enum class Content : std::uint8_t {
    Node,     // a node starts here
    Empty,    // no node of its own, but properties make an empty node
    Nothing,  // no node at all
    Skipped,  // an event not expected inside a document, passed over
    Failed,
  };

  [[gnu::always_inline]] Content content_at(const SpannedEvent& e, bool indentless, bool has_properties) {
    switch (e.kind) {
      case EventKind::SequenceEntry:
        if (indentless) return Content::Node;
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
        return has_properties ? Content::Empty : Content::Nothing;
      case EventKind::Alias:
        if (has_properties) {
          fail("an alias node cannot have an anchor or tag", span_of(e));
          return Content::Failed;
        }
        if (!anchors_.contains(e.text())) {
          fail(unknown_alias_message(ev_, position_), span_of(e));
          return Content::Failed;
        }
        return Content::Node;
      case EventKind::StreamStart:
      case EventKind::Directive:
      case EventKind::Anchor:
      case EventKind::Tag:
        // Not expected inside a document: pass over it, dropping the
        // properties read so far, and compose what follows.
        ++position_;
        return Content::Skipped;
      default:
        return Content::Node;
    }
  }

  NodeOutcome compose_node_body(bool indentless, YamlNode& out, const Visit& v, Pos& end) {
    for (;;) {
      if (!read_properties()) return NodeOutcome::Failed;
      if (at_end()) return NodeOutcome::None;
      const SpannedEvent& e = ev_[position_];
      std::optional<PendingTag> tag = std::exchange(pending_tag_, std::nullopt);
      std::optional<std::string_view> anchor = std::exchange(pending_anchor_, std::nullopt);
      switch (content_at(e, indentless, tag || anchor)) {
        case Content::Nothing:
          return NodeOutcome::None;
        case Content::Failed:
          return NodeOutcome::Failed;
        case Content::Skipped:
          continue;
        case Content::Empty:
          return compose_present(e, std::move(tag), anchor, false, out, v, end);
        case Content::Node:
          return compose_present(e, std::move(tag), anchor, true, out, v, end);
      }
    }
  }

  // A node starting at `e` with its properties; `has_content` false for an
  // empty node that only its properties make.
  [[gnu::always_inline]] NodeOutcome compose_present(const SpannedEvent& e, std::optional<PendingTag> tag,
                              std::optional<std::string_view> anchor, bool has_content,
                              YamlNode& out, const Visit& v, Pos& end) {
    set_start(out, e);
    if (!has_content) stand_at_properties(out);
    const Span& start = out.span;
    if (anchor) out.set_anchor(OptText(*anchor));
    if (tag) {
      out.set_tag(OptText(tag->written), std::move(tag->expanded));
      if (anchor && tag->after_anchor) out.set_anchor_first(true);
    }
    const bool flow_collection =
        (e.kind == EventKind::MappingStart || e.kind == EventKind::SequenceStart) && e.flow;
    const bool defer_here = flow_collection && deferred_ == 0;
    if (defer_here) {
      ++deferred_;
    } else if (deferred_ == 0) {
      placer_.before(out, v.intro);
    }

    EndAcc children{{start.line, start.column}};
    const NodeOutcome r = has_content ? compose_content(e, out, children) : NodeOutcome::Node;
    if (defer_here) --deferred_;
    if (r == NodeOutcome::Failed) return NodeOutcome::Failed;

    if (has_content) finish_positions(out, e, children);
    if (defer_here) {
      end = placer_.place(out, v.may_take_trailing, v.intro);
    } else if (deferred_ == 0) {
      end = placer_.after(out, v.may_take_trailing,
                          out.is_collection() ? children.end : CommentPlacer::leaf_end(out));
    } else {
      end = {start.line, start.column};
    }
    // The anchor is registered once the node is complete, so an alias
    // inside the node cannot refer to it.
    if (anchor) anchors_.insert(*anchor);
    return NodeOutcome::Node;
  }

  // An empty node made by its properties stands at them (not at what follows, with its comments).
  [[gnu::noinline]] void stand_at_properties(YamlNode& out) {
    std::size_t first = position_;
    while (first > 0 && (ev_[first - 1].kind == EventKind::Tag || ev_[first - 1].kind == EventKind::Anchor)) --first;
    set_start(out, ev_[first]);
    const SpannedEvent& last = ev_[position_ - 1];  // an anchor's text is its name, after "&"
    out.end_offset = std::min(last.offset + last.text().size() + (last.kind == EventKind::Anchor), text_.size());
    std::tie(out.end_line, out.end_column) = lines_.end_of(out.span, out.end_offset);
  }

  // The content of a node that starts at `e` (its properties already set).
  [[gnu::always_inline]] NodeOutcome compose_content(const SpannedEvent& e, YamlNode& out, EndAcc& children) {
    NodeOutcome r = NodeOutcome::Node;
    switch (e.kind) {
      case EventKind::SequenceEntry: {
        NodeList<YamlNode> items;
        collection_event_ = position_;
        r = compose_indentless_sequence(out, items, children);
        if (r != NodeOutcome::Failed) out.set_sequence(std::move(items));
        break;
      }
      case EventKind::Scalar:
        ++position_;
        out.set_scalar(e.text(), e.style);
        break;
      case EventKind::MappingStart: {
        collection_event_ = position_++;
        out.style = e.flow ? CollectionStyle::Flow : CollectionStyle::Block;
        NodeList<NodePair> pairs;
        r = compose_mapping(e.flow, out, pairs, children);
        if (r != NodeOutcome::Failed) out.set_mapping(std::move(pairs));
        break;
      }
      case EventKind::SequenceStart: {
        collection_event_ = position_++;
        out.style = e.flow ? CollectionStyle::Flow : CollectionStyle::Block;
        NodeList<YamlNode> items;
        r = compose_sequence(e.flow, out, items, children);
        if (r != NodeOutcome::Failed) out.set_sequence(std::move(items));
        break;
      }
      case EventKind::Alias:
        ++position_;
        out.set_alias(std::string(e.text()));
        aliases = true;
        break;
      default:
        break;
    }
    return r;
  }

  // The end position of a scalar node read from `e` (and the source text of
  // a block scalar).
  void finish_scalar(YamlNode& node, const SpannedEvent& e) {
    const Span& start = node.span;
    const std::size_t end = std::clamp(e.end(), start.offset, text_.size());
    node.end_offset = end;
    const std::string_view slice(text_.data() + start.offset, end - start.offset);
    std::tie(node.end_line, node.end_column) = lines_.end_of(start, end);
    const ScalarStyle st = node.scalar_style();
    node.set_scalar_facts(find_scalar_facts(node.text(), st, ascii_texts_));
    if ((st == ScalarStyle::Literal || st == ScalarStyle::Folded) && end > start.offset)
      node.comments.raw_mut() = end < text_.size() ? last_line_break(slice) : slice;
  }

  void finish_positions(YamlNode& node, const SpannedEvent& e, const EndAcc& children) {
    const Span& start = node.span;
    switch (node.kind()) {
      case NodeKind::Scalar:
        finish_scalar(node, e);
        break;
      case NodeKind::Sequence:
      case NodeKind::Mapping:
        // The end of the child that reaches furthest; never before the start
        // (children made for empty content may sit at the zero position).
        if (children.any && children.far_offset > start.offset) {
          node.end_offset = children.far_offset;
          node.end_line = children.far_line;
          node.end_column = children.far_column;
        } else {
          node.set_end_to_start();
        }
        break;
      default:
        node.set_end_to_start();
        break;
    }
  }

  // `self`: the mapping node being built (start and style set).
  // On error the caller drops `out`.
  NodeOutcome compose_mapping(bool flow, const YamlNode& self, NodeList<NodePair>& out, EndAcc& acc) {
    lists_.reserve(out, collection_event_);
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
        case EventKind::Key:
          if (compose_explicit_entry(flow, self, out, acc) == NodeOutcome::Failed)
            return NodeOutcome::Failed;
          break;
        default: {
          const NodeOutcome r = compose_implicit_entry(flow, self, out, acc);
          if (r == NodeOutcome::Failed) return NodeOutcome::Failed;
          done = r == NodeOutcome::None;
          break;
        }
      }
    }
    ChildLists::close(out);
    return NodeOutcome::Node;
  }

  // A "?" entry (at `position_`) of the mapping `self`, or any key the
  // scanner found the ':' of (a Key event): most pairs come here.  Kept in
  // the mapping loop, which the compiler's size heuristics do not always
  // choose (out of line it costs some 2% of composing).
  [[gnu::always_inline]] NodeOutcome compose_explicit_entry(bool flow, const YamlNode& self,
                                                            NodeList<NodePair>& out, EndAcc& acc) {
    const bool explicit_key = ev_[position_].explicit_key;
    ++position_;
    NodePair& pair = out.emplace_back();
    // After "?" in a block mapping, "-" entries at the indicator's own
    // column are the key's (indentless) sequence.
    // A comment after a key on its "?" line is the key's: the line that
    // carries it is the key's own, not its value's.
    const Visit key_visit = !flow && explicit_key ? Visit{} : kKeyVisit;
    Pos key_end;
    NodeOutcome r = compose_node(!flow && explicit_key, pair.key, key_visit, key_end);
    if (r == NodeOutcome::Failed) return NodeOutcome::Failed;
    if (r == NodeOutcome::None) key_end = place_leaf(pair.key, key_visit);
    pair.key.explicit_key = explicit_key;
    acc.take(key_end, pair.key);
    Visit v = value_visit(self, pair.key);
    // The ":" of a "?" entry introduces its value as a key's end does.
    if (next_is(EventKind::Value) && !flow && v.intro.kind == Introducer::Kind::None)
      v.intro = {Introducer::Kind::AfterKey, ev_[position_].line, ev_[position_].column};
    if (next_is(EventKind::Value)) {
      ++position_;
      return compose_value(pair, v, key_end, acc);
    }
    // Without a ":" the value is empty: what follows is the next entry's
    // ("? a\n- b" gives no sequence to the key a).
    return finish_empty_value(pair, v, key_end, acc);
  }

  // A block collection cannot stand as an implicit key of a block mapping
  // (checked at the key's first event, past its properties).  Past that,
  // the entry must start at its ':': the scanner puts a Key before every
  // block key whose ':' it found on the key's line, so only an empty key
  // (": v") starts at its Value, and any other node here ("[x]", "!t x", a
  // key at an orphan column with its ':' on the next line) has no ':' of
  // its own.
  bool check_implicit_key() {
    std::size_t p = position_;
    while (p < ev_.size() && (ev_[p].kind == EventKind::Anchor || ev_[p].kind == EventKind::Tag))
      ++p;
    if (p < ev_.size()) {
      const SpannedEvent& n = ev_[p];
      if (((n.kind == EventKind::MappingStart || n.kind == EventKind::SequenceStart) && !n.flow) ||
          n.kind == EventKind::SequenceEntry) {
        fail("a block collection cannot be a mapping key", span_of(n));
        return false;
      }
    }
    if (ev_[position_].kind != EventKind::Value) {
      fail("expected ':' after mapping key", span_of(ev_[position_]));
      return false;
    }
    return true;
  }

  // An entry without "?" (at `position_`) of the mapping `self`; None when
  // nothing was read (an event this mapping cannot hold).
  NodeOutcome compose_implicit_entry(bool flow, const YamlNode& self, NodeList<NodePair>& out,
                                     EndAcc& acc) {
    if (!flow && !check_implicit_key()) return NodeOutcome::Failed;
    NodePair& pair = out.emplace_back();
    Pos key_end;
    NodeOutcome r = compose_node(false, pair.key, kKeyVisit, key_end);
    if (r == NodeOutcome::Failed) return NodeOutcome::Failed;
    if (r == NodeOutcome::None) {
      if (!next_is(EventKind::Value)) {
        // Stop without inventing an empty pair.
        out.pop_back();
        return NodeOutcome::None;
      }
      pair.key.span = span_of(ev_[position_]);
      pair.key.set_end_to_start();
      key_end = place_leaf(pair.key, kKeyVisit);
    }
    acc.take(key_end, pair.key);
    if (next_is(EventKind::Value)) {
      ++position_;
      return compose_value(pair, value_visit(self, pair.key), key_end, acc);
    }
    acc.take(place_leaf(pair.value, value_visit(self, pair.key)), pair.value);
    return NodeOutcome::Node;
  }

  static Visit value_visit(const YamlNode& mapping, const YamlNode& key) noexcept {
    return Visit{CommentPlacer::value_introducer(mapping, key), true};
  }

  // The value of `pair` (after its ":"), introduced as `v` says.
  NodeOutcome compose_value(NodePair& pair, const Visit& v, Pos key_end, EndAcc& acc) {
    Pos value_end;
    NodeOutcome r = compose_node(true, pair.value, v, value_end);
    if (r == NodeOutcome::Failed) return NodeOutcome::Failed;
    if (r == NodeOutcome::None) return finish_empty_value(pair, v, key_end, acc);
    if (deferred_ == 0) CommentPlacer::set_value_pad(pair.key, key_end, pair.value);
    acc.take(value_end, pair.value);
    return NodeOutcome::Node;
  }

  // `pair` gets no value node: its empty value is placed.
  NodeOutcome finish_empty_value(NodePair& pair, const Visit& v, Pos key_end, EndAcc& acc) {
    const Pos value_end = place_leaf(pair.value, v);
    // (Inside a deferred flow collection the placement walk sets it.)
    if (deferred_ == 0) CommentPlacer::set_value_pad(pair.key, key_end, pair.value);
    acc.take(value_end, pair.value);
    return NodeOutcome::Node;
  }

  // One "-" entry (at `position_`) of the block sequence `self`.
  NodeOutcome compose_entry(const YamlNode& self, NodeList<YamlNode>& out, EndAcc& acc) {
    const Span ind = span_of(ev_[position_]);
    const Visit v{CommentPlacer::in_sequence(self), true};
    ++position_;
    YamlNode& item = out.emplace_back();
    if (!at_end()) {
      EventKind k = ev_[position_].kind;
      if (k == EventKind::MappingEnd || k == EventKind::SequenceEnd || k == EventKind::BlockEnd ||
          k == EventKind::Key || k == EventKind::SequenceEntry) {
        item.span = ind;
        item.set_end_to_start();
        acc.take(place_leaf(item, v), item);
        return NodeOutcome::Node;
      }
    }
    // An entry whose item starts on a later line introduces it: comments on
    // the indicator's line may belong to the item.
    std::size_t p = position_;
    while (p < ev_.size() && (ev_[p].kind == EventKind::Anchor || ev_[p].kind == EventKind::Tag)) ++p;
    const bool introduces = p < ev_.size() && ev_[p].line > ind.line;
    if (introduces) introducers.insert(introducer_key(ind.line, ind.column));
    Pos item_end;
    NodeOutcome r = compose_node(false, item, v, item_end);
    if (r == NodeOutcome::Failed) return NodeOutcome::Failed;
    if (r == NodeOutcome::None) {
      if (introduces) introducers.erase(introducer_key(ind.line, ind.column));
      out.pop_back();
      return NodeOutcome::None;
    }
    acc.take(item_end, item);
    if (item.span.line == ind.line) {
      if (item.is_sequence() && item.style == CollectionStyle::Block) item.comments.compact = true;
      bool padded_kind = item.is_scalar() || item.is_alias() ||
                         (item.is_collection() && item.style == CollectionStyle::Flow);
      if (padded_kind && item.span.column > ind.column && item.has_no_properties())
        item.comments.value_pad = item.span.column - ind.column - 1;
    }
    return NodeOutcome::Node;
  }

  // `self`: the sequence node being built (start and style set).
  // On error the caller drops `out`.
  NodeOutcome compose_sequence(bool flow, const YamlNode& self, NodeList<YamlNode>& out, EndAcc& acc) {
    const Visit v{CommentPlacer::in_sequence(self), true};
    lists_.reserve(out, collection_event_);
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
          if (compose_entry(self, out, acc) == NodeOutcome::Failed) return NodeOutcome::Failed;
          break;
        case EventKind::FlowEntry: {
          const Span ind = span_of(e);
          ++position_;
          YamlNode& item = out.emplace_back();
          Pos item_end;
          NodeOutcome r = compose_flow_sequence_item(flow, item, v, item_end);
          if (r == NodeOutcome::Failed) return NodeOutcome::Failed;
          if (r == NodeOutcome::None) {
            out.pop_back();
            break;
          }
          acc.take(item_end, item);
          if (item.is_sequence() && item.style == CollectionStyle::Block &&
                     item.span.line == ind.line) {
            item.comments.compact = true;
          }
          break;
        }
        default: {
          if (!flow) {
            fail(block_sequence_content_message(e), span_of(e));
            return NodeOutcome::Failed;
          }
          const std::size_t before = position_;
          YamlNode& item = out.emplace_back();
          Pos item_end;
          NodeOutcome r = compose_flow_sequence_item(flow, item, v, item_end);
          if (r == NodeOutcome::Failed) return NodeOutcome::Failed;
          if (r == NodeOutcome::None) {
            out.pop_back();
            done = true;
          } else {
            acc.take(item_end, item);
            if (position_ == before) done = true;
          }
          break;
        }
      }
    }
    ChildLists::close(out);
    return NodeOutcome::Node;
  }

  // `out` must be a default node; on NodeOutcome::None it is left so.
  // Single-pair mappings only arise in flow sequences, where comment
  // placement is deferred, so their parts need no placement here.
  NodeOutcome compose_flow_sequence_item(bool flow, YamlNode& out, const Visit& v, Pos& end) {
    Pos ignored;
    if (flow && next_is(EventKind::Value)) {
      const Span at = span_of(ev_[position_]);
      ++position_;
      YamlNode value;
      NodeOutcome r = compose_node(false, value, Visit{}, ignored);
      if (r == NodeOutcome::Failed) return NodeOutcome::Failed;
      if (r == NodeOutcome::None) value = YamlNode::null_at(at);
      make_single_pair(out, YamlNode::null_at(at), std::move(value), at);
      end = {at.line, at.column};
      return NodeOutcome::Node;
    }
    if (flow && next_is(EventKind::Key)) {
      const Span at = span_of(ev_[position_]);
      const bool explicit_key = ev_[position_].explicit_key;
      ++position_;
      YamlNode key;
      NodeOutcome r = compose_node(false, key, Visit{}, ignored);
      if (r == NodeOutcome::Failed) return NodeOutcome::Failed;
      if (r == NodeOutcome::None) key = YamlNode::null_at(at);
      key.explicit_key = explicit_key;
      if (next_is(EventKind::Value)) ++position_;
      YamlNode value;
      r = compose_node(false, value, Visit{}, ignored);
      if (r == NodeOutcome::Failed) return NodeOutcome::Failed;
      if (r == NodeOutcome::None) value = YamlNode::null_at(at);
      make_single_pair(out, std::move(key), std::move(value), at);
      end = {at.line, at.column};
      return NodeOutcome::Node;
    }
    NodeOutcome r = compose_node(false, out, v, end);
    if (r != NodeOutcome::Node) return r;
    if (flow && next_is(EventKind::Value)) {
      ++position_;
      YamlNode key = std::move(out);
      out.clear();
      const Span at = key.span;
      YamlNode value;
      r = compose_node(false, value, Visit{}, ignored);
      if (r == NodeOutcome::Failed) return NodeOutcome::Failed;
      if (r == NodeOutcome::None) value = YamlNode::null_at(at);
      make_single_pair(out, std::move(key), std::move(value), at);
    }
    return NodeOutcome::Node;
  }

  // On error the caller drops `out`.
  NodeOutcome compose_indentless_sequence(const YamlNode& self, NodeList<YamlNode>& out, EndAcc& acc) {
    lists_.reserve(out, collection_event_);
    while (next_is(EventKind::SequenceEntry))
      if (compose_entry(self, out, acc) == NodeOutcome::Failed) return NodeOutcome::Failed;
    if (next_is(EventKind::MappingEnd)) ++position_;
    ChildLists::close(out);
    return NodeOutcome::Node;
  }

};

}  // namespace

std::expected<ComposedStream, ComposeError> compose_scanned(std::string_view text, const ScanResult& scanned,
                                                            std::span<const SourceComment> comments,
                                                            bool leading_bom, bool empty_document_as_null,
                                                            ListArena* arena) {
  ComposedStream out;
  {
    Composer composer(text, scanned, comments, arena);
    if (!composer.compose_stream(out.roots, empty_document_as_null)) {
      for (YamlNode& root : out.roots) drop_node_tree(std::move(root));
      return std::unexpected(std::move(*composer.error));
    }
    composer.place_feet(out.roots);
    out.document_starts = std::move(composer.document_starts);
    out.aliases = composer.aliases;
    out.tags = composer.tags;
    out.nodes = composer.child_count() + out.roots.size();
  }
  if (!out.roots.empty() && leading_bom) out.roots.front().leading_bom = true;
  return out;
}

}  // namespace kestrine
