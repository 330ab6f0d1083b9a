// Composing a text that must first pass the plain decoder, so that a road
// built on composed trees refuses exactly what the plain road refuses (the
// located road under OPT_ANNOTATED or OPT_REJECT_COMPLEX_KEYS).
//
//   CheckedCompose load = checked_compose(text, check_pass_options(settings), true);
//   if (load.check_error) ... the decoder's error ... else if (load.compose_error) ...
//   use(load.composed.roots);
//
// The text is scanned once: the decoder's verdict and the composer read the
// same events, and the verdict comes first.  Each step runs only when the
// ones before it succeeded.  Pure: touches no Python object and keeps no
// state, so callers may run it with the interpreter lock released.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "decode/decoder.hpp"
#include "roundtrip/compose/composer.hpp"

namespace kestrine {

struct CheckedCompose {
  std::optional<DecoderError> check_error;  // the plain decoder's verdict, when asked
  std::optional<ComposeError> compose_error;
  ComposedStream composed;
};

// `check`: the plain decoder's options for its verdict; nothing composes
// without one.  A scan error is reported as the plain decoder reports it.
CheckedCompose checked_compose(std::string_view text, const std::optional<DecodeOptions>& check,
                               bool empty_document_as_null);

// The first text of a load's source-file table (absent entries skipped) that
// the plain decoder refuses, and where it stands in the table.
struct SourceCheckError {
  std::size_t index = 0;
  DecoderError error;
};
std::optional<SourceCheckError> check_source_texts(std::span<const std::optional<std::string>> texts,
                                                   const DecodeOptions& options);

}  // namespace kestrine
