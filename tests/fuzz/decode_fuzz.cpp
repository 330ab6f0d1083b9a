// libFuzzer target: the plain decoder (scan + decode) over arbitrary bytes, in
// the YAML 1.2, YAML 1.1 and PyYAML-compatible readings.  Besides the
// sanitizers it checks what every caller of decode_stream relies on: errors
// carry a message and a position inside the text, a result stays valid when
// it is moved and when it owns its text (decode_stream_owned), and the
// verdict alone (check_stream, which builds no document) is the decoder's.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "decode/decoder.hpp"
#include "decode/value.hpp"
#include "same_documents.hpp"

namespace {

using kestrine::DecodedStream;
using kestrine::DecodeOptions;
using kestrine::VersionMode;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "decode_fuzz: %s\n", what);
  __builtin_trap();
}

void require(bool ok, const char* what) {
  if (!ok) fail(what);
}

void decode_in(std::string_view text, const DecodeOptions& opts) {
  auto result = kestrine::decode_stream(text, opts);
  // The same bytes in a buffer of their own that the result takes over.
  auto owned = kestrine::decode_stream_owned(std::string(text), opts);
  require(result.has_value() == owned.has_value(), "decode_stream and decode_stream_owned disagree");
  const auto verdict = kestrine::check_stream(text, opts);
  require(verdict.has_value() != result.has_value(), "check_stream and decode_stream disagree");
  if (!result) {
    const kestrine::DecoderError& e = result.error();
    require(!e.message.empty(), "error without a message");
    require(e.span.offset <= text.size(), "error position past the end of the text");
    // The span is all zero when the error lies past the last event.
    const bool zero = e.span.offset == 0 && e.span.line == 0 && e.span.column == 0 && e.span.file_id == 0;
    require(e.span.file_id == opts.file_id || zero, "error carries another file number");
    require(e.message == owned.error().message && e.kind == owned.error().kind,
            "decode_stream and decode_stream_owned fail differently");
    require(e.message == verdict->message && e.kind == verdict->kind && e.span == verdict->span,
            "check_stream and decode_stream fail differently");
    return;
  }
  for (const std::string& w : result->warnings) require(!w.empty(), "empty warning");
  // Moving the result keeps every view valid (arena chunks and the owned text
  // do not move); comparing walks every node and reads every text.
  DecodedStream moved = std::move(*owned);
  require(kestrine::fuzz::same_documents(*result, moved), "decode_stream_owned reads other values");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Policies vary with the length so that the corpus covers all of them
  // without spending input bytes on them.
  DecodeOptions opts;
  opts.duplicate_keys = static_cast<kestrine::DuplicateKeyPolicy>(size % 3);
  opts.reject_complex_keys = (size / 3) % 2 == 1;
  opts.timestamps = (size / 6) % 2 == 1;
  opts.file_id = 5;
  for (VersionMode mode : {VersionMode::Yaml12, VersionMode::Yaml11, VersionMode::PyyamlCompat}) {
    opts.version_mode = mode;
    opts.yaml11_warnings = mode != VersionMode::Yaml12 && (size / 12) % 2 == 1;
    decode_in(text, opts);
  }
  return 0;
}
