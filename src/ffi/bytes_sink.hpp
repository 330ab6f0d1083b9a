// A TextSink (util/text_sink.hpp) whose storage is the bytes object that
// will be returned: text is written in place and the object is handed over
// at the end, cut to what was written, so the finished text is never copied.
//
//   BytesSink out(1024);
//   write_json_string(out, "x");
//   PyResult<OwnedRef> bytes = out.finish();
//
// Requires the interpreter lock throughout (growing resizes the object).
// Running out of memory throws std::bad_alloc, which the entry point turns
// into MemoryError.
#pragma once

#include <algorithm>
#include <cstddef>
#include <new>
#include <utility>

#include "ffi/py.hpp"
#include "util/text_sink.hpp"

namespace kestrine {

class BytesSink final : public TextSink {
 public:
  explicit BytesSink(std::size_t capacity) {
    bytes_ = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(capacity));
    if (bytes_ == nullptr) {
      PyErr_Clear();
      throw std::bad_alloc();
    }
    rebase(PyBytes_AS_STRING(bytes_), 0, capacity);
  }
  ~BytesSink() { Py_XDECREF(bytes_); }

  // The bytes written; the sink is empty afterwards.
  PyResult<OwnedRef> finish() {
    const std::size_t used = size();
    resize(used);
    rebase(nullptr, 0, 0);
    return OwnedRef::steal(std::exchange(bytes_, nullptr));
  }

 private:
  void grow(std::size_t n) override {
    const std::size_t used = size();
    // Past the first pages, quadrupling: a realloc that cannot extend the
    // block in place copies it, and fewer steps copy less in all.
    const std::size_t capacity = used >= kQuadrupleFrom ? std::max(used + n, 4 * used) : grown_capacity(n);
    resize(capacity);
    rebase(PyBytes_AS_STRING(bytes_), used, capacity);
  }
  // The object's length (its storage moves as realloc decides).
  void resize(std::size_t length) {
    if (_PyBytes_Resize(&bytes_, static_cast<Py_ssize_t>(length)) < 0) {
      PyErr_Clear();  // the object is gone; the entry point reports the failure
      throw std::bad_alloc();
    }
  }

  static constexpr std::size_t kQuadrupleFrom = 64 * 1024;
  PyObject* bytes_ = nullptr;
};

}  // namespace kestrine
