// Event structure, layout rules and the tokenizer's messages with their
// positions (1-based line:column in the rendered form).
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "scanner/scanner.hpp"
#include "scanner_test_util.hpp"

namespace kestrine {
namespace {

using scantest::scan_render;

TEST(ScannerStructure, BlockMappings) {
  EXPECT_EQ(scan_render("a: b\nc: d\n"), "+MAP KEY =p:a VAL =p:b KEY =p:c VAL =p:d -BLK");
  EXPECT_EQ(scan_render("a: b", true), "+STR +MAP KEY =p:a VAL =p:b -BLK -STR");
  EXPECT_EQ(scan_render("a:\n  b: c\nd: e"),
            "+MAP KEY =p:a VAL +MAP KEY =p:b VAL =p:c -BLK KEY =p:d VAL =p:e -BLK");
  EXPECT_EQ(scan_render("? a\n: b"), "+MAP ?KEY =p:a VAL =p:b -BLK");
  EXPECT_EQ(scan_render("? a: b\n: c"), "+MAP ?KEY +MAP KEY =p:a VAL =p:b -BLK VAL =p:c -BLK");
  EXPECT_EQ(scan_render(": b"), "+MAP VAL =p:b -BLK");
  EXPECT_EQ(scan_render("'a' : b\n\"c\": d"), "+MAP KEY =':a VAL =p:b KEY =\":c VAL =p:d -BLK");
}

TEST(ScannerStructure, PropertiesBeforeImplicitKeys) {
  // The mapping start and key go before the anchor, at the anchor's position.
  Scanner sc = new_scanner("&a key: v");
  auto r = scan_events(sc);
  ASSERT_TRUE(r);
  EXPECT_EQ(scan_render("&a key: v"), "+MAP KEY &a =p:key VAL =p:v -BLK");
  ASSERT_GE(r->events.size(), 3u);
  EXPECT_EQ(r->events[1].kind, EventKind::MappingStart);
  EXPECT_EQ(r->events[1].column, 0u);
  EXPECT_EQ(r->events[1].offset, 0u);
  EXPECT_EQ(r->events[2].kind, EventKind::Key);
  EXPECT_EQ(r->events[2].offset, 0u);
  EXPECT_EQ(r->events[2].end(), 0u);

  EXPECT_EQ(scan_render("x:\n  !t &a k: v"), "+MAP KEY =p:x VAL +MAP KEY !t &a =p:k VAL =p:v -BLK -BLK");
  EXPECT_EQ(scan_render("*a : b"), "+MAP KEY *a VAL =p:b -BLK");
  EXPECT_EQ(scan_render("[a, b]: c"), "+MAP KEY +SEQ[] =p:a , =p:b -SEQ VAL =p:c -BLK");
  EXPECT_EQ(scan_render("!<tag:x> v"), "!<tag:x> =p:v");
  EXPECT_EQ(scan_render("!!str a"), "!!str =p:a");
  EXPECT_EQ(scan_render("!e!x a"), "!e!x =p:a");
  EXPECT_EQ(scan_render("! a"), "! =p:a");
  EXPECT_EQ(scan_render("&a: b"), "&a: =p:b");  // ':' belongs to an anchor name
}

TEST(ScannerStructure, PropertiesOfAKeyAfterAnEmptyValue) {
  // A property at the key column after "a:" starts the next key rather than
  // being a misplaced property of the empty value.
  EXPECT_EQ(scan_render("a:\n&x c: 3"), "+MAP KEY =p:a VAL KEY &x =p:c VAL =p:3 -BLK");
  EXPECT_EQ(scan_render("a: !!str\n!!str c: 3"),
            "+MAP KEY =p:a VAL !!str KEY !!str =p:c VAL =p:3 -BLK");
  EXPECT_EQ(scan_render("&a a:\n&b !t b: 2\n!u c:\n"),
            "+MAP KEY &a =p:a VAL KEY &b !t =p:b VAL =p:2 KEY !u =p:c VAL -BLK");
  EXPECT_EQ(scan_render("a:\n&x \"q\": 1\nb:\n&y [z]: 2"),
            "+MAP KEY =p:a VAL KEY &x =\":q VAL =p:1 KEY =p:b VAL KEY &y +SEQ[] =p:z -SEQ VAL =p:2 -BLK");
  EXPECT_EQ(scan_render("a:\n*x : 3\nb:\n[x]: 4"),
            "+MAP KEY =p:a VAL KEY *x VAL =p:3 KEY =p:b VAL KEY +SEQ[] =p:x -SEQ VAL =p:4 -BLK");
  EXPECT_EQ(scan_render("? a\n&x b: 1"), "+MAP ?KEY =p:a KEY &x =p:b VAL =p:1 -BLK");
  // Nested: in a sequence entry, at an inner level, and back at an outer one.
  EXPECT_EQ(scan_render("- a:\n  &x c: 3"), "+SEQ ENT +MAP KEY =p:a VAL KEY &x =p:c VAL =p:3 -BLK -BLK");
  EXPECT_EQ(scan_render("x:\n  a:\n  &y c: 3\n&z d:"),
            "+MAP KEY =p:x VAL +MAP KEY =p:a VAL KEY &y =p:c VAL =p:3 -BLK KEY &z =p:d VAL -BLK");
}

TEST(ScannerStructure, BlockSequences) {
  EXPECT_EQ(scan_render("- a\n- b"), "+SEQ ENT =p:a ENT =p:b -BLK");
  EXPECT_EQ(scan_render("- - a\n  - b\n- c"), "+SEQ ENT +SEQ ENT =p:a ENT =p:b -BLK ENT =p:c -BLK");
  // Entries at the column of their mapping's keys: no sequence start or end.
  EXPECT_EQ(scan_render("k:\n- a\n- b\nj: c"),
            "+MAP KEY =p:k VAL ENT =p:a ENT =p:b KEY =p:j VAL =p:c -BLK");
  // A sequence closes when its column holds something other than "- ".
  EXPECT_EQ(scan_render("- a\nb"), "+SEQ ENT =p:a -BLK =p:b");
  EXPECT_EQ(scan_render("- a: b\n  c: d\n-"), "+SEQ ENT +MAP KEY =p:a VAL =p:b KEY =p:c VAL =p:d -BLK ENT -BLK");
}

TEST(ScannerStructure, FlowCollections) {
  EXPECT_EQ(scan_render("{a: b, c: [d, e]}"),
            "+MAP{} KEY =p:a VAL =p:b , KEY =p:c VAL +SEQ[] =p:d , =p:e -SEQ -MAP");
  EXPECT_EQ(scan_render("[a: b]"), "+SEQ[] KEY =p:a VAL =p:b -SEQ");
  EXPECT_EQ(scan_render("{\"a\":1}"), "+MAP{} =\":a VAL =p:1 -MAP");  // JSON-like value
  EXPECT_EQ(scan_render("[? a b]"), "+SEQ[] ?KEY =p:a b -SEQ");
  EXPECT_EQ(scan_render("[a b, c]"), "+SEQ[] =p:a b , =p:c -SEQ");
  EXPECT_EQ(scan_render("[a,]"), "+SEQ[] =p:a , -SEQ");
  EXPECT_EQ(scan_render("[a:b, -c, :d]"), "+SEQ[] =p:a:b , =p:-c , =p::d -SEQ");
  EXPECT_EQ(scan_render("{a: *x, b: &y c}"), "+MAP{} KEY =p:a VAL *x , KEY =p:b VAL &y =p:c -MAP");
  EXPECT_EQ(scan_render("k: [a,\n  b]"), "+MAP KEY =p:k VAL +SEQ[] =p:a , =p:b -SEQ -BLK");
}

TEST(ScannerStructure, DocumentsAndDirectives) {
  EXPECT_EQ(scan_render("%YAML 1.2 # c\n%TAG ! tag:x,1:\n--- a\n...\n--- b"),
            "%YAML 1.2 # c %TAG ! tag:x,1: +DOC =p:a -DOC +DOC =p:b");
  EXPECT_EQ(scan_render("a\n...\n%YAML 1.1\n---\nb"), "=p:a -DOC %YAML 1.1 +DOC =p:b");
  EXPECT_EQ(scan_render("- a\n---\n- b"), "+SEQ ENT =p:a -BLK +DOC +SEQ ENT =p:b -BLK");
  EXPECT_EQ(scan_render("a: 1\n... # end"), "+MAP KEY =p:a VAL =p:1 -BLK -DOC");
  EXPECT_EQ(scan_render("--- |\n  x\n"), "+DOC =|:x\\n");
  EXPECT_EQ(scan_render("---a"), "=p:---a");
  EXPECT_EQ(scan_render("a %b"), "=p:a %b");
}

// ---- messages and their positions ---------------------------------------------

struct Case {
  const char* text;
  const char* expected;  // "ERROR <message> @line:column"
};

void check_cases(std::initializer_list<Case> cases) {
  for (const Case& c : cases) EXPECT_EQ(scan_render(c.text), c.expected) << "input: " << c.text;
}

TEST(ScannerErrors, SameLineRules) {
  check_cases({
      {"key: - a", "ERROR a block sequence cannot start on the same line as its mapping key @1:6"},
      {"--- a: b", "ERROR a block collection cannot start on the same line as --- @1:6"},
      {"--- - a", "ERROR a block collection cannot start on the same line as --- @1:5"},
      {"&a - b", "ERROR a block sequence entry cannot follow an anchor or tag on the same line @1:4"},
      {"!t - b", "ERROR a block sequence entry cannot follow an anchor or tag on the same line @1:4"},
      {"! ? :", "ERROR an explicit key cannot follow an anchor or tag on the same line @1:3"},
      {"---\n&a ? b\n: c", "ERROR an explicit key cannot follow an anchor or tag on the same line @2:4"},
      {"- !t ? b", "ERROR an explicit key cannot follow an anchor or tag on the same line @1:6"},
      {"a: b: c", "ERROR a block mapping cannot start on the same line as its mapping key @1:4"},
      {"a: 'b': c", "ERROR a block mapping cannot start on the same line as its mapping key @1:4"},
      {"a: &x b: c", "ERROR a block mapping cannot start on the same line as its mapping key @1:4"},
      {"- - a\n - b", "ERROR a sequence entry is indented past its sequence @2:2"},
      {"a:\n&x b", "ERROR a node property must be indented past its mapping key @2:1"},
      {"a:\n!t b", "ERROR a node property must be indented past its mapping key @2:1"},
      // Still refused when no key follows the property on its line.
      {"a:\n&x", "ERROR a node property must be indented past its mapping key @2:1"},
      {"a:\n&x\n- b", "ERROR a node property must be indented past its mapping key @2:1"},
      {"a:\n&x !t\n  b", "ERROR a node property must be indented past its mapping key @2:1"},
      {"k: &x\n!!map\n  a: b", "ERROR a node property must be indented past its mapping key @2:1"},
      {"a:\n&x |\n b", "ERROR a node property must be indented past its mapping key @2:1"},
      {"a:\n&x b\n  c: 1", "ERROR a node property must be indented past its mapping key @2:1"},
      {"- a:\n  !t b", "ERROR a node property must be indented past its mapping key @2:3"},
  });
}

TEST(ScannerErrors, Tabs) {
  check_cases({
      {"\t- a", "ERROR a tab cannot be used for indentation @1:2"},
      {"\t? a", "ERROR a tab cannot be used for indentation @1:2"},
      {"?\ta", "ERROR a tab cannot be used for indentation @1:2"},
      {"\tk: v", "ERROR a tab cannot be used for indentation @1:2"},
      {"\t'k': v", "ERROR a tab cannot be used for indentation @1:2"},
      {"\t&a k: v", "ERROR a tab cannot be used for indentation @1:6"},
      {"[\n\ta]", "ERROR a tab cannot be used for indentation @2:1"},
      {"a: |\n\t\nb: 1", "ERROR a tab cannot be used for indentation @2:1"},
      // The indentation after a plain value that ends at the line end.
      {"a:\n  b: x\n\tc: y", "ERROR a tab cannot be used for indentation @3:2"},
      {"k:\n  - a\n \t- b", "ERROR a tab cannot be used for indentation @3:3"},
  });
  EXPECT_EQ(scan_render("k: v\n\t# c\nj: 1"), "+MAP KEY =p:k VAL =p:v KEY =p:j VAL =p:1 -BLK");
  // Accepted: a tab before a scalar that is not a key, and inside flow
  // collections except as the indentation at column 0.
  EXPECT_EQ(scan_render("\tab"), "=p:ab");
  EXPECT_EQ(scan_render("a:\tb"), "+MAP KEY =p:a VAL =p:b -BLK");
  EXPECT_EQ(scan_render("[\ta,\tb]"), "+SEQ[] =p:a , =p:b -SEQ");
  EXPECT_EQ(scan_render("[a,\n\t]"), "+SEQ[] =p:a , -SEQ");
}

TEST(ScannerErrors, Comments) {
  check_cases({
      {"a: 'b'#c", "ERROR a comment must be preceded by whitespace @1:7"},
      {"[a,#b]", "ERROR a comment must be preceded by whitespace @1:4"},
      {"key: [a]#c", "ERROR a comment must be preceded by whitespace @1:9"},
  });
  EXPECT_EQ(scan_render("a#b: c#d"), "+MAP KEY =p:a#b VAL =p:c#d -BLK");
  EXPECT_EQ(scan_render("a: b # c: d"), "+MAP KEY =p:a VAL =p:b -BLK");
}

TEST(ScannerErrors, FlowCollections) {
  check_cases({
      {"[a,,b]", "ERROR empty flow entry (stray ',') @1:4"},
      {"[,a]", "ERROR empty flow entry (stray ',') @1:2"},
      {"{a: 1, , b}", "ERROR empty flow entry (stray ',') @1:8"},
      {"[\"a\" b]", "ERROR missing ',' between flow collection entries @1:6"},
      {"[[a] b]", "ERROR missing ',' between flow collection entries @1:6"},
      {"[*a b]", "ERROR missing ',' between flow collection entries @1:5"},
      {"{a]", "ERROR mismatched flow collection: ']' cannot close a '{' @1:3"},
      {"[a}", "ERROR mismatched flow collection: '}' cannot close a '[' @1:3"},
      {"]", "ERROR unexpected ']' with no open flow collection @1:1"},
      {"a: }", "ERROR unexpected '}' with no open flow collection @1:4"},
      {"[a", "ERROR unclosed flow collection at end of input @1:3"},
      {"{a: [b,\n c}", "ERROR mismatched flow collection: '}' cannot close a '[' @2:3"},
      {"[a] b", "ERROR unexpected content after flow collection @1:4"},
      {"[a,\n b]: c", "ERROR a multiline flow collection cannot be an implicit mapping key @2:3"},
      {"[\n---\n]", "ERROR a document marker is not allowed inside a flow collection @2:1"},
      {"[\n...\n]", "ERROR a document marker is not allowed inside a flow collection @2:1"},
      {"k: [a,\nb]", "ERROR flow content must be indented more than its block context @2:1"},
      {"k:\n  - [a,\n  b]", "ERROR flow content must be indented more than its block context @3:3"},
      {"k: [a\nb]", "ERROR flow content must be indented more than its block context @2:1"},
      {"k: [a\n, b]", "ERROR flow content must be indented more than its block context @2:1"},
      {"k: [a\n# c\n , b]", "+MAP KEY =p:k VAL +SEQ[] =p:a , =p:b -SEQ -BLK"},
      {"[- ]", "ERROR a plain scalar cannot be a bare '-' here @1:2"},
      {"[-,a]", "ERROR a plain scalar cannot be a bare '-' here @1:2"},
      {"[\"a\"\n: b]", "ERROR the implicit key of a flow sequence pair must be on one line @2:1"},
      {"[a\n b: c]", "ERROR the implicit key of a flow sequence pair must be on one line @1:2"},
      {"{a: &x b\n c: d}", "ERROR missing ',' between flow collection entries @1:8"},
      // A multi-line explicit key is not a missing comma.
      {"[\n? foo\n bar : baz\n]", "+SEQ[] ?KEY =p:foo bar VAL =p:baz -SEQ"},
      {"[a\n b, c: d]", "+SEQ[] =p:a b , KEY =p:c VAL =p:d -SEQ"},
      // A missing ',' never turns into an empty value or a joined key.
      {"{a: b\n c: d}", "ERROR missing ',' between flow collection entries @1:5"},
      {"{foo: bar: 2}", "ERROR missing ',' between flow collection entries @1:10"},
      {"{a: b, c: d e: f}", "ERROR missing ',' between flow collection entries @1:14"},
      {"[foo: 1 bar: 2]", "ERROR missing ',' between flow collection entries @1:12"},
      {"{a: [b]: c}", "ERROR missing ',' between flow collection entries @1:8"},
      {"{a: \"b\": c}", "ERROR missing ',' between flow collection entries @1:8"},
      {"{? a : b : c}", "ERROR missing ',' between flow collection entries @1:10"},
      {"[\"a\" ? b]", "ERROR missing ',' between flow collection entries @1:6"},
      {"[a [b]]", "ERROR missing ',' between flow collection entries @1:4"},
      {"[a\n# c\nb]", "ERROR missing ',' between flow collection entries @3:1"},
      // The ':' of an enclosing entry does not reach into a nested collection.
      {"{a: {b: c}, d: [e: f]}", "+MAP{} KEY =p:a VAL +MAP{} KEY =p:b VAL =p:c -MAP , KEY =p:d VAL +SEQ[] KEY =p:e VAL =p:f -SEQ -MAP"},
      // Block scalars do not exist in flow context.
      {"[a, |\n  b]", "ERROR '|' cannot start a scalar inside a flow collection @1:5"},
      {"{a: >}", "ERROR '>' cannot start a scalar inside a flow collection @1:5"},
  });
}

TEST(ScannerErrors, FlowNestingLimit) {
  std::string ok(1000, '[');
  ok += std::string(1000, ']');
  Scanner sc = new_scanner(ok);
  auto r = scan_events(sc);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->events.size(), 2002u);

  std::string deep(1001, '[');
  EXPECT_EQ(scan_render(deep), "ERROR maximum nesting depth (1000) exceeded @1:1001");
  std::string mixed;
  for (int i = 0; i < 600; ++i) mixed += "{a: [";
  EXPECT_EQ(scan_render(mixed), "ERROR maximum nesting depth (1000) exceeded @1:2501");
}

TEST(ScannerErrors, IndicatorsAndProperties) {
  check_cases({
      {", a", "ERROR a plain scalar cannot start with ',' @1:1"},
      {"@a", "ERROR '@' is a reserved indicator and cannot start a plain scalar @1:1"},
      {"k: `a", "ERROR '`' is a reserved indicator and cannot start a plain scalar @1:4"},
      {"[@a]", "ERROR '@' is a reserved indicator and cannot start a plain scalar @1:2"},
      {"& a", "ERROR expected anchor name @1:1"},
      {"[*]", "ERROR expected alias name @1:2"},
      {"!<a b> c", "ERROR unterminated verbatim tag: expected '>' @1:1"},
      {"!<abc", "ERROR unterminated verbatim tag: expected '>' @1:1"},
      {"!<> c", "ERROR a verbatim tag must not be empty @1:1"},
  });
}

TEST(ScannerErrors, DocumentsAndDirectives) {
  check_cases({
      {"a: b\n%YAML 1.2\n---", "ERROR a directive must start the stream or follow a document-end marker (...) @2:1"},
      {"--- [a]\n%YAML 1.2", "ERROR a directive must start the stream or follow a document-end marker (...) @2:1"},
      {"... a", "ERROR unexpected content after document-end marker (...) @1:1"},
      {"a\n... b", "ERROR unexpected content after document-end marker (...) @2:1"},
  });
}

TEST(ScannerErrors, ImplicitKeys) {
  check_cases({
      {"a\n b: c", "ERROR an implicit mapping key cannot span multiple lines @1:1"},
      {"a: 1\nb\n: c", "ERROR an implicit mapping key cannot span multiple lines @2:1"},
      {"'a\n b': c", "ERROR an implicit mapping key cannot span multiple lines @1:1"},
      {"\"a\"  x", "ERROR unexpected content after quoted scalar @1:6"},
      {"- 'a' - b", "ERROR unexpected content after quoted scalar @1:7"},
  });
  // A multi-line scalar whose ":" lies left of its start is not a key.
  EXPECT_EQ(scan_render("k: a\n b: c"), "+MAP KEY =p:k VAL =p:a b +MAP VAL =p:c -BLK -BLK");
}

// Leniencies that are deliberate: pinned so that a change is noticed.
TEST(ScannerKnownBehaviour, Leniencies) {
  // Implicit keys longer than 1024 characters are accepted.
  std::string long_key(3000, 'k');
  EXPECT_EQ(scan_render(long_key + ": v"), "+MAP KEY =p:" + long_key + " VAL =p:v -BLK");
}

// Every event with its position, or the error with its position.
std::string scan_dump(std::string_view text, bool plain_runs) {
  Scanner sc = new_scanner(text);
  sc.plain_runs = plain_runs;
  auto r = scan_events(sc);
  if (!r) {
    const Span& s = r.error().span;
    return "ERROR " + r.error().message + " @" + std::to_string(s.line) + ":" + std::to_string(s.column) + ":" +
           std::to_string(s.offset);
  }
  std::string out;
  for (const SpannedEvent& e : r->events) {
    out += scantest::render_event(e) + "@" + std::to_string(e.line) + ":" + std::to_string(e.column) + ":" +
           std::to_string(e.offset) + "-" + std::to_string(e.end()) + " ";
  }
  return out;
}

// A text made of the shapes the fast runs read ("[a, b]", "- a", "k: a")
// mixed with every way of leaving them: comments, empty and continued
// lines, tabs, CR, properties, quotes, nested collections, markers.
std::string random_runs_text(std::mt19937& rng) {
  static const char* const kScalars[] = {
      "null", "true", "~", "12", "-3", "4.5", "a b", "a  b ", "x#y", "x #c", "a:b", "a: b", "-", "-5", "--",
      "---", "...", ".5", "<<", "'q'", "\"d\"", "&a x", "*a", "!t x", "\xC3\xA9", "a\tb", "[1, 2]", "{a: 1}", "--- a: b", "... a",
      "", "? k", "|", "%x", "@x", "a,b", "a]", "a}", "- x", "k: v: w"};
  static const char* const kBreaks[] = {"\n", "\n", "\n", "\n\n", "\r\n", " \n", "\n# c\n", "\t\n", " # c\n"};
  static const char* const kCommas[] = {", ", ", ", ",", " , ", ",\n ", ", #c\n ", ",\t", ",  "};
  const auto pick = [&](const auto& list) { return std::string(list[rng() % std::size(list)]); };
  const auto flow = [&] {
    std::string out = "[";
    const int n = int(rng() % 5);
    for (int i = 0; i < n; ++i) out += (i ? pick(kCommas) : "") + pick(kScalars);
    return out + (rng() % 8 ? "]" : "");
  };
  std::string text;
  const int lines = int(rng() % 8) + 1;
  for (int i = 0; i < lines; ++i) {
    text += std::string(rng() % 3 == 0 ? rng() % 4 : 0, ' ');
    switch (rng() % 6) {
      case 0: text += "- " + pick(kScalars); break;
      case 1: text += "k" + std::to_string(rng() % 3) + ": " + pick(kScalars); break;
      case 2: text += "k" + std::to_string(rng() % 3) + ":"; break;
      case 3: text += flow(); break;
      case 4: text += "- " + flow(); break;
      default: text += pick(kScalars); break;
    }
    text += pick(kBreaks);
  }
  if (rng() % 4 == 0) text.pop_back();  // no final line break
  return text;
}

TEST(ScannerRuns, FastRunsGiveTheEventsOfTheGeneralSteps) {
  std::mt19937 rng(30);
  for (int i = 0; i < 30000; ++i) {
    const std::string text = random_runs_text(rng);
    ASSERT_EQ(scan_dump(text, true), scan_dump(text, false)) << scantest::escape_text(text);
  }
  for (std::string_view text : {"[1, 2, 3]\n", "- a\n- b c\n- -1\n", "k: v\nk2: w x\n", "a:\n  - 1\n  - 2\nb: 3\n",
                                "- [a, b]\n- c\n", "--- \n- a\n- b\n...\n", "k: v\n---\nk: v\n", "[a, b]: c\n",
                                "- [a, b]: c\n", "{k: [1, 2], j: v}\n", "[[1, 2], [3]]\n",
                                "a: b\n--- !t;c: d\n", "a: b\n---x: y\n",
                                "- a\r\n- b\r\n", "k: v\r\nj: w\r\n\r\n", "- a\r- b\r"}) {
    EXPECT_EQ(scan_dump(text, true), scan_dump(text, false)) << scantest::escape_text(text);
  }
}

}  // namespace
}  // namespace kestrine
