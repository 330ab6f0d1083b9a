// Storage of a scan's event vector.
//
//   std::vector<SpannedEvent, EventAllocator<SpannedEvent>> events;
//
// A large text's events take tens of megabytes.  Blocks from 128 KiB up are
// large blocks (util/large_block.hpp): mapped straight from the kernel, so
// that the memory goes back when the events go, and kept in the store the
// whole process shares, so that the next large scan, on this thread or
// another, need not fault in fresh pages.  Smaller blocks go to the C
// library, which reuses those well itself.
#pragma once

#include <cstddef>

#include "util/large_block.hpp"

namespace kestrine {

template <class T>
using EventAllocator = BlockAllocator<T>;

}  // namespace kestrine
