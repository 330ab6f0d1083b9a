// Error propagation for functions that return std::expected.
//
//   KESTRINE_TRY(expr)                    evaluates expr (an expected<void or T, E>);
//                                         on error returns std::unexpected(error)
//   KESTRINE_ASSIGN_OR_RETURN(decl, expr) evaluates expr; on error returns it,
//                                         otherwise moves the value into `decl`
//
// The enclosing function's return type must be an std::expected whose error
// type can be built from E (PyResult<T> / PyStatus in the Python layer, the
// core's own error records below it).  Both macros evaluate `expr` once.
//
//   PyResult<OwnedRef> f() {
//     KESTRINE_TRY(checked_status(PyList_Append(list, item)));
//     KESTRINE_ASSIGN_OR_RETURN(OwnedRef key, new_str("k"));
//     ...
//   }
#pragma once

#include <expected>
#include <utility>

#define KESTRINE_CONCAT_INNER_(a, b) a##b
#define KESTRINE_CONCAT_(a, b) KESTRINE_CONCAT_INNER_(a, b)

#define KESTRINE_TRY(expr)                                                  \
  do {                                                                      \
    auto&& kestrine_try_result_ = (expr);                                   \
    if (!kestrine_try_result_) [[unlikely]]                                 \
      return ::std::unexpected(::std::move(kestrine_try_result_.error()));  \
  } while (false)

#define KESTRINE_ASSIGN_OR_RETURN_IMPL_(tmp, decl, expr)       \
  auto&& tmp = (expr);                                         \
  if (!tmp) [[unlikely]]                                       \
    return ::std::unexpected(::std::move(tmp.error()));        \
  decl = ::std::move(*tmp)

#define KESTRINE_ASSIGN_OR_RETURN(decl, expr) \
  KESTRINE_ASSIGN_OR_RETURN_IMPL_(KESTRINE_CONCAT_(kestrine_assign_result_, __COUNTER__), decl, expr)
