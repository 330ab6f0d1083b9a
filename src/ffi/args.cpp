#include "ffi/args.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "util/try.hpp"

namespace kestrine {
namespace {

std::string fn_label(const ArgSpec& spec) { return std::string(spec.fname) + "()"; }

// Compares a keyword (a str) with a parameter name (ASCII).
bool keyword_is(PyObject* keyword, const char* name) noexcept {
  if (const auto text = compact_ascii_view(keyword)) return *text == name;
  return PyUnicode_CompareWithASCIIString(keyword, name) == 0;  // str subclasses, non-ASCII text
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

#if PY_VERSION_HEX >= 0x030D0000
// The parameter name closest to a keyword that names none, as the
// interpreter's own parser suggests it ("Did you mean ...?"), or nullptr.
// The same edit distance over UTF-8 bytes: a move costs 2, a change of
// letter case 1, and a name qualifies when at most a third of the characters
// involved change; among equals the first parameter wins.
constexpr std::size_t kMoveCost = 2;
constexpr std::size_t kCaseCost = 1;
constexpr std::size_t kMaxSuggestedLength = 40;

std::size_t substitution_cost(unsigned char a, unsigned char b) noexcept {
  if ((a & 31) != (b & 31)) return kMoveCost;
  if (a == b) return 0;
  const auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  return lower(a) == lower(b) ? kCaseCost : kMoveCost;
}

// The distance between `a` and `b`, or anything above `max_cost` when it
// exceeds `max_cost`.
std::size_t edit_distance(std::string_view a, std::string_view b, std::size_t max_cost) noexcept {
  while (!a.empty() && !b.empty() && a.front() == b.front()) a.remove_prefix(1), b.remove_prefix(1);
  while (!a.empty() && !b.empty() && a.back() == b.back()) a.remove_suffix(1), b.remove_suffix(1);
  if (a.empty() || b.empty()) return (a.size() + b.size()) * kMoveCost;
  if (a.size() > kMaxSuggestedLength || b.size() > kMaxSuggestedLength) return max_cost + 1;
  if (b.size() < a.size()) std::swap(a, b);
  if ((b.size() - a.size()) * kMoveCost > max_cost) return max_cost + 1;
  std::size_t row[kMaxSuggestedLength];
  for (std::size_t i = 0; i < a.size(); ++i) row[i] = (i + 1) * kMoveCost;
  std::size_t result = 0;
  for (std::size_t bi = 0; bi < b.size(); ++bi) {
    std::size_t distance = result = bi * kMoveCost;
    std::size_t minimum = SIZE_MAX;
    for (std::size_t ai = 0; ai < a.size(); ++ai) {
      const std::size_t substitute =
          distance + substitution_cost(static_cast<unsigned char>(b[bi]), static_cast<unsigned char>(a[ai]));
      distance = row[ai];
      result = std::min(std::min(result, distance) + kMoveCost, substitute);
      row[ai] = result;
      minimum = std::min(minimum, result);
    }
    if (minimum > max_cost) return max_cost + 1;
  }
  return result;
}

const char* closest_parameter(const ArgSpec& spec, PyObject* keyword) noexcept {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
  if (utf8 == nullptr) {
    PyErr_Clear();  // lone surrogates: no suggestion, as the interpreter gives none
    return nullptr;
  }
  const std::string_view name(utf8, static_cast<std::size_t>(size));
  const char* best = nullptr;
  std::size_t best_distance = SIZE_MAX;
  for (int i = spec.posonly; i < spec.count; ++i) {
    const std::string_view candidate = spec.names[i];
    if (candidate == name) continue;
    std::size_t max_distance = (name.size() + candidate.size() + 3) * kMoveCost / 6;
    max_distance = std::min(max_distance, best_distance - 1);
    const std::size_t distance = edit_distance(name, candidate, max_distance);
    if (distance > max_distance) continue;
    if (best == nullptr || distance < best_distance) best = spec.names[i], best_distance = distance;
  }
  return best;
}
#endif

// The interpreter's words for a keyword that names no parameter.  Its parser
// reworded them in 3.13 and added the suggestion of a close parameter name.
PyErr unexpected_keyword(const ArgSpec& spec, PyObject* keyword) {
#if PY_VERSION_HEX >= 0x030D0000
  const char* suggestion = closest_parameter(spec, keyword);
  OwnedRef message = OwnedRef::steal(
      suggestion != nullptr
          ? PyUnicode_FromFormat("%s() got an unexpected keyword argument '%S'. Did you mean '%s'?", spec.fname,
                                 keyword, suggestion)
          : PyUnicode_FromFormat("%s() got an unexpected keyword argument '%S'", spec.fname, keyword));
#else
  OwnedRef message =
      OwnedRef::steal(PyUnicode_FromFormat("'%S' is an invalid keyword argument for %s()", keyword, spec.fname));
#endif
  if (!message) return PyErr::fetch();
  return PyErr::new_error_obj(PyExc_TypeError, message.get());
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
  // A parameter given both by position and by name: the first such
  // parameter, in parameter order.
  for (int index = spec.posonly; index < nargs; ++index) {
    bool named = false;
    for_each([&](PyObject* keyword) {
      named = named || (PyUnicode_Check(keyword) && keyword_is(keyword, spec.names[index]));
    });
    if (named) {
      return type_error("argument for " + fn_label(spec) + " given by name ('" + spec.names[index] +
                        "') and position (" + std::to_string(index + 1) + ")");
    }
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
  message += got == Py_None ? "None" : Py_TYPE(got)->tp_name;
  return PyErr::type_error(message);
}

PyErr with_argument_note(PyErr err, const char* name) noexcept {
  OwnedRef note = OwnedRef::steal(PyUnicode_FromFormat("while processing '%s'", name));
  if (note) {
    OwnedRef r = OwnedRef::steal(PyObject_CallMethod(err.value(), "add_note", "O", note.get()));
    if (!r) PyErr_Clear();
  } else {
    PyErr_Clear();
  }
  return err;
}

PyResult<std::uint64_t> read_u64_argument(PyObject* arg, const char* name, std::string_view function) {
  if (arg == nullptr || arg == Py_None) return 0;
  if (!PyIndex_Check(arg)) return fail(with_argument_note(argument_type_error(function, name, "int", arg), name));
  OwnedRef index = OwnedRef::steal(PyNumber_Index(arg));
  if (!index) return fail(with_argument_note(PyErr::fetch(), name));
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr original = PyErr::fetch();
    std::string message;
    if (!function.empty()) message.append(function).append("() ");
    message.append("argument '").append(name).append("': ").append(original.message());
    return fail(with_argument_note(PyErr::new_error(original.type(), message), name));
  }
  return static_cast<std::uint64_t>(value);
}

PyStatus check_null_style_options(Options option) noexcept {
  if (null_styles_conflict(option)) return fail(PyErr::value_error(kNullStylesConflictMessage));
  return {};
}

}  // namespace kestrine
