// Scalar bodies: values after escapes, folding and chomping, their errors,
// and whether a value is a view of the input or owned by the result.
#include <gtest/gtest.h>

#include <string>

#include "scanner/scanner.hpp"
#include "scanner_test_util.hpp"

namespace kestrine {
namespace {

using scantest::scan_render;

struct Case {
  const char* text;
  const char* expected;
};

void check_cases(std::initializer_list<Case> cases) {
  for (const Case& c : cases) EXPECT_EQ(scan_render(c.text), c.expected) << "input: " << c.text;
}

TEST(ScannerPlain, Bodies) {
  check_cases({
      {"a:b", "=p:a:b"},
      {"a #b", "=p:a"},
      {"a#b", "=p:a#b"},
      {"a\t#b", "=p:a"},
      {"a  b\t c  ", "=p:a  b\\t c"},
      {"- a\n  b\n\n\n  c", "+SEQ ENT =p:a b\\n\\nc -BLK"},
      {"- a \n   b", "+SEQ ENT =p:a b -BLK"},
      {"k: a\n  # c\n  b", "+MAP KEY =p:k VAL =p:a =p:b -BLK"},
      {"k: a\n  b\n  # c", "+MAP KEY =p:k VAL =p:a b -BLK"},
      {"k: a\n  b\n\n  # c", "+MAP KEY =p:k VAL =p:a b -BLK"},
      {"a\n---\nb", "=p:a +DOC =p:b"},
      {"a\n--- b", "=p:a +DOC =p:b"},
      {"a\n---b", "=p:a ---b"},
      {"[a\n b]", "+SEQ[] =p:a b -SEQ"},
      {"[a\n, b]", "+SEQ[] =p:a , =p:b -SEQ"},
      {"{a: b}", "+MAP{} KEY =p:a VAL =p:b -MAP"},
      {"[a:b,c]", "+SEQ[] =p:a:b , =p:c -SEQ"},
      {"[a:]", "+SEQ[] KEY =p:a VAL -SEQ"},
      {"- -a", "+SEQ ENT =p:-a -BLK"},
      {"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC: x", "+MAP KEY =p:\xC3\xA9t\xC3\xA9 \xE2\x82\xAC VAL =p:x -BLK"},
  });
}

TEST(ScannerQuoted, Escapes) {
  check_cases({
      {R"("\x41\u00e9\U0001F600")", "=\":A\xC3\xA9\xF0\x9F\x98\x80"},
      {R"("\N\_\L\P")", "=\":\xC2\x85\xC2\xA0\xE2\x80\xA8\xE2\x80\xA9"},
      {"\"a\\\tb\"", "=\":a\\tb"},
      {"\"\\xe9\"", "=\":\xC3\xA9"},
      // A surrogate pair, as JSON writes characters beyond the BMP.
      {R"("\ud83d\udca9x\uD800\uDC00")", "=\":\xF0\x9F\x92\xA9x\xF0\x90\x80\x80"},
  });
  // The single-character escapes; "\0" yields a real NUL byte.
  Scanner sc = new_scanner(R"("\0\a\b\t\n\v\f\r\e\ \"\/\\")");
  auto r = scan_events(sc);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->events[1].text(), std::string_view("\0\a\b\t\n\v\f\r\x1B \"/\\", 13));
}

TEST(ScannerQuoted, EscapeErrors) {
  check_cases({
      {R"("\q")", "ERROR unknown escape character: '\\q' @1:3"},
      {"x: \"\\\xC3\xA9\"", "ERROR unknown escape character: '\\\xC3\xA9' @1:6"},
      {R"("\uD800")", "ERROR invalid unicode code point: U+D800 @1:1"},
      // Only a high surrogate escape followed by a low one makes a character.
      {R"("\uDCA9\uD83D")", "ERROR invalid unicode code point: U+DCA9 @1:1"},
      {R"("\uD83D\u0041")", "ERROR invalid unicode code point: U+D83D @1:1"},
      {R"("\uD83D \uDCA9")", "ERROR invalid unicode code point: U+D83D @1:1"},
      {R"("\uD83D\UDCA9")", "ERROR invalid unicode code point: U+D83D @1:1"},
      {R"("\uD83D\uDC")", "ERROR invalid unicode code point: U+D83D @1:1"},
      {R"(  "\U00110000")", "ERROR invalid unicode code point: U+110000 @1:3"},
      {R"("\x4g")", "ERROR invalid hex digit in unicode escape: 'g' @1:5"},
      {R"("\u12")", "ERROR invalid hex digit in unicode escape: '\"' @1:6"},
      {"\"\\u12", "ERROR incomplete unicode escape @1:1"},
      {"\"abc\\", "ERROR unterminated escape sequence @1:1"},
      {"\"abc", "ERROR unterminated double-quoted scalar @1:1"},
      {"k: 'abc\n  d", "ERROR unterminated single-quoted scalar @1:4"},
  });
}

TEST(ScannerQuoted, Folding) {
  check_cases({
      {"'it''s'", "=':it's"},
      {"''''", "=':'"},
      {"\"a\nb\"", "=\":a b"},
      {"\"a  \n  b\"", "=\":a b"},
      {"'a \t\n\n  b'", "=':a\\nb"},
      {"\"a\n\n\n b\"", "=\":a\\n\\nb"},
      {"\"a\\t\n b\"", "=\":a\\t b"},       // escaped blanks survive the fold
      {"\"a\\ \n b\"", "=\":a  b"},
      {"\"a \\\n   b\"", "=\":a b"},       // escaped break: nothing inserted
      {"\"a\\\n  \n b\"", "=\":a\\nb"},
      {"\"a\\\n\tb\"", "=\":a\\tb"},        // tabs after an escaped break stay
      {"\"a\n  \"", "=\":a "},
      {"- \"a\n  b\"", "+SEQ ENT =\":a b -BLK"},
  });
}

TEST(ScannerQuoted, LayoutErrors) {
  check_cases({
      {"k:\n  m: \"a\n  b\"", "ERROR a multi-line quoted scalar must be indented past its block context @3:3"},
      {"k: 'a\nb'", "ERROR a multi-line quoted scalar must be indented past its block context @2:1"},
      {"\"a\n---\nb\"", "ERROR a document marker cannot appear inside a quoted scalar @1:1"},
      {"'a\n...\n'", "ERROR a document marker cannot appear inside a quoted scalar @1:1"},
      {"\"a\\\n--- x\"", "ERROR a document marker cannot appear inside a quoted scalar @1:1"},
  });
}

TEST(ScannerBlock, LiteralAndFolded) {
  check_cases({
      {"|\n  a\n  b\n", "=|:a\\nb\\n"},
      {"|-\n  a\n\n", "=|:a"},
      {"|+\n  a\n\n\n", "=|:a\\n\\n\\n"},
      {"|\n  a\n\n\n", "=|:a\\n"},
      // The end of the text ends the last line without adding a break.
      {"|\n  a", "=|:a"},
      {"|+\n  a", "=|:a"},
      {">\n  a\n  b", "=>:a b"},
      {"k: |\n  a\n  b", "+MAP KEY =p:k VAL =|:a\\nb -BLK"},
      {"|-\n  a", "=|:a"},
      {">\n  a\n  b\n\n  c\n", "=>:a b\\nc\\n"},
      {">\n  a\n    b\n  c\n", "=>:a\\n  b\\nc\\n"},
      {">\n  a\n\n    b\n", "=>:a\\n\\n  b\\n"},
      {">-\n  a\n  \tb\n", "=>:a\\n\\tb"},
      {"|\n\n  a", "=|:\\na"},
      {">\n\n\n  a\n  b", "=>:\\n\\na b"},
      {"|2-\n    x\n    y", "=|:  x\\n  y"},
      {"|-2\n    x", "=|:  x"},
      {"k: |1\n  x\n", "+MAP KEY =p:k VAL =|: x\\n -BLK"},
      {"k: |\n    a\n   b\nj: 1", "+MAP KEY =p:k VAL =|:a\\n =p:b KEY =p:j VAL =p:1 -BLK"},
      {"k: |\n  a\n  # not a comment\n# comment\nj: |+\n\nz:", "+MAP KEY =p:k VAL =|:a\\n# not a comment\\n KEY =p:j VAL =|:\\n KEY =p:z VAL -BLK"},
      {"|\n  a\n---\nb", "=|:a\\n +DOC =p:b"},
      {"- |\n a\n-", "+SEQ ENT =|:a\\n ENT -BLK"},
      {"--- >\n foo\n", "+DOC =>:foo\\n"},
      {"|\n  a\n   ", "=|:a\\n \\n"},
      {"|+\n   ", "=|:\\n"},
      {"k: |\nj: 1", "+MAP KEY =p:k VAL =|: KEY =p:j VAL =p:1 -BLK"},
      {"k: |+\n\n  \nj: 1", "+MAP KEY =p:k VAL =|:\\n\\n KEY =p:j VAL =p:1 -BLK"},
      {"| # c\n a\n", "=|:a\\n"},
      {"|\r\n  a\r\n  b\r\n", "=|:a\\nb\\n"},
  });
}

TEST(ScannerBlock, HeaderAndIndentationErrors) {
  check_cases({
      {"|x", "ERROR unexpected content after block scalar indicator @1:2"},
      {"|++", "ERROR unexpected content after block scalar indicator @1:3"},
      {"|0", "ERROR unexpected content after block scalar indicator @1:2"},
      {"|  x", "ERROR unexpected content after block scalar indicator @1:4"},
      {"|#", "ERROR a comment must be preceded by whitespace @1:2"},
      {"|2#", "ERROR a comment must be preceded by whitespace @1:3"},
      {"k: >\n    \n  a", "ERROR a leading empty line in a block scalar is indented more than the content @1:4"},
  });
}

TEST(ScannerValues, ViewsAndOwnedStorage) {
  const std::string text = "a: plain\nb: 'single'\nc: \"esc\\n\"\nd: two\n  lines\ne: |\n  x\n";
  Scanner sc = new_scanner(text);
  auto r = scan_events(sc);
  ASSERT_TRUE(r);
  auto in_input = [&](std::string_view v) {
    return v.data() >= text.data() && v.data() + v.size() <= text.data() + text.size();
  };
  std::vector<std::string_view> values;
  for (const auto& e : r->events) {
    if (e.kind == EventKind::Scalar) values.push_back(e.text());
  }
  ASSERT_EQ(values.size(), 10u);
  EXPECT_TRUE(in_input(values[1]));   // plain
  EXPECT_TRUE(in_input(values[3]));   // single-quoted without escapes
  EXPECT_FALSE(in_input(values[5]));  // escape: owned
  EXPECT_EQ(values[5], "esc\n");
  EXPECT_FALSE(in_input(values[7]));  // folded lines: owned
  EXPECT_EQ(values[7], "two lines");
  EXPECT_EQ(values[9], "x\n");

  // Owned texts survive moving the result.
  ScanResult moved = std::move(*r);
  EXPECT_EQ(moved.events[moved.events.size() - 7].text(), "two lines");
}

TEST(ScannerValues, ArenaKeepsEveryText) {
  // Many owned values of growing size: earlier views stay valid as chunks fill.
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "- \"v" + std::to_string(i) + "\\t" + std::string(i % 700, 'x') + "\"\n";
  Scanner sc = new_scanner(text);
  auto r = scan_events(sc);
  ASSERT_TRUE(r);
  int n = 0;
  for (const auto& e : r->events) {
    if (e.kind != EventKind::Scalar) continue;
    std::string expected = "v" + std::to_string(n) + "\t" + std::string(n % 700, 'x');
    ASSERT_EQ(e.text(), expected);
    ++n;
  }
  EXPECT_EQ(n, 3000);
  EXPECT_GT(r->arena.bytes_used(), 0u);
}

}  // namespace
}  // namespace kestrine
