// Annotated results: positions (block and flow, keys and values, multi-line
// scalars, empty values, CRLF, a byte-order mark), styles, provenance, the
// number switch and the PyyamlCompat timestamps.
#include <string>
#include <vector>

#include "bridge_support.hpp"

namespace kestrine {
namespace {

using testing::annotated;
using testing::annotated_lines;
using testing::eval;
using testing::run;
using testing::to_std;

TEST(BridgeAnnotate, BlockMappingKeysAndValues) {
  OwnedRef r = annotated("a: hello\n");
  EXPECT_EQ(annotated_lines(r.get()),
            "KestrineAnnotatedDict 1 1:1-1:9 @0-8\n"
            "KestrineAnnotatedStr 'a' 1:1-1:2 @0-1 plain\n"
            "KestrineAnnotatedStr 'hello' 1:4-1:9 @3-8 plain");
  // Nested block mapping with a flow sequence inside: a collection ends
  // where its last child ends.
  r = annotated("a:\n  b: 1\n  c: [x, y]\n");
  EXPECT_EQ(annotated_lines(r.get()),
            "KestrineAnnotatedDict 1 1:1-3:11 @0-20\n"
            "KestrineAnnotatedStr 'a' 1:1-1:2 @0-1 plain\n"
            "KestrineAnnotatedDict 2 2:3-3:11 @5-20\n"
            "KestrineAnnotatedStr 'b' 2:3-2:4 @5-6 plain\n"
            "KestrineAnnotatedStr 'c' 3:3-3:4 @12-13 plain\n"
            "KestrineAnnotatedList 2 3:6-3:11 @15-20\n"
            "KestrineAnnotatedStr 'x' 3:7-3:8 @16-17 plain\n"
            "KestrineAnnotatedStr 'y' 3:10-3:11 @19-20 plain");
}

TEST(BridgeAnnotate, SequencesAndFlowCollections) {
  OwnedRef r = annotated("- x\n- [1, 2]\n- {k: v}\n");
  EXPECT_EQ(annotated_lines(r.get()),
            "KestrineAnnotatedList 3 1:1-3:8 @0-20\n"
            "KestrineAnnotatedStr 'x' 1:3-1:4 @2-3 plain\n"
            "KestrineAnnotatedList 2 2:3-2:8 @6-11\n"
            "KestrineAnnotatedDict 1 3:3-3:8 @15-20\n"
            "KestrineAnnotatedStr 'k' 3:4-3:5 @16-17 plain\n"
            "KestrineAnnotatedStr 'v' 3:7-3:8 @19-20 plain");
  // The integers inside stay plain without the number switch.
  EXPECT_EQ(to_std(eval("[type(v).__name__ for v in _r[1]]").get()), "['int', 'int']");
}

TEST(BridgeAnnotate, MultiLineScalarsAndEmptyValues) {
  OwnedRef r = annotated("a: |\n  one\n  two\nb: >-\n  f\n  g\nc:\n");
  EXPECT_EQ(annotated_lines(r.get()),
            "KestrineAnnotatedDict 3 1:1-7:2 @0-32\n"
            "KestrineAnnotatedStr 'a' 1:1-1:2 @0-1 plain\n"
            "KestrineAnnotatedStr 'one\\ntwo\\n' 1:4-4:1 @3-17 literal\n"
            "KestrineAnnotatedStr 'b' 4:1-4:2 @17-18 plain\n"
            "KestrineAnnotatedStr 'f g' 4:4-7:1 @20-31 folded\n"
            "KestrineAnnotatedStr 'c' 7:1-7:2 @31-32 plain");
  EXPECT_EQ(to_std(eval("_r['c']").get()), "None");

  r = annotated("a: 'x\n  y'\nb: \"q\"\n");
  EXPECT_EQ(annotated_lines(r.get()),
            "KestrineAnnotatedDict 2 1:1-3:7 @0-17\n"
            "KestrineAnnotatedStr 'a' 1:1-1:2 @0-1 plain\n"
            "KestrineAnnotatedStr 'x y' 1:4-2:5 @3-10 single\n"
            "KestrineAnnotatedStr 'b' 3:1-3:2 @11-12 plain\n"
            "KestrineAnnotatedStr 'q' 3:4-3:7 @14-17 double");
}

TEST(BridgeAnnotate, CrLfAndByteOrderMark) {
  OwnedRef r = annotated("b: x\r\nc: d\r\n");
  EXPECT_EQ(annotated_lines(r.get()),
            "KestrineAnnotatedDict 2 1:1-2:5 @0-10\n"
            "KestrineAnnotatedStr 'b' 1:1-1:2 @0-1 plain\n"
            "KestrineAnnotatedStr 'x' 1:4-1:5 @3-4 plain\n"
            "KestrineAnnotatedStr 'c' 2:1-2:2 @6-7 plain\n"
            "KestrineAnnotatedStr 'd' 2:4-2:5 @9-10 plain");
  // Offsets count the mark's three bytes; columns do not.
  r = annotated("\xEF\xBB\xBFk: v\n");
  EXPECT_EQ(annotated_lines(r.get()),
            "KestrineAnnotatedDict 1 1:1-1:5 @3-7\n"
            "KestrineAnnotatedStr 'k' 1:1-1:2 @3-4 plain\n"
            "KestrineAnnotatedStr 'v' 1:4-1:5 @6-7 plain");
}

TEST(BridgeAnnotate, ScalarTypesAndNumbers) {
  OwnedRef r = annotated("a: 5\nb: true\nc: null\nd: '5'\ne: 1.5\nf: 123456789012345678901234\n");
  EXPECT_EQ(to_std(eval("[type(v).__name__ for v in _r.values()]").get()),
            "['int', 'bool', 'NoneType', 'KestrineAnnotatedStr', 'float', 'int']");
  EXPECT_EQ(to_std(eval("_m(_r['d'])").get()), "KestrineAnnotatedStr '5' 4:4-4:7 @24-27 single");

  r = annotated("a: 5\ne: 1.5\nf: 123456789012345678901234\n", VersionMode::Yaml12, true);
  EXPECT_EQ(annotated_lines(r.get()),
            "KestrineAnnotatedDict 3 1:1-3:28 @0-39\n"
            "KestrineAnnotatedStr 'a' 1:1-1:2 @0-1 plain\n"
            "KestrineAnnotatedInt 5 1:4-1:5 @3-4 plain\n"
            "KestrineAnnotatedStr 'e' 2:1-2:2 @5-6 plain\n"
            "KestrineAnnotatedFloat 1.5 2:4-2:7 @8-11 plain\n"
            "KestrineAnnotatedStr 'f' 3:1-3:2 @12-13 plain");
  // Big integers stay plain ints even with the switch.
  EXPECT_EQ(to_std(eval("type(_r['f']).__name__").get()), "int");
  // Numbers as keys are annotated too, and still hash like numbers.
  r = annotated("1: one\n", VersionMode::Yaml12, true);
  EXPECT_EQ(to_std(eval("(_r[1], type(next(iter(_r))).__name__)").get()), "('one', 'KestrineAnnotatedInt')");
}

TEST(BridgeAnnotate, TagsAndProvenance) {
  // A custom tag without handlers is recorded as the source tag; a tagged
  // node's position is that of its content.
  OwnedRef r = annotated("a: !custom x\nb: !!str 5\n");
  EXPECT_EQ(to_std(eval("_m(_r['a'])").get()), "KestrineAnnotatedStr 'x' 1:12-1:13 @11-12 plain src=!custom:None");
  EXPECT_EQ(to_std(eval("(_m(_r['b']), _r['b'].is_secret, _r['b'].is_include)").get()),
            "(\"KestrineAnnotatedStr '5' 2:10-2:11 @22-23 plain\", False, False)");

  // Nodes that came from a directive carry its tag and target and the file
  // they were read from.
  testing::setup_annotated_package();
  auto roots = testing::compose_ok("cfg: x\nkey: y\nlist: [1]\n");
  YamlNode& root = roots.front();
  YamlNode& cfg = root.pairs_mut()[0].value;
  cfg.span.file_id = 1;
  cfg.set_source(IncludeSource{"!include", "sub/cfg.yaml", 1});
  root.pairs_mut()[1].value.set_source(IncludeSource{"!secret", "api_key", std::nullopt});
  root.pairs_mut()[2].value.set_source(IncludeSource{"!include_dir_list", "parts", std::nullopt});
  auto bindings = bind_anchors(roots);
  ASSERT_TRUE(bindings);
  std::vector<std::string> files = {"main.yaml", "sub/cfg.yaml"};
  auto obj = tree_to_annotated(root, files, VersionMode::Yaml12, {}, *bindings, false);
  ASSERT_TRUE(obj);
  testing::bind("_r", obj->get());
  EXPECT_EQ(to_std(eval("_m(_r['cfg'])").get()),
            "KestrineAnnotatedStr 'x' 1:6-1:7 @5-6 plain file=sub/cfg.yaml src=!include:sub/cfg.yaml");
  EXPECT_EQ(to_std(eval("(_r['key'].is_secret, _r['key'].is_include, _r['key'].__file__)").get()),
            "(True, False, 'main.yaml')");
  EXPECT_EQ(to_std(eval("(_r['list'].is_include, _r['list'].is_secret, _r['list'].__source_target__)").get()),
            "(True, False, 'parts')");
  EXPECT_EQ(to_std(eval("(_r.__file__, _r.is_include, _r.is_env_var, _r.__source_tag__)").get()),
            "('main.yaml', False, False, None)");

  // A file number outside the table gives no file; invalid UTF-8 in a name
  // shows as U+FFFD.
  cfg.span.file_id = 7;
  root.span.file_id = 0;
  std::vector<std::string> odd = {std::string("m\xFF.yaml")};
  obj = tree_to_annotated(root, odd, VersionMode::Yaml12, {}, *bindings, false);
  ASSERT_TRUE(obj);
  testing::bind("_r", obj->get());
  EXPECT_EQ(to_std(eval("(_r['cfg'].__file__, _r.__file__)").get()), "(None, 'm\xEF\xBF\xBD.yaml')");
}

TEST(BridgeAnnotate, TagHandlersReceiveAnnotatedValues) {
  testing::setup_annotated_package();
  run("_seen = []\n"
      "def _handler(tag, value):\n"
      "    _seen.append((tag, type(value).__name__))\n"
      "    return ('handled', tag)\n");
  TagHandlers handlers{nullptr, eval("_handler").get(), false};
  OwnedRef r = annotated("a: !one x\nb: !two [1]\nc: !!int 3\n", VersionMode::Yaml12, false, {}, handlers);
  EXPECT_EQ(to_std(eval("(_r, _seen)").get()),
            "({'a': ('handled', '!one'), 'b': ('handled', '!two'), 'c': 3}, "
            "[('!one', 'KestrineAnnotatedStr'), ('!two', 'KestrineAnnotatedList')])");

  // An exception from a handler comes back unchanged.
  run("def _bad(tag, value):\n    raise LookupError('no ' + tag)\n");
  auto roots = testing::compose_ok("a: !x 1\n");
  auto bindings = bind_anchors(roots);
  TagHandlers bad{nullptr, eval("_bad").get(), false};
  auto obj = tree_to_annotated(roots.front(), {}, VersionMode::Yaml12, bad, *bindings, false);
  ASSERT_FALSE(obj);
  EXPECT_TRUE(obj.error().is_instance_of(PyExc_LookupError));
  EXPECT_EQ(obj.error().message(), "no !x");
}

TEST(BridgeAnnotate, TimestampsOnlyUnderPyyamlCompat) {
  OwnedRef r = annotated("d: 2001-12-14\nq: '2001-12-14'\nt: 2001-12-14 21:59:43.10 -5\n");
  EXPECT_EQ(to_std(eval("[type(v).__name__ for v in _r.values()]").get()),
            "['KestrineAnnotatedStr', 'KestrineAnnotatedStr', 'KestrineAnnotatedStr']");
  r = annotated("d: &a 2001-12-14\nq: '2001-12-14'\nt: 2001-12-14 21:59:43.10 -5\ne: *a\n", VersionMode::PyyamlCompat);
  EXPECT_EQ(to_std(eval("[type(v).__name__ for v in _r.values()]").get()),
            "['date', 'KestrineAnnotatedStr', 'datetime', 'date']");
  EXPECT_EQ(to_std(eval("(str(_r['t'].utcoffset()), _r['d'] == _r['e'])").get()), "('-1 day, 19:00:00', True)");
  // A text shaped like a date that is no date stays a string.
  r = annotated("d: 2001-02-30\n", VersionMode::PyyamlCompat);
  EXPECT_EQ(to_std(eval("type(_r['d']).__name__").get()), "KestrineAnnotatedStr");
}

TEST(BridgeAnnotate, CollectionKeysArePlainTuples) {
  OwnedRef r = annotated("? [a, [b]]\n: 1\n? {k: v}\n: 2\n");
  EXPECT_EQ(to_std(eval("[(k, [type(i).__name__ for i in k]) for k in _r]").get()),
            "[(('a', ('b',)), ['str', 'tuple']), ((('k', 'v'),), ['tuple'])]");
}

TEST(BridgeAnnotate, AliasesShareTheAnchoredObject) {
  OwnedRef r = annotated("a: &x [1, 2]\nb: *x\nc: &s text\nd: *s\n");
  EXPECT_EQ(to_std(eval("(_r['a'] is _r['b'], _r['c'] is _r['d'], _m(_r['d']))").get()),
            "(True, True, \"KestrineAnnotatedStr 'text' 3:7-3:11 @25-29 plain\")");
}

}  // namespace
}  // namespace kestrine
