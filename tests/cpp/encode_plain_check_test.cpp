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
  bool y12, y11, compat;  // expected needs_quotes per mode
};

// A table of texts near every rule: reserved words, indicators, numbers of
// both versions, timestamps, blanks and characters plain scalars cannot carry.
const Case kCases[] = {
    {"", true, true, true},
    {"~", true, true, true},
    {"null", true, true, true},
    {"Null", true, true, true},
    {"nULL", false, false, false},
    {"yes", true, true, true},
    {"yES", false, false, false},
    {"ON", true, true, true},
    {"oN", false, false, false},
    {"off", true, true, true},
    {"true", true, true, true},
    {"FALSE", true, true, true},
    {"<<", true, true, true},
    {"<<x", false, false, false},
    {"=", true, true, true},
    {"...", true, true, true},
    {"... x", true, true, true},
    {"...\tx", true, true, true},
    {"...x", false, false, false},
    {".NaN", true, true, true},
    {".nan", true, true, true},
    {"-.inf", true, true, true},
    {"+.Inf", true, true, true},
    {".iNF", false, false, false},
    {"y", false, true, false},
    {"N", false, true, false},
    {"x", false, false, false},
    {"-x", true, true, true},
    {"?x", true, true, true},
    {"!x", true, true, true},
    {"#x", true, true, true},
    {"&a", true, true, true},
    {"*a", true, true, true},
    {"%x", true, true, true},
    {"@x", true, true, true},
    {"`x", true, true, true},
    {"|x", true, true, true},
    {">x", true, true, true},
    {"'x", true, true, true},
    {"\"x", true, true, true},
    {"[x", true, true, true},
    {"{x", true, true, true},
    {",x", true, true, true},
    {":x", true, true, true},
    {"x-", false, false, false},
    {"x?", false, false, false},
    {"x ", true, true, true},
    {" x", true, true, true},
    {"x\t", true, true, true},
    {"a: b", true, true, true},
    {"a:", true, true, true},
    {"a:b", false, false, false},
    {"a #b", true, true, true},
    {"a#b", false, false, false},
    {"a\tb", true, true, true},
    {"a\nb", true, true, true},
    {"a\rb", true, true, true},
    {"a\x7f", true, true, true},
    {"a\xc2\x9f", true, true, true},
    {"a\xef\xbf\xbe", true, true, true},
    {"a\xc2\x85" "b", true, true, true},  // NEL: a line break to YAML 1.1 readers
    {"a\xe2\x80\xa8" "b", true, true, true},
    {"\xef\xbb\xbfx", true, true, true},
    {"h\xc3\xa9llo", false, false, false},
    {"\xe2\x9c\x93 ok", false, false, false},
    {"123", true, true, true},
    {".5", true, true, true},
    {"+1", true, true, true},
    {"-1", true, true, true},
    {"0x1F", true, true, true},
    {"0o17", true, true, true},  // YAML 1.2 reads a number in every mode
    {"0b101", true, true, true},
    {"010", true, true, true},
    {"08", false, false, false},
    {"1_000", true, true, true},
    {"_1", true, true, false},  // a number to YAML 1.1 readers
    {"__.5", true, true, false},
    {"_x", false, false, false},
    {"__init__", false, false, false},
    {"1e5", true, true, true},
    {"1.0e5", true, true, true},
    {"1.2.3", false, false, false},
    {"1:30", false, true, true},
    {"1:30.5", false, true, true},
    {"1:60", false, false, false},
    {"12abc", false, false, false},
    {"99999999999999999999999", true, true, true},
    {"2001-12-14", false, true, true},
    {"2001-1-2", false, false, false},
    {"2001-12-14t21:59:43.10-05:00", false, true, true},
    {"2001-12-14 21:59:43.10 -5", false, true, true},
    {"2001-12-14T21:59:43Z", false, true, true},
    {"2001-12-14T21:59:43z", false, true, true},
    {"2001-12-14T21:59:43+0530", false, false, false},
    {"1.0.0-beta", false, false, false},
    {"v1.2", false, false, false},
    {"hello world", false, false, false},
};

TEST(EncodePlainCheck, TableOfTrickyTexts) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(needs_quotes(c.text, VersionMode::Yaml12), c.y12);
    EXPECT_EQ(needs_quotes(c.text, VersionMode::Yaml11), c.y11);
    EXPECT_EQ(needs_quotes(c.text, VersionMode::PyyamlCompat), c.compat);
    // Any other mode byte reads as the strict 1.1 mode.
    EXPECT_EQ(needs_quotes(c.text, static_cast<VersionMode>(7)), c.compat);
  }
}

// A text left plain must read back as a string in its mode; under YAML 1.2 it
// must also not read as a YAML 1.1 number unless it is a sexagesimal form
// (the one-letter 1.1 booleans are left to 1.1 readers that know them), and
// under YAML 1.1 it must not be a timestamp.
TEST(EncodePlainCheck, PlainTextsReadBackAsStrings) {
  std::vector<std::string> texts;
  for (const Case& c : kCases) texts.emplace_back(c.text);
  // Every short text over an alphabet of number-like characters.
  const std::string_view alphabet = "0189.+-_:eExob ";
  for (char a : alphabet) {
    texts.emplace_back(1, a);
    for (char b : alphabet) {
      texts.push_back(std::string{a, b});
      for (char c : alphabet) texts.push_back(std::string{a, b, c});
    }
  }
  for (const std::string& t : texts) {
    for (VersionMode mode : kModes) {
      if (needs_quotes(t, mode)) continue;
      SCOPED_TRACE("text '" + t + "' mode " + std::to_string(static_cast<int>(mode)));
      EXPECT_EQ(resolve_scalar_kind(mode, t, false, std::nullopt).type, ScalarType::Str);
      if (mode == VersionMode::Yaml12) {
        if (t.find(':') == std::string::npos) {
          ScalarType t11 = resolve_plain_yaml11(false, t, false, std::nullopt).type;
          EXPECT_TRUE(t11 == ScalarType::Str || t11 == ScalarType::Bool) << "1.1 number";
        }
      } else {
        EXPECT_FALSE(parse_timestamp(t).has_value());
      }
    }
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
