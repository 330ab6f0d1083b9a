// Instance layout of `KestrineDocumentView` and how views are made.
//
//   PyResult<OwnedRef> view = new_view(document, start_root, std::move(path));
//
// A view holds no data of its own: its handle fields (document_access.hpp)
// name a node by path, resolved again by every member.
#pragma once

#include <cstddef>

#include "ffi/py.hpp"
#include "ffi/types/class_objects.hpp"
#include "ffi/types/document_access.hpp"

namespace kestrine {

struct DocumentViewObject {
  PyObject ob_base;
  HandleData data;
};

// A new view of `document` (a KestrineDocument) at `path` of root
// `start_root`.
PyResult<OwnedRef> new_view(PyObject* document, std::size_t start_root, NodePath path) noexcept;

// The handle of a KestrineDocumentView instance, or null for any other object.
HandleData* view_data(PyObject* obj) noexcept;

// What `dumps` and `to_json` write for a view: its to_dict().
PyResult<OwnedRef> view_json_value(PyObject* view);

}  // namespace kestrine
