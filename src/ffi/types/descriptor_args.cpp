#include "ffi/types/descriptor_args.hpp"

#include <cstring>
#include <string_view>
#include <utility>

namespace kestrine {
namespace {

PyErr wrong_type(const char* fname, const char* name, const char* expected, PyObject* arg) noexcept {
  PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %.200s", fname, name, expected,
               Py_TYPE(arg)->tp_name);
  return PyErr::fetch();
}

// NEL (C2 85), LINE SEPARATOR (E2 80 A8), PARAGRAPH SEPARATOR (E2 80 A9).
bool has_unicode_line_break(std::string_view text) noexcept {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b == 0xC2 && static_cast<unsigned char>(text[i + 1]) == 0x85) return true;
    if (b == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80) {
      const auto c = static_cast<unsigned char>(text[i + 2]);
      if (c == 0xA8 || c == 0xA9) return true;
    }
  }
  return false;
}

bool is_numpy_bool(PyObject* obj) noexcept {
  const char* name = Py_TYPE(obj)->tp_name;
  return std::strcmp(name, "numpy.bool_") == 0 || std::strcmp(name, "numpy.bool") == 0;
}

}  // namespace

PyResult<std::string> text_argument(PyObject* arg, const char* fname, const char* name) noexcept {
  if (!PyUnicode_Check(arg)) return fail(wrong_type(fname, name, "str", arg));
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(arg, &size);
  if (data == nullptr) return fail_fetch();
  try {
    return std::string(data, static_cast<std::size_t>(size));
  } catch (...) {
    return fail(PyErr::memory_error());
  }
}

PyResult<std::optional<std::string>> optional_text_argument(PyObject* arg, const char* fname,
                                                            const char* name) noexcept {
  if (arg == nullptr || arg == Py_None) return std::optional<std::string>();
  if (!PyUnicode_Check(arg)) return fail(wrong_type(fname, name, "str or None", arg));
  auto text = text_argument(arg, fname, name);
  if (!text) return fail(std::move(text.error()));
  return std::optional<std::string>(std::move(*text));
}

PyResult<std::optional<bool>> flow_argument(PyObject* arg, const char* fname) noexcept {
  if (arg == nullptr || arg == Py_None) return std::optional<bool>();
  if (PyBool_Check(arg)) return std::optional<bool>(arg == Py_True);
  if (is_numpy_bool(arg)) {
    const int truth = PyObject_IsTrue(arg);
    if (truth < 0) return fail_fetch();
    return std::optional<bool>(truth != 0);
  }
  return fail(wrong_type(fname, "flow", "bool or None", arg));
}

PyStatus check_inline_comment(const std::optional<std::string>& comment) noexcept {
  if (!comment) return {};
  if (comment->find_first_of("\r\n") != std::string::npos || has_unicode_line_break(*comment)) {
    return fail(PyErr::value_error(
        "an inline comment cannot contain a line break; use comment_before or comment_after for a "
        "multi-line comment"));
  }
  return {};
}

PyResult<std::optional<std::string>> split_comment_lines(std::optional<std::string> text) noexcept {
  if (!text) return text;
  if (has_unicode_line_break(*text)) {
    return fail(PyErr::value_error(
        "a comment cannot contain NEL, LS, or PS line breaks; use \\n to separate comment lines"));
  }
  if (text->find('\r') == std::string::npos) return text;
  try {
    std::string out;
    out.reserve(text->size());
    for (std::size_t i = 0; i < text->size(); ++i) {
      const char c = (*text)[i];
      if (c == '\r') {
        out.push_back('\n');
        if (i + 1 < text->size() && (*text)[i + 1] == '\n') ++i;
      } else {
        out.push_back(c);
      }
    }
    return std::optional<std::string>(std::move(out));
  } catch (...) {
    return fail(PyErr::memory_error());
  }
}

PyResult<DescriptorText> extract_comments(PyObject* comment, PyObject* comment_before,
                                          PyObject* comment_after, const char* fname) noexcept {
  DescriptorText out;
  auto c = optional_text_argument(comment, fname, "comment");
  if (!c) return fail(std::move(c.error()));
  auto before = optional_text_argument(comment_before, fname, "comment_before");
  if (!before) return fail(std::move(before.error()));
  auto after = optional_text_argument(comment_after, fname, "comment_after");
  if (!after) return fail(std::move(after.error()));
  out.comment = std::move(*c);
  out.comment_before = std::move(*before);
  out.comment_after = std::move(*after);
  return out;
}

PyStatus normalize_comments(DescriptorText& text) noexcept {
  if (auto ok = check_inline_comment(text.comment); !ok) return ok;
  auto before = split_comment_lines(std::move(text.comment_before));
  if (!before) return fail(std::move(before.error()));
  text.comment_before = std::move(*before);
  auto after = split_comment_lines(std::move(text.comment_after));
  if (!after) return fail(std::move(after.error()));
  text.comment_after = std::move(*after);
  return {};
}

PyResult<OwnedRef> coerce_to_list(PyObject* obj) noexcept {
  if (PyList_Check(obj) || PyTuple_Check(obj)) return OwnedRef::borrow(obj);
  return checked(PySequence_List(obj));
}

PyResult<CollectionFields> collection_fields_from_args(const ArgSpec& spec, PyObject* args,
                                                       PyObject* kwargs) noexcept {
  PyObject* arg[6];
  if (auto ok = parse_tuple_dict(spec, args, kwargs, arg); !ok) return fail(std::move(ok.error()));
  auto tag = optional_text_argument(arg[1], spec.fname, "tag");
  if (!tag) return fail(std::move(tag.error()));
  auto flow = flow_argument(arg[2], spec.fname);
  if (!flow) return fail(std::move(flow.error()));
  auto text = extract_comments(arg[3], arg[4], arg[5], spec.fname);
  if (!text) return fail(std::move(text.error()));
  auto collection = coerce_to_list(arg[0]);
  if (!collection) return fail(std::move(collection.error()));
  if (auto ok = normalize_comments(*text); !ok) return fail(std::move(ok.error()));
  CollectionFields out;
  out.collection = std::move(*collection);
  out.text = std::move(*text);
  out.text.tag = std::move(*tag);
  out.flow = *flow;
  return out;
}

PyObject* optional_text_to_py(const std::optional<std::string>& text) noexcept {
  if (!text) Py_RETURN_NONE;
  return PyUnicode_DecodeUTF8(text->data(), static_cast<Py_ssize_t>(text->size()), "strict");
}

}  // namespace kestrine
