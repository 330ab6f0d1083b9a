// Position measuring for the round-trip composer: where a node ends, as a
// line and a column counted in characters.
//
// `measure` counts the characters of a slice and tells whether it crosses a
// line; only slices that do need `LineIndex::locate`, whose line table is
// built on the first call (most documents have few multi-line scalars).
// `LineIndex` refers to the text it measures, which must outlive it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "scanner/span.hpp"
#include "util/large_block.hpp"

namespace kestrine {

static_assert(std::endian::native == std::endian::little, "measure reads words little-endian");

struct Extent {
  std::uint32_t chars = 0;
  bool line_break = false;
};

// Characters in `s` and whether it holds a line break (LF or CR), eight
// bytes at a time.  `s` lies inside a buffer ending at `buffer_end`: a short
// text is read as one (masked) word when eight bytes are readable there.
// Inline: the composer measures every scalar.
[[gnu::always_inline]] inline Extent measure(std::string_view s, const char* buffer_end) noexcept {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  auto has_byte = [](std::uint64_t w, std::uint64_t b) {
    std::uint64_t v = w ^ (b * kOnes);
    return ((v - kOnes) & ~v & kHigh) != 0;
  };
  // Continuation bytes (10xxxxxx) of a word; zero bytes count for nothing.
  // (A multiply sums the per-byte flags: no popcount instruction needed.)
  auto continuations = [](std::uint64_t w) {
    const std::uint64_t flags = (w & ~(w << 1) & kHigh) >> 7;
    return static_cast<std::uint32_t>((flags * kOnes) >> 56);
  };
  const std::size_t n = s.size();
  const char* p = s.data();
  Extent e;
  std::uint32_t continuation = 0;
  std::uint64_t w;
  if (n < 8) {
    if (n == 0) return e;
    if (static_cast<std::size_t>(buffer_end - p) < 8) {
      for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        e.chars += (c & 0xC0) != 0x80;
        e.line_break |= c == '\n' || c == '\r';
      }
      return e;
    }
    std::memcpy(&w, p, 8);
    w &= ~std::uint64_t{0} >> (64 - 8 * n);  // little-endian: the first n bytes
    e.line_break = has_byte(w, '\n') || has_byte(w, '\r');
    e.chars = static_cast<std::uint32_t>(n) - continuations(w);
    return e;
  }
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::memcpy(&w, p + i, 8);
    continuation += continuations(w);
    e.line_break |= has_byte(w, '\n') || has_byte(w, '\r');
  }
  if (i < n) {
    // The last eight bytes, less those already counted.
    std::memcpy(&w, p + n - 8, 8);
    w >>= 8 * (8 - (n - i));
    continuation += continuations(w);
    e.line_break |= has_byte(w, '\n') || has_byte(w, '\r');
  }
  e.chars = static_cast<std::uint32_t>(n) - continuation;
  return e;
}

// A block scalar's source text ends where its scanning stopped, which may be
// inside the indentation of the next line; keep the slice up to its last line
// break when only blanks follow that break.
std::string_view last_line_break(std::string_view slice) noexcept;



// Line starts of one text (a leading byte-order mark is not part of line 0's
// columns) and the (line, column) of any offset in it.
class LineIndex {
 public:
  explicit LineIndex(std::string_view text) noexcept : text_(text) {}

  // (line, column) of a byte offset that lies on line `from` or later.
  std::pair<std::uint32_t, std::uint32_t> locate(std::size_t offset, std::uint32_t from);

  // (line, column) of `end`, the end of a slice that starts at `start`.
  // Measured from the start while the slice stays on one line (most
  // scalars), located through the line table otherwise.
  [[gnu::always_inline]] std::pair<std::uint32_t, std::uint32_t> end_of(const Span& start, std::size_t end) {
    const Extent ext = measure(std::string_view(text_.data() + start.offset, end - start.offset),
                               text_.data() + text_.size());
    if (!ext.line_break) return {start.line, start.column + ext.chars};
    return locate(end, start.line);
  }

 private:
  // One per line: a large vector is mapped on its own.
  using LineStarts = std::vector<std::size_t, BlockAllocator<std::size_t>>;
  const LineStarts& line_starts();

  std::string_view text_;
  LineStarts line_starts_;
};

}  // namespace kestrine
