// The value bridge and the plain tree conversion: aliases and their
// binding, merge keys, collection keys, tags, timestamps, the alias budget,
// deep trees, and Python values assigned into trees.
#include <string>
#include <vector>

#include "bridge_support.hpp"
#include "roundtrip/emit/emitter.hpp"

namespace kestrine {
namespace {

using testing::bind;
using testing::eval;
using testing::plain;
using testing::repr;
using testing::run;
using testing::to_std;

std::string plain_repr(std::string_view text, VersionMode mode = VersionMode::Yaml12) {
  OwnedRef r = plain(text, mode);
  return r ? repr(r.get()) : "<failed>";
}

TEST(BridgeTreeToPy, AliasesYieldTheAnchoredObject) {
  OwnedRef r = plain("a: &x [1, 2]\nb: *x\n");
  EXPECT_EQ(to_std(eval("(_r, _r['a'] is _r['b'])").get()), "({'a': [1, 2], 'b': [1, 2]}, True)");
  // An alias binds to the most recent definition before it.
  EXPECT_EQ(plain_repr("- &a 1\n- *a\n- &a 2\n- *a\n"), "[1, 1, 2, 2]");
  // Within a pair the value is converted first: an alias in the value to an
  // anchor on the key still finds the key's node.
  EXPECT_EQ(plain_repr("? &k key\n: *k\n"), "{'key': 'key'}");
}

TEST(BridgeTreeToPy, MergeKeys) {
  EXPECT_EQ(plain_repr("base: &b {x: 1, y: 2}\nm: {<<: *b, y: 3}\n"),
            "{'base': {'x': 1, 'y': 2}, 'm': {'x': 1, 'y': 3}}");
  EXPECT_EQ(plain_repr("base: &b {x: 1, y: 2}\nm: {y: 3, <<: *b}\n"),
            "{'base': {'x': 1, 'y': 2}, 'm': {'y': 3, 'x': 1}}");
  EXPECT_EQ(plain_repr("a: &a {k: 1}\nb: &b {k: 2, j: 3}\nm:\n  <<: [*a, *b]\n"),
            "{'a': {'k': 1}, 'b': {'k': 2, 'j': 3}, 'm': {'k': 1, 'j': 3}}");
  // Leftovers: a scalar keeps its "<<" entry; two become a list; null adds nothing.
  EXPECT_EQ(plain_repr("{<<: 5}"), "{'<<': 5}");
  EXPECT_EQ(plain_repr("<<: 5\n<<: 6\n"), "{'<<': [5, 6]}");
  EXPECT_EQ(plain_repr("<<: 5\n<<: [6, 7]\n"), "{'<<': [5, 6, 7]}");
  EXPECT_EQ(plain_repr("a: 1\n<<:\n"), "{'a': 1}");
  // A quoted "<<" is an ordinary key, and takes the slot over from a leftover.
  EXPECT_EQ(plain_repr("'<<': 1\nb: 2\n"), "{'<<': 1, 'b': 2}");
  EXPECT_EQ(plain_repr("<<: 5\n'<<': 1\n<<: 6\n"), "{'<<': 1}");
  // Under YAML 1.1 !!merge makes any key a merge key; YAML 1.2 has no such type.
  EXPECT_EQ(plain_repr("b: &b {x: 1}\nm: {!!merge whatever: *b}\n", VersionMode::Yaml11),
            "{'b': {'x': 1}, 'm': {'x': 1}}");
  EXPECT_EQ(plain_repr("b: &b {x: 1}\nm: {!!merge whatever: *b}\n"), "{'b': {'x': 1}, 'm': {'whatever': {'x': 1}}}");
}

TEST(BridgeTreeToPy, CollectionKeysAndUnhashableKeys) {
  EXPECT_EQ(plain_repr("? [1, 2]\n: a\n? {a: 1}\n: b\n? [[1], {b: 2}]\n: c\n"),
            "{(1, 2): 'a', (('a', 1),): 'b', ((1,), (('b', 2),)): 'c'}");
  // An alias to a collection used as a key is a tuple as well.
  EXPECT_EQ(plain_repr("- &s [1, 2]\n- {*s : x}\n"), "[[1, 2], {(1, 2): 'x'}]");
  // A tag handler that returns an unhashable key: the interpreter's TypeError.
  run("def _to_list(tag, value):\n    return [value]\n");
  auto roots = testing::compose_ok("!k a: 1\n");
  auto bindings = bind_anchors(roots);
  TagHandlers h{nullptr, eval("_to_list").get(), false};
  auto obj = tree_to_py(roots.front(), VersionMode::Yaml12, h, *bindings);
  ASSERT_FALSE(obj);
  EXPECT_TRUE(obj.error().is_instance_of(PyExc_TypeError));
}

TEST(BridgeTreeToPy, TagsAndTimestamps) {
  run("_calls = []\n"
      "def _point(v):\n    _calls.append(v)\n    return ('point', v)\n");
  OwnedRef tags = eval("{'!point': _point}");
  TagHandlers h{tags.get(), nullptr, false};
  OwnedRef r = plain("a: !point 1,2\nb: !!str 3\nc: !<!point> [x]\nd: !!map {k: v}\n", VersionMode::Yaml12, h);
  EXPECT_EQ(to_std(eval("(_r, _calls)").get()),
            "({'a': ('point', '1,2'), 'b': '3', 'c': ('point', ['x']), 'd': {'k': 'v'}}, ['1,2', ['x']])");
  EXPECT_EQ(plain_repr("a: 2001-12-14\nb: !!str 2001-12-14\n", VersionMode::PyyamlCompat),
            "{'a': datetime.date(2001, 12, 14), 'b': '2001-12-14'}");
  EXPECT_EQ(plain_repr("a: 2001-12-14\n", VersionMode::Yaml11), "{'a': '2001-12-14'}");
  // Tagged empty values resolve the empty text under the tag.
  EXPECT_EQ(plain_repr("a: !!str\nb:\nc: !!null\n"), "{'a': '', 'b': None, 'c': None}");
}

TEST(BridgeAnchors, BindingRules) {
  // Hand-built trees reach what the composer refuses: an alias inside the
  // node it names, and an alias to a name never defined.
  YamlNode self = YamlNode::sequence({YamlNode::scalar("1"), YamlNode::alias("a")});
  self.set_anchor("a");
  YamlNode doc = YamlNode::sequence({self, YamlNode::alias("a"), YamlNode::alias("nope")});
  auto bindings = bind_anchors(doc);
  ASSERT_TRUE(bindings);
  EXPECT_EQ(bindings->size(), 1u);  // only the alias after the anchored node
  auto obj = tree_to_py(doc, VersionMode::Yaml12, {}, *bindings);
  ASSERT_TRUE(obj);
  bind("_r", obj->get());
  EXPECT_EQ(to_std(eval("(_r, _r[0] is _r[1])").get()), "([[1, None], [1, None], None], True)");

  // Anchors do not carry over from one document to the next.
  auto roots = testing::compose_ok("--- &a 1\n--- [2]\n");
  roots[1].items_mut().push_back(YamlNode::alias("a"));
  bindings = bind_anchors(roots);
  ASSERT_TRUE(bindings);
  EXPECT_EQ(follow_aliases(roots[1].items()[1], *bindings), nullptr);
  EXPECT_FALSE(is_collection_node(roots[1].items()[1], *bindings));
}

TEST(BridgeAnchors, AliasBombFailsInBoundedMemory) {
  std::string text = "a: &a [x, x, x, x, x, x, x, x, x, x]\n";
  char prev = 'a';
  for (char c = 'b'; c <= 'i'; ++c, ++prev) {
    text += std::string(1, c) + ": &" + c + " [";
    for (int i = 0; i < 10; ++i) text += std::string(i ? ", " : "") + "*" + prev;
    text += "]\n";
  }
  auto roots = testing::compose_ok(text);
  auto bindings = bind_anchors(roots);
  ASSERT_FALSE(bindings);
  EXPECT_EQ(bindings.error().message, kAliasBombMessage);
  EXPECT_EQ(bindings.error().span.line, 6u);  // an alias of "g" goes past the budget
  // The same document below the budget binds, and converts with sharing.
  auto small = testing::compose_ok("a: &a [x, x]\nb: &b [*a, *a]\nc: [*b, *b]\n");
  ASSERT_TRUE(bind_anchors(small));
  ASSERT_FALSE(bind_anchors(small, 4)) << "a budget of 4 nodes is exceeded by the third alias";
}

TEST(BridgeTreeToPy, DeepTreesUseTheStackGuard) {
  constexpr int kDepth = 100000;
  YamlNode root = YamlNode::scalar("leaf");
  for (int i = 0; i < kDepth; ++i) {
    std::vector<YamlNode> items;
    items.push_back(std::move(root));
    root = YamlNode::sequence(std::move(items));
  }
  auto bindings = bind_anchors(root);
  ASSERT_TRUE(bindings);
  auto obj = tree_to_py(root, VersionMode::Yaml12, {}, *bindings);
  ASSERT_TRUE(obj);
  AnchorObjectCache cache;
  auto read = node_to_py(root, {}, *bindings, cache);
  ASSERT_TRUE(read);
  auto key = node_to_py_key(root, {}, *bindings);
  ASSERT_TRUE(key);
  testing::setup_annotated_package();
  auto ann = tree_to_annotated(root, {}, VersionMode::Yaml12, {}, *bindings, false);
  ASSERT_TRUE(ann);
  EXPECT_TRUE(PyList_Check(obj->get()));
  EXPECT_TRUE(PyList_Check(read->get()));
  EXPECT_TRUE(PyTuple_Check(key->get()));
  EXPECT_EQ(std::string(Py_TYPE(ann->get())->tp_name), "kestrine.KestrineAnnotatedList");
}

TEST(BridgeNodeToPy, ScalarsCollectionsAndKeys) {
  auto roots = testing::compose_ok(
      "i: 12\nb: 0x1F\nf: .inf\nn: ~\ns: 'yes'\nbig: 123456789012345678901234567890\n"
      "t: 2001-12-14\nm: {<<: {x: 1}, y: 2}\nk: {? {a: [1, 2]} : v}\n");
  auto bindings = bind_anchors(roots);
  AnchorObjectCache cache;
  auto obj = node_to_py(roots.front(), {VersionMode::Yaml12, true}, *bindings, cache);
  ASSERT_TRUE(obj);
  EXPECT_EQ(repr(obj->get()),
            "{'i': 12, 'b': 31, 'f': inf, 'n': None, 's': 'yes', 'big': 123456789012345678901234567890, "
            "'t': datetime.date(2001, 12, 14), 'm': {'x': 1, 'y': 2}, 'k': {(('a', (1, 2)),): 'v'}}");
  // YAML 1.1 reads yes as a boolean; a quoted one stays a string.
  auto y11 = testing::compose_ok("a: yes\nb: 'yes'\n");
  auto b11 = bind_anchors(y11);
  obj = node_to_py(y11.front(), {VersionMode::Yaml11, false}, *b11, cache);
  ASSERT_TRUE(obj);
  EXPECT_EQ(repr(obj->get()), "{'a': True, 'b': 'yes'}");
}

TEST(BridgePyToNode, ScalarsAndStyles) {
  struct Case {
    const char* expr;
    const char* text;
    ScalarStyle style;
    bool prefer_double;
  };
  const Case cases[] = {
      {"True", "true", ScalarStyle::Plain, true},
      {"1", "1", ScalarStyle::Plain, true},
      {"2**70", "1180591620717411303424", ScalarStyle::Plain, true},
      {"1.5", "1.5", ScalarStyle::Plain, true},
      {"float('inf')", ".inf", ScalarStyle::Plain, true},
      {"'hello'", "hello", ScalarStyle::Plain, true},
      {"'yes'", "yes", ScalarStyle::SingleQuoted, false},
      {"'yes'", "yes", ScalarStyle::DoubleQuoted, true},
      {"\"it's: x\"", "it's: x", ScalarStyle::DoubleQuoted, false},
      {"'a\\nb: c'", "a\nb: c", ScalarStyle::DoubleQuoted, false},
      {"''", "", ScalarStyle::SingleQuoted, false},
      {"__import__('decimal').Decimal('2.5')", "2.5", ScalarStyle::Plain, true},
  };
  for (const Case& c : cases) {
    OwnedRef obj = eval(c.expr);
    auto node = py_to_node(obj.get(), c.prefer_double, VersionMode::Yaml12);
    ASSERT_TRUE(node) << c.expr << ": " << node.error().message();
    EXPECT_TRUE(node->is_scalar()) << c.expr;
    EXPECT_EQ(node->text(), c.text) << c.expr;
    EXPECT_EQ(node->scalar_style(), c.style) << c.expr;
    EXPECT_FALSE(node->synthetic) << c.expr;
  }
  auto none = py_to_node(Py_None, true, VersionMode::Yaml12);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->is_null());
  EXPECT_TRUE(none->synthetic);
}

TEST(BridgePyToNode, CollectionsRoundTripAndFailures) {
  OwnedRef value = eval("{'a': [1, 2.5, None, 'x'], 'b': {'yes': True}, 3: 'three'}");
  auto node = py_to_node(value.get(), false, VersionMode::Yaml12);
  ASSERT_TRUE(node);
  EXPECT_EQ(emit_to_string(*node, NullStyle::Keyword), "a:\n- 1\n- 2.5\n- null\n- x\nb:\n  'yes': true\n3: three\n");
  auto bindings = bind_anchors(*node);
  AnchorObjectCache cache;
  auto back = node_to_py(*node, {}, *bindings, cache);
  ASSERT_TRUE(back);
  EXPECT_EQ(PyObject_RichCompareBool(back->get(), value.get(), Py_EQ), 1) << repr(back->get());

  // A dict subclass is read in its own order, not its storage order.
  run("import collections\n_od = collections.OrderedDict(b=1, a=2)\n_od.move_to_end('b')\n");
  auto ordered = py_to_node(eval("_od").get(), true, VersionMode::Yaml12);
  ASSERT_TRUE(ordered);
  EXPECT_EQ(emit_to_string(*ordered, NullStyle::Keyword), "a: 2\nb: 1\n");

  OwnedRef tuple = eval("(1, 2)");
  auto bad = py_to_node(tuple.get(), true, VersionMode::Yaml12);
  ASSERT_FALSE(bad);
  EXPECT_TRUE(bad.error().is_instance_of(PyExc_TypeError));
  EXPECT_EQ(bad.error().message(), "cannot convert (1, 2) to a YAML node");

  run("_self = [1]\n_self.append(_self)\n");
  auto loop = py_to_node(eval("_self").get(), true, VersionMode::Yaml12);
  ASSERT_FALSE(loop);
  EXPECT_TRUE(loop.error().is_instance_of(PyExc_ValueError));
  EXPECT_EQ(loop.error().message(), "value is too deeply nested to assign (possible self-reference)");
  run("_self.clear()\n");

  // 1000 levels are accepted, 1001 are not.
  run("def _nest(n):\n    v = 0\n    for _ in range(n - 1): v = [v]\n    return v\n");
  EXPECT_TRUE(py_to_node(eval("_nest(1000)").get(), true, VersionMode::Yaml12));
  EXPECT_FALSE(py_to_node(eval("_nest(1001)").get(), true, VersionMode::Yaml12));

  // A str with a lone surrogate cannot be stored.
  auto surrogate = py_to_node(eval("'\\ud800'").get(), true, VersionMode::Yaml12);
  ASSERT_FALSE(surrogate);
  EXPECT_TRUE(surrogate.error().is_instance_of(PyExc_TypeError));
}

TEST(BridgeMerge, WhatMergesAndTheSlot) {
  // The nodes decide what merges: a custom-tagged mapping is left over
  // although it converts to a dict; a nested list's leftovers stay a list.
  EXPECT_EQ(plain_repr("a: 1\n<<: [{a: 2, b: 2}, 5, null, [{c: 3}, x], !t {d: 4}]\n"),
            "{'a': 1, 'b': 2, 'c': 3, '<<': [5, ['x'], {'d': 4}]}");
  EXPECT_EQ(plain_repr("<<: 5\n<<: [6, 7]\n<<: 8\n"), "{'<<': [5, 6, 7, 8]}");
  // A key that is already taken drops the leftover.
  EXPECT_EQ(plain_repr("'<<': 0\n<<: 9\n"), "{'<<': 0}");
  // A merged mapping's own leftovers merge on as an ordinary "<<" pair.
  EXPECT_EQ(plain_repr("b: &b {<<: 5, x: 1}\nm: {<<: *b}\n"), "{'b': {'<<': 5, 'x': 1}, 'm': {'<<': 5, 'x': 1}}");
}

}  // namespace
}  // namespace kestrine
