// Composition of text into round-trip trees: structure, positions, styles,
// properties, documents and errors.
#include <gtest/gtest.h>

#include <string>

#include "roundtrip/compose/composer.hpp"
#include "roundtrip_test_util.hpp"

namespace kestrine {
namespace {

using testing::compose_error;
using testing::compose_ok;
using testing::render;
using testing::root_of;
using testing::value_of;

TEST(RoundtripComposer, StructureStylesAndProperties) {
  YamlNode root = root_of(
      "plain: a\n"
      "single: 'b'\n"
      "double: \"c\\td\"\n"
      "flow: {x: [1, 2], y: ~}\n"
      "tagged: !!str 3\n"
      "empty:\n"
      "? explicit\n"
      ": value\n");
  EXPECT_EQ(render(root),
            "{'plain': 'a', 'single': 'b', 'double': 'c\td', 'flow': f{'x': f['1', '2'], 'y': '~'}, "
            "'tagged': !!str '3', 'empty': ~, 'explicit': 'value'}");
  EXPECT_EQ(value_of(root, "single").scalar_style(), ScalarStyle::SingleQuoted);
  EXPECT_EQ(value_of(root, "double").scalar_style(), ScalarStyle::DoubleQuoted);
  EXPECT_EQ(value_of(root, "flow").style, CollectionStyle::Flow);
  EXPECT_EQ(root.style, CollectionStyle::Block);
  // A written "~" is a scalar; only empty content is Null.
  EXPECT_TRUE(value_of(value_of(root, "flow"), "y").is_scalar());
  EXPECT_TRUE(value_of(root, "empty").is_null());
  EXPECT_TRUE(root.pairs()[6].key.explicit_key);
  EXPECT_FALSE(root.pairs()[0].key.explicit_key);

  YamlNode verbatim = root_of("!<tag:example.com,2000:x> v\n");
  EXPECT_EQ(verbatim.tag().view(), "!<tag:example.com,2000:x>");
}

TEST(RoundtripComposer, DuplicateKeysAreKeptInOrder) {
  YamlNode root = root_of("a: 1\nb: 2\na: 3\n");
  EXPECT_EQ(render(root), "{'a': '1', 'b': '2', 'a': '3'}");
}

TEST(RoundtripComposer, ScalarPositionsAndEnds) {
  YamlNode root = root_of("key: value\nn\xc3\xa9: \"\xc3\xbc\"\n");
  const NodePair& first = root.pairs()[0];
  EXPECT_EQ(first.value.span, (Span{0, 0, 5, 5}));
  EXPECT_EQ(first.value.end_offset, 10u);
  EXPECT_EQ(first.value.end_line, 0u);
  EXPECT_EQ(first.value.end_column, 10u);
  // Columns count characters, offsets count bytes; the end of a quoted
  // scalar is past its closing quote.
  const NodePair& second = root.pairs()[1];
  EXPECT_EQ(second.key.end_column, 2u);
  EXPECT_EQ(second.value.span, (Span{0, 1, 4, 16}));
  EXPECT_EQ(second.value.end_offset, 20u);
  EXPECT_EQ(second.value.end_column, 7u);
  // A collection ends where its furthest child ends.
  EXPECT_EQ(root.end_offset, 20u);
  EXPECT_EQ(root.end_line, 1u);
  EXPECT_EQ(root.end_column, 7u);
}

TEST(RoundtripComposer, LongScalarEnds) {
  // Long texts are measured a word at a time: multi-byte characters and line
  // breaks anywhere in them must still count.
  std::string word;
  for (int i = 0; i < 21; ++i) word += "\xc3\xa9";  // 21 characters, 42 bytes
  YamlNode root = root_of("k: \"" + word + "\"\nl: \"" + word + "\n  " + word + "x\"\n");
  const YamlNode& k = value_of(root, "k");
  EXPECT_EQ(k.end_line, 0u);
  EXPECT_EQ(k.end_column, 3u + 23u);
  const YamlNode& l = value_of(root, "l");
  EXPECT_EQ(l.end_line, 2u);
  EXPECT_EQ(l.end_column, 2u + 21u + 2u);
  EXPECT_EQ(l.end_offset, l.span.offset + 1 + 42 + 1 + 2 + 42 + 2);
}

TEST(RoundtripComposer, ShortScalarEndsAtEveryLengthAndPlace) {
  // Short texts are read as one masked word when the input goes on far
  // enough, byte by byte at its very end; longer ones end with an
  // overlapping word (and the text itself is copied in words up to the
  // string's own buffer).  Every length, a multi-byte character at every
  // place, with and without more input after the scalar.
  for (std::size_t chars = 1; chars <= 18; ++chars) {
    for (std::size_t wide = 0; wide <= chars; ++wide) {
      std::string text;
      for (std::size_t i = 0; i < chars; ++i) text += i + 1 == wide ? "\xe2\x82\xac" : "a";
      for (const char* after : {"", "\n", "\nnext: 1\n"}) {
        YamlNode root = root_of("k: " + text + after);
        const YamlNode& k = value_of(root, "k");
        EXPECT_EQ(k.end_line, 0u) << text << "|" << after;
        EXPECT_EQ(k.end_column, 3u + chars) << text << "|" << after;
        EXPECT_EQ(k.end_offset, 3u + text.size()) << text << "|" << after;
        EXPECT_EQ(k.text(), text);  // short texts are copied inline
      }
    }
  }
}

TEST(RoundtripComposer, MultiLineAndCrLfEnds) {
  YamlNode root = root_of("a: \"x\r\n  y\"\r\nb: 1\r\n");
  const YamlNode& a = value_of(root, "a");
  EXPECT_EQ(a.end_line, 1u);
  EXPECT_EQ(a.end_column, 4u);
  EXPECT_EQ(a.end_offset, 11u);
  const NodePair& b = root.pairs()[1];
  EXPECT_EQ(b.key.span, (Span{0, 2, 0, 13}));
}

TEST(RoundtripComposer, EmptyContentPositions) {
  // A missing value is a Null at the zero position, in included files too.
  for (std::uint32_t file : {0u, 4u}) {
    auto roots = parse_roundtrip_file("a:\nb: 1\n", file);
    ASSERT_TRUE(roots.has_value());
    const YamlNode& root = roots->front();
    EXPECT_EQ(root.span.file_id, file);
    EXPECT_EQ(root.pairs()[1].value.span.file_id, file);
    const YamlNode& empty = root.pairs()[0].value;
    ASSERT_TRUE(empty.is_null());
    EXPECT_EQ(empty.span, Span{});
    EXPECT_EQ(empty.end_offset, 0u);
  }
  // A Null made for empty content has zero length; one that only its
  // properties make stands at them and ends after them (not where what
  // follows starts, whose comments are not its own).
  YamlNode seq = root_of("- \n- &a !t\n- x\n");
  const YamlNode& entry = seq.items()[0];
  ASSERT_TRUE(entry.is_null());
  EXPECT_EQ(entry.span, (Span{0, 0, 0, 0}));
  const YamlNode& anchored = seq.items()[1];
  ASSERT_TRUE(anchored.is_null());
  EXPECT_EQ(anchored.anchor().view(), "a");
  EXPECT_EQ(anchored.span, (Span{0, 1, 2, 5}));
  EXPECT_EQ(anchored.end_offset, 10u);
  EXPECT_EQ(anchored.end_line, 1u);
  EXPECT_EQ(anchored.end_column, 7u);
  // An end is never before the start, even when every child is such a Null.
  YamlNode keyless = root_of("x:\n  ? \n  : \n");
  const YamlNode& inner = value_of(keyless, "x");
  EXPECT_GE(inner.end_offset, inner.span.offset);
}

TEST(RoundtripComposer, AnchorsAndAliases) {
  YamlNode root = root_of("a: &x 1\nb: *x\n");
  const YamlNode& alias = value_of(root, "b");
  ASSERT_TRUE(alias.is_alias());
  EXPECT_EQ(alias.text(), "x");
  EXPECT_EQ(alias.span, (Span{0, 1, 3, 11}));
  EXPECT_EQ(alias.end_offset, alias.span.offset);
  EXPECT_EQ(value_of(root, "a").anchor().view(), "x");

  // The anchor is registered once its node is complete.
  EXPECT_EQ(compose_error("&a [*a]\n"), "unknown alias: *a (the alias refers to the node that contains it)");
  // Anchors do not carry over to the next document.
  EXPECT_EQ(compose_error("a: &x 1\n---\nb: *x\n"), "unknown alias: *x");
  EXPECT_EQ(compose_error("- *nowhere\n"), "unknown alias: *nowhere");
  EXPECT_EQ(compose_error("&a &b x\n"), "a node cannot have two anchors");
  EXPECT_EQ(compose_error("a: &x 1\nb: &y *x\n"), "an alias node cannot have an anchor or tag");
  EXPECT_EQ(compose_error("a: &x 1\nb: !t *x\n"), "an alias node cannot have an anchor or tag");
  // A later definition of the same name is allowed; both stay on their nodes.
  YamlNode twice = root_of("- &a 1\n- &a 2\n- *a\n");
  EXPECT_EQ(render(twice), "[&a '1', &a '2', *a]");
}

TEST(RoundtripComposer, ErrorPositions) {
  auto r = parse_roundtrip_file("a: 1\n- b\n", 2);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message, "a block collection cannot be a mapping key");
  EXPECT_EQ(r.error().span, (Span{2, 1, 0, 5}));

  r = parse_roundtrip("a: 1\nb\n");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message, "expected ':' after mapping key");
  EXPECT_EQ(r.error().span, (Span{0, 1, 0, 5}));

  // Scanner errors come back unchanged.
  r = parse_roundtrip("a: [\n");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message, "unclosed flow collection at end of input");
  EXPECT_EQ(r.error().span.line, 1u);
}

TEST(RoundtripComposer, ContentAfterTheRootIsAnError) {
  // Without this the second node would silently become another document.
  auto r = parse_roundtrip("- a\n- b\nkey: x\n");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message, "trailing content after document");
  EXPECT_EQ(r.error().span, (Span{0, 2, 0, 8}));
  EXPECT_EQ(compose_error("word1  # comment\nword2\n"), "trailing content after document");
  EXPECT_EQ(compose_error("---\n[a]\nb\n"), "trailing content after document");
  // Proper document boundaries stay fine.
  EXPECT_EQ(compose_ok("a\n...\nb\n---\nc\n").size(), 3u);
}

TEST(RoundtripComposer, ExplicitKeyWithIndentlessSequence) {
  YamlNode root = root_of("?\n- a\n- b\n:\n- c\n- d\n");
  EXPECT_EQ(render(root), "{['a', 'b']: ['c', 'd']}");
  EXPECT_TRUE(root.pairs()[0].key.explicit_key);
}

TEST(RoundtripComposer, IndentlessSequenceValue) {
  YamlNode root = root_of("a:\n- x\n- y\nb: 1\n");
  EXPECT_EQ(render(root), "{'a': ['x', 'y'], 'b': '1'}");
  const YamlNode& seq = value_of(root, "a");
  EXPECT_EQ(seq.span, (Span{0, 1, 0, 3}));
  EXPECT_EQ(seq.style, CollectionStyle::Block);
}

TEST(RoundtripComposer, FlowSequencePairs) {
  YamlNode root = root_of("[a: 1, ? b : 2, : 3, c]\n");
  EXPECT_EQ(render(root), "f[f{'a': '1'}, f{'b': '2'}, f{~: '3'}, 'c']");
  const YamlNode& pair = root.items()[0];
  EXPECT_EQ(pair.span, (Span{0, 0, 1, 1}));
  // A pair ends where its value ends, and so does the sequence around it.
  EXPECT_EQ(pair.end_offset, 5u);
  EXPECT_EQ(std::pair(pair.end_line, pair.end_column), std::pair(0u, 5u));
  EXPECT_EQ(root.end_offset, 22u);
  EXPECT_TRUE(root.items()[1].pairs()[0].key.explicit_key);
}

TEST(RoundtripComposer, SequenceEntryLayout) {
  YamlNode root = root_of("- - a\n-   b\n-  [c]\n- &x d\n-\n  e\n");
  EXPECT_TRUE(root.items()[0].comments.compact);
  EXPECT_EQ(root.items()[0].comments.value_pad, 0u);
  EXPECT_EQ(root.items()[0].items()[0].comments.value_pad, 1u);
  EXPECT_EQ(root.items()[1].comments.value_pad, 3u);
  EXPECT_EQ(root.items()[2].comments.value_pad, 2u);
  EXPECT_EQ(root.items()[3].comments.value_pad, 0u);  // properties: not recorded
  EXPECT_EQ(root.items()[4].comments.value_pad, 0u);  // starts on a later line
  EXPECT_FALSE(root.items()[1].comments.compact);
}

TEST(RoundtripComposer, BlockScalarRawText) {
  // Scanning stopped in the next line's indentation: the raw text ends at
  // the line break.
  YamlNode nested = root_of("a:\n  b: |\n    x\n  c: 1\n");
  EXPECT_EQ(value_of(value_of(nested, "a"), "b").comments.raw().view(), "|\n    x\n");
  // Ending at the end of the text keeps the whole slice.
  YamlNode last = root_of("a: >-\n  x\n  y\n\n  ");
  EXPECT_EQ(value_of(last, "a").comments.raw().view(), ">-\n  x\n  y\n\n  ");
  EXPECT_EQ(value_of(last, "a").scalar_style(), ScalarStyle::Folded);
  // Other scalars have no raw text.
  EXPECT_FALSE(value_of(nested, "a").comments.raw().has_value());
  YamlNode plain = root_of("a: x\n");
  EXPECT_FALSE(value_of(plain, "a").comments.raw().has_value());
}

TEST(RoundtripComposer, DocumentsAndDirectives) {
  auto roots = compose_ok("%YAML 1.2\n---\na: 1\n");
  ASSERT_EQ(roots.size(), 1u);
  EXPECT_TRUE(roots[0].explicit_start);
  ASSERT_EQ(roots[0].directives().size(), 1u);
  EXPECT_EQ(roots[0].directives()[0], "YAML 1.2");

  roots = compose_ok("a: 1\n");
  EXPECT_FALSE(roots[0].explicit_start);
  EXPECT_TRUE(roots[0].directives().empty());

  // Empty explicit documents: no roots here, Null roots in multi mode.
  EXPECT_TRUE(compose_ok("---\n---\n").empty());
  auto multi = parse_roundtrip_multi("---\n---\n");
  ASSERT_TRUE(multi.has_value());
  ASSERT_EQ(multi->roots.size(), 2u);
  for (const YamlNode& r : multi->roots) {
    EXPECT_TRUE(r.is_null());
    EXPECT_TRUE(r.explicit_start);
  }
  EXPECT_EQ(multi->roots[1].span.offset, 4u);
  EXPECT_EQ(multi->document_starts, (std::vector<std::size_t>{0, 4}));

  // Document starts: the first directive, else the marker, else the first
  // event; always 0 for the first root.
  multi = parse_roundtrip_multi("# c\na: 1\n---\nb\n...\n%YAML 1.2\n---\nc\n");
  ASSERT_TRUE(multi.has_value());
  ASSERT_EQ(multi->roots.size(), 3u);
  EXPECT_EQ(multi->document_starts, (std::vector<std::size_t>{0, 9, 19}));
  EXPECT_FALSE(multi->roots[0].explicit_start);
  EXPECT_TRUE(multi->roots[2].explicit_start);
  EXPECT_EQ(multi->roots[2].directives().size(), 1u);

  // Directives are root-only and an empty stream gives no roots.
  EXPECT_TRUE(compose_ok("").empty());
  EXPECT_TRUE(compose_ok("# only a comment\n").empty());
}

TEST(RoundtripComposer, ByteOrderMark) {
  auto roots = compose_ok("\xEF\xBB\xBF" "a: 1\n---\nb: 2\n");
  ASSERT_EQ(roots.size(), 2u);
  EXPECT_TRUE(roots[0].leading_bom);
  EXPECT_FALSE(roots[1].leading_bom);
  const NodePair& p = roots[0].pairs()[0];
  EXPECT_EQ(p.key.span, (Span{0, 0, 0, 3}));
  EXPECT_EQ(p.key.end_column, 1u);  // columns count from after the mark
  EXPECT_EQ(p.value.end_column, 4u);
  EXPECT_FALSE(compose_ok("a: 1\n")[0].leading_bom);
}

TEST(RoundtripComposer, NestingLimit) {
  std::string ok(999 * 2, ' ');
  for (std::size_t i = 0; i < ok.size(); i += 2) ok[i] = '-';
  EXPECT_EQ(compose_ok(ok + "a\n").size(), 1u);
  EXPECT_EQ(compose_error("- " + ok + "a\n"), "maximum nesting depth (1000) exceeded");
  // 1000 nested flow sequences compose; 1001 fail with the same message.
  EXPECT_EQ(compose_ok(std::string(1000, '[') + std::string(1000, ']')).size(), 1u);
  EXPECT_EQ(compose_error(std::string(1001, '[') + std::string(1001, ']')),
            "maximum nesting depth (1000) exceeded");
}

TEST(RoundtripComposer, LargeDocumentComposesAndReleases) {
  std::string text;
  for (int i = 0; i < 20000; ++i)
    text += "k" + std::to_string(i) + ": {a: [1, 2, \"x\"], b: &n" + std::to_string(i) + " v}\n";
  auto roots = compose_ok(text);
  ASSERT_EQ(roots.size(), 1u);
  EXPECT_EQ(roots[0].size(), 20000u);
  EXPECT_EQ(roots[0].pairs()[19999].value.pairs()[1].value.anchor().view(), "n19999");
}

}  // namespace
}  // namespace kestrine
