// Argument extraction: results, and messages that match the interpreter's
// own for functions of the same shape.
#include <string>
#include <vector>

#include "ffi/args.hpp"
#include "ffi/functions.hpp"
#include "ffi_support.hpp"

namespace kestrine {
namespace {

using testing::eval;
using testing::run;
using testing::to_std;

// Calls `spec` through both call forms with the arguments of a Python call
// expression such as "(1, level=2)"; returns "ok" or the TypeError text and
// checks that both forms agree.
struct Outcome {
  std::string text;
  std::vector<PyObject*> slots;
};

Outcome parse_both(const ArgSpec& spec, const std::string& call_args) {
  run("def _capture(*a, **k):\n    return a, k\n");
  OwnedRef captured = eval("_capture" + call_args);
  EXPECT_TRUE(captured);
  PyObject* args = PyTuple_GET_ITEM(captured.get(), 0);
  PyObject* kwargs = PyTuple_GET_ITEM(captured.get(), 1);

  std::vector<PyObject*> slots1(spec.count), slots2(spec.count);
  auto r1 = parse_tuple_dict(spec, args, PyDict_GET_SIZE(kwargs) ? kwargs : nullptr, slots1.data());

  // The fast-call form: positional values, then keyword values, and the
  // keyword names as a tuple.
  std::vector<PyObject*> stack;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i) stack.push_back(PyTuple_GET_ITEM(args, i));
  OwnedRef names = OwnedRef::steal(PyTuple_New(PyDict_GET_SIZE(kwargs)));
  Py_ssize_t pos = 0, k = 0;
  PyObject *key, *value;
  while (PyDict_Next(kwargs, &pos, &key, &value)) {
    Py_INCREF(key);
    PyTuple_SET_ITEM(names.get(), k++, key);
    stack.push_back(value);
  }
  auto r2 = parse_fastcall(spec, stack.data(), PyTuple_GET_SIZE(args), k ? names.get() : nullptr, slots2.data());

  std::string t1 = r1 ? "ok" : r1.error().message();
  std::string t2 = r2 ? "ok" : r2.error().message();
  EXPECT_EQ(t1, t2) << "call forms disagree for " << call_args;
  if (!r1) EXPECT_TRUE(r1.error().is_instance_of(PyExc_TypeError));
  if (r1 && r2) EXPECT_EQ(slots1, slots2);
  return {t1, slots1};
}

// The message CPython gives for `fn_expr + call_args`, or "ok".
std::string cpython_message(const std::string& fn_expr, const std::string& call_args) {
  OwnedRef r = OwnedRef::steal(PyRun_String((fn_expr + call_args).c_str(), Py_eval_input,
                                            testing::test_namespace(), testing::test_namespace()));
  if (r) return "ok";
  PyErr err = PyErr::fetch();
  EXPECT_TRUE(err.is_instance_of(PyExc_TypeError)) << err.message();
  return err.message();
}

// pickle.dumps(obj, protocol=None, *, fix_imports=True, buffer_callback=None)
constexpr const char* kPickleNames[] = {"obj", "protocol", "fix_imports", "buffer_callback"};
constexpr ArgSpec kPickleShape{"dumps", kPickleNames, 4, 0, 2, 1};

// zlib.compress(data, /, level=-1, wbits=15)
constexpr const char* kZlibNames[] = {"data", "level", "wbits"};
constexpr ArgSpec kZlibShape{"compress", kZlibNames, 3, 1, 3, 1};

// open(file, mode='r', buffering=-1, encoding=None, errors=None, newline=None,
// closefd=True, opener=None): enough names for the interpreter's suggestion
// of a close one to choose among.  Only failing calls are made.
constexpr const char* kOpenNames[] = {"file", "mode", "buffering", "encoding", "errors", "newline", "closefd", "opener"};
constexpr ArgSpec kOpenShape{"open", kOpenNames, 8, 0, 8, 1};

// pickle.loads(data, /, *, fix_imports=True, encoding='ASCII', errors='strict',
// buffers=()): the shape of loads, loads_all, dumps and to_json.
constexpr const char* kPickleLoadsNames[] = {"data", "fix_imports", "encoding", "errors", "buffers"};
constexpr ArgSpec kPickleLoadsShape{"loads", kPickleLoadsNames, 5, 1, 1, 1};

TEST(FfiArgs, MessagesMatchTheInterpreterForPositionalOrKeywordParameters) {
  run("import pickle");
  const char* calls[] = {"()", "(1, 2, 3)", "(1, obj=2)", "(1, bogus=2)", "(protocol=2)", "(1, 2, 3, 4, 5)",
                         "(obj=1, protocol=2, fix_imports=3, buffer_callback=4, extra=5)", "(1, fix_imports=True)",
                         "(obj=None)", "(1, **{'protocol': 2, 'nope': 3})", "(1, protocl=2)", "(1, fix_import=2)",
                         "(1, 2, protocol=3, obj=4)", "(1, **{type('S', (str,), {})('protocol'): 2})"};
  for (const char* call : calls) {
    EXPECT_EQ(parse_both(kPickleShape, call).text, cpython_message("pickle.dumps", call)) << call;
  }
}

TEST(FfiArgs, MessagesMatchTheInterpreterForPositionalOnlyParameters) {
  run("import zlib");
  const char* calls[] = {"()", "(b'', 1, 2, 3)", "(data=b'')", "(b'', foo=1)", "(b'', data=b'')",
                         "(b'', 1, level=2)", "(b'', wbits=9)", "(b'', levl=1)", "(b'', wbit=1)", "(b'', Level=1)",
                         "(b'', LEVEL=1)", "(b'', **{'l\\u00e9vel': 1})"};
  for (const char* call : calls) {
    EXPECT_EQ(parse_both(kZlibShape, call).text, cpython_message("zlib.compress", call)) << call;
  }
  run("import pickle");
  const char* loads_calls[] = {"()", "(b'', 1)", "(data=b'')", "(b'', bogus=1)", "(b'', encodings=1)",
                               "(b'', fix_imports=1, **{'x': 2})"};
  for (const char* call : loads_calls) {
    EXPECT_EQ(parse_both(kPickleLoadsShape, call).text, cpython_message("pickle.loads", call)) << call;
  }
}

TEST(FfiArgs, SuggestedNamesMatchTheInterpreter) {
  // Near misses of every kind: a letter missing, extra or changed, letter
  // case, names too far apart to suggest, ties, long and non-ASCII names.
  run("import io");
  const char* calls[] = {"('f', encodng=1)", "('f', Mode=1)", "('f', MODE=1)", "('f', closefds=1)",
                         "('f', newlines=1)", "('f', bufering=1)", "('f', erors=1)", "('f', opner=1)",
                         "('f', x=1)", "('f', fil=1)", "('f', moder=1)", "('f', errorsencoding=1)",
                         "('f', **{'a' * 45: 1})", "('f', **{'encod\\u00efng': 1})", "('f', clsefd=1)",
                         "('f', ERRORS=1)", "('f', newlinee=1)", "('f', openr=1)"};
  for (const char* call : calls) {
    EXPECT_EQ(parse_both(kOpenShape, call).text, cpython_message("io.open", call)) << call;
  }
}

TEST(FfiArgs, ModuleFunctionShapes) {
  // loads has pickle.loads's shape and name.
  run("import pickle");
  for (const char* call : {"()", "('a', 1)", "(data='a')", "('a', bogus=1)"}) {
    EXPECT_EQ(parse_both(kLoadsArgs, call).text, cpython_message("pickle.loads", call)) << call;
  }
  EXPECT_EQ(parse_both(kSchemaRefArgs, "('a', 'b')").text, "schema_ref() takes at most 1 argument (2 given)");
  EXPECT_EQ(parse_both(kDumpIncludesMapArgs, "(doc=1)").text,
            "dump_includes_map() takes exactly 1 positional argument (0 given)");

  Outcome ok = parse_both(kLoadsArgs, "('text', tags={}, option=3)");
  ASSERT_EQ(ok.text, "ok");
  EXPECT_EQ(to_std(ok.slots[0]), "text");
  EXPECT_EQ(to_std(ok.slots[1]), "3");
  EXPECT_EQ(to_std(ok.slots[6]), "{}");
  for (int i : {2, 3, 4, 5, 7, 8, 9}) EXPECT_EQ(ok.slots[i], nullptr) << i;
}

TEST(FfiArgs, NonStringKeywordsAndNoneAsAbsent) {
  PyObject* slots[4];
  OwnedRef args = OwnedRef::steal(PyTuple_Pack(1, Py_None));
  OwnedRef kwargs = eval("{1: 2}");
  auto r = parse_tuple_dict(kPickleShape, args.get(), kwargs.get(), slots);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "keywords must be strings");
  EXPECT_EQ(none_as_absent(Py_None), nullptr);
  EXPECT_EQ(none_as_absent(Py_True), Py_True);
  OwnedRef not_tuple = eval("[1]");
  EXPECT_FALSE(parse_tuple_dict(kPickleShape, not_tuple.get(), nullptr, slots));
}

}  // namespace
}  // namespace kestrine
