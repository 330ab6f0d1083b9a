// Instance layout of `KestrineScalar`: a scalar node descriptor that a
// `represent` callback returns (the text to emit, an optional tag, a style
// and comments).  Immutable once made.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "ffi/py.hpp"
#include "ffi/types/class_objects.hpp"
#include "ffi/types/descriptor_args.hpp"
#include "scanner/scanner.hpp"

namespace kestrine {

struct ScalarFields {
  std::string value;                 // the scalar text to emit
  DescriptorText text;               // tag and comments
  std::optional<ScalarStyle> style;  // absent: "auto"
};

struct ScalarData {
  explicit ScalarData(ScalarFields&& f) noexcept : fields(std::move(f)) {}
  BorrowFlag borrow;
  ScalarFields fields;
};

struct ScalarObject {
  PyObject ob_base;
  ScalarData data;
};

// The style names ("plain", "single", ...); "auto" for none.
const char* scalar_style_name(std::optional<ScalarStyle> style) noexcept;

// The descriptor's fields when `obj` is a KestrineScalar, else null.
const ScalarFields* scalar_fields(PyObject* obj) noexcept;

}  // namespace kestrine
