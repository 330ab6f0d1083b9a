#include "ffi/comment_text.hpp"

#include <utility>

namespace kestrine {

PyStatus check_inline_comment(const std::optional<std::string>& comment) {
  if (!comment) return {};
  if (auto refusal = check_inline_comment_text(*comment)) return fail(PyErr::value_error(*refusal));
  return {};
}

PyResult<std::optional<std::string>> split_comment_lines(std::optional<std::string> text) {
  if (!text) return text;
  if (auto refusal = check_comment_lines(*text)) return fail(PyErr::value_error(*refusal));
  if (text->find('\r') == std::string::npos) return text;
  return std::optional<std::string>(comment_lines_with_lf(*text));
}

}  // namespace kestrine
