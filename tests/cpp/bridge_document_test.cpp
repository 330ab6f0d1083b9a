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
    auto exclusive = document_data(doc->get())->borrow.borrow_mut();
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

}  // namespace
}  // namespace kestrine
