// UTF-8 validation against a straightforward reference decoder.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "util/utf8.hpp"

namespace kestrine {
namespace {

// Reference: decode one code point at a time by the definition.
std::size_t reference_prefix(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    int len = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, cp = c & 0x07;
    } else {
      return i;
    }
    if (i + len > s.size()) return i;
    for (int k = 1; k < len; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (cc & 0x3F);
    }
    const std::uint32_t min[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < min[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return i;
    i += len;
  }
  return s.size();
}

TEST(UtilUtf8, AcceptsValidText) {
  for (const std::string s : {std::string(), std::string("plain ascii"), std::string("caf\xC3\xA9"),
                              std::string("\xE2\x82\xAC euro"), std::string("\xF0\x9F\x98\x80"),
                              std::string("\xEF\xBB\xBF" "bom"), std::string("\xF4\x8F\xBF\xBF"),
                              std::string("\xED\x9F\xBF"), std::string("\xEE\x80\x80"), std::string(1, '\0')}) {
    EXPECT_TRUE(is_valid_utf8(s)) << s;
  }
}

TEST(UtilUtf8, RejectsMalformedSequencesAtTheRightOffset) {
  struct Case {
    std::string text;
    std::size_t prefix;
  } cases[] = {
      {"ab\x80", 2},                  // stray continuation
      {"\xC0\xAF", 0},                // overlong "/"
      {"\xC1\xBF", 0},                // overlong
      {"x\xE0\x80\xAF", 1},           // overlong three-byte
      {"\xF0\x80\x80\xAF", 0},        // overlong four-byte
      {"\xED\xA0\x80", 0},            // encoded surrogate U+D800
      {"ok\xED\xBF\xBF", 2},          // encoded surrogate U+DFFF
      {"\xF4\x90\x80\x80", 0},        // above U+10FFFF
      {"\xF5\x80\x80\x80", 0},        // invalid lead byte
      {"\xFF", 0},
      {"abc\xE2\x82", 3},             // truncated at the end
      {"\xC3\xA9\xC3", 2},            // truncated after a valid character
      {"\xE2\x28\xA1", 0},            // bad continuation
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf8_valid_prefix(c.text.data(), c.text.size()), c.prefix) << testing::PrintToString(c.text);
    EXPECT_FALSE(is_valid_utf8(c.text));
  }
}

TEST(UtilUtf8, ErrorsAtEveryPositionOfTheWideAsciiScan) {
  // An invalid byte at each position of runs longer than 16 bytes, so that
  // the 16-, 8- and 1-byte paths all meet it.
  for (std::size_t len = 1; len < 48; ++len) {
    for (std::size_t pos = 0; pos < len; ++pos) {
      std::string s(len, 'a');
      s[pos] = '\x80';
      ASSERT_EQ(utf8_valid_prefix(s.data(), s.size()), pos) << len << " " << pos;
    }
    std::string ok(len, 'z');
    EXPECT_TRUE(is_valid_utf8(ok));
    EXPECT_TRUE(is_ascii(ok));
  }
  EXPECT_FALSE(is_ascii("abc\xC3\xA9"));
}

TEST(UtilUtf8, AgreesWithTheReferenceOnRandomInput) {
  std::mt19937 rng(12345);
  const std::string pieces[] = {"a",       "plain text ", "\xC3\xA9",    "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                "\x80",    "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE0\x80", "\xC2",
                                "\xEF\xBF\xBF", std::string(20, 'x')};
  for (int round = 0; round < 20000; ++round) {
    std::string s;
    const int n = static_cast<int>(rng() % 12);
    for (int k = 0; k < n; ++k) {
      if (rng() % 5 == 0) {
        s.push_back(static_cast<char>(rng() & 0xFF));
      } else {
        s += pieces[rng() % std::size(pieces)];
      }
    }
    ASSERT_EQ(utf8_valid_prefix(s.data(), s.size()), reference_prefix(s)) << testing::PrintToString(s);
  }
}

}  // namespace
}  // namespace kestrine
