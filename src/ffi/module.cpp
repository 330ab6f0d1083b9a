#include "ffi/module.hpp"

#include <exception>

#include "ffi/functions.hpp"
#include "ffi/types/annotated_scalar.hpp"
#include "ffi/types/class_objects.hpp"
#include "util/options.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

// C entries of the functions: each runs its body behind py_entry.
#define KESTRINE_ENTRY(entry, body)                                                              \
  PyObject* entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) { \
    return py_entry([&] { return body(module, args, nargs, kwnames); });                         \
  }

KESTRINE_ENTRY(loads_entry, loads_body)
KESTRINE_ENTRY(loads_all_entry, loads_all_body)
KESTRINE_ENTRY(dumps_entry, dumps_body)
KESTRINE_ENTRY(to_json_entry, to_json_body)
KESTRINE_ENTRY(schema_ref_entry, schema_ref_body)
KESTRINE_ENTRY(yaml_version_entry, yaml_version_body)
KESTRINE_ENTRY(dump_includes_entry, dump_includes_body)
KESTRINE_ENTRY(dump_includes_map_entry, dump_includes_map_body)

#undef KESTRINE_ENTRY

template <class F>
PyCFunction as_cfunction(F* fn) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

// Each docstring starts with the text signature followed by "--" (so
// inspect.signature shows exactly these parameter lists), then what help()
// shows: what the function does, its main options, what it raises.
constexpr const char kLoadsDoc[] =
    "loads(data, /, *, option=None, include_dir=None, schema=None, schema_resolver=None, "
    "tag_handler=None, tags=None, root_path=None, on_missing_secret=None, on_missing_env_var=None)\n--\n\n"
    "Load the first document of a YAML stream as Python objects.\n\n"
    "data: str, bytes, bytearray or any buffer; bytes may be UTF-8, UTF-16 or\n"
    "UTF-32 (told by a byte-order mark or the pattern of zero bytes). An empty\n"
    "stream gives None. Plain scalars are read by YAML 1.2 rules unless a\n"
    "%YAML 1.1 directive or a YAML 1.1 option says otherwise.\n\n"
    "option: a bit set of OPT_* flags (None: 0). Among them:\n"
    "  OPT_YAML_1_1, OPT_PYYAML_COMPAT  read YAML 1.1 (the second as PyYAML does)\n"
    "  OPT_TIMESTAMPS                   timestamps as datetime.date/datetime\n"
    "  OPT_ANNOTATED                    results that know their line, column, file\n"
    "  OPT_ROUND_TRIP                   a KestrineDocument keeping comments and styles\n"
    "  OPT_INCLUDES, OPT_SECRETS, OPT_ENV_VAR\n"
    "                                   resolve !include*, !secret and !env_var\n"
    "  OPT_DUPLICATE_KEYS_ERROR/_WARN   refuse or log duplicate keys (else last wins)\n"
    "include_dir: the root that included files must lie in (default \".\").\n"
    "root_path: the file name of the text, for positions and relative includes.\n"
    "schema: a JSON Schema the result must satisfy, as Python data (a dict, or\n"
    "True/False), or \"auto\" to take the reference of a\n"
    "'# yaml-language-server: $schema=...' comment and pass it to\n"
    "schema_resolver, which returns the schema (or None).\n"
    "Checked: the draft 6 keywords type, enum, const, minimum, maximum,\n"
    "exclusiveMinimum, exclusiveMaximum, multipleOf, minLength, maxLength,\n"
    "pattern, items, additionalItems, minItems, maxItems, uniqueItems,\n"
    "contains, properties, patternProperties, additionalProperties, required,\n"
    "minProperties, maxProperties, propertyNames, dependencies, allOf, anyOf,\n"
    "oneOf, not, and $ref within the schema. Other keys are ignored: format,\n"
    "and later drafts' if/then/else, dependentRequired, dependentSchemas,\n"
    "prefixItems, unevaluatedProperties, unevaluatedItems, ...\n"
    "tags: a dict of tag to callable(value); tag_handler: callable(tag, value)\n"
    "for the other tags.\n"
    "on_missing_secret, on_missing_env_var: callable(name, file, line), called\n"
    "for a secret or variable that is not defined instead of raising.\n\n"
    "Raises TypeError or ValueError for bad arguments, KestrineDecodeError for\n"
    "undecodable input, KestrineParseError (KestrineDuplicateKeyError,\n"
    "KestrineComplexKeyError) for invalid YAML, KestrineIncludeError and its\n"
    "subclasses, KestrineSecretNotFoundError, KestrineEnvVarError and\n"
    "KestrineSchemaError; their line, column and file attributes tell where.";

constexpr const char kLoadsAllDoc[] =
    "loads_all(data, /, *, option=None, tag_handler=None, tags=None)\n--\n\n"
    "Load every document of a YAML stream: a list with one entry per document.\n\n"
    "data, option, tags and tag_handler as for loads(). With OPT_ROUND_TRIP each\n"
    "document is a KestrineDocument of its own; with OPT_ANNOTATED the results\n"
    "are annotated (without a file name).\n\n"
    "Raises as loads(); ValueError for OPT_INCLUDES, OPT_SECRETS or OPT_ENV_VAR,\n"
    "which only loads() resolves.";

constexpr const char kDumpsDoc[] =
    "dumps(obj, /, *, default=None, option=None, serializers=None, width=None, represent=None)\n--\n\n"
    "Write a Python object as YAML: UTF-8 bytes.\n\n"
    "A KestrineDocument is written back with its comments and styles (byte for\n"
    "byte when unedited; the other arguments are ignored then). Dicts, lists,\n"
    "tuples, sets, str, int, float, bool, None, bytes (UTF-8), dataclasses,\n"
    "enums, datetimes, UUID, Decimal, paths and KestrineTag are known.\n\n"
    "default: callable(obj) for any other object, returning what to write.\n"
    "option: OPT_* flags: OPT_INDENT_4, OPT_INDENTLESS_SEQUENCES, OPT_FLOW_STYLE,\n"
    "OPT_SORT_KEYS, OPT_EXPLICIT_START/END, OPT_SINGLE_QUOTES,\n"
    "OPT_NULL_AS_KEYWORD/TILDE, OPT_SERIALIZE_NUMPY, the datetime options, and\n"
    "OPT_YAML_1_1/OPT_PYYAML_COMPAT (quote what YAML 1.1 would misread).\n"
    "serializers: a dict of exact type to callable(obj) returning a KestrineTag\n"
    "or a (tag, value) tuple.\n"
    "width: the line width at which long scalars fold (None: no folding).\n"
    "represent: callable(obj) returning a KestrineScalar, KestrineSequence or\n"
    "KestrineMapping to control styles, tags and comments node by node.\n\n"
    "Raises KestrineUnserializableError for an object it cannot write,\n"
    "KestrineEncodeError for a value it cannot write as it stands (bad tag,\n"
    "invalid UTF-8, nesting past 999 levels), TypeError or ValueError for bad\n"
    "arguments.";

constexpr const char kToJsonDoc[] =
    "to_json(obj, /, *, default=None, option=None)\n--\n\n"
    "Write Python data as JSON: UTF-8 bytes.\n\n"
    "Objects are converted as by dumps(); a KestrineDocument or view is written\n"
    "as its to_dict(). default: callable(obj) for unknown objects. option:\n"
    "OPT_INDENT_2 or OPT_INDENT_4 (else compact), OPT_SORT_KEYS, and the\n"
    "numpy and datetime options.\n\n"
    "Raises KestrineUnserializableError for an object it cannot write,\n"
    "KestrineEncodeError for a value JSON cannot hold (a collection as a key).";

constexpr const char kSchemaRefDoc[] =
    "schema_ref(data, /)\n--\n\n"
    "The in-file schema reference of a YAML text, or None.\n\n"
    "The reference is read from a '# yaml-language-server: $schema=...'\n"
    "comment among the document's leading comment lines; nothing is loaded.\n\n"
    "Raises TypeError or KestrineDecodeError for input that is not text.";

constexpr const char kYamlVersionDoc[] =
    "yaml_version(data, /)\n--\n\n"
    "The version of a YAML text's leading %YAML directive, or None.\n\n"
    "The version is a str such as \"1.1\"; nothing is loaded.\n\n"
    "Raises TypeError or KestrineDecodeError for input that is not text.";

constexpr const char kDumpIncludesDoc[] =
    "dump_includes(doc, /, *, include_dir=None)\n--\n\n"
    "Write the included files of an edited document back where they were read.\n\n"
    "doc is a KestrineDocument loaded with OPT_INCLUDES; each file whose part\n"
    "changed is replaced atomically (a failed write leaves the old file).\n\n"
    "include_dir is accepted for symmetry with loads(); files go to the paths\n"
    "they were read from.\n\n"
    "Raises ValueError for a document loaded without OPT_INCLUDES or a file\n"
    "that cannot be written (those written before it stay written),\n"
    "KestrineIncludeError for a file read at several places that are not\n"
    "all edited alike, or also read for !secret values.";

constexpr const char kDumpIncludesMapDoc[] =
    "dump_includes_map(doc, /)\n--\n\n"
    "The new contents of the included files of an edited document, by path.\n\n"
    "doc is a KestrineDocument loaded with OPT_INCLUDES; the result is a dict\n"
    "of path (str) to contents (bytes), and nothing is written.\n\n"
    "Raises ValueError for a document loaded without OPT_INCLUDES,\n"
    "KestrineIncludeError for a file read at several places that are not\n"
    "all edited alike, or also read for !secret values.";

PyMethodDef g_functions[] = {
    {"loads", as_cfunction(loads_entry), METH_FASTCALL | METH_KEYWORDS, kLoadsDoc},
    {"loads_all", as_cfunction(loads_all_entry), METH_FASTCALL | METH_KEYWORDS, kLoadsAllDoc},
    {"dumps", as_cfunction(dumps_entry), METH_FASTCALL | METH_KEYWORDS, kDumpsDoc},
    {"to_json", as_cfunction(to_json_entry), METH_FASTCALL | METH_KEYWORDS, kToJsonDoc},
    {"schema_ref", as_cfunction(schema_ref_entry), METH_FASTCALL | METH_KEYWORDS, kSchemaRefDoc},
    {"yaml_version", as_cfunction(yaml_version_entry), METH_FASTCALL | METH_KEYWORDS, kYamlVersionDoc},
    {"dump_includes", as_cfunction(dump_includes_entry), METH_FASTCALL | METH_KEYWORDS, kDumpIncludesDoc},
    {"dump_includes_map", as_cfunction(dump_includes_map_entry), METH_FASTCALL | METH_KEYWORDS,
     kDumpIncludesMapDoc},
};

PyStatus add_functions(PyObject* module) noexcept {
  OwnedRef module_name = OwnedRef::steal(PyModule_GetNameObject(module));
  if (!module_name) return fail_fetch();
  for (PyMethodDef& def : g_functions) {
    OwnedRef fn = OwnedRef::steal(PyCMethod_New(&def, module, module_name.get(), nullptr));
    if (!fn) return fail_fetch();
    KESTRINE_TRY(add_to_module(module, def.ml_name, fn.get()));
  }
  return {};
}

PyStatus add_constants(PyObject* module) noexcept {
  for (const OptionEntry& entry : kOptionTable) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, new_uint(entry.value));
    KESTRINE_TRY(add_to_module(module, entry.name, value.get()));
  }
  return {};
}

PyStatus add_classes(PyObject* module) noexcept {
  for (const ClassEntry& entry : kModuleClasses) {
    KESTRINE_ASSIGN_OR_RETURN(PyTypeObject* const type, entry.type());
    KESTRINE_TRY(add_to_module(module, entry.name, reinterpret_cast<PyObject*>(type)));
  }
  return {};
}

constinit thread_local bool t_thread_prepared = false;

PyStatus exec_steps(PyObject* module) noexcept {
  if (!PyModule_Check(module)) {
    return fail(PyErr::type_error("expected a module object to initialise"));
  }
  KESTRINE_TRY(add_functions(module));
  KESTRINE_TRY(add_constants(module));
  return add_classes(module);
}

// ---------------------------------------------------------------------------
// Module definition

extern "C" int kestrine_module_exec(PyObject* module) { return module_exec(module); }

PyModuleDef_Slot g_module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(kestrine_module_exec)},
#if PY_VERSION_HEX >= 0x030C0000
    // The class objects and the cached exception classes are per process,
    // so the module cannot be shared by several interpreters.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#if PY_VERSION_HEX >= 0x030D0000
    // Instances rely on the interpreter lock around Python object access.
    {Py_mod_gil, Py_MOD_GIL_USED},
#endif
    {0, nullptr},
};

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "_kestrine",  // m_name
    "",           // m_doc
    0,            // m_size: no per-module state
    nullptr,      // m_methods: the exec step adds the functions
    g_module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyStatus add_to_module(PyObject* module, const char* name, PyObject* value) noexcept {
  PyObject* dict = PyModule_GetDict(module);  // borrowed
  if (dict == nullptr) return fail_fetch();
  PyObject* all = PyDict_GetItemString(dict, "__all__");  // borrowed, no exception
  OwnedRef all_ref = OwnedRef::borrow(all);
  if (!all_ref) {
    all_ref = OwnedRef::steal(PyList_New(0));
    if (!all_ref) return fail_fetch();
    if (PyObject_SetAttrString(module, "__all__", all_ref.get()) < 0) return fail_fetch();
  }
  OwnedRef name_obj = OwnedRef::steal(PyUnicode_FromString(name));
  if (!name_obj) return fail_fetch();
  if (PyList_Check(all_ref.get())) {
    if (PyList_Append(all_ref.get(), name_obj.get()) < 0) return fail_fetch();
  } else {
    OwnedRef r = OwnedRef::steal(PyObject_CallMethod(all_ref.get(), "append", "O", name_obj.get()));
    if (!r) return fail_fetch();
  }
  return checked_status(PyObject_SetAttr(module, name_obj.get(), value));
}

void detail::prepare_thread() noexcept {
  if (t_thread_prepared) return;
  // The runtime's exception globals (the call is pure: its result must be
  // used, or it is left out).
  [[maybe_unused]] volatile int uncaught = std::uncaught_exceptions();
  RecordBlocks::prepare_thread();
  t_thread_prepared = true;
}

int module_exec(PyObject* module) noexcept {
  return py_entry_status([&] { return exec_steps(module); });
}

}  // namespace kestrine

// ---------------------------------------------------------------------------
// Entry points

PyMODINIT_FUNC PyInit__kestrine(void) { return PyModuleDef_Init(&kestrine::g_module_def); }

#if defined(PyMODEXPORT_FUNC)
// The slot-list export of newer interpreters: the same module described as
// one slot list (compiled only where the interpreter provides it).
namespace kestrine {
namespace {
#if defined(PyABIInfo_VAR)
PyABIInfo_VAR(g_abi_info);
#endif
PyModuleDef_Slot g_export_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(kestrine_module_exec)},
#if defined(PyABIInfo_VAR)
    {Py_mod_abi, &g_abi_info},
#endif
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {Py_mod_gil, Py_MOD_GIL_USED},
    {Py_mod_name, const_cast<char*>("_kestrine")},
    {Py_mod_doc, const_cast<char*>("")},
    {0, nullptr},
};
}  // namespace
}  // namespace kestrine

PyMODEXPORT_FUNC PyModExport__kestrine(void) { return kestrine::g_export_slots; }
#endif
