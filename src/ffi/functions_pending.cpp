// Placeholder bodies of the module functions whose behaviour is not built
// yet.  They check their arguments like the real functions, then raise
// NotImplementedError naming the function.  Each is weak: defining the body
// in another file replaces it (see functions.hpp).
#include <string>

#include "ffi/functions.hpp"

namespace kestrine {

PyResult<OwnedRef> pending_body(const ArgSpec& spec, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) noexcept {
  PyObject* parsed[16];
  if (spec.count > 16) return fail(PyErr::internal_fault("too many parameters"));
  if (auto ok = parse_fastcall(spec, args, nargs, kwnames, parsed); !ok) return fail(std::move(ok.error()));
  std::string message;
  try {
    message = std::string(spec.fname) + "() is not implemented yet";
  } catch (...) {
    return fail(PyErr::memory_error());
  }
  return fail(PyErr::new_error(PyExc_NotImplementedError, message));
}

#define KESTRINE_PENDING(body, spec) \
  [[gnu::weak]] KESTRINE_FUNCTION_BODY(body) { \
    (void)module;                              \
    return pending_body(spec, args, nargs, kwnames); \
  }

KESTRINE_PENDING(loads_body, kLoadsArgs)
KESTRINE_PENDING(loads_all_body, kLoadsAllArgs)
KESTRINE_PENDING(dumps_body, kDumpsArgs)
KESTRINE_PENDING(to_json_body, kToJsonArgs)
KESTRINE_PENDING(yaml_version_body, kYamlVersionArgs)
KESTRINE_PENDING(dump_includes_body, kDumpIncludesArgs)
KESTRINE_PENDING(dump_includes_map_body, kDumpIncludesMapArgs)

}  // namespace kestrine
