// The child lists of round-trip nodes (the items of a sequence, the pairs of
// a mapping) and the arena the composer places them in.
//
// A composed stream has as many lists as collections: hundreds of thousands
// in large configuration files.  Allocating each from the heap, and above
// all freeing each again when the tree goes, cost more than composing, so
// the composer takes the lists of one stream from shared chunks instead.  A
// chunk counts the lists placed in it and is freed with the last of them,
// wherever that list has gone by then (another tree, another document,
// another thread): a list never outlives its memory.  A list that grows, or
// is copied, moves to memory of its own on the heap.
//
// A large stream takes its later chunks straight from the system, as 2 MiB
// transparent huge pages where the kernel offers them: a fault and a TLB
// entry per 2 MiB instead of per 4 KiB, and a chunk's memory goes back to
// the system with its last list, so a tree released piece by piece (as the
// loads that convert a tree do) lowers the memory in use as it goes.  When
// the composer knows beforehand how much it will place (`expect`), those
// chunks are mapped with one call; past what was announced, a few at a
// time.
//
// The kernel clears every page of a fresh mapping as it is first written,
// which costs a large load about a tenth of its time.  A tree dropped whole
// (a document that goes, what a conversion left of its tree) may hand its
// chunks to the next stream instead (KeepReleasedChunks): they go to the
// store of large blocks the process keeps within one small budget
// (util/large_block.hpp), with the kernel free to take their pages back
// under memory pressure (a page it took is cleared again on reuse).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "util/large_block.hpp"

namespace kestrine {

// A block of list storage; the lists placed in it follow the header.
struct ListChunk {
  std::atomic<std::uint32_t> refs{1};
  bool mapped = false;     // a huge-page mapping of its own (else a block)
  std::uint32_t bytes = 0;  // the block's size, header included (not mapped)
};

// Drops one reference; the last one frees the chunk.
void release_list_chunk(ListChunk* chunk) noexcept;

// While one lives, the huge chunks whose last list this thread releases are
// kept for the arenas of later streams (within the bound above) instead of
// going back to the system.  For trees dropped whole; a tree released
// piece by piece while its conversion's result grows should lower the
// memory in use instead.
//
//   { const KeepReleasedChunks keep; drop the document's trees; }
class KeepReleasedChunks {
 public:
  KeepReleasedChunks() noexcept;
  ~KeepReleasedChunks();
  KeepReleasedChunks(const KeepReleasedChunks&) = delete;
  KeepReleasedChunks& operator=(const KeepReleasedChunks&) = delete;
};

// Hands out list storage from chunks, one stream at a time.
class ListArena {
 public:
  ListArena() noexcept;
  ListArena(const ListArena&) = delete;
  ListArena& operator=(const ListArena&) = delete;
  ~ListArena();

  // `bytes` of storage aligned for any list element.  `chunk` receives the
  // chunk it lies in, with a reference taken for the caller, or null when a
  // large block is the list's own (to be freed with free_block).
  void* allocate(std::size_t bytes, ListChunk*& chunk);

  // Announces about `bytes` of lists to come (blocks that allocate takes
  // of their own excluded).  A large announcement maps the huge pages they
  // will take now; what is left unused goes back to the system with the
  // arena.  Once per arena; a hint only.
  void expect(std::size_t bytes) noexcept;

  // The room a block of `bytes` takes in a chunk; 0 for a block that
  // is a list's own.
  static std::size_t chunk_bytes(std::size_t bytes) noexcept;

 private:
  void new_chunk();
  char* next_mapped_chunk() noexcept;

  // Huge chunks mapped ahead of use, taken in order by new_chunk.
  char* mapped_ = nullptr;
  std::size_t mapped_count_ = 0;
  std::size_t mapped_next_ = 0;
  ListChunk* chunk_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  std::size_t taken_ = 0;  // bytes of the chunks taken so far
};

// A std::vector-like list whose storage is either its own (heap) or a place
// in an arena chunk.  Elements must be nothrow-movable.
template <class T>
class NodeList {
 public:
  using value_type = T;
  using iterator = T*;
  using const_iterator = const T*;

  NodeList() noexcept = default;
  NodeList(std::vector<T>&& v) {
    reserve(v.size());
    for (T& x : v) emplace_back(std::move(x));
  }
  NodeList(const NodeList& o) {
    reserve(o.size_);
    for (const T& x : o) emplace_back(x);
  }
  NodeList(NodeList&& o) noexcept
      : data_(std::exchange(o.data_, nullptr)),
        chunk_(std::exchange(o.chunk_, nullptr)),
        size_(std::exchange(o.size_, 0)),
        cap_(std::exchange(o.cap_, 0)) {}
  NodeList& operator=(const NodeList& o) {
    if (this != &o) {
      NodeList copy(o);
      swap(copy);
    }
    return *this;
  }
  NodeList& operator=(NodeList&& o) noexcept {
    if (this != &o) {
      NodeList taken(std::move(o));
      swap(taken);
    }
    return *this;
  }
  ~NodeList() { reset(); }

  void swap(NodeList& o) noexcept {
    std::swap(data_, o.data_);
    std::swap(chunk_, o.chunk_);
    std::swap(size_, o.size_);
    std::swap(cap_, o.cap_);
  }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  std::size_t capacity() const noexcept { return cap_; }
  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  T* begin() noexcept { return data_; }
  T* end() noexcept { return data_ + size_; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + size_; }
  T& operator[](std::size_t i) noexcept { return data_[i]; }
  const T& operator[](std::size_t i) const noexcept { return data_[i]; }
  T& front() noexcept { return data_[0]; }
  const T& front() const noexcept { return data_[0]; }
  T& back() noexcept { return data_[size_ - 1]; }
  const T& back() const noexcept { return data_[size_ - 1]; }
  operator std::span<T>() noexcept { return {data_, size_}; }
  operator std::span<const T>() const noexcept { return {data_, size_}; }

  void reserve(std::size_t n) {
    if (n > cap_) relocate(n, nullptr);
  }
  // Reserves room for `n` elements in `arena` (an empty list without
  // storage only; otherwise as reserve).
  void reserve_in(ListArena& arena, std::size_t n) {
    if (n > cap_) relocate(n, &arena);
  }
  void shrink_to_fit() {
    if (size_ == cap_) return;
    if (size_ == 0) {
      reset();
    } else {
      relocate(size_, nullptr);
    }
  }

  template <class... A>
  T& emplace_back(A&&... args) {
    if (size_ == cap_) {
      // Build the element before moving the others, so that an argument
      // referring into this list stays valid.
      T value(std::forward<A>(args)...);
      relocate(cap_ == 0 ? 4 : cap_ * 2, nullptr);
      T* p = ::new (static_cast<void*>(data_ + size_)) T(std::move(value));
      ++size_;
      return *p;
    }
    T* p = ::new (static_cast<void*>(data_ + size_)) T(std::forward<A>(args)...);
    ++size_;
    return *p;
  }
  void push_back(const T& v) { emplace_back(v); }
  void push_back(T&& v) { emplace_back(std::move(v)); }
  void pop_back() noexcept {
    --size_;
    std::destroy_at(data_ + size_);
  }
  void clear() noexcept {
    std::destroy(data_, data_ + size_);
    size_ = 0;
  }

  // `v` before `pos`; the position of the new element.
  T* insert(const T* pos, T v) {
    const std::size_t at = static_cast<std::size_t>(pos - data_);
    emplace_back(std::move(v));
    std::rotate(data_ + at, data_ + size_ - 1, data_ + size_);
    return data_ + at;
  }
  // Removes [first, last); the position after the removed ones.
  T* erase(const T* first, const T* last) {
    T* f = data_ + (first - data_);
    T* l = data_ + (last - data_);
    if (f == l) return f;
    T* new_end = std::move(l, data_ + size_, f);
    std::destroy(new_end, data_ + size_);
    size_ = static_cast<std::size_t>(new_end - data_);
    return f;
  }
  T* erase(const T* pos) { return erase(pos, pos + 1); }

 private:
  T* data_ = nullptr;
  ListChunk* chunk_ = nullptr;  // the chunk holding data_, or null when data_ is the list's own
  std::size_t size_ = 0;
  std::size_t cap_ = 0;

  static void release(T* data, ListChunk* chunk, std::size_t cap) noexcept {
    if (chunk != nullptr) {
      release_list_chunk(chunk);
    } else if (data != nullptr) {
      free_block(data, cap * sizeof(T));
    }
  }

  void reset() noexcept {
    std::destroy(data_, data_ + size_);
    release(data_, chunk_, cap_);
    data_ = nullptr;
    chunk_ = nullptr;
    size_ = 0;
    cap_ = 0;
  }

  // Moves the elements to storage for `n` (>= size_) elements, from `arena`
  // when given.
  void relocate(std::size_t n, ListArena* arena) {
    static_assert(std::is_nothrow_move_constructible_v<T>);
    if (n > static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(T)) throw std::bad_alloc();
    ListChunk* chunk = nullptr;
    void* raw = arena != nullptr ? arena->allocate(n * sizeof(T), chunk) : allocate_block(n * sizeof(T));
    T* fresh = static_cast<T*>(raw);
    for (std::size_t i = 0; i < size_; ++i) {
      ::new (static_cast<void*>(fresh + i)) T(std::move(data_[i]));
      std::destroy_at(data_ + i);
    }
    release(data_, chunk_, cap_);
    data_ = fresh;
    chunk_ = chunk;
    cap_ = n;
  }
};

}  // namespace kestrine
