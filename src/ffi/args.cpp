#include "ffi/args.hpp"

#include <cstring>
#include <string>

#include "util/try.hpp"

namespace kestrine {
namespace {

std::string fn_label(const ArgSpec& spec) { return std::string(spec.fname) + "()"; }

// Compares a keyword (a str) with a parameter name (ASCII).
bool keyword_is(PyObject* keyword, const char* name) noexcept {
  const std::size_t len = std::strlen(name);
  if (PyUnicode_IS_ASCII(keyword)) {
    return static_cast<std::size_t>(PyUnicode_GET_LENGTH(keyword)) == len &&
           std::memcmp(PyUnicode_DATA(keyword), name, len) == 0;
  }
  return false;  // parameter names are ASCII
}

int find_param(const ArgSpec& spec, PyObject* keyword) noexcept {
  for (int i = spec.posonly; i < spec.count; ++i) {
    if (keyword_is(keyword, spec.names[i])) return i;
  }
  return -1;
}

PyErr type_error(const std::string& message) { return PyErr::type_error(message); }

// Checks counts and positional arguments; common to both call forms.
PyStatus check_positional(const ArgSpec& spec, Py_ssize_t nargs, Py_ssize_t nkwargs) {
  const int maxargs = spec.count;
  if (nargs + nkwargs > maxargs) {
    return fail(type_error(fn_label(spec) + " takes at most " + std::to_string(maxargs) + " " +
                           (nargs == 0 ? "keyword " : "") + "argument" + (maxargs == 1 ? "" : "s") +
                           " (" + std::to_string(nargs + nkwargs) + " given)"));
  }
  if (nargs > spec.maxpos) {
    if (spec.maxpos == 0) return fail(type_error(fn_label(spec) + " takes no positional arguments"));
    return fail(type_error(fn_label(spec) + " takes " +
                           (spec.required < spec.maxpos ? "at most " : "exactly ") +
                           std::to_string(spec.maxpos) + " positional argument" +
                           (spec.maxpos == 1 ? "" : "s") + " (" + std::to_string(nargs) + " given)"));
  }
  const int minposonly = spec.required < spec.posonly ? spec.required : spec.posonly;
  if (nargs < minposonly) {
    return fail(type_error(fn_label(spec) + " takes " +
                           (minposonly < spec.maxpos ? "at least " : "exactly ") +
                           std::to_string(minposonly) + " positional argument" +
                           (minposonly == 1 ? "" : "s") + " (" + std::to_string(nargs) + " given)"));
  }
  return {};
}

PyStatus missing_required(const ArgSpec& spec, PyObject** out) {
  for (int i = 0; i < spec.required; ++i) {
    if (out[i] == nullptr) {
      return fail(type_error(fn_label(spec) + " missing required argument '" + spec.names[i] +
                             "' (pos " + std::to_string(i + 1) + ")"));
    }
  }
  return {};
}

PyErr unexpected_keyword(const ArgSpec& spec, PyObject* keyword) {
  OwnedRef repr = OwnedRef::steal(PyObject_Str(keyword));
  if (!repr) return PyErr::fetch();
  auto text = str_view(repr.get());
  if (!text) return std::move(text.error());
  return type_error("'" + std::string(*text) + "' is an invalid keyword argument for " + fn_label(spec));
}

// Places one keyword argument when it names a parameter not given by
// position; returns false for anything else (reported by report_keywords
// after the check for missing arguments, in the interpreter's order).
bool place_keyword(const ArgSpec& spec, PyObject* keyword, PyObject* value, Py_ssize_t nargs,
                   PyObject** out) noexcept {
  if (!PyUnicode_Check(keyword)) return false;
  const int index = find_param(spec, keyword);
  if (index < 0 || index < nargs) return false;
  out[index] = value;
  return true;
}

// The error for the keywords that place_keyword refused.
template <class ForEachKeyword>
PyErr report_keywords(const ArgSpec& spec, Py_ssize_t nargs, ForEachKeyword&& for_each) {
  // A parameter given both by position and by name.
  PyObject* both = nullptr;
  for_each([&](PyObject* keyword) {
    if (both == nullptr && PyUnicode_Check(keyword)) {
      const int index = find_param(spec, keyword);
      if (index >= 0 && index < nargs) both = keyword;
    }
  });
  if (both != nullptr) {
    const int index = find_param(spec, both);
    return type_error("argument for " + fn_label(spec) + " given by name ('" + spec.names[index] +
                      "') and position (" + std::to_string(index + 1) + ")");
  }
  PyObject* bad = nullptr;
  bool non_str = false;
  for_each([&](PyObject* keyword) {
    if (bad != nullptr || non_str) return;
    if (!PyUnicode_Check(keyword)) {
      non_str = true;
    } else if (find_param(spec, keyword) < 0) {
      bad = keyword;
    }
  });
  if (non_str) return type_error("keywords must be strings");
  if (bad != nullptr) return unexpected_keyword(spec, bad);
  return PyErr::internal_fault("keyword argument rejected without a reason");
}

}  // namespace

PyStatus parse_fastcall(const ArgSpec& spec, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames, PyObject** out) {
  for (int i = 0; i < spec.count; ++i) out[i] = nullptr;
  const Py_ssize_t nkwargs = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  KESTRINE_TRY(check_positional(spec, nargs, nkwargs));
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  bool refused = false;
  for (Py_ssize_t k = 0; k < nkwargs; ++k) {
    if (!place_keyword(spec, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], nargs, out)) refused = true;
  }
  KESTRINE_TRY(missing_required(spec, out));
  if (refused) {
    return fail(report_keywords(spec, nargs, [&](auto&& visit) {
      for (Py_ssize_t k = 0; k < nkwargs; ++k) visit(PyTuple_GET_ITEM(kwnames, k));
    }));
  }
  return {};
}

PyStatus parse_tuple_dict(const ArgSpec& spec, PyObject* args, PyObject* kwargs, PyObject** out) {
  for (int i = 0; i < spec.count; ++i) out[i] = nullptr;
  if (args == nullptr || !PyTuple_Check(args)) return fail(type_error("argument list must be a tuple"));
  if (kwargs != nullptr && !PyDict_Check(kwargs)) return fail(type_error("keyword arguments must be a dict"));
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  const Py_ssize_t nkwargs = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
  KESTRINE_TRY(check_positional(spec, nargs, nkwargs));
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GET_ITEM(args, i);
  if (kwargs == nullptr) return missing_required(spec, out);
  Py_ssize_t pos = 0;
  PyObject *key = nullptr, *value = nullptr;
  bool refused = false;
  while (PyDict_Next(kwargs, &pos, &key, &value)) {
    if (!place_keyword(spec, key, value, nargs, out)) refused = true;
  }
  KESTRINE_TRY(missing_required(spec, out));
  if (refused) {
    return fail(report_keywords(spec, nargs, [&](auto&& visit) {
      Py_ssize_t p = 0;
      PyObject *k = nullptr, *v = nullptr;
      while (PyDict_Next(kwargs, &p, &k, &v)) visit(k);
    }));
  }
  return {};
}

PyErr argument_type_error(std::string_view function, std::string_view argument, std::string_view expected,
                          PyObject* got) {
  std::string message;
  if (!function.empty()) message.append(function).append("() ");
  message.append("argument '").append(argument).append("' must be ").append(expected).append(", not ");
  message += type_name_text(Py_TYPE(got));
  return PyErr::type_error(message);
}

PyStatus check_null_style_options(Options option) noexcept {
  if ((option & OPT_NULL_AS_KEYWORD) != 0 && (option & OPT_NULL_AS_TILDE) != 0) {
    return fail(PyErr::value_error("OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive"));
  }
  return {};
}

}  // namespace kestrine
