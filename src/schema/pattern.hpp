// Schema patterns: the regular expressions of `pattern` and
// `patternProperties`, searched anywhere in a text in time linear in the
// pattern and the text, whatever either holds.
//
// Patterns are written in a Unicode-aware, Perl-style dialect; they run on
// RE2.  `translate_schema_pattern` rewrites the dialect's forms that RE2
// spells differently or lacks:
//   \d \w \s and their negations, outside and inside classes: Unicode
//       (decimal digits, word characters, White_Space), not ASCII;
//   \xHH \x{...} \uHHHH \u{...} \UHHHHHHHH \U{...}: the code point;
//   (?<name>...): a named group;
//   (?x) and the x flag of flag groups: white space and "#" comments are
//       dropped from the pattern (also inside classes), as the flag asks;
//   (?u) / (?-u): Unicode classes on / off.
// and refuses what the dialect refuses: look-around, backreferences,
// unknown escapes, trailing backslashes.  A few rarer forms are refused here
// although the dialect has them (nested classes and the class operations
// && -- ~~, a negated class holding \W beside other items, \< \> \b{...},
// the R flag); see the tests for the residual differences.
//
//   PatternCache patterns;                       // one per validation
//   const SchemaPattern* p = patterns.get(text); // null: invalid pattern
//   if (p && p->search(value)) ...
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "util/hash_map.hpp"

namespace re2 {
class RE2;
}

namespace kestrine {

// The RE2 spelling of `pattern`, or nothing when the dialect rejects it (or
// it uses a form refused above).
std::optional<std::string> translate_schema_pattern(std::string_view pattern);

// One compiled pattern.
class SchemaPattern {
 public:
  explicit SchemaPattern(std::unique_ptr<re2::RE2> re) noexcept;
  ~SchemaPattern();
  SchemaPattern(const SchemaPattern&) = delete;
  SchemaPattern& operator=(const SchemaPattern&) = delete;

  // True when the pattern matches somewhere in `text` (anchors in the
  // pattern apply as written).  Not for concurrent use (see memo_).
  bool search(std::string_view text) const;

 private:
  std::unique_ptr<re2::RE2> re_;
  // Answers for short texts already searched: configuration values repeat
  // (names, units, enumerated words), and a lookup costs less than a search.
  // Bounded in entries and text length.
  mutable SeededHashMap<std::string, bool> memo_;
};

// Translates and compiles; null when the pattern is invalid.
std::unique_ptr<SchemaPattern> compile_schema_pattern(std::string_view pattern);

// Every distinct pattern text compiled once.  Entries never move, so the
// pointers handed out stay valid for the life of the cache.
class PatternCache {
 public:
  // The compiled pattern, or null when `pattern` is invalid.
  const SchemaPattern* get(std::string_view pattern);

 private:
  SeededHashMap<std::string, std::unique_ptr<SchemaPattern>> patterns_;
};

}  // namespace kestrine
