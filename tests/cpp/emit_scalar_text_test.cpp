#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "emit_util/float_text.hpp"
#include "emit_util/scalar_text.hpp"
#include "resolver/resolve.hpp"

namespace kestrine {
namespace {

using namespace std::string_literals;

TEST(EmitScalarText, PrintableSingleLine) {
  EXPECT_TRUE(is_printable_single_line(""));
  EXPECT_TRUE(is_printable_single_line("héllo wörld ✓ 😀"));
  EXPECT_FALSE(is_printable_single_line("a\tb"));
  EXPECT_FALSE(is_printable_single_line("a\nb"));
  EXPECT_FALSE(is_printable_single_line("a\rb"));
  EXPECT_FALSE(is_printable_single_line("a\x7f"));
  EXPECT_FALSE(is_printable_single_line("\xc2\x80"));      // U+0080
  EXPECT_FALSE(is_printable_single_line("\xef\xbf\xbe"));  // U+FFFE
  EXPECT_FALSE(is_printable_single_line("\xef\xbf\xbf"));  // U+FFFF
  EXPECT_TRUE(is_printable_single_line("\xef\xbf\xbd"));   // U+FFFD
  EXPECT_TRUE(is_printable_single_line("\xc2\xa0"));       // NBSP
  // Line breaks to YAML 1.1 readers, which would fold them inside quotes.
  EXPECT_FALSE(is_printable_single_line("a\xc2\x85" "b"));  // NEL
  EXPECT_FALSE(is_printable_single_line("a\xe2\x80\xa8"));  // U+2028
  EXPECT_FALSE(is_printable_single_line("a\xe2\x80\xa9"));  // U+2029
  EXPECT_TRUE(is_printable_single_line("a\xe2\x80\xaa"));   // U+202A
}

TEST(EmitScalarText, FitsLiteralBlock) {
  EXPECT_FALSE(fits_literal_block("no line feed"));
  EXPECT_FALSE(fits_literal_block(""));
  EXPECT_TRUE(fits_literal_block("a\nb"));
  EXPECT_TRUE(fits_literal_block("a\n\tindented by tab inside\n"));
  EXPECT_TRUE(fits_literal_block("\n\n"));
  EXPECT_TRUE(fits_literal_block("\n\nfirst\n  more\n"));
  EXPECT_FALSE(fits_literal_block(" lead\nb"));
  EXPECT_FALSE(fits_literal_block("\n\tlead\nb"));
  EXPECT_FALSE(fits_literal_block("a\r\nb"));
  EXPECT_FALSE(fits_literal_block("a\nb\x01"));
  EXPECT_FALSE(fits_literal_block("a\nb\x7f"));
  EXPECT_FALSE(fits_literal_block("a\n\xc2\x85"));
  EXPECT_FALSE(fits_literal_block("a\n\xe2\x80\xa8"));
}

TEST(EmitScalarText, EscapeDoubleQuoted) {
  const auto escape_double_quoted = [](std::string_view text) {
    std::string out;
    append_double_quoted_body(out, text);
    return out;
  };
  EXPECT_EQ(escape_double_quoted("plain"), "plain");
  EXPECT_EQ(escape_double_quoted("a\"b\\c"), "a\\\"b\\\\c");
  EXPECT_EQ(escape_double_quoted("\t\n\r"s + '\0'), "\\t\\n\\r\\0");
  EXPECT_EQ(escape_double_quoted("\x07\x1b\x7f"), "\\x07\\x1b\\x7f");
  EXPECT_EQ(escape_double_quoted("\xc2\x9f"), "\\x9f");
  EXPECT_EQ(escape_double_quoted("\xef\xbf\xbe\xef\xbf\xbf"), "\\ufffe\\uffff");
  EXPECT_EQ(escape_double_quoted("é\xc2\xa0😀"), "é\xc2\xa0😀");
  // YAML 1.1 line breaks are escaped so that no reader folds them.
  EXPECT_EQ(escape_double_quoted("a\xc2\x85" "b\xe2\x80\xa8" "c\xe2\x80\xa9"), "a\\Nb\\Lc\\P");

  std::string out = "k: ";
  write_double_quoted(out, "x\ny");
  EXPECT_EQ(out, "k: \"x\\ny\"");
}

TEST(EmitScalarText, SingleQuoted) {
  std::string out;
  write_single_quoted(out, "it's 'x'");
  EXPECT_EQ(out, "'it''s ''x'''");
  out.clear();
  write_single_quoted(out, "");
  EXPECT_EQ(out, "''");
}

TEST(EmitScalarText, FoldedBreaksBeforeLongWords) {
  std::string out = "k: \"";
  write_folded(out, "aaaa bbbb cccc dddd", 5, 15);
  EXPECT_EQ(out, "k: \"aaaa bbbb\n     cccc dddd");
  out = "k: \"";
  write_folded(out, "aaaa bbbb cccc dddd", 5, 12);
  EXPECT_EQ(out, "k: \"aaaa\n     bbbb\n     cccc\n     dddd");

  out = "";
  write_folded(out, "verylongword tail", 0, 4);  // a word longer than the width stays whole
  EXPECT_EQ(out, "verylongword\ntail");

  out = "";
  write_folded(out, "a  b c", 0, 1);  // double spaces never break
  EXPECT_EQ(out, "a  b\nc");

  out = "xx\nyy";  // the current line is what follows the last line feed
  write_folded(out, "a b", 1, 5);
  EXPECT_EQ(out, "xx\nyya b");
  write_folded(out, " c d", 1, 5);
  EXPECT_EQ(out, "xx\nyya b c\n d");

  out = "";
  write_folded(out, " ab ", 0, 1);
  EXPECT_EQ(out, " ab ");
  out = "";
  write_folded(out, "", 0, 1);
  EXPECT_EQ(out, "");
}

TEST(EmitScalarText, FoldedNeverBreaksNextToTab) {
  // Readers strip blanks around a folded line break, so a break beside a tab
  // would lose the tab.
  std::string out;
  write_folded(out, "a\t b \tc d", 0, 1);
  EXPECT_EQ(out, "a\t b \tc\nd");
}

TEST(EmitScalarText, BlockHeader) {
  auto header = [](std::string_view text) {
    std::string out;
    write_block_header(out, text, '|');
    return out;
  };
  EXPECT_EQ(header("a\n"), "|");
  EXPECT_EQ(header("a\nb"), "|-");
  EXPECT_EQ(header(""), "|-");
  EXPECT_EQ(header("a\n\n"), "|+");
  EXPECT_EQ(header("\n"), "|+");
  std::string out;
  write_block_header(out, "x\n", '>');
  EXPECT_EQ(out, ">");
}

TEST(EmitScalarText, LiteralLines) {
  std::string out = "|";
  write_literal_lines(out, "a\nb\n", 2);
  EXPECT_EQ(out, "|\n  a\n  b\n");
  out = "|-";
  write_literal_lines(out, "a", 2);
  EXPECT_EQ(out, "|-\n  a\n");
  out = "|+";
  write_literal_lines(out, "a\n\nb\n\n\n", 4);
  EXPECT_EQ(out, "|+\n    a\n\n    b\n\n\n");
  out = "";
  write_literal_lines(out, "  x\n", 2);  // inner lines keep their spaces
  EXPECT_EQ(out, "\n    x\n");
}

TEST(EmitScalarText, CurrentColumn) {
  EXPECT_EQ(current_column(""), 0u);
  EXPECT_EQ(current_column("abc"), 3u);
  EXPECT_EQ(current_column("abc\n"), 0u);
  EXPECT_EQ(current_column("abc\nde"), 2u);
}

TEST(EmitFloatText, Forms) {
  EXPECT_EQ(format_float(std::numeric_limits<double>::quiet_NaN()), ".nan");
  EXPECT_EQ(format_float(HUGE_VAL), ".inf");
  EXPECT_EQ(format_float(-HUGE_VAL), "-.inf");
  EXPECT_EQ(format_float(3.0), "3.0");
  EXPECT_EQ(format_float(0.5), "0.5");
  EXPECT_EQ(format_float(-0.0), "-0.0");
  EXPECT_EQ(format_float(0.0), "0.0");
  EXPECT_EQ(format_float(1e15), "1000000000000000.0");
  EXPECT_EQ(format_float(0.0001), "0.0001");
  EXPECT_EQ(format_float(0.00001), "1.0e-05");
  EXPECT_EQ(format_float(1e16), "1.0e+16");
  EXPECT_EQ(format_float(1.5e-7), "1.5e-07");
  EXPECT_EQ(format_float(1e100), "1.0e+100");
  EXPECT_EQ(format_float(-2.5e300), "-2.5e+300");
  EXPECT_EQ(format_float(5e-324), "5.0e-324");
  EXPECT_EQ(format_float(0.1), "0.1");
  EXPECT_EQ(format_float(1.2345678901234567e16), "1.2345678901234568e+16");
  EXPECT_EQ(format_float(123456.789), "123456.789");
}

// The text of a float from std::to_chars: the shortest digits in scientific
// form, then the fixed form for exponents -4..15.
std::string reference_float_text(double v) {
  if (std::isnan(v)) return ".nan";
  if (std::isinf(v)) return v > 0 ? ".inf" : "-.inf";
  char sci[64];
  const std::string s(sci, std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific).ptr);
  const std::size_t e = s.find('e');
  const int exponent = std::stoi(s.substr(e + 1));
  if (exponent >= -4 && exponent <= 15) {
    char fixed[64];
    const char* end = std::to_chars(fixed, fixed + sizeof fixed, v, std::chars_format::fixed).ptr;
    const std::string t(fixed, static_cast<std::size_t>(end - fixed));
    return t.find('.') == std::string::npos ? t + ".0" : t;
  }
  std::string mantissa = s.substr(0, e);
  if (mantissa.find('.') == std::string::npos) mantissa += ".0";
  const int mag = exponent < 0 ? -exponent : exponent;
  return mantissa + (exponent < 0 ? "e-" : "e+") + (mag < 10 ? "0" : "") + std::to_string(mag);
}

// Random bit patterns, and the doubles where shortest-digit methods go
// wrong: powers of two (an uneven gap below), their neighbours,
// subnormals, integers near 2^53, short decimals at every scale.
TEST(EmitFloatText, SameAsTheReferenceEverywhere) {
  std::mt19937_64 rng(2024);
  const auto check = [](double v) { ASSERT_EQ(format_float(v), reference_float_text(v)) << std::hexfloat << v; };
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t bits = rng();
    check(std::bit_cast<double>(bits));
    check(std::bit_cast<double>(bits & 0x800FFFFFFFFFFFFFULL));  // subnormal
    check(static_cast<double>(static_cast<std::int64_t>(bits >> (bits & 63))));
    check(static_cast<double>(bits % 100000) * std::pow(10.0, static_cast<int>((bits >> 40) % 40) - 20));
  }
  for (int e = -1074; e <= 1023; ++e) {
    const double p = std::ldexp(1.0, e);
    check(p);
    check(std::nextafter(p, 0.0));
    check(std::nextafter(p, INFINITY));
  }
  for (double v : {0x1p53, 0x1p53 + 2, 0x1p53 - 1, 9007199254740993.0, 1e23, 5e-324, 1.7976931348623157e308}) check(v);
}

// Every finite text reads back as the same double under YAML 1.2, YAML 1.1
// and the strict 1.1 reading, and has the shape of a JSON number.
TEST(EmitFloatText, ReadsBackAsFloatEverywhere) {
  const double values[] = {0.0,     -0.0,   1.0,      -1.0,    0.1,      1.0 / 3,  1e-4,
                           9.99e-5, 1e15,   9.999e15, 1e16,    1e-300,   1.7976931348623157e308,
                           5e-324,  2.5e-8, 6.02e23,  -7.5e-5, 123456789012345678.0};
  for (double v : values) {
    const std::string t = format_float(v);
    SCOPED_TRACE(t);
    for (auto mode : {VersionMode::Yaml12, VersionMode::Yaml11, VersionMode::PyyamlCompat}) {
      ScalarKind k = resolve_scalar_kind(mode, t, false, std::nullopt);
      ASSERT_EQ(k.type, ScalarType::Float);
      EXPECT_EQ(std::signbit(k.real), std::signbit(v));
      EXPECT_EQ(k.real, v);
    }
    // JSON: -?digits(.digits)?([eE][+-]?digits)?, no leading zeros.
    std::size_t i = t[0] == '-' ? 1 : 0;
    ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(t[i])));
    if (t[i] == '0') EXPECT_TRUE(i + 1 == t.size() || t[i + 1] == '.' || t[i + 1] == 'e');
    EXPECT_EQ(t.find_first_not_of("0123456789.e+-"), std::string::npos);
  }
}

}  // namespace
}  // namespace kestrine
