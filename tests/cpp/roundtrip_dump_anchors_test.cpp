// Anchor naming for trees built from Python objects: which provisional
// anchors stay and what they are called.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "roundtrip/tree/dump_anchors.hpp"

namespace kestrine {
namespace {

YamlNode anchored(const char* anchor) {
  YamlNode n = YamlNode::scalar("v");
  n.set_anchor(OptText(anchor));
  return n;
}

TEST(RoundtripDumpAnchors, IdentityTexts) {
  EXPECT_EQ(parse_identity("42"), 42u);
  EXPECT_EQ(parse_identity("+7"), 7u);
  EXPECT_EQ(parse_identity("18446744073709551615"), 18446744073709551615u);
  for (const char* bad : {"", "+", "-1", "18446744073709551616", "1a", "a", "++1", " 1"})
    EXPECT_FALSE(parse_identity(bad)) << bad;
}

TEST(RoundtripDumpAnchors, KeepsOnlyAliasedAnchorsAndNamesThemInDocumentOrder) {
  std::vector<YamlNode> items;
  items.push_back(anchored("30"));    // aliased: id001
  items.push_back(anchored("10"));    // not aliased: dropped
  items.push_back(anchored("+20"));   // aliased: id002
  items.push_back(anchored("name"));  // not an identity: dropped
  items.push_back(YamlNode::alias("20"));
  items.push_back(YamlNode::alias("30"));
  items.push_back(YamlNode::alias("99"));  // no such anchor: left as it is
  YamlNode root = YamlNode::sequence(std::move(items));
  SeededHashSet<std::uint64_t> aliased{20, 30, 99};
  assign_anchors(root, aliased);
  const auto items_after = root.items();
  EXPECT_TRUE(items_after[0].anchor().equals("id001"));
  EXPECT_FALSE(items_after[1].anchor());
  EXPECT_TRUE(items_after[2].anchor().equals("id002"));
  EXPECT_FALSE(items_after[3].anchor());
  EXPECT_EQ(items_after[4].alias_name(), "id002");
  EXPECT_EQ(items_after[5].alias_name(), "id001");
  EXPECT_EQ(items_after[6].alias_name(), "99");
}

TEST(RoundtripDumpAnchors, NamesHaveAtLeastThreeDigits) {
  std::vector<NodePair> pairs;
  SeededHashSet<std::uint64_t> aliased;
  for (std::uint64_t id = 1; id <= 1000; ++id) {
    pairs.push_back(NodePair{YamlNode::scalar("k"), anchored(std::to_string(id).c_str())});
    aliased.insert(id);
  }
  YamlNode root = YamlNode::mapping(std::move(pairs));
  assign_anchors(root, aliased);
  EXPECT_TRUE(root.pairs()[0].value.anchor().equals("id001"));
  EXPECT_TRUE(root.pairs()[998].value.anchor().equals("id999"));
  EXPECT_TRUE(root.pairs()[999].value.anchor().equals("id1000"));
}

}  // namespace
}  // namespace kestrine
