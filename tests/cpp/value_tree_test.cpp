// The value model: arena building, counting, copying, deep trees, key
// signatures and the debug rendering.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "decode/value.hpp"

namespace kestrine {
namespace {

std::string signature(const YamlValue& v) {
  std::string out;
  write_key_signature(out, v);
  return out;
}

TEST(ValueTree, BuildAndRead) {
  ValueArena arena;
  std::string source = "hello";
  YamlValue s = arena.make_string(source);
  source[0] = 'J';  // the copy is independent of the caller's buffer
  EXPECT_EQ(s.text(), "hello");
  YamlValue items[] = {YamlValue::of_int(1), s, YamlValue::null()};
  YamlValue seq = arena.make_sequence(items);
  ASSERT_TRUE(seq.is_sequence());
  ASSERT_EQ(seq.size(), 3u);
  EXPECT_EQ(seq.items()[0].integer, 1);
  EXPECT_EQ(seq.items()[1].text(), "hello");
  ValuePair pairs[] = {{arena.make_string("k"), seq}, {YamlValue::of_bool(true), YamlValue::of_float(2.5)}};
  YamlValue map = arena.make_mapping(pairs);
  ASSERT_EQ(map.pairs().size(), 2u);
  EXPECT_EQ(map.pairs()[0].value.items()[1].text(), "hello");
  EXPECT_EQ(map.pairs()[1].value.real, 2.5);
  YamlValue tagged = arena.make_tagged("!custom", map);
  EXPECT_EQ(tagged.tagged().tag, "!custom");
  EXPECT_TRUE(tagged.tagged().inner.is_mapping());
  YamlValue ts = arena.make_timestamp(Date{2001, 2, 3});
  EXPECT_EQ(std::get<Date>(ts.timestamp()).day, 3);
  EXPECT_EQ(arena.make_bigint("123456789012345678901").text(), "123456789012345678901");
  EXPECT_TRUE(arena.make_sequence({}).is_sequence());
  EXPECT_EQ(arena.make_mapping({}).size(), 0u);
}

TEST(ValueTree, StackBuilderNestsCollections) {
  ValueArena arena;
  ValueStack stack;
  // {a: [1, 2], b: {}} built the way a decoder does it.
  const std::size_t outer = stack.mark();
  stack.push(arena.make_string_ref("a"));
  const std::size_t inner = stack.mark();
  stack.push(YamlValue::of_int(1));
  stack.push(YamlValue::of_int(2));
  YamlValue list = stack.finish_sequence(arena, inner);
  stack.push(list);
  stack.push(arena.make_string_ref("b"));
  stack.push(stack.finish_mapping(arena, stack.mark()));
  YamlValue root = stack.finish_mapping(arena, outer);
  EXPECT_EQ(stack.mark(), 0u);
  ASSERT_EQ(root.size(), 2u);
  EXPECT_EQ(root.pairs()[0].key.text(), "a");
  EXPECT_EQ(root.pairs()[0].value.items()[1].integer, 2);
  EXPECT_TRUE(root.pairs()[1].value.is_mapping());
  EXPECT_EQ(root.pairs()[1].value.size(), 0u);
  EXPECT_EQ(count_value_nodes(root), 7u);
}

TEST(ValueTree, ArenaHandlesLargeAndManyAllocations) {
  ValueArena arena(64);
  std::string big(3 << 20, 'x');
  YamlValue v = arena.make_string(big);
  EXPECT_EQ(v.text().size(), big.size());
  std::vector<YamlValue> strings;
  for (int i = 0; i < 20000; ++i) strings.push_back(arena.make_string(std::to_string(i)));
  EXPECT_EQ(strings[12345].text(), "12345");
  EXPECT_EQ(v.text()[big.size() - 1], 'x');
  EXPECT_GE(arena.bytes_reserved(), big.size());
  ValueArena moved = std::move(arena);
  EXPECT_EQ(strings[19999].text(), "19999");
  EXPECT_EQ(arena.bytes_reserved(), 0u);
  drop_value_tree(std::move(moved));
  EXPECT_EQ(moved.bytes_reserved(), 0u);
}

// Trees built again and again in one arena that keeps its chunks: each
// round reads back intact and takes no memory beyond the kept chunks (the
// bytes kept stay the same), and a block larger than the limit is freed.
TEST(ValueTree, ArenaReleaseKeepingReusesItsChunks) {
  ValueArena arena(256);
  const std::size_t limit = std::size_t(1) << 20;
  std::size_t first_kept = 0;
  for (int round = 0; round < 4; ++round) {
    std::vector<YamlValue> texts;
    for (int i = 0; i < 5000; ++i) texts.push_back(arena.make_string(std::to_string(round * 100000 + i)));
    for (int i = 0; i < 5000; i += 499) ASSERT_EQ(texts[i].text(), std::to_string(round * 100000 + i));
    const std::size_t kept = arena.release_keeping(limit);
    EXPECT_EQ(arena.bytes_reserved(), 0u);
    if (round == 0) first_kept = kept;
    EXPECT_EQ(kept, first_kept) << "round " << round;
  }
  const YamlValue big = arena.make_string(std::string(4 << 20, 'y'));
  EXPECT_EQ(big.text().back(), 'y');
  EXPECT_LE(arena.release_keeping(limit), limit);
  ValueArena moved = std::move(arena);  // the kept chunks move along
  EXPECT_EQ(moved.make_string("kept").text(), "kept");
  EXPECT_EQ(moved.release_keeping(0), 0u);
}

TEST(ValueTree, CountNodes) {
  ValueArena arena;
  ValuePair pair[] = {{arena.make_string("a"), YamlValue::of_int(1)}};
  EXPECT_EQ(count_value_nodes(arena.make_mapping(pair)), 3u);
  EXPECT_EQ(count_value_nodes(YamlValue::empty_sequence()), 1u);
  EXPECT_EQ(count_value_nodes(YamlValue::empty_mapping()), 1u);
  EXPECT_EQ(count_value_nodes(arena.make_tagged("!t", YamlValue::null())), 2u);
  // Collection keys are counted like any other node.
  YamlValue items[] = {YamlValue::of_int(1), YamlValue::of_int(2)};
  ValuePair complex[] = {{arena.make_sequence(items), arena.make_mapping(pair)}};
  EXPECT_EQ(count_value_nodes(arena.make_mapping(complex)), 1u + 3u + 3u);
}

// A chain `depth` levels deep, alternating sequences, mappings and tags.
YamlValue deep_chain(ValueArena& arena, int depth) {
  YamlValue v = arena.make_string("leaf");
  for (int i = 0; i < depth; ++i) {
    switch (i % 3) {
      case 0:
        v = arena.make_sequence(std::span<const YamlValue>(&v, 1));
        break;
      case 1: {
        ValuePair p{YamlValue::of_int(i), v};
        v = arena.make_mapping(std::span<const ValuePair>(&p, 1));
        break;
      }
      default:
        v = arena.make_tagged_ref("!t", v);
    }
  }
  return v;
}

TEST(ValueTree, DeepTreesAreCountedComparedAndReleasedWithoutRecursion) {
  constexpr int kDepth = 300000;
  ValueTree tree;
  tree.root = deep_chain(tree.arena, kDepth);
  const std::uint64_t n = count_value_nodes(tree.root);
  EXPECT_EQ(n, 1u + kDepth + kDepth / 3);  // mappings add a key node each
  YamlValue twin = deep_chain(tree.arena, kDepth);
  EXPECT_TRUE(values_equal(twin, tree.root));
  // Signatures and renderings of deep keys descend through the stack guard.
  std::string sig = signature(tree.root);
  EXPECT_GT(sig.size(), std::size_t(kDepth));
  EXPECT_GT(debug_render_value(twin).size(), std::size_t(kDepth));
  drop_value_tree(std::move(tree));
  EXPECT_TRUE(tree.root.is_null());
}

TEST(ValueTree, KeySignaturesFollowPythonKeyEquality) {
  ValueArena arena;
  EXPECT_EQ(signature(YamlValue::of_int(1)), "n:1");
  EXPECT_EQ(signature(YamlValue::of_bool(true)), "n:1");
  EXPECT_EQ(signature(YamlValue::of_float(1.0)), "n:1");
  EXPECT_EQ(signature(YamlValue::of_bool(false)), signature(YamlValue::of_float(-0.0)));
  EXPECT_EQ(signature(YamlValue::of_int(0)), "n:0");
  EXPECT_EQ(signature(YamlValue::null()), "null");
  EXPECT_EQ(signature(YamlValue::of_float(1.5)), "f:1.5");
  EXPECT_EQ(signature(YamlValue::of_float(1e-7)), "f:0.0000001");
  EXPECT_EQ(signature(YamlValue::of_float(NAN)), "f:NaN");
  EXPECT_EQ(signature(YamlValue::of_float(-INFINITY)), "f:-inf");
  EXPECT_EQ(signature(YamlValue::of_float(-9223372036854775808.0)), "n:-9223372036854775808");
  EXPECT_EQ(signature(arena.make_string("ab")), "s:2:ab");
  EXPECT_NE(signature(arena.make_string("1")), signature(YamlValue::of_int(1)));

  // Big integers compare by value, whatever their spelling.
  const std::string big = signature(arena.make_bigint("18446744073709551616"));
  EXPECT_EQ(big, "n:18446744073709551616");
  EXPECT_EQ(signature(arena.make_bigint("+18446744073709551616")), big);
  EXPECT_EQ(signature(arena.make_bigint("18_446_744_073_709_551_616")), big);
  EXPECT_EQ(signature(arena.make_bigint("0x10000000000000000")), big);
  // ... and equal an integral float of the same value (2^64 is exact).
  EXPECT_EQ(signature(YamlValue::of_float(18446744073709551616.0)), big);
  EXPECT_EQ(signature(YamlValue::of_float(1e20)), "n:100000000000000000000");

  // Aware date-times are one key when they name the same instant.
  DateTime a{2001, 12, 14, 21, 59, 43, 0, -300};
  DateTime b{2001, 12, 15, 2, 59, 43, 0, 0};
  DateTime c{2001, 12, 15, 2, 59, 43, 0, std::nullopt};
  EXPECT_EQ(signature(arena.make_timestamp(a)), signature(arena.make_timestamp(b)));
  EXPECT_NE(signature(arena.make_timestamp(b)), signature(arena.make_timestamp(c)));
  EXPECT_EQ(signature(arena.make_timestamp(c)), "ts:2001-12-15T02:59:43");
  EXPECT_NE(signature(arena.make_timestamp(Date{2001, 12, 15})), signature(arena.make_string("2001-12-15")));

  YamlValue ab[] = {arena.make_string("a"), arena.make_string("b")};
  EXPECT_EQ(signature(arena.make_sequence(ab)), "seq:[s:1:a,s:1:b]");
  ValuePair kv[] = {{arena.make_string("k"), YamlValue::of_float(2.0)}, {YamlValue::null(), YamlValue::of_bool(false)}};
  EXPECT_EQ(signature(arena.make_mapping(kv)), "seq:[seq:[s:1:k,n:2],seq:[null,n:0]]");
  // Both load as tuples of tuples: a mapping is the sequence of its pairs.
  YamlValue k2[] = {arena.make_string("k"), YamlValue::of_int(2)};
  YamlValue pair_seq[] = {arena.make_sequence(k2)};
  ValuePair k2_pair[] = {{arena.make_string("k"), YamlValue::of_int(2)}};
  EXPECT_EQ(signature(arena.make_mapping(k2_pair)), signature(arena.make_sequence(pair_seq)));
  EXPECT_EQ(signature(YamlValue::empty_mapping()), signature(YamlValue::empty_sequence()));
  EXPECT_EQ(signature(arena.make_tagged("!x", YamlValue::of_int(3))), "t:!x:n:3");
}

TEST(ValueTree, ResolvedScalarSignaturesMatchValueSignatures) {
  ValueArena arena;
  auto sig = [](VersionMode m, std::string_view text) {
    std::string out;
    write_key_signature(out, resolve_scalar_value(m, text, false, std::nullopt));
    return out;
  };
  EXPECT_EQ(sig(VersionMode::Yaml12, "1"), sig(VersionMode::Yaml12, "1.0"));
  EXPECT_EQ(sig(VersionMode::Yaml12, "true"), sig(VersionMode::Yaml12, "1"));
  EXPECT_EQ(sig(VersionMode::Yaml11, "on"), sig(VersionMode::Yaml11, "1"));
  EXPECT_EQ(sig(VersionMode::Yaml12, "+18446744073709551616"), sig(VersionMode::Yaml12, "18446744073709551616"));
  EXPECT_EQ(sig(VersionMode::Yaml12, "0x10000000000000000"), sig(VersionMode::Yaml12, "18446744073709551616"));
  EXPECT_EQ(sig(VersionMode::Yaml12, "~"), "null");
  EXPECT_EQ(sig(VersionMode::Yaml12, "abc"), signature(arena.make_string("abc")));
  EXPECT_EQ(sig(VersionMode::Yaml12, "<<"), signature(arena.make_string("<<")));
  EXPECT_EQ(sig(VersionMode::Yaml12, "2.5"), signature(YamlValue::of_float(2.5)));
}

TEST(ValueTree, DebugRendering) {
  ValueArena arena;
  YamlValue items[] = {arena.make_string("a\"b"), YamlValue::null(), YamlValue::of_float(1.0)};
  ValuePair kv[] = {{arena.make_string("k"), YamlValue::of_bool(true)}};
  YamlValue outer[] = {arena.make_sequence(items), arena.make_mapping(kv),
                       arena.make_tagged("!t", YamlValue::of_int(-4)), arena.make_bigint("99999999999999999999"),
                       arena.make_timestamp(DateTime{2001, 1, 2, 3, 4, 5, 6, 60})};
  EXPECT_EQ(debug_render_value(arena.make_sequence(outer)),
            "Sequence([Sequence([String(\"a\\\"b\"), Null, Float(1.0)]), "
            "Mapping([(String(\"k\"), Bool(true))]), Tagged(\"!t\", Int(-4)), "
            "BigInt(\"99999999999999999999\"), Timestamp(DateTime { year: 2001, month: 1, day: 2, "
            "hour: 3, minute: 4, second: 5, microsecond: 6, offset_minutes: Some(60) })])");
}

TEST(ValueTree, FloatPlainText) {
  auto text = [](double d) {
    std::string s;
    append_float_plain(s, d);
    return s;
  };
  EXPECT_EQ(text(0.1), "0.1");
  EXPECT_EQ(text(-0.0), "-0");
  EXPECT_EQ(text(3.0), "3");
  EXPECT_EQ(text(123.456), "123.456");
  EXPECT_EQ(text(1e21), "1000000000000000000000");
  EXPECT_EQ(text(5e-324).substr(0, 6), "0.0000");
  EXPECT_EQ(text(INFINITY), "inf");
}

}  // namespace
}  // namespace kestrine
