// YAML 1.1 resolution, in the plain 1.1 reading and the stricter
// compatibility reading, checked also against a table of PyYAML's readings.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <string>

#include "resolver/resolve.hpp"
#include "resolver/timestamp.hpp"

namespace kestrine {
namespace {

ScalarKind r11(std::string_view text) { return resolve_plain_yaml11(false, text, false, std::nullopt); }
ScalarKind rpy(std::string_view text) { return resolve_plain_yaml11(true, text, false, std::nullopt); }

TEST(ResolverYaml11, BooleanWordsPerMode) {
  for (auto t : {"yes", "Yes", "YES", "on", "On", "ON", "true", "True", "TRUE"}) {
    EXPECT_EQ(r11(t).type, ScalarType::Bool) << t;
    EXPECT_TRUE(r11(t).boolean) << t;
    EXPECT_EQ(rpy(t).type, ScalarType::Bool) << t;
    EXPECT_TRUE(rpy(t).boolean) << t;
  }
  for (auto t : {"no", "No", "NO", "off", "Off", "OFF", "false", "False", "FALSE"}) {
    EXPECT_EQ(r11(t).type, ScalarType::Bool) << t;
    EXPECT_FALSE(r11(t).boolean) << t;
    EXPECT_EQ(rpy(t).type, ScalarType::Bool) << t;
  }
  // Single letters are booleans only in the plain 1.1 reading.
  EXPECT_TRUE(r11("y").boolean);
  EXPECT_TRUE(r11("Y").boolean);
  EXPECT_EQ(r11("n").type, ScalarType::Bool);
  EXPECT_FALSE(r11("N").boolean);
  for (auto t : {"y", "Y", "n", "N"}) EXPECT_EQ(rpy(t).type, ScalarType::Str) << t;
  EXPECT_EQ(resolve_plain_yaml11(true, "y", false, std::string_view("!!bool")).type, ScalarType::Str);
  EXPECT_EQ(resolve_plain_yaml11(false, "y", false, std::string_view("!!bool")).type, ScalarType::Bool);
  for (auto t : {"oN", "yES", "oFF", "tRUE", "YeS", "nO"}) {
    EXPECT_EQ(r11(t).type, ScalarType::Str) << t;
    EXPECT_EQ(rpy(t).type, ScalarType::Str) << t;
  }
  for (auto t : {"", "~", "null", "Null", "NULL"}) EXPECT_EQ(r11(t).type, ScalarType::Null) << t;
  EXPECT_EQ(r11("<<").type, ScalarType::Merge);
}

TEST(ResolverYaml11, IntegerForms) {
  const std::pair<const char*, std::int64_t> cases[] = {
      {"010", 8},        {"0", 0},          {"00", 0},       {"0x1F", 31},     {"0b1010", 10},
      {"-0b11", -3},     {"1_000", 1000},   {"0x_FF", 255},  {"1_", 1},        {"1:30", 90},
      {"190:20:30", 685230}, {"-1:30", -90}, {"+1:30", 90},  {"1:3", 63},      {"1_0:30", 630},
      {"0777", 511},     {"-0777", -511},   {"+0x1F", 31},   {"0X1F", 31},     {"9223372036854775807", INT64_MAX},
  };
  for (auto [text, value] : cases) {
    ASSERT_EQ(r11(text).type, ScalarType::Int) << text;
    EXPECT_EQ(r11(text).integer, value) << text;
    ASSERT_EQ(rpy(text).type, ScalarType::Int) << text;
    EXPECT_EQ(rpy(text).integer, value) << text;
  }
  for (auto t : {"0o10", "08", "09", "0:30", "1:60", "1:005", "1::2", ":30", "1:", "0x", "0b",
                 "0x_", "0b_", "0b102", "++1", "+-1", "-", "+", ".", "_", "99999999999999999999:30"})
    EXPECT_EQ(r11(t).type, ScalarType::Str) << t;
  // A leading underscore counts only in the plain 1.1 reading.
  EXPECT_EQ(r11("_1").integer, 1);
  EXPECT_EQ(rpy("_1").type, ScalarType::Str);
  EXPECT_EQ(rpy("-_1").type, ScalarType::Str);
  EXPECT_EQ(r11("-_1").integer, -1);
}

TEST(ResolverYaml11, BigIntegers) {
  for (auto t : {"0xFFFFFFFFFFFFFFFF", "0b1111111111111111111111111111111111111111111111111111111111111111",
                 "07777777777777777777777", "9223372036854775808", "-9223372036854775808",
                 "1_000_000_000_000_000_000_000"})
    EXPECT_EQ(r11(t).type, ScalarType::BigInt) << t;
  EXPECT_TRUE(yaml11_big_int("0x1_F"));
  EXPECT_FALSE(yaml11_big_int("0x"));
  EXPECT_FALSE(yaml11_big_int("09"));
  EXPECT_FALSE(yaml11_big_int("1:30"));
}

TEST(ResolverYaml11, FloatsPerMode) {
  EXPECT_EQ(r11("1e5").real, 100000.0);
  EXPECT_EQ(rpy("1e5").type, ScalarType::Str);
  EXPECT_EQ(rpy("1.0e5").type, ScalarType::Str);
  EXPECT_EQ(rpy("1.0e+5").real, 100000.0);
  EXPECT_EQ(r11("1.0e5").real, 100000.0);
  for (auto t : {"1.", ".5"}) {
    EXPECT_EQ(r11(t).type, ScalarType::Float) << t;
    EXPECT_EQ(rpy(t).type, ScalarType::Float) << t;
  }
  EXPECT_EQ(r11("1_000.5").real, 1000.5);
  EXPECT_EQ(rpy("1.5_5").real, 1.55);
  EXPECT_EQ(r11("1:30.5").real, 90.5);
  EXPECT_EQ(rpy("1:30.5").real, 90.5);
  EXPECT_EQ(r11("-1:30.5").real, -90.5);
  EXPECT_EQ(r11("190:20:30.15").real, 685230.15);
  EXPECT_EQ(r11("0:30.5").real, 30.5);
  EXPECT_EQ(r11("-.inf").real, -INFINITY);
  EXPECT_TRUE(std::isnan(rpy(".NaN").real));
  for (auto t : {"1:60.5", "1:30.5.5", "1.5:30", "1:30:.5", ".", "1e", "-.nan", "inf"}) {
    EXPECT_EQ(r11(t).type, ScalarType::Str) << t;
    EXPECT_EQ(rpy(t).type, ScalarType::Str) << t;
  }
  // The first base-60 group must be plain digits: no second sign, no
  // exponent, no special word.
  for (auto t : {"--1:30.5", "1e2:30.5", "+inf:30.5", "-+1:30.5", "+.5:30.5"}) {
    EXPECT_EQ(r11(t).type, ScalarType::Str) << t;
    EXPECT_EQ(rpy(t).type, ScalarType::Str) << t;
  }
  EXPECT_FALSE(yaml11_float("1e2:30"));
}

TEST(ResolverYaml11, Tags) {
  auto t11 = [](std::string_view tag, std::string_view text) {
    return resolve_plain_yaml11(false, text, true, tag);
  };
  EXPECT_EQ(t11("!!merge", "anything").type, ScalarType::Merge);
  EXPECT_EQ(t11("tag:yaml.org,2002:merge", "").type, ScalarType::Merge);
  EXPECT_EQ(t11("!!float", "1:30").real, 90.0);
  EXPECT_EQ(t11("!!float", "1").real, 1.0);
  EXPECT_EQ(t11("!!float", "1_0.5").real, 10.5);
  EXPECT_EQ(t11("!!float", "1e5").real, 100000.0);  // the stricter float form does not apply
  EXPECT_EQ(resolve_plain_yaml11(true, "1e5", false, std::string_view("!!float")).real, 100000.0);
  EXPECT_EQ(t11("!!int", "0b11").integer, 3);
  EXPECT_EQ(t11("!!int", "0x1FFFFFFFFFFFFFFFF").type, ScalarType::BigInt);
  EXPECT_EQ(t11("!!int", "1.5").type, ScalarType::Str);
  EXPECT_EQ(t11("!!null", "~").type, ScalarType::Null);
  EXPECT_EQ(t11("!!bool", "off").type, ScalarType::Bool);
  EXPECT_EQ(t11("!!str", "12").type, ScalarType::Str);
  EXPECT_EQ(t11("!local", "12").type, ScalarType::Str);
  EXPECT_EQ(resolve_plain_yaml11(false, "12", true, std::nullopt).type, ScalarType::Str);
}

TEST(ResolverYaml11, HelperFunctions) {
  EXPECT_EQ(parse_int_radix("7fffffffffffffff", 16), INT64_MAX);
  EXPECT_FALSE(parse_int_radix("8000000000000000", 16));
  EXPECT_FALSE(parse_int_radix("", 16));
  EXPECT_FALSE(parse_int_radix("12", 2));
  EXPECT_EQ(strip_underscores("_1_2__3_"), "123");
  EXPECT_FALSE(yaml11_int("-9223372036854775808"));
  EXPECT_EQ(yaml11_int("153722867280912930:07"), INT64_MAX);
  EXPECT_FALSE(yaml11_int("153722867280912930:08"));  // base-60 overflow
  EXPECT_EQ(yaml11_int("-153722867280912930:07"), -INT64_MAX);
  EXPECT_EQ(yaml11_bool("y", false), true);
  EXPECT_FALSE(yaml11_bool("y", true));
  // Texts longer than the inline buffer of the underscore stripping.
  std::string long_int(300, '1');
  long_int[1] = '_';
  EXPECT_EQ(r11(long_int).type, ScalarType::BigInt);
  std::string long_float = std::string(150, '1') + "_." + std::string(150, '5');
  EXPECT_EQ(r11(long_float).type, ScalarType::Float);
}

// PyYAML's SafeLoader readings (tests/cpp/data/pyyaml_resolve_table.tsv,
// made by gen_pyyaml_resolve_table.py) against the compatibility mode.
// Timestamps are read by parse_timestamp, not by the resolver.
TEST(ResolverYaml11, CompatModeAgreesWithPyyamlTable) {
  // Where this mode deliberately reads differently from PyYAML.
  const std::map<std::string, std::string> known_differences = {
      // PyYAML's hexadecimal form takes only a lower-case "x".
      {"0X1F", "int"},
      // PyYAML's float form wants a digit before "." once a sign is written.
      {"-.5", "float"},
      {"+.5", "float"},
      // A base-60 value beyond 64 bits is never a big integer here.
      {"99999999999999999999:30", "str"},
      // PyYAML resolves these as int but then fails to construct them.
      {"0x_", "str"},
      {"0b_", "str"},
  };
  std::ifstream in(KESTRINE_SOURCE_DIR "/tests/cpp/data/pyyaml_resolve_table.tsv");
  ASSERT_TRUE(in) << "missing table";
  std::string line;
  int rows = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto t1 = line.find('\t');
    const auto t2 = line.find('\t', t1 + 1);
    ASSERT_NE(t2, std::string::npos) << line;
    const std::string text = line.substr(0, t1);
    const std::string tag = line.substr(t1 + 1, t2 - t1 - 1);
    const std::string value = line.substr(t2 + 1);
    ++rows;
    const ScalarKind k = resolve_scalar_kind(VersionMode::PyyamlCompat, text, false, std::nullopt);
    std::string mine(scalar_kind_tag_name(k.type));
    if (k.type == ScalarType::Str && parse_timestamp(text)) mine = "timestamp";
    if (auto it = known_differences.find(text); it != known_differences.end()) {
      EXPECT_NE(tag, mine) << text << " no longer differs from PyYAML";
      EXPECT_EQ(mine, it->second) << text;
      continue;
    }
    ASSERT_EQ(mine, tag) << "text: " << text;
    if (k.type == ScalarType::Int) EXPECT_EQ(std::to_string(k.integer), value) << text;
    if (k.type == ScalarType::BigInt) EXPECT_EQ(canonical_bigint_text(text), value) << text;
    if (k.type == ScalarType::Bool) EXPECT_EQ(k.boolean ? "true" : "false", value) << text;
    if (k.type == ScalarType::Float) {
      if (value == "nan")
        EXPECT_TRUE(std::isnan(k.real)) << text;
      else
        EXPECT_EQ(k.real, std::stod(value)) << text;
    }
  }
  EXPECT_GT(rows, 150);
}

}  // namespace
}  // namespace kestrine
