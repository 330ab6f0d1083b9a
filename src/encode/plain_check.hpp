// May a string be written as a plain scalar?
//
// `needs_quotes` is the one quoting decision of every writer (the dumper's
// value writer, the represent road, the round-trip emitter and the value
// bridge): true when the text, written plain, would not read back as the same
// string under the version mode, because it is empty, starts or ends like
// YAML structure, holds a comment or mapping indicator or a character a plain
// scalar cannot carry, or resolves to a null, boolean, number or (YAML 1.1)
// timestamp.  Under YAML 1.2 it also quotes texts that YAML 1.1 readers take
// for booleans or numbers, so the output reads the same with either.
#pragma once

#include <string_view>

#include "resolver/resolve.hpp"

namespace kestrine {

bool needs_quotes(std::string_view text, VersionMode mode) noexcept;

// A space that is neither first nor last and has a non-blank on each side:
// a place where a quoted scalar can fold.
bool has_fold_point(std::string_view text) noexcept;

// The YAML 1.1 timestamp shape: "YYYY-MM-DD", or a date with one- or
// two-digit month and day followed by "T", "t" or blanks, a time
// "H:MM:SS" (hour of one or two digits), an optional fraction, optional
// blanks and an optional zone ("Z", or a sign, one or two hour digits and
// optionally ":MM").
bool looks_like_timestamp(std::string_view text) noexcept;

}  // namespace kestrine
