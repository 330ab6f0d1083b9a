// Instance layout of `KestrineNode` and how node handles are made.
//
//   PyResult<OwnedRef> node = new_node(document, start_root, std::move(path));
//
// A node handle holds no data of its own: its handle fields
// (document_access.hpp) name a node by path, resolved again by every member.
#pragma once

#include <cstddef>

#include "ffi/py.hpp"
#include "ffi/types/class_objects.hpp"
#include "ffi/types/document_access.hpp"

namespace kestrine {

struct NodeObject {
  PyObject ob_base;
  HandleData data;
};

// A new node handle of `document` (a KestrineDocument) at `path` of root
// `start_root`.
PyResult<OwnedRef> new_node(PyObject* document, std::size_t start_root, NodePath path) noexcept;

// The handle of a KestrineNode instance, or null for any other object.
HandleData* node_data(PyObject* obj) noexcept;

}  // namespace kestrine
