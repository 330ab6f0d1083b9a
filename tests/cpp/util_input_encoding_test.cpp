// Encoding detection and the transcoders, below what the Python tests of
// input reading reach.
#include <gtest/gtest.h>

#include <string_view>

#include "util/input_encoding.hpp"

namespace kestrine {
namespace {

TEST(InputEncoding, DetectionAndTranscoders) {
  EXPECT_EQ(sniff_encoding(""), InputEncoding::Utf8);
  EXPECT_EQ(sniff_encoding(std::string_view("\0", 1)), InputEncoding::Utf8);
  EXPECT_EQ(sniff_encoding(std::string_view("\xFF\xFE\0\0", 4)), InputEncoding::Utf32Le);
  EXPECT_EQ(sniff_encoding(std::string_view("\xFF\xFE\0", 3)), InputEncoding::Utf16Le);
  EXPECT_EQ(sniff_encoding(std::string_view("\0\0\0a", 4)), InputEncoding::Utf32Be);
  EXPECT_EQ(sniff_encoding(std::string_view("\0a\0\0", 4)), InputEncoding::Utf16Be);

  // A surrogate pair, then U+00E9.
  auto pair = decode_utf16(std::string_view("\x3D\xD8\x00\xDE\xE9\x00", 6), false);
  ASSERT_TRUE(pair);
  EXPECT_EQ(*pair, "\xF0\x9F\x98\x80\xC3\xA9");
  auto be = decode_utf32(std::string_view("\0\x01\xF6\x00", 4), true);
  ASSERT_TRUE(be);
  EXPECT_EQ(*be, "\xF0\x9F\x98\x80");
  EXPECT_EQ(decode_utf16(std::string_view("\x00\xDC", 2), false).error(), "invalid UTF-16: unpaired surrogate");
  EXPECT_FALSE(check_utf8("plain \xC3\xA9"));
  EXPECT_EQ(*check_utf8("ab\xC3"), "invalid UTF-8: incomplete utf-8 byte sequence from index 2");
}

}  // namespace
}  // namespace kestrine
