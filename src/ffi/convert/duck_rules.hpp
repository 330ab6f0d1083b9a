// What the encoder does with an object that none of its type rules took: the
// caller's `serializers` and `default` hooks and, between them, the duck-typed
// rules, which recognise an object by what it carries rather than by its
// class.
//
//   convert_unmatched(encoder, obj, slot, opt, depth)
//     1. the `serializers` entry for the object's exact type, if any;
//     2. fallback_to_value, the duck-typed chain;
//     3. the `default` callable (once: never on its own result);
//     4. else KestrineUnserializableError "type {} is not YAML serializable",
//        or, with the same class, "cannot serialize a path that is not valid
//        UTF-8: {path}; ..." for a path-like object whose path text is
//        not valid UTF-8 (the one thing the chain saw but could not take).
//
// The chain, in order: anything with an `isoformat` method
// (datetime_to_value), enumeration members (their `value`), dataclass
// instances (a mapping of their fields), numpy arrays and scalars under
// `serialize_numpy` (numpy_to_value), uuid.UUID (its text), decimal.Decimal
// (a float when exact, else its digits) and path-like objects (the text of
// their `__fspath__()`).  What a rule finds inside an object (an enumeration
// value, a field value, a numpy substitute, the result of `default`) goes
// back to the encoder one level deeper.
//
// The rules that the representer shares stand alone, without an encoder:
// datetime_to_value, is_enum_member, dataclass_field_names and
// numpy_to_value.
//
// Everything here runs with the interpreter lock held and may run Python
// code; exceptions raised by that code come back unchanged.  The numpy
// classes and the dataclass field markers are looked up once per process.
#pragma once

#include <optional>
#include <vector>

#include "decode/value.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/py.hpp"

namespace kestrine {

// Step 1's call: what the `serializers` entry for the object's exact type
// returned, or an empty reference when there is no such entry.
PyResult<OwnedRef> call_serializer(PyObject* obj, const EncodeOptions& opt);

// Steps 1 to 4 above for `obj` at `depth`, into `slot`.
PyStatus convert_unmatched(PyEncoder& encoder, PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                           std::uint32_t depth);

// The duck-typed chain alone: true when one of its rules took the object
// (then `slot` holds the value), false when none applies.  A path-like
// object whose path text has no UTF-8 form is not taken; its text is put in
// `undecodable_path` when one is given.
PyResult<bool> fallback_to_value(PyEncoder& encoder, PyObject* obj, YamlValue& slot, const EncodeOptions& opt,
                                 std::uint32_t depth, OwnedRef* undecodable_path = nullptr);

// The datetime rule: a `String` (in `arena`) for an object with an
// `isoformat` method, its text rewritten under the microsecond and zone
// options; nothing when the object has no such method, under
// `passthrough_datetime`, or when `isoformat()` gives no str.
PyResult<std::optional<YamlValue>> datetime_to_value(PyObject* obj, const EncodeOptions& opt, ValueArena& arena);

// True for members of enumerations (metaclass named EnumType or EnumMeta).
bool is_enum_member(PyObject* obj) noexcept;

// The dataclass rule's view of an object: for a dataclass instance (not the
// class itself), the names of its fields in order, ClassVar and InitVar
// pseudo-fields left out; nothing for any other object, or for every object
// under `passthrough_dataclass`.  A name that is not a str is a TypeError.
PyResult<std::optional<std::vector<OwnedRef>>> dataclass_field_names(PyObject* obj, const EncodeOptions& opt);

// The numpy rule: when numpy can be imported and `obj` is an array or a numpy
// scalar, the result of its `tolist()` (else of its `item()`) as a new
// reference; an empty reference when the rule does not apply.
PyResult<OwnedRef> numpy_to_value(PyObject* obj);

}  // namespace kestrine
