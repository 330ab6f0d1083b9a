// Duplicate-key checks on composed trees.
#include <gtest/gtest.h>

#include "roundtrip/tree/duplicates.hpp"
#include "roundtrip_test_util.hpp"

namespace kestrine {
namespace {

using testing::compose_ok;
using testing::root_of;

constexpr VersionMode kModes[] = {VersionMode::Yaml12, VersionMode::Yaml11, VersionMode::PyyamlCompat};

std::string first_duplicate(std::string_view text, VersionMode mode = VersionMode::Yaml12) {
  auto roots = compose_ok(text);
  auto e = check_duplicate_keys_roots(roots, mode);
  return e ? e->message : "";
}

TEST(RoundtripDuplicates, KeysCompareAsPythonValues) {
  for (VersionMode mode : kModes) {
    EXPECT_EQ(first_duplicate("1: a\n1.0: b\n", mode), "duplicate mapping key: 1.0");
    EXPECT_EQ(first_duplicate("true: a\n1: b\n", mode), "duplicate mapping key: 1");
    EXPECT_EQ(first_duplicate("0x10: a\n16: b\n", mode), "duplicate mapping key: 16");
    EXPECT_EQ(first_duplicate("? !!str 1\n: a\n'1': b\n", mode), "duplicate mapping key: 1");
  }
  // Quoted text and the number it spells are different keys.
  EXPECT_EQ(first_duplicate("'1': a\n1: b\n"), "");
  // A 1.1-only boolean is a string under 1.2.
  EXPECT_EQ(first_duplicate("yes: a\ntrue: b\n", VersionMode::Yaml12), "");
  EXPECT_EQ(first_duplicate("yes: a\ntrue: b\n", VersionMode::Yaml11), "duplicate mapping key: true");
  // Big integers compare by their canonical digits.
  EXPECT_EQ(first_duplicate("123456789012345678901234567890: a\n+123_456_789_012_345_678_901_234_567_890: b\n",
                            VersionMode::Yaml11),
            "duplicate mapping key: +123_456_789_012_345_678_901_234_567_890");
  // Empty keys and null keys are one key.
  EXPECT_EQ(first_duplicate("? \n: a\n~: b\n"), "duplicate mapping key: ~");
}

TEST(RoundtripDuplicates, CraftedStringsDoNotCollide) {
  // With unframed signatures these keys would sign alike.
  EXPECT_EQ(first_duplicate("[a, 'b,s:1:c']: 1\n[a, b, c]: 2\n"), "");
  EXPECT_EQ(first_duplicate("{a: 'b,c=d'}: 1\n{a: b, c: d}: 2\n"), "");
  EXPECT_EQ(first_duplicate("a: &x 1\n'alias:1:x': 2\n? *x\n: 3\n"), "");
  EXPECT_EQ(first_duplicate("'s:1:a': 1\na: 2\n"), "");
}

TEST(RoundtripDuplicates, MergeKeysAreNotReported) {
  EXPECT_EQ(first_duplicate("a: &a {x: 1}\nb:\n  <<: *a\n  <<: *a\n  y: 2\n"), "");
}

TEST(RoundtripDuplicates, CollectionAndAliasKeys) {
  EXPECT_EQ(first_duplicate("[a, b]: 1\n[a, b]: 2\n"), "duplicate mapping key: sequence [a, b]");
  EXPECT_EQ(first_duplicate("{a: 1}: x\n{a: 1}: y\n"), "duplicate mapping key: mapping {a: 1}");
  EXPECT_EQ(first_duplicate("[a, b]: 1\n[a, c]: 2\n"), "");
  // An alias is the key it stands for.
  EXPECT_EQ(first_duplicate("k: &a v\n? *a\n: 1\n? *a\n: 2\n"), "duplicate mapping key: alias *a");
  EXPECT_EQ(first_duplicate("&a v: 1\n? *a\n: 2\n"), "duplicate mapping key: alias *a");
  EXPECT_EQ(first_duplicate("k: &a [v, 1]\n? [v, 1.0]\n: 1\n? *a\n: 2\n"), "duplicate mapping key: alias *a");
  EXPECT_EQ(first_duplicate("k: &a v\nw: 1\n? *a\n: 2\n"), "");
}

TEST(RoundtripDuplicates, OrderOfDiscoveryAndPosition) {
  // The inner duplicate inside the first value is found before the outer one.
  auto roots = compose_ok("a:\n  x: 1\n  x: 2\nb: 3\na: 4\n");
  auto e = check_duplicate_keys_roots(roots, VersionMode::Yaml12);
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->message, "duplicate mapping key: x");
  EXPECT_EQ(e->span, (Span{0, 2, 2, 12}));

  // Across documents the first document's comes first; the warning pass
  // lists every duplicate in order.
  roots = compose_ok("a: 1\na: 2\n---\n- {b: 1, b: 2}\n");
  e = check_duplicate_keys_roots(roots, VersionMode::Yaml12);
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->span.line, 1u);
  auto warnings = warn_duplicate_keys(roots, VersionMode::Yaml12);
  EXPECT_EQ(warnings, (std::vector<std::string>{
                          "duplicate mapping key 'a' at line 2, column 1; keeping the last value",
                          "duplicate mapping key 'b' at line 4, column 10; keeping the last value"}));
  EXPECT_TRUE(warn_duplicate_keys(compose_ok("a: 1\nb: 2\n"), VersionMode::Yaml12).empty());
}

TEST(RoundtripDuplicates, DeepTreesAndLongKeys) {
  // Deeply nested keys and values are walked under the stack guard.
  YamlNode key = YamlNode::scalar("k");
  for (int i = 0; i < 20000; ++i) {
    std::vector<YamlNode> items;
    items.push_back(std::move(key));
    key = YamlNode::sequence(std::move(items));
  }
  std::vector<NodePair> pairs;
  pairs.push_back(NodePair{key, YamlNode::scalar("1")});
  pairs.push_back(NodePair{key, YamlNode::scalar("2")});
  YamlNode value = YamlNode::mapping(std::move(pairs));
  for (int i = 0; i < 20000; ++i) {
    std::vector<NodePair> outer;
    outer.push_back(NodePair{YamlNode::scalar("n"), std::move(value)});
    value = YamlNode::mapping(std::move(outer));
  }
  auto e = check_duplicate_keys(value, VersionMode::Yaml12);
  ASSERT_TRUE(e.has_value());
  EXPECT_LT(e->message.size(), 260u);  // the rendering is cut short
  EXPECT_EQ(warn_duplicate_keys(std::span<const YamlNode>(&value, 1), VersionMode::Yaml12).size(), 1u);
}

}  // namespace
}  // namespace kestrine
