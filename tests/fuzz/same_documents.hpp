// Shared by the fuzz targets: two decoded streams hold the same documents,
// value for value (NaN equals NaN through the debug rendering).
#pragma once

#include <cstddef>

#include "decode/decoder.hpp"
#include "decode/value.hpp"

namespace kestrine::fuzz {

inline bool same_documents(const DecodedStream& a, const DecodedStream& b) {
  if (a.documents.size() != b.documents.size()) return false;
  for (std::size_t i = 0; i < a.documents.size(); ++i)
    if (!values_equal(a.documents[i], b.documents[i]) &&
        debug_render_value(a.documents[i]) != debug_render_value(b.documents[i]))
      return false;
  return true;
}

}  // namespace kestrine::fuzz
