// The rules for comment texts handed over for a node: which line breaks each
// kind may hold, the refusals' messages, and the one form the trees keep.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "roundtrip/comments/comment_text.hpp"

namespace kestrine {
namespace {

constexpr std::string_view kUnicodeBreak =
    "a comment cannot contain NEL, LS, or PS line breaks; use \\n to separate comment lines";
constexpr std::string_view kInlineBreak =
    "an inline comment cannot contain a line break; use comment_before or comment_after for a multi-line comment";

TEST(CommentText, RefusalsByKind) {
  struct Case {
    std::string_view text;
    std::optional<std::string_view> lines;      // check_comment_lines
    std::optional<std::string_view> inline_;    // check_inline_comment_text
  };
  const std::string_view control = "a comment cannot contain a disallowed control character U+0001";
  const Case cases[] = {
      {"plain text", std::nullopt, std::nullopt},
      {"caf\xC3\xA9 \xE2\x80\x94 ok", std::nullopt, std::nullopt},
      {"a\nb", std::nullopt, kInlineBreak},
      {"a\r\nb\rc", std::nullopt, kInlineBreak},
      {"a\xC2\x85" "b", kUnicodeBreak, kInlineBreak},
      {"a\xE2\x80\xA8" "b", kUnicodeBreak, kInlineBreak},
      {"a\xE2\x80\xA9", kUnicodeBreak, kInlineBreak},
      {"a\x01" "b", control, control},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(check_comment_lines(c.text), c.lines) << c.text;
    EXPECT_EQ(check_inline_comment_text(c.text), c.inline_) << c.text;
  }
}

TEST(CommentText, LinesKeepLineFeedsOnly) {
  EXPECT_EQ(comment_lines_with_lf("first\r\nsecond\rthird\n"), "first\nsecond\nthird\n");
  EXPECT_EQ(comment_lines_with_lf("a\n\nb"), "a\n\nb");
  EXPECT_EQ(comment_lines_with_lf("\r\r\n"), "\n\n");
  EXPECT_EQ(comment_lines_with_lf(""), "");
}

}  // namespace
}  // namespace kestrine
