// Comment attachment and layout facts on composed trees.
#include <gtest/gtest.h>

#include "roundtrip/comments/comments.hpp"
#include "roundtrip_test_util.hpp"

namespace kestrine {
namespace {

using testing::compose_ok;
using testing::root_of;
using testing::value_of;

std::vector<HeadComment> heads(const YamlNode& n) { return n.comments.head(); }

TEST(RoundtripComments, HeadInlineAndBelowIntroducer) {
  YamlNode root = root_of(
      "# top\n"
      "a: 1 # after a\n"
      "b:   # on b\n"
      "  # below\n"
      "  c: 2\n");
  // The root is visited before its first key.
  EXPECT_EQ(heads(root), (std::vector<HeadComment>{{"top", false, 0}}));
  EXPECT_TRUE(root.pairs()[0].key.comments.head().empty());

  const NodePair& a = root.pairs()[0];
  EXPECT_FALSE(a.key.comments.inline_comment().has_value());
  EXPECT_EQ(a.value.comments.inline_comment().view(), "after a");
  EXPECT_EQ(a.value.comments.inline_spaces, 1u);
  EXPECT_FALSE(a.value.comments.inline_before_value);

  const YamlNode& b = value_of(root, "b");
  EXPECT_EQ(b.comments.inline_comment().view(), "on b");
  EXPECT_TRUE(b.comments.inline_before_value);
  EXPECT_EQ(b.comments.inline_spaces, 3u);
  EXPECT_EQ(heads(b), (std::vector<HeadComment>{{"below", true, 2}}));
}

TEST(RoundtripComments, SequenceIntroducers) {
  YamlNode root = root_of(
      "- # intro\n"
      "  # below\n"
      "  x\n"
      "-\n"
      "  # plain head\n"
      "  y\n");
  const YamlNode& x = root.items()[0];
  EXPECT_EQ(x.comments.inline_comment().view(), "intro");
  EXPECT_TRUE(x.comments.inline_before_value);
  EXPECT_EQ(x.comments.inline_spaces, 1u);
  EXPECT_EQ(heads(x), (std::vector<HeadComment>{{"below", true, 2}}));
  const YamlNode& y = root.items()[1];
  EXPECT_FALSE(y.comments.inline_comment().has_value());
  EXPECT_EQ(heads(y), (std::vector<HeadComment>{{"plain head", false, 2}}));
}

TEST(RoundtripComments, IntroducerCommentIsKeptWhenTheNodeHasItsOwn) {
  YamlNode root = root_of(
      "- # intro\n"
      "  # below\n"
      "  x # trailing\n");
  const YamlNode& x = root.items()[0];
  EXPECT_EQ(x.comments.inline_comment().view(), "trailing");
  EXPECT_FALSE(x.comments.inline_before_value);
  EXPECT_EQ(x.comments.inline_spaces, 1u);
  EXPECT_EQ(heads(x), (std::vector<HeadComment>{{"intro", false, 0}, {"below", false, 2}}));
}

// A comment after a flow collection belongs to the collection; an entry
// takes only one that follows it directly (past its comma).
TEST(RoundtripComments, TrailingCommentsOfFlowCollections) {
  struct Row {
    std::string_view text;
    std::vector<std::size_t> path;  // items, or pair values, from the root
    std::uint32_t spaces;
  };
  const Row rows[] = {
      {"[a, b] # c\n", {}, 1},
      {"k: [a, b]   # c\n", {0}, 3},
      {"k: {x: 1, y: [2]} # c\n", {0}, 1},
      {"- [&b a, *b] # c\n", {0}, 1},
      {"k: [a,\n  b] # c\n", {0}, 1},
      {"k: [a,\n  b\n  ] # c\n", {0}, 1},
      {"k: [[a], [b]] # c\n", {0}, 1},
      {"k: [[a], # c\n  [b]]\n", {0, 0}, 2},
      {"k: [\n  a, # c\n  b\n  ]\n", {0, 0}, 2},
      {"k: {\n  x: 1 # c\n  }\n", {0, 0}, 1},
      {"k: [a, \"b]\"] # c\n", {0}, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.text));
    YamlNode root = root_of(std::string(r.text));
    const YamlNode* n = &root;
    for (std::size_t i : r.path) n = n->is_mapping() ? &n->pairs()[i].value : &n->items()[i];
    EXPECT_EQ(n->comments.inline_comment().view(), "c");
    EXPECT_EQ(n->comments.inline_spaces, r.spaces);
    // No other node holds it.
    int holders = 0;
    auto count = [&](auto& self, const YamlNode& x) -> void {
      if (x.comments.inline_comment()) ++holders;
      for (const YamlNode& i : x.items()) self(self, i);
      for (const NodePair& p : x.pairs()) self(self, p.key), self(self, p.value);
    };
    count(count, root);
    EXPECT_EQ(holders, 1);
  }
}

TEST(RoundtripComments, InlineSpacingFollowsTheSource) {
  // Quotes and escapes count: the spacing is the one written.
  YamlNode root = root_of(
      "a: 'x'  # c1\n"
      "b: \"x\\ny\" # c2\n"
      "\n"
      "c: 1\n");
  EXPECT_EQ(value_of(root, "a").comments.inline_spaces, 2u);
  EXPECT_EQ(value_of(root, "b").comments.inline_comment().view(), "c2");
  EXPECT_EQ(value_of(root, "b").comments.inline_spaces, 1u);
  EXPECT_EQ(root.pairs()[2].key.comments.blank_before, 1u);
}

TEST(RoundtripComments, BlankLines) {
  YamlNode root = root_of(
      "\n"
      "a: 1\n"
      "\n"
      "# c\n"
      "\n"
      "b: 2\n"
      "  \t\n"
      "\n"
      "d: 3\n");
  // The first root never gets blank lines before it.
  EXPECT_EQ(root.comments.blank_before, 0u);
  const YamlNode& b = root.pairs()[1].key;
  EXPECT_EQ(b.comments.blank_before, 1u);  // the line after the comment is not counted
  EXPECT_EQ(heads(b), (std::vector<HeadComment>{{"c", false}}));
  // White-space-only lines are blank.
  EXPECT_EQ(root.pairs()[2].key.comments.blank_before, 2u);
  EXPECT_EQ(root.pairs()[0].key.comments.blank_before, 0u);

  // A block scalar's trailing empty lines belong to its raw text; they are
  // not counted again before the next key.
  YamlNode lit = root_of("a: |\n  x\n\n  y\n\nb: 1\n");
  EXPECT_EQ(value_of(lit, "a").comments.raw().view(), "|\n  x\n\n  y\n\n");
  EXPECT_EQ(lit.pairs()[1].key.comments.blank_before, 0u);
}

TEST(RoundtripComments, BlankLinesCountLineBreaksAsTheScannerDoes) {
  // A lone CR ends a line as LF and CR LF do.
  YamlNode cr = root_of("a: 1\r\r\rb: 1\r\n\r\nc: 1\n\r\nd: 1\n");
  EXPECT_EQ(cr.pairs()[1].key.comments.blank_before, 2u);
  EXPECT_EQ(cr.pairs()[2].key.comments.blank_before, 1u);
  EXPECT_EQ(cr.pairs()[3].key.comments.blank_before, 1u);

  // A block scalar's own trailing lines are its own at any line break.
  for (const char* text : {"a: |\n  x\n  y\n\nb: 1\n", "a: |\r  x\r  y\r\rb: 1\r",
                           "a: |\r\n  x\r\n  y\r\n\r\nb: 1\r\n"}) {
    YamlNode lit = root_of(text);
    EXPECT_EQ(lit.pairs()[1].key.comments.blank_before, 0u) << text;
  }
}

TEST(RoundtripComments, ValuePadAfterPlainKeys) {
  YamlNode root = root_of("a:    1\nbb: x\n\"q\":   2\nc: &x 3\nd:\n  4\n");
  EXPECT_EQ(value_of(root, "a").comments.value_pad, 4u);
  EXPECT_EQ(value_of(root, "bb").comments.value_pad, 1u);
  EXPECT_EQ(value_of(root, "q").comments.value_pad, 0u);  // quoted key: not recorded
  EXPECT_EQ(value_of(root, "c").comments.value_pad, 0u);  // properties: not recorded
  EXPECT_EQ(value_of(root, "d").comments.value_pad, 0u);  // next line
}

TEST(RoundtripComments, FootComments) {
  YamlNode root = root_of(
      "a:\n"
      "  b: 1\n"
      "  # nested foot\n"
      "# root foot\n");
  EXPECT_EQ(value_of(root, "a").comments.foot(), (std::vector<std::string>{"nested foot"}));
  EXPECT_EQ(root.comments.foot(), (std::vector<std::string>{"root foot"}));

  // A sequence at its key's column takes only the lines right of that column.
  root = root_of(
      "a:\n"
      "- 1\n"
      "  # item foot\n"
      "# root foot\n");
  EXPECT_EQ(value_of(root, "a").comments.foot(), (std::vector<std::string>{"item foot"}));
  EXPECT_EQ(root.comments.foot(), (std::vector<std::string>{"root foot"}));

  // Trailing comments go to the last root.
  auto roots = compose_ok("a: 1\n---\nb: 2\n# end\n");
  ASSERT_EQ(roots.size(), 2u);
  EXPECT_TRUE(roots[0].comments.foot().empty());
  EXPECT_EQ(roots[1].comments.foot(), (std::vector<std::string>{"end"}));

  // Comments between documents head the next root.
  roots = compose_ok("a: 1\n---\n# second\nb: 2\n");
  EXPECT_EQ(heads(roots[1]), (std::vector<HeadComment>{{"second", false}}));
}

TEST(RoundtripComments, UntouchedRootHasEmptyComments) {
  YamlNode root = root_of("a: [1, 2]\n");
  EXPECT_TRUE(root.comments.empty());
  EXPECT_TRUE(root.pairs()[0].key.comments.empty());
}

TEST(RoundtripComments, EmptyCommentsAndEveryCommentPlacedOnce) {
  YamlNode root = root_of("#\na: 1 #\nb: 2\n#\n");
  EXPECT_EQ(heads(root), (std::vector<HeadComment>{{"", false}}));
  EXPECT_EQ(value_of(root, "a").comments.inline_comment().view(), "");
  EXPECT_EQ(root.comments.foot(), (std::vector<std::string>{""}));
}

// The texts read with no space after their "#" are recorded per node, so
// that they are written back that way; the text itself is the same.
TEST(RoundtripComments, CommentsWithoutASpaceAfterTheHashAreNoted) {
  YamlNode root = root_of("#####\n# x\na: 1 #X\nb: 2 # Y\n#\tt\n#\n");
  EXPECT_EQ(heads(root), (std::vector<HeadComment>{{"####", false}, {"x", false}}));
  EXPECT_TRUE(root.comments.is_unspaced("####"));
  EXPECT_FALSE(root.comments.is_unspaced("x"));
  EXPECT_EQ(value_of(root, "a").comments.inline_comment().view(), "X");
  EXPECT_TRUE(value_of(root, "a").comments.is_unspaced("X"));
  EXPECT_FALSE(value_of(root, "b").comments.is_unspaced("Y"));
  EXPECT_EQ(root.comments.foot(), (std::vector<std::string>{"\tt", ""}));
  EXPECT_TRUE(root.comments.is_unspaced("\tt"));
  EXPECT_FALSE(root.comments.is_unspaced(""));
}

TEST(RoundtripComments, NodeEndPosition) {
  YamlNode root = root_of("a: [x, {b: cc}]\n");
  auto [line, col] = node_end_position(root);
  EXPECT_EQ(line, 0u);
  EXPECT_EQ(col, 13u);
  // A node built from a value is measured by its text.
  YamlNode built = YamlNode::scalar("one\ntwo", ScalarStyle::Plain, Span{0, 3, 5, 0});
  EXPECT_EQ(node_end_position(built), (std::pair<std::uint32_t, std::uint32_t>{4, 3}));
}

}  // namespace
}  // namespace kestrine
