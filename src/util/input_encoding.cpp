#include "util/input_encoding.hpp"

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

}  // namespace

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

}  // namespace kestrine
