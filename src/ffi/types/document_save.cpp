#include "ffi/types/document_save.hpp"

#include <optional>
#include <string>
#include <utility>

#include "ffi/args.hpp"
#include "ffi/dump_includes.hpp"
#include "ffi/types/document.hpp"
#include "include/write_back.hpp"
#include "roundtrip/document/edit.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr const char* kPathParams[] = {"path"};
constexpr ArgSpec kSaveArgs{"save", kPathParams, 1, 0, 1, 0};
constexpr ArgSpec kSetOriginArgs{"set_origin", kPathParams, 1, 0, 1, 1};

// The text of a str `path` argument (TypeError naming it otherwise).
PyResult<std::string_view> path_text(const char* fname, PyObject* path) {
  if (!PyUnicode_Check(path)) {
    return fail(argument_type_error(fname, "path", "str", path));
  }
  return str_view(path);
}

// A path as a str, decoded as os.fsdecode does.
PyResult<OwnedRef> path_str(std::string_view path) noexcept {
  return checked(PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
}

}  // namespace

PyObject* document_save(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    PyObject* arg[1];
    KESTRINE_TRY(parse_fastcall(kSaveArgs, args, nargs, kwnames, arg));
    std::optional<std::string_view> explicit_path;
    if (arg[0] != nullptr && arg[0] != Py_None) {
      KESTRINE_ASSIGN_OR_RETURN(explicit_path, path_text("save", arg[0]));
    }
    DocumentData* data = document_data(self);
    if (data == nullptr) return fail(PyErr::internal_fault("not a KestrineDocument"));
    KESTRINE_ASSIGN_OR_RETURN(const BorrowFlag::Shared shared, data->borrow.borrow());
    const DocumentRecord& record = data->record;

    // Where the document's own file goes, decided before anything is written.
    std::optional<RootFile> root;
    if (explicit_path) {
      root = RootFile{std::string(*explicit_path), {}};
    } else if (root_file_edited(record)) {
      if (!record.origin)
        return fail(PyErr::value_error("save() needs a path: this document was not loaded from a file"));
      root = RootFile{*record.origin, {}};
    }
    if (root) root->text = render_document(record);

    auto written = save_document_files(record, root);
    if (!written) return fail(write_back_error_to_py(written.error(), PyExc_OSError));
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef list, checked(PyList_New(0)));
    for (const std::string& path : *written) {
      KESTRINE_ASSIGN_OR_RETURN(OwnedRef item, path_str(path));
      KESTRINE_TRY(checked_status(PyList_Append(list.get(), item.get())));
    }
    return list;
  });
}

PyObject* document_set_origin(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return py_entry([&]() -> PyResult<OwnedRef> {
    PyObject* arg[1];
    KESTRINE_TRY(parse_fastcall(kSetOriginArgs, args, nargs, kwnames, arg));
    DocumentData* data = document_data(self);
    if (data == nullptr) return fail(PyErr::internal_fault("not a KestrineDocument"));
    KESTRINE_ASSIGN_OR_RETURN(const BorrowFlag::Exclusive edit, data->begin_tracked_edit());
    KESTRINE_ASSIGN_OR_RETURN(const std::string_view path, path_text("set_origin", arg[0]));
    data->record.origin = std::string(path);
    return none_ref();
  });
}

}  // namespace kestrine
