// The editing members of `KestrineNode`: the setters of its `value`,
// `anchor`, `comment`, `comment_before` and `comment_after` properties,
// `make_alias`, `detach`, and the `aliases` list.
//
// Each setter takes shared access to the handle and exclusive access to its
// document, resolves the handle's path (KeyError "stale node" when it no
// longer leads anywhere) and hands the change to roundtrip/document/edit.hpp.  Checks
// that need no document (the text of a comment, an anchor's name) come
// first.  Anchor searches look in the handle's own document of a stream.
#pragma once

#include "ffi/py.hpp"

namespace kestrine {

// tp_getset setters (`value` null: the attribute is being deleted).
int set_node_value(PyObject* self, PyObject* value, void* closure) noexcept;
int set_node_anchor(PyObject* self, PyObject* value, void* closure) noexcept;
int set_node_comment(PyObject* self, PyObject* value, void* closure) noexcept;
int set_node_comment_before(PyObject* self, PyObject* value, void* closure) noexcept;
int set_node_comment_after(PyObject* self, PyObject* value, void* closure) noexcept;

// make_alias($self, name)
PyObject* node_make_alias(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;
// detach($self)
PyObject* node_detach(PyObject* self, PyObject* unused) noexcept;
// The `aliases` getter.
PyObject* node_aliases(PyObject* self, void* closure) noexcept;

}  // namespace kestrine
