#include "roundtrip/subtree_release.hpp"

#include <new>
#include <system_error>
#include <utility>

namespace kestrine {

SubtreeRelease::~SubtreeRelease() {
  if (thread_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
    }
    ready_.notify_one();
    thread_.join();
  }
  for (auto& batch : queue_) std::vector<YamlNode>().swap(batch);
  std::vector<YamlNode>().swap(batch_);
}

void SubtreeRelease::take(YamlNode&& node) noexcept {
  if (in_place_ < kInPlace) {  // a small tree pays for no batch
    ++in_place_;
    drop_node_tree(std::move(node));
    return;
  }
  try {
    if (batch_.capacity() == 0) batch_.reserve(kBatch);  // one allocation per batch, no regrowth
    batch_.push_back(std::move(node));
  } catch (const std::bad_alloc&) {
    drop_node_tree(std::move(node));  // no room to keep it (left as it was): freed here
    return;
  }
  if (batch_.size() == kBatch) hand_over();
}

void SubtreeRelease::hand_over() noexcept {
  if (!thread_.joinable() && !no_thread_) {
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      no_thread_ = true;
    }
  }
  if (!no_thread_) {
    try {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(batch_));
    } catch (const std::bad_alloc&) {
      // no room in the queue: freed here
    }
  }
  std::vector<YamlNode>().swap(batch_);
  ready_.notify_one();
}

void SubtreeRelease::run() noexcept {
  std::unique_lock lock(mutex_);
  for (;;) {
    ready_.wait(lock, [&] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) return;  // closing, and nothing left
    std::vector<std::vector<YamlNode>> taken;
    taken.swap(queue_);
    lock.unlock();
    taken.clear();  // the subtrees go here, without the lock
    lock.lock();
  }
}

}  // namespace kestrine
