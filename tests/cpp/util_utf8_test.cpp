// UTF-8 validation against a straightforward reference decoder.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "util/utf8.hpp"
#include "util/wide_utf8.hpp"

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

// UTF-8 of 8-, 16- and 32-bit code units against one code point at a time:
// random texts drawn from a few ranges each (so that blocks of one kind and
// mixed blocks both occur), of every length around the block sizes, and a
// surrogate at each position refused.
template <class Unit>
void check_wide_utf8(std::mt19937& rng, std::initializer_list<std::pair<char32_t, char32_t>> ranges) {
  const std::vector<std::pair<char32_t, char32_t>> pool(ranges);
  for (int round = 0; round < 3000; ++round) {
    const std::size_t n = rng() % 70;
    const std::size_t kinds = 1 + rng() % pool.size();
    std::vector<Unit> units;
    std::string expected;
    for (std::size_t i = 0; i < n; ++i) {
      const auto [lo, hi] = pool[rng() % kinds];
      const char32_t c = lo + static_cast<char32_t>(rng() % (hi - lo + 1));
      units.push_back(static_cast<Unit>(c));
      append_utf8(expected, c);
    }
    const std::optional<std::size_t> size = wide_utf8_size(units.data(), n);
    ASSERT_EQ(size, expected.size());
    std::string out(*size + 16, '#');  // writes never pass the size
    write_wide_utf8(units.data(), n, out.data());
    ASSERT_EQ(out.substr(0, *size), expected);
    ASSERT_EQ(out.substr(*size), std::string(16, '#'));
    if constexpr (sizeof(Unit) > 1) {
      if (n == 0) continue;
      units[rng() % n] = static_cast<Unit>(0xD800 + rng() % 0x800);
      EXPECT_FALSE(wide_utf8_size(units.data(), n).has_value());
    }
  }
}

TEST(UtilUtf8, WideUnitsAgreeWithOneCodePointAtATime) {
  std::mt19937 rng(7);
  check_wide_utf8<std::uint8_t>(rng, {{0x20, 0x7E}, {0x80, 0xFF}});
  check_wide_utf8<std::uint16_t>(rng, {{0x20, 0x7E}, {0x400, 0x7FF}, {0x80, 0x3FF}, {0x4E00, 0x9FFF}, {0xE000, 0xFFFF}});
  check_wide_utf8<std::uint32_t>(rng, {{0x20, 0x7E}, {0x1F600, 0x10FFFF}, {0x80, 0x7FF}, {0x800, 0xD7FF}});
}

}  // namespace
}  // namespace kestrine
