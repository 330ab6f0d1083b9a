// Instances of the package's annotated scalar classes (`KestrineAnnotatedStr`,
// `KestrineAnnotatedInt`, `KestrineAnnotatedFloat`, python/kestrine/_annotated.py)
// as the annotated conversion makes them, one per loaded scalar.
//
//   OwnedRef meta = ...;   // tuple: line, column, file, end_line, end_column,
//                          //   style, source_tag, source_target, offset, end_offset
//   auto s = new_annotated_scalar(ScalarClass::Str, text, std::move(meta));
//
// The classes keep their metadata in one tuple, `_meta`: a slot for str and
// float, the instance dict for int (whose subclasses cannot have slots).
// When a class has exactly that layout (checked once per process), the
// instance is made by the built-in base type's `tp_new` and the tuple stored
// directly, without running the class's Python-level `__new__`; otherwise
// the class is called with the value and the ten metadata items, as from
// Python.  Both give the same object.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ffi/py.hpp"

namespace kestrine {

enum class ScalarClass : std::uint8_t { Str, Int, Float };

// Items in the metadata tuple.
inline constexpr std::size_t kScalarMetaSize = 10;

// Whether instances of the class are made without running Python code.
// Imports the class on first use; an import failure gives false (and is
// reported again by new_annotated_scalar).
bool annotated_scalar_is_native(ScalarClass cls) noexcept;

// A new instance of the class holding `value` (an exact str, int or float)
// and `meta` (a tuple of kScalarMetaSize items).
PyResult<OwnedRef> new_annotated_scalar(ScalarClass cls, PyObject* value, OwnedRef meta) noexcept;

}  // namespace kestrine
