// Schema patterns (the dialect translated for RE2) and the in-file schema
// reference reader.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "schema/modeline.hpp"
#include "schema/pattern.hpp"
#include "schema/pattern_cache.hpp"

namespace kestrine {
namespace {

constexpr int kInvalid = -1;

// Residual differences from the dialect, by design:
//   * \b and \B are ASCII word boundaries (the dialect's are Unicode), so
//     \bé finds no boundary before "é"; \< \> \b{...} are refused;
//   * binary properties beyond those listed in pattern_unicode.cpp (the
//     Changes_When_* family, XID_*, Script_Extensions, Age, the break
//     properties) are refused, naming the property.
// `open` n times, `middle`, `close` n times.
std::string nested(int n, std::string_view open, std::string_view middle, std::string_view close) {
  std::string out;
  for (int i = 0; i < n; ++i) out += open;
  out += middle;
  for (int i = 0; i < n; ++i) out += close;
  return out;
}

TEST(SchemaPattern, DialectOnRe2) {
  const struct {
    std::string pattern;
    std::string text;
    int matches;  // 1, 0, or kInvalid
  } cases[] = {
      {"b", "abc", 1}, {"^b", "abc", 0}, {"(?i)ABC", "xabcx", 1},
      // Unicode classes, outside and inside brackets.
      {"\\d", "\u0663", 1}, {"^\\d+$", "12\u0969", 1}, {"\\D", "\u0663", 0},
      {"^\\w+$", "h\u00e9llo_w\u00f6rld", 1}, {"^\\w$", "\u24b6", 1}, {"\\W", "abc", 0}, {"\\W", "a b", 1},
      {"^\\s$", "\u3000", 1}, {"^\\s$", "\u00a0", 1}, {"\\S", " \t", 0},
      {"^[\\d]+$", "\u06634", 1}, {"^[^\\d]+$", "ab", 1}, {"^[^\\d]+$", "a\u0663", 0},
      {"^[\\s]$", "\u2003", 1}, {"^[\\S]$", "x", 1}, {"^[\\S]$", "\u2003", 0},
      {"^[a\\W]+$", "a-a", 1}, {"^[a\\W]+$", "ab", 0}, {"^[^\\W]+$", "ab", 1}, {"^[^\\W]+$", "a-", 0},
      {"^[]a]+$", "]a", 1}, {"^[[:digit:]]$", "7", 1}, {"(?-u:\\w)", "\u00e9", 0},
      // Code point escapes and named groups.
      {"\\u00e9", "\u00e9", 1}, {"\\u{1F600}", "\U0001F600", 1}, {"\\x41", "A", 1}, {"\\x{e9}", "\u00e9", 1},
      {"\\U0001F600", "\U0001F600", 1}, {"\\.", "a.b", 1}, {"\\-", "-", 1},
      {"(?<year>\\d{4})-(?P<month>\\d\\d)", "2024-06", 1},
      // The dialect's own single-character escapes.
      {"^a\\0$", std::string("a\0", 2), 1}, {"\\cJ", "a\nb", 1}, {"^[\\cA-\\cC]$", "\x02", 1},
      {"^[\\b]$", "\b", 1}, {"^[\\b]$", "b", 0}, {"\\01", "", kInvalid}, {"\\c1", "", kInvalid},
      // Verbose patterns: white space and comments dropped, inside classes too.
      {"(?x) a b  # the letters\n c", "abc", 1}, {"(?x)a\\ b", "a b", 1}, {"(?x)^[a b]$", " ", 0},
      {"(?x:a b)c d", "abc d", 1}, {"(?xi)A B", "ab", 1},
      // What the dialect refuses.
      {"(?=a)", "a", kInvalid}, {"(?!a)", "", kInvalid}, {"(?<=a)b", "ab", kInvalid}, {"(?<!a)b", "b", kInvalid},
      {"(a)\\1", "aa", kInvalid}, {"\\e", "", kInvalid}, {"a\\", "", kInvalid}, {"(", "", kInvalid},
      {"[a", "", kInvalid}, {"\\u00", "", kInvalid}, {"\\x{110000}", "", kInvalid}, {"\\u{D800}", "", kInvalid},
      {"(?z)a", "a", kInvalid}, {"\\\u00e9", "", kInvalid},
      // Non-capturing and flag groups; long property names and their forms.
      {"^(?:ab)+$", "abab", 1}, {"^(?i:AB)c$", "abc", 1}, {"(?:a|b)(?P<n>c)", "bc", 1},
      {"^\\p{Letter}+$", "\u00e9t\u00e9", 1}, {"^\\p{Alphabetic}$", "\u0345", 1}, {"\\p{White_Space}", "a\u2003", 1},
      {"^\\p{sc=Greek}$", "\u03b1", 1}, {"^\\p{sc:Grek}$", "a", 0}, {"^\\p{gc=Lu}$", "A", 1}, {"^\\p{gc=Lu}$", "a", 0},
      {"^\\p{Uppercase_Letter}$", "\u00c9", 1}, {"^\\p{is_greek}$", "\u03b1", 1}, {"^\\p{^Greek}$", "\u03b1", 0},
      {"^\\p{sc!=Greek}$", "a", 1}, {"^\\PL$", "1", 1}, {"^\\p{Cn}$", "\u0378", 1}, {"^\\p{Any}$", "\u0378", 1},
      {"^\\P{Alphabetic}$", "\u0345", 0}, {"^[\\p{Greek}\\d]+$", "\u03b11", 1}, {"\\p{Foo}", "", kInvalid},
      {"\\p{Age=6.0}", "", kInvalid},
      // Classes RE2 cannot spell directly, as sets.
      {"^[^\\W\\d]+$", "ab\u00e9", 1}, {"^[^\\W\\d]+$", "a1", 0}, {"^[^\\W\\d]+$", "a-", 0},
      {"[a[b]]", "b", 1}, {"^[a-z&&[^aeiou]]+$", "bcd", 1}, {"^[a-z&&[^aeiou]]+$", "bad", 0},
      {"^[a-z--[aeiou]]$", "e", 0}, {"^[a-c~~b-d]+$", "ad", 1}, {"^[a-c~~b-d]+$", "b", 0},
      {"^[^a\\W]$", "b", 1}, {"^[^a\\W]$", "a", 0}, {"^[\\x41-\\x43]+$", "ABC", 1}, {"^[\\x41-\\x43]$", "-", 0},
      // A property's listed ranges are one literal, so \w and such properties
      // intersect other sets in a few terms.
      {"^[\\w&&[a-zA-Z]]+$", "abZ", 1}, {"[\\w&&[a-zA-Z]]", "1\u00e9_-", 0}, {"^[\\w--\\p{L}]+$", "_1\u0345", 1},
      {"^[\\p{Alphabetic}--\\p{L}]$", "\u0345", 1}, {"^[\\p{Alphabetic}--\\p{L}]$", "a", 0},
      {"^[\\P{Hex_Digit}]$", "g", 1}, {"^[\\P{Hex_Digit}]$", "\uff10", 0}, {"^[\\p{Hex_Digit}&&[^0-9]]+$", "aF\uff21", 1},
      {"^[\\p{Hex_Digit}&&[^0-9]]$", "5", 0}, {"^[^\\p{Hex_Digit}\\s]$", "\u2003", 0}, {"^[^\\p{Hex_Digit}\\s]$", "x", 1},
      // Counts above 1000, also as products of nested counts.
      {"^a{1500}$", std::string(1500, 'a').c_str(), 1}, {"^a{1500}$", std::string(1499, 'a').c_str(), 0},
      {"^(?:ab){2,1200}$", "abab", 1}, {"^(?:a{10}){200}$", std::string(2000, 'a').c_str(), 1},
      {"^x{1001,}$", std::string(1001, 'x').c_str(), 1}, {"^x{1001,}$", std::string(1000, 'x').c_str(), 0},
      // Residual differences (see above).
      {"\\b\u00e9", "\u00e9", 0}, {"\\<a", "a", kInvalid}, {"(?R)a", "a", kInvalid},
      // Nesting: classes and their operations within a bound (the recursion
      // over them must not run the stack out), groups as deep as RE2 takes.
      {nested(64, "[", "a", "]"), "a", 1}, {nested(65, "[", "a", "]"), "a", kInvalid},
      {nested(10000, "[^", "a", "]"), "a", kInvalid}, {nested(31, "[a&&", "a", "]"), "a", 1},
      {nested(40, "[a&&", "a", "]"), "a", kInvalid}, {"[" + nested(63, "", "a", "&&a") + "]", "a", 1},
      {"[" + nested(10000, "", "a", "~~a") + "]", "a", kInvalid},
      {nested(10000, "(?:", "a", ")"), "a", 1}, {nested(10000, "(", "a", "){1}"), "a", 1},
  };
  PatternCache cache;
  for (const auto& c : cases) {
    const CompiledPattern& compiled = cache.get(c.pattern);
    const SchemaPattern* pattern = compiled.program.get();
    if (c.matches == kInvalid) {
      EXPECT_EQ(pattern, nullptr) << c.pattern << " -> " << translate_schema_pattern(c.pattern).value_or("(refused)");
      EXPECT_TRUE(compiled.refusal.starts_with("schema has an invalid regex pattern /"));
      continue;
    }
    EXPECT_EQ(compiled.refusal, "");
    ASSERT_NE(pattern, nullptr) << c.pattern << " -> " << translate_schema_pattern(c.pattern).value_or("(refused)");
    EXPECT_EQ(pattern->search(c.text), c.matches == 1) << c.pattern << " on " << c.text;
  }
  EXPECT_EQ(&cache.get("^b"), &cache.get("^b"));  // compiled once
  EXPECT_EQ(shared_schema_pattern("^b"), shared_schema_pattern("^b"));  // once for the process
  // Answers from the memo agree with searches, whatever shares a slot: texts
  // of one length and ends, empty and long texts, two patterns.
  std::vector<std::string> texts;  // the memo keeps views: they must outlive it
  for (int i = 0; i < 2000; ++i)
    texts.push_back(i % 7 == 0   ? std::string(70 + i % 5, 'a') + "z"
                    : i % 5 == 0 ? std::string()
                                 : "a" + std::to_string(i * 7919 % 1000) + (i % 2 ? "z" : "9"));
  PatternMemo memo;
  const SchemaPattern* digits = cache.get("^[0-9]+$").program.get();
  const SchemaPattern* word = cache.get("^a.*z$").program.get();
  for (int round = 0; round < 3; ++round)
    for (const std::string& text : texts)
      for (const SchemaPattern* p : {digits, word}) ASSERT_EQ(memo.search(*p, text), p->search(text)) << text;
  // What no linear-time engine runs is refused by name.
  const auto refusal = [](const std::string& pattern) { return compile_schema_pattern(pattern).refusal; };
  for (const char* refused : {"(?=a)", "(?<!a)b", "(a)\\1", "(?P<n>a)(?P=n)", "\\k<n>"})
    EXPECT_NE(refusal(refused).find("cannot run in linear time"), std::string::npos) << refused;
  EXPECT_EQ(refusal("\\<a"), "schema has an invalid regex pattern /\\<a/: the word-boundary assertion \\< is not supported");
  EXPECT_EQ(refusal("("), "schema has an invalid regex pattern /(/");
  EXPECT_TRUE(refusal(nested(65, "[", "a", "]")).ends_with("]/: character classes nest too deeply"));
  EXPECT_TRUE(refusal("[" + nested(64, "", "a", "--a") + "]").ends_with("]/: the character class is too complex"));
  // A pattern refused as too large is refused once, with its reason: the
  // schema's failures report it without compiling it again.
  const CompiledPattern& large = cache.get("^[\\w.-]{1,2000}$");
  EXPECT_EQ(large.program, nullptr);
  EXPECT_TRUE(large.refusal.ends_with("/: the pattern is too large")) << large.refusal;
}

TEST(SchemaModeline, LeadingCommentBlock) {
  const struct {
    const char* text;
    const char* reference;  // nullptr: none
  } cases[] = {
      {"# yaml-language-server: $schema=service.json  \r\na: 1\n", "service.json"},
      {"#yaml-language-server:$schema=s.json", "s.json"},
      {"# yaml-language-server: $schema = s.json\n", nullptr},
      {"# yaml-language-server: $schema=my file.json  \n", "my file.json"},
      {"# first\n\n# yaml-language-server: $schema=three.json\n", "three.json"},
      {"\t \u3000# yaml-language-server:\u2003$schema=x\u00a0\n", "x"},
      {"  # yaml-language-server: $schema=x\r", "x"},
      {"# yaml-language-server: $schema=   \n# yaml-language-server: $schema=later\n", "later"},
      {"%YAML 1.2\n# yaml-language-server: $schema=x\n", nullptr},
      {"---\n# yaml-language-server: $schema=x\n", nullptr},
      {"a: 1\n# yaml-language-server: $schema=x\n", nullptr},
      {"# YAML-language-server: $schema=x\n", nullptr},
      {"# yaml-language-server: $Schema=x\n", nullptr},
      {"# just a comment\n# another", nullptr},
      {"", nullptr},
      {"\xEF\xBB\xBF# yaml-language-server: $schema=x\n", nullptr},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> found = find_schema_modeline(c.text);
    if (c.reference == nullptr) {
      EXPECT_FALSE(found) << c.text;
    } else {
      EXPECT_EQ(found.value_or("(none)"), c.reference) << c.text;
    }
  }
}

}  // namespace
}  // namespace kestrine
