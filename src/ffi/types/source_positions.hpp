// The positions an annotated value carries, as C integers: lines and columns
// are 1-based (the end position is the one just past the last character),
// offsets 0-based byte offsets.  The scalar record and the container record
// both start with them.
#pragma once

#include <cstdint>

namespace kestrine {

struct SourcePositions {
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  std::uint32_t end_line = 0;
  std::uint32_t end_column = 0;
  std::uint64_t offset = 0;
  std::uint64_t end_offset = 0;
};

}  // namespace kestrine
