// Source positions shared by every stage that reads YAML text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrine {

// A position in the input. `line` and `column` are 0-based (shown 1-based);
// `column` counts characters, a tab counting one; `offset` is the byte offset
// into the UTF-8 text (a skipped byte-order mark included); `file_id` is the
// number of the source file (0 for the top-level text).
struct Span {
  std::uint32_t file_id = 0;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  std::size_t offset = 0;

  friend bool operator==(const Span&, const Span&) = default;
};

}  // namespace kestrine
