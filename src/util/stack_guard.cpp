#include "util/stack_guard.hpp"

#include <pthread.h>

#include <boost/context/fiber.hpp>
#include <boost/context/protected_fixedsize_stack.hpp>
#include <cstdint>

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
  explicit RecordingStack(char** low_out) : inner_(kStackSegmentSize), low_out_(low_out) {}
  boost::context::stack_context allocate() {
    auto sctx = inner_.allocate();
    *low_out_ = static_cast<char*>(sctx.sp) - sctx.size;
    return sctx;
  }
  void deallocate(boost::context::stack_context& sctx) noexcept { inner_.deallocate(sctx); }

 private:
  boost::context::protected_fixedsize_stack inner_;
  char** low_out_;
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
  char* outer_low = t_stack_low;
  bc::fiber f{std::allocator_arg, RecordingStack(&segment_low),
              [&](bc::fiber&& caller) {
                t_stack_low = segment_low;
                fn(ctx);  // never throws: stack_guarded captures exceptions
                t_stack_low = outer_low;
                return std::move(caller);
              }};
  std::move(f).resume();
  t_stack_low = outer_low;
}

}  // namespace detail
}  // namespace kestrine
