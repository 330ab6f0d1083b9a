#include "ffi/module.hpp"

#include "ffi/functions.hpp"
#include "ffi/options.hpp"
#include "ffi/types/class_objects.hpp"
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

// Each docstring is the text signature followed by "--" and an empty body,
// so inspect.signature shows exactly these parameter lists.
PyMethodDef g_functions[] = {
    {"loads", as_cfunction(loads_entry), METH_FASTCALL | METH_KEYWORDS,
     "loads(data, /, *, option=None, include_dir=None, schema=None, schema_resolver=None, "
     "tag_handler=None, tags=None, root_path=None, on_missing_secret=None, on_missing_env_var=None)"
     "\n--\n\n"},
    {"loads_all", as_cfunction(loads_all_entry), METH_FASTCALL | METH_KEYWORDS,
     "loads_all(data, /, *, option=None, tag_handler=None, tags=None)\n--\n\n"},
    {"dumps", as_cfunction(dumps_entry), METH_FASTCALL | METH_KEYWORDS,
     "dumps(obj, /, *, default=None, option=None, serializers=None, width=None, represent=None)\n--\n\n"},
    {"to_json", as_cfunction(to_json_entry), METH_FASTCALL | METH_KEYWORDS,
     "to_json(obj, /, *, default=None, option=None)\n--\n\n"},
    {"schema_ref", as_cfunction(schema_ref_entry), METH_FASTCALL | METH_KEYWORDS,
     "schema_ref(data, /)\n--\n\n"},
    {"yaml_version", as_cfunction(yaml_version_entry), METH_FASTCALL | METH_KEYWORDS,
     "yaml_version(data, /)\n--\n\n"},
    {"dump_includes", as_cfunction(dump_includes_entry), METH_FASTCALL | METH_KEYWORDS,
     "dump_includes(doc, /, *, include_dir=None)\n--\n\n"},
    {"dump_includes_map", as_cfunction(dump_includes_map_entry), METH_FASTCALL | METH_KEYWORDS,
     "dump_includes_map(doc, /)\n--\n\n"},
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
