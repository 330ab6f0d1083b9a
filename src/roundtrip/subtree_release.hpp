// Releases the converted subtrees of a tree on a thread of its own, while
// the thread that converts the tree (holding the interpreter lock) goes on.
//
//   SubtreeRelease release;
//   for (...) { convert(child); release.take(std::move(child)); }
//   // ~SubtreeRelease: what is left is freed, the thread joined
//
// Freeing a large tree piece by piece as it is converted keeps the memory
// in use near that of the result alone; freeing it on the converting thread
// cost a tenth of a large load.  The first subtrees are freed at once, on
// the calling thread, so that a small tree costs no more than before; the
// rest are handed over in batches, and the thread starts with the first
// full one.  Without a thread to spare, every batch is freed where it was
// taken.  The nodes taken hold no reference to anything outside their own
// subtree (the list chunks they share count their users atomically), so
// freeing them elsewhere is safe.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "roundtrip/ast.hpp"

namespace kestrine {

class SubtreeRelease {
 public:
  SubtreeRelease() = default;
  SubtreeRelease(const SubtreeRelease&) = delete;
  SubtreeRelease& operator=(const SubtreeRelease&) = delete;
  ~SubtreeRelease();

  // Takes the subtree of `node` (left moved from) to be freed.
  void take(YamlNode&& node) noexcept;

 private:
  void hand_over() noexcept;
  void run() noexcept;

  static constexpr std::size_t kInPlace = 256;
  static constexpr std::size_t kBatch = 256;  // small: what waits for the thread adds to the peak

  std::size_t in_place_ = 0;  // subtrees freed at once so far
  std::vector<YamlNode> batch_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<std::vector<YamlNode>> queue_;  // guarded by mutex_
  bool closing_ = false;                      // guarded by mutex_
  bool no_thread_ = false;                    // the thread could not start
  std::thread thread_;
};

}  // namespace kestrine
