// The plain decoder: documents, directives, anchors and aliases, tags, merge
// keys, key policies and warnings.
#include <gtest/gtest.h>

#include "decode/decoder.hpp"
#include "decode_support.hpp"

namespace kestrine {
namespace {

using test::decode_all;
using test::error_message;
using test::opts_with;
using test::show;

// ---- documents ---------------------------------------------------------------

TEST(DecodeDocuments, EmptyAndMarkerOnlyStreams) {
  for (const char* text : {"", "# only a comment\n", "\n\n  # two\n"}) {
    auto r = decode_stream(text, {});
    ASSERT_TRUE(r) << text;
    EXPECT_TRUE(r->documents.empty()) << text;
    EXPECT_TRUE(r->warnings.empty()) << text;
  }
  EXPECT_EQ(decode_all("---\n"), "null");
  EXPECT_EQ(decode_all("--- \n...\n"), "null");
  EXPECT_EQ(decode_all("---\n---\n"), "null | null");
}

TEST(DecodeDocuments, ShapesAndScalars) {
  EXPECT_EQ(decode_all("a: 1\nb: [x, 2.5, true, ~]\nc:\n  - 'q'\n  - {k: v}\n"),
            R"({"a": 1, "b": ["x", 2.5, true, null], "c": ["q", {"k": "v"}]})");
  EXPECT_EQ(decode_all("key:\n- a\n-\n- c\nnext: 1\n"),
            R"({"key": ["a", null, "c"], "next": 1})");
  EXPECT_EQ(decode_all("- - a\n  - b\n- c\n"), R"([["a", "b"], "c"])");
  EXPECT_EQ(decode_all("? a\n: 1\n? b\n"), R"({"a": 1, "b": null})");
  EXPECT_EQ(decode_all("{a, b: , : c}"), R"({"a": null, "b": null, null: "c"})");
  EXPECT_EQ(decode_all("[a: 1, b]"), R"([{"a": 1}, "b"])");
  EXPECT_EQ(decode_all("'123'\n"), R"("123")");
  EXPECT_EQ(decode_all("0x1F\n"), "31");
  EXPECT_EQ(decode_all("-9223372036854775808\n"), "big:-9223372036854775808");
  EXPECT_EQ(decode_all("0xFFFFFFFFFFFFFFFF\n"), "big:18446744073709551615");
}

TEST(DecodeDocuments, MultipleDocuments) {
  EXPECT_EQ(decode_all("a\n---\nb\n...\n---\n[c]\n"), R"("a" | "b" | ["c"])");
  EXPECT_EQ(decode_all("--- a\n--- b\n"), R"("a" | "b")");
}

TEST(DecodeDocuments, VersionModeDecidesPlainScalars) {
  EXPECT_EQ(decode_all("[yes, 010, 1:30]"), R"(["yes", "010", "1:30"])");
  EXPECT_EQ(decode_all("[yes, 010, 1:30]", opts_with(DuplicateKeyPolicy::Silent, VersionMode::Yaml11)),
            "[true, 8, 90]");
  // A %YAML directive inside the text is only validated.
  EXPECT_EQ(decode_all("%YAML 1.1\n---\n[yes]\n"), R"(["yes"])");
}

TEST(DecodeDocuments, Timestamps) {
  DecodeOptions o;
  EXPECT_EQ(decode_all("[2002-12-14]", o), R"(["2002-12-14"])");
  o.timestamps = true;
  EXPECT_EQ(decode_all("[2002-12-14, '2002-12-14', !!str 2002-12-14, 2001-12-14t21:59:43.10-05:00]", o),
            R"([ts:2002-12-14, "2002-12-14", "2002-12-14", ts:2001-12-14T21:59:43.100000-05:00])");
}

TEST(DecodeDocuments, StringsReferToSourceOrScannerStorage) {
  // Escapes and folding produce new texts; they must survive the move of the
  // result and the end of the scan.
  std::expected<DecodedStream, DecoderError> r = decode_stream("a: \"x\\ty\"\nb: >\n  p\n  q\n", {});
  ASSERT_TRUE(r);
  DecodedStream moved = std::move(*r);
  EXPECT_EQ(show(moved.documents[0]), "{\"a\": \"x\ty\", \"b\": \"p q\n\"}");

  auto owned = decode_stream_owned(std::string("k: 'it''s'\n"), {});
  ASSERT_TRUE(owned);
  DecodedStream o2 = std::move(*owned);
  EXPECT_EQ(show(o2.documents[0]), R"({"k": "it's"})");
}

TEST(DecodeDocuments, ScannerErrorsKeepTheirPosition) {
  auto r = decode_stream("a: 1\nb: [x\n", {});
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, DecoderErrorKind::Parse);
  EXPECT_EQ(r.error().message, "unclosed flow collection at end of input");
  EXPECT_EQ(r.error().span.line, 2u);
  // Included files carry their number in every position.
  DecodeOptions o;
  o.file_id = 3;
  auto alias = decode_stream("a: *x\n", o);
  ASSERT_FALSE(alias);
  EXPECT_EQ(alias.error().span.file_id, 3u);
  EXPECT_EQ(decode_stream("[\n", o).error().span.file_id, 3u);
}

TEST(DecodeDocuments, StructureErrors) {
  auto r = decode_stream("a: 1\nb\nc: 2\n", {});
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "expected ':' after mapping key");
  EXPECT_EQ(r.error().span.line, 1u);
  EXPECT_EQ(r.error().span.column, 0u);
}

// ---- directives --------------------------------------------------------------

TEST(DecodeDirectives, YamlVersionForms) {
  for (const char* ok : {"%YAML 1.2\n---\na\n", "%YAML 1.1\n---\na\n", "%YAML 2.0\n---\na\n",
                         "%YAML 1.2 # comment\n---\na\n", "%YAML\t1.1\n---\na\n"}) {
    EXPECT_EQ(decode_all(ok), R"("a")") << ok;
  }
  for (const char* bad : {"%YAML\n---\na\n", "%YAML 1\n---\na\n", "%YAML 1.2.3\n---\na\n",
                          "%YAML 1.x\n---\na\n", "%YAML 1.2 extra\n---\na\n",
                          "%YAML #1.2\n---\na\n", "%YAML .2\n---\na\n"}) {
    auto r = decode_stream(bad, {});
    ASSERT_FALSE(r) << bad;
    EXPECT_EQ(r.error().message, "invalid %YAML directive") << bad;
    EXPECT_EQ(r.error().span.line, 0u);
  }
  auto dup = decode_stream("%YAML 1.2\n%YAML 1.2\n---\na\n", {});
  ASSERT_FALSE(dup);
  EXPECT_EQ(dup.error().message, "duplicate %YAML directive");
  EXPECT_EQ(dup.error().span.line, 1u);
  // Each document has its own directive run.
  EXPECT_EQ(decode_all("%YAML 1.2\n---\na\n...\n%YAML 1.2\n---\nb\n"), R"("a" | "b")");
}

TEST(DecodeDirectives, UnknownDirectivesAreIgnored) {
  EXPECT_EQ(decode_all("%FOO bar baz\n---\na\n"), R"("a")");
}

TEST(DecodeDirectives, DirectiveNeedsDocumentStart) {
  auto r = decode_stream("%YAML 1.2\na: 1\n", {});
  if (!r) {
    // Either stage may refuse it; the decoder's message names the "---".
    EXPECT_FALSE(r.error().message.empty());
  }
  EXPECT_EQ(error_message("%YAML 1.2\n"), "directive must be followed by a document start (---)");
}

TEST(DecodeDirectives, TagHandles) {
  const char* text =
      "%TAG !e! tag:example.com,2000:app/\n"
      "---\n"
      "- !e!foo 1\n"
      "- !e!bar [a]\n"
      "...\n"
      "---\n"
      "- !e!foo 1\n";
  auto r = decode_stream(text, {});
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "undefined tag handle: !e!");
  EXPECT_EQ(r.error().span.line, 6u);

  EXPECT_EQ(decode_all("%TAG !e! tag:example.com,2000:app/\n---\n- !e!foo 1\n- !e!bar [a]\n"),
            R"([tag:example.com,2000:app/foo "1", tag:example.com,2000:app/bar ["a"]])");
  EXPECT_EQ(error_message("- !x!y 1\n"), "undefined tag handle: !x!");
  EXPECT_EQ(error_message("%TAG !e! a:\n%TAG !e! b:\n---\nx\n"),
            "duplicate %TAG directive for handle '!e!'");
  // "!" and "!!" can be redeclared.
  EXPECT_EQ(decode_all("%TAG ! tag:local,1:\n---\n!thing x\n"), R"(tag:local,1:thing "x")");
  EXPECT_EQ(decode_all("%TAG !! tag:other,1:\n---\n!!int 12\n"), R"(tag:other,1:int "12")");
  // A malformed %TAG is ignored.
  EXPECT_EQ(decode_all("%TAG e! tag:x:\n---\na\n"), R"("a")");
}

// ---- tags --------------------------------------------------------------------

TEST(DecodeTags, CoreTagsResolve) {
  EXPECT_EQ(decode_all("[!!int '12', !!str 12, !!float 1, !!null '', !!bool true]"),
            R"([12, "12", 1.0, null, true])");
  EXPECT_EQ(decode_all("[!!int 1.5, !!bool yes]"), R"(["1.5", "yes"])");
  EXPECT_EQ(decode_all("!!map {a: 1}"), R"({"a": 1})");
  EXPECT_EQ(decode_all("!!seq [1]"), "[1]");
  // A tag with no content is the empty text under that tag.
  EXPECT_EQ(decode_all("a: !!str\nb: !!null\nc: !!int\n"), R"({"a": "", "b": null, "c": ""})");
}

TEST(DecodeTags, CustomTagsAreKept) {
  EXPECT_EQ(decode_all("!point {x: 1}"), R"(!point {"x": 1})");
  EXPECT_EQ(decode_all("- !seq [1]\n- !s 12\n- !<tag:x,1:y> z\n"),
            R"([!seq [1], !s "12", !<tag:x,1:y> "z"])");
  EXPECT_EQ(decode_all("a: !empty\n"), R"({"a": !empty ""})");
  EXPECT_EQ(decode_all("key: !t\n- a\n- b\n"), R"({"key": !t ["a", "b"]})");
}

// ---- anchors and aliases -----------------------------------------------------

TEST(DecodeAnchors, AliasesToScalarsAndCollections) {
  EXPECT_EQ(decode_all("a: &x 1\nb: *x\n"), R"({"a": 1, "b": 1})");
  EXPECT_EQ(decode_all("a: &s [1, {k: v}]\nb: *s\nc: [*s]\n"),
            R"({"a": [1, {"k": "v"}], "b": [1, {"k": "v"}], "c": [[1, {"k": "v"}]]})");
  EXPECT_EQ(decode_all("- &t !foo bar\n- *t\n"), R"([!foo "bar", !foo "bar"])");
  // An anchor on an empty value defines a null.
  EXPECT_EQ(decode_all("a: &e\nb: *e\n"), R"({"a": null, "b": null})");
  // Properties at the key column after an empty value belong to the next key.
  EXPECT_EQ(decode_all("a:\n&x c: 3\nd: *x\n"), R"({"a": null, "c": 3, "d": "c"})");
  EXPECT_EQ(decode_all("a: !!str\n!!str c: 3\n"), R"({"a": "", "c": 3})");
}

TEST(DecodeAnchors, RedefinitionUsesTheLatest) {
  EXPECT_EQ(decode_all("- &a 1\n- *a\n- &a 2\n- *a\n"), "[1, 1, 2, 2]");
  // Redefining inside its own content refers to the earlier definition.
  EXPECT_EQ(decode_all("- &a [x]\n- &a [*a, *a]\n- *a\n"),
            R"([["x"], [["x"], ["x"]], [["x"], ["x"]]])");
}

TEST(DecodeAnchors, UnknownAliases) {
  auto r = decode_stream("a: 1\nb: *nope\n", {});
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message, "unknown alias: *nope");
  EXPECT_EQ(r.error().span.line, 1u);
  EXPECT_EQ(r.error().span.column, 3u);
  // Anchors do not reach the next document.
  EXPECT_EQ(error_message("&a x\n---\n*a\n"), "unknown alias: *a");
  // An alias to a node still being built is unknown.
  EXPECT_EQ(error_message("&a [*a]\n"), "unknown alias: *a (the alias refers to the node that contains it)");
}

TEST(DecodeAnchors, PropertyErrors) {
  EXPECT_EQ(error_message("a: &x &y 1\n"), "a node cannot have two anchors");
  EXPECT_EQ(error_message("- &x 1\n- !t *x\n"), "an alias node cannot have an anchor or tag");
}

// ---- merge keys --------------------------------------------------------------

TEST(DecodeMerge, ThroughAliases) {
  EXPECT_EQ(decode_all("base: &b {a: 1, b: 2}\nm:\n  <<: *b\n  b: 3\n"),
            R"({"base": {"a": 1, "b": 2}, "m": {"a": 1, "b": 3}})");
  EXPECT_EQ(decode_all("base: &b {a: 1, b: 2}\nm:\n  b: 3\n  <<: *b\n"),
            R"({"base": {"a": 1, "b": 2}, "m": {"b": 3, "a": 1}})");
  EXPECT_EQ(decode_all("- &p {x: 1}\n- &q {x: 2, y: 2}\n- <<: [*p, *q]\n"),
            R"([{"x": 1}, {"x": 2, "y": 2}, {"x": 1, "y": 2}])");
  EXPECT_EQ(decode_all("a: {<<: , k: v}\n"), R"({"a": {"k": "v"}})");
  EXPECT_EQ(decode_all("- <<\n- {a: <<}\n"), R"(["<<", {"a": "<<"}])");
}

TEST(DecodeMerge, SharedSubtreesMergeEverywhere) {
  // An anchored mapping that itself holds a merge key, used by several
  // aliases: every occurrence is merged, and the other occurrences are not
  // disturbed by the folding of one of them.
  const char* text =
      "defs: &d\n"
      "  base: &b {x: 1, y: 2}\n"
      "  item: &i {<<: *b, y: 3}\n"
      "one: *d\n"
      "two: [*i, *i]\n"
      "three: {<<: *i, z: 4}\n";
  EXPECT_EQ(decode_all(text),
            R"({"defs": {"base": {"x": 1, "y": 2}, "item": {"x": 1, "y": 3}}, )"
            R"("one": {"base": {"x": 1, "y": 2}, "item": {"x": 1, "y": 3}}, )"
            R"("two": [{"x": 1, "y": 3}, {"x": 1, "y": 3}], "three": {"x": 1, "y": 3, "z": 4}})");
}

TEST(DecodeMerge, MergeKeysAreNeverDuplicates) {
  const char* text = "- &a {x: 1}\n- &b {y: 2}\n- {<<: *a, <<: *b}\n";
  EXPECT_EQ(decode_all(text, opts_with(DuplicateKeyPolicy::Error)),
            R"([{"x": 1}, {"y": 2}, {"x": 1, "y": 2}])");
}

// ---- key policies ------------------------------------------------------------

TEST(DecodeKeys, DuplicateError) {
  const DecodeOptions o = opts_with(DuplicateKeyPolicy::Error);
  auto r = decode_stream("a: 1\nb: 2\na: 3\n", o);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, DecoderErrorKind::DuplicateKey);
  EXPECT_EQ(r.error().message, "duplicate mapping key: a");
  EXPECT_EQ(r.error().span.line, 2u);
  EXPECT_EQ(r.error().span.column, 0u);

  // Keys equal as Python values are one key, whatever their spelling.
  for (const char* text : {"{1: a, 1.0: b}", "{true: a, 1: b}", "{0: a, false: b}",
                           "{0: a, -0.0: b}", "{0x10: a, 16: b}", "{0o17: a, 15: b}",
                           "{+18446744073709551616: a, 18446744073709551616: b}",
                           "{0xFFFFFFFFFFFFFFFF: a, 18446744073709551615: b}",
                           "{'a': 1, \"a\": 2}", "{[1, 2]: a, [1.0, 2]: b}", "{~: a, null: b}"}) {
    auto e = decode_stream(text, o);
    ASSERT_FALSE(e) << text;
    EXPECT_EQ(e.error().kind, DecoderErrorKind::DuplicateKey) << text;
    EXPECT_TRUE(e.error().message.starts_with("duplicate mapping key: ")) << text;
  }
  // Different values, and equal keys in different mappings, are fine.
  for (const char* text : {"{1: a, 2: b}", "{'1': a, 1: b}", "{a: {k: 1}, b: {k: 2}}",
                           "{1.5: a, 1: b}", "[{a: 1}, {a: 2}]", "{a: [{a: 1}]}"}) {
    EXPECT_TRUE(decode_stream(text, o)) << text;
  }
}

TEST(DecodeKeys, DuplicatesInLargeMappings) {
  // Small mappings compare string keys linearly and larger ones through an
  // index: a repeat is found at every size, whichever key it repeats.
  const DecodeOptions o = opts_with(DuplicateKeyPolicy::Error);
  for (int size : {2, 7, 8, 9, 40}) {
    std::string base;
    for (int i = 0; i < size; ++i) base += "k" + std::to_string(i) + ": " + std::to_string(i) + "\n";
    EXPECT_TRUE(decode_stream(base, o)) << size;
    for (int dup : {0, size / 2, size - 1}) {
      const std::string text = base + "k" + std::to_string(dup) + ": x\n";
      auto r = decode_stream(text, o);
      ASSERT_FALSE(r) << size << " " << dup;
      EXPECT_EQ(r.error().message, "duplicate mapping key: k" + std::to_string(dup));
      EXPECT_EQ(r.error().span.line, static_cast<std::uint32_t>(size));
    }
  }
  // Nested mappings do not disturb their parent's index.
  std::string nested;
  for (int i = 0; i < 12; ++i) nested += "k" + std::to_string(i) + ": {a: 1, b: 2, c: {k1: 1}}\n";
  EXPECT_TRUE(decode_stream(nested, o));
  EXPECT_EQ(error_message(nested + "k11: 0\n", o), "duplicate mapping key: k11");
}

TEST(DecodeKeys, DuplicateWarnKeepsBothPairs) {
  auto r = decode_stream("a: 1\nb: 2\na: 3\n1: x\n1.0: y\n", opts_with(DuplicateKeyPolicy::Warn));
  ASSERT_TRUE(r);
  EXPECT_EQ(show(r->documents[0]), R"({"a": 1, "b": 2, "a": 3, 1: "x", 1.0: "y"})");
  ASSERT_EQ(r->warnings.size(), 2u);
  EXPECT_EQ(r->warnings[0], "duplicate mapping key 'a' at line 3, column 1; keeping the last value");
  EXPECT_TRUE(r->warnings[1].starts_with("duplicate mapping key '")) << r->warnings[1];
  EXPECT_TRUE(r->warnings[1].ends_with("' at line 5, column 1; keeping the last value"));

  auto silent = decode_stream("a: 1\na: 3\n", {});
  ASSERT_TRUE(silent);
  EXPECT_TRUE(silent->warnings.empty());
  EXPECT_EQ(show(silent->documents[0]), R"({"a": 1, "a": 3})");
}

TEST(DecodeKeys, DuplicatesThroughAliasesAndNesting) {
  const DecodeOptions o = opts_with(DuplicateKeyPolicy::Error);
  EXPECT_EQ(error_message("- &k key\n- {*k : 1, key: 2}\n", o), "duplicate mapping key: key");
  // A nested mapping's keys do not clash with its parent's.
  EXPECT_TRUE(decode_stream("a:\n  a:\n    a: 1\n  b: 2\nb: 3\n", o));
  // The check resumes correctly in the parent after a nested mapping.
  EXPECT_EQ(error_message("a:\n  x: 1\nb:\n  x: 2\na: 3\n", o), "duplicate mapping key: a");
}

TEST(DecodeKeys, ComplexKeys) {
  DecodeOptions o;
  o.reject_complex_keys = true;
  auto r = decode_stream("a: 1\n? [x, y]\n: v\n", o);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, DecoderErrorKind::ComplexKey);
  EXPECT_EQ(r.error().message, "complex mapping key (a sequence used as a key)");
  EXPECT_EQ(r.error().span.line, 1u);
  EXPECT_EQ(error_message("{{a: 1}: v}", o), "complex mapping key (a mapping used as a key)");
  EXPECT_EQ(error_message("[[a]: v]", o), "complex mapping key (a sequence used as a key)");
  // A tagged collection is not refused.
  EXPECT_TRUE(decode_stream("? !t [x]\n: v\n", o));
  // Without the option the key is kept.
  EXPECT_EQ(decode_all("? [x, y]\n: v\n"), R"({["x", "y"]: "v"})");
}

TEST(DecodeKeys, ExplicitKeyWithSequenceAtItsOwnColumn) {
  // The "- " entries of an explicit key or value may stand at the column of
  // the "?" and ":" (yaml-test-suite 6PBE): one pair, not two null keys.
  EXPECT_EQ(decode_all("---\n?\n- a\n- b\n:\n- c\n- d\n"), R"({["a", "b"]: ["c", "d"]})");
  EXPECT_EQ(decode_all("?\n- a\n-\n? x\n: y\n"), R"({["a", null]: null, "x": "y"})");
  EXPECT_EQ(decode_all("?\n- a\n:\n- c\nz: 1\n"), R"({["a"]: ["c"], "z": 1})");
  EXPECT_EQ(decode_all("- ?\n  - a\n  : b\n"), R"([{["a"]: "b"}])");
  EXPECT_EQ(decode_all("? &k !t\n- a\n: *k\n"), R"({!t ["a"]: !t ["a"]})");
  DecodeOptions o;
  o.reject_complex_keys = true;
  EXPECT_EQ(error_message("?\n- a\n: b\n", o), "complex mapping key (a sequence used as a key)");
}

// ---- YAML 1.1 warnings -------------------------------------------------------

TEST(DecodeWarnings, Yaml11Differences) {
  DecodeOptions o = opts_with(DuplicateKeyPolicy::Silent, VersionMode::Yaml11);
  o.yaml11_warnings = true;
  auto r = decode_stream("a: yes\nb: 010\nc: 0o17\nd: 'on'\ne: 1:30\n", o);
  ASSERT_TRUE(r);
  ASSERT_EQ(r->warnings.size(), 3u);
  EXPECT_EQ(r->warnings[0], "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 4");
  EXPECT_EQ(r->warnings[1], "YAML 1.1 syntax '010' resolves as int in 1.1 but str in 1.2 at line 2, column 4");
  EXPECT_EQ(r->warnings[2], "YAML 1.1 syntax '1:30' resolves as int in 1.1 but str in 1.2 at line 5, column 4");
  // Off unless asked for.
  o.yaml11_warnings = false;
  EXPECT_TRUE(decode_stream("a: yes\n", o)->warnings.empty());
}

TEST(DecodeWarnings, OrderFollowsTheText) {
  DecodeOptions o = opts_with(DuplicateKeyPolicy::Warn, VersionMode::Yaml11);
  o.yaml11_warnings = true;
  auto r = decode_stream("k: on\nk: off\n", o);
  ASSERT_TRUE(r);
  ASSERT_EQ(r->warnings.size(), 3u);
  EXPECT_TRUE(r->warnings[0].starts_with("YAML 1.1 syntax 'on'"));
  EXPECT_TRUE(r->warnings[1].starts_with("YAML 1.1 syntax 'off'"));
  EXPECT_TRUE(r->warnings[2].starts_with("duplicate mapping key 'k' at line 2"));
}

// ---- helpers -----------------------------------------------------------------

TEST(DecodeHelpers, CustomTagsAndDirectiveWords) {
  EXPECT_FALSE(is_custom_tag("!!str"));
  EXPECT_FALSE(is_custom_tag("tag:yaml.org,2002:str"));
  EXPECT_TRUE(is_custom_tag("!"));
  EXPECT_TRUE(is_custom_tag(""));
  // A verbatim tag that spells a core tag's full name is that core tag.
  EXPECT_FALSE(is_custom_tag("!<tag:yaml.org,2002:str>"));
  EXPECT_TRUE(is_custom_tag("!<!x>"));
  EXPECT_TRUE(is_custom_tag("!<tag:example.com,2000:str>"));
  const auto w = split_directive_words("TAG\xC2\xA0!e!\xE3\x80\x80pre:  # c");
  ASSERT_EQ(w.size(), 5u);
  EXPECT_EQ(w[1], "!e!");
  EXPECT_EQ(w[2], "pre:");
  EXPECT_EQ(w[3], "#");
}

}  // namespace
}  // namespace kestrine
