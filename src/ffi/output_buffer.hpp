// The native buffer the dump roads write their text into before it becomes
// the bytes object returned.
//
//   OutputBuffer buffer;                  // this thread's spare, emptied
//   std::string& text = buffer.text();
//   without_gil([&] { write_yaml(text, root, options); });
//   return new_bytes(text);
//
// The buffer of the last call on this thread is kept for the next one when
// it is not too large: fresh memory costs a page fault per 4 KiB the first
// time it is written, which is a good part of a small dump's time.  A call
// made while another is under way on the same thread (from a callback)
// simply starts with an empty buffer.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

namespace kestrine {

class OutputBuffer {
 public:
  OutputBuffer() noexcept : text_(std::move(spare())) { text_.clear(); }
  ~OutputBuffer() {
    std::string& kept = spare();
    if (text_.capacity() <= kRetainedLimit && text_.capacity() > kept.capacity()) {
      text_.clear();
      kept = std::move(text_);
    }
  }
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  std::string& text() noexcept { return text_; }

 private:
  static constexpr std::size_t kRetainedLimit = std::size_t(8) << 20;
  static std::string& spare() noexcept {
    thread_local std::string buffer;
    return buffer;
  }
  std::string text_;
};

}  // namespace kestrine
