// The error and warning bridge, the include loader's error record and the
// imported-class cells.
#include <string>

#include "ffi/errors.hpp"
#include "ffi_support.hpp"
#include "roundtrip/tree/tree_ops.hpp"

namespace kestrine {
namespace {

using testing::bind;
using testing::eval;
using testing::repr;
using testing::run;
using testing::to_std;

class FfiErrors : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::install_bare_package(); }

  // The named attribute of the exception, as repr().
  static std::string attr(const PyErr& err, const char* name) {
    OwnedRef v = OwnedRef::steal(PyObject_GetAttrString(err.value(), name));
    if (!v) {
      PyErr_Clear();
      return "<missing>";
    }
    return repr(v.get());
  }
  // True when the instance itself holds the attribute (not the class default).
  static bool set_on_instance(const PyErr& err, const char* name) {
    OwnedRef dict = OwnedRef::steal(PyObject_GetAttrString(err.value(), "__dict__"));
    if (!dict) {
      PyErr_Clear();
      return false;
    }
    return PyDict_GetItemString(dict.get(), name) != nullptr;
  }
  // "module.Name" of the exception's class.
  static std::string class_name(const PyErr& err) {
    PyObject* cls = reinterpret_cast<PyObject*>(Py_TYPE(err.value()));
    OwnedRef module = OwnedRef::steal(PyObject_GetAttrString(cls, "__module__"));
    OwnedRef name = OwnedRef::steal(PyObject_GetAttrString(cls, "__qualname__"));
    return to_std(module.get()) + "." + to_std(name.get());
  }
  static std::string args(const PyErr& err) {
    OwnedRef a = OwnedRef::steal(PyObject_GetAttrString(err.value(), "args"));
    return repr(a.get());
  }
};

TEST_F(FfiErrors, DecoderErrorsByKindWithOneBasedPosition) {
  DecoderError parse{"found unexpected end of stream", Span{0, 0, 0, 0}, DecoderErrorKind::Parse};
  PyErr e = decoder_error_to_py(parse);
  EXPECT_EQ(class_name(e), "kestrine.exceptions.KestrineParseError");
  EXPECT_EQ(args(e), "('found unexpected end of stream at line 1, column 1',)");
  EXPECT_EQ(attr(e, "file"), "None");
  EXPECT_EQ(attr(e, "line"), "1");
  EXPECT_EQ(attr(e, "column"), "1");
  EXPECT_FALSE(set_on_instance(e, "include_stack"));

  DecoderError dup{"duplicate key \"a\"", Span{0, 4, 2, 30}, DecoderErrorKind::DuplicateKey};
  PyErr d = decoder_error_to_py(dup, std::string_view("conf/sub.yaml"));
  EXPECT_EQ(class_name(d), "kestrine.exceptions.KestrineDuplicateKeyError");
  EXPECT_EQ(to_std(d.value()), "duplicate key \"a\" at line 5, column 3");
  EXPECT_EQ(attr(d, "file"), "'conf/sub.yaml'");
  EXPECT_EQ(attr(d, "line"), "5");
  EXPECT_EQ(attr(d, "column"), "3");

  DecoderError complex{"complex key", Span{}, DecoderErrorKind::ComplexKey};
  EXPECT_EQ(class_name(decoder_error_to_py(complex)), "kestrine.exceptions.KestrineComplexKeyError");
  DecoderError odd{"odd", Span{}, static_cast<DecoderErrorKind>(9)};
  EXPECT_EQ(class_name(decoder_error_to_py(odd)), "kestrine.exceptions.KestrineComplexKeyError");
}

TEST_F(FfiErrors, ComposerAndRoundTripDuplicateErrors) {
  ComposeError c{"mapping values are not allowed here", Span{3, 9, 14, 200}};
  PyErr e = compose_error_to_py(c);
  EXPECT_EQ(class_name(e), "kestrine.exceptions.KestrineParseError");
  EXPECT_EQ(to_std(e.value()), "mapping values are not allowed here at line 10, column 15");
  EXPECT_EQ(attr(e, "file"), "None");
  EXPECT_TRUE(set_on_instance(e, "file"));
  EXPECT_EQ(attr(e, "line"), "10");
  PyErr d = duplicate_key_error_to_py(ComposeError{"duplicate key", Span{}});
  EXPECT_EQ(class_name(d), "kestrine.exceptions.KestrineDuplicateKeyError");
  EXPECT_EQ(attr(d, "column"), "1");
}

LoadError nested_error(IncludeErrorKind kind) {
  LoadError err;
  err.kind = kind;
  err.message = "include file not found: missing.yaml";
  err.file = "conf/b.yaml";
  err.include_chain = {{"conf/a.yaml", 2}, {"conf/b.yaml", 0}};
  return err;
}

TEST_F(FfiErrors, IncludeErrorsUseTheTextFormAndTheKindTable) {
  PyErr e = load_error_to_py(nested_error(IncludeErrorKind::IncludeNotFound));
  EXPECT_EQ(class_name(e), "kestrine.exceptions.KestrineIncludeNotFoundError");
  EXPECT_EQ(to_std(e.value()),
            "include file not found: missing.yaml in conf/b.yaml\n"
            "  included from conf/a.yaml, line 3\n"
            "  included from conf/b.yaml, line 1");
  EXPECT_EQ(attr(e, "file"), "'conf/b.yaml'");
  EXPECT_EQ(attr(e, "include_stack"), "[('conf/a.yaml', 3), ('conf/b.yaml', 1)]");
  EXPECT_FALSE(set_on_instance(e, "line")) << "no location, no line";
  EXPECT_FALSE(set_on_instance(e, "column"));
  EXPECT_EQ(args(e).substr(0, 2), "('") << "the message is the only argument";

  struct {
    IncludeErrorKind kind;
    const char* cls;
    bool stack;
  } table[] = {
      {IncludeErrorKind::CircularInclude, "KestrineCircularIncludeError", true},
      {IncludeErrorKind::IncludeDepth, "KestrineIncludeDepthError", true},
      {IncludeErrorKind::IncludeConfinement, "KestrineIncludeConfinementError", true},
      {IncludeErrorKind::SecretNotFound, "KestrineSecretNotFoundError", false},
      {IncludeErrorKind::EnvVar, "KestrineEnvVarError", false},
      {IncludeErrorKind::Include, "KestrineIncludeError", true},
      {IncludeErrorKind::DuplicateKey, "KestrineDuplicateKeyError", true},
      {static_cast<IncludeErrorKind>(200), "KestrineIncludeError", true},
  };
  for (const auto& row : table) {
    PyErr err = load_error_to_py(nested_error(row.kind));
    EXPECT_EQ(class_name(err), std::string("kestrine.exceptions.") + row.cls);
    EXPECT_EQ(set_on_instance(err, "include_stack"), row.stack) << row.cls;
    EXPECT_EQ(attr(err, "file"), "'conf/b.yaml'") << row.cls;
  }

  LoadError located = nested_error(IncludeErrorKind::SecretNotFound);
  located.span = Span{1, 6, 4, 99};
  PyErr s = load_error_to_py(located);
  EXPECT_EQ(attr(s, "line"), "7");
  EXPECT_EQ(attr(s, "column"), "5");
  EXPECT_FALSE(set_on_instance(s, "include_stack"));
}

TEST_F(FfiErrors, SyntaxErrorInsideAnIncludedFile) {
  LoadError err;
  err.kind = IncludeErrorKind::Parse;
  err.message = "did not find expected key";
  err.file = "conf/inner.yaml";
  err.span = Span{2, 3, 7, 40};
  err.include_chain = {{"conf/inner.yaml", 11}};
  PyErr e = load_error_to_py(err);
  EXPECT_EQ(class_name(e), "kestrine.exceptions.KestrineParseError");
  EXPECT_EQ(to_std(e.value()), "did not find expected key at line 4, column 8");
  EXPECT_EQ(attr(e, "file"), "'conf/inner.yaml'");
  EXPECT_EQ(attr(e, "line"), "4");
  EXPECT_EQ(attr(e, "column"), "8");
  EXPECT_EQ(attr(e, "include_stack"), "[('conf/inner.yaml', 12)]");

  // Without a location: line 1, column 1; an empty chain is still set.
  err.span.reset();
  err.include_chain.clear();
  PyErr n = load_error_to_py(err);
  EXPECT_EQ(to_std(n.value()), "did not find expected key at line 1, column 1");
  EXPECT_EQ(attr(n, "line"), "1");
  EXPECT_EQ(attr(n, "include_stack"), "[]");
}

TEST_F(FfiErrors, InvalidUtf8PathsAreShownWithReplacementCharacters) {
  LoadError err = nested_error(IncludeErrorKind::IncludeNotFound);
  err.file = std::string("conf/\xff\xfe.yaml");
  err.include_chain = {{std::string("top\xc3.yaml"), 0}};
  PyErr e = load_error_to_py(err);
  EXPECT_EQ(attr(e, "file"), "'conf/\xEF\xBF\xBD\xEF\xBF\xBD.yaml'");
  EXPECT_EQ(attr(e, "include_stack"), "[('top\xEF\xBF\xBD.yaml', 1)]");
  EXPECT_NE(to_std(e.value()).find("conf/\xEF\xBF\xBD\xEF\xBF\xBD.yaml"), std::string::npos);

  DecoderError parse{"bad", Span{}, DecoderErrorKind::Parse};
  PyErr d = decoder_error_to_py(parse, std::string_view("x\x80y"));
  EXPECT_EQ(attr(d, "file"), "'x\xEF\xBF\xBDy'");
}

TEST_F(FfiErrors, MessageOnlyErrorsCarryNoPosition) {
  PyErr enc = encode_error_to_py("cannot serialize NaN as JSON");
  EXPECT_EQ(class_name(enc), "kestrine.exceptions.KestrineEncodeError");
  EXPECT_EQ(args(enc), "('cannot serialize NaN as JSON',)");
  EXPECT_FALSE(set_on_instance(enc, "line"));
  EXPECT_FALSE(set_on_instance(enc, "file"));
  PyErr uns = unserializable_error_to_py("Type is not YAML serializable: object");
  EXPECT_EQ(class_name(uns), "kestrine.exceptions.KestrineUnserializableError");
  EXPECT_TRUE(uns.is_instance_of(PyExc_TypeError));
  PyErr dec = decode_error_to_py("input is not valid UTF-8");
  EXPECT_EQ(class_name(dec), "kestrine.exceptions.KestrineDecodeError");
  EXPECT_FALSE(set_on_instance(dec, "line"));
}

TEST_F(FfiErrors, SchemaErrors) {
  PyErr e = schema_error_to_py("expected type object, found array", "$", Span{0, 0, 0, 0});
  EXPECT_EQ(class_name(e), "kestrine.exceptions.KestrineSchemaError");
  EXPECT_EQ(to_std(e.value()), "schema validation failed: expected type object, found array at $ (line 1, column 1)");
  EXPECT_EQ(attr(e, "schema_path"), "'$'");
  EXPECT_EQ(attr(e, "line"), "1");
  EXPECT_EQ(attr(e, "column"), "1");
  EXPECT_FALSE(set_on_instance(e, "file"));
  EXPECT_FALSE(set_on_instance(e, "include_stack"));

  std::vector<IncludeFrame> stack{{"a.yaml", 4}};
  PyErr s = schema_error_to_py("too long", "$.servers[1].name", Span{1, 8, 2, 0}, &stack);
  EXPECT_EQ(to_std(s.value()), "schema validation failed: too long at $.servers[1].name (line 9, column 3)");
  EXPECT_EQ(attr(s, "include_stack"), "[('a.yaml', 5)]");
}

TEST_F(FfiErrors, AttributeFailuresAreIgnored) {
  run(
      "class _Frozen(Exception):\n"
      "    def __setattr__(self, name, value):\n"
      "        raise AttributeError('read-only')\n");
  OwnedRef cls = eval("_Frozen");
  PyErr e = PyErr::new_error(cls.get(), "msg");
  set_error_location(e.value(), std::string_view("f"), 0, 0);
  EXPECT_FALSE(PyErr_Occurred());
  std::vector<IncludeFrame> stack{{"a", 0}};
  auto status = set_include_stack(e.value(), stack);
  EXPECT_FALSE(status) << "set_include_stack reports the failed assignment";
  EXPECT_FALSE(PyErr_Occurred());
}

TEST_F(FfiErrors, ClassesAreCachedAndLookupFailuresAreFaults) {
  auto a = exception_class(ExcClass::SchemaError);
  auto b = exception_class(ExcClass::SchemaError);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(*a, *b);
  OwnedRef direct = eval("__import__('kestrine.exceptions').exceptions.KestrineSchemaError");
  EXPECT_EQ(*a, direct.get());
  for (int i = 0; i < kExcClassCount; ++i) {
    auto c = exception_class(static_cast<ExcClass>(i));
    ASSERT_TRUE(c) << i;
    EXPECT_TRUE(PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(*c),
                                 reinterpret_cast<PyTypeObject*>(PyExc_Exception)));
  }

  ImportedClass missing_module{"kestrine_no_such_module", "KestrineParseError", "exception "};
  auto m = imported_class(missing_module);
  ASSERT_FALSE(m);
  EXPECT_TRUE(m.error().is_instance_of(PyExc_SystemError));
  EXPECT_EQ(m.error().message(),
            "failed to import exception kestrine_no_such_module.KestrineParseError: "
            "ModuleNotFoundError: No module named 'kestrine_no_such_module'");
  OwnedRef cause = OwnedRef::steal(PyException_GetCause(m.error().value()));
  EXPECT_TRUE(cause && PyErr_GivenExceptionMatches(cause.get(), PyExc_ImportError));

  ImportedClass missing_name{"kestrine.exceptions", "KestrineNoSuchError", "exception "};
  auto n = imported_class(missing_name);
  ASSERT_FALSE(n);
  EXPECT_EQ(n.error().message().rfind("failed to import exception kestrine.exceptions.KestrineNoSuchError: "
                                      "AttributeError: ",
                                      0),
            0u);
  EXPECT_EQ(missing_name.cls, nullptr) << "a failed lookup is not cached";
  EXPECT_FALSE(PyErr_Occurred());
}

// ---------------------------------------------------------------------------
// Warnings and callbacks

class FfiWarnings : public FfiErrors {
 protected:
  void SetUp() override {
    run(
        "import logging\n"
        "class _Collect(logging.Handler):\n"
        "    def __init__(self):\n"
        "        super().__init__()\n"
        "        self.records = []\n"
        "    def emit(self, record):\n"
        "        self.records.append((record.levelname, record.getMessage()))\n"
        "class _Explode(logging.Handler):\n"
        "    def emit(self, record):\n"
        "        raise RuntimeError('handler failed')\n"
        "    def handleError(self, record):\n"
        "        raise\n"
        "_logger = logging.getLogger('kestrine')\n"
        "_logger.propagate = False\n"
        "_collect = _Collect()\n"
        "_logger.handlers[:] = [_collect]\n");
  }
  void TearDown() override { run("_logger.handlers[:] = []\n_logger.propagate = True\n"); }
};

TEST_F(FfiWarnings, LogsOnTheKestrineLoggerAtWarningLevel) {
  log_warning("found a YAML 1.1 boolean at line 1, column 4");
  log_warning(std::string_view("bad \xff", 5));
  EXPECT_EQ(to_std(eval("_collect.records").get()),
            "[('WARNING', 'found a YAML 1.1 boolean at line 1, column 4'), ('WARNING', 'bad \xEF\xBF\xBD')]");
  EXPECT_FALSE(PyErr_Occurred());
}

TEST_F(FfiWarnings, FailuresInsideLoggingAreCleared) {
  run("_logger.handlers[:] = [_Explode()]\n");
  log_warning("x");
  EXPECT_FALSE(PyErr_Occurred());
  // A broken logging module is no different.
  run("import sys\n_saved_logging = sys.modules['logging']\nsys.modules['logging'] = None\n");
  log_warning("y");
  run("sys.modules['logging'] = _saved_logging\n");
  EXPECT_FALSE(PyErr_Occurred());
}

TEST_F(FfiWarnings, APendingExceptionSurvivesLogging) {
  PyErr_SetString(PyExc_KeyError, "kept");
  log_warning("while an error is pending");
  ASSERT_TRUE(PyErr_Occurred());
  PyErr err = PyErr::fetch();
  EXPECT_TRUE(err.is_instance_of(PyExc_KeyError));
  EXPECT_EQ(to_std(eval("_collect.records[-1][1]").get()), "while an error is pending");
}

TEST_F(FfiWarnings, MissingValueHandler) {
  run(
      "_seen = []\n"
      "def _handler(name, file, line):\n"
      "    _seen.append((name, file, line))\n"
      "    return 'ignored'\n"
      "def _raising(name, file, line):\n"
      "    raise LookupError(name)\n");
  OwnedRef handler = eval("_handler");
  auto r = call_missing_value_handler(handler.get(), "db_password", "./<root>", 3);
  ASSERT_TRUE(r);
  EXPECT_EQ(to_std(r->get()), "ignored");
  EXPECT_EQ(to_std(eval("_seen").get()), "[('db_password', './<root>', 3)]");
  OwnedRef raising = eval("_raising");
  auto e = call_missing_value_handler(raising.get(), "HOME2", "f.yaml", 1);
  ASSERT_FALSE(e);
  EXPECT_TRUE(e.error().is_instance_of(PyExc_LookupError));
  OwnedRef not_callable = OwnedRef::steal(PyLong_FromLong(1));
  auto t = call_missing_value_handler(not_callable.get(), "a", "b", 1);
  ASSERT_FALSE(t);
  EXPECT_TRUE(t.error().is_instance_of(PyExc_TypeError));
  (void)bind;
}

// ---------------------------------------------------------------------------
// The include loader's record

TEST(LoadErrorText, FormatAndIncludeTags) {
  LoadError err;
  err.message = "include chain exceeds the maximum depth of 50";
  err.file = "deep.yaml";
  EXPECT_EQ(format_load_error(err), "include chain exceeds the maximum depth of 50 in deep.yaml");
  err.include_chain = {{"a.yaml", 0}, {"b.yaml", 4294967295u}};
  EXPECT_EQ(format_load_error(err),
            "include chain exceeds the maximum depth of 50 in deep.yaml\n"
            "  included from a.yaml, line 1\n"
            "  included from b.yaml, line 4294967296");

  for (const char* tag : {"!include", "!include_dir_list", "!include_dir_named", "!include_dir_merge_list",
                          "!include_dir_merge_named"}) {
    EXPECT_TRUE(is_include_tag(tag)) << tag;
  }
  for (const char* tag : {"!Include", "!include ", "include", "!include_dir", "!secret", "!env_var", ""}) {
    EXPECT_FALSE(is_include_tag(tag)) << tag;
  }
  EXPECT_FALSE(is_include_tag(std::optional<std::string>()));
  EXPECT_TRUE(is_include_tag(std::optional<std::string>("!include_dir_named")));
}

}  // namespace
}  // namespace kestrine
