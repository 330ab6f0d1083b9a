// Tree walks and operations: change detection, anchor searches, alias-expanding copies and the leaf walk.
#include <gtest/gtest.h>

#include "roundtrip/tree/tree_ops.hpp"
#include "roundtrip_test_util.hpp"

namespace kestrine {
namespace {

using testing::render;
using testing::root_of;

// root: {own: 1, inc: <file 1: {x: <file 2: [a, b]>, y: 2}>}
YamlNode included_tree() {
  YamlNode inner = root_of("[a, b]\n");
  inner.set_source(IncludeSource{"!include", "two.yaml", 2});
  YamlNode mid = root_of("x: placeholder\ny: 2\n");
  mid.pairs_mut()[0].value = std::move(inner);
  mid.set_source(IncludeSource{"!include", "one.yaml", 1});
  YamlNode root = root_of("own: 1\ninc: placeholder\n");
  root.pairs_mut()[1].value = std::move(mid);
  return root;
}

TEST(RoundtripTreeOps, ModificationDetection) {
  YamlNode root = included_tree();
  EXPECT_FALSE(subtree_modified(root));
  EXPECT_FALSE(subtree_modified_in_file(root));

  YamlNode& inner_item = root.pairs_mut()[1].value.pairs_mut()[0].value.items_mut()[1];
  inner_item.comments.modified = true;
  EXPECT_TRUE(subtree_modified(root));
  // Edits inside another file's subtree belong to that file.
  EXPECT_FALSE(subtree_modified_in_file(root));
  EXPECT_FALSE(pairs_modified_in_file(root.pairs()[1]));
  EXPECT_TRUE(subtree_modified_in_file(root.pairs()[1].value.pairs()[0].value.items()[1]));

  // A key's own source is not examined.
  YamlNode keyed = root_of("k: v\n");
  keyed.pairs_mut()[0].key.set_source(IncludeSource{"!secret", "s", std::nullopt});
  keyed.pairs_mut()[0].key.comments.modified = true;
  EXPECT_TRUE(pairs_modified_in_file(keyed.pairs()[0]));
}

TEST(RoundtripTreeOps, AnchorPaths) {
  std::vector<YamlNode> roots;
  roots.push_back(root_of("a: [x, &s y]\n&k key: v\n[&q seq]: &hidden 1\nb: &s again\n"));
  auto path = find_anchor_path(roots, "s");
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(*path, (NodePath{PathSegment::of_key("a"), PathSegment::of_index(1)}));
  path = find_anchor_path(roots, "k");
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(*path, (NodePath{PathSegment::of_key_node("key")}));
  // Pairs whose key is not a scalar are skipped, with their values.
  EXPECT_FALSE(find_anchor_path(roots, "q").has_value());
  EXPECT_FALSE(find_anchor_path(roots, "hidden").has_value());
  EXPECT_FALSE(find_anchor_path({}, "s").has_value());

  YamlNode doc = root_of("a: &x 1\nb: [*x, {c: *x}]\n*x : 2\n");
  NodePath scratch;
  std::vector<NodePath> aliases;
  collect_aliases(doc, "x", scratch, aliases);
  EXPECT_EQ(aliases, (std::vector<NodePath>{
                         {PathSegment::of_key("b"), PathSegment::of_index(0)},
                         {PathSegment::of_key("b"), PathSegment::of_index(1), PathSegment::of_key("c")}}));
  std::vector<std::pair<std::string, NodePath>> anchors;
  collect_anchor_paths(roots[0], scratch, anchors);
  ASSERT_EQ(anchors.size(), 3u);
  EXPECT_EQ(anchors[0].first, "s");
  EXPECT_EQ(anchors[1].first, "k");
  EXPECT_EQ(anchors[2].first, "s");
  EXPECT_EQ(anchors[2].second, (NodePath{PathSegment::of_key("b")}));
}

TEST(RoundtripTreeOps, ExpandingCopyFields) {
  YamlNode doc = root_of(
      "base: &b !t {k: v}  # c\n"
      "use: *b\n"
      "gone: [x]\n");
  const AnchorBindings bindings = bind_anchors(doc).value();
  std::uint64_t budget = 100;
  const YamlNode& use = doc.pairs()[1].value;
  YamlNode copy = copy_expanding_aliases_for_detach(use, bindings, 0, budget).value();
  EXPECT_EQ(render(copy), "!t f{'k': 'v'}");  // the flow style kept
  EXPECT_FALSE(copy.anchor().has_value());
  EXPECT_EQ(copy.style, CollectionStyle::Flow);
  EXPECT_EQ(copy.end_offset, copy.span.offset);
  EXPECT_EQ(budget, 97u);  // the mapping, its key and its value; the alias costs nothing

  // An alias bound to nothing: a Null at its start, keeping its comments and tag.
  YamlNode lone = YamlNode::alias("nowhere", Span{0, 5, 2, 40});
  lone.comments.inline_comment_mut() = "keep";
  lone.set_tag(OptText("!t"));
  budget = 10;
  YamlNode kept = copy_expanding_aliases_for_detach(lone, bindings, 0, budget).value();
  EXPECT_TRUE(kept.is_null());
  EXPECT_EQ(kept.span, lone.span);
  EXPECT_EQ(kept.comments.inline_comment().view(), "keep");
  EXPECT_EQ(kept.tag().view(), "!t");
}

TEST(RoundtripTreeOps, AliasDepthAndBudgetLimits) {
  // A chain of 150 anchors, each a sequence holding an alias of the previous.
  std::string text = "a0: &a0 end\n";
  for (int i = 1; i < 150; ++i)
    text += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " [*a" + std::to_string(i - 1) + "]\n";
  YamlNode doc = root_of(text);
  const AnchorBindings chain = bind_anchors(doc, UINT64_MAX).value();
  const auto anchored = [&](int i) -> const YamlNode& { return doc.pairs()[i].value; };
  // Alias levels 1..100 are followed; a copy that needs level 101 fails at
  // the alias that would open it (the one inside a49), as reading it does.
  for (const int top : {100, 101, 149}) {
    std::uint64_t budget = 1'000'000;
    AliasCopy copy = copy_expanding_aliases_for_detach(anchored(top), chain, 0, budget);
    if (top == 100) {
      ASSERT_TRUE(copy);
      int levels = 0;
      const YamlNode* n = &*copy;
      for (; n->is_sequence(); n = &n->items()[0]) ++levels;
      EXPECT_EQ(levels, 100);
      EXPECT_EQ(n->text(), "end");
      continue;
    }
    ASSERT_FALSE(copy) << top;
    EXPECT_EQ(copy.error().message, kAliasDepthMessage);
    EXPECT_EQ(copy.error().span, anchored(top - 100).items()[0].span);
  }

  // A billion laughs: a copy within the budget is whole, one past it fails.
  std::string bomb = "l0: &l0 [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]\n";
  for (int i = 1; i < 10; ++i) {
    std::string p = "*l" + std::to_string(i - 1);
    bomb += "l" + std::to_string(i) + ": &l" + std::to_string(i) + " [" + p;
    for (int k = 1; k < 10; ++k) bomb += ", " + p;
    bomb += "]\n";
  }
  YamlNode laughs = root_of(bomb);
  const AnchorBindings bound = bind_anchors(laughs, UINT64_MAX).value();
  for (const std::uint64_t start : {1111u, 1110u}) {  // l2: 1 + 10 * (1 + 10 * 11) nodes
    std::uint64_t budget = start;
    AliasCopy copy = copy_expanding_aliases_for_detach(laughs.pairs()[2].value, bound, 0, budget);
    EXPECT_EQ(copy.has_value(), start == 1111u);
    if (!copy) EXPECT_EQ(copy.error().message, kAliasBombMessage);
  }
}

// Records "path=leaf" for each leaf; stops after `limit` leaves.
struct LeafRecorder {
  std::vector<std::string> path;
  std::vector<std::string> seen;
  std::size_t limit = SIZE_MAX;
  std::size_t deepest = 0;

  bool enter_key(const YamlNode& key) {
    path.push_back(key.text());
    return true;
  }
  bool enter_index(std::size_t i) {
    path.push_back(std::to_string(i));
    return true;
  }
  void leave() { path.pop_back(); }
  bool leaf(const YamlNode& node) {
    std::string s;
    for (const std::string& step : path) s += step + "/";
    if (path.size() < 8) seen.push_back(s + "=" + (node.is_null() ? "null" : node.text()));
    deepest = std::max(deepest, path.size());
    return seen.size() < limit;
  }
};

TEST(RoundtripTreeOps, LeafWalk) {
  YamlNode doc = root_of("a: [1, {b: &x 2}]\n[k]: skipped\nc: {}\nd: ~\ne:\nf: *x\n");
  LeafRecorder all;
  EXPECT_TRUE(walk_leaves(doc, all));
  EXPECT_EQ(all.seen, (std::vector<std::string>{"a/0/=1", "a/1/b/=2", "d/=~", "e/=null", "f/=x"}));
  EXPECT_TRUE(all.path.empty());

  LeafRecorder two;
  two.limit = 2;
  EXPECT_FALSE(walk_leaves(doc, two));
  EXPECT_EQ(two.seen.size(), 2u);
  EXPECT_TRUE(two.path.empty());
}

TEST(RoundtripTreeOps, DeepTreesAreWalkedSafely) {
  YamlNode node = YamlNode::scalar("leaf");
  node.set_anchor("deep");
  for (int i = 0; i < 100000; ++i) {
    std::vector<YamlNode> items;
    items.push_back(std::move(node));
    node = YamlNode::sequence(std::move(items));
  }
  node.items_mut()[0].comments.modified = false;
  EXPECT_FALSE(subtree_modified(node));
  std::vector<YamlNode> roots;
  roots.push_back(std::move(node));
  auto path = find_anchor_path(roots, "deep");
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(path->size(), 100000u);
  const AnchorBindings bindings = bind_anchors(roots).value();
  std::uint64_t budget = 1'000'000;
  YamlNode copy = copy_expanding_aliases_for_detach(roots[0], bindings, 0, budget).value();
  EXPECT_EQ(budget, 1'000'000u - 100001u);
  LeafRecorder leaves;
  walk_leaves(copy, leaves);
  EXPECT_EQ(leaves.deepest, 100000u);
}

}  // namespace
}  // namespace kestrine
