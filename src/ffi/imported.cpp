#include "ffi/imported.hpp"

#include <cstring>
#include <string>

namespace kestrine {
namespace {

std::string describe(const PyErr& err) {
  const char* type_name = Py_TYPE(err.value())->tp_name;
  if (const char* dot = std::strrchr(type_name, '.')) type_name = dot + 1;
  std::string text = err.message();
  if (text.empty()) return type_name;
  return std::string(type_name) + ": " + text;
}

}  // namespace

PyResult<PyObject*> imported_class(ImportedClass& cell) noexcept {
  if (cell.cls != nullptr) [[likely]] return cell.cls;
  OwnedRef module = OwnedRef::steal(PyImport_ImportModule(cell.module));
  OwnedRef cls;
  if (module) cls = OwnedRef::steal(PyObject_GetAttrString(module.get(), cell.name));
  if (!cls) {
    PyErr cause = PyErr::fetch();
    // Caught here: the error factories reach this lookup from code that must
    // not throw (failure paths of noexcept functions).
    std::string message;
    try {
      message = std::string("failed to import ") + cell.what + cell.module + "." + cell.name + ": " +
                describe(cause);
    } catch (...) {
      return fail(PyErr::memory_error());
    }
    PyErr fault = PyErr::internal_fault(message);
    fault.set_cause(std::move(cause));
    return fail(std::move(fault));
  }
  // The import may have run Python code that let another thread fill the
  // cell first; keep the first object.
  if (cell.cls == nullptr) cell.cls = cls.release();
  return cell.cls;
}

namespace {
ImportedClass g_annotated_str{"kestrine", "KestrineAnnotatedStr", ""};
ImportedClass g_annotated_int{"kestrine", "KestrineAnnotatedInt", ""};
ImportedClass g_annotated_float{"kestrine", "KestrineAnnotatedFloat", ""};
}  // namespace

PyResult<PyObject*> annotated_str_class() noexcept { return imported_class(g_annotated_str); }
PyResult<PyObject*> annotated_int_class() noexcept { return imported_class(g_annotated_int); }
PyResult<PyObject*> annotated_float_class() noexcept { return imported_class(g_annotated_float); }

}  // namespace kestrine
