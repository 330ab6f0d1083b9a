// YAML 1.2 core-schema resolution of plain and tagged scalars.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "resolver/resolve.hpp"

namespace kestrine {
namespace {

ScalarKind plain(std::string_view text) { return resolve_plain_yaml12(text, false, std::nullopt); }
ScalarKind tagged(std::string_view tag, std::string_view text) {
  return resolve_plain_yaml12(text, false, tag);
}
ScalarType type_of(std::string_view text) { return plain(text).type; }

TEST(ResolverYaml12, NullAndBoolWordsAreExact) {
  for (auto t : {"", "~", "null", "Null", "NULL"}) EXPECT_EQ(type_of(t), ScalarType::Null) << t;
  for (auto t : {"true", "True", "TRUE"}) {
    ASSERT_EQ(type_of(t), ScalarType::Bool) << t;
    EXPECT_TRUE(plain(t).boolean);
  }
  for (auto t : {"false", "False", "FALSE"}) {
    ASSERT_EQ(type_of(t), ScalarType::Bool) << t;
    EXPECT_FALSE(plain(t).boolean);
  }
  for (auto t : {"nULL", "tRUE", "FALSe", "~~", "yes", "no", "on", "off", "y", "n", "None", "none"})
    EXPECT_EQ(type_of(t), ScalarType::Str) << t;
  EXPECT_EQ(type_of("<<"), ScalarType::Merge);
  EXPECT_EQ(type_of("<<<"), ScalarType::Str);
}

TEST(ResolverYaml12, Integers) {
  const std::pair<const char*, std::int64_t> cases[] = {
      {"0", 0},     {"+0", 0},      {"-0", 0},     {"7", 7},         {"-7", -7},
      {"0x1F", 31}, {"-0x1F", -31}, {"0X1f", 31},  {"+0o17", 15},    {"0O17", 15},
      {"123", 123}, {"+123", 123},  {"-0x10", -16}, {"9223372036854775807", INT64_MAX},
      {"0x7FFFFFFFFFFFFFFF", INT64_MAX}, {"-9223372036854775807", -INT64_MAX},
  };
  for (auto [text, value] : cases) {
    ScalarKind k = plain(text);
    ASSERT_EQ(k.type, ScalarType::Int) << text;
    EXPECT_EQ(k.integer, value) << text;
  }
  for (auto t : {"007", "00", "-01", "0x", "0xg", "0o8", "0o", "0b101", "1_000", "++1", "+-1", "-",
                 "+", "0x-1", "0x+1", "1 2", "12a"})
    EXPECT_EQ(type_of(t), ScalarType::Str) << t;
}

TEST(ResolverYaml12, BigIntegersBeyond64Bits) {
  for (auto t : {"9223372036854775808", "-9223372036854775808", "0x8000000000000000",
                 "0xFFFFFFFFFFFFFFFF", "-0o1777777777777777777777", "+12345678901234567890",
                 "123456789012345678901234567890123456789"})
    EXPECT_EQ(type_of(t), ScalarType::BigInt) << t;
  // Leading zeros stay strings whatever the size.
  EXPECT_EQ(type_of("09223372036854775808"), ScalarType::Str);
}

TEST(ResolverYaml12, FloatsAndSpecialWords) {
  const std::pair<const char*, double> cases[] = {
      {"1e3", 1000.0}, {"1E3", 1000.0}, {".5", 0.5},   {"5.", 5.0},     {"+.5e-3", 0.0005},
      {"-1.5", -1.5},  {"1.0", 1.0},    {"0.1", 0.1},  {"1e400", INFINITY}, {"-1e400", -INFINITY},
      {"1e-400", 0.0}, {"00.5", 0.5},   {"2.5E+2", 250.0},
  };
  for (auto [text, value] : cases) {
    ScalarKind k = plain(text);
    ASSERT_EQ(k.type, ScalarType::Float) << text;
    EXPECT_EQ(k.real, value) << text;
  }
  EXPECT_TRUE(std::signbit(plain("-1e-400").real));
  // Correct rounding of long inputs.
  EXPECT_EQ(plain("0.1000000000000000055511151231257827021181583404541015625").real, 0.1);
  EXPECT_EQ(plain("9007199254740993.0").real, 9007199254740992.0);

  for (auto t : {".inf", ".Inf", ".INF", "+.inf", "+.Inf", "+.INF"}) EXPECT_EQ(plain(t).real, INFINITY) << t;
  for (auto t : {"-.inf", "-.Inf", "-.INF"}) EXPECT_EQ(plain(t).real, -INFINITY) << t;
  for (auto t : {".nan", ".NaN", ".NAN"}) {
    ScalarKind k = plain(t);
    ASSERT_EQ(k.type, ScalarType::Float);
    EXPECT_TRUE(std::isnan(k.real));
    EXPECT_FALSE(std::signbit(k.real));
  }
  for (auto t : {"1e", ".", "e5", ".e5", ".iNF", "-.nan", "inf", "nan", "Infinity", "-inf",
                 "1.5e+", "1.2.3", "0x1p3", "1,5", " 1.5", "1.5 "})
    EXPECT_EQ(type_of(t), ScalarType::Str) << t;
}

TEST(ResolverYaml12, Tags) {
  // Both spellings of the core tags are recognised.
  for (auto tag : {"!!int", "tag:yaml.org,2002:int"}) {
    EXPECT_EQ(tagged(tag, "12").integer, 12);
    EXPECT_EQ(tagged(tag, "1.5").type, ScalarType::Str);
    EXPECT_EQ(tagged(tag, "99999999999999999999").type, ScalarType::BigInt);
  }
  // A tag decides even for a quoted scalar.
  ScalarKind quoted = resolve_plain_yaml12("12", true, std::string_view("!!int"));
  ASSERT_EQ(quoted.type, ScalarType::Int);
  EXPECT_EQ(quoted.integer, 12);

  EXPECT_EQ(tagged("!!float", "1").real, 1.0);
  EXPECT_EQ(tagged("!!float", "inf").real, INFINITY);
  EXPECT_EQ(tagged("!!float", "-Infinity").real, -INFINITY);
  EXPECT_TRUE(std::isnan(tagged("!!float", "NaN").real));
  EXPECT_EQ(tagged("!!float", "abc").type, ScalarType::Str);
  EXPECT_EQ(tagged("!!bool", "True").type, ScalarType::Bool);
  EXPECT_EQ(tagged("!!bool", "yes").type, ScalarType::Str);
  EXPECT_EQ(tagged("!!null", "").type, ScalarType::Null);
  EXPECT_EQ(tagged("!!null", "none").type, ScalarType::Str);
  for (auto tag : {"!!str", "!custom", "", "!", "!!", "!<!int>"})
    EXPECT_EQ(tagged(tag, "<<").type, ScalarType::Str) << tag;
  EXPECT_EQ(tagged("!!str", "12").type, ScalarType::Str);
  // "!!merge" is a YAML 1.1 type: a string here, however it is spelled.
  for (auto tag : {"!!merge", "tag:yaml.org,2002:merge", "!<tag:yaml.org,2002:merge>"})
    EXPECT_EQ(tagged(tag, "x").type, ScalarType::Str) << tag;
  for (auto tag : {"!!int", "tag:yaml.org,2002:int", "!<tag:yaml.org,2002:int>"})
    EXPECT_EQ(tagged(tag, "12").integer, 12) << tag;
}

TEST(ResolverYaml12, NonPlainUntaggedIsAlwaysString) {
  for (auto t : {"123", "true", "~", "", "<<", ".inf"})
    EXPECT_EQ(resolve_plain_yaml12(t, true, std::nullopt).type, ScalarType::Str) << t;
}

TEST(ResolverYaml12, HelperFunctions) {
  EXPECT_EQ(yaml12_int("-0x1F"), -31);
  EXPECT_FALSE(yaml12_int("-9223372036854775808"));
  EXPECT_TRUE(yaml12_int_simple("-9223372036854775808"));
  EXPECT_FALSE(yaml12_int_simple("0x"));
  EXPECT_FALSE(yaml12_int_simple("01"));
  EXPECT_TRUE(yaml12_int_simple("0"));
  EXPECT_FALSE(parse_float_literal("1.0"));
  EXPECT_EQ(parse_standard_float("+1.5"), 1.5);
  EXPECT_EQ(parse_standard_float("INFINITY"), INFINITY);
  EXPECT_FALSE(parse_standard_float("1_0.5"));
  EXPECT_FALSE(parse_standard_float("+"));
  EXPECT_FALSE(parse_standard_float(""));
  EXPECT_EQ(parse_standard_float("1e99999999999999999999"), INFINITY);
  EXPECT_EQ(parse_standard_float("0e99999999999999999999"), 0.0);
}

}  // namespace
}  // namespace kestrine
