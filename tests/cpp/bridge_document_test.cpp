// The document object: construction from a loaded record, `to_yaml`, the
// borrow flag, and Python keys as path steps with their error rules.
#include <string>
#include <vector>

#include "bridge_support.hpp"
#include "ffi/types/document.hpp"

namespace kestrine {
namespace {

using testing::bind;
using testing::document_of;
using testing::eval;
using testing::repr;
using testing::run;
using testing::to_std;

TEST(BridgeDocument, ToYamlReturnsTheTextUntilEdited) {
  const std::string text = "\xEF\xBB\xBF# head\na:   1   # one\nb: [x,   y]\n";
  auto doc = new_document(document_of(text));
  ASSERT_TRUE(doc);
  bind("_doc", doc->get());
  EXPECT_EQ(to_std(eval("type(_doc).__name__").get()), "KestrineDocument");
  OwnedRef bytes = eval("_doc.to_yaml()");
  ASSERT_TRUE(PyBytes_Check(bytes.get()));
  EXPECT_EQ(std::string(PyBytes_AS_STRING(bytes.get()), PyBytes_GET_SIZE(bytes.get())), text);

  // An edit makes the trees be written back.
  DocumentData* data = document_data(doc->get());
  ASSERT_NE(data, nullptr);
  std::vector<PathSegment> path = {PathSegment::of_key("a")};
  YamlNode* a = resolve_path_mut(data->record, 0, path);
  ASSERT_NE(a, nullptr);
  a->set_scalar("2", ScalarStyle::Plain);
  a->comments.modified = true;
  OwnedRef edited = eval("_doc.to_yaml()");
  const std::string out(PyBytes_AS_STRING(edited.get()), PyBytes_GET_SIZE(edited.get()));
  EXPECT_NE(out.find("a:   2   # one"), std::string::npos) << out;
  EXPECT_NE(out.find("# head"), std::string::npos) << out;

  // An empty stream is a document without roots.
  auto empty = new_document(document_of(""));
  ASSERT_TRUE(empty);
  EXPECT_EQ(document_data(empty->get())->record.roots.size(), 0u);
  EXPECT_EQ(document_data(eval("1").get()), nullptr);
}

TEST(BridgeDocument, ToYamlRespectsTheBorrowFlag) {
  auto doc = new_document(document_of("a: 1\n"));
  ASSERT_TRUE(doc);
  bind("_doc", doc->get());
  run("def _try():\n"
      "    try:\n        return _doc.to_yaml()\n"
      "    except RuntimeError as e:\n        return 'RuntimeError: ' + str(e)\n");
  {
    auto exclusive = document_data(doc->get())->begin_tracked_edit();
    ASSERT_TRUE(exclusive);
    EXPECT_EQ(to_std(eval("_try()").get()), "RuntimeError: Already mutably borrowed");
  }
  {
    auto shared = document_data(doc->get())->borrow.borrow();
    ASSERT_TRUE(shared);
    EXPECT_EQ(to_std(eval("_try()").get()), "b'a: 1\\n'");
  }
  EXPECT_TRUE(document_data(doc->get())->borrow.is_free());
}

TEST(BridgeDocument, PythonKeysAsSteps) {
  run("class _Idx:\n    def __index__(self):\n        return 3\n");
  struct Case {
    const char* expr;
    const char* step;  // "I<n>", "K<text>", or the TypeError message
  };
  const Case cases[] = {
      {"0", "I0"},
      {"True", "I1"},
      {"_Idx()", "I3"},
      {"2**64 - 1", "I18446744073709551615"},
      {"'name'", "Kname"},
      {"type('S', (str,), {})('sub')", "Ksub"},
      {"-1", "mapping keys must be str or int"},
      {"2**64", "mapping keys must be str or int"},
      {"1.0", "mapping keys must be str or int"},
      {"None", "mapping keys must be str or int"},
  };
  for (const Case& c : cases) {
    OwnedRef key = eval(c.expr);
    auto step = py_to_path_segment(key.get());
    std::string got;
    if (!step) {
      EXPECT_TRUE(step.error().is_instance_of(PyExc_TypeError)) << c.expr;
      got = step.error().message();
    } else if (step->kind == PathSegment::Kind::Index) {
      got = "I" + std::to_string(step->index);
    } else {
      got = "K" + step->key;
    }
    EXPECT_EQ(got, c.step) << c.expr;
    EXPECT_FALSE(PyErr_Occurred()) << c.expr;
  }

  DocumentRecord rec = document_of("m: {a: 1}\ns: [1]\n");
  const YamlNode& root = rec.roots.front();
  PyErr in_seq = missing_step_error(root.pairs()[1].value, eval("'a'").get());
  EXPECT_TRUE(in_seq.is_instance_of(PyExc_IndexError));
  EXPECT_EQ(in_seq.message(), "index out of range");
  PyErr in_map = missing_step_error(root, eval("5").get());
  EXPECT_TRUE(in_map.is_instance_of(PyExc_KeyError));
  bind("_err", in_map.value());
  EXPECT_EQ(to_std(eval("_err.args").get()), "('5',)");
}

TEST(BridgeDocument, ReadsDuringAnEditFailAtOnceAndStaleHandlesSayWhy) {
  auto doc = new_document(document_of("a: {b: 1}\nl: [1]\n"));
  ASSERT_TRUE(doc);
  DocumentData* data = document_data(doc->get());
  bind("_doc", doc->get());
  run("_v = _doc['a']\n_n = _doc.node['a']\n"
      "def _outcomes(reads):\n"
      "    out = []\n"
      "    for r in reads:\n"
      "        try:\n            out.append(repr(r()))\n"
      "        except Exception as e:\n            out.append(type(e).__name__ + ': ' + str(e))\n"
      "    return out\n"
      "_reads = [lambda: _doc['a'], lambda: _doc.get('a', 0), _doc.keys, lambda: len(_doc), lambda: 'a' in _doc,\n"
      "          _doc.to_dict, _doc.walk, _doc.range, lambda: _doc.locate(['a']), lambda: _doc.anchors,\n"
      "          lambda: _doc.origin, lambda: _doc.explicit_start, _doc.to_tree, _doc.to_yaml, lambda: repr(_doc),\n"
      "          lambda: _v['b'], lambda: _v.get('b', 0), lambda: len(_v), lambda: 'b' in _v, _v.to_dict,\n"
      "          lambda: repr(_v), lambda: _n.value, lambda: _n['b'], lambda: _n.comment, lambda: repr(_n)]\n");
  {
    auto edit = data->begin_tracked_edit();
    ASSERT_TRUE(edit);
    // get() does not mistake the conflict for a missing key.
    EXPECT_EQ(to_std(eval("set(_outcomes(_reads))").get()), "{'RuntimeError: Already mutably borrowed'}");
    // Making a handle reads nothing.
    EXPECT_EQ(to_std(eval("(repr(type(_doc.node)), repr(type(_v.node)))").get()),
              "(\"<class 'KestrineNode'>\", \"<class 'KestrineNode'>\")");
  }
  EXPECT_TRUE(data->borrow.is_free());

  // A handle whose path no longer resolves is stale; it is live again once
  // the path leads somewhere.
  auto rename = [&](const char* key) {
    auto edit = data->begin_tracked_edit();
    ASSERT_TRUE(edit);
    data->record.roots[0].pairs_mut()[0].key.set_scalar(key, ScalarStyle::Plain);
    data->lookups.clear();  // a key's text changed: the editor's part
  };
  rename("gone");
  EXPECT_EQ(to_std(eval("_outcomes([lambda: _v['b'], lambda: _v.get('b', 7), lambda: repr(_v), _v.node.range,\n"
                        "           lambda: _n.value, lambda: _n['b'], lambda: repr(_n), lambda: 'b' in _n])")
                       .get()),
            "[\"KeyError: 'stale view'\", '7', \"'KestrineDocumentView(<stale>)'\", \"KeyError: 'stale node'\", "
            "\"KeyError: 'stale node'\", \"KeyError: 'stale node'\", \"'KestrineNode(<stale>)'\", "
            "\"KeyError: 'stale node'\"]");
  rename("a");
  EXPECT_EQ(to_std(eval("(_v['b'], _n.value, _n['b'].line)").get()), "(1, {'b': 1}, 1)");
}

TEST(BridgeDocument, ReadsKeepIndexesAndBindings) {
  std::string text = "base: &b {k: v}\nwide:\n";
  for (int i = 0; i < 40; ++i) text += "  k" + std::to_string(i) + ": *b\n";
  auto doc = new_document(document_of(text));
  ASSERT_TRUE(doc);
  DocumentData* data = document_data(doc->get());
  bind("_doc", doc->get());
  EXPECT_EQ(to_std(eval("(_doc['wide']['k39']['k'], _doc['wide']['k7'].to_dict())").get()), "('v', {'k': 'v'})");
  EXPECT_EQ(data->lookups.size(), 1u);   // the 40-pair mapping
  EXPECT_EQ(data->bindings.size(), 1u);  // its root, bound once for both reads
  {
    auto edit = data->begin_tracked_edit();
    ASSERT_TRUE(edit);
    EXPECT_EQ(data->bindings.size(), 0u);
    EXPECT_EQ(data->lookups.size(), 1u);  // the editor forgets what it changes
  }
  EXPECT_EQ(to_std(eval("_doc['wide']['k0']['k']").get()), "v");
  EXPECT_EQ(data->bindings.size(), 1u);
}

}  // namespace
}  // namespace kestrine
