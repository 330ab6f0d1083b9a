// Schema patterns (the dialect translated for RE2) and the in-file schema
// reference reader.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "schema/modeline.hpp"
#include "schema/pattern.hpp"

namespace kestrine {
namespace {

constexpr int kInvalid = -1;

// Residual differences from the dialect, by design:
//   * \b and \B are ASCII word boundaries (the dialect's are Unicode), so
//     \bé finds no boundary before "é";
//   * nested classes, the class operations && -- ~~, a negated class holding
//     \W beside other items, \< \> \b{...} and the R flag are refused as
//     invalid patterns although the dialect accepts them;
//   * \w spells the dialect's Alphabetic property as letters, letter numbers,
//     marks and the enclosed letters; \p{...} takes RE2's property names
//     (general categories and scripts, not long names such as \p{Letter});
//     group names are letters, digits and "_" only.
TEST(SchemaPattern, DialectOnRe2) {
  const struct {
    const char* pattern;
    const char* text;
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
      // Verbose patterns: white space and comments dropped, inside classes too.
      {"(?x) a b  # the letters\n c", "abc", 1}, {"(?x)a\\ b", "a b", 1}, {"(?x)^[a b]$", " ", 0},
      {"(?x:a b)c d", "abc d", 1}, {"(?xi)A B", "ab", 1},
      // What the dialect refuses.
      {"(?=a)", "a", kInvalid}, {"(?!a)", "", kInvalid}, {"(?<=a)b", "ab", kInvalid}, {"(?<!a)b", "b", kInvalid},
      {"(a)\\1", "aa", kInvalid}, {"\\e", "", kInvalid}, {"a\\", "", kInvalid}, {"(", "", kInvalid},
      {"[a", "", kInvalid}, {"\\u00", "", kInvalid}, {"\\x{110000}", "", kInvalid}, {"\\u{D800}", "", kInvalid},
      {"(?z)a", "a", kInvalid}, {"\\\u00e9", "", kInvalid},
      // Residual differences (see above).
      {"\\b\u00e9", "\u00e9", 0}, {"[a[b]]", "b", kInvalid}, {"[a-z&&[^aeiou]]", "b", kInvalid},
      {"^[^a\\W]$", "b", kInvalid}, {"\\<a", "a", kInvalid}, {"(?R)a", "a", kInvalid},
  };
  PatternCache cache;
  for (const auto& c : cases) {
    const SchemaPattern* pattern = cache.get(c.pattern);
    if (c.matches == kInvalid) {
      EXPECT_EQ(pattern, nullptr) << c.pattern << " -> " << translate_schema_pattern(c.pattern).value_or("(refused)");
      continue;
    }
    ASSERT_NE(pattern, nullptr) << c.pattern << " -> " << translate_schema_pattern(c.pattern).value_or("(refused)");
    EXPECT_EQ(pattern->search(c.text), c.matches == 1) << c.pattern << " on " << c.text;
  }
  EXPECT_EQ(cache.get("^b"), cache.get("^b"));  // compiled once
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
