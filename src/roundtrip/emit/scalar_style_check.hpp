// Can a scalar's text be written in a style that a caller asked for, and read
// back as exactly the same string?
//
//   if (auto reason = check_scalar_style(text, ScalarStyle::Plain, false))
//     ... refuse: *reason says why ("it contains a ':' mapping indicator") ...
//
// The dumper's represent road asks this before honouring an explicit style
// (the automatic style never needs it: it picks a style that fits).  The test
// is about syntax only: whether a plain text reads back as a number, a
// boolean or null is the caller's business (a callback writes a boolean by
// asking for the plain text "true").  Reasons are static texts.  Pure; never
// fails; reads the text in place.
#pragma once

#include <optional>
#include <string_view>

#include "scanner/scanner.hpp"

namespace kestrine {

// Nothing when `text` may be written in `style` where it stands, else the
// reason it may not.  `in_flow_or_key`: the scalar stands inside a flow
// collection or is a mapping key (callers have already turned literal and
// folded requests there into double quotes).  A plain text that passes is
// also one the writers' own plain test (plain_text_safe) accepts there.  Control characters are those
// below U+0020, U+007F, U+0080 to U+009F other than NEL (U+0085), U+FFFE and
// U+FFFF.
std::optional<std::string_view> check_scalar_style(std::string_view text, ScalarStyle style,
                                                   bool in_flow_or_key) noexcept;

}  // namespace kestrine
