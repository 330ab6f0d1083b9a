// The class `KestrineTag`: a custom-tagged value.  The loader returns one for
// a tag that no callback handled when OPT_PASSTHROUGH_TAG is set; `dumps`
// writes one back as the tagged value.
#pragma once

#include <string>
#include <string_view>

#include "ffi/py.hpp"
#include "ffi/types/class_objects.hpp"

namespace kestrine {

// The instance fields; set at construction, never changed afterwards.
struct TagData {
  TagData() = default;
  TagData(std::string tag_text, OwnedRef tagged_value) : tag(std::move(tag_text)), value(std::move(tagged_value)) {}

  BorrowFlag borrow;
  std::string tag;  // the tag text, e.g. "!point"
  OwnedRef value;   // the tagged value (any object); empty only after a GC clear
};

struct TagObject {
  PyObject ob_base;
  TagData data;
};

// A new KestrineTag holding `tag` and a new reference to `value`, built
// without calling Python code.
PyResult<OwnedRef> new_kestrine_tag(std::string_view tag, PyObject* value) noexcept;

// Whether `obj` is a KestrineTag (the class is not subclassable).  False
// before the class was created.
bool is_kestrine_tag(PyObject* obj) noexcept;

// The fields of an object for which is_kestrine_tag holds.
inline const TagData& kestrine_tag_data(PyObject* obj) noexcept {
  return reinterpret_cast<const TagObject*>(obj)->data;
}

}  // namespace kestrine
