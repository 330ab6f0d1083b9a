// The node writer: comments and blank lines, scalar styles and the guards
// that keep every written text reading back as the tree holds it, flow
// collections, keys, sequences, nulls and deep trees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emit_util/plain_scalar.hpp"
#include "emit_util/scalar_text.hpp"
#include "emitter_support.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "roundtrip/emit/node_writer.hpp"

namespace kestrine {
namespace {

using namespace kestrine::testing;

// Re-rendered with every node edited, the text must come back as written
// (these layouts are the writer's own) and read back the same.
void expect_stable(const std::string& text) {
  const std::string out = rerender(text);
  EXPECT_EQ(out, text);
  EXPECT_EQ(decoded(out), decoded(text)) << text;
}

TEST(EmitterNodeWriter, CommentPlacementSurvivesARerender) {
  // Head comments, inline comments, blank lines between entries, comments on
  // an introducer line with the value below, after block scalars, foot
  // comments of nested and root collections.
  expect_stable(
      "# head of the document\n"
      "name: app   # inline after a value\n"
      "\n"
      "# between entries\n"
      "server:\n"
      "  # head of a nested mapping\n"
      "  host: localhost\n"
      "  port: 8080 # port\n"
      "# above the next key\n"
      "list:\n"
      "- a\n"
      "\n"
      "- b  # b\n"
      "key: # on the key line\n"
      "  value below\n"
      "script: |\n"
      "  echo one\n"
      "  echo two\n"
      "# after the block scalar\n"
      "after: 1\n"
      "last:\n"
      "  x: 1\n"
      "  # foot of a nested mapping\n"
      "# at the end\n");
  expect_stable(
      "block: # on the key line\n"
      "  # below it\n"
      "  a: 1\n"
      "seq: # on the key line\n"
      "- x\n"
      "items:\n"
      "  - # on the dash line\n"
      "    # below the dash line\n"
      "    value\n"
      "  - name: x # in a compact mapping\n"
      "    size: 2\n");
}

// Re-rendered with every node edited: comment texts keep their bytes after
// the "#", a comment after a flow collection stays after it on its line (the
// collection on one line), and empty documents stay documents.
TEST(EmitterNodeWriter, CommentBytesFlowCommentsAndEmptyDocumentsSurviveARerender) {
  const std::string_view texts[] = {
      "#####\n#X\n#\ttab\n# spaced\na: 1 #Y\nb: 2  #\nc:\n  d: 1\n  #nested foot\n#root foot\n",
      "a: [1, 2] # after\nb: {x: 1, y: [2]}   #map\nc:\n- [x] # item\n- {k: [v]} # item 2\n",
      "[1, 2] # a root\n",
      "k: [[a], # inner\n  [b]]\n",
      "---\n---\n---\na: 1\n",
      "a: 1\n---\n",
      "%YAML 1.2\n---\n",
  };
  for (std::string_view text : texts) {
    auto composed = compose_text(text, 0, /*empty_document_as_null=*/true);
    ASSERT_TRUE(composed.has_value()) << text;
    for (YamlNode& r : composed->roots) mark_modified(r);
    const std::string out = render_document(composed->roots, text, false, NullStyle::Default);
    if (text.starts_with("k: [[a]")) {
      EXPECT_EQ(out, "k: [\n    [a], # inner\n    [b]\n  ]\n");
    } else {
      EXPECT_EQ(out, text);
    }
    EXPECT_EQ(decoded(out), decoded(text)) << text;
  }
}

TEST(EmitterNodeWriter, StylesAnchorsAndTagsSurviveARerender) {
  expect_stable(
      "plain: text with spaces\n"
      "single: 'it''s'\n"
      "double: \"tab\\there\\n\"\n"
      "literal: |-\n"
      "  two\n"
      "  lines\n"
      "folded: >\n"
      "  one\n"
      "\n"
      "  two\n"
      "\n"
      "  next\n"
      "    more indented\n"
      "keep: |+\n"
      "  x\n"
      "\n"
      "anchored: &a {x: 1, y: [2, 3]}\n"
      "alias: *a\n"
      "tagged: !!str 123\n"
      "custom: !thing {a: b}\n"
      "? explicit\n"
      ": value\n"
      "*a : alias key\n"
      "empty:\n"
      "seq: !!seq &s\n"
      "- 1\n");
}

TEST(EmitterNodeWriter, ValuePaddingAndSequenceColumns) {
  expect_stable("a:   three spaces\nb: one\n");
  expect_stable("key:\n- at the key column\n- two\nnested:\n  - indented\n");
  expect_stable("-   padded item\n- - compact\n  - nested\n");

  YamlNode m = map_of({});
  m.pairs_mut().push_back(pair(scalar("k"), scalar("v")));
  m.pairs_mut()[0].value.comments.value_pad = 0;
  EXPECT_EQ(emit(m), "k: v\n");

  // Under dump layout a block sequence under a key is indented by the step,
  // or placed at the key's column with indentless sequences.
  YamlNode s = map_of({});
  s.pairs_mut().push_back(pair(scalar("k"), seq_of({scalar("x")})));
  EXPECT_EQ(emit_with(s, [](Emitter& e) { e.dump_layout = true; }), "k:\n  - x\n");
  EXPECT_EQ(emit_with(s, [](Emitter& e) {
              e.dump_layout = true;
              e.indentless_sequences = true;
            }),
            "k:\n- x\n");
}

// ---- guards: what a style cannot carry --------------------------------------------

TEST(EmitterNodeWriter, PlainTextsThatCannotStandPlainAreQuoted) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"line\nbreak", "\"line\\nbreak\""},
      {"- dash", "\"- dash\""},
      {"-", "\"-\""},
      {"key: value", "\"key: value\""},
      {"ends with:", "\"ends with:\""},
      {"a #comment", "\"a #comment\""},
      {" leading", "\" leading\""},
      {"trailing ", "\"trailing \""},
      {"&anchor", "\"&anchor\""},
      {"--- marker", "\"--- marker\""},
      {"...", "\"...\""},
      {"\xEF\xBB\xBF" "bom", "\"\xEF\xBB\xBF" "bom\""},
      {"a\x7F", "\"a\\x7f\""},
  };
  for (const auto& [text, want] : cases) {
    YamlNode m = map_of({});
    m.pairs_mut().push_back(pair(scalar("k"), scalar(text)));
    const std::string out = emit(m);
    EXPECT_EQ(out, "k: " + want + "\n") << text;
    EXPECT_EQ(decoded(out), decoded("k: " + want + "\n"));
  }
  // Texts that are fine as they are stay plain (block context adds no quotes
  // for indicators inside a text).
  for (std::string text : {"a-b", "-1", "?x", "a:b", "a#b", "http://x/#y", "yes", "[not a list"}) {
    YamlNode m = map_of({});
    m.pairs_mut().push_back(pair(scalar("k"), scalar(text)));
    if (text == "[not a list") {
      EXPECT_EQ(emit(m), "k: \"[not a list\"\n");
    } else {
      EXPECT_EQ(emit(m), "k: " + text + "\n");
    }
  }
  EXPECT_TRUE(plain_text_safe("a:b", false, PlainSafety::Exact));
  EXPECT_FALSE(plain_text_safe("a:b,", true, PlainSafety::Exact));
  EXPECT_FALSE(plain_text_safe("a:[b", true, PlainSafety::Exact));
}

TEST(EmitterNodeWriter, SingleQuotedTextsWithLineBreaksAreDoubleQuoted) {
  const std::string text = "k: 'first\n\n  second'\n";
  EXPECT_EQ(rerender(text), "k: \"first\\nsecond\"\n");
  EXPECT_EQ(decoded(rerender(text)), decoded(text));
  YamlNode m = map_of({});
  m.pairs_mut().push_back(pair(scalar("k"), scalar("tab\there", ScalarStyle::SingleQuoted)));
  EXPECT_EQ(emit(m), "k: \"tab\\there\"\n");
  m.pairs_mut()[0].value = scalar("it's", ScalarStyle::SingleQuoted);
  EXPECT_EQ(emit(m), "k: 'it''s'\n");
}

TEST(EmitterNodeWriter, FoldedBodiesFoldBackToTheirText) {
  const std::vector<std::string> texts = {
      "a\nb\n", "a\n\nb\n", "one two\nthree\n", "a\n  spaced\nb\n", "\n\nleading\n",
      "x\ny", "keep\n\n\n", "a \nb\n",
  };
  for (const std::string& t : texts) {
    YamlNode m = map_of({});
    m.pairs_mut().push_back(pair(scalar("k"), scalar(t, ScalarStyle::Folded)));
    const std::string out = emit(m);
    YamlNode want = map_of({});
    want.pairs_mut().push_back(pair(scalar("k"), scalar(t, ScalarStyle::DoubleQuoted)));
    EXPECT_EQ(decoded(out), decoded(emit(want))) << out;
    EXPECT_EQ(out[3], '>') << out;
  }
  YamlNode m = map_of({});
  m.pairs_mut().push_back(pair(scalar("k"), scalar("a\nb\n", ScalarStyle::Folded)));
  EXPECT_EQ(emit(m), "k: >\n  a\n\n  b\n");
}

TEST(EmitterNodeWriter, BlockStylesOnlyWhereTheTextFitsABlock) {
  EXPECT_TRUE(fits_block_scalar("a\nb\n"));
  EXPECT_TRUE(fits_block_scalar("no line feed"));
  EXPECT_TRUE(fits_block_scalar("\n\n"));
  EXPECT_FALSE(fits_block_scalar(" starts with a space\n"));
  EXPECT_FALSE(fits_block_scalar("last line of spaces\n  "));
  EXPECT_FALSE(fits_block_scalar("last line of spaces\n  \n"));
  EXPECT_FALSE(fits_block_scalar("carriage\rreturn"));
  EXPECT_FALSE(fits_block_scalar("nel\xC2\x85"));

  for (ScalarStyle style : {ScalarStyle::Literal, ScalarStyle::Folded}) {
    for (std::string t : {"a\n  ", " indented\nfirst\n", "cr\r\n"}) {
      YamlNode m = map_of({});
      m.pairs_mut().push_back(pair(scalar("k"), scalar(t, style)));
      YamlNode dq = map_of({});
      dq.pairs_mut().push_back(pair(scalar("k"), scalar(t, ScalarStyle::DoubleQuoted)));
      EXPECT_EQ(emit(m), emit(dq)) << t;
    }
  }
  // Inside a flow collection a block scalar is written double-quoted.
  YamlNode flow = seq_of({scalar("a\nb\n", ScalarStyle::Literal)}, CollectionStyle::Flow);
  EXPECT_EQ(emit(flow), "[\"a\\nb\\n\"]\n");
}

TEST(EmitterNodeWriter, KeptBlockTextIsCopiedOnlyWhereItReadsBackTheSame) {
  // Unedited in an edited document: header, indentation and trailing blank
  // lines exactly as read.
  const std::string text = "a: 1\nb: |2+\n    two spaces kept\n\n\nc: >-\n   odd\n   indent\n";
  std::vector<YamlNode> roots = compose_roots(text);
  roots[0].pairs_mut()[0].value.text_mut() = "2";
  roots[0].pairs_mut()[0].value.comments.modified = true;
  std::string want = text;
  want[3] = '2';
  EXPECT_EQ(render_document(roots, text, false, NullStyle::Default), want);

  // Moved into a flow collection, or deeper than its body is indented, the
  // kept text is not used: the scalar is written from its value.
  YamlNode lit = roots[0].pairs()[2].value;  // ">-\n   odd\n   indent\n", body at 3
  ASSERT_TRUE(lit.comments.raw().has_value());
  YamlNode flow = seq_of({lit}, CollectionStyle::Flow);
  EXPECT_EQ(emit(flow), "[\"odd indent\"]\n");

  YamlNode deep = map_of({});
  YamlNode inner = map_of({});
  YamlNode inner2 = map_of({});
  inner2.pairs_mut().push_back(pair(scalar("c"), lit));
  inner.pairs_mut().push_back(pair(scalar("b"), std::move(inner2)));
  deep.pairs_mut().push_back(pair(scalar("a"), std::move(inner)));
  const std::string out = emit(deep);
  EXPECT_EQ(out, "a:\n  b:\n    c: >-\n      odd indent\n");
  EXPECT_EQ(decoded(out), "Mapping([(String(\"a\"), Mapping([(String(\"b\"), Mapping([(String(\"c\"), String(\"odd indent\"))]))]))])\n");

  // An explicit indentation indicator counts from the enclosing structure:
  // the kept text is used only under a parent at the column it was read at.
  YamlNode ind = roots[0].pairs()[1].value;  // "|2+", key at column 0
  YamlNode nested = map_of({});
  YamlNode holder = map_of({});
  holder.pairs_mut().push_back(pair(scalar("b"), ind));
  nested.pairs_mut().push_back(pair(scalar("x"), std::move(holder)));
  const std::string nested_out = emit(nested);
  EXPECT_EQ(decoded(nested_out),
            "Mapping([(String(\"x\"), Mapping([(String(\"b\"), String(\"  two spaces kept\\n\\n\\n\"))]))])\n")
      << nested_out;
}

TEST(EmitterNodeWriter, KeptTextWithoutAFinalBreakIsOnlyUsedAtTheEnd) {
  // Read at the very end of its input, a kept text without a final line
  // break may gain one when something follows it; with "+" chomping that
  // changes the value, so such a text is then written from its value.
  for (const std::string text : {"b: |+\n  last", "b: |\n  last", "b: |-\n  last"}) {
    std::vector<YamlNode> roots = compose_roots(text);
    const std::string value = roots[0].pairs()[0].value.text();
    roots[0].pairs_mut().push_back(pair(scalar("c"), scalar("1")));
    roots[0].comments.modified = true;
    const std::string out = render_document(roots, text, false, NullStyle::Default);
    YamlNode want = map_of({});
    want.pairs_mut().push_back(pair(scalar("b"), scalar(value, ScalarStyle::DoubleQuoted)));
    want.pairs_mut().push_back(pair(scalar("c"), scalar("1")));
    EXPECT_EQ(decoded(out), decoded(emit(want))) << out;
    if (text.ends_with("|-\n  last")) EXPECT_EQ(out, text + "\nc: 1\n");
    // Left at the end, the text is copied as read.
    roots[0].pairs_mut().pop_back();
    EXPECT_EQ(render_document(roots, text, false, NullStyle::Default), text);
  }
}

TEST(EmitterNodeWriter, NoBlankLinesAfterKeepChomping) {
  // Blank lines before the next entry would become part of the kept text.
  YamlNode m = map_of({});
  m.pairs_mut().push_back(pair(scalar("a"), scalar("x\n\n", ScalarStyle::Literal)));
  m.pairs_mut().push_back(pair(scalar("b"), scalar("1")));
  m.pairs_mut()[1].key.comments.blank_before = 2;
  const std::string out = emit(m);
  EXPECT_EQ(out, "a: |+\n  x\n\nb: 1\n");
  EXPECT_EQ(decoded(out), decoded("{a: \"x\\n\\n\", b: 1}"));
}

TEST(EmitterNodeWriter, KeptBlockTextEndingInLoneCarriageReturns) {
  // A copied "+" text ends its own line with its last break, whichever it
  // is; nothing may follow it that the kept text would take in.
  for (const char* text : {"a: |+\n k\r\rb: 1\n", "a: >+\n k\r\r\r\rb: 1\n", "a: |+\n k\rb: 1\n"}) {
    std::vector<YamlNode> roots = compose_roots(text);
    ASSERT_EQ(roots.size(), 1u);
    roots[0].comments.modified = true;
    for (NodePair& p : roots[0].pairs_mut()) p.key.comments.modified = true;
    const std::string out = render_document(roots, text, false, NullStyle::Default);
    EXPECT_EQ(decoded(out), decoded(text)) << out;
  }
}

TEST(EmitterNodeWriter, BlockScalarHeaderCommentIsWrittenOnce) {
  const std::string text = "a: | # about a\n  body\nb: 1\n";
  // Kept text (holding the comment) in an edited document.
  std::vector<YamlNode> roots = compose_roots(text);
  roots[0].pairs_mut()[1].value.text_mut() = "2";
  roots[0].pairs_mut()[1].value.comments.modified = true;
  EXPECT_EQ(render_document(roots, text, false, NullStyle::Default), "a: | # about a\n  body\nb: 2\n");
  // Re-rendered from its value.
  EXPECT_EQ(rerender(text), text);
  // On the key line, with the block scalar below it.
  expect_stable("a: # about a\n  |\n  body\n");
}

// ---- flow collections ---------------------------------------------------------------

TEST(EmitterNodeWriter, FlowCollections) {
  // Commas and ": " inside flow items are quoted; the same text in block
  // context stays plain.
  YamlNode flow = seq_of({scalar("a, b"), scalar("c")}, CollectionStyle::Flow);
  EXPECT_EQ(emit(flow), "[\"a, b\", c]\n");
  EXPECT_EQ(emit_with(flow, [](Emitter& e) { e.single_quotes = true; }), "['a, b', c]\n");
  YamlNode block = seq_of({scalar("a, b")});
  EXPECT_EQ(emit(block), "- a, b\n");

  // One item with a comment puts every item on its own line.
  expect_stable("k: [\n    one,\n    two, # second\n    three\n  ]\n");

  // An alias used as a flow key is followed by a space.
  expect_stable("- &a x\n- {*a : 1, b: 2}\n");
  // Empty entries read as null are written as null.
  EXPECT_EQ(rerender("- [a, !!str , ~]\n- {: v, k: }\n"), "- [a, !!str , ~]\n- {null: v, k: null}\n");
}

TEST(EmitterNodeWriter, WidthFoldsLongValuesButNeverKeys) {
  std::string text;
  for (int i = 0; i < 20; ++i) text += "word" + std::to_string(i) + " ";
  text.pop_back();
  YamlNode m = map_of({});
  m.pairs_mut().push_back(pair(scalar("key"), scalar(text)));
  const std::string out = emit_with(m, [](Emitter& e) { e.width = 40; });
  EXPECT_EQ(out.substr(0, 6), "key: \"");
  EXPECT_NE(out.find("\n     word"), std::string::npos) << out;  // continuation at the quote's column
  EXPECT_EQ(decoded(out), "Mapping([(String(\"key\"), String(\"" + text + "\"))])\n");

  YamlNode k = map_of({});
  k.pairs_mut().push_back(pair(scalar(text), scalar("v")));
  EXPECT_EQ(emit_with(k, [](Emitter& e) { e.width = 40; }), text + ": v\n");

  YamlNode list = seq_of({}, CollectionStyle::Flow);
  for (int i = 0; i < 12; ++i) list.items_mut().push_back(scalar("item" + std::to_string(i)));
  const std::string wrapped = emit_with(list, [](Emitter& e) { e.width = 30; });
  EXPECT_NE(wrapped.find(",\n"), std::string::npos);
  EXPECT_EQ(decoded(wrapped), decoded(emit(list)));
}

// ---- keys ---------------------------------------------------------------------------

TEST(EmitterNodeWriter, KeysThatCannotStandImplicitAreExplicit) {
  // Longer than an implicit key may be.
  YamlNode m = map_of({});
  m.pairs_mut().push_back(pair(scalar(std::string(1500, 'k')), scalar("v")));
  std::string out = emit(m);
  EXPECT_EQ(out, "? " + std::string(1500, 'k') + "\n: v\n");
  EXPECT_EQ(decoded(out), "Mapping([(String(\"" + std::string(1500, 'k') + "\"), String(\"v\"))])\n");

  // A flow key whose items carry comments spans lines.
  YamlNode key = seq_of({scalar("a"), scalar("b")}, CollectionStyle::Flow);
  key.items_mut()[0].comments.inline_comment_mut() = "c";
  YamlNode m2 = map_of({});
  m2.pairs_mut().push_back(pair(std::move(key), scalar("v")));
  out = emit(m2);
  EXPECT_EQ(out.substr(0, 2), "? ");
  EXPECT_EQ(decoded(out), "Mapping([(Sequence([String(\"a\"), String(\"b\")]), String(\"v\"))])\n") << out;

  // A key with properties right after an empty value.
  expect_stable("a:\n? &x c\n: 3\n");
  EXPECT_EQ(decoded(rerender("a:\n? &x c\n: 3\n")), decoded("{a: , &x c: 3}"));

  // Synthetic keys with tags: the first inline, the later ones explicit.
  YamlNode tagged = map_of({});
  for (const char* k : {"a", "b"}) {
    YamlNode key_node = scalar(k);
    key_node.set_tag(OptText("!k"));
    key_node.synthetic = true;
    tagged.pairs_mut().push_back(pair(std::move(key_node), scalar("1")));
  }
  EXPECT_EQ(emit(tagged), "!k a: 1\n? !k b\n: 1\n");
}

// ---- nulls --------------------------------------------------------------------------

TEST(EmitterNodeWriter, NullsByStyleAndPosition) {
  auto doc = [](YamlNode value) {
    YamlNode m = map_of({});
    m.pairs_mut().push_back(pair(scalar("k"), std::move(value)));
    return m;
  };
  YamlNode synthetic;
  synthetic.synthetic = true;
  EXPECT_EQ(emit_to_string(doc(synthetic), NullStyle::Default), "k:\n");
  EXPECT_EQ(emit_to_string(doc(synthetic), NullStyle::Keyword), "k: null\n");
  EXPECT_EQ(emit_to_string(doc(synthetic), NullStyle::Tilde), "k: ~\n");
  // A null the composer made for a missing value stays empty in every style.
  for (NullStyle s : {NullStyle::Default, NullStyle::Keyword, NullStyle::Tilde})
    EXPECT_EQ(emit_to_string(doc(YamlNode()), s), "k:\n");
  // With an inline comment (right after the ":", where it is read back
  // from), and in flow.
  YamlNode commented;
  commented.comments.inline_comment_mut() = "none";
  EXPECT_EQ(emit(doc(commented)), "k: # none\n");
  YamlNode flow = seq_of({YamlNode(), synthetic}, CollectionStyle::Flow);
  EXPECT_EQ(emit_to_string(flow, NullStyle::Tilde), "[null, ~]\n");
  // A tagged empty node stays empty: its tag decides what it reads as.
  expect_stable("a: !!str\nb: [!!str , x]\n");
}

// ---- deep trees ---------------------------------------------------------------------

TEST(EmitterNodeWriter, DeepTreesAreWrittenOnFreshStackSegments) {
  constexpr int kDepth = 100000;
  // Block sequences nested on one line ("- - - x").
  YamlNode block = scalar("x");
  for (int i = 0; i < kDepth; ++i) {
    YamlNode s = seq_of({});
    s.items_mut().push_back(std::move(block));
    block = std::move(s);
    block.comments.compact = true;
  }
  std::string want;
  for (int i = 0; i < kDepth; ++i) want += "- ";
  EXPECT_EQ(emit(block), want + "x\n");

  YamlNode flow = scalar("x");
  for (int i = 0; i < kDepth; ++i) {
    YamlNode s = seq_of({}, CollectionStyle::Flow);
    s.items_mut().push_back(std::move(flow));
    flow = std::move(s);
  }
  EXPECT_EQ(emit(flow), std::string(kDepth, '[') + "x" + std::string(kDepth, ']') + "\n");
}

}  // namespace
}  // namespace kestrine
