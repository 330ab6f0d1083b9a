// The round-trip composer's error record; the round-trip duplicate-key check
// reports its errors in the same shape.
#pragma once

#include <string>

#include "scanner/span.hpp"

namespace kestrine {

struct ComposeError {
  std::string message;
  Span span;
};

}  // namespace kestrine
