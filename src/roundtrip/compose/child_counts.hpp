// The number of children of each collection of a stream, found in one pass
// over the events before composing, so that the round-trip composer builds
// every collection straight into a list of its final size: children are
// placed once and never moved.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "scanner/scanner.hpp"

namespace kestrine {

// Entries are in the order of the collections' first events (the order the
// composer meets them).  The counts only size vectors: where the composer
// reads the events differently (invalid input) a vector merely grows.
struct ChildCount {
  std::uint32_t event;  // index of the MappingStart / SequenceStart, or of
                        // the first "-" of a sequence without indentation
  std::uint32_t count;
};

std::vector<ChildCount> count_children(std::span<const SpannedEvent> events);

}  // namespace kestrine
