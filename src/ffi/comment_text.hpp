// Comment texts from Python arguments, checked and stored by the core's
// rules (roundtrip/comments/comment_text.hpp); a refusal is raised as ValueError.
// Absent stays absent.
//
//   KESTRINE_TRY(check_inline_comment(text.comment));
//   KESTRINE_ASSIGN_OR_RETURN(text.comment_before, split_comment_lines(std::move(text.comment_before)));
#pragma once

#include <optional>
#include <string>

#include "ffi/py.hpp"
#include "roundtrip/comments/comment_text.hpp"

namespace kestrine {

// A trailing comment: no line break at all.
PyStatus check_inline_comment(const std::optional<std::string>& comment);

// Comment lines: CR LF and CR become LF; a final line break stays.
PyResult<std::optional<std::string>> split_comment_lines(std::optional<std::string> text);

}  // namespace kestrine
