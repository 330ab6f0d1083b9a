// The comment texts that Python code hands over (node descriptor arguments,
// the document API): which line breaks each kind may hold, and the one form
// the trees store them in.
//
//   check_inline_comment(text)    // a trailing comment: no line break at all
//   split_comment_lines(text)     // a comment block: CR LF and CR become LF
//   normalize_comment(text)       // the same, without a final line break
//
// NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR are refused everywhere (the
// writers could not put them back), with ValueError, and so are the control
// characters no reader takes in a comment ("a comment cannot contain a
// disallowed control character U+0001").  Absent stays absent.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ffi/py.hpp"

namespace kestrine {

// ValueError "an inline comment cannot contain a line break; ..." for any
// line break (CR, LF, NEL, LS, PS).
PyStatus check_inline_comment(const std::optional<std::string>& comment) noexcept;

// Comment lines: CR LF, CR and LF separate lines, which are joined again with
// "\n"; a final line break stays.
PyResult<std::optional<std::string>> split_comment_lines(std::optional<std::string> text);

// The same lines, where a final line break ends the last line instead of
// starting an empty one.
PyResult<std::optional<std::string>> normalize_comment(std::optional<std::string_view> comment);

}  // namespace kestrine
