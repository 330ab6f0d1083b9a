// Placeholder bodies of the module functions whose behaviour is not built
// yet.  They check their arguments like the real functions, then raise
// NotImplementedError naming the function.  They are ordinary definitions:
// the commit that builds a function deletes its line below (a body defined
// twice fails to link).
#include <string>

#include "ffi/functions.hpp"
#include "util/try.hpp"

namespace kestrine {

PyResult<OwnedRef> pending_body(const ArgSpec& spec, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  PyObject* parsed[16];
  if (spec.count > 16) return fail(PyErr::internal_fault("too many parameters"));
  KESTRINE_TRY(parse_fastcall(spec, args, nargs, kwnames, parsed));
  std::string message;
  try {
    message = std::string(spec.fname) + "() is not implemented yet";
  } catch (...) {
    return fail(PyErr::memory_error());
  }
  return fail(PyErr::new_error(PyExc_NotImplementedError, message));
}

#define KESTRINE_PENDING(body, spec)                    \
  KESTRINE_FUNCTION_BODY(body) {                       \
    (void)module;                                      \
    return pending_body(spec, args, nargs, kwnames);   \
  }

KESTRINE_PENDING(dump_includes_body, kDumpIncludesArgs)
KESTRINE_PENDING(dump_includes_map_body, kDumpIncludesMapArgs)

}  // namespace kestrine
