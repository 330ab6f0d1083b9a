// The represent road's fast attempt (internal to the represent road).
//
//   ReplayLog log;
//   PyResult<OwnedRef> text = try_plain_represent(obj, represent, layout, log);
//   // bytes: done; null: go on with the node walk, replaying `log`
//
// Most data given to `dumps(..., represent=...)` is plain (dicts, lists,
// tuples, str, int, float, bool, None) and the callable answers None for
// nearly all of it.  For such data the node tree and the round-trip emitter
// give the same text as a value tree and the plain writer, which cost a
// fraction as much: this walk asks the callable about every object in the
// node walk's order and builds a value tree, and hands over to the node walk
// (through the log) at the first object it cannot take: an answer other than
// None, another kind of object, an object met before (an alias), a text the
// two writers would write differently, nesting past the depth limit.  The
// callable is never asked twice about one object.  Layouts where the writers
// differ (flow style, sorted keys, a line width) skip the attempt.
#pragma once

#include "encode/yaml_writer.hpp"
#include "ffi/py.hpp"
#include "ffi/represent_impl.hpp"

namespace kestrine {

// The text of `obj` as bytes, or null after filling `log` for the node walk.
// Errors raised by the callable pass through.
PyResult<OwnedRef> try_plain_represent(PyObject* obj, PyObject* represent, const WriterOptions& layout,
                                       ReplayLog& log);

}  // namespace kestrine
