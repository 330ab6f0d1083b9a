// Instance layout of `KestrineAnnotatedList` (metadata and members shared
// with the dict class: annotated_dict.hpp).
#pragma once

#include "ffi/py.hpp"
#include "ffi/types/class_objects.hpp"
#include "ffi/types/annotated_dict.hpp"

namespace kestrine {

struct AnnotatedListObject {
  PyListObject list;
  AnnotatedData data;
};

// A new, empty KestrineAnnotatedList carrying `meta`.
PyResult<OwnedRef> new_annotated_list(Annotation meta) noexcept;

}  // namespace kestrine
