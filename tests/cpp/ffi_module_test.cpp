// Module start-up on a module object of our own, and the class objects.
#include <string>

#include "ffi/functions.hpp"
#include "ffi/module.hpp"
#include "ffi/types/annotated_dict.hpp"
#include "ffi/types/class_objects.hpp"
#include "ffi/types/tag.hpp"
#include "ffi_support.hpp"
#include "util/options.hpp"

namespace kestrine {
namespace {

using testing::bind;
using testing::eval;
using testing::run;
using testing::to_std;

std::string pending_text() {
  if (!PyErr_Occurred()) return "<none>";
  PyErr err = PyErr::fetch();
  return std::string(Py_TYPE(err.value())->tp_name) + ": " + err.message();
}

TEST(FfiModule, ExecAddsEverythingInOrder) {
  OwnedRef module = OwnedRef::steal(PyModule_New("_kestrine_exec_test"));
  ASSERT_EQ(module_exec(module.get()), 0) << pending_text();
  bind("_m", module.get());
  OwnedRef all = eval("_m.__all__");
  ASSERT_TRUE(all && PyList_Check(all.get()));
  ASSERT_EQ(PyList_GET_SIZE(all.get()), 52);
  EXPECT_EQ(to_std(eval("_m.__all__[:8]").get()),
            "['loads', 'loads_all', 'dumps', 'to_json', 'schema_ref', 'yaml_version', 'dump_includes', "
            "'dump_includes_map']");
  for (std::size_t i = 0; i < 34; ++i) {
    EXPECT_EQ(to_std(PyList_GET_ITEM(all.get(), 8 + i)), kOptionTable[i].name);
  }
  for (std::size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(to_std(PyList_GET_ITEM(all.get(), 42 + i)), kModuleClasses[i].name);
  }
  EXPECT_EQ(to_std(eval("all(hasattr(_m, n) for n in _m.__all__)").get()), "True");
  EXPECT_EQ(to_std(eval("(_m.OPT_NAIVE_UTC, _m.OPT_UTC_Z, _m.OPT_TIMESTAMPS)").get()),
            "(2147483648, 4294967296, 8589934592)");
  EXPECT_EQ(to_std(eval("_m.loads.__self__ is _m and _m.loads.__module__ == '_kestrine_exec_test'").get()),
            "True");
  // The class objects are the process-wide ones.
  auto tag = kestrine_tag_type();
  ASSERT_TRUE(tag);
  OwnedRef attr = OwnedRef::steal(PyObject_GetAttrString(module.get(), "KestrineTag"));
  EXPECT_EQ(attr.get(), reinterpret_cast<PyObject*>(*tag));
}

TEST(FfiModule, ExecRejectsNonModules) {
  OwnedRef not_module = OwnedRef::steal(PyDict_New());
  EXPECT_EQ(module_exec(not_module.get()), -1);
  EXPECT_EQ(pending_text(), "TypeError: expected a module object to initialise");
}

TEST(FfiModule, AFailingAllStopsTheStepAndKeepsWhatWasAdded) {
  OwnedRef module = OwnedRef::steal(PyModule_New("_kestrine_bad_all"));
  bind("_bad", module.get());
  run("_bad.__all__ = ()\n");  // a tuple cannot be appended to
  EXPECT_EQ(module_exec(module.get()), -1);
  EXPECT_EQ(pending_text(), "AttributeError: 'tuple' object has no attribute 'append'");
  EXPECT_EQ(to_std(eval("hasattr(_bad, 'loads')").get()), "False");

  OwnedRef module2 = OwnedRef::steal(PyModule_New("_kestrine_list_all"));
  bind("_m2", module2.get());
  run("_m2.__all__ = ['existing']\n");
  ASSERT_EQ(module_exec(module2.get()), 0);
  EXPECT_EQ(to_std(eval("(len(_m2.__all__), _m2.__all__[:2])").get()), "(53, ['existing', 'loads'])");
}

TEST(FfiTypes, ClassObjectsAreCreatedOnceWithTheirNames) {
  const char* expected[][2] = {
      {"KestrineDocument", "builtins"},       {"kestrine.KestrineTreeNode", "kestrine"},
      {"KestrineDocumentView", "builtins"},   {"KestrineNode", "builtins"},
      {"kestrine.KestrineTag", "kestrine"},   {"kestrine.KestrineAnnotatedDict", "kestrine"},
      {"kestrine.KestrineAnnotatedList", "kestrine"}, {"kestrine.KestrineScalar", "kestrine"},
      {"kestrine.KestrineSequence", "kestrine"},      {"kestrine.KestrineMapping", "kestrine"},
  };
  for (std::size_t i = 0; i < 10; ++i) {
    auto first = kModuleClasses[i].type();
    auto second = kModuleClasses[i].type();
    ASSERT_TRUE(first && second) << kModuleClasses[i].name;
    EXPECT_EQ(*first, *second);
    EXPECT_STREQ((*first)->tp_name, expected[i][0]);
    OwnedRef module = OwnedRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(*first), "__module__"));
    ASSERT_TRUE(module);
    EXPECT_EQ(to_std(module.get()), expected[i][1]);
  }
  auto dict_type = kestrine_annotated_dict_type();
  EXPECT_TRUE(PyType_IsSubtype(*dict_type, &PyDict_Type));
  EXPECT_TRUE((*dict_type)->tp_flags & Py_TPFLAGS_BASETYPE);
  auto list_type = kestrine_annotated_list_type();
  EXPECT_TRUE(PyType_IsSubtype(*list_type, &PyList_Type));
  auto doc_type = kestrine_document_type();
  EXPECT_FALSE((*doc_type)->tp_flags & Py_TPFLAGS_BASETYPE);
}

TEST(FfiTypes, NativeInstancesAreBuiltAndFreed) {
  auto tag_type = kestrine_tag_type();
  ASSERT_TRUE(tag_type);
  PyObject* type_obj = reinterpret_cast<PyObject*>(*tag_type);
  const Py_ssize_t type_refs = Py_REFCNT(type_obj);
  {
    auto obj = new_instance<TagObject>(*tag_type);
    ASSERT_TRUE(obj);
    OwnedRef owned = OwnedRef::steal(reinterpret_cast<PyObject*>(*obj));
    EXPECT_TRUE((*obj)->data.borrow.is_free());
    EXPECT_EQ(Py_REFCNT(type_obj), type_refs + 1);
  }
  EXPECT_EQ(Py_REFCNT(type_obj), type_refs) << "dealloc releases the class reference";

  auto dict_type = kestrine_annotated_dict_type();
  ASSERT_TRUE(dict_type);
  auto d = new_instance<AnnotatedDictObject>(*dict_type);
  ASSERT_TRUE(d);
  OwnedRef dict = OwnedRef::steal(reinterpret_cast<PyObject*>(*d));
  OwnedRef value = OwnedRef::steal(PyLong_FromLong(1));
  ASSERT_EQ(PyDict_SetItemString(dict.get(), "a", value.get()), 0);
  bind("_ad", dict.get());
  EXPECT_EQ(to_std(eval("(_ad == {'a': 1}, isinstance(_ad, dict), __import__('json').dumps(_ad))").get()),
            "(True, True, '{\"a\": 1}')");
  run("_ad['self'] = _ad\n");  // a cycle through the dict base is collected
  dict.reset();
  run("del _ad\nimport gc\ngc.collect()\n");
}

TEST(FfiTypes, DocumentClassesHaveNoPythonConstructor) {
  run(
      "import sys\n"
      "def _try(cls, *a, **k):\n"
      "    try:\n"
      "        cls(*a, **k)\n"
      "    except Exception as e:\n"
      "        return type(e).__name__ + ': ' + str(e)\n"
      "    return 'created'\n");
  for (const auto& entry : kModuleClasses) bind(entry.name, reinterpret_cast<PyObject*>(*entry.type()));
  EXPECT_EQ(to_std(eval("_try(KestrineDocument)").get()), "TypeError: cannot create 'KestrineDocument' instances");
  EXPECT_EQ(to_std(eval("_try(KestrineTreeNode)").get()),
            "TypeError: cannot create 'kestrine.KestrineTreeNode' instances");
  // The annotated containers, by contrast, are constructible like their bases.
  EXPECT_EQ(to_std(eval("_try(KestrineAnnotatedList, [1])").get()), "created");
}

}  // namespace
}  // namespace kestrine
