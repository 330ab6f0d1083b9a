#include "ffi/input.hpp"

#include "ffi/errors.hpp"
#include "util/try.hpp"
#include "util/utf8.hpp"

namespace kestrine {
namespace {

inline bool is_continuation_byte(unsigned char c) noexcept { return (c & 0xC0) == 0x80; }

inline std::uint32_t load16(const unsigned char* p, bool big_endian) noexcept {
  return big_endian ? (std::uint32_t(p[0]) << 8) | p[1] : (std::uint32_t(p[1]) << 8) | p[0];
}

inline std::uint32_t load32(const unsigned char* p, bool big_endian) noexcept {
  return big_endian ? (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3]
                    : (std::uint32_t(p[3]) << 24) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
}

// The unsigned-byte item formats a buffer may declare ("B", with an optional
// byte-order or size prefix, which means nothing for single bytes).
bool is_byte_format(const char* format) noexcept {
  if (format == nullptr) return true;
  if (*format == '@' || *format == '=' || *format == '<' || *format == '>' || *format == '!') ++format;
  return format[0] == 'B' && format[1] == '\0';
}

PyErr unsupported_input() noexcept { return PyErr::type_error(kUnsupportedInputMessage); }

// Byte length of the Unicode white-space character at `p` (0 if none).
std::size_t white_space_len(std::string_view s, std::size_t i) noexcept {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
  if (c < 0xC2) return 0;
  const std::size_t left = s.size() - i;
  const auto b1 = left > 1 ? static_cast<unsigned char>(s[i + 1]) : 0;
  const auto b2 = left > 2 ? static_cast<unsigned char>(s[i + 2]) : 0;
  if (c == 0xC2) return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;          // U+0085, U+00A0
  if (c == 0xE1) return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;          // U+1680
  if (c == 0xE2) {
    if (b1 == 0x80) return ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF) ? 3 : 0;
    if (b1 == 0x81) return b2 == 0x9F ? 3 : 0;                        // U+205F
    return 0;
  }
  if (c == 0xE3) return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;          // U+3000
  return 0;
}

std::size_t skip_white_space(std::string_view s, std::size_t i) noexcept {
  while (i < s.size()) {
    const std::size_t n = white_space_len(s, i);
    if (n == 0) break;
    i += n;
  }
  return i;
}

std::size_t word_end(std::string_view s, std::size_t i) noexcept {
  while (i < s.size() && white_space_len(s, i) == 0) ++i;
  return i;
}

std::optional<std::uint32_t> parse_u32_digits(std::string_view digits) noexcept {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char ch : digits) {
    if (ch < '0' || ch > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(ch - '0');
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<YamlVersion> parse_version_word(std::string_view word) noexcept {
  const std::size_t dot = word.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  auto major = parse_u32_digits(word.substr(0, dot));
  auto minor = parse_u32_digits(word.substr(dot + 1));
  if (!major || !minor) return std::nullopt;
  return YamlVersion{*major, *minor};
}

}  // namespace

// ---------------------------------------------------------------------------
// Encodings

InputEncoding sniff_encoding(std::string_view bytes) noexcept {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  if (n >= 4 && b[0] == 0x00 && b[1] == 0x00 && b[2] == 0xFE && b[3] == 0xFF) return InputEncoding::Utf32Be;
  if (n >= 4 && b[0] == 0xFF && b[1] == 0xFE && b[2] == 0x00 && b[3] == 0x00) return InputEncoding::Utf32Le;
  if (n < 2) return InputEncoding::Utf8;
  if (b[0] == 0xFE && b[1] == 0xFF) return InputEncoding::Utf16Be;
  if (b[0] == 0xFF && b[1] == 0xFE) return InputEncoding::Utf16Le;
  if (n >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0) return InputEncoding::Utf32Be;
  if (n >= 4 && b[1] == 0 && b[2] == 0 && b[3] == 0) return InputEncoding::Utf32Le;
  if (b[0] != 0 && b[1] != 0) return InputEncoding::Utf8;
  if (b[0] != 0) return InputEncoding::Utf16Le;
  return InputEncoding::Utf16Be;
}

std::optional<DecodeFailure> check_utf8(std::string_view bytes) {
  const std::size_t valid = utf8_valid_prefix(bytes.data(), bytes.size());
  if (valid == bytes.size()) return std::nullopt;
  // Classify the fault at `valid`: the length of the invalid sequence (the
  // longest prefix of it that could have started a character), or an input
  // that ends inside a sequence that could still have been valid.
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + valid;
  const std::size_t left = bytes.size() - valid;
  const unsigned char c = p[0];
  int width = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    width = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    width = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    width = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  }
  std::optional<int> error_len;
  if (width == 0) {
    error_len = 1;
  } else {
    int i = 1;
    for (; i < width; ++i) {
      if (static_cast<std::size_t>(i) >= left) break;  // ran out: incomplete
      const unsigned char cc = p[i];
      const bool ok = i == 1 ? (cc >= lo && cc <= hi) : is_continuation_byte(cc);
      if (!ok) {
        error_len = i;
        break;
      }
    }
  }
  std::string message = "invalid UTF-8: ";
  if (error_len) {
    message += "invalid utf-8 sequence of " + std::to_string(*error_len) + " bytes from index " +
               std::to_string(valid);
  } else {
    message += "incomplete utf-8 byte sequence from index " + std::to_string(valid);
  }
  return message;
}

std::expected<std::string, DecodeFailure> decode_utf16(std::string_view bytes, bool big_endian) {
  if (bytes.size() % 2 != 0) {
    return std::unexpected(DecodeFailure("invalid UTF-16: byte count is not a multiple of 2"));
  }
  std::string out;
  if (bytes.empty()) return out;
  out.reserve(bytes.size() / 2 + bytes.size() / 8 + 16);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint32_t u = load16(p + 2 * i, big_endian);
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
      continue;
    }
    if (u < 0xD800 || u > 0xDFFF) {
      append_utf8(out, u);
      continue;
    }
    if (u <= 0xDBFF && i + 1 < units) {
      const std::uint32_t low = load16(p + 2 * (i + 1), big_endian);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    return std::unexpected(DecodeFailure("invalid UTF-16: unpaired surrogate"));
  }
  return out;
}

std::expected<std::string, DecodeFailure> decode_utf32(std::string_view bytes, bool big_endian) {
  if (bytes.size() % 4 != 0) {
    return std::unexpected(DecodeFailure("invalid UTF-32: byte count is not a multiple of 4"));
  }
  std::string out;
  if (bytes.empty()) return out;
  out.reserve(bytes.size() / 4 + 16);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    const std::uint32_t u = load32(p + i, big_endian);
    if (u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) {
      return std::unexpected(DecodeFailure("invalid UTF-32: not a Unicode scalar value"));
    }
    append_utf8(out, u);
  }
  return out;
}

std::expected<std::string, DecodeFailure> detect_encoding(std::string_view bytes) {
  switch (sniff_encoding(bytes)) {
    case InputEncoding::Utf8:
      if (auto bad = check_utf8(bytes)) return std::unexpected(std::move(*bad));
      return std::string(bytes);
    case InputEncoding::Utf16Le:
      return decode_utf16(bytes, false);
    case InputEncoding::Utf16Be:
      return decode_utf16(bytes, true);
    case InputEncoding::Utf32Le:
      return decode_utf32(bytes, false);
    case InputEncoding::Utf32Be:
      return decode_utf32(bytes, true);
  }
  return std::string(bytes);
}

// ---------------------------------------------------------------------------
// Python objects to text

namespace {

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

// ---------------------------------------------------------------------------
// The leading %YAML directive

std::optional<YamlVersion> sniff_yaml_version(std::string_view text) noexcept {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  std::size_t pos = 0;
  bool prefix = true;  // only blank and comment lines so far
  while (pos <= text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(pos, eol - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // A byte order mark may start the stream and each line of the prefix
    // before the first directive, as the scanner reads it.
    while (prefix && line.starts_with(kByteOrderMark)) line.remove_prefix(3);
    const std::size_t start = skip_white_space(line, 0);
    line.remove_prefix(start);
    if (!line.empty()) {
      if (line.front() == '#') {
        // a comment line
      } else if (line.front() == '%') {
        prefix = false;
        const std::size_t w1 = skip_white_space(line, 1);
        const std::size_t w1_end = word_end(line, w1);
        if (line.substr(w1, w1_end - w1) == "YAML") {
          const std::size_t w2 = skip_white_space(line, w1_end);
          const std::size_t w2_end = word_end(line, w2);
          const std::string_view word = line.substr(w2, w2_end - w2);
          if (word.empty() || word.front() == '#') return std::nullopt;
          return parse_version_word(word);
        }
      } else {
        return std::nullopt;  // content, "---" or "..."
      }
    }
    if (eol == text.size()) break;
    pos = eol + 1;
  }
  return std::nullopt;
}

}  // namespace kestrine
