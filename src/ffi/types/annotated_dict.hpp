// Instance layout of `KestrineAnnotatedDict`, and the metadata record that
// both annotated container classes carry.
//
//   Annotation meta{...};                        // positions and provenance
//   PyResult<OwnedRef> d = new_annotated_dict(meta);   // empty, then fill it
//
// The members (the nine metadata properties, the three predicates,
// `__reduce__` and `__setstate__`) are shared by the dict and the list class;
// they are defined in annotated_dict.cpp and work on either layout.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ffi/py.hpp"
#include "ffi/types/source_positions.hpp"
#include "ffi/types/class_objects.hpp"

namespace kestrine {

// Where an annotated container came from: its positions, and three texts as
// str objects (empty for None), shared by every value of one load that has
// the same file or tag.  One record is 56 bytes; the Python integers are made
// only when an attribute is read.
struct Annotation : SourcePositions {
  OwnedRef file;
  OwnedRef source_tag;     // "!secret", "!env_var", an include tag, a custom tag
  OwnedRef source_target;  // the directive's argument
};

// The text of a str field of an Annotation, or nothing for None (or a str
// without a UTF-8 form, which the loader never makes).
std::optional<std::string_view> annotation_text(const OwnedRef& field) noexcept;

// The class-owned part of either annotated container.
struct AnnotatedData {
  BorrowFlag borrow;
  Annotation meta;

  AnnotatedData() noexcept = default;
  explicit AnnotatedData(Annotation m) noexcept : meta(std::move(m)) {}
};

struct AnnotatedDictObject {
  PyDictObject dict;
  AnnotatedData data;
};

// A new, empty KestrineAnnotatedDict carrying `meta`.
PyResult<OwnedRef> new_annotated_dict(Annotation meta) noexcept;

// The metadata of an annotated dict or list instance (the object must be an
// instance of one of the two classes or of a subclass).
AnnotatedData& annotated_data(PyObject* self) noexcept;

// The state tuple of `__reduce__` / `__setstate__`: (line, column, file,
// end line, end column, source tag, source target, offset, end offset).
PyResult<OwnedRef> span_to_py_tuple(const Annotation& meta) noexcept;

namespace annotated_members {
// Member tables shared by both classes.
extern PyGetSetDef getset[];
extern PyMethodDef methods[];
// tp_new of both classes: an empty instance of `type` with fresh metadata.
PyObject* new_slot(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;
}  // namespace annotated_members

}  // namespace kestrine
