// The number of children of each collection of a stream, found in one pass
// over the events before composing, so that the round-trip composer builds
// every collection straight into a list of its final size: children are
// placed once and never moved.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/node_list.hpp"
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

// One count per collection: a large vector is mapped on its own.
using ChildCounts = std::vector<ChildCount, BlockAllocator<ChildCount>>;
ChildCounts count_children(std::span<const SpannedEvent> events);

// The child lists of one stream's collections, presized from the counts in
// the arena: the caller's, shared by the texts of one load, or an own one.
class ChildLists {
 public:
  ChildLists(std::span<const SpannedEvent> events, ListArena* arena)
      : counts_(count_children(events)), arena_(arena != nullptr ? *arena : own_arena_) {
    std::size_t bytes = 0;
    for (const ChildCount& c : counts_) {
      const bool pairs = events[c.event].kind == EventKind::MappingStart;
      bytes += ListArena::chunk_bytes(c.count * (pairs ? sizeof(NodePair) : sizeof(YamlNode)));
      children_ += pairs ? 2 * std::uint64_t{c.count} : c.count;
    }
    arena_.expect(bytes);
  }
  ChildLists(const ChildLists&) = delete;
  ChildLists& operator=(const ChildLists&) = delete;

  // Reserves room for the children of the collection opened by event
  // `opening`; collections are met in the order of their opening events.
  void reserve(auto& children, std::size_t opening) {
    const auto at = static_cast<std::uint32_t>(opening);
    while (next_ < counts_.size() && counts_[next_].event < at) ++next_;
    if (next_ < counts_.size() && counts_[next_].event == at) children.reserve_in(arena_, counts_[next_].count);
  }
  // Where the count was off (invalid input read leniently), a list that
  // grew is brought to its size.
  static void close(auto& children) {
    if (children.capacity() > children.size() + children.size() / 4 + 4) children.shrink_to_fit();
  }

  // The nodes the counts place in lists (a pair's key and value are two).
  std::uint64_t children() const noexcept { return children_; }

 private:
  ChildCounts counts_;
  std::size_t next_ = 0;  // follows the composer through counts_
  std::uint64_t children_ = 0;
  ListArena own_arena_;
  ListArena& arena_;
};

}  // namespace kestrine
