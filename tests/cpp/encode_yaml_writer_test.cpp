#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "decode/value.hpp"
#include "encode/yaml_writer.hpp"
#include "resolver/timestamp.hpp"

namespace kestrine {
namespace {

// Builds value trees for the tests.
struct Build {
  ValueArena arena;
  YamlValue s(std::string_view t) { return arena.make_string(t); }
  YamlValue i(std::int64_t v) { return YamlValue::of_int(v); }
  YamlValue f(double v) { return YamlValue::of_float(v); }
  YamlValue null() { return YamlValue::null(); }
  YamlValue seq(std::initializer_list<YamlValue> l) {
    return arena.make_sequence(std::span<const YamlValue>(l.begin(), l.size()));
  }
  YamlValue map(std::initializer_list<ValuePair> l) {
    return arena.make_mapping(std::span<const ValuePair>(l.begin(), l.size()));
  }
  YamlValue tag(std::string_view t, YamlValue v) { return arena.make_tagged(t, v); }
};

std::string dump(const YamlValue& v, WriterOptions o = {}) { return dump_yaml(v, o); }

WriterOptions with(auto&& set) {
  WriterOptions o;
  set(o);
  return o;
}

TEST(EncodeYamlWriter, NullStyles) {
  Build b;
  auto m = b.map({{b.s("a"), b.null()}});
  EXPECT_EQ(dump(m), "a:\n");
  EXPECT_EQ(dump(m, with([](auto& o) { o.null_style = NullStyle::Keyword; })), "a: null\n");
  EXPECT_EQ(dump(m, with([](auto& o) { o.null_style = NullStyle::Tilde; })), "a: ~\n");
  EXPECT_EQ(dump(b.seq({b.null()})), "-\n");
  EXPECT_EQ(dump(b.null()), "null\n");
  EXPECT_EQ(dump(b.null(), with([](auto& o) { o.null_style = NullStyle::Tilde; })), "~\n");
  // In flow context a default null is spelled out.
  EXPECT_EQ(dump(b.seq({b.null()}), with([](auto& o) { o.flow = true; })), "[null]\n");
}

TEST(EncodeYamlWriter, EmptyCollectionsAndScalars) {
  Build b;
  EXPECT_EQ(dump(b.map({})), "{}\n");
  EXPECT_EQ(dump(b.seq({})), "[]\n");
  EXPECT_EQ(dump(b.map({{b.s("a"), b.seq({})}})), "a: []\n");
  EXPECT_EQ(dump(YamlValue::of_bool(true)), "true\n");
  EXPECT_EQ(dump(b.i(-42)), "-42\n");
  EXPECT_EQ(dump(b.f(3)), "3.0\n");
  EXPECT_EQ(dump(b.f(NAN)), ".nan\n");
  EXPECT_EQ(dump(b.arena.make_bigint("-123456789012345678901")), "-123456789012345678901\n");
  // Separators kept from YAML 1.1 input are dropped: YAML 1.2 reads "1_0" as a string.
  EXPECT_EQ(dump(b.arena.make_bigint("1_000_000_000_000_000_000_000")),
            "1000000000000000000000\n");
  EXPECT_EQ(dump(b.s("hello")), "hello\n");
}

TEST(EncodeYamlWriter, BlockLayout) {
  Build b;
  auto a12 = b.map({{b.s("a"), b.seq({b.i(1), b.i(2)})}});
  EXPECT_EQ(dump(a12), "a:\n  - 1\n  - 2\n");
  EXPECT_EQ(dump(a12, with([](auto& o) { o.indentless = true; })), "a:\n- 1\n- 2\n");
  EXPECT_EQ(dump(a12, with([](auto& o) { o.flow = true; })), "{a: [1, 2]}\n");

  EXPECT_EQ(dump(b.seq({b.seq({b.i(1), b.i(2)})})), "-\n  - 1\n  - 2\n");
  auto seq_of_map = b.seq({b.map({{b.s("a"), b.i(1)}, {b.s("b"), b.i(2)}})});
  EXPECT_EQ(dump(seq_of_map), "- a: 1\n  b: 2\n");
  EXPECT_EQ(dump(seq_of_map, with([](auto& o) { o.indent = 4; })), "- a: 1\n  b: 2\n");
  EXPECT_EQ(dump(b.map({{b.s("a"), b.map({{b.s("b"), b.i(1)}})}}),
                 with([](auto& o) { o.indent = 4; })),
            "a:\n    b: 1\n");
  // A mapping inside a sequence item nests past the item's content column.
  EXPECT_EQ(dump(b.seq({b.map({{b.s("k"), b.map({{b.s("x"), b.i(1)}})}})})),
            "- k:\n    x: 1\n");
  EXPECT_EQ(dump(b.map({{b.s("k"), b.seq({b.map({{b.s("x"), b.i(1)}, {b.s("w"), b.null()}})})}})),
            "k:\n  - x: 1\n    w:\n");
}

TEST(EncodeYamlWriter, ExplicitMarkers) {
  Build b;
  auto o = with([](auto& o) {
    o.explicit_start = true;
    o.explicit_end = true;
  });
  EXPECT_EQ(dump(b.map({{b.s("a"), b.i(1)}}), o), "---\na: 1\n...\n");
  EXPECT_EQ(dump(b.null(), o), "---\nnull\n...\n");
}

TEST(EncodeYamlWriter, FlowWrapsAfterWidth) {
  Build b;
  auto v = b.seq({b.s("aaaa"), b.s("bbbb"), b.s("cccc")});
  auto o = with([](auto& o) {
    o.flow = true;
    o.width = 8;
  });
  EXPECT_EQ(dump(v, o), "[aaaa, bbbb,\n  cccc]\n");
  // Keys never wrap.
  auto m = b.map({{b.seq({b.s("aaaa"), b.s("bbbb"), b.s("cccc")}), b.i(1)}});
  EXPECT_EQ(dump(m, with([](auto& o) { o.width = 8; })), "[aaaa, bbbb, cccc]: 1\n");
}

TEST(EncodeYamlWriter, LiteralBlocks) {
  Build b;
  EXPECT_EQ(dump(b.map({{b.s("k"), b.s("a\nb\n")}})), "k: |\n  a\n  b\n");
  EXPECT_EQ(dump(b.map({{b.s("k"), b.s("a\nb")}})), "k: |-\n  a\n  b\n");
  EXPECT_EQ(dump(b.map({{b.s("k"), b.s("a\n\n")}})), "k: |+\n  a\n\n");
  EXPECT_EQ(dump(b.s("a\nb\n")), "|\n  a\n  b\n");
  EXPECT_EQ(dump(b.s("a\nb"), with([](auto& o) { o.indent = 4; })), "|-\n    a\n    b\n");
  EXPECT_EQ(dump(b.seq({b.s("x\ny\n")})), "- |\n  x\n  y\n");
  EXPECT_EQ(dump(b.seq({b.seq({b.s("x\n")})})), "-\n  - |\n    x\n");
  // A first line starting with a blank cannot set the block's indentation.
  EXPECT_EQ(dump(b.map({{b.s("k"), b.s(" a\nb\n")}})), "k: \" a\\nb\\n\"\n");
}

TEST(EncodeYamlWriter, LineFeedsOnlyAreDoubleQuoted) {
  // A literal block of empty lines only reads back empty in some readers.
  Build b;
  EXPECT_EQ(dump(b.s("\n")), "\"\\n\"\n");
  EXPECT_EQ(dump(b.map({{b.s("k"), b.s("\n")}})), "k: \"\\n\"\n");
  EXPECT_EQ(dump(b.seq({b.s("\n\n")})), "- \"\\n\\n\"\n");
  EXPECT_EQ(dump(b.seq({b.s("\n\n")}), with([](auto& o) { o.prefer_double = false; })),
            "- \"\\n\\n\"\n");
}

TEST(EncodeYamlWriter, Quoting) {
  Build b;
  auto k = [&](std::string_view v) { return b.map({{b.s("k"), b.s(v)}}); };
  auto single = with([](auto& o) { o.prefer_double = false; });
  EXPECT_EQ(dump(k("yes")), "k: \"yes\"\n");
  EXPECT_EQ(dump(k("yes"), single), "k: 'yes'\n");
  EXPECT_EQ(dump(k("")), "k: \"\"\n");
  EXPECT_EQ(dump(k(""), single), "k: ''\n");
  EXPECT_EQ(dump(k("it's: x"), single), "k: \"it's: x\"\n");
  EXPECT_EQ(dump(k("a\tb"), single), "k: \"a\\tb\"\n");
  EXPECT_EQ(dump(k("a,b")), "k: a,b\n");
  EXPECT_EQ(dump(b.seq({b.s("a,b"), b.s("[x]"), b.s("x}")}), with([](auto& o) { o.flow = true; })),
            "[\"a,b\", \"[x]\", \"x}\"]\n");
  EXPECT_EQ(dump(b.map({{b.s("a{b"), b.i(1)}}), with([](auto& o) { o.flow = true; })),
            "{\"a{b\": 1}\n");
  // Quoted in every mode: YAML 1.1 readers take it for a number.
  EXPECT_EQ(dump(k("1:30")), "k: \"1:30\"\n");
  EXPECT_EQ(dump(b.map({{b.s("~"), b.s("null")}})), "\"~\": \"null\"\n");
}

TEST(EncodeYamlWriter, LongStringsFold) {
  Build b;
  auto o = with([](auto& o) { o.width = 10; });
  EXPECT_EQ(dump(b.map({{b.s("k"), b.s("aaaa bbbb cccc")}}), o), "k: \"aaaa\n   bbbb\n   cccc\"\n");
  auto single = with([](auto& o) {
    o.width = 10;
    o.prefer_double = false;
  });
  EXPECT_EQ(dump(b.map({{b.s("k"), b.s("aaaa bbbb cccc")}}), single),
            "k: 'aaaa\n   bbbb\n   cccc'\n");
  // No fold point, or short enough: plain.
  EXPECT_EQ(dump(b.map({{b.s("k"), b.s("aaaaaaaaaaaaaaa")}}), o), "k: aaaaaaaaaaaaaaa\n");
  EXPECT_EQ(dump(b.map({{b.s("k"), b.s("a b")}}), o), "k: a b\n");
  // Keys never fold.
  EXPECT_EQ(dump(b.map({{b.s("aaaa bbbb cccc"), b.i(1)}}), o), "aaaa bbbb cccc: 1\n");
  // A break is never placed beside a tab (the tab is escaped, the space kept).
  EXPECT_EQ(dump(b.map({{b.s("k"), b.s("aaaa\t bbbb")}}), o), "k: \"aaaa\\t\n   bbbb\"\n");
  // Escapes of a double-quoted body move with their word.
  EXPECT_EQ(dump(b.seq({b.s("xx \"yy\" zz")}), with([](auto& o) { o.width = 6; })),
            "- \"xx\n  \\\"yy\\\"\n  zz\"\n");
}

TEST(EncodeYamlWriter, Tags) {
  Build b;
  auto tagged_keys = b.map({{b.tag("!t", b.s("a")), b.i(1)}, {b.tag("!t", b.s("b")), b.i(2)}});
  EXPECT_EQ(dump(tagged_keys), "!t a: 1\n? !t b\n: 2\n");
  EXPECT_EQ(dump(b.map({{b.s("k"), b.tag("!t", b.seq({b.i(1), b.i(2)}))}}),
                 with([](auto& o) { o.indentless = true; })),
            "k: !t\n  - 1\n  - 2\n");
  EXPECT_EQ(dump(b.map({{b.s("k"), b.tag("!t", b.map({{b.s("a"), b.i(1)}}))}})),
            "k: !t\n  a: 1\n");
  EXPECT_EQ(dump(b.map({{b.s("k"), b.tag("!t", b.null())}})), "k: !t\n");
  EXPECT_EQ(dump(b.map({{b.s("k"), b.tag("!t", b.s("x\n"))}})), "k: !t |\n  x\n");
  EXPECT_EQ(dump(b.seq({b.tag("!t", b.s("x"))})), "- !t x\n");
  EXPECT_EQ(dump(b.seq({b.tag("!t", b.seq({b.i(1)}))})), "- !t\n  - 1\n");
  EXPECT_EQ(dump(b.seq({b.tag("!t", b.map({{b.s("a"), b.i(1)}}))})), "- !t\n  a: 1\n");
  EXPECT_EQ(dump(b.tag("!t", b.i(5))), "!t 5\n");
  EXPECT_EQ(dump(b.tag("!t", b.map({{b.s("a"), b.i(1)}}))), "!t\n  a: 1\n");
  EXPECT_EQ(dump(b.seq({b.tag("!t", b.s("x"))}), with([](auto& o) { o.flow = true; })),
            "[!t x]\n");
}

TEST(EncodeYamlWriter, KeysOfAnyKind) {
  Build b;
  EXPECT_EQ(dump(b.map({{b.seq({b.i(1), b.i(2)}), b.s("x")}})), "[1, 2]: x\n");
  EXPECT_EQ(dump(b.map({{b.map({{b.s("a"), b.i(1)}}), b.null()}})), "{a: 1}:\n");
  EXPECT_EQ(dump(b.map({{b.null(), b.i(1)}, {b.f(1.5), b.i(2)}})), "null: 1\n1.5: 2\n");
  // Over 1024 bytes, a key takes the explicit form readers accept at any length.
  std::string long_key(1100, 'k');
  EXPECT_EQ(dump(b.map({{b.s(long_key), b.i(1)}})), "? " + long_key + "\n: 1\n");
  EXPECT_EQ(dump(b.seq({b.map({{b.s("a"), b.i(0)}, {b.s(long_key), b.i(1)}})})),
            "- a: 0\n  ? " + long_key + "\n  : 1\n");
  EXPECT_EQ(dump(b.map({{b.s(long_key), b.i(1)}}), with([](auto& o) { o.flow = true; })),
            "{? " + long_key + ": 1}\n");
}

TEST(EncodeYamlWriter, SortKeys) {
  Build b;
  auto m = b.map({{b.s("b"), b.i(1)},
                  {b.i(2), b.i(2)},
                  {b.f(1.5), b.i(3)},
                  {YamlValue::of_bool(true), b.i(4)},
                  {b.null(), b.i(5)},
                  {b.s("a"), b.i(6)}});
  auto o = with([](auto& o) { o.sort_keys = true; });
  EXPECT_EQ(dump(m, o), "null: 5\ntrue: 4\n1.5: 3\n2: 2\na: 6\nb: 1\n");
  EXPECT_EQ(dump(m, with([](auto& o) {
              o.sort_keys = true;
              o.flow = true;
            })),
            "{null: 5, true: 4, 1.5: 3, 2: 2, a: 6, b: 1}\n");
  // Collections compare equal and keep their order; nested mappings sort too.
  auto m2 = b.map({{b.seq({b.i(2)}), b.i(1)},
                   {b.seq({b.i(1)}), b.map({{b.s("z"), b.i(1)}, {b.s("w"), b.i(2)}})}});
  EXPECT_EQ(dump(m2, o), "[2]: 1\n[1]:\n  w: 2\n  z: 1\n");
  auto m3 = b.seq({b.map({{b.s("z"), b.i(1)}, {b.s("w"), b.i(2)}})});
  EXPECT_EQ(dump(m3, o), "- w: 2\n  z: 1\n");
}

TEST(EncodeYamlWriter, CompareSortKeys) {
  Build b;
  EXPECT_TRUE(compare_sort_keys(b.f(-INFINITY), b.i(-5)));
  EXPECT_TRUE(compare_sort_keys(b.f(-0.0), b.f(0.0)));
  EXPECT_TRUE(compare_sort_keys(b.f(1e300), b.f(NAN)));
  EXPECT_TRUE(compare_sort_keys(b.i(5), b.arena.make_bigint("1_000_000_000_000_000_000_000")));
  EXPECT_TRUE(compare_sort_keys(b.arena.make_bigint("-99999999999999999999"), b.i(0)));
  EXPECT_TRUE(compare_sort_keys(b.s("ab"), b.s("abc")));
  EXPECT_TRUE(compare_sort_keys(b.s("Z"), b.s("\xc3\xa9")));
  EXPECT_FALSE(compare_sort_keys(b.arena.make_timestamp(Date{2001, 1, 1}), b.s("a")));
  EXPECT_FALSE(compare_sort_keys(b.s("a"), b.arena.make_timestamp(Date{2001, 1, 1})));
  EXPECT_TRUE(std::isnan(numeric_value_f64(b.s("1"))));
}

TEST(EncodeYamlWriter, Timestamps) {
  Build b;
  auto v = b.map({{b.s("d"), b.arena.make_timestamp(Date{2001, 12, 14})}});
  // Written as a string, which YAML 1.1 readers would take for a date.
  EXPECT_EQ(dump(v), "d: \"2001-12-14\"\n");
}

TEST(EncodeYamlWriter, OptionBits) {
  WriterOptions o = WriterOptions::from_option_bits((1u << 18) | (1u << 26) | (1u << 24) | 1u, 80);
  EXPECT_EQ(o.indent, 4u);
  EXPECT_EQ(o.width, 80u);
  EXPECT_EQ(o.null_style, NullStyle::Tilde);
  EXPECT_EQ(o.version_mode, VersionMode::Yaml11);
  EXPECT_FALSE(o.prefer_double);
  WriterOptions d = WriterOptions::from_option_bits((1u << 17) | 2u, 0);
  EXPECT_EQ(d.indent, 2u);
  EXPECT_EQ(d.version_mode, VersionMode::PyyamlCompat);
  EXPECT_EQ(d.null_style, NullStyle::Default);
  EXPECT_TRUE(d.prefer_double);
}

TEST(EncodeYamlWriter, DeepTreesDoNotExhaustTheStack) {
  Build b;
  YamlValue v = b.i(1);
  for (int i = 0; i < 200000; ++i) v = b.seq({v});
  std::string out = dump(v, with([](auto& o) { o.flow = true; }));
  EXPECT_EQ(out.size(), 400002u);
  EXPECT_EQ(out.substr(199998, 6), "[[1]]]");

  YamlValue m = b.null();
  for (int i = 0; i < 3000; ++i) m = b.map({{b.s("k"), m}});
  out = dump(m);
  EXPECT_EQ(out.substr(0, 12), "k:\n  k:\n    ");
}

}  // namespace
}  // namespace kestrine
