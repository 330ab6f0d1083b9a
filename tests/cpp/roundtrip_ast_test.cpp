// The node record: payload handling, boxed fields, deep copies, and release
// of deep trees without recursion.
#include <gtest/gtest.h>

#include "roundtrip/tree/ast.hpp"
#include "roundtrip_test_util.hpp"

namespace kestrine {
namespace {

using testing::render;
using testing::root_of;

YamlNode deep_sequence(std::size_t depth) {
  YamlNode node = YamlNode::scalar("leaf");
  for (std::size_t i = 0; i < depth; ++i) {
    std::vector<YamlNode> items;
    items.push_back(std::move(node));
    node = YamlNode::sequence(std::move(items));
  }
  return node;
}

TEST(RoundtripAst, DeepTreesAreReleasedAndCopiedWithoutOverflow) {
  // Nesting far beyond what the native stack could recurse through.
  YamlNode deep = deep_sequence(100000);
  YamlNode copy = deep;  // copies continue on fresh stack segments
  EXPECT_TRUE(nodes_equal(deep, copy));
  drop_node_tree(std::move(deep));
  EXPECT_TRUE(deep.is_null() || deep.size() == 0);
  {
    YamlNode scoped = deep_sequence(100000);
    std::vector<NodePair> pairs;
    pairs.push_back(NodePair{deep_sequence(50000), std::move(scoped)});
    drop_node_pairs(std::move(pairs));
  }
  // Plain destruction of a deep tree (and of a deep mapping chain) as well.
  {
    YamlNode m = YamlNode::scalar("x");
    for (int i = 0; i < 100000; ++i) {
      std::vector<NodePair> pairs;
      pairs.push_back(NodePair{YamlNode::scalar("k"), std::move(m)});
      m = YamlNode::mapping(std::move(pairs));
    }
  }
}

TEST(RoundtripAst, AssigningADescendantToItsAncestor) {
  YamlNode root = root_of("a: {b: [1, 2]}\n");
  // Move from inside the node's own subtree: the old content is released
  // only after the new one is in place.
  root = std::move(root.pairs_mut()[0].value);
  EXPECT_EQ(render(root), "f{'b': f['1', '2']}");
  root = root.pairs()[0].value;  // copy from inside as well
  EXPECT_EQ(render(root), "f['1', '2']");
  root.set_sequence(std::vector<YamlNode>(root.items().begin(), root.items().end() - 1));
  EXPECT_EQ(render(root), "f['1']");
  YamlNode item = root.items()[0];
  root.set_scalar(item.text(), ScalarStyle::DoubleQuoted);
  EXPECT_TRUE(root.is_scalar());
  EXPECT_EQ(root.text(), "1");
  EXPECT_EQ(root.scalar_style(), ScalarStyle::DoubleQuoted);
  root.set_alias("x");
  EXPECT_TRUE(root.is_alias());
  EXPECT_EQ(root.alias_name(), "x");
  EXPECT_EQ(root.scalar_style(), ScalarStyle::Plain);
  root.set_null();
  EXPECT_TRUE(root.is_null());
  EXPECT_EQ(root.text(), "");
  EXPECT_TRUE(root.items().empty());
  EXPECT_TRUE(root.pairs().empty());
}

TEST(RoundtripAst, RareFieldsAreBoxedAndCopied) {
  YamlNode n = YamlNode::scalar("v");
  EXPECT_EQ(n.extra(), nullptr);
  n.set_anchor("a");
  n.set_tag(OptText("!t"));
  n.set_source(IncludeSource{"!include", "x.yaml", 3});
  n.set_directives({"YAML 1.2"});
  n.comments.head_mut().push_back(HeadComment{"h", true});
  n.comments.inline_comment_mut() = "i";
  n.comments.foot_mut().push_back("f");
  YamlNode c = n;
  EXPECT_TRUE(nodes_equal(n, c));
  EXPECT_EQ(c.anchor().view(), "a");
  EXPECT_EQ(c.tag().view(), "!t");
  ASSERT_NE(c.source(), nullptr);
  EXPECT_EQ(c.source()->target_file_id, 3u);
  EXPECT_EQ(c.directives().size(), 1u);
  // The copy is independent.
  c.comments.head_mut()[0].text = "changed";
  c.set_anchor(std::nullopt);
  EXPECT_EQ(n.comments.head_mut()[0].text, "h");
  EXPECT_EQ(n.anchor().view(), "a");
  EXPECT_FALSE(nodes_equal(n, c));
  // Clearing every rare field drops the side record again.
  n.set_anchor(std::nullopt);
  n.set_tag(std::nullopt);
  n.set_source(std::nullopt);
  n.set_directives({});
  EXPECT_EQ(n.extra(), nullptr);
}

TEST(RoundtripAst, RootOnlyFieldsStayOffInnerNodes) {
  YamlNode root = root_of("%YAML 1.2\n---\na: [b]\n");
  YamlNode copy = root;
  EXPECT_TRUE(copy.explicit_start);
  EXPECT_EQ(copy.directives().size(), 1u);
  for (const YamlNode* n : {&copy.pairs()[0].key, &copy.pairs()[0].value, &copy.pairs()[0].value.items()[0]}) {
    EXPECT_FALSE(n->explicit_start);
    EXPECT_FALSE(n->leading_bom);
    EXPECT_TRUE(n->directives().empty());
    EXPECT_FALSE(n->synthetic);
  }
}

TEST(RoundtripAst, NodeStaysCompact) {
  // Millions of nodes per large file: keep the record small.
  EXPECT_LE(sizeof(YamlNode), 144u);
  EXPECT_LE(sizeof(Comments), 48u);
}

TEST(RoundtripAst, ScalarFactsHoldOnlyForTheTextTheyWereFoundFor) {
  using namespace scalar_fact;
  YamlNode root = root_of("a: 12\nb: 'x'\nc: ~\nd: caf\xc3\xa9\ne: true\nf: <<\ng: 2001-12-14\n");
  // A date is a str under YAML 1.2; the merge key is not.
  const std::uint8_t expected[] = {kAsciiText, kAsciiText | kStrInYaml12, kAsciiText, kStrInYaml12,
                                   kAsciiText, kAsciiText, kAsciiText | kStrInYaml12};
  for (std::size_t i = 0; i < root.size(); ++i) {
    EXPECT_EQ(root.pairs()[i].key.scalar_facts(), kAsciiText | kStrInYaml12) << i;
    EXPECT_EQ(root.pairs()[i].value.scalar_facts(), expected[i]) << i;
  }
  YamlNode copy = root;
  EXPECT_EQ(copy.pairs()[1].value.scalar_facts(), kAsciiText | kStrInYaml12);
  copy.pairs()[1].value.set_scalar_style(ScalarStyle::Plain);
  copy.pairs()[3].value.text_mut() = "12";
  copy.pairs()[5].value.set_scalar("1", ScalarStyle::Plain);
  for (std::size_t i : {1, 3, 5}) EXPECT_EQ(copy.pairs()[i].value.scalar_facts(), 0) << i;
}

TEST(RoundtripAst, KindNamesAndIndices) {
  EXPECT_EQ(static_cast<int>(NodeKind::Scalar), 0);
  EXPECT_EQ(static_cast<int>(NodeKind::Null), 4);
  EXPECT_EQ(node_kind_name(NodeKind::Mapping), "mapping");
  EXPECT_EQ(YamlNode::sequence().kind(), NodeKind::Sequence);
  EXPECT_EQ(YamlNode::alias("a").kind(), NodeKind::Alias);
  EXPECT_EQ(YamlNode().kind(), NodeKind::Null);
}

}  // namespace
}  // namespace kestrine
