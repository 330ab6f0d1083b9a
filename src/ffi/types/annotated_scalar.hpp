// Instances of the package's annotated scalar classes (`KestrineAnnotatedStr`,
// `KestrineAnnotatedInt`, `KestrineAnnotatedFloat`, python/kestrine/_annotated.py)
// as the annotated conversion makes them, one per loaded scalar.
//
//   AnnotatedScalarMaker maker;                      // one per conversion
//   auto s = maker.make(ScalarClass::Str, text_object, std::move(meta), style);
//
// The classes keep their metadata in `_meta` (a slot for str and float, the
// instance dict for int, whose subclasses cannot have slots), which Python
// code reads by index, in the order of the constructor's arguments after the
// value.  Made from Python, `_meta` is a tuple.  The loader stores a
// `ScalarMetaObject` there instead: the same ten items read by index, kept as
// C integers and shared str objects, whose Python integers are made only
// when an item is read.  When a class has exactly the expected layout
// (checked once per process), the instance is made by the built-in base
// type's `tp_new` and the record stored directly, without running the
// class's Python-level `__new__`; otherwise the class is called with the
// value and the ten metadata items (eleven positional arguments), as from
// Python.  Both give objects that behave the same.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ffi/py.hpp"
#include "ffi/types/annotated_dict.hpp"  // Annotation
#include "scanner/scanner.hpp"           // ScalarStyle

namespace kestrine {

enum class ScalarClass : std::uint8_t { Str, Int, Float };

// Items in the metadata sequence: line, column, file, end line, end column,
// style, source tag, source target, offset, end offset.
inline constexpr std::size_t kScalarMetaSize = 10;

// Whether instances of the class are made without running Python code.
// Imports the class on first use (Python code: not from a noexcept frame);
// an import failure gives false (and is reported again by make).
bool annotated_scalar_is_native(ScalarClass cls);

// Makes annotated scalars for one conversion; holds the one-item argument
// tuple that the base types' constructors take, reused from scalar to scalar.
class AnnotatedScalarMaker {
 public:
  // A new instance of the class holding `value` (an exact str, int or
  // float) and the metadata.  May run Python code (the class's import, or
  // the class itself for an unexpected layout).
  PyResult<OwnedRef> make(ScalarClass cls, OwnedRef value, Annotation meta, ScalarStyle style);

 private:
  PyResult<OwnedRef> construct(PyTypeObject* base, PyTypeObject* type, PyObject* value);
  OwnedRef args_;  // (value,) while a base constructor runs, (None,) between
};

}  // namespace kestrine
