// The walk records of the encoder (encode.hpp): how its list and dict walks
// stay sound while callbacks run.
//
// A list or dict is converted as it was when its walk began.  Converting
// plain data runs no Python code, so nothing can change a container under
// the walk, and the walk reads it in place.  Before anything that may run
// Python code (a callback, a protocol method of a subclass, an iterator),
// the encoder copies the remaining item references of every open walk that
// has no copy yet; those walks go on from their copy.  A walk registers
// itself (at()) before each item that is not a plain scalar, so that the
// copy starts with the item being converted.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "ffi/convert/encode.hpp"

namespace kestrine {

// One walk, registered as open from its first item that is not a plain
// scalar (before that no Python code can run inside it) to its end.
class PyEncoder::WalkScope {
 public:
  WalkScope(PyEncoder& encoder, PyObject* container, bool is_dict) noexcept
      : encoder_(encoder), container_(container), is_dict_(is_dict) {}
  ~WalkScope() {
    if (index_ == kNotOpen) return;
    std::vector<PyObject*>& refs = encoder_.snapshot_;
    const OpenWalk& w = encoder_.walks_[index_];
    if (w.snapshot != kNoSnapshot) {
      // Inner walks have cut the stack back to their own start already.
      for (std::size_t i = w.snapshot; i < refs.size(); ++i) Py_DECREF(refs[i]);
      refs.resize(w.snapshot);
    }
    encoder_.walks_.pop_back();
    encoder_.snapshotted_walks_ = std::min(encoder_.snapshotted_walks_, encoder_.walks_.size());
  }
  WalkScope(const WalkScope&) = delete;
  WalkScope& operator=(const WalkScope&) = delete;

  // The walk goes on from its copy.
  bool copied() const noexcept { return index_ != kNotOpen && walk().snapshot != kNoSnapshot; }
  // Entry `k` of the copy, counting from the item that was converting when
  // it was taken; null past its end.
  PyObject* copied_entry(std::size_t k) const noexcept {
    const OpenWalk& w = walk();
    return k < w.count ? encoder_.snapshot_[w.snapshot + k] : nullptr;
  }
  std::size_t first() const noexcept { return walk().first; }
  // The item about to convert (see OpenWalk); opens the walk.
  void at(Py_ssize_t position, std::size_t index) {
    if (index_ == kNotOpen) {
      index_ = encoder_.walks_.size();
      encoder_.walks_.push_back(OpenWalk{container_, is_dict_});
    }
    OpenWalk& w = encoder_.walks_[index_];
    w.position = position;
    w.index = index;
  }

 private:
  static constexpr std::size_t kNotOpen = ~std::size_t{0};
  // The record (the vector may move while nested walks open).
  const OpenWalk& walk() const noexcept { return encoder_.walks_[index_]; }

  PyEncoder& encoder_;
  PyObject* container_;
  bool is_dict_;
  std::size_t index_ = kNotOpen;
};

}  // namespace kestrine
