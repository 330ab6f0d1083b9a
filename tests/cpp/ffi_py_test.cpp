// The RAII layer: references, error values, the lock scope, borrow flags
// and the entry wrapper.
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "ffi/py.hpp"
#include "ffi_support.hpp"

namespace kestrine {
namespace {

using testing::eval;
using testing::repr;
using testing::run;
using testing::to_std;

// A fresh object whose reference count only this test touches.
OwnedRef fresh_object() { return OwnedRef::steal(PyList_New(0)); }

// The pending exception as "Type: message", then cleared.
std::string take_pending_text() {
  if (!PyErr_Occurred()) return "<none>";
  PyErr err = PyErr::fetch();
  return std::string(Py_TYPE(err.value())->tp_name) + ": " + err.message();
}

TEST(FfiOwnedRef, CountsReferencesThroughCopyMoveAndRelease) {
  OwnedRef obj = fresh_object();
  PyObject* raw = obj.get();
  ASSERT_EQ(Py_REFCNT(raw), 1);
  {
    OwnedRef copy = obj;
    EXPECT_EQ(Py_REFCNT(raw), 2);
    OwnedRef moved = std::move(copy);
    EXPECT_EQ(Py_REFCNT(raw), 2);
    EXPECT_FALSE(copy);
    OwnedRef assigned;
    assigned = moved;
    EXPECT_EQ(Py_REFCNT(raw), 3);
    assigned = fresh_object();  // the old reference goes with the assignment
    EXPECT_EQ(Py_REFCNT(raw), 2);
  }
  EXPECT_EQ(Py_REFCNT(raw), 1);

  OwnedRef borrowed = OwnedRef::borrow(raw);
  EXPECT_EQ(Py_REFCNT(raw), 2);
  PyObject* released = borrowed.release();
  EXPECT_FALSE(borrowed);
  EXPECT_EQ(Py_REFCNT(raw), 2);
  Py_DECREF(released);
  PyObject* extra = obj.new_ref();
  EXPECT_EQ(Py_REFCNT(raw), 2);
  Py_DECREF(extra);
  obj.reset();
  EXPECT_FALSE(obj);
}

TEST(FfiOwnedRef, SelfAssignmentKeepsTheObject) {
  OwnedRef obj = fresh_object();
  PyObject* raw = obj.get();
  OwnedRef& alias = obj;
  obj = alias;
  EXPECT_EQ(obj.get(), raw);
  EXPECT_EQ(Py_REFCNT(raw), 1);
}

TEST(FfiOwnedRef, ReleasesOnExceptionPaths) {
  OwnedRef obj = fresh_object();
  PyObject* raw = obj.get();
  try {
    OwnedRef a = obj;
    std::vector<OwnedRef> many(5, obj);
    EXPECT_EQ(Py_REFCNT(raw), 7);
    throw std::runtime_error("unwind");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(Py_REFCNT(raw), 1);

  // An early error return releases everything built so far.
  auto build = [&](bool fail_midway) -> PyResult<OwnedRef> {
    OwnedRef held = obj;
    OwnedRef tuple = OwnedRef::steal(PyTuple_Pack(2, raw, raw));
    if (fail_midway) return fail(PyErr::value_error("midway"));
    return tuple;
  };
  EXPECT_FALSE(build(true));
  EXPECT_EQ(Py_REFCNT(raw), 1);
  {
    auto ok = build(false);
    ASSERT_TRUE(ok);
    EXPECT_EQ(Py_REFCNT(raw), 3);
  }
  EXPECT_EQ(Py_REFCNT(raw), 1);
}

TEST(FfiPyErr, FetchAndRestoreKeepTypeMessageAndTraceback) {
  run("def _raise_key():\n    raise KeyError('missing')\n");
  OwnedRef fn = eval("_raise_key");
  ASSERT_TRUE(fn);
  EXPECT_EQ(PyObject_CallNoArgs(fn.get()), nullptr);
  PyErr err = PyErr::fetch();
  EXPECT_FALSE(PyErr_Occurred());
  EXPECT_TRUE(err.is_instance_of(PyExc_KeyError));
  EXPECT_EQ(err.message(), "'missing'");
  OwnedRef tb = OwnedRef::steal(PyException_GetTraceback(err.value()));
  EXPECT_TRUE(tb) << "traceback must stay attached to the value";

  PyObject* value = err.value();
  std::move(err).restore();
  ASSERT_TRUE(PyErr_Occurred());
  PyErr again = PyErr::fetch();
  EXPECT_EQ(again.value(), value) << "the same exception object is raised";
}

TEST(FfiPyErr, FetchWithoutPendingExceptionIsASystemError) {
  ASSERT_FALSE(PyErr_Occurred());
  PyErr err = PyErr::fetch();
  EXPECT_TRUE(err.is_instance_of(PyExc_SystemError));
  EXPECT_EQ(err.message(), "error return without exception set");
}

TEST(FfiPyErr, CheckedTurnsNullIntoTheError) {
  auto r = checked(PyLong_FromString("12x", nullptr, 10));
  ASSERT_FALSE(r);
  EXPECT_TRUE(r.error().is_instance_of(PyExc_ValueError));
  EXPECT_FALSE(PyErr_Occurred());
  EXPECT_FALSE(checked_status(-1 + (PyErr_SetString(PyExc_OSError, "x"), 0)));
  EXPECT_FALSE(PyErr_Occurred());
}

TEST(FfiPyErr, NewErrorWithFailingOrOddClasses) {
  run(
      "class _BadInit(Exception):\n"
      "    def __init__(self, msg):\n"
      "        raise ZeroDivisionError('init failed')\n"
      "class _NotExc:\n"
      "    def __init__(self, msg): pass\n");
  OwnedRef bad = eval("_BadInit");
  PyErr e1 = PyErr::new_error(bad.get(), "text");
  EXPECT_TRUE(e1.is_instance_of(PyExc_ZeroDivisionError)) << "creation failure is the error";
  OwnedRef odd = eval("_NotExc");
  PyErr e2 = PyErr::new_error(odd.get(), "text");
  EXPECT_TRUE(e2.is_instance_of(PyExc_SystemError));
  // Invalid UTF-8 in a message never fails the creation.
  PyErr e3 = PyErr::value_error(std::string_view("bad \xff byte", 10));
  EXPECT_EQ(e3.message(), "bad \xEF\xBF\xBD byte");
}

TEST(FfiPyErr, CauseIsChained) {
  PyErr outer = PyErr::runtime_error("outer");
  outer.set_cause(PyErr::value_error("inner"));
  OwnedRef cause = OwnedRef::steal(PyException_GetCause(outer.value()));
  ASSERT_TRUE(cause);
  EXPECT_EQ(to_std(cause.get()), "inner");
}

TEST(FfiPyErr, RestoringAMovedFromErrorIsReportedNotCrashing) {
  PyErr a = PyErr::value_error("x");
  PyErr b = std::move(a);
  std::move(a).restore();  // NOLINT(bugprone-use-after-move): the point of the test
  EXPECT_EQ(take_pending_text(), "SystemError: error value was already raised");
}

TEST(FfiStrings, StrViewAndNewStr) {
  auto s = new_str("h\xC3\xA9llo");
  ASSERT_TRUE(s);
  auto view = str_view(s->get());
  ASSERT_TRUE(view);
  EXPECT_EQ(*view, "h\xC3\xA9llo");
  OwnedRef number = OwnedRef::steal(PyLong_FromLong(3));
  EXPECT_FALSE(str_view(number.get()));
  OwnedRef surrogate = eval("'\\ud800'");
  auto bad = str_view(surrogate.get());
  ASSERT_FALSE(bad);
  EXPECT_TRUE(bad.error().is_instance_of(PyExc_UnicodeEncodeError));
  auto big = new_uint(1ULL << 63);
  ASSERT_TRUE(big);
  EXPECT_EQ(to_std(big->get()), "9223372036854775808");
}

TEST(FfiGil, ReleaseLetsOtherThreadsRunAndTakesTheLockBack) {
  ASSERT_TRUE(PyGILState_Check());
  std::atomic<bool> ran{false};
  {
    GilRelease released;
    EXPECT_FALSE(PyGILState_Check());
    // Would deadlock if the lock were still held.
    std::thread other([&] {
      PyGILState_STATE st = PyGILState_Ensure();
      OwnedRef value = OwnedRef::steal(PyLong_FromLong(41));
      ran = value && PyLong_AsLong(value.get()) == 41;
      PyGILState_Release(st);
    });
    other.join();
  }
  EXPECT_TRUE(PyGILState_Check());
  EXPECT_TRUE(ran);

  int result = without_gil([] { return 7; });
  EXPECT_EQ(result, 7);
  EXPECT_TRUE(PyGILState_Check());
}

TEST(FfiGil, ReferencesDroppedWithoutTheLockAreDeferred) {
  OwnedRef obj = fresh_object();
  PyObject* raw = obj.get();
  OwnedRef a = obj;
  OwnedRef b = obj;
  ASSERT_EQ(Py_REFCNT(raw), 3);
  {
    GilRelease released;
    a.reset_deferred();
    b.reset_deferred();
    EXPECT_EQ(deferred_release_count(), 2u);
    // Not touched while released.
    EXPECT_EQ(Py_REFCNT(raw), 3);
  }
  EXPECT_EQ(deferred_release_count(), 0u);
  EXPECT_EQ(Py_REFCNT(raw), 1);

  // With the lock held the release is immediate.
  OwnedRef c = obj;
  c.reset_deferred();
  EXPECT_EQ(Py_REFCNT(raw), 1);
  EXPECT_EQ(deferred_release_count(), 0u);
}

TEST(FfiGil, ExceptionInsideTheScopeStillRetakesTheLock) {
  EXPECT_THROW(without_gil([]() -> int { throw std::runtime_error("x"); }), std::runtime_error);
  EXPECT_TRUE(PyGILState_Check());
}

TEST(FfiBorrow, SharedAndExclusiveRules) {
  BorrowFlag flag;
  {
    auto r1 = flag.borrow();
    auto r2 = flag.borrow();
    ASSERT_TRUE(r1);
    ASSERT_TRUE(r2);
    auto w = flag.borrow_mut();
    ASSERT_FALSE(w);
    EXPECT_TRUE(w.error().is_instance_of(PyExc_RuntimeError));
    EXPECT_EQ(w.error().message(), "Already borrowed");
  }
  EXPECT_TRUE(flag.is_free());
  {
    auto w = flag.borrow_mut();
    ASSERT_TRUE(w);
    EXPECT_TRUE(flag.is_exclusive());
    auto r = flag.borrow();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "Already mutably borrowed");
    auto w2 = flag.borrow_mut();
    ASSERT_FALSE(w2);
    EXPECT_EQ(w2.error().message(), "Already borrowed");
    // Moving a guard does not release twice.
    auto moved = std::move(*w);
    EXPECT_TRUE(flag.is_exclusive());
  }
  EXPECT_TRUE(flag.is_free());
  EXPECT_FALSE(PyErr_Occurred());
}

TEST(FfiBorrow, ConcurrentHoldersNeverOverlapAnExclusiveOne) {
  BorrowFlag flag;
  std::atomic<int> readers{0};
  std::atomic<int> writers{0};
  std::atomic<bool> violated{false};
  std::atomic<int> acquired{0};
  // Each thread takes a borrow with the lock held, then keeps it while the
  // lock is released so that the other threads run and try to borrow too.
  auto worker = [&](int id) {
    PyGILState_STATE st = PyGILState_Ensure();
    for (int i = 0; i < 500; ++i) {
      if ((i + id) % 3 == 0) {
        auto w = flag.borrow_mut();
        if (w) {
          acquired.fetch_add(1);
          Py_BEGIN_ALLOW_THREADS
          if (writers.fetch_add(1) != 0 || readers.load() != 0) violated = true;
          std::this_thread::yield();
          writers.fetch_sub(1);
          Py_END_ALLOW_THREADS
        }
      } else {
        auto r = flag.borrow();
        if (r) {
          acquired.fetch_add(1);
          Py_BEGIN_ALLOW_THREADS
          readers.fetch_add(1);
          if (writers.load() != 0) violated = true;
          std::this_thread::yield();
          readers.fetch_sub(1);
          Py_END_ALLOW_THREADS
        }
      }
    }
    PyGILState_Release(st);
  };
  {
    GilRelease released;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(worker, t);
    for (auto& th : threads) th.join();
  }
  EXPECT_FALSE(violated);
  EXPECT_GT(acquired.load(), 0);
  EXPECT_TRUE(flag.is_free());
}

// ---------------------------------------------------------------------------
// py_entry

TEST(FfiEntry, ValuesAndErrorValues) {
  PyObject* ok = py_entry([]() -> PyResult<OwnedRef> { return new_int(5); });
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(PyLong_AsLong(ok), 5);
  Py_DECREF(ok);

  EXPECT_EQ(py_entry([]() -> PyResult<OwnedRef> { return fail(PyErr::value_error("bad value")); }), nullptr);
  EXPECT_EQ(take_pending_text(), "ValueError: bad value");

  EXPECT_EQ(py_entry([]() -> PyResult<OwnedRef> { return OwnedRef(); }), nullptr);
  EXPECT_EQ(take_pending_text(), "SystemError: native function returned no value");
}

TEST(FfiEntry, CxxExceptionsNeverCrossTheBoundary) {
  EXPECT_EQ(py_entry([]() -> PyResult<OwnedRef> { throw std::bad_alloc(); }), nullptr);
  EXPECT_EQ(take_pending_text(), "MemoryError: ");

  EXPECT_EQ(py_entry([]() -> PyResult<OwnedRef> { throw InternalFault("tree invariant broken"); }), nullptr);
  EXPECT_EQ(take_pending_text(), "SystemError: tree invariant broken");

  EXPECT_EQ(py_entry([]() -> PyResult<OwnedRef> { throw std::out_of_range("vector::at"); }), nullptr);
  EXPECT_EQ(take_pending_text(), "SystemError: vector::at");

  EXPECT_EQ(py_entry([]() -> PyResult<OwnedRef> { throw 42; }), nullptr);
  EXPECT_EQ(take_pending_text(), "SystemError: unknown internal error");

  EXPECT_EQ(py_entry([]() -> PyResult<OwnedRef> { throw PyErrException(PyErr::type_error("carried")); }),
            nullptr);
  EXPECT_EQ(take_pending_text(), "TypeError: carried");
}

TEST(FfiEntry, StatusEntries) {
  EXPECT_EQ(py_entry_status([]() -> PyStatus { return {}; }), 0);
  EXPECT_FALSE(PyErr_Occurred());
  EXPECT_EQ(py_entry_status([]() -> PyStatus { return fail(PyErr::type_error("no")); }), -1);
  EXPECT_EQ(take_pending_text(), "TypeError: no");
  EXPECT_EQ(py_entry_status([]() -> PyStatus { throw std::logic_error("broken"); }), -1);
  EXPECT_EQ(take_pending_text(), "SystemError: broken");
}

TEST(FfiEntry, ErrorsFromPythonCallbacksPassThroughUnchanged) {
  run("def _cb():\n    raise LookupError('from callback')\n");
  OwnedRef cb = eval("_cb");
  PyObject* r = py_entry([&]() -> PyResult<OwnedRef> { return checked(PyObject_CallNoArgs(cb.get())); });
  EXPECT_EQ(r, nullptr);
  EXPECT_EQ(take_pending_text(), "LookupError: from callback");
  (void)repr;
}

}  // namespace
}  // namespace kestrine
