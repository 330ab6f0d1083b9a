// The thin layer between the native core and the CPython C API.
//
//   OwnedRef       a strong reference, released on every exit path
//   PyErr          a Python exception held as a value (never "pending")
//   PyResult<T>    std::expected<T, PyErr>: how fallible operations return
//   GilRelease     releases the interpreter lock for a scope
//   BorrowFlag     the per-instance shared/exclusive access flag
//   py_entry       wraps every Python-visible C entry point so that no C++
//                  exception ever reaches the interpreter
//   new_str / str_view   the one way from UTF-8 text to a str and back
//
// Code that runs under py_entry (every module function and slot body) lets
// std::bad_alloc and other C++ exceptions travel up to it instead of catching
// them; only noexcept code that py_entry cannot cover catches locally.
//
// Everything here except GilRelease's released region requires the
// interpreter lock.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <expected>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "util/utf8.hpp"

namespace kestrine {

// ---------------------------------------------------------------------------
// References

// A strong reference.  Null is a valid (empty) state.
class OwnedRef {
 public:
  OwnedRef() noexcept = default;
  OwnedRef(std::nullptr_t) noexcept {}
  OwnedRef(const OwnedRef& other) noexcept : obj_(other.obj_) { Py_XINCREF(obj_); }
  OwnedRef(OwnedRef&& other) noexcept : obj_(other.obj_) { other.obj_ = nullptr; }
  ~OwnedRef() { Py_XDECREF(obj_); }

  OwnedRef& operator=(OwnedRef other) noexcept {
    std::swap(obj_, other.obj_);
    return *this;
  }

  // Takes over a new reference (the result of most API calls); null allowed.
  static OwnedRef steal(PyObject* obj) noexcept { return OwnedRef(obj); }
  // Adds a reference to a borrowed object; null allowed.
  static OwnedRef borrow(PyObject* obj) noexcept {
    Py_XINCREF(obj);
    return OwnedRef(obj);
  }

  PyObject* get() const noexcept { return obj_; }
  explicit operator bool() const noexcept { return obj_ != nullptr; }

  // Gives up ownership: the caller now holds the reference.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(obj_, nullptr); }
  // A fresh strong reference to the same object, for APIs that steal.
  [[nodiscard]] PyObject* new_ref() const noexcept {
    Py_XINCREF(obj_);
    return obj_;
  }
  void reset() noexcept { Py_CLEAR(obj_); }

  // Releases the reference whether or not the calling thread holds the
  // interpreter lock (see release_deferred).
  void reset_deferred() noexcept;

 private:
  explicit OwnedRef(PyObject* obj) noexcept : obj_(obj) {}
  PyObject* obj_ = nullptr;
};

// Drops a reference.  Without the interpreter lock the object is queued and
// released by the next GilRelease scope that takes the lock back (or by
// drain_deferred_releases) — never touched while the lock is not held.
void release_deferred(PyObject* obj) noexcept;
// Releases every queued object.  Requires the lock.
void drain_deferred_releases() noexcept;
// Number of queued objects (for tests).
std::size_t deferred_release_count() noexcept;

inline void OwnedRef::reset_deferred() noexcept {
  if (PyObject* obj = std::exchange(obj_, nullptr)) release_deferred(obj);
}

// ---------------------------------------------------------------------------
// Errors

// A Python exception object held as a value.  Always normalised: `value()`
// is an exception instance whose traceback (if any) is attached to it.
class PyErr {
 public:
  // Takes the pending exception.  When none is pending (a C API contract
  // violation), holds a SystemError saying so instead.
  static PyErr fetch() noexcept;
  // A new exception of class `type` created with `message` as its only
  // argument.  If creating it fails, holds that failure instead.
  static PyErr new_error(PyObject* type, std::string_view message) noexcept;
  // The same with an already built argument object.
  static PyErr new_error_obj(PyObject* type, PyObject* arg) noexcept;

  static PyErr type_error(std::string_view message) noexcept { return new_error(PyExc_TypeError, message); }
  static PyErr value_error(std::string_view message) noexcept { return new_error(PyExc_ValueError, message); }
  static PyErr runtime_error(std::string_view message) noexcept { return new_error(PyExc_RuntimeError, message); }
  static PyErr memory_error() noexcept;
  // An internal fault: a condition the native core considers impossible or
  // could not handle (a failed class lookup, a C++ exception).  Raised as
  // SystemError with the fault's message.
  static PyErr internal_fault(std::string_view message) noexcept;

  PyErr(PyErr&&) noexcept = default;
  PyErr& operator=(PyErr&&) noexcept = default;
  PyErr(const PyErr&) = delete;
  PyErr& operator=(const PyErr&) = delete;

  PyObject* value() const noexcept { return value_.get(); }
  PyObject* type() const noexcept { return reinterpret_cast<PyObject*>(Py_TYPE(value_.get())); }
  bool is_instance_of(PyObject* cls) const noexcept;

  // Sets `__cause__` (for "raise ... from ...").
  void set_cause(PyErr cause) noexcept;

  // Makes this the pending exception of the thread; the value is consumed.
  void restore() && noexcept;

  // str(exception), for diagnostics; "<unprintable>" when str() fails.
  std::string message() const;

 private:
  explicit PyErr(OwnedRef value) noexcept : value_(std::move(value)) {}
  OwnedRef value_;
};

template <class T>
using PyResult = std::expected<T, PyErr>;
using PyStatus = std::expected<void, PyErr>;

inline std::unexpected<PyErr> fail(PyErr err) noexcept { return std::unexpected<PyErr>(std::move(err)); }
// The pending exception as an error value.
inline std::unexpected<PyErr> fail_fetch() noexcept { return std::unexpected<PyErr>(PyErr::fetch()); }

// A new reference from an API call that returns null on failure.
inline PyResult<OwnedRef> checked(PyObject* result) noexcept {
  if (result == nullptr) return fail_fetch();
  return OwnedRef::steal(result);
}
// An API status code (-1 on failure).
inline PyStatus checked_status(int status) noexcept {
  if (status < 0) return fail_fetch();
  return {};
}

// Thrown by native code for a fault that should surface as an exception at
// the boundary (py_entry turns it into PyErr::internal_fault).
class InternalFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Thrown to carry a PyErr out of code that cannot return one (e.g. through a
// stack_guarded step or a callback).  py_entry restores it unchanged.
class PyErrException : public std::exception {
 public:
  explicit PyErrException(PyErr err) noexcept : err_(std::move(err)) {}
  PyErr take() noexcept { return std::move(err_); }
  const char* what() const noexcept override { return "Python exception"; }

 private:
  PyErr err_;
};

// ---------------------------------------------------------------------------
// Small constructors

// A str from valid UTF-8 (invalid bytes: UnicodeDecodeError): a new
// reference, or null with the exception set, for walks that keep to the C
// API's convention.  ASCII text is copied straight into a new compact str;
// texts of one character come from the interpreter's cache.
// str_from_ascii is the same for text the caller knows to be ASCII.
inline PyObject* str_from_ascii(std::string_view text) noexcept {
  const auto size = static_cast<Py_ssize_t>(text.size());
  if (size <= 1) return PyUnicode_DecodeUTF8(text.data(), size, nullptr);
  PyObject* str = PyUnicode_New(size, 127);
  if (str != nullptr) std::memcpy(PyUnicode_1BYTE_DATA(str), text.data(), text.size());
  return str;
}
inline PyObject* str_from_utf8(std::string_view text) noexcept {
  if (text.size() > 1 && is_ascii(text)) return str_from_ascii(text);
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
}
inline PyResult<OwnedRef> new_str(std::string_view text) noexcept { return checked(str_from_utf8(text)); }
// A str from text that may hold invalid UTF-8 (file paths, messages):
// invalid sequences become U+FFFD.
inline PyResult<OwnedRef> lossy_str(std::string_view text) noexcept {
  return checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}
inline PyResult<OwnedRef> new_bytes(std::string_view data) noexcept {
  return checked(PyBytes_FromStringAndSize(data.data(), static_cast<Py_ssize_t>(data.size())));
}
// None for an absent text, else new_str.
inline PyResult<OwnedRef> optional_str(std::optional<std::string_view> text) noexcept {
  if (!text) return OwnedRef::borrow(Py_None);
  return new_str(*text);
}
inline PyResult<OwnedRef> new_int(long long v) noexcept { return checked(PyLong_FromLongLong(v)); }
inline PyResult<OwnedRef> new_uint(unsigned long long v) noexcept {
  return checked(PyLong_FromUnsignedLongLong(v));
}
inline OwnedRef none_ref() noexcept { return OwnedRef::borrow(Py_None); }

// The UTF-8 form of a str object (subclasses included), borrowed from the
// object; TypeError "expected str" for anything else, the interpreter's
// UnicodeEncodeError for a str with lone surrogates.  The one way this layer
// reads a str's text.
PyResult<std::string_view> str_view(PyObject* str) noexcept;

// The text of a str held as compact ASCII (most strs), read in place
// without a call; nothing for any other str, which the caller reads the
// general way.  `str` must be a str (subclasses included).
inline std::optional<std::string_view> compact_ascii_view(PyObject* str) noexcept {
  const auto* head = reinterpret_cast<const PyASCIIObject*>(str);
#if PY_VERSION_HEX < 0x030C0000
  if (!(head->state.ready & head->state.compact & head->state.ascii)) return std::nullopt;
#else
  if (!(head->state.compact & head->state.ascii)) return std::nullopt;
#endif
  // A compact ASCII str keeps its characters right after this header.
  return std::string_view(reinterpret_cast<const char*>(head + 1), static_cast<std::size_t>(head->length));
}

// The unqualified `__name__` of a type, for messages (its tp_name when the
// name cannot be read).
std::string type_name_text(PyTypeObject* type);

// ---------------------------------------------------------------------------
// The interpreter lock

// Releases the interpreter lock for the lifetime of the object.  Inside the
// scope no Python object may be touched: release owned references with
// OwnedRef::reset_deferred.  On exit the lock is taken back and the queue of
// deferred releases is drained.
//
// A thread that comes back while the interpreter is being finalized (a
// daemon thread at exit) may not run Python code again.  It is parked for
// good instead, as CPython 3.14 does itself: older versions end such a
// thread from inside PyEval_RestoreThread with a forced unwind, which would
// run our destructors without the lock and abort at the first noexcept
// frame.  The scope never returns in that case.
class GilRelease {
 public:
  GilRelease() noexcept : state_(PyEval_SaveThread()) {}
  ~GilRelease() {
    take_back(state_);
    drain_deferred_releases();
  }
  GilRelease(const GilRelease&) = delete;
  GilRelease& operator=(const GilRelease&) = delete;

 private:
  static void take_back(PyThreadState* state) noexcept;
  PyThreadState* state_;
};

// Blocks the calling thread for the rest of the process (which may then
// exit normally).  For a thread that the interpreter no longer lets run.
[[noreturn]] void park_thread() noexcept;

// Runs `work()` with the lock released and returns its result.
template <class F>
decltype(auto) without_gil(F&& work) {
  GilRelease released;
  return std::forward<F>(work)();
}

// Native data read from at least this many bytes of text is freed with the
// lock released: the release pays for itself, and other threads run Python
// code meanwhile.
inline constexpr std::size_t kFreeOffLockBytes = 64 * 1024;

// Destroys the contents of `data` (which hold no Python object) now, leaving
// it empty (moved from); with the lock released when `text_size`, the size
// of the text the data was read from, is large.  The lock must be held.
template <class T>
void drop_native(T& data, std::size_t text_size) noexcept {
  if (text_size < kFreeOffLockBytes) {
    T gone(std::move(data));
    return;
  }
  without_gil([&] { T gone(std::move(data)); });
}

// ---------------------------------------------------------------------------
// Borrow flags

// The access flag of one class instance: any number of shared holders, or
// one exclusive holder.  A conflicting request fails at once instead of
// waiting.  Updated with atomic compare-and-swap, so it is sound even when
// the interpreter lock is dropped between two Python-level calls.
class BorrowFlag {
 public:
  class Shared;
  class Exclusive;

  // "Already mutably borrowed" (RuntimeError) when an exclusive holder exists.
  PyResult<Shared> borrow() noexcept;
  // "Already borrowed" (RuntimeError) when any holder exists.
  PyResult<Exclusive> borrow_mut() noexcept;

  bool is_free() const noexcept { return state_.load(std::memory_order_acquire) == 0; }
  bool is_exclusive() const noexcept { return state_.load(std::memory_order_acquire) == kExclusive; }

 private:
  static constexpr std::intptr_t kExclusive = -1;
  std::atomic<std::intptr_t> state_{0};
};

class BorrowFlag::Shared {
 public:
  Shared(Shared&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
  Shared& operator=(Shared&&) = delete;
  ~Shared() {
    if (flag_) flag_->state_.fetch_sub(1, std::memory_order_release);
  }

 private:
  friend class BorrowFlag;
  explicit Shared(BorrowFlag* flag) noexcept : flag_(flag) {}
  BorrowFlag* flag_;
};

class BorrowFlag::Exclusive {
 public:
  Exclusive(Exclusive&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
  Exclusive& operator=(Exclusive&&) = delete;
  ~Exclusive() {
    if (flag_) flag_->state_.store(0, std::memory_order_release);
  }

 private:
  friend class BorrowFlag;
  explicit Exclusive(BorrowFlag* flag) noexcept : flag_(flag) {}
  BorrowFlag* flag_;
};

inline constexpr std::string_view kAlreadyBorrowed = "Already borrowed";
inline constexpr std::string_view kAlreadyMutablyBorrowed = "Already mutably borrowed";

// ---------------------------------------------------------------------------
// Entry points

namespace detail {
void raise_current_exception() noexcept;  // maps the in-flight C++ exception
// glibc gives a thread its block of a loaded module's thread-local
// variables (this module's, and the C++ runtime's that throwing an
// exception uses), and records the destructors of those that have one,
// when the thread first touches them, and ends the process if that
// allocation fails ("cannot allocate memory for thread-local data"): a
// thread's first std::bad_alloc would do so exactly when memory has run
// out.  Every entry (the import among them) touches them first, before the
// call allocates anything.
void prepare_thread() noexcept;
template <class T>
struct is_expected : std::false_type {};
template <class T, class E>
struct is_expected<std::expected<T, E>> : std::true_type {};
}  // namespace detail

// The body of every Python-visible function returning an object.  `body`
// returns PyResult<OwnedRef>; an error value is raised.  Any C++ exception is
// caught: std::bad_alloc becomes MemoryError, PyErrException its PyErr,
// anything else an internal fault (SystemError) with its message.
template <class F>
PyObject* py_entry(F&& body) noexcept {
  detail::prepare_thread();
  try {
    PyResult<OwnedRef> result = std::forward<F>(body)();
    if (!result) {
      std::move(result.error()).restore();
      return nullptr;
    }
    if (!*result) {
      // An empty reference as success would be a null return without an
      // exception set; report it instead of crashing the caller.
      PyErr::internal_fault("native function returned no value").restore();
      return nullptr;
    }
    return result->release();
  } catch (...) {
    detail::raise_current_exception();
    return nullptr;
  }
}

// The same for slots that return a status (0 / -1): `body` returns PyStatus.
template <class F>
int py_entry_status(F&& body) noexcept {
  detail::prepare_thread();
  try {
    PyStatus result = std::forward<F>(body)();
    if (!result) {
      std::move(result.error()).restore();
      return -1;
    }
    return 0;
  } catch (...) {
    detail::raise_current_exception();
    return -1;
  }
}

}  // namespace kestrine
