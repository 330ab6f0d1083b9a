// Input decoding: every function that reads YAML accepts a str, bytes,
// bytearray or any byte buffer, in UTF-8, UTF-16 or UTF-32, and works on one
// UTF-8 text from then on.
//
//   auto text = input_to_text(data);          // PyResult<InputText>
//   std::string_view utf8 = text->text();     // valid UTF-8, BOM kept
//
// A leading byte-order mark stays in the text (EF BB BF); the scanner and
// the version sniff skip it.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "ffi/py.hpp"

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

// The message of a decode failure (raised as KestrineDecodeError).
using DecodeFailure = std::string;

// The TypeError message for data of no accepted kind (all reading functions
// name loads()).
inline constexpr std::string_view kUnsupportedInputMessage =
    "loads() requires str, bytes, bytearray, or a buffer (e.g. memoryview)";

// `data` to its UTF-8 text.  Errors: the TypeError above, the interpreter's
// own exception for a str without UTF-8 form or a failed contiguous copy,
// KestrineDecodeError for undecodable bytes.  Requires the lock.
PyResult<InputText> input_to_text(PyObject* data);

// Raw bytes to an owned UTF-8 text, the encoding told by byte-order mark or
// by the pattern of zero bytes (see sniff_encoding).
std::expected<std::string, DecodeFailure> detect_encoding(std::string_view bytes);

// Which encoding detect_encoding picks for `bytes`.
enum class InputEncoding : std::uint8_t { Utf8, Utf16Le, Utf16Be, Utf32Le, Utf32Be };
InputEncoding sniff_encoding(std::string_view bytes) noexcept;

// "invalid UTF-8: ..." for the first fault of `bytes`, or nothing when the
// bytes are valid UTF-8.
std::optional<DecodeFailure> check_utf8(std::string_view bytes);

std::expected<std::string, DecodeFailure> decode_utf16(std::string_view bytes, bool big_endian);
std::expected<std::string, DecodeFailure> decode_utf32(std::string_view bytes, bool big_endian);

// The version of a leading %YAML directive: only blank lines, comments and
// other directives may come before it.
struct YamlVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  friend bool operator==(const YamlVersion&, const YamlVersion&) = default;
};
std::optional<YamlVersion> sniff_yaml_version(std::string_view text) noexcept;

}  // namespace kestrine
