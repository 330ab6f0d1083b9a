#include "ffi/py.hpp"

#include <mutex>
#include <vector>

#if defined(__APPLE__)
#include <pthread.h>
#elif defined(__linux__)
#include <sys/syscall.h>
#endif
#include <unistd.h>

namespace kestrine {

// ---------------------------------------------------------------------------
// The interpreter lock

namespace {

bool interpreter_finalizing() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

// The process's initial thread, which finalizes the interpreter (the python
// command, and embedders that initialize and finalize on one thread).
bool is_initial_thread() noexcept {
#if defined(__APPLE__)
  return pthread_main_np() != 0;
#elif defined(__linux__)
  return syscall(SYS_gettid) == getpid();
#else
  return true;  // unknown: leave the decision to the interpreter
#endif
}

// Inside a catch (...) handler that has ruled out std::exception (from which
// every exception of ours derives): the exception in flight is the forced
// unwind with which the interpreter ends a thread it no longer lets run.
bool is_thread_end() noexcept { return interpreter_finalizing() && !is_initial_thread(); }

}  // namespace

void park_thread() noexcept {
  for (;;) pause();
}

void GilRelease::take_back(PyThreadState* state) noexcept {
  // Checked first, without the lock: the finalizing thread itself goes on.
  if (interpreter_finalizing() && !is_initial_thread()) park_thread();
  // Finalization may begin while the thread waits for the lock: CPython
  // then ends the thread with a forced unwind, stopped here.  Nothing else
  // unwinds out of the interpreter's C code, and the handler names no type:
  // a forced unwind carries no C++ object, so a reference bound to it would
  // be bound to null.
  try {
    PyEval_RestoreThread(state);
  } catch (...) {
    park_thread();
  }
}

// ---------------------------------------------------------------------------
// Deferred releases

namespace {

struct DeferredQueue {
  std::mutex lock;
  std::vector<PyObject*> objects;
  std::atomic<std::size_t> size{0};
};

DeferredQueue& deferred_queue() noexcept {
  // Never destroyed: objects may still be queued while the process exits.
  static DeferredQueue* queue = new DeferredQueue;
  return *queue;
}

}  // namespace

void release_deferred(PyObject* obj) noexcept {
  if (obj == nullptr) return;
  if (PyGILState_Check()) {
    Py_DECREF(obj);
    return;
  }
  DeferredQueue& q = deferred_queue();
  std::lock_guard guard(q.lock);
  try {
    q.objects.push_back(obj);
  } catch (...) {
    // Out of memory while queueing: leaking one reference is the only safe
    // choice without the lock.
    return;
  }
  q.size.store(q.objects.size(), std::memory_order_release);
}

void drain_deferred_releases() noexcept {
  DeferredQueue& q = deferred_queue();
  if (q.size.load(std::memory_order_acquire) == 0) return;
  std::vector<PyObject*> pending;
  {
    std::lock_guard guard(q.lock);
    pending.swap(q.objects);
    q.size.store(0, std::memory_order_release);
  }
  // Released outside the queue's mutex: a destructor may run Python code
  // that queues again.
  for (PyObject* obj : pending) Py_DECREF(obj);
}

std::size_t deferred_release_count() noexcept {
  return deferred_queue().size.load(std::memory_order_acquire);
}

// ---------------------------------------------------------------------------
// PyErr

namespace {

// Takes the pending exception as a normalised instance with its traceback.
OwnedRef take_pending() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
  return OwnedRef::steal(PyErr_GetRaisedException());
#else
  PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
  PyErr_Fetch(&type, &value, &tb);
  if (type == nullptr) return {};
  PyErr_NormalizeException(&type, &value, &tb);
  if (tb != nullptr && value != nullptr) PyException_SetTraceback(value, tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
  return OwnedRef::steal(value);
#endif
}

}  // namespace

PyErr PyErr::fetch() noexcept {
  OwnedRef value = take_pending();
  if (!value) {
    PyErr_SetString(PyExc_SystemError, "error return without exception set");
    value = take_pending();
  }
  return PyErr(std::move(value));
}

PyErr PyErr::new_error_obj(PyObject* type, PyObject* arg) noexcept {
  PyObject* exc = PyObject_CallOneArg(type, arg);
  if (exc == nullptr) return fetch();
  if (!PyExceptionInstance_Check(exc)) {
    Py_DECREF(exc);
    return internal_fault("exception class did not create an exception instance");
  }
  return PyErr(OwnedRef::steal(exc));
}

PyErr PyErr::new_error(PyObject* type, std::string_view message) noexcept {
  auto text = lossy_str(message);
  if (!text) return std::move(text.error());
  return new_error_obj(type, text->get());
}

PyErr PyErr::memory_error() noexcept {
  PyErr_NoMemory();
  return fetch();
}

PyErr PyErr::internal_fault(std::string_view message) noexcept {
  auto text = lossy_str(message);
  if (!text) return std::move(text.error());
  PyObject* exc = PyObject_CallOneArg(PyExc_SystemError, text->get());
  if (exc == nullptr) return fetch();
  return PyErr(OwnedRef::steal(exc));
}

bool PyErr::is_instance_of(PyObject* cls) const noexcept {
  int r = PyObject_IsInstance(value_.get(), cls);
  if (r < 0) {
    PyErr_Clear();
    return false;
  }
  return r == 1;
}

void PyErr::set_cause(PyErr cause) noexcept {
  // PyException_SetCause steals the reference.
  PyException_SetCause(value_.get(), cause.value_.release());
}

void PyErr::restore() && noexcept {
  PyObject* value = value_.release();
  if (value == nullptr) {  // a moved-from error
    PyErr_SetString(PyExc_SystemError, "error value was already raised");
    return;
  }
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(value);
#else
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
  Py_INCREF(type);
  PyObject* tb = PyException_GetTraceback(value);  // new reference or null
  PyErr_Restore(type, value, tb);
#endif
}

std::string PyErr::message() const {
  OwnedRef text = OwnedRef::steal(PyObject_Str(value_.get()));
  if (!text) {
    PyErr_Clear();
    return "<unprintable>";
  }
  auto utf8 = str_view(text.get());  // a failure is taken as a value: nothing stays pending
  if (!utf8) return "<unprintable>";
  return std::string(*utf8);
}

PyResult<std::string_view> str_view(PyObject* str) noexcept {
  if (!PyUnicode_Check(str)) {
    return fail(PyErr::type_error("expected str"));
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size);
  if (utf8 == nullptr) return fail_fetch();
  return std::string_view(utf8, static_cast<std::size_t>(size));
}

std::string type_name_text(PyTypeObject* type) {
#if PY_VERSION_HEX >= 0x030B0000
  OwnedRef name = OwnedRef::steal(PyType_GetName(type));
#else
  OwnedRef name = OwnedRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
#endif
  if (name) {
    if (auto text = str_view(name.get())) return std::string(*text);
  }
  PyErr_Clear();
  return type->tp_name;
}

// ---------------------------------------------------------------------------
// Borrow flags

PyResult<BorrowFlag::Shared> BorrowFlag::borrow() noexcept {
  std::intptr_t current = state_.load(std::memory_order_relaxed);
  do {
    if (current == kExclusive) return fail(PyErr::runtime_error(kAlreadyMutablyBorrowed));
  } while (!state_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                         std::memory_order_relaxed));
  return Shared(this);
}

PyResult<BorrowFlag::Exclusive> BorrowFlag::borrow_mut() noexcept {
  std::intptr_t expected = 0;
  if (!state_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
    return fail(PyErr::runtime_error(kAlreadyBorrowed));
  }
  return Exclusive(this);
}

// ---------------------------------------------------------------------------
// Entry points

void detail::raise_current_exception() noexcept {
  try {
    throw;
  } catch (PyErrException& e) {
    e.take().restore();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr::internal_fault(e.what()).restore();
  } catch (...) {
    // The interpreter ended this thread inside a call into Python (it is
    // being finalized): parked, as GilRelease does.
    if (is_thread_end()) park_thread();
    PyErr::internal_fault("unknown internal error").restore();
  }
}

}  // namespace kestrine
