// The encoding of input bytes, and their decoding to UTF-8 text: UTF-8,
// UTF-16 or UTF-32, told by a byte-order mark or by the pattern of zero
// bytes at the start.
//
//   auto text = detect_encoding(std::string_view("\xFF\xFE" "a\0", 4));  // UTF-16LE with a mark
//   *text == "\xEF\xBB\xBF" "a"                                          // the mark as U+FEFF
//   detect_encoding("\xFE\xFF\xD8").error() == "invalid UTF-16: byte count is not a multiple of 2"
//
// A byte-order mark is never dropped: UTF-8 input keeps its EF BB BF, and the
// mark of UTF-16 and UTF-32 input becomes U+FEFF (EF BB BF) at the start of
// the text; the readers of the text skip it.  Failures are plain messages
// ("invalid UTF-8: ...", "invalid UTF-16: ...", "invalid UTF-32: ...") for
// the caller to report.  Pure functions; every result is owned by the caller.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace kestrine {

// The message of a decoding failure.
using DecodeFailure = std::string;

// Which encoding the input is in.  The first rule that holds decides:
// UTF-32 marks (00 00 FE FF, FF FE 00 00); fewer than two bytes: UTF-8;
// UTF-16 marks (FE FF, FF FE); three zero bytes first (UTF-32BE) or after
// the first byte (UTF-32LE); two non-zero bytes first: UTF-8; then a zero
// second byte is UTF-16LE, a zero first byte UTF-16BE.
enum class InputEncoding : std::uint8_t { Utf8, Utf16Le, Utf16Be, Utf32Le, Utf32Be };
InputEncoding sniff_encoding(std::string_view bytes) noexcept;

// Raw bytes to an owned UTF-8 text in the encoding sniff_encoding picks.
std::expected<std::string, DecodeFailure> detect_encoding(std::string_view bytes);

// "invalid UTF-8: ..." for the first fault of `bytes` (the length of the
// invalid sequence and where it starts, or the input ending inside one), or
// nothing when the bytes are valid UTF-8.
std::optional<DecodeFailure> check_utf8(std::string_view bytes);

// The transcoders; the whole input, a mark included, is decoded.
std::expected<std::string, DecodeFailure> decode_utf16(std::string_view bytes, bool big_endian);
std::expected<std::string, DecodeFailure> decode_utf32(std::string_view bytes, bool big_endian);

}  // namespace kestrine
