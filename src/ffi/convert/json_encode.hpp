// The body of `to_json` after its arguments: Python objects to JSON text.
//
//   PyResult<OwnedRef> text = py_to_json_bytes(obj, encode_options, json_options);
//
// Converts `obj` to a value tree with the interpreter lock held
// (ffi/convert/encode.hpp: every callback, and every read of a Python
// object, happens here), then writes the tree as JSON (encode/json_writer.hpp)
// into a text buffer, with the lock released unless the text is small, and
// copies it into the bytes object returned.  Errors:
// the conversion's own (too deep, unpaired surrogates, callbacks), then
// "a collection cannot be a JSON object key" (KestrineEncodeError) from the
// writer.  Called, and returns, with the lock held.
#pragma once

#include "encode/json_writer.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/py.hpp"

namespace kestrine {

PyResult<OwnedRef> py_to_json_bytes(PyObject* obj, const EncodeOptions& options, const JsonOptions& json);

}  // namespace kestrine
