// The comment texts a caller hands over for a node (node descriptor
// arguments, the document API): which line breaks each kind may hold, and
// the one form the trees keep them in.
//
//   check_inline_comment_text("a\nb")   // "an inline comment cannot contain a line break; ..."
//   check_comment_lines("a\r\nb")        // nothing: CR LF separates comment lines
//   comment_lines_with_lf("a\r\nb\rc")   // "a\nb\nc", the form the trees keep
//
// NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR are refused everywhere (the
// writers could not put them back), and so are the control characters no
// reader takes in a comment ("a comment cannot contain a disallowed control
// character U+0001").  The reasons are messages for the caller to raise
// (ValueError at the Python boundary).  Pure functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrine {

// Why `text` cannot be an inline comment: any line break (CR, LF, NEL, LS,
// PS), or a character no reader takes; nothing when it can.
std::optional<std::string> check_inline_comment_text(std::string_view text);

// Why `text` cannot be comment lines (CR LF, CR and LF separate lines; NEL,
// LS and PS are refused), or a character no reader takes; nothing when it can.
std::optional<std::string> check_comment_lines(std::string_view text);

// Comment lines in the form the trees keep: CR LF and lone CR become LF.
std::string comment_lines_with_lf(std::string_view text);

}  // namespace kestrine
