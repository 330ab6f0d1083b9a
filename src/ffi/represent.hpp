// The represent road of `dumps`: `dumps(obj, represent=callable)`.
//
//   PyResult<OwnedRef> text = dumps_represented(obj, represent, encode_options, option, width);
//
// Python objects become a round-trip node tree (roundtrip/tree/ast.hpp) instead of
// a value tree, so that what a callback asks for (a scalar's style and tag, a
// collection's flow form, comments) reaches the text; the round-trip emitter
// writes the tree.  The callable is asked about every object first (the root,
// keys, values, items, None included): it returns a node descriptor
// (`KestrineScalar`, `KestrineSequence`, `KestrineMapping`), whose items pass
// through it again, or None for the built-in rules, which follow the plain
// road (ffi/convert/encode.hpp and duck_rules.hpp) and reuse its scalar
// conversion, tag check and duck-typed rules.  Plain data that the callable
// leaves to the built-in rules is written through a value tree and the plain
// writer, which give the same text for far less (represent_plain.hpp); the
// node walk takes over where that stops, without asking the callable again.
//
// Objects met twice (shared or self-referential containers and other
// objects that are not plain scalars) are written once with an anchor and
// then as aliases, named id001, id002, ... in document order
// (roundtrip/tree/dump_anchors.hpp).
//
// Runs with the interpreter lock held, except around writing the text and
// freeing the tree.  Errors raised by the callables pass through unchanged;
// the road's own errors are ValueError, TypeError, KestrineEncodeError and
// KestrineUnserializableError (nesting deeper than 999 levels, the native
// stack running out, or a RecursionError raised on the way).
#pragma once

#include <cstdint>

#include "ffi/convert/encode.hpp"
#include "ffi/py.hpp"
#include "util/options.hpp"

namespace kestrine {

// The text of `obj` as bytes.  `convert`: the conversion options of the call
// (`default`, `serializers`, the datetime, dataclass and numpy flags);
// `option`: the layout bits; `width`: the line width (0: no folding).
PyResult<OwnedRef> dumps_represented(PyObject* obj, PyObject* represent, const EncodeOptions& convert,
                                     Options option, std::uint64_t width);

}  // namespace kestrine
