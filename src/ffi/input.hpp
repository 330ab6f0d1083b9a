// Input reading: every function that reads YAML accepts a str, bytes,
// bytearray or any byte buffer, and works on one UTF-8 text from then on.
//
//   auto text = input_to_text(data);          // PyResult<InputText>
//   std::string_view utf8 = text->text();     // valid UTF-8, BOM kept
//
// Which encoding bytes are in, and their decoding, is the core's
// (util/input_encoding.hpp); this side reads the Python objects and raises
// what the decoding refuses.
#pragma once

#include <string>
#include <string_view>

#include "ffi/py.hpp"
#include "util/input_encoding.hpp"

namespace kestrine {

// The decoded input of one call.  For str and bytes input that is already
// UTF-8 the text is a view of the object's own (immutable) buffer and the
// object is kept referenced; otherwise the text is owned.  Either way the
// text may be read without the interpreter lock for the life of the object.
class InputText {
 public:
  InputText() = default;
  static InputText owned(std::string text) noexcept {
    InputText t;
    t.owned_ = std::move(text);
    return t;
  }
  static InputText borrowed(OwnedRef keep, std::string_view view) noexcept {
    InputText t;
    t.keep_ = std::move(keep);
    t.view_ = view;
    return t;
  }

  std::string_view text() const noexcept { return keep_ ? view_ : std::string_view(owned_); }

 private:
  OwnedRef keep_;
  std::string_view view_;
  std::string owned_;
};

// The TypeError message for data of no accepted kind (all reading functions
// name loads()).
inline constexpr std::string_view kUnsupportedInputMessage =
    "loads() requires str, bytes, bytearray, or a buffer (e.g. memoryview)";

// `data` to its UTF-8 text.  Errors: the TypeError above, the interpreter's
// own exception for a str without UTF-8 form or a failed contiguous copy,
// KestrineDecodeError for undecodable bytes.  Requires the lock.
PyResult<InputText> input_to_text(PyObject* data);

}  // namespace kestrine
