// Argument extraction for the fast-call convention and for tp_new slots, and
// the checks of option bits that every entry shares.
//
// A parameter list is positional-only parameters, then positional-or-keyword
// ones, then keyword-only ones; the first `required` parameters must be
// given.  Wrong calls raise TypeError with the interpreter's own messages
// (the texts of its argument-clinic parser), so the module's functions
// behave like built-in ones.
#pragma once

#include <cstdint>
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
// {type}", as the interpreter's own argument parsing words it: the type by
// its tp_name ("collections.deque"), None as "None" (without the
// "{function}() " part when `function` is empty: a property setter).
PyErr argument_type_error(std::string_view function, std::string_view argument, std::string_view expected,
                          PyObject* got);

// An argument that was not given, or given as None, reads as absent.
inline PyObject* none_as_absent(PyObject* arg) noexcept { return arg == Py_None ? nullptr : arg; }

// The one reader of the integer arguments (`option=`, `width=`): absent or
// None is 0; anything with an index conversion (__index__) is accepted and
// must fit 64 unsigned bits.  An object without one is a TypeError in the
// words of argument_type_error ("loads() argument 'option' must be int, not
// str"); a value that does not fit keeps the running interpreter's own error
// and wording, after the argument's name ("loads() argument 'option': can't
// convert negative int to unsigned"); an error raised by __index__ itself
// passes unchanged.  Every failure carries the note "while processing
// '{name}'".  `function` as for argument_type_error.
//
//   KESTRINE_ASSIGN_OR_RETURN(const Options option, read_u64_argument(a[1], "option", "loads"));
PyResult<std::uint64_t> read_u64_argument(PyObject* arg, const char* name, std::string_view function);

// Adds the note "while processing '{name}'" to an argument error.
PyErr with_argument_note(PyErr err, const char* name) noexcept;

// ValueError "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually
// exclusive" when `option` sets both (null_styles_conflict).
PyStatus check_null_style_options(Options option) noexcept;

}  // namespace kestrine
