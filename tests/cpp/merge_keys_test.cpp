// Merge-key expansion over value trees.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "decode/merge.hpp"

namespace kestrine {
namespace {

class MergeKeys : public ::testing::Test {
 protected:
  ValueArena arena;

  YamlValue s(std::string_view text) { return arena.make_string(text); }
  YamlValue i(std::int64_t v) { return YamlValue::of_int(v); }
  YamlValue marker() { return merge_key_value(arena); }
  YamlValue map(std::initializer_list<ValuePair> pairs) {
    return arena.make_mapping(std::span<const ValuePair>(pairs.begin(), pairs.size()));
  }
  YamlValue seq(std::initializer_list<YamlValue> items) {
    return arena.make_sequence(std::span<const YamlValue>(items.begin(), items.size()));
  }
  YamlValue merged(YamlValue doc) {
    apply_merge_keys(arena, doc);
    return doc;
  }
  // "key=value" per pair, in order; scalars only.
  static std::string show(const YamlValue& v) {
    std::string out;
    for (const ValuePair& p : v.pairs()) {
      if (!out.empty()) out += ",";
      out += debug_render_value(p.key) + "=" + debug_render_value(p.value);
    }
    return out;
  }
};

TEST_F(MergeKeys, OwnKeysWinWhereverTheyStand) {
  YamlValue base = map({{s("a"), i(1)}, {s("b"), i(2)}});
  YamlValue merge_first = merged(map({{marker(), base}, {s("b"), i(3)}}));
  EXPECT_EQ(show(merge_first), "String(\"a\")=Int(1),String(\"b\")=Int(3)");
  YamlValue own_first = merged(map({{s("b"), i(3)}, {marker(), base}}));
  EXPECT_EQ(show(own_first), "String(\"b\")=Int(3),String(\"a\")=Int(1)");
}

TEST_F(MergeKeys, EarlierMergedMappingWins) {
  YamlValue one = map({{s("x"), i(1)}, {s("y"), i(1)}});
  YamlValue two = map({{s("x"), i(2)}, {s("z"), i(2)}});
  EXPECT_EQ(show(merged(map({{marker(), seq({one, two})}}))),
            "String(\"x\")=Int(1),String(\"y\")=Int(1),String(\"z\")=Int(2)");
  EXPECT_EQ(show(merged(map({{marker(), two}, {marker(), one}}))),
            "String(\"x\")=Int(2),String(\"z\")=Int(2),String(\"y\")=Int(1)");
}

TEST_F(MergeKeys, RepeatedKeysCollapseToTheLastValueAtTheFirstPosition) {
  YamlValue doc = merged(map({{s("a"), i(1)}, {marker(), map({{s("m"), i(0)}})}, {s("b"), i(2)}, {s("a"), i(3)}}));
  EXPECT_EQ(show(doc), "String(\"a\")=Int(3),String(\"m\")=Int(0),String(\"b\")=Int(2)");
  // Inside a merged mapping too.
  YamlValue dup = map({{s("k"), i(1)}, {s("j"), i(5)}, {s("k"), i(2)}});
  EXPECT_EQ(show(merged(map({{marker(), dup}}))), "String(\"k\")=Int(2),String(\"j\")=Int(5)");
}

TEST_F(MergeKeys, NullAndNonMappingValues) {
  EXPECT_EQ(show(merged(map({{s("a"), i(1)}, {marker(), YamlValue::null()}}))), "String(\"a\")=Int(1)");
  EXPECT_EQ(show(merged(map({{marker(), s("x")}}))), "String(\"<<\")=String(\"x\")");
  // Two scalar merge values become a list under one "<<" key.
  EXPECT_EQ(show(merged(map({{marker(), s("x")}, {s("a"), i(1)}, {marker(), i(7)}}))),
            "String(\"<<\")=Sequence([String(\"x\"), Int(7)]),String(\"a\")=Int(1)");
  // Leftovers of a merged list are kept in order after the folded pairs.
  YamlValue mixed = seq({i(1), map({{s("k"), i(2)}}), i(3)});
  EXPECT_EQ(show(merged(map({{marker(), mixed}, {marker(), i(4)}}))),
            "String(\"k\")=Int(2),String(\"<<\")=Sequence([Int(1), Int(3), Int(4)])");
  // An own "<<" string key replaces the leftovers and takes the slot away.
  EXPECT_EQ(show(merged(map({{marker(), i(1)}, {s("<<"), s("own")}, {marker(), i(2)}}))),
            "String(\"<<\")=String(\"own\")");
}

TEST_F(MergeKeys, MarkersOutsideKeysBecomeTheirText) {
  // A marker reads as "<<", however the merge key was written.
  YamlValue doc = merged(seq({marker(), map({{s("v"), marker()}}), arena.make_tagged("!t", marker())}));
  EXPECT_EQ(debug_render_value(doc),
            "Sequence([String(\"<<\"), Mapping([(String(\"v\"), String(\"<<\"))]), "
            "Tagged(\"!t\", String(\"<<\"))])");
  // A marker nested inside a complex key is replaced too.
  YamlValue key = seq({marker()});
  EXPECT_EQ(show(merged(map({{key, i(1)}}))), "Sequence([String(\"<<\")])=Int(1)");
}

// Keys equal as Python values are one key, so the result reads the same once
// it is a dict: 1, 1.0 and true; a big integer however written; one instant
// in two zones.  NaN keys equal nothing.
TEST_F(MergeKeys, KeysEqualAsPythonValuesAreOneKey) {
  const YamlValue one_f = YamlValue::of_float(1.0), yes = YamlValue::of_bool(true);
  EXPECT_EQ(show(merged(map({{i(1), s("int")}, {marker(), map({{one_f, s("float")}, {yes, s("bool")}})}}))),
            "Int(1)=String(\"int\")");
  EXPECT_EQ(show(merged(map({{one_f, s("own")}, {marker(), map({{i(1), s("merged")}})}}))),
            "Float(1.0)=String(\"own\")");
  EXPECT_EQ(show(merged(map({{marker(), seq({map({{i(1), s("a")}}), map({{one_f, s("b")}})})}}))),
            "Int(1)=String(\"a\")");
  const YamlValue big = arena.make_bigint("+18446744073709551616");
  EXPECT_EQ(merged(map({{big, i(1)}, {marker(), map({{arena.make_bigint("18446744073709551616"), i(2)}})}})).size(),
            1u);
  const YamlValue utc = arena.make_timestamp(DateTime{2002, 1, 5, 10, 0, 0, 0, 0});
  const YamlValue cet = arena.make_timestamp(DateTime{2002, 1, 5, 11, 0, 0, 0, 60});
  EXPECT_EQ(merged(map({{utc, i(1)}, {marker(), map({{cet, i(2)}})}})).size(), 1u);
  const YamlValue nan = YamlValue::of_float(std::nan(""));
  EXPECT_EQ(merged(map({{nan, i(1)}, {marker(), map({{nan, i(2)}, {nan, i(3)}})}})).size(), 3u);
}

// Keys compare as the conversion builds them: a custom tag it drops is left
// out, a kept one makes another key.  Each source's pairs are marked, for a
// conversion whose callbacks may make keys equal that the fold told apart.
TEST_F(MergeKeys, KeysCompareAsConvertedAndMergedPairsTellTheirSource) {
  const YamlValue sources = seq({map({{s("a"), i(1)}, {s("b"), i(1)}}), map({{s("b"), i(2)}, {s("c"), i(2)}})});
  const YamlValue doc = map({{arena.make_tagged("!u", s("a")), i(0)}, {marker(), sources}, {s("c"), i(3)}});
  const auto origins = [](const YamlValue& v) {
    std::string out;
    for (const ValuePair& p : v.pairs())
      out += (p.key.flags & YamlValue::kMergeSourceStart) ? 'S' : (p.key.flags & YamlValue::kMergedKey) ? 'm' : 'o';
    return out;
  };
  YamlValue dropped = doc;
  apply_merge_keys(arena, dropped);  // no tag kept
  EXPECT_EQ(show(dropped), "Tagged(\"!u\", String(\"a\"))=Int(0),String(\"b\")=Int(1),String(\"c\")=Int(3)");
  EXPECT_EQ(origins(dropped), "oSo");  // an own key takes the place of the merged pair it beats
  EXPECT_TRUE(dropped.flags & YamlValue::kMergedPairs);
  KeyTags keep;
  keep.names.push_back("!u");
  YamlValue kept = doc;
  apply_merge_keys(arena, kept, &keep);
  EXPECT_EQ(kept.size(), 4u);
  EXPECT_EQ(origins(kept), "oSmo");
  // A folded mapping merged onward is one source, its marks its own.
  YamlValue onward = merged(map({{marker(), dropped}}));
  EXPECT_EQ(origins(onward), "Smm");
  EXPECT_FALSE(merged(map({{s("a"), i(1)}, {s("a"), i(2)}, {marker(), YamlValue::null()}})).flags &
               YamlValue::kMergedPairs);
}

TEST_F(MergeKeys, NestedAndChainedMerges) {
  // base <- mid (merges base) <- top (merges mid): mid is expanded first.
  YamlValue base = map({{s("a"), i(1)}});
  YamlValue mid = map({{marker(), base}, {s("b"), i(2)}});
  YamlValue top = map({{marker(), mid}, {s("c"), i(3)}});
  YamlValue doc = merged(seq({top}));
  EXPECT_EQ(show(doc.items()[0]), "String(\"a\")=Int(1),String(\"b\")=Int(2),String(\"c\")=Int(3)");
  // Inside tagged values and mapping values.
  YamlValue in_tag = merged(arena.make_tagged("!t", map({{s("x"), map({{marker(), base}})}})));
  EXPECT_EQ(show(in_tag.tagged().inner.pairs()[0].value), "String(\"a\")=Int(1)");
}

TEST_F(MergeKeys, SharedSubtreesComeOutAsPrivateCopiesWould) {
  // One mapping reached three times (as aliases make it): twice as a value,
  // once as a key.  The key keeps a "<<" string key, the values are merged,
  // and the shared original is not edited.
  YamlValue base = map({{s("a"), i(1)}});
  YamlValue shared = map({{marker(), base}, {s("x"), i(2)}});
  const ValuePair* original = shared.pairs().data();
  YamlValue doc = merged(map({{s("v1"), shared}, {shared, i(0)}, {s("v2"), seq({shared})}}));
  ASSERT_EQ(doc.size(), 3u);
  EXPECT_EQ(show(doc.pairs()[0].value), "String(\"a\")=Int(1),String(\"x\")=Int(2)");
  EXPECT_EQ(show(doc.pairs()[1].key),
            "String(\"<<\")=Mapping([(String(\"a\"), Int(1))]),String(\"x\")=Int(2)");
  EXPECT_EQ(show(doc.pairs()[2].value.items()[0]), "String(\"a\")=Int(1),String(\"x\")=Int(2)");
  EXPECT_TRUE(is_merge_marker(original[0].key));
}

TEST_F(MergeKeys, DocumentWithoutMergeKeysIsUntouched) {
  YamlValue inner = map({{s("a"), i(1)}, {s("a"), i(2)}});
  YamlValue doc = seq({inner});
  const ValuePair* before = doc.items()[0].pairs().data();
  apply_merge_keys(arena, doc);
  EXPECT_EQ(doc.items()[0].pairs().data(), before);
  EXPECT_EQ(doc.items()[0].size(), 2u);  // repeated keys without merge stay side by side
}

TEST_F(MergeKeys, DeepDocumentsAndManyMergeEntries) {
  YamlValue v = map({{marker(), map({{s("k"), i(1)}})}});
  for (int d = 0; d < 100000; ++d) v = seq({v});
  apply_merge_keys(arena, v);
  const YamlValue* p = &v;
  while (p->is_sequence()) p = &p->items()[0];
  EXPECT_EQ(show(*p), "String(\"k\")=Int(1)");

  // Many scalar merge entries in one mapping are gathered in linear time.
  std::vector<ValuePair> pairs;
  for (int n = 0; n < 50000; ++n) pairs.push_back({marker(), i(n)});
  YamlValue wide = arena.make_mapping(pairs);
  apply_merge_keys(arena, wide);
  ASSERT_EQ(wide.size(), 1u);
  ASSERT_EQ(wide.pairs()[0].value.size(), 50000u);
  EXPECT_EQ(wide.pairs()[0].value.items()[49999].integer, 49999);
}

TEST_F(MergeKeys, FoldReportsLeftovers) {
  YamlValue doc = merged(map({{marker(), YamlValue::null()},
                              {marker(), map({{s("a"), i(1)}})},
                              {marker(), seq({map({{s("a"), i(9)}, {s("b"), i(2)}}), s("x")})}}));
  // The earlier mapping keeps "a"; the list's leftover stays a list.
  EXPECT_EQ(show(doc), "String(\"a\")=Int(1),String(\"b\")=Int(2),String(\"<<\")=Sequence([String(\"x\")])");
  EXPECT_TRUE(is_merge_marker(arena.make_tagged("tag:yaml.org,2002:merge", i(0))));
  EXPECT_FALSE(is_merge_marker(arena.make_tagged("!!merge", s("<<"))));
}

}  // namespace
}  // namespace kestrine
