// Python objects straight to JSON text: the body of `to_json` (without
// OPT_SORT_KEYS, whose members are sorted on a converted tree instead).
//
//   PyResult<OwnedRef> text = py_to_json_bytes(obj, encode_options, json_options);
//
// Gives exactly what converting `obj` to a value tree (encode.hpp) and
// writing the tree (encode/json_writer.hpp) gives, in one walk and without
// the tree: exact str, int, float, bool, None, list, tuple and dict are
// written as they are met, straight into the bytes object returned.
// Everything else (subclasses, bytes, sets, KestrineTag, big integers, the
// `serializers`/duck-typed/`default` chain) is converted by the encoder at
// the depth where it stands and its tree written in place.  Lists and dicts
// are walked with the encoder's walk records, so a callback that changes a
// container being walked changes nothing written (encode_walk.hpp).
//
// Errors come in the same order as on the two-step road: the conversion's
// own errors (too deep, unpaired surrogates, callbacks) at once; a
// collection used as a key ("a collection cannot be a JSON object key") only
// once the whole object has been converted.  Requires the interpreter lock,
// which is held throughout.
#pragma once

#include "encode/json_writer.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/py.hpp"

namespace kestrine {

PyResult<OwnedRef> py_to_json_bytes(PyObject* obj, const EncodeOptions& options, const JsonOptions& json);

}  // namespace kestrine
