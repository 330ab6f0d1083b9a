// Argument extraction for the fast-call convention and for tp_new slots, and
// the checks of option bits that every entry shares.
//
// A parameter list is positional-only parameters, then positional-or-keyword
// ones, then keyword-only ones; the first `required` parameters must be
// given.  Wrong calls raise TypeError with the interpreter's own messages
// (the texts of its argument-clinic parser), so the module's functions
// behave like built-in ones.
#pragma once

#include <string_view>

#include "ffi/py.hpp"
#include "util/options.hpp"

namespace kestrine {

struct ArgSpec {
  const char* fname;         // function name as shown in messages: "loads"
  const char* const* names;  // every parameter name, in order
  int count;                 // number of names
  int posonly;               // leading positional-only parameters
  int maxpos;                // leading parameters that may be passed by position
  int required;              // leading parameters that must be given (<= maxpos)
};

// Fills out[0..spec.count) with borrowed references to the arguments given,
// or nullptr for the parameters not given.
PyStatus parse_fastcall(const ArgSpec& spec, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames, PyObject** out);

// The same for a tuple and an optional dict (tp_new, tp_init).
PyStatus parse_tuple_dict(const ArgSpec& spec, PyObject* args, PyObject* kwargs,
                          PyObject** out);

// TypeError "{function}() argument '{argument}' must be {expected}, not
// {type}", as the interpreter's own argument parsing words it (without the
// "{function}() " part when `function` is empty: a property setter).
PyErr argument_type_error(std::string_view function, std::string_view argument, std::string_view expected,
                          PyObject* got);

// An argument that was not given, or given as None, reads as absent.
inline PyObject* none_as_absent(PyObject* arg) noexcept { return arg == Py_None ? nullptr : arg; }

// ValueError "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually
// exclusive" when `option` sets both (null_styles_conflict).
PyStatus check_null_style_options(Options option) noexcept;

}  // namespace kestrine
