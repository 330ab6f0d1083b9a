// The plain decoder's error record.
#pragma once

#include <cstdint>
#include <string>

#include "scanner/span.hpp"

namespace kestrine {

enum class DecoderErrorKind : std::uint8_t {
  Parse = 0,         // scanner, structure and directive errors, undefined handles/aliases, limits
  DuplicateKey = 1,
  ComplexKey = 2,
};

struct DecoderError {
  std::string message;
  Span span;  // all zero when the error lies past the last event
  DecoderErrorKind kind = DecoderErrorKind::Parse;
};

}  // namespace kestrine
