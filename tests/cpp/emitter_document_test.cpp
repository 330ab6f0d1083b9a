// The document writer: unedited texts, edited documents, multi-document
// streams, directives, the YAML 1.2 header of upgraded documents, the final
// line break and include write-back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emitter_support.hpp"
#include "roundtrip/document/upgrade.hpp"
#include "roundtrip/emit/emitter.hpp"

namespace kestrine {
namespace {

using namespace kestrine::testing;

YamlNode& value_at(YamlNode& map, std::string_view key) {
  for (NodePair& p : map.pairs_mut())
    if (p.key.is_scalar() && p.key.text() == key) return p.value;
  ADD_FAILURE() << "no key " << key;
  static YamlNode none;
  return none;
}

void set_text(YamlNode& n, std::string text) {
  n.text_mut() = std::move(text);
  n.comments.modified = true;
}

TEST(EmitterDocument, UneditedTextComesBackByteForByte) {
  const std::vector<std::string> texts = {
      "\xEF\xBB\xBF# head\r\nkey:   'quoted'  # inline\r\n\r\nlist:\r\n- a\r\n-   b\r\n",
      "%YAML 1.2\n%TAG !e! tag:example.com,2000:\n---\n!e!thing {x: &a 1, y: *a}\n...\n",
      "a: |+\n  keep\n\n# foot\nb: >-\n  folded\n  text\n---\n- &x 1\n- *x\n",
      "no final break: \"x\"",
      "--- !!str\n'only a scalar'\n--- >\n  block at the end",
  };
  for (const std::string& text : texts) {
    auto composed = parse_roundtrip_multi(text);
    ASSERT_TRUE(composed.has_value()) << text;
    EXPECT_EQ(render_document(composed->roots, text, false, NullStyle::Default), text);
    DocumentRecord rec;
    rec.roots = std::move(composed->roots);
    rec.source_text = text;
    EXPECT_EQ(render_document(rec), text);
  }
}

TEST(EmitterDocument, AnEditedNodeKeepsTheRestOfTheLayout) {
  const std::string text =
      "# settings\n"
      "name: old   # the name\n"
      "\n"
      "# ports\n"
      "ports:\n"
      "  - 80    # http\n"
      "  - 443\n"
      "script: |\n"
      "  echo hi\n"
      "\n"
      "flags: [a, 'b']\n"
      "# end\n";
  std::vector<YamlNode> roots = compose_roots(text);
  ASSERT_EQ(roots.size(), 1u);
  set_text(value_at(roots[0], "name"), "new");
  std::string out = render_document(roots, text, false, NullStyle::Default);
  std::string want = text;
  want.replace(want.find("old  "), 5, "new  ");
  EXPECT_EQ(out, want);
  EXPECT_EQ(decoded(out), decoded(want));
}

TEST(EmitterDocument, EditedStreamsSeparateTheirDocuments) {
  const std::string text = "a: 1\n...\n%YAML 1.2\n---\nb: 2\n---\nc: 3\n";
  auto composed = parse_roundtrip_multi(text);
  ASSERT_TRUE(composed.has_value());
  auto& roots = composed->roots;
  ASSERT_EQ(roots.size(), 3u);
  // Written as if the later documents had no "---" of their own.
  roots[2].explicit_start = false;
  for (YamlNode& r : roots) mark_modified(r);
  const std::string out = render_document(roots, text, false, NullStyle::Default);
  EXPECT_EQ(out, "a: 1\n...\n%YAML 1.2\n---\nb: 2\n---\nc: 3\n");
  EXPECT_EQ(decoded(out), decoded(text));
}

TEST(EmitterDocument, CrLfTextsStayCrLfWhenEdited) {
  const std::string text = "# c\r\na: 1\r\nb: |\r\n  kept\r\n  block\r\nc: [x, y]\r\n";
  std::vector<YamlNode> roots = compose_roots(text);
  set_text(value_at(roots[0], "a"), "2");
  std::string want = text;
  want[8] = '2';
  EXPECT_EQ(render_document(roots, text, false, NullStyle::Default), want);
  EXPECT_EQ(upgrade_document_header("a: 1\r\n"), "%YAML 1.2\r\n---\r\na: 1\r\n");
}

TEST(EmitterDocument, EmptyDocuments) {
  EXPECT_EQ(render_document({}, std::nullopt, false, NullStyle::Default), "");
  // No document: nothing to declare a version for, and no document added.
  EXPECT_EQ(render_document({}, std::string_view("# c\n"), true, NullStyle::Default), "# c\n");
}

TEST(EmitterDocument, FinalBreakFollowsTheKeptBlockScalar) {
  const std::string text = "a: 1\nb: |\n  last";
  std::vector<YamlNode> roots = compose_roots(text);
  set_text(value_at(roots[0], "a"), "2");
  EXPECT_EQ(render_document(roots, text, false, NullStyle::Default), "a: 2\nb: |\n  last");
  // The same block scalar followed by more content keeps its line break.
  const std::string text2 = "b: |\n  last\nc: 3";
  roots = compose_roots(text2);
  set_text(value_at(roots[0], "c"), "4");
  EXPECT_EQ(render_document(roots, text2, false, NullStyle::Default), "b: |\n  last\nc: 4\n");
}

TEST(EmitterDocument, ByteOrderMarkAndSyntheticTaggedRoots) {
  YamlNode root = map_of({});
  root.pairs_mut().push_back(pair(scalar("a"), scalar("1")));
  root.leading_bom = true;
  EXPECT_EQ(emit_to_string(root, NullStyle::Default), "\xEF\xBB\xBF" "a: 1\n");

  YamlNode tagged = map_of({});
  tagged.pairs_mut().push_back(pair(scalar("a"), scalar("1")));
  tagged.set_tag(OptText("!thing"));
  tagged.synthetic = true;
  EXPECT_EQ(emit(tagged), "!thing\n  a: 1\n");
  EXPECT_EQ(decoded(emit(tagged)), "Tagged(\"!thing\", Mapping([(String(\"a\"), Int(1))]))\n");

  YamlNode tagged_null;
  tagged_null.set_tag(OptText("!nothing"));
  tagged_null.synthetic = true;
  EXPECT_EQ(emit(tagged_null), "!nothing\n");
}

// ---- the YAML 1.2 header of upgraded documents ------------------------------------

TEST(EmitterDocument, UpgradeHeaderReplacesTheVersionAndKeepsTheRest) {
  EXPECT_EQ(upgrade_document_header("%YAML 1.1\n---\na: 1\n"), "%YAML 1.2\n---\na: 1\n");
  EXPECT_EQ(upgrade_document_header("%YAML 1.1\n%TAG !e! tag:e.com:\n---\na: 1\n"),
            "%YAML 1.2\n%TAG !e! tag:e.com:\n---\na: 1\n");
  EXPECT_EQ(upgrade_document_header("a: 1\n"), "%YAML 1.2\n---\na: 1\n");
  EXPECT_EQ(upgrade_document_header("\xEF\xBB\xBF" "a: 1"), "\xEF\xBB\xBF%YAML 1.2\n---\na: 1");
  EXPECT_EQ(upgrade_document_header("--- a\n"), "%YAML 1.2\n--- a\n");
  EXPECT_EQ(upgrade_document_header("---\r\na: 1\r\n"), "%YAML 1.2\r\n---\r\na: 1\r\n");
  // "---" followed by a letter is content, not a marker; by a tab it is one.
  EXPECT_EQ(upgrade_document_header("---x\n"), "%YAML 1.2\n---\n---x\n");
  EXPECT_EQ(upgrade_document_header("---\tx\n"), "%YAML 1.2\n---\tx\n");
}

TEST(EmitterDocument, UpgradeHeaderPassesOverCommentsAndBlankLines) {
  // Neither an extra empty document nor a directive stranded inside one.
  EXPECT_EQ(upgrade_document_header("# c\n---\na: 1"), "%YAML 1.2\n# c\n---\na: 1");
  EXPECT_EQ(upgrade_document_header("# c\n\n%YAML 1.1\n  # d\n---\na: yes\n"),
            "# c\n\n%YAML 1.2\n  # d\n---\na: yes\n");
  // The version line is rewritten in place, its comment kept as written.
  EXPECT_EQ(upgrade_document_header("%YAML 1.1   #keep\r\n---\r\na: 1\r\n"), "%YAML 1.2   #keep\r\n---\r\na: 1\r\n");
  EXPECT_EQ(upgrade_document_header("# only a comment\n"), "%YAML 1.2\n---\n# only a comment\n");
  // A CR alone ends a line too; lines put in take the text's first break.
  EXPECT_EQ(upgrade_document_header("%FOO bar\r--- \"foo\"\r"), "%YAML 1.2\r%FOO bar\r--- \"foo\"\r");
  // "..." before the first document, and a byte-order mark opening a line,
  // come before the header: the first document's prologue starts after them.
  EXPECT_EQ(upgrade_document_header("# c\r\n...\r\na: 1\r\n"), "# c\r\n...\r\n%YAML 1.2\r\n---\r\na: 1\r\n");
  EXPECT_EQ(upgrade_document_header("\xEF\xBB\xBF\n\xEF\xBB\xBF--- a\n"),
            "\xEF\xBB\xBF\n\xEF\xBB\xBF%YAML 1.2\n--- a\n");
  EXPECT_EQ(upgrade_document_header("\r\r\xEF\xBB\xBF\xEF\xBB\xBF"
                                    "a: 1\n"),
            "\r\r\xEF\xBB\xBF\xEF\xBB\xBF%YAML 1.2\r---\ra: 1\n");
}

TEST(EmitterDocument, UpgradedDocumentsReadBackAsYaml12) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      // Re-rendered, the head comment follows the marker.
      {"# c\n%YAML 1.1\n---\na: yes\n", "%YAML 1.2\n---\n# c\na: true\n"},
      {"# c\n---\na: on\n", "%YAML 1.2\n---\n# c\na: true\n"},
      {"a: 0777  # octal\n", "%YAML 1.2\n---\na: 511  # octal\n"},
      {"plain: text\n", "%YAML 1.2\n---\nplain: text\n"},
      // A string under 1.1 stays one; comments keep their bytes.
      {"%YAML 1.1 #old\n---\na: 0o17 #X\nb: yes\n", "%YAML 1.2 #old\n---\na: \"0o17\" #X\nb: true\n"},
  };
  for (const auto& [text, want] : cases) {
    std::vector<YamlNode> roots = compose_roots(text);
    for (YamlNode& r : roots) upgrade_yaml11_scalars(r, VersionMode::Yaml11);
    const std::string out = render_document(roots, text, true, NullStyle::Default);
    EXPECT_EQ(out, want) << text;
    auto reread = parse_roundtrip(out);
    EXPECT_TRUE(reread.has_value()) << out;
    if (reread) EXPECT_EQ(reread->size(), roots.size()) << out;
  }
}

TEST(EmitterDocument, LaterDocumentsOfAnUpgradedStreamDeclareYaml12) {
  const std::string text = "a: yes\n...\n%YAML 1.1 # two\n---\nb: no\n";
  auto composed = parse_roundtrip_multi(text);
  ASSERT_TRUE(composed.has_value());
  for (YamlNode& r : composed->roots) upgrade_yaml11_scalars(r, VersionMode::Yaml11);
  EXPECT_EQ(render_document(composed->roots, text, true, NullStyle::Default),
            "%YAML 1.2\n---\na: true\n...\n%YAML 1.2 # two\n---\nb: false\n");
}

// ---- include write-back ------------------------------------------------------------

TEST(EmitterDocument, IncludedSubtreesAreWrittenAsDirectives) {
  std::vector<YamlNode> roots = compose_roots("name: x\nsub:\n  port: 80\n  host: h\n");
  YamlNode& sub = value_at(roots[0], "sub");
  sub.set_source(IncludeSource{"!include", "sub.yaml", 1});
  set_text(value_at(sub, "port"), "81");
  EXPECT_EQ(render_document(roots, std::nullopt, false, NullStyle::Default),
            "name: x\nsub: !include sub.yaml\n");

  // The anchor written on the directive stays with the directive.
  sub.set_anchor("s");
  EXPECT_EQ(render_document(roots, std::nullopt, false, NullStyle::Default),
            "name: x\nsub: !include &s sub.yaml\n");
  EXPECT_EQ(emit_include_subtree(sub), "port: 81\nhost: h\n");
}

TEST(EmitterDocument, IncludeTargetsAreQuotedWhereTheyCannotStandPlain) {
  YamlNode item = scalar("ignored");
  item.set_source(IncludeSource{"!include", "a, b.yaml", std::nullopt});
  YamlNode flow = seq_of({}, CollectionStyle::Flow);
  flow.items_mut().push_back(item);
  flow.items_mut().push_back(scalar("c"));
  EXPECT_EQ(emit(flow), "[!include \"a, b.yaml\", c]\n");
  YamlNode block = seq_of({});
  block.items_mut().push_back(std::move(item));
  EXPECT_EQ(emit(block), "- !include a, b.yaml\n");
}

}  // namespace
}  // namespace kestrine
