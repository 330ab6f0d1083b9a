// The native buffer the dump roads write their text into before it becomes
// the bytes object returned, copied once at its final size.
//
//   OutputBuffer buffer;                  // the process's spare, emptied
//   LargeText& text = buffer.text();
//   without_gil([&] { write_yaml(text, root, options); });
//   return new_bytes(text);
//
// The text grows in large blocks (util/large_block.hpp) once it is large,
// not on the C library's heap: that heap keeps a freed block of a few
// megabytes in the writing thread's own arena, so that threads that each
// dumped a large text held their buffers' worth each long after they ended.
// A freed large block goes to the store the whole process shares, within
// its bound.
//
// The buffer of the last call is kept for the next one when it is not too
// large: fresh memory costs a page fault per 4 KiB the first time it is
// written, which is a good part of a small dump's time, and a block that
// goes to the store has its pages offered back to the kernel, a system call
// that costs a large dump a few percent each time.  Up to 32 MiB, the most
// the C library itself would keep in its heap for a freed buffer, it is
// kept.  One buffer is kept for the whole process, not one per thread, so
// that many threads do not hold a buffer each; a call that finds it taken
// (by another thread, or by a call under way on this one, from a callback)
// starts with an empty one.
#pragma once

#include <atomic>
#include <cstddef>
#include <utility>

#include "util/large_block.hpp"

namespace kestrine {

class OutputBuffer {
 public:
  OutputBuffer() noexcept {
    // A flag that is only ever tried, never waited for: a fork that copies
    // it set leaves the child without a spare, not stuck.
    if (!busy_.exchange(true, std::memory_order_acquire)) {
      text_ = std::move(spare_);
      busy_.store(false, std::memory_order_release);
    }
    text_.clear();
  }
  ~OutputBuffer() {
    if (text_.capacity() > kRetainedLimit || busy_.exchange(true, std::memory_order_acquire)) return;
    if (text_.capacity() > spare_.capacity()) {
      text_.clear();
      spare_ = std::move(text_);
    }
    busy_.store(false, std::memory_order_release);
  }
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  LargeText& text() noexcept { return text_; }

 private:
  static constexpr std::size_t kRetainedLimit = std::size_t(32) << 20;
  static inline LargeText spare_;
  static inline std::atomic<bool> busy_{false};
  LargeText text_;
};

}  // namespace kestrine
