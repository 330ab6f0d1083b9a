#include "ffi/dump_includes.hpp"

#include <string>

#include "ffi/errors.hpp"
#include "ffi/functions.hpp"
#include "ffi/loads.hpp"
#include "ffi/types/document.hpp"
#include "include/context.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

// The document argument, or TypeError naming `doc`.
PyResult<DocumentData*> document_argument(const char* fname, PyObject* doc) {
  if (DocumentData* data = document_data(doc)) return data;
  return fail(argument_type_error(fname, "doc", "KestrineDocument", doc));
}

// A path as a str key, decoded as os.fsdecode does, so that it opens the
// same file again.
PyResult<OwnedRef> path_str(std::string_view path) noexcept {
  return checked(PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
}

}  // namespace

PyErr write_back_error_to_py(const WriteBackError& error, PyObject* write_failure_type) noexcept {
  try {
    switch (error.kind) {
      case WriteBackError::Kind::ConflictingEdits:
        return load_error_to_py(make_load_error(IncludeErrorKind::Include, error.message, error.file, {}));
      case WriteBackError::Kind::Write:
        return PyErr::new_error(write_failure_type, error.message);
      case WriteBackError::Kind::NotLoadedWithIncludes:
      case WriteBackError::Kind::EditWithoutFile:
      case WriteBackError::Kind::LaterDocuments:
        break;
    }
    return PyErr::value_error(error.message);
  } catch (...) {
    return PyErr::memory_error();
  }
}

// dump_includes(doc, /, *, include_dir=None)
KESTRINE_FUNCTION_BODY(dump_includes_body) {
  (void)module;
  PyObject* a[2];
  KESTRINE_TRY(parse_fastcall(kDumpIncludesArgs, args, nargs, kwnames, a));
  KESTRINE_ASSIGN_OR_RETURN(DocumentData* const data, document_argument("dump_includes", a[0]));
  KESTRINE_TRY(path_argument("dump_includes", "include_dir", a[1]));
  KESTRINE_ASSIGN_OR_RETURN(const BorrowFlag::Shared shared, data->borrow.borrow());
  const DocumentRecord& doc = data->record;
  auto plan = plan_write_back(doc, WriteBackScope::AllIncludedFiles);
  if (!plan) return fail(write_back_error_to_py(plan.error(), PyExc_ValueError));
  auto written = write_back(*plan, doc.include_root);
  if (!written) return fail(write_back_error_to_py(written.error(), PyExc_ValueError));
  return none_ref();
}

// dump_includes_map(doc, /)
KESTRINE_FUNCTION_BODY(dump_includes_map_body) {
  (void)module;
  PyObject* a[1];
  KESTRINE_TRY(parse_fastcall(kDumpIncludesMapArgs, args, nargs, kwnames, a));
  KESTRINE_ASSIGN_OR_RETURN(DocumentData* const data, document_argument("dump_includes_map", a[0]));
  KESTRINE_ASSIGN_OR_RETURN(const BorrowFlag::Shared shared, data->borrow.borrow());
  auto plan = plan_write_back(data->record, WriteBackScope::AllIncludedFiles);
  if (!plan) return fail(write_back_error_to_py(plan.error(), PyExc_ValueError));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef result, checked(PyDict_New()));
  for (const PlannedFile& file : plan->files) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef key, path_str(file.path));
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef value, new_bytes(file.text()));
    KESTRINE_TRY(checked_status(PyDict_SetItem(result.get(), key.get(), value.get())));
  }
  return result;
}

}  // namespace kestrine
