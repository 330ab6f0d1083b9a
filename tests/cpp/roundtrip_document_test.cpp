// Path resolution over a round-trip document's trees: which node each step
// reaches, duplicates, key nodes, and what a step never reaches; the texts
// and flags the documents of a load keep.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "decode/load_settings.hpp"
#include "roundtrip/document/document.hpp"
#include "roundtrip_test_util.hpp"
#include "util/options.hpp"

namespace kestrine {
namespace {

using testing::document_of;

TEST(RoundtripDocument, PathResolution) {
  DocumentRecord rec = document_of("a: first\na: second\n1: plain\n'1': quoted\n[k]: hidden\nlist: [x, y]\n");
  auto at = [&](std::vector<PathSegment> path) -> std::string {
    const YamlNode* n = resolve_path(rec, 0, path);
    return n == nullptr ? "<none>" : n->is_scalar() ? n->text() : std::string(node_kind_name(n->kind()));
  };
  EXPECT_EQ(at({}), "mapping");
  EXPECT_EQ(at({PathSegment::of_key("a")}), "second");  // the last duplicate wins
  EXPECT_EQ(at({PathSegment::of_key("1")}), "quoted");  // same text, last pair
  EXPECT_EQ(at({PathSegment::of_key_node("1")}), "1");
  EXPECT_EQ(resolve_path(rec, 0, std::vector{PathSegment::of_key_node("1")})->scalar_style(),
            ScalarStyle::SingleQuoted);
  EXPECT_EQ(at({PathSegment::of_key("[k]")}), "<none>");  // non-scalar keys are never reached
  EXPECT_EQ(at({PathSegment::of_index(0)}), "<none>");    // Index on a mapping
  EXPECT_EQ(at({PathSegment::of_key("list"), PathSegment::of_index(1)}), "y");
  EXPECT_EQ(at({PathSegment::of_key("list"), PathSegment::of_index(2)}), "<none>");
  EXPECT_EQ(at({PathSegment::of_key("list"), PathSegment::of_key("0")}), "<none>");  // Key on a sequence
  EXPECT_EQ(at({PathSegment::of_key("a"), PathSegment::of_key("x")}), "<none>");    // below a scalar
  EXPECT_EQ(resolve_path(rec, 1, std::vector<PathSegment>{}), nullptr);              // no second root

  // Aliases are not followed by a path step.
  DocumentRecord aliased = document_of("a: &m {k: v}\nb: *m\n");
  EXPECT_EQ(resolve_path(aliased, 0, std::vector{PathSegment::of_key("b"), PathSegment::of_key("k")}), nullptr);
  EXPECT_NE(resolve_path(aliased, 0, std::vector{PathSegment::of_key("a"), PathSegment::of_key("k")}), nullptr);
}

TEST(RoundtripDocument, DocumentSlicesCoverTheText) {
  const std::string_view text = "a: 1\n---\nb: 2\n%YAML 1.2\n---\nc\n";
  const std::vector<std::size_t> starts = {0, 5, 14};
  EXPECT_EQ(document_slices(text, starts),
            (std::vector<std::string_view>{"a: 1\n", "---\nb: 2\n", "%YAML 1.2\n---\nc\n"}));
  // The first document always starts the text; starts past the end or going
  // backwards never lose or repeat text.
  const std::vector<std::size_t> odd = {3, 2, 99};
  const auto slices = document_slices(text, odd);
  ASSERT_EQ(slices.size(), 3u);
  EXPECT_EQ(std::string(slices[0]) + std::string(slices[1]) + std::string(slices[2]), text);
  EXPECT_EQ(slices[0], "a:");
  EXPECT_TRUE(document_slices(text, {}).empty());
}

TEST(RoundtripDocument, DocumentFlagsFollowTheOptions) {
  const auto flags_of = [](Options option, VersionMode mode) {
    return document_flags(derive_load_settings(option, std::nullopt), mode);
  };
  DocumentFlags f = flags_of(0, VersionMode::Yaml12);
  EXPECT_TRUE(f.prefer_double_quotes);
  EXPECT_FALSE(f.upgrade_1_1);
  EXPECT_FALSE(f.timestamps);
  EXPECT_EQ(f.null_style, NullStyle::Default);
  EXPECT_EQ(f.version_mode, VersionMode::Yaml12);

  f = flags_of(OPT_SINGLE_QUOTES | OPT_NULL_AS_TILDE | OPT_TIMESTAMPS, VersionMode::Yaml11);
  EXPECT_FALSE(f.prefer_double_quotes);
  EXPECT_TRUE(f.timestamps);
  EXPECT_EQ(f.null_style, NullStyle::Tilde);
  EXPECT_EQ(f.version_mode, VersionMode::Yaml11);

  // The upgrade has rewritten the YAML 1.1 forms: the document is YAML 1.2.
  f = flags_of(OPT_UPGRADE_1_1 | OPT_NULL_AS_KEYWORD, VersionMode::Yaml11);
  EXPECT_TRUE(f.upgrade_1_1);
  EXPECT_EQ(f.version_mode, VersionMode::Yaml12);
  EXPECT_EQ(f.null_style, NullStyle::Keyword);
  EXPECT_TRUE(flags_of(OPT_PYYAML_COMPAT, VersionMode::PyyamlCompat).timestamps);
}

}  // namespace
}  // namespace kestrine

namespace kestrine {
namespace {

using testing::compose_ok;
using testing::document_of;
using testing::root_of;

std::string mapping_text(int pairs, bool duplicates) {
  std::string text;
  for (int i = 0; i < pairs; ++i) text += "k" + std::to_string(i) + ": " + std::to_string(i) + "\n";
  if (duplicates) text += "k3: again\n'k5': quoted\n[k7]: complex\n";
  return text;
}

TEST(RoundtripDocument, KeyIndexAgreesWithTheScan) {
  YamlNode big = root_of(mapping_text(100, true));
  KeyIndexCache cache;
  for (const std::string key : {"k0", "k3", "k5", "k7", "k99", "k100", "", "[k7]"}) {
    EXPECT_EQ(cache.last_pair_with_key(big, key), last_pair_with_key(big, key, nullptr)) << key;
  }
  EXPECT_EQ(cache.last_pair_with_key(big, "k3"), 100u);  // the later duplicate
  EXPECT_EQ(cache.size(), 1u);
  // Small mappings are scanned, not indexed.
  YamlNode small = root_of(mapping_text(4, false));
  EXPECT_EQ(cache.last_pair_with_key(small, "k2"), 2u);
  EXPECT_EQ(cache.size(), 1u);
  // A changed pair list is noticed: the index is built again.
  big.pairs_mut().push_back(NodePair{YamlNode::scalar("k0"), YamlNode::scalar("last")});
  EXPECT_EQ(cache.last_pair_with_key(big, "k0"), 103u);
  EXPECT_EQ(cache.last_pair_with_key(big, "k1"), 1u);
}

TEST(RoundtripDocument, TextKeysReadAsPythonSeesThem) {
  using Result = TextKeyMatch::Result;
  DocumentFlags flags;
  KeyIndexCache cache;
  struct Case {
    const char* text;
    const char* key;
    Result result;
    std::size_t pair;
  };
  const Case cases[] = {
      {"1: a\n'1': b\n", "1", Result::Found, 1},  // the quoted key matches; the step reaches the last pair
      {"'1': a\n1: b\n", "1", Result::Found, 1},
      {"1: a\n", "1", Result::Missing, 0},        // the plain key is the int 1
      {"true: a\n", "true", Result::Missing, 0},
      {"!!str true: a\n", "true", Result::Found, 0},
      {"<<: a\n", "<<", Result::Found, 0},
      {"99999999999999999999999: a\n", "99999999999999999999999", Result::Undecided, 0},
      {"a: 1\n", "b", Result::Missing, 0},
  };
  for (const Case& c : cases) {
    YamlNode map = root_of(c.text);
    const TextKeyMatch match = match_text_key(map, c.key, flags, &cache);
    EXPECT_EQ(match.result, c.result) << c.text;
    if (match.result != Result::Missing) EXPECT_EQ(match.pair, c.pair) << c.text;
  }
  // With OPT_TIMESTAMPS a plain date may become a date object.
  YamlNode dated = root_of("2001-12-14: a\n");
  EXPECT_EQ(match_text_key(dated, "2001-12-14", flags, nullptr).result, Result::Found);
  flags.timestamps = true;
  EXPECT_EQ(match_text_key(dated, "2001-12-14", flags, nullptr).result, Result::Undecided);
}

std::string bomb(int levels) {
  std::string text = "l0: &l0 [x, x, x, x, x, x, x, x, x, x]\n";
  for (int i = 1; i < levels; ++i) {
    const std::string alias = "*l" + std::to_string(i - 1);
    text += "l" + std::to_string(i) + ": &l" + std::to_string(i) + " [" + alias;
    for (int k = 1; k < 10; ++k) text += ", " + alias;
    text += "]\n";
  }
  return text;
}

TEST(RoundtripDocument, AliasFollowerLimits) {
  // Navigating never charges; reading charges each alias its expanded size,
  // against the plain decoder's budget.
  YamlNode laughs = root_of(bomb(9));
  AliasFollower aliases(laughs);
  const YamlNode& top_alias = laughs.pairs()[8].value.items()[0];  // *l7: 11111111 nodes
  EXPECT_EQ(aliases.target(top_alias), &laughs.pairs()[7].value);
  auto read = aliases.expand(top_alias);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error().message, kAliasBombMessage);
  // The charges add up over one operation, across roots too.
  YamlNode small = root_of(bomb(5));  // *l3: 11111 nodes each
  AliasFollower shared(small);
  int expanded = 0;
  while (shared.expand(small.pairs()[4].value.items()[0])) ++expanded;
  EXPECT_EQ(expanded, static_cast<int>(kAliasExpansionBudget / 11111));  // 100 nodes left
  YamlNode other = root_of(bomb(3));  // *l1: 111 nodes
  shared.rebind(other);
  EXPECT_FALSE(shared.expand(other.pairs()[2].value.items()[0])) << "the budget is spent";
  // Load-time bindings are never charged.
  auto bound = bind_anchors(laughs, UINT64_MAX);
  ASSERT_TRUE(bound);
  AliasFollower loaded(*bound);
  EXPECT_TRUE(loaded.expand(top_alias));

  // Nesting has no limit of its own, as on the plain road: aliases nested d
  // deep cost about d*d/2 of the budget.
  std::string chain = "a0: &a0 end\n";
  for (int i = 1; i <= 300; ++i)
    chain += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " [*a" + std::to_string(i - 1) + "]\n";
  YamlNode nested = root_of(chain);
  AliasFollower deep(nested);
  EXPECT_TRUE(deep.expand(nested.pairs()[300].value.items()[0]));
}

TEST(RoundtripDocument, ItemsThroughAliasesRebase) {
  DocumentRecord rec = document_of("x: &m {k: v}\nz: *m\ns: &s 1\nt: *s\nd: &d [1]\nd: [2]\nu: *d\n");
  const YamlNode& root = rec.roots.front();
  AliasFollower aliases(root);
  auto item = [&](const char* key) {
    NodePath path = {PathSegment::of_key(key)};
    const YamlNode* child = resolve_path(rec, 0, path);
    return view_or_value(root, path, *child, aliases);
  };
  ItemResult z = item("z");
  EXPECT_TRUE(z.is_view);
  EXPECT_EQ(z.path, (NodePath{PathSegment::of_key("x")}));
  EXPECT_FALSE(item("t").is_view);  // an alias of a scalar reads as its value
  // An anchor under a key that a later pair repeats has no path: the value.
  EXPECT_FALSE(item("u").is_view);

  NodePath path = {PathSegment::of_key("z")};
  const YamlNode* node = resolve_rebased(rec, 0, path, aliases, nullptr);
  ASSERT_NE(node, nullptr);
  EXPECT_TRUE(node->is_mapping());
  EXPECT_EQ(path, (NodePath{PathSegment::of_key("x")}));
  path = {PathSegment::of_key("u")};
  EXPECT_TRUE(resolve_rebased(rec, 0, path, aliases, nullptr)->is_alias());
  EXPECT_EQ(path, (NodePath{PathSegment::of_key("u")}));
}

}  // namespace
}  // namespace kestrine
