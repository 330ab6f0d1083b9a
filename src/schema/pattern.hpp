// Schema patterns: the regular expressions of `pattern` and
// `patternProperties`, searched anywhere in a text in time linear in the
// pattern and the text, whatever either holds.
//
// Patterns are written in a Unicode-aware, Perl-style dialect; they run on
// RE2.  `translate_schema_pattern`, a pure function of the pattern text,
// rewrites what RE2 spells differently or lacks:
//   \d \w \s and their negations, outside and inside classes: Unicode
//       (decimal digits, word characters, White_Space), not ASCII;
//   \p{...} and \P{...}: general categories, scripts and binary properties
//       by any of their names, loosely matched ("Letter", "gc=Lu",
//       "sc=Greek", "Alphabetic", "White_Space"), negated by "^" or "!=";
//   classes: nested classes, the operations && -- ~~ and negated items
//       beside others ([^\W\d]), as unions of intersections that RE2 classes
//       can spell;
//   \xHH \x{...} \uHHHH \u{...} \UHHHHHHHH \U{...}: the code point;
//   groups: all non-capturing (a search needs no captures), named ones too;
//   (?x) and the x flag of flag groups: white space and "#" comments are
//       dropped from the pattern (also inside classes), as the flag asks;
//   (?u) / (?-u): Unicode classes on / off;
//   counted repetitions above RE2's bound of 1000 (also as a product of
//       nested counts): written out as several repetitions side by side.
// It refuses, naming the construct, what no linear-time engine runs
// (look-around, back-references) and the word-boundary assertions RE2 lacks
// (\< \> \b{...}), and classes nested more than 64 deep (their operations
// count as levels too); \b and \B know ASCII word characters only.
//
//   CompiledPattern p = compile_schema_pattern(text);
//   if (p.program && p.program->search(value)) ...   // else p.refusal tells why
//
// Validations take their patterns from schema/pattern_cache.hpp, which
// compiles each text once for the process.
#pragma once

#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace re2 {
class RE2;
}

namespace kestrine {

// The RE2 spelling of `pattern`, or why it is refused: the construct for the
// forms refused above, an empty text for a pattern the dialect rejects.
std::expected<std::string, std::string> translate_schema_pattern(std::string_view pattern);

// One compiled pattern.  Immutable: several threads may search it at once.
class SchemaPattern {
 public:
  explicit SchemaPattern(std::unique_ptr<re2::RE2> re) noexcept;
  ~SchemaPattern();
  SchemaPattern(const SchemaPattern&) = delete;
  SchemaPattern& operator=(const SchemaPattern&) = delete;

  // True when the pattern matches somewhere in `text` (anchors in the
  // pattern apply as written).
  bool search(std::string_view text) const;
  // The size of the compiled program, in the engine's instructions.
  std::size_t program_size() const noexcept;

 private:
  std::unique_ptr<re2::RE2> re_;
};

// A pattern as validation uses it, decided once: its program, or the
// message that reports it refused.  Finding out why a pattern is refused
// costs a compile (seconds for one too large), so the reason is kept with
// the verdict instead of being worked out again for each failure.
struct CompiledPattern {
  std::unique_ptr<SchemaPattern> program;  // null: refused
  // "schema has an invalid regex pattern /{pattern}/", followed by ": " and
  // the construct when the pattern is refused for one, or "the pattern is
  // too large" when its program passes the engine's memory bound; empty
  // when compiled.
  std::string refusal;
};

// Translates and compiles.
CompiledPattern compile_schema_pattern(std::string_view pattern);

}  // namespace kestrine
