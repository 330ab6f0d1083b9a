#include "ffi/types/descriptor_args.hpp"

#include <cstring>
#include <string_view>
#include <utility>

#include "ffi/comment_text.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

bool is_numpy_bool(PyObject* obj) noexcept {
  const char* name = Py_TYPE(obj)->tp_name;
  return std::strcmp(name, "numpy.bool_") == 0 || std::strcmp(name, "numpy.bool") == 0;
}

}  // namespace

PyResult<std::string> text_argument(PyObject* arg, const char* fname, const char* name) {
  if (!PyUnicode_Check(arg)) return fail(argument_type_error(fname, name, "str", arg));
  KESTRINE_ASSIGN_OR_RETURN(std::string_view text, str_view(arg));
  return std::string(text);
}

PyResult<std::optional<std::string>> optional_text_argument(PyObject* arg, const char* fname,
                                                            const char* name) {
  if (arg == nullptr || arg == Py_None) return std::optional<std::string>();
  if (!PyUnicode_Check(arg)) return fail(argument_type_error(fname, name, "str or None", arg));
  KESTRINE_ASSIGN_OR_RETURN(std::string text, text_argument(arg, fname, name));
  return std::optional<std::string>(std::move(text));
}

PyResult<std::optional<bool>> flow_argument(PyObject* arg, const char* fname) noexcept {
  if (arg == nullptr || arg == Py_None) return std::optional<bool>();
  if (PyBool_Check(arg)) return std::optional<bool>(arg == Py_True);
  if (is_numpy_bool(arg)) {
    const int truth = PyObject_IsTrue(arg);
    if (truth < 0) return fail_fetch();
    return std::optional<bool>(truth != 0);
  }
  return fail(argument_type_error(fname, "flow", "bool or None", arg));
}

PyResult<DescriptorText> extract_comments(PyObject* comment, PyObject* comment_before,
                                          PyObject* comment_after, const char* fname) {
  DescriptorText out;
  KESTRINE_ASSIGN_OR_RETURN(out.comment, optional_text_argument(comment, fname, "comment"));
  KESTRINE_ASSIGN_OR_RETURN(out.comment_before, optional_text_argument(comment_before, fname, "comment_before"));
  KESTRINE_ASSIGN_OR_RETURN(out.comment_after, optional_text_argument(comment_after, fname, "comment_after"));
  return out;
}

PyStatus normalize_comments(DescriptorText& text) {
  KESTRINE_TRY(check_inline_comment(text.comment));
  KESTRINE_ASSIGN_OR_RETURN(text.comment_before, split_comment_lines(std::move(text.comment_before)));
  KESTRINE_ASSIGN_OR_RETURN(text.comment_after, split_comment_lines(std::move(text.comment_after)));
  return {};
}

PyResult<OwnedRef> coerce_to_list(PyObject* obj) noexcept {
  if (PyList_Check(obj) || PyTuple_Check(obj)) return OwnedRef::borrow(obj);
  return checked(PySequence_List(obj));
}

PyResult<OwnedRef> reduce_descriptor(PyObject* self, PyObject* value, const DescriptorText& text,
                                     const char* extra_name, PyObject* extra_value) {
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef copyreg, checked(PyImport_ImportModule("copyreg")));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef make, checked(PyObject_GetAttrString(copyreg.get(), "__newobj_ex__")));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef kwargs, checked(PyDict_New()));
  const std::pair<const char*, const std::optional<std::string>*> texts[] = {
      {"tag", &text.tag},
      {"comment", &text.comment},
      {"comment_before", &text.comment_before},
      {"comment_after", &text.comment_after},
  };
  for (const auto& [name, field] : texts) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef item, optional_str(*field));
    KESTRINE_TRY(checked_status(PyDict_SetItemString(kwargs.get(), name, item.get())));
  }
  KESTRINE_TRY(checked_status(PyDict_SetItemString(kwargs.get(), extra_name, extra_value)));
  return checked(Py_BuildValue("O(O(O)O)", make.get(), reinterpret_cast<PyObject*>(Py_TYPE(self)), value,
                               kwargs.get()));
}

PyResult<CollectionFields> collection_fields_from_args(const ArgSpec& spec, PyObject* args,
                                                       PyObject* kwargs) {
  PyObject* arg[6];
  KESTRINE_TRY(parse_tuple_dict(spec, args, kwargs, arg));
  KESTRINE_ASSIGN_OR_RETURN(std::optional<std::string> tag, optional_text_argument(arg[1], spec.fname, "tag"));
  KESTRINE_ASSIGN_OR_RETURN(std::optional<bool> flow, flow_argument(arg[2], spec.fname));
  KESTRINE_ASSIGN_OR_RETURN(DescriptorText text, extract_comments(arg[3], arg[4], arg[5], spec.fname));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef collection, coerce_to_list(arg[0]));
  KESTRINE_TRY(normalize_comments(text));
  CollectionFields out;
  out.collection = std::move(collection);
  out.text = std::move(text);
  out.text.tag = std::move(tag);
  out.flow = flow;
  return out;
}

}  // namespace kestrine
