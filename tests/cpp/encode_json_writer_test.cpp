#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <span>
#include <string>

#include "decode/value.hpp"
#include "encode/json_writer.hpp"
#include "resolver/timestamp.hpp"

namespace kestrine {
namespace {

struct Build {
  ValueArena arena;
  YamlValue s(std::string_view t) { return arena.make_string(t); }
  YamlValue i(std::int64_t v) { return YamlValue::of_int(v); }
  YamlValue f(double v) { return YamlValue::of_float(v); }
  YamlValue seq(std::initializer_list<YamlValue> l) {
    return arena.make_sequence(std::span<const YamlValue>(l.begin(), l.size()));
  }
  YamlValue map(std::initializer_list<ValuePair> l) {
    return arena.make_mapping(std::span<const ValuePair>(l.begin(), l.size()));
  }
  YamlValue tag(std::string_view t, YamlValue v) { return arena.make_tagged(t, v); }
};

std::string json(const YamlValue& v, std::uint64_t indent = 0, bool sort = false) {
  JsonOptions o;
  o.indent = indent;
  o.sort_keys = sort;
  auto r = dump_json(v, o);
  EXPECT_TRUE(r.has_value());
  return r.value_or("<error>");
}

TEST(EncodeJsonWriter, CompactAndIndented) {
  Build b;
  auto v = b.map({{b.s("a"), b.seq({b.i(1), b.s("x")})}, {b.s("b"), YamlValue::null()}});
  EXPECT_EQ(json(v), R"({"a":[1,"x"],"b":null})");
  EXPECT_EQ(json(b.map({{b.s("a"), b.seq({b.i(1)})}}), 2), "{\n  \"a\": [\n    1\n  ]\n}");
  EXPECT_EQ(json(b.map({{b.s("a"), b.i(1)}}), 4), "{\n    \"a\": 1\n}");
  EXPECT_EQ(json(b.seq({b.seq({}), b.map({})}), 2), "[\n  [],\n  {}\n]");
  EXPECT_EQ(json(b.seq({})), "[]");
  EXPECT_EQ(json(b.map({}), 4), "{}");
  EXPECT_EQ(json(YamlValue::of_bool(false)), "false");
}

TEST(EncodeJsonWriter, Numbers) {
  Build b;
  EXPECT_EQ(json(b.seq({b.f(NAN), b.f(INFINITY), b.f(-INFINITY), b.f(1.5), b.f(1e20), b.f(-0.0)})),
            "[null,null,null,1.5,1.0e+20,-0.0]");
  EXPECT_EQ(json(b.i(-9223372036854775807 - 1)), "-9223372036854775808");
  EXPECT_EQ(json(b.arena.make_bigint("-123456789012345678901")), "-123456789012345678901");
  // A big integer read from YAML 1.1 text may keep "+" and "_"; JSON has neither.
  EXPECT_EQ(json(b.arena.make_bigint("+1_000_000_000_000_000_000")), "1000000000000000000");
}

TEST(EncodeJsonWriter, KeysBecomeText) {
  Build b;
  auto v = b.map({{YamlValue::null(), b.i(1)},
                  {YamlValue::of_bool(true), b.i(2)},
                  {b.i(2), b.i(3)},
                  {b.f(1.5), b.i(4)},
                  {b.f(NAN), b.i(5)},
                  {b.tag("!t", b.s("k")), b.i(6)},
                  {b.arena.make_timestamp(Date{2001, 2, 3}), b.i(7)}});
  EXPECT_EQ(json(v),
            R"({"null":1,"true":2,"2":3,"1.5":4,"null":5,"k":6,"2001-02-03":7})");
}

TEST(EncodeJsonWriter, SortKeysIsStableAndBytewise) {
  Build b;
  auto v = b.map({{b.s("b"), b.i(1)},
                  {b.i(1), b.i(2)},
                  {b.s("\xc3\xa9"), b.i(3)},
                  {b.s("1"), b.i(4)},
                  {b.s("Z"), b.i(5)},
                  {b.s("a"), b.map({{b.s("y"), b.i(1)}, {b.f(0.5), b.i(2)}})}});
  EXPECT_EQ(json(v, 0, true), R"({"1":2,"1":4,"Z":5,"a":{"0.5":2,"y":1},"b":1,"é":3})");
}

TEST(EncodeJsonWriter, CollectionKeyFails) {
  Build b;
  JsonOptions o;
  auto bad = b.map({{b.s("ok"), b.i(1)}, {b.seq({b.i(1)}), b.i(2)}});
  auto r = dump_json(bad, o);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error(), "a collection cannot be a JSON object key");
  // Deep inside the data, behind a tag, as a mapping key.
  auto deep = b.seq({b.i(1), b.map({{b.s("x"), b.seq({b.map({{b.tag("!t", b.map({})), b.i(1)}})})}})});
  EXPECT_FALSE(dump_json(deep, o).has_value());
  // The failing object writes nothing of itself.
  std::string out;
  EXPECT_FALSE(write_json_value(out, bad, o).has_value());
  EXPECT_EQ(out, "");
}

TEST(EncodeJsonWriter, TagsAndTimestamps) {
  Build b;
  EXPECT_EQ(json(b.tag("!t", b.seq({b.tag("!u", b.i(1))}))), "[1]");
  DateTime dt{2001, 12, 14, 21, 59, 43, 100000, -300};
  EXPECT_EQ(json(b.arena.make_timestamp(dt)), R"("2001-12-14T21:59:43.100000-05:00")");
}

TEST(EncodeJsonWriter, StringEscapes) {
  std::string out;
  write_json_string(out, std::string("q\"b\\\b\t\n\f\r\x01\x1f\x7f") + "é\xe2\x80\xa8\xe2\x80\xa9\xe2\x80\xaa");
  EXPECT_EQ(out, "\"q\\\"b\\\\\\b\\t\\n\\f\\r\\u0001\\u001f\x7f"
                 "é\\u2028\\u2029\xe2\x80\xaa\"");
  out.clear();
  write_json_string(out, std::string("a\0b", 3));
  EXPECT_EQ(out, "\"a\\u0000b\"");
}

TEST(EncodeJsonWriter, OptionBits) {
  EXPECT_EQ(JsonOptions::from_option_bits(0).indent, 0u);
  EXPECT_EQ(JsonOptions::from_option_bits(1u << 17).indent, 2u);
  EXPECT_EQ(JsonOptions::from_option_bits((1u << 17) | (1u << 18)).indent, 4u);
  EXPECT_TRUE(JsonOptions::from_option_bits(1u << 21).sort_keys);
}

TEST(EncodeJsonWriter, DeepTreesDoNotExhaustTheStack) {
  Build b;
  YamlValue v = b.i(0);
  for (int i = 0; i < 200000; ++i) v = (i % 2) ? b.seq({v}) : b.map({{b.s("k"), v}});
  auto r = dump_json(v, JsonOptions{});
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->size(), 100000u * (6 + 2) + 1);
}

}  // namespace
}  // namespace kestrine
