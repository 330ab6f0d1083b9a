#include "ffi/input.hpp"

#include "ffi/errors.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

// The unsigned-byte item formats a buffer may declare ("B", with an optional
// byte-order or size prefix, which means nothing for single bytes).
bool is_byte_format(const char* format) noexcept {
  if (format == nullptr) return true;
  if (*format == '@' || *format == '=' || *format == '<' || *format == '>' || *format == '!') ++format;
  return format[0] == 'B' && format[1] == '\0';
}

PyErr unsupported_input() noexcept { return PyErr::type_error(kUnsupportedInputMessage); }

// Bytes to text: valid UTF-8 is kept as `keep_utf8()` says (in place, or the
// copy itself), anything else is transcoded into an owned text.
template <class KeepUtf8>
PyResult<InputText> text_from_bytes(std::string_view bytes, KeepUtf8&& keep_utf8) {
  if (sniff_encoding(bytes) == InputEncoding::Utf8) {
    if (auto bad = check_utf8(bytes)) return fail(decode_error_to_py(*bad));
    return keep_utf8();
  }
  auto text = detect_encoding(bytes);
  if (!text) return fail(decode_error_to_py(text.error()));
  return InputText::owned(std::move(*text));
}

// Bytes that the caller keeps alive and unchanged: UTF-8 is used in place.
PyResult<InputText> text_from_stable_bytes(PyObject* owner, std::string_view bytes) {
  return text_from_bytes(bytes, [&] { return InputText::borrowed(OwnedRef::borrow(owner), bytes); });
}

// Bytes copied out of a mutable or non-contiguous source: UTF-8 keeps the
// copy.
PyResult<InputText> text_from_copied_bytes(std::string raw) {
  return text_from_bytes(raw, [&] { return InputText::owned(std::move(raw)); });
}

PyResult<InputText> text_from_buffer(PyObject* data) {
  Py_buffer view;
  if (PyObject_GetBuffer(data, &view, PyBUF_FULL_RO) != 0) {
    PyErr_Clear();
    return fail(unsupported_input());
  }
  struct Release {
    Py_buffer* v;
    ~Release() { PyBuffer_Release(v); }
  } release{&view};
  if (view.shape == nullptr || view.strides == nullptr || view.itemsize != 1 || !is_byte_format(view.format)) {
    return fail(unsupported_input());
  }
  std::string raw(static_cast<std::size_t>(view.len), '\0');
  if (view.len > 0 && PyBuffer_ToContiguous(raw.data(), &view, view.len, 'C') != 0) return fail_fetch();
  return text_from_copied_bytes(std::move(raw));
}

}  // namespace

PyResult<InputText> input_to_text(PyObject* data) {
  if (PyUnicode_Check(data)) {
    KESTRINE_ASSIGN_OR_RETURN(std::string_view utf8, str_view(data));
    return InputText::borrowed(OwnedRef::borrow(data), utf8);
  }
  if (PyBytes_Check(data)) {
    return text_from_stable_bytes(
        data, std::string_view(PyBytes_AS_STRING(data), static_cast<std::size_t>(PyBytes_GET_SIZE(data))));
  }
  if (PyByteArray_Check(data)) {
    // A bytearray can change under us (another thread, a tag callback):
    // always work on a copy.
    return text_from_copied_bytes(
        std::string(PyByteArray_AS_STRING(data), static_cast<std::size_t>(PyByteArray_GET_SIZE(data))));
  }
  return text_from_buffer(data);
}

}  // namespace kestrine
