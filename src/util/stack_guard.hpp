// Native stack headroom checks for recursive walks.
//
// Every recursive walk over trees calls `stack_guarded(step)` before it
// descends.  When less than kStackRedZone bytes of native stack remain, the
// step runs on a freshly allocated kStackSegmentSize fiber stack instead, so
// nesting depth is bounded only by memory.  Exceptions thrown by the step are
// carried back across the fiber boundary and rethrown in the caller.
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace kestrine {

inline constexpr std::size_t kStackRedZone = 100 * 1024;           // 102400 bytes
inline constexpr std::size_t kStackSegmentSize = 32u * 1024 * 1024;  // 32 MiB

// Bytes of native stack left below the caller's frame on the current stack
// (thread stack or fiber segment).
std::size_t remaining_stack() noexcept;

namespace detail {
// Runs `fn(ctx)` on a new stack segment; returns after it completed.
void run_on_new_stack(void (*fn)(void*), void* ctx);
}  // namespace detail

template <class F>
decltype(auto) stack_guarded(F&& step) {
  using R = std::invoke_result_t<F&>;
  if (remaining_stack() >= kStackRedZone) [[likely]] {
    return step();
  }
  struct Ctx {
    F* step;
    std::exception_ptr error;
    std::conditional_t<std::is_void_v<R>, char,
                       std::optional<std::conditional_t<std::is_reference_v<R>,
                                                        std::remove_reference_t<R>*, R>>>
        result;
  } ctx{&step, nullptr, {}};
  detail::run_on_new_stack(
      [](void* p) {
        auto* c = static_cast<Ctx*>(p);
        try {
          if constexpr (std::is_void_v<R>) {
            (*c->step)();
          } else if constexpr (std::is_reference_v<R>) {
            c->result.emplace(&(*c->step)());
          } else {
            c->result.emplace((*c->step)());
          }
        } catch (...) {
          c->error = std::current_exception();
        }
      },
      &ctx);
  if (ctx.error) std::rethrow_exception(ctx.error);
  if constexpr (std::is_void_v<R>) {
    return;
  } else if constexpr (std::is_reference_v<R>) {
    return static_cast<R>(**ctx.result);
  } else {
    return R(std::move(*ctx.result));
  }
}

}  // namespace kestrine
