#include "roundtrip/compose/positions.hpp"

#include <algorithm>

#include "util/utf8.hpp"

namespace kestrine {

std::string_view last_line_break(std::string_view slice) noexcept {
  std::size_t pos = slice.find_last_of("\n\r");
  if (pos == std::string_view::npos) return slice;
  for (std::size_t i = pos + 1; i < slice.size(); ++i)
    if (slice[i] != ' ' && slice[i] != '\t') return slice;
  return slice.substr(0, pos + 1);
}

// The start offset of every line, built on the first call: only scalars
// spanning several lines need it, and most documents have few or none.
const LineIndex::LineStarts& LineIndex::line_starts() {
  if (!line_starts_.empty()) return line_starts_;
  line_starts_.push_back(text_.size() >= 3 && static_cast<unsigned char>(text_[0]) == 0xEF &&
                                 static_cast<unsigned char>(text_[1]) == 0xBB &&
                                 static_cast<unsigned char>(text_[2]) == 0xBF
                             ? 3
                             : 0);
  const char* data = text_.data();
  const std::size_t n = text_.size();
  if (std::memchr(data, '\r', n) == nullptr) {
    // The common case: LF only; let memchr find them.
    for (const char* p = data; (p = static_cast<const char*>(std::memchr(p, '\n', data + n - p)));)
      line_starts_.push_back(static_cast<std::size_t>(++p - data));
    return line_starts_;
  }
  for (std::size_t i = 0; i < n; ++i) {
    char c = data[i];
    if (c == '\n') {
      line_starts_.push_back(i + 1);
    } else if (c == '\r') {
      if (i + 1 < n && data[i + 1] == '\n') ++i;
      line_starts_.push_back(i + 1);
    }
  }
  return line_starts_;
}

// (line, column) of a byte offset that lies on line `from` or later.
std::pair<std::uint32_t, std::uint32_t> LineIndex::locate(std::size_t offset, std::uint32_t from) {
  const LineStarts& starts = line_starts();
  offset = std::min(offset, text_.size());
  const std::size_t count = starts.size();
  std::size_t line = std::min<std::size_t>(from, count - 1);
  if (starts[line] > offset) line = 0;
  // Ends usually lie a few lines further: step, then search the rest.
  int steps = 0;
  while (line + 1 < count && starts[line + 1] <= offset && ++steps <= 16) ++line;
  if (steps > 16) {
    auto it = std::upper_bound(starts.begin() + static_cast<std::ptrdiff_t>(line),
                               starts.end(), offset);
    line = static_cast<std::size_t>(it - starts.begin()) - 1;
  }
  std::size_t ls = std::min(starts[line], offset);
  return {static_cast<std::uint32_t>(line), static_cast<std::uint32_t>(utf8_char_count(text_.substr(ls, offset - ls)))};
}

}  // namespace kestrine
