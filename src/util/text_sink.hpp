// A growable output buffer whose storage belongs to someone else: the
// writers append to a TextSink, and the owner decides where the bytes live
// (a std::string here; the dump roads use a LargeText, util/large_block.hpp,
// whose large storage stays out of the C library's per-thread heaps).
//
//   std::string text;
//   {
//     StringSink out(text);          // appends after what `text` holds
//     out.append("[1,2]");
//     char* p = out.reserve(8);      // room for 8 bytes at p ...
//     out.commit(p + 3);             // ... of which 3 were written
//   }                                // `text` now ends with what was written
//
// Appending is inline; only running out of room calls the owner's grow().
// Storage may move on every reserve or append: pointers into it are valid
// until the next one.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace kestrine {

class TextSink {
 public:
  TextSink(const TextSink&) = delete;
  TextSink& operator=(const TextSink&) = delete;

  // Bytes written so far (including what the storage held before).
  std::size_t size() const noexcept { return static_cast<std::size_t>(cursor_ - begin_); }

  // Room for `n` more bytes; returns where they go.  Nothing is written
  // until commit().
  [[gnu::always_inline]] char* reserve(std::size_t n) {
    if (static_cast<std::size_t>(limit_ - cursor_) < n) [[unlikely]] grow(n);
    return cursor_;
  }
  // Marks the bytes up to `end` (inside the last reserve) as written.
  void commit(char* end) noexcept { cursor_ = end; }

  void append(const char* data, std::size_t n) {
    char* p = reserve(n);
    std::memcpy(p, data, n);
    cursor_ = p + n;
  }
  void append(std::string_view text) { append(text.data(), text.size()); }
  void append(std::size_t count, char c) {
    char* p = reserve(count);
    std::memset(p, c, count);
    cursor_ = p + count;
  }
  void push_back(char c) {
    char* p = reserve(1);
    *p = c;
    cursor_ = p + 1;
  }
  // Drops what was written past `offset`.
  void truncate(std::size_t offset) noexcept { cursor_ = begin_ + offset; }

 protected:
  TextSink() noexcept = default;
  ~TextSink() = default;

  // Makes room for at least `n` more bytes past the cursor (the storage may
  // move; the bytes written are kept), then calls rebase().
  virtual void grow(std::size_t n) = 0;
  void rebase(char* begin, std::size_t used, std::size_t capacity) noexcept {
    begin_ = begin;
    cursor_ = begin + used;
    limit_ = begin + capacity;
  }
  // The capacity to grow to: at least doubling.
  std::size_t grown_capacity(std::size_t n) const noexcept {
    const std::size_t capacity = static_cast<std::size_t>(limit_ - begin_);
    return std::max(size() + n, std::max<std::size_t>(2 * capacity, 64));
  }

 private:
  char* begin_ = nullptr;
  char* cursor_ = nullptr;
  char* limit_ = nullptr;
};

// A sink appending to a std::string (or another basic_string of char, such
// as LargeText), whose size is set to what was written when the sink ends
// (or at finish()).
template <class Text = std::string>
class StringSink final : public TextSink {
 public:
  explicit StringSink(Text& text) : text_(text) { open_capacity(text.size()); }
  ~StringSink() { finish(); }

  void finish() noexcept { text_.resize(size()); }

 private:
  void grow(std::size_t n) override {
    const std::size_t used = size();
    text_.reserve(grown_capacity(n));
    open_capacity(used);
  }
  // Makes the whole capacity part of the string, without filling it: the
  // reserve comes first, so resize_and_overwrite never reallocates (with a
  // reallocation, libstdc++ 12 hands its callback the new capacity instead
  // of the requested size).
  void open_capacity(std::size_t used) {
    const std::size_t capacity = text_.capacity();
    text_.resize_and_overwrite(capacity, [capacity](char*, std::size_t) { return capacity; });
    rebase(text_.data(), used, capacity);
  }

  Text& text_;
};

}  // namespace kestrine
