#include "util/stack_guard.hpp"

#include <pthread.h>

#include <boost/context/fiber.hpp>
#include <boost/context/protected_fixedsize_stack.hpp>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#define KESTRINE_ASAN_FIBERS 1
#endif

namespace kestrine {

namespace {

// Lowest usable address of the stack the current thread is running on.  For
// a thread stack it is read once from the thread attributes; while a step runs
// on a fiber segment it is that segment's low end.
thread_local char* t_stack_low = nullptr;

char* thread_stack_low() noexcept {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return nullptr;
  void* addr = nullptr;
  std::size_t size = 0;
  int rc = pthread_attr_getstack(&attr, &addr, &size);
  std::size_t guard = 0;
  pthread_attr_getguardsize(&attr, &guard);
  pthread_attr_destroy(&attr);
  if (rc != 0) return nullptr;
  return static_cast<char*>(addr) + guard;
}

// Stack allocator that reports the segment it handed out, so the step running
// on it can measure its own headroom.
class RecordingStack {
 public:
  RecordingStack(char** low_out, std::size_t* size_out)
      : inner_(kStackSegmentSize), low_out_(low_out), size_out_(size_out) {}
  boost::context::stack_context allocate() {
    auto sctx = inner_.allocate();
    *low_out_ = static_cast<char*>(sctx.sp) - sctx.size;
    *size_out_ = sctx.size;
#if KESTRINE_ASAN_FIBERS
    // A segment may reuse the pages of an earlier one whose frames were left
    // poisoned by unwinding: start from a clean shadow.
    __asan_unpoison_memory_region(*low_out_, sctx.size);
#endif
    return sctx;
  }
  void deallocate(boost::context::stack_context& sctx) noexcept {
#if KESTRINE_ASAN_FIBERS
    // The frame boost enters the segment with never returns, so its redzones
    // stay poisoned.  This runtime keeps shadow across munmap, and any later
    // mapping of these pages (the interpreter's object arenas, for one) would
    // inherit it and report false errors: leave the shadow clean.
    __asan_unpoison_memory_region(static_cast<char*>(sctx.sp) - sctx.size, sctx.size);
#endif
    inner_.deallocate(sctx);
  }

 private:
  boost::context::protected_fixedsize_stack inner_;
  char** low_out_;
  std::size_t* size_out_;
};

}  // namespace

std::size_t remaining_stack() noexcept {
  if (t_stack_low == nullptr) {
    t_stack_low = thread_stack_low();
    if (t_stack_low == nullptr) return SIZE_MAX;  // unknown: never switch
  }
  char here;
  auto sp = reinterpret_cast<std::uintptr_t>(&here);
  auto low = reinterpret_cast<std::uintptr_t>(t_stack_low);
  return sp > low ? static_cast<std::size_t>(sp - low) : 0;
}

namespace detail {

void run_on_new_stack(void (*fn)(void*), void* ctx) {
  namespace bc = boost::context;
  char* segment_low = nullptr;
  std::size_t segment_size = 0;
  char* outer_low = t_stack_low;
#if KESTRINE_ASAN_FIBERS
  // AddressSanitizer must be told about every switch between the thread
  // stack and a segment, or it reports false errors (notably on unwinding).
  void* fake_stack = nullptr;
  const void* caller_bottom = nullptr;
  std::size_t caller_size = 0;
#endif
  bc::fiber f{std::allocator_arg, RecordingStack(&segment_low, &segment_size),
              [&](bc::fiber&& caller) {
#if KESTRINE_ASAN_FIBERS
                __sanitizer_finish_switch_fiber(nullptr, &caller_bottom, &caller_size);
#endif
                t_stack_low = segment_low;
                fn(ctx);  // never throws: stack_guarded captures exceptions
                t_stack_low = outer_low;
#if KESTRINE_ASAN_FIBERS
                // The segment is finished: no fake stack to keep.
                __sanitizer_start_switch_fiber(nullptr, caller_bottom, caller_size);
#endif
                return std::move(caller);
              }};
#if KESTRINE_ASAN_FIBERS
  __sanitizer_start_switch_fiber(&fake_stack, segment_low, segment_size);
#endif
  std::move(f).resume();
#if KESTRINE_ASAN_FIBERS
  __sanitizer_finish_switch_fiber(fake_stack, nullptr, nullptr);
#endif
  t_stack_low = outer_low;
}

}  // namespace detail
}  // namespace kestrine
