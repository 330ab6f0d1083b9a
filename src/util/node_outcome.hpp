// What composing or decoding one node gives: a node, no node (the events
// held none there, e.g. an empty value), or a failure whose error record the
// caller already holds.  Shared by the plain decoder and the round-trip
// composer so that both read alike.
#pragma once

#include <cstdint>

namespace kestrine {

enum class NodeOutcome : std::uint8_t { None, Node, Failed };

}  // namespace kestrine
