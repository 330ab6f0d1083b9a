// Resolution by version mode: dispatch, resolved values, big-integer texts
// and the YAML 1.1 / 1.2 difference report.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "resolver/common_plain.hpp"
#include "resolver/resolve.hpp"

namespace kestrine {
namespace {

constexpr VersionMode kModes[] = {VersionMode::Yaml12, VersionMode::Yaml11, VersionMode::PyyamlCompat};

TEST(ResolverDispatch, QuotedWithoutTagIsStringInEveryMode) {
  for (VersionMode m : kModes)
    for (auto t : {"123", "true", "~", "yes", "<<", "1:30"})
      EXPECT_EQ(resolve_scalar_kind(m, t, true, std::nullopt).type, ScalarType::Str) << t;
}

TEST(ResolverDispatch, ModeByteAboveOneBehavesAsCompat) {
  EXPECT_EQ(version_mode_from_byte(0), VersionMode::Yaml12);
  EXPECT_EQ(version_mode_from_byte(1), VersionMode::Yaml11);
  EXPECT_EQ(version_mode_from_byte(7), VersionMode::PyyamlCompat);
  const VersionMode seven = static_cast<VersionMode>(7);
  for (auto t : {"y", "1e5", "_1", "yes", "1.0e+5", "0x10"}) {
    EXPECT_EQ(resolve_scalar_kind(seven, t, false, std::nullopt).type,
              resolve_scalar_kind(VersionMode::PyyamlCompat, t, false, std::nullopt).type)
        << t;
  }
}

TEST(ResolverDispatch, SameTextDiffersByMode) {
  auto type = [](VersionMode m, std::string_view t) {
    return resolve_scalar_kind(m, t, false, std::nullopt).type;
  };
  EXPECT_EQ(type(VersionMode::Yaml12, "yes"), ScalarType::Str);
  EXPECT_EQ(type(VersionMode::Yaml11, "yes"), ScalarType::Bool);
  EXPECT_EQ(type(VersionMode::Yaml12, "010"), ScalarType::Str);
  EXPECT_EQ(resolve_scalar_kind(VersionMode::Yaml11, "010", false, std::nullopt).integer, 8);
  EXPECT_EQ(type(VersionMode::Yaml12, "0o17"), ScalarType::Int);
  EXPECT_EQ(type(VersionMode::Yaml11, "0o17"), ScalarType::Str);
  EXPECT_EQ(type(VersionMode::Yaml12, "1:30"), ScalarType::Str);
  EXPECT_EQ(type(VersionMode::Yaml11, "1:30"), ScalarType::Int);
  // -2^63 is a big integer in every mode (magnitude read before the sign).
  for (VersionMode m : kModes) EXPECT_EQ(type(m, "-9223372036854775808"), ScalarType::BigInt);
}

TEST(ResolverDispatch, ResolvedValues) {
  ResolvedScalar merge = resolve_scalar_value(VersionMode::Yaml12, "<<", false, std::nullopt);
  EXPECT_EQ(merge.type, ResolvedScalar::Type::String);
  EXPECT_EQ(merge.text, "<<");

  ResolvedScalar hex = resolve_scalar_value(VersionMode::Yaml12, "0xFFFFFFFFFFFFFFFF", false, std::nullopt);
  EXPECT_EQ(hex.type, ResolvedScalar::Type::BigInt);
  EXPECT_EQ(hex.text, "18446744073709551615");

  ResolvedScalar min = resolve_scalar_value(VersionMode::Yaml11, "-9223372036854775808", false, std::nullopt);
  EXPECT_EQ(min.type, ResolvedScalar::Type::BigInt);
  EXPECT_EQ(min.text, "-9223372036854775808");
  // Decimal big integers keep their text as written.
  EXPECT_EQ(resolve_scalar_value(VersionMode::Yaml12, "+12345678901234567890", false, std::nullopt).text,
            "+12345678901234567890");
  EXPECT_EQ(resolve_scalar_value(VersionMode::Yaml11, "1_000_000_000_000_000_000_000", false, std::nullopt).text,
            "1_000_000_000_000_000_000_000");

  ResolvedScalar i = resolve_scalar_value(VersionMode::Yaml12, "-0x10", false, std::nullopt);
  EXPECT_EQ(i.type, ResolvedScalar::Type::Int);
  EXPECT_EQ(i.integer, -16);
  ResolvedScalar f = resolve_scalar_value(VersionMode::Yaml12, "2.5", false, std::nullopt);
  EXPECT_EQ(f.type, ResolvedScalar::Type::Float);
  EXPECT_EQ(f.real, 2.5);
  ResolvedScalar s = resolve_scalar_value(VersionMode::Yaml12, "12", true, std::nullopt);
  EXPECT_EQ(s.type, ResolvedScalar::Type::String);
  EXPECT_EQ(s.text, "12");
  EXPECT_EQ(resolve_scalar_value(VersionMode::Yaml11, "off", false, std::nullopt).boolean, false);
  EXPECT_EQ(resolve_scalar_value(VersionMode::Yaml11, "~", false, std::nullopt).type,
            ResolvedScalar::Type::Null);
}

TEST(ResolverDispatch, NormalizeIntLiteral) {
  EXPECT_EQ(normalize_int_literal("0b1010_1010"), "170");
  EXPECT_EQ(normalize_int_literal("-0o17"), "-15");
  EXPECT_EQ(normalize_int_literal("0777"), "511");
  EXPECT_EQ(normalize_int_literal("0x"), "0");
  EXPECT_EQ(normalize_int_literal("+0x10"), "16");
  EXPECT_EQ(normalize_int_literal("0xFFFFFFFFFFFFFFFF"), "18446744073709551615");
  EXPECT_EQ(normalize_int_literal("0x1" + std::string(32, '0')), "340282366920938463463374607431768211456");
  EXPECT_EQ(normalize_int_literal("0b1" + std::string(100, '0')), "1267650600228229401496703205376");
  EXPECT_EQ(normalize_int_literal("0" + std::string(22, '7')), "73786976294838206463");
  for (auto t : {"12", "0", "", "-", "+", "1x10", "0_", "-0"}) EXPECT_FALSE(normalize_int_literal(t)) << t;
  // Conversion cost grows with the square of the length: a hostile literal of
  // a million hex digits keeps its text instead of being converted.
  EXPECT_EQ(normalize_int_literal("0x" + std::string(16384, 'f'))->size(), 19729u);
  const std::string huge = "0x" + std::string(1'000'000, 'f');
  EXPECT_FALSE(normalize_int_literal(huge));
  const auto v = resolve_scalar_value(VersionMode::Yaml11, huge, false, std::nullopt);
  EXPECT_EQ(v.type, ResolvedScalar::Type::BigInt);
  EXPECT_EQ(v.text, huge);
}

TEST(ResolverDispatch, CanonicalBigIntText) {
  EXPECT_EQ(canonical_bigint_text("+18446744073709551616"), "18446744073709551616");
  EXPECT_EQ(canonical_bigint_text("18_446_744_073_709_551_616"), "18446744073709551616");
  EXPECT_EQ(canonical_bigint_text("-18446744073709551616"), "-18446744073709551616");
  EXPECT_EQ(canonical_bigint_text("0x10000000000000000"), "18446744073709551616");
  EXPECT_EQ(canonical_bigint_text("-0"), "0");
  EXPECT_EQ(canonical_bigint_text("000123"), "83");  // a leading zero means octal
  EXPECT_EQ(canonical_bigint_text("12a"), "12a");
}

TEST(ResolverDispatch, ImplicitTagName) {
  using Pair = std::pair<std::string_view, std::string_view>;
  auto diff = [](VersionMode m, std::string_view t) {
    return implicit_tag_name(m, t, false, std::nullopt);
  };
  EXPECT_EQ(diff(VersionMode::Yaml11, "yes"), (Pair{"bool", "str"}));
  EXPECT_EQ(diff(VersionMode::Yaml11, "010"), (Pair{"int", "str"}));
  EXPECT_EQ(diff(VersionMode::Yaml11, "1:30"), (Pair{"int", "str"}));
  EXPECT_EQ(diff(VersionMode::Yaml11, "1_000.5"), (Pair{"float", "str"}));
  EXPECT_EQ(diff(VersionMode::PyyamlCompat, "on"), (Pair{"bool", "str"}));
  EXPECT_FALSE(diff(VersionMode::Yaml11, "0o17"));  // a string in 1.1 is never reported
  EXPECT_FALSE(diff(VersionMode::Yaml11, "123"));
  EXPECT_FALSE(diff(VersionMode::Yaml11, "0x10"));  // int in both
  EXPECT_FALSE(diff(VersionMode::PyyamlCompat, "y"));
  EXPECT_FALSE(implicit_tag_name(VersionMode::Yaml11, "yes", true, std::nullopt));
  for (auto t : {"yes", "010", "1:30", "y", "~"}) EXPECT_FALSE(diff(VersionMode::Yaml12, t)) << t;
}

TEST(ResolverDispatch, ReadsAsNonString) {
  EXPECT_TRUE(reads_as_non_string(VersionMode::Yaml12, ""));
  EXPECT_TRUE(reads_as_non_string(VersionMode::Yaml12, "<<"));
  EXPECT_TRUE(reads_as_non_string(VersionMode::Yaml12, "0x1F"));
  EXPECT_FALSE(reads_as_non_string(VersionMode::Yaml12, "yes"));
  EXPECT_TRUE(reads_as_non_string(VersionMode::Yaml11, "yes"));
  EXPECT_TRUE(reads_as_non_string(VersionMode::Yaml11, "n"));
  EXPECT_FALSE(reads_as_non_string(VersionMode::PyyamlCompat, "n"));
  EXPECT_FALSE(reads_as_non_string(VersionMode::Yaml11, "2001-12-14"));
}

// The forms decided before full resolution read the same in every mode, to
// the bit; random short texts over the bytes that matter to numbers and
// words, and the words themselves, must never tell the two apart.
TEST(ResolverDispatch, CommonPlainFormsAgreeWithEveryMode) {
  const auto same = [](const ScalarKind& a, const ScalarKind& b) {
    if (a.type != b.type) return false;
    switch (a.type) {
      case ScalarType::Bool: return a.boolean == b.boolean;
      case ScalarType::Int: return a.integer == b.integer;
      case ScalarType::Float: return std::memcmp(&a.real, &b.real, sizeof a.real) == 0;
      default: return true;
    }
  };
  const auto check = [&](const std::string& text) {
    ScalarKind fast;
    if (!resolve_common_plain(text, fast)) return false;
    for (VersionMode m : kModes)
      EXPECT_TRUE(same(fast, resolve_scalar_kind(m, text, false, std::nullopt)))
          << "'" << text << "' in mode " << int(m);
    return true;
  };
  std::mt19937 rng(30);
  const std::string alphabet = "0123456789000+-._eE:xob~nNuUlLtTrRfFaAsSyY ";
  int decided = 0;
  for (int i = 0; i < 200000; ++i) {
    std::string text(rng() % 8 + 1, ' ');
    for (char& c : text) c = alphabet[rng() % alphabet.size()];
    decided += check(text);
  }
  EXPECT_GT(decided, 1000);  // the sample reaches the fast forms
  for (const char* word : {"~", "null", "Null", "NULL", "true", "True", "TRUE", "false", "False", "FALSE",
                           "0", "-0", "+7", "123456789012345678", "1234567890123456789", "-9223372036854775808",
                           "0.5", "-0.0", "+1.25", "00.5", "123456789.123456789012", "1.", ".5", "1e3", "1_0",
                           "010", "0x1F", "1:30", "nULL", "tRUE", "yes", "y"})
    check(word);
  ScalarKind k;
  for (const char* decided_word : {"null", "TRUE", "False", "~", "-12", "0.25"})
    EXPECT_TRUE(resolve_common_plain(decided_word, k)) << decided_word;
}

}  // namespace
}  // namespace kestrine
