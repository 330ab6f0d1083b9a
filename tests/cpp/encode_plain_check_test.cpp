#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "emit_util/plain_scalar.hpp"
#include "emit_util/scalar_text.hpp"
#include "resolver/resolve.hpp"
#include "resolver/timestamp.hpp"

namespace kestrine {
namespace {

constexpr VersionMode kModes[] = {VersionMode::Yaml12, VersionMode::Yaml11,
                                  VersionMode::PyyamlCompat};

struct Case {
  std::string_view text;
  bool quoted;  // expected needs_quotes, the same in every mode
};

// A table of texts near every rule: reserved words, indicators, numbers of
// every reader we write for, timestamps, blanks and characters plain scalars
// cannot carry.
const Case kCases[] = {
    {"", true},
    {"~", true},
    {"null", true},
    {"Null", true},
    {"nULL", false},
    {"yes", true},
    {"yES", false},
    {"ON", true},
    {"oN", false},
    {"off", true},
    {"true", true},
    {"FALSE", true},
    {"<<", true},
    {"<<x", false},
    {"=", true},
    {"...", true},
    {"... x", true},
    {"...\tx", true},
    {"...x", false},
    {".NaN", true},
    {".nan", true},
    {"-.inf", true},
    {"+.Inf", true},
    {".iNF", false},
    {"y", true},
    {"N", true},
    {"x", false},
    {"-x", true},
    {"?x", true},
    {"!x", true},
    {"#x", true},
    {"&a", true},
    {"*a", true},
    {"%x", true},
    {"@x", true},
    {"`x", true},
    {"|x", true},
    {">x", true},
    {"'x", true},
    {"\"x", true},
    {"[x", true},
    {"{x", true},
    {",x", true},
    {":x", true},
    {"x-", false},
    {"x?", false},
    {"x ", true},
    {" x", true},
    {"x\t", true},
    {"a: b", true},
    {"a:", true},
    {"a:b", false},
    {"a #b", true},
    {"a#b", false},
    {"a\tb", true},
    {"a\nb", true},
    {"a\rb", true},
    {"a\x7f", true},
    {"a\xc2\x9f", true},
    {"a\xef\xbf\xbe", true},
    {"a\xc2\x85" "b", true},  // NEL: a line break to YAML 1.1 readers
    {"a\xe2\x80\xa8" "b", true},
    {"\xef\xbb\xbfx", true},
    {"h\xc3\xa9llo", false},
    {"\xe2\x9c\x93 ok", false},
    {"123", true},
    {".5", true},
    {"+1", true},
    {"-1", true},
    {"0x1F", true},
    {"0o17", true},  // YAML 1.2 reads a number in every mode
    {"0b101", true},
    {"010", true},
    {"08", true},
    {"1_000", true},
    {"_1", true},  // a number to YAML 1.1 readers
    {"__.5", true},
    {"_x", false},
    {"__init__", false},
    {"1e5", true},
    {"1.0e5", true},
    {"1.2.3", false},
    {"1:30", true},
    {"1:30.5", true},
    {"1:60", false},
    {"12abc", false},
    {"99999999999999999999999", true},
    {"2001-12-14", true},
    {"2001-1-2", false},
    {"2001-12-14t21:59:43.10-05:00", true},
    {"2001-12-14 21:59:43.10 -5", true},
    {"2001-12-14T21:59:43Z", true},
    {"2001-12-14T21:59:43z", true},
    {"2001-12-14T21:59:43+0530", false},
    {"1.0.0-beta", false},
    {"v1.2", false},
    {"hello world", false},
    {"+09", true},  // the core schema reads integers with leading zeros
    {"0089", true},
    {"0x_", true},  // PyYAML takes these for integers and then fails to load them
    {"0b_", true},
    {"-0x_", true},
    {"_-1.5", true},  // YAML 1.1 drops every underscore
    {"__-1.5", true},
    {"_-1e5", true},
    {"1.", true},
    {"1_2.5_", true},
    {"1:2.", true},
    {"0:30", false},
    {"1e", false},
    {"0o", false},
    {"0x", false},
    {"+", false},
    {"_", false},
};

TEST(EncodePlainCheck, TableOfTrickyTexts) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.text));
    for (VersionMode mode : kModes) EXPECT_EQ(needs_quotes(c.text, mode), c.quoted);
    EXPECT_EQ(needs_quotes(c.text, static_cast<VersionMode>(7)), c.quoted);
  }
}

// A text left plain reads back as a string under each of our readers, in
// every mode, and is no timestamp.
TEST(EncodePlainCheck, PlainTextsReadBackAsStrings) {
  std::vector<std::string> texts;
  for (const Case& c : kCases) texts.emplace_back(c.text);
  // Every short text over an alphabet of number-like characters.
  const std::string_view alphabet = "0189.+-_:eExobfinMT ";
  for (char a : alphabet) {
    texts.emplace_back(1, a);
    for (char b : alphabet) {
      texts.push_back(std::string{a, b});
      for (char c : alphabet) {
        texts.push_back(std::string{a, b, c});
        for (char d : std::string_view("01_.:eys")) texts.push_back(std::string{a, b, c, d});
      }
    }
  }
  // Every printable ASCII byte after a byte that may start a number.
  for (char a : std::string_view("0123456789+._"))
    for (char b = ' '; b <= '~'; ++b)
      for (char c = ' '; c <= '~'; ++c) texts.push_back(std::string{a, b, c});
  for (const std::string& t : texts) {
    if (needs_quotes(t, VersionMode::Yaml12)) continue;
    SCOPED_TRACE("text '" + t + "'");
    for (VersionMode mode : kModes)
      EXPECT_EQ(resolve_scalar_kind(mode, t, false, std::nullopt).type, ScalarType::Str);
    EXPECT_FALSE(parse_timestamp(t).has_value());
  }
}

// The two forms of the syntax test: Cautious refuses everything Exact does,
// and what only Cautious refuses is exactly its named extra (a leading "-",
// "?" or ":", a tab, a "?" in flow context).
TEST(EncodePlainCheck, CautiousSyntaxTestIsExactPlusItsExtras) {
  struct Row {
    std::string_view text;
    bool exact_block, exact_flow, cautious_block, cautious_flow;  // safe?
  };
  const Row rows[] = {
      {"a", true, true, true, true},          {"-a", true, true, false, false},
      {"?a", true, false, false, false},      {":a", true, false, false, false},
      {"a\tb", true, true, false, false},     {"a?b", true, true, true, false},
      {"a,b", true, false, true, false},      {"a:b", true, true, true, true},
      {"a:,", true, false, true, false},       {"- a", false, false, false, false},
      {"a #b", false, false, false, false},   {"a\t#b", false, false, false, false},
      {"--- a", false, false, false, false},  {"...", false, false, false, false},
      {"\xEF\xBB\xBF" "a", false, false, false, false},
      {"a\xC2\x85", false, false, false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.text));
    EXPECT_EQ(plain_text_safe(r.text, false, PlainSafety::Exact), r.exact_block);
    EXPECT_EQ(plain_text_safe(r.text, true, PlainSafety::Exact), r.exact_flow);
    EXPECT_EQ(plain_text_safe(r.text, false, PlainSafety::Cautious), r.cautious_block);
    EXPECT_EQ(plain_text_safe(r.text, true, PlainSafety::Cautious), r.cautious_flow);
  }
  // Over short texts of indicator-like bytes, Cautious never keeps what
  // Exact refuses, and the value writers' check refuses everything Cautious does.
  const std::string_view alphabet = "a-?:#, \t[.";
  for (char a : alphabet)
    for (char b : alphabet)
      for (char c : alphabet) {
        const std::string t{a, b, c};
        for (bool flow : {false, true}) {
          if (!plain_text_safe(t, flow, PlainSafety::Exact))
            EXPECT_FALSE(plain_text_safe(t, flow, PlainSafety::Cautious)) << t;
          if (!plain_text_safe(t, flow, PlainSafety::Cautious))
            EXPECT_TRUE(needs_quotes(t, VersionMode::Yaml12, flow)) << t;
        }
      }
}

TEST(EncodePlainCheck, FoldPoint) {
  EXPECT_TRUE(has_fold_point("a b"));
  EXPECT_FALSE(has_fold_point("a  b"));
  EXPECT_FALSE(has_fold_point(" ab"));
  EXPECT_FALSE(has_fold_point("ab "));
  EXPECT_FALSE(has_fold_point("a"));
  EXPECT_FALSE(has_fold_point(""));
  EXPECT_FALSE(has_fold_point("a\t b"));
  EXPECT_TRUE(has_fold_point("a\t b c"));
}

TEST(EncodePlainCheck, TimestampShape) {
  EXPECT_TRUE(looks_like_timestamp("2001-12-14"));
  EXPECT_FALSE(looks_like_timestamp("2001-1-2"));
  EXPECT_FALSE(looks_like_timestamp("2001-12-1x"));
  EXPECT_TRUE(looks_like_timestamp("2001-1-2 1:02:03"));
  EXPECT_TRUE(looks_like_timestamp("2001-12-14T21:59:43."));
  EXPECT_TRUE(looks_like_timestamp("2001-12-14 21:59:43.10 \t+05:30"));
  EXPECT_TRUE(looks_like_timestamp("2001-12-14 21:59:43 -5"));
  EXPECT_FALSE(looks_like_timestamp("2001-12-14 21:59:43 -5:3"));
  EXPECT_FALSE(looks_like_timestamp("2001-12-14 21:59:433"));
  EXPECT_FALSE(looks_like_timestamp("2001-12-14T21:59"));
  EXPECT_FALSE(looks_like_timestamp("2001-12-14T21:59:43Zx"));
  EXPECT_FALSE(looks_like_timestamp("200-12-14"));
}

}  // namespace
}  // namespace kestrine
