#include "roundtrip/tree/ast.hpp"

#include <cstdint>
#include <cstring>

#include "resolver/resolve.hpp"
#include "util/stack_guard.hpp"
#include "util/utf8.hpp"

namespace kestrine {

namespace {

constexpr std::size_t kScalarIx = 0;
constexpr std::size_t kSequenceIx = 1;
constexpr std::size_t kMappingIx = 2;
constexpr std::size_t kAliasIx = 3;
constexpr std::size_t kNullIx = 4;

const std::string kEmptyText;
const OptText kNoText;

}  // namespace

const CommentTexts kNoCommentTexts;

// Millions of nodes: the facts byte must stay in what was padding.
static_assert(sizeof(YamlNode) <= 112);

std::uint8_t find_scalar_facts(std::string_view text, ScalarStyle style, bool ascii_known) noexcept {
  std::uint8_t facts = ascii_known || is_ascii(text) ? scalar_fact::kAsciiText : 0;
  const bool non_plain = style != ScalarStyle::Plain;
  if (resolve_scalar_kind(VersionMode::Yaml12, text, non_plain, std::nullopt).type == ScalarType::Str)
    facts |= scalar_fact::kStrInYaml12;
  return facts;
}

std::string_view node_kind_name(NodeKind kind) noexcept {
  switch (kind) {
    case NodeKind::Scalar: return "scalar";
    case NodeKind::Sequence: return "sequence";
    case NodeKind::Mapping: return "mapping";
    case NodeKind::Alias: return "alias";
    case NodeKind::Null: return "null";
  }
  return "null";
}

// Moves the descendants of nodes onto an explicit stack and releases them one
// by one, so no destructor call ever recurses more than one level.
struct TreeReleaser {
  static bool has_children(const YamlNode& n) noexcept {
    switch (n.payload_.index()) {
      case kSequenceIx: return !std::get<kSequenceIx>(n.payload_).empty();
      case kMappingIx: return !std::get<kMappingIx>(n.payload_).empty();
      default: return false;
    }
  }

  // Detaches the children of `n` that have children of their own onto
  // `stack`, then frees n's child array (whose elements are now leaves or
  // emptied nodes, so their destructors do not descend).
  static void strip(YamlNode& n, std::vector<YamlNode>& stack) {
    if (n.payload_.index() == kSequenceIx) {
      auto& items = std::get<kSequenceIx>(n.payload_);
      for (auto& c : items)
        if (has_children(c)) stack.push_back(std::move(c));
      NodeList<YamlNode>().swap(items);
    } else if (n.payload_.index() == kMappingIx) {
      auto& pairs = std::get<kMappingIx>(n.payload_);
      for (auto& p : pairs) {
        if (has_children(p.key)) stack.push_back(std::move(p.key));
        if (has_children(p.value)) stack.push_back(std::move(p.value));
      }
      NodeList<NodePair>().swap(pairs);
    }
  }

  static void release_children(YamlNode& root) noexcept {
    try {
      std::vector<YamlNode> stack;
      strip(root, stack);
      while (!stack.empty()) {
        YamlNode n = std::move(stack.back());
        stack.pop_back();
        strip(n, stack);
      }
    } catch (...) {
      // Out of memory for the work stack: fall back to ordinary recursive
      // destruction, which is still correct for trees of moderate depth.
    }
  }
};

namespace {
// Nesting of destructor calls on this thread.  Shallow subtrees are released
// by ordinary recursion (no work stack to allocate); past this depth the
// remaining subtree is released iteratively, so the native stack use stays
// bounded whatever the tree's depth.
thread_local int t_release_depth = 0;
constexpr int kRecursiveReleaseDepth = 64;
}  // namespace

void YamlNode::release_children() noexcept {
  if (!TreeReleaser::has_children(*this)) return;
  if (t_release_depth < kRecursiveReleaseDepth) {
    ++t_release_depth;
    payload_.emplace<kNullIx>();  // releases the children, one level deeper
    --t_release_depth;
  } else {
    TreeReleaser::release_children(*this);
  }
}

void YamlNode::clear() noexcept {
  payload_.emplace<kNullIx>();  // releases any children (bounded recursion, see ~YamlNode)
  extra_.reset();
  comments = Comments{};
  span = Span{};
  end_offset = 0;
  end_line = 0;
  end_column = 0;
  style = CollectionStyle::Block;
  explicit_start = false;
  leading_bom = false;
  synthetic = false;
  explicit_key = false;
  scalar_style_ = ScalarStyle::Plain;
  scalar_facts_ = 0;
}

YamlNode::YamlNode(const YamlNode& o)
    : span(o.span),
      end_offset(o.end_offset),
      end_line(o.end_line),
      end_column(o.end_column),
      payload_{std::in_place_index<kNullIx>},
      style(o.style),
      explicit_start(o.explicit_start),
      leading_bom(o.leading_bom),
      synthetic(o.synthetic),
      explicit_key(o.explicit_key),
      scalar_style_(o.scalar_style_),
      scalar_facts_(o.scalar_facts_),
      comments(o.comments),
      extra_(o.extra_) {
  if (TreeReleaser::has_children(o)) {
    stack_guarded([&] { payload_ = o.payload_; });
  } else {
    payload_ = o.payload_;
  }
}

YamlNode& YamlNode::operator=(const YamlNode& o) {
  if (this != &o) {
    YamlNode tmp(o);
    *this = std::move(tmp);
  }
  return *this;
}

// Safe when `o` lives inside this node's own subtree: `o` is taken out before
// the old content is released.
YamlNode& YamlNode::operator=(YamlNode&& o) noexcept {
  if (this == &o) return *this;
  if (!TreeReleaser::has_children(*this)) {
    // `o` cannot live inside this node: a plain member-wise move.
    span = o.span;
    end_offset = o.end_offset;
    end_line = o.end_line;
    end_column = o.end_column;
    style = o.style;
    explicit_start = o.explicit_start;
    leading_bom = o.leading_bom;
    synthetic = o.synthetic;
    explicit_key = o.explicit_key;
    scalar_style_ = o.scalar_style_;
    scalar_facts_ = o.scalar_facts_;
    comments = std::move(o.comments);
    payload_ = std::move(o.payload_);
    extra_ = std::move(o.extra_);
    return *this;
  }
  {
    YamlNode tmp(std::move(o));
    std::swap(span, tmp.span);
    std::swap(end_offset, tmp.end_offset);
    std::swap(end_line, tmp.end_line);
    std::swap(end_column, tmp.end_column);
    std::swap(style, tmp.style);
    std::swap(explicit_start, tmp.explicit_start);
    std::swap(leading_bom, tmp.leading_bom);
    std::swap(synthetic, tmp.synthetic);
    std::swap(explicit_key, tmp.explicit_key);
    std::swap(comments, tmp.comments);
    std::swap(scalar_style_, tmp.scalar_style_);
    std::swap(scalar_facts_, tmp.scalar_facts_);
    std::swap(payload_, tmp.payload_);
    std::swap(extra_, tmp.extra_);
  }
  return *this;
}

YamlNode YamlNode::scalar(std::string text, ScalarStyle style, Span span) {
  YamlNode n;
  n.payload_.emplace<kScalarIx>(std::move(text));
  n.scalar_style_ = style;
  n.span = span;
  n.set_end_to_start();
  return n;
}

YamlNode YamlNode::sequence(std::vector<YamlNode> items, CollectionStyle style, Span span) {
  YamlNode n;
  n.payload_.emplace<kSequenceIx>(NodeList<YamlNode>(std::move(items)));
  n.style = style;
  n.span = span;
  n.set_end_to_start();
  return n;
}

YamlNode YamlNode::mapping(std::vector<NodePair> pairs, CollectionStyle style, Span span) {
  YamlNode n;
  n.payload_.emplace<kMappingIx>(NodeList<NodePair>(std::move(pairs)));
  n.style = style;
  n.span = span;
  n.set_end_to_start();
  return n;
}

YamlNode YamlNode::alias(std::string name, Span span) {
  YamlNode n;
  n.payload_.emplace<kAliasIx>(std::move(name));
  n.span = span;
  n.set_end_to_start();
  return n;
}

YamlNode YamlNode::null_at(Span span) {
  YamlNode n;
  n.span = span;
  n.set_end_to_start();
  return n;
}

std::string& YamlNode::text_mut() {
  scalar_facts_ = 0;  // the caller may change the text
  if (payload_.index() == kAliasIx) return std::get<kAliasIx>(payload_);
  return std::get<kScalarIx>(payload_);  // throws bad_variant_access on misuse
}

NodeList<YamlNode>& YamlNode::items_mut() { return std::get<kSequenceIx>(payload_); }

NodeList<NodePair>& YamlNode::pairs_mut() { return std::get<kMappingIx>(payload_); }

std::size_t YamlNode::size() const noexcept {
  switch (payload_.index()) {
    case kSequenceIx: return std::get<kSequenceIx>(payload_).size();
    case kMappingIx: return std::get<kMappingIx>(payload_).size();
    default: return 0;
  }
}

// The old payload is moved out first and released after the new one is in
// place, so a new payload taken from the old subtree stays valid.
void YamlNode::set_scalar(std::string text, ScalarStyle style) {
  scalar_facts_ = 0;
  if (!TreeReleaser::has_children(*this)) {
    payload_.emplace<kScalarIx>(std::move(text));
    scalar_style_ = style;
    return;
  }
  auto old = std::move(payload_);
  payload_.emplace<kScalarIx>(std::move(text));
  scalar_style_ = style;
  YamlNode sink;
  sink.payload_ = std::move(old);
}
void YamlNode::set_scalar(std::string_view text, ScalarStyle style) {
  scalar_facts_ = 0;
  if (TreeReleaser::has_children(*this)) {
    set_scalar(std::string(text), style);
    return;
  }
  std::string& t = payload_.emplace<kScalarIx>();
  const std::size_t n = text.size();
  if (n <= 15) {
    // Fits the string's own buffer: copied inline (two overlapping words at
    // most) rather than by a library call per scalar.
    t.resize_and_overwrite(n, [&](char* out, std::size_t) noexcept {
      const char* in = text.data();
      if (n >= 8) {
        std::uint64_t a, b;
        std::memcpy(&a, in, 8);
        std::memcpy(&b, in + n - 8, 8);
        std::memcpy(out, &a, 8);
        std::memcpy(out + n - 8, &b, 8);
      } else if (n >= 4) {
        std::uint32_t a, b;
        std::memcpy(&a, in, 4);
        std::memcpy(&b, in + n - 4, 4);
        std::memcpy(out, &a, 4);
        std::memcpy(out + n - 4, &b, 4);
      } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = in[i];
      }
      return n;
    });
  } else {
    t.assign(text);
  }
  scalar_style_ = style;
}

void YamlNode::set_sequence(NodeList<YamlNode> items) {
  if (!TreeReleaser::has_children(*this)) {
    payload_.emplace<kSequenceIx>(std::move(items));
    scalar_style_ = ScalarStyle::Plain;
    return;
  }
  auto old = std::move(payload_);
  payload_.emplace<kSequenceIx>(std::move(items));
  scalar_style_ = ScalarStyle::Plain;
  YamlNode sink;
  sink.payload_ = std::move(old);
}
void YamlNode::set_mapping(NodeList<NodePair> pairs) {
  if (!TreeReleaser::has_children(*this)) {
    payload_.emplace<kMappingIx>(std::move(pairs));
    scalar_style_ = ScalarStyle::Plain;
    return;
  }
  auto old = std::move(payload_);
  payload_.emplace<kMappingIx>(std::move(pairs));
  scalar_style_ = ScalarStyle::Plain;
  YamlNode sink;
  sink.payload_ = std::move(old);
}
void YamlNode::set_alias(std::string name) {
  if (!TreeReleaser::has_children(*this)) {
    payload_.emplace<kAliasIx>(std::move(name));
    scalar_style_ = ScalarStyle::Plain;
    return;
  }
  auto old = std::move(payload_);
  payload_.emplace<kAliasIx>(std::move(name));
  scalar_style_ = ScalarStyle::Plain;
  YamlNode sink;
  sink.payload_ = std::move(old);
}
void YamlNode::set_null() {
  auto old = std::move(payload_);
  payload_.emplace<kNullIx>();
  scalar_style_ = ScalarStyle::Plain;
  YamlNode sink;
  sink.payload_ = std::move(old);
}

const OptText& YamlNode::no_text() noexcept { return kNoText; }
const std::string& YamlNode::empty_text() noexcept { return kEmptyText; }

NodeExtra& YamlNode::extra_mut() {
  if (!extra_) extra_.emplace();
  return *extra_;
}
void YamlNode::drop_extra_if_empty() noexcept {
  if (extra_ && extra_->empty()) extra_.reset();
}

void YamlNode::set_anchor(OptText anchor) {
  if (!anchor && !extra_) return;
  extra_mut().anchor = std::move(anchor);
  drop_extra_if_empty();
}
void YamlNode::set_tag(OptText tag, OptText expanded) {
  if (!tag && !extra_) return;
  NodeExtra& extra = extra_mut();
  extra.tag = std::move(tag);
  extra.expanded_tag = std::move(expanded);
  drop_extra_if_empty();
}
void YamlNode::copy_tag(const YamlNode& from) {
  const NodeExtra* e = from.extra();
  if (e == nullptr) return set_tag({});
  set_tag(e->tag.view(), e->expanded_tag.view());
}
void YamlNode::set_anchor_first(bool first) {
  if (!first && !extra_) return;
  extra_mut().anchor_first = first;
  drop_extra_if_empty();
}
void YamlNode::set_source(std::optional<IncludeSource> source) {
  if (!source && !extra_) return;
  extra_mut().source = std::move(source);
  drop_extra_if_empty();
}
void YamlNode::set_directives(std::vector<std::string> directives) {
  if (directives.empty() && !extra_) return;
  extra_mut().directives = std::move(directives);
  drop_extra_if_empty();
}

namespace {

bool same_fields(const YamlNode& a, const YamlNode& b) {
  if (a.kind() != b.kind() || a.scalar_style() != b.scalar_style() || a.text() != b.text() ||
      a.size() != b.size())
    return false;
  if (!(a.span == b.span) || a.end_offset != b.end_offset || a.end_line != b.end_line ||
      a.end_column != b.end_column || a.style != b.style || a.explicit_start != b.explicit_start ||
      a.leading_bom != b.leading_bom || a.synthetic != b.synthetic ||
      a.explicit_key != b.explicit_key || !(a.comments == b.comments))
    return false;
  const NodeExtra* ea = a.extra();
  const NodeExtra* eb = b.extra();
  if (ea == nullptr || eb == nullptr) return ea == eb;
  return *ea == *eb;
}

bool nodes_equal_rec(const YamlNode& a, const YamlNode& b) {
  return stack_guarded([&]() -> bool {
    if (!same_fields(a, b)) return false;
    auto ia = a.items();
    auto ib = b.items();
    for (std::size_t i = 0; i < ia.size(); ++i)
      if (!nodes_equal_rec(ia[i], ib[i])) return false;
    auto pa = a.pairs();
    auto pb = b.pairs();
    for (std::size_t i = 0; i < pa.size(); ++i)
      if (!nodes_equal_rec(pa[i].key, pb[i].key) || !nodes_equal_rec(pa[i].value, pb[i].value))
        return false;
    return true;
  });
}

}  // namespace

bool nodes_equal(const YamlNode& a, const YamlNode& b) { return nodes_equal_rec(a, b); }

void drop_node_tree(YamlNode&& node) noexcept {
  YamlNode sink(std::move(node));  // ~YamlNode releases iteratively
}

void drop_node_pairs(std::vector<NodePair>&& pairs) noexcept {
  std::vector<NodePair> taken(std::move(pairs));
  for (NodePair& p : taken) {
    drop_node_tree(std::move(p.key));
    drop_node_tree(std::move(p.value));
  }
}

}  // namespace kestrine
