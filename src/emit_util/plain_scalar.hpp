// May a string be written as a plain scalar?
//
// Two questions, asked by every writer through these functions only:
//   * `plain_text_safe`: does the text, written plain at this place, read
//     back as exactly these characters?  A syntax test: leading or trailing
//     blanks, an indicator at the start, ": " or " #" inside, a document
//     marker, a byte-order mark, a character a plain scalar cannot carry, and
//     in flow context the flow indicators.  The round-trip node writer asks
//     only this (a text read plain resolves as it did when it is written
//     plain again).
//   * `needs_quotes`: the value writers' decision (the dumper's value writer
//     and the value bridge): the syntax test in its cautious form, plus every
//     text that some reader would not read back as a string: null, booleans,
//     numbers and timestamps under our YAML 1.2 and 1.1 readers, the YAML 1.2
//     core schema and PyYAML's resolver.  The answer is the same under every
//     version mode, so output written for one reader loads unchanged with
//     the others, whatever version they assume.
#pragma once

#include <cstdint>
#include <string_view>

#include "resolver/resolve.hpp"

namespace kestrine {

// How near the edge of the plain-scalar syntax a writer goes.
enum class PlainSafety : std::uint8_t {
  // Plain whenever the text reads back as itself: "-x", "?x", ":x" and
  // texts with a tab inside stay plain.  The round-trip node writer's rule.
  Exact,
  // Also quoted: a text starting with "-", "?" or ":", any text holding a
  // tab, and in flow context any text holding "?".  The value writers' rule.
  Cautious,
};

// The syntax test; `in_flow` for flow context.  Empty texts pass (whether
// nothing may stand for a value is the caller's decision).
bool plain_text_safe(std::string_view text, bool in_flow, PlainSafety safety) noexcept;

// True when `text` must be quoted by a value writer (see above); always true
// for the empty text.  `mode` does not change the answer (kept for callers
// that carry one).
bool needs_quotes(std::string_view text, VersionMode mode, bool in_flow = false) noexcept;

// The YAML 1.1 timestamp shape: "YYYY-MM-DD", or a date with one- or
// two-digit month and day followed by "T", "t" or blanks, a time
// "H:MM:SS" (hour of one or two digits), an optional fraction, optional
// blanks and an optional zone ("Z", or a sign, one or two hour digits and
// optionally ":MM").
bool looks_like_timestamp(std::string_view text) noexcept;

}  // namespace kestrine
