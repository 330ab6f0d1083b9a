// The include steps of `loads` (OPT_INCLUDES, OPT_SECRETS, OPT_ENV_VAR):
// builds the include context from the call's arguments, expands the
// directives across files, logs the context's warnings, reports the misses
// that were not fatal, and hands the trees with the source-file table to the
// located or round-trip road.  Defines `loads_include_trees` (declared in
// ffi/loads_located_and_round_trip.hpp).
#pragma once

#include "ffi/py.hpp"
#include "include/context.hpp"

namespace kestrine {

// Who hears of a secret or variable that was not found.
struct MissingValueHandlers {
  PyObject* on_missing_secret = nullptr;  // called with (name, file, line), or null
  bool warn_missing_secret = false;       // OPT_SECRET_NOT_FOUND_WARN
  PyObject* on_missing_env_var = nullptr;
  bool warn_missing_env_var = false;      // OPT_ENV_VAR_NOT_FOUND_WARN
};

// Empties the context's miss lists, secrets first: per record the callable
// (if any) is called with (name, file, 1-based line), then the warning
// logged (if asked).  An exception from a callable ends the reporting and is
// returned; the records not yet reported are dropped.
PyStatus report_missing_values(IncludeContext& ctx, const MissingValueHandlers& handlers);

}  // namespace kestrine
