// Instances of the package's annotated scalar classes (`KestrineAnnotatedStr`,
// `KestrineAnnotatedInt`, `KestrineAnnotatedFloat`, python/kestrine/_annotated.py)
// as the annotated conversion makes them, one per loaded scalar.
//
//   AnnotatedScalarMaker maker;                      // one per conversion
//   PyResult<OwnedRef> s = maker.make(ScalarClass::Str, text_object, meta);
//
// The classes keep their metadata in `_meta` (a slot for str and float, the
// instance dict for int, whose subclasses cannot have slots), which Python
// code reads by index, in the order of the constructor's arguments after the
// value.  Made from Python, `_meta` is a tuple.  The loader stores a
// `ScalarMetaObject` there instead: the same ten items read by index, kept as
// C integers and shared str objects, whose Python integers are made only
// when an item is read.  When a class has exactly the expected layout
// (checked once per process), the instance is made by the built-in base
// type's `tp_new` (an ASCII str laid out here as that constructor lays it
// out) and the record stored directly, without running the class's
// Python-level `__new__`; otherwise the class is called with the
// value and the ten metadata items (eleven positional arguments), as from
// Python.  Both give objects that behave the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ffi/py.hpp"
#include "ffi/types/source_positions.hpp"
#include "scanner/scanner.hpp"           // ScalarStyle

namespace kestrine {

enum class ScalarClass : std::uint8_t { Str, Int, Float };

// Items in the metadata sequence: line, column, file, end line, end column,
// style, source tag, source target, offset, end offset.
inline constexpr std::size_t kScalarMetaSize = 10;

// Where one scalar came from, as its metadata record keeps it: positions as
// C integers (1-based lines and columns, byte offsets), and the three texts
// (file, source tag, source target) in one tuple that the values of a load
// with the same three share.
struct ScalarAnnotation : SourcePositions {
  PyObject* provenance = nullptr;  // borrowed (file, source_tag, source_target); null when all three are None
  ScalarStyle style = ScalarStyle::Plain;
};

// The shared tuple of ScalarAnnotation::provenance for these three texts
// (empty references for None), or an empty reference when all are None.
PyResult<OwnedRef> scalar_provenance(const OwnedRef& file, const OwnedRef& source_tag, const OwnedRef& source_target);

// Whether instances of the class are made without running Python code.
// Imports the class on first use (Python code: not from a noexcept frame);
// an import failure gives false (and is reported again by make).
bool annotated_scalar_is_native(ScalarClass cls);

// The storage of the metadata records: blocks of 256 KiB, each record taken
// by a pointer bump and given back by its deallocation; a block returns to
// the system once its thread has moved on from it and its last record has
// gone.  The block being filled passes from one conversion of a thread to
// the next, so that many small loads share blocks instead of taking one
// each (mapping a block costs more than converting a small text, and kept
// a block alive per result).
class RecordBlocks {
 public:
  // Takes over the block this thread was filling, if any.
  RecordBlocks() noexcept;
  RecordBlocks(const RecordBlocks&) = delete;
  RecordBlocks& operator=(const RecordBlocks&) = delete;
  // Hands the block being filled back to the thread.
  ~RecordBlocks();

  // Storage for one record, or null when out of memory (no exception set).
  void* take() noexcept;
  // Gives back the storage of a record that take() returned, from any maker.
  static void give_back(void* record) noexcept;
  // Sets up this thread's state ahead of its first use (see
  // detail::prepare_thread).
  static void prepare_thread() noexcept { (void)thread_current(); }

 private:
  struct Block;
  struct Current;
  static Current& thread_current() noexcept;
  static void release(Block* block) noexcept;
  Block* current_ = nullptr;
  std::size_t next_ = 0;  // the index of the next free record in current_
};

// Makes annotated scalars for one conversion; holds the one-item argument
// tuple that the base types' constructors take, reused from scalar to scalar.
class AnnotatedScalarMaker {
 public:
  // A new instance of the class holding the value of `value` (an exact
  // str, int or float) and the metadata.  The instance has its own copy of
  // the value (the base type's constructor makes it): `value` may be shared,
  // and a str whose hash is known passes it on.  May run Python code (the
  // class's import, or the class itself for an unexpected layout).
  PyResult<OwnedRef> make(ScalarClass cls, PyObject* value, const ScalarAnnotation& meta);
  // The same for a str of the UTF-8 `text` (invalid: UnicodeDecodeError),
  // made straight from the text when it is ASCII.
  PyResult<OwnedRef> make_str(std::string_view text, const ScalarAnnotation& meta);

 private:
  PyResult<OwnedRef> construct(PyTypeObject* base, PyTypeObject* type, PyObject* value);
  PyResult<OwnedRef> new_record(const ScalarAnnotation& meta);
  OwnedRef args_;  // (value,) while a base constructor runs, (None,) between
  PyTypeObject* meta_type_ = nullptr;
  RecordBlocks records_;
};

}  // namespace kestrine
