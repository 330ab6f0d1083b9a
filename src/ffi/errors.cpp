#include "ffi/errors.hpp"

#include <charconv>
#include <string>

#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr const char* kExceptionsModule = "kestrine.exceptions";

ImportedClass g_exception_cells[kExcClassCount] = {
    {kExceptionsModule, "KestrineParseError", "exception "},
    {kExceptionsModule, "KestrineDuplicateKeyError", "exception "},
    {kExceptionsModule, "KestrineComplexKeyError", "exception "},
    {kExceptionsModule, "KestrineDecodeError", "exception "},
    {kExceptionsModule, "KestrineEncodeError", "exception "},
    {kExceptionsModule, "KestrineUnserializableError", "exception "},
    {kExceptionsModule, "KestrineIncludeNotFoundError", "exception "},
    {kExceptionsModule, "KestrineCircularIncludeError", "exception "},
    {kExceptionsModule, "KestrineIncludeDepthError", "exception "},
    {kExceptionsModule, "KestrineIncludeConfinementError", "exception "},
    {kExceptionsModule, "KestrineIncludeError", "exception "},
    {kExceptionsModule, "KestrineSecretNotFoundError", "exception "},
    {kExceptionsModule, "KestrineEnvVarError", "exception "},
    {kExceptionsModule, "KestrineSchemaError", "exception "},
};

// Builds the exception object; an error value when the class cannot be had
// or the instance cannot be created (attributes are then not to be set).
PyResult<PyErr> make_exception(ExcClass which, std::string_view message) noexcept {
  KESTRINE_ASSIGN_OR_RETURN(PyObject* const cls, exception_class(which));
  PyErr exc = PyErr::new_error(cls, message);
  if (!exc.is_instance_of(cls)) return fail(std::move(exc));
  return exc;
}

void append_number(std::string& out, std::uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// "{message} at line {line0 + 1}, column {column0 + 1}"
std::string positioned_message(std::string_view message, std::uint64_t line0, std::uint64_t column0) {
  std::string out;
  out.reserve(message.size() + 40);
  out += message;
  out += " at line ";
  append_number(out, line0 + 1);
  out += ", column ";
  append_number(out, column0 + 1);
  return out;
}

void set_attr_ignoring_failure(PyObject* obj, const char* name, PyObject* value) noexcept {
  if (value == nullptr || PyObject_SetAttrString(obj, name, value) < 0) PyErr_Clear();
}

// "file": the name as a str, invalid UTF-8 replaced.
void set_file_ignoring_failure(PyObject* obj, std::string_view file) noexcept {
  auto name = lossy_str(file);
  set_attr_ignoring_failure(obj, "file", name ? name->get() : nullptr);
}

PyErr positioned_error(ExcClass which, std::string_view message, const Span& span,
                       std::optional<std::string_view> file) {
  auto exc = make_exception(which, positioned_message(message, span.line, span.column));
  if (!exc) return std::move(exc.error());
  set_error_location(exc->value(), file, span.line, span.column);
  return std::move(*exc);
}

PyErr plain_error(ExcClass which, std::string_view message) noexcept {
  auto exc = make_exception(which, message);
  if (!exc) return std::move(exc.error());
  return std::move(*exc);
}

ExcClass load_error_class(IncludeErrorKind kind) noexcept {
  switch (kind) {
    case IncludeErrorKind::IncludeNotFound: return ExcClass::IncludeNotFoundError;
    case IncludeErrorKind::CircularInclude: return ExcClass::CircularIncludeError;
    case IncludeErrorKind::IncludeDepth: return ExcClass::IncludeDepthError;
    case IncludeErrorKind::IncludeConfinement: return ExcClass::IncludeConfinementError;
    case IncludeErrorKind::SecretNotFound: return ExcClass::SecretNotFoundError;
    case IncludeErrorKind::EnvVar: return ExcClass::EnvVarError;
    case IncludeErrorKind::Parse: return ExcClass::ParseError;
    case IncludeErrorKind::DuplicateKey: return ExcClass::DuplicateKeyError;
    case IncludeErrorKind::Include: break;
  }
  return ExcClass::IncludeError;
}

}  // namespace

PyResult<PyObject*> exception_class(ExcClass which) noexcept {
  const auto index = static_cast<std::size_t>(which);
  if (index >= static_cast<std::size_t>(kExcClassCount)) {
    return fail(PyErr::internal_fault("unknown exception class"));
  }
  return imported_class(g_exception_cells[index]);
}

void set_error_location(PyObject* exc, std::optional<std::string_view> file, std::uint64_t line0,
                        std::uint64_t column0) noexcept {
  if (file) {
    set_file_ignoring_failure(exc, *file);
  } else {
    set_attr_ignoring_failure(exc, "file", Py_None);
  }
  OwnedRef line = OwnedRef::steal(PyLong_FromUnsignedLongLong(line0 + 1));
  set_attr_ignoring_failure(exc, "line", line.get());
  OwnedRef column = OwnedRef::steal(PyLong_FromUnsignedLongLong(column0 + 1));
  set_attr_ignoring_failure(exc, "column", column.get());
}

PyStatus set_include_stack(PyObject* obj, std::span<const IncludeFrame> stack) noexcept {
  OwnedRef list = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(stack.size())));
  if (!list) return fail_fetch();
  for (std::size_t i = 0; i < stack.size(); ++i) {
    KESTRINE_ASSIGN_OR_RETURN(OwnedRef file, lossy_str(stack[i].file));
    PyObject* line = PyLong_FromUnsignedLongLong(static_cast<std::uint64_t>(stack[i].line) + 1);
    if (line == nullptr) return fail_fetch();
    PyObject* entry = PyTuple_New(2);
    if (entry == nullptr) {
      Py_DECREF(line);
      return fail_fetch();
    }
    PyTuple_SET_ITEM(entry, 0, file.release());
    PyTuple_SET_ITEM(entry, 1, line);
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), entry);
  }
  return checked_status(PyObject_SetAttrString(obj, "include_stack", list.get()));
}

PyErr decoder_error_to_py(const DecoderError& error, std::optional<std::string_view> file) {
  ExcClass which = ExcClass::ComplexKeyError;
  if (error.kind == DecoderErrorKind::Parse) {
    which = ExcClass::ParseError;
  } else if (error.kind == DecoderErrorKind::DuplicateKey) {
    which = ExcClass::DuplicateKeyError;
  }
  return positioned_error(which, error.message, error.span, file);
}

PyErr compose_error_to_py(const ComposeError& error, std::optional<std::string_view> file) {
  return positioned_error(ExcClass::ParseError, error.message, error.span, file);
}

PyErr duplicate_key_error_to_py(const ComposeError& error, std::optional<std::string_view> file) {
  return positioned_error(ExcClass::DuplicateKeyError, error.message, error.span, file);
}

PyErr duplicate_key_error_to_py(std::string_view message) noexcept {
  return plain_error(ExcClass::DuplicateKeyError, message);
}

std::optional<std::string_view> included_file_name(std::span<const std::string> names,
                                                   std::uint32_t file_id) noexcept {
  if (file_id == 0 || file_id >= names.size()) return std::nullopt;
  return names[file_id];
}

PyErr load_error_to_py(const LoadError& error) {
  if (error.kind == IncludeErrorKind::Parse) {
    const std::uint64_t line0 = error.span ? error.span->line : 0;
    const std::uint64_t column0 = error.span ? error.span->column : 0;
    auto exc = make_exception(ExcClass::ParseError, positioned_message(error.message, line0, column0));
    if (!exc) return std::move(exc.error());
    set_error_location(exc->value(), std::string_view(error.file), line0, column0);
    if (!set_include_stack(exc->value(), error.include_chain)) PyErr_Clear();
    return std::move(*exc);
  }

  auto exc = make_exception(load_error_class(error.kind), format_load_error(error));
  if (!exc) return std::move(exc.error());
  PyObject* obj = exc->value();
  if (error.span) {
    set_error_location(obj, std::string_view(error.file), error.span->line, error.span->column);
  } else {
    set_file_ignoring_failure(obj, error.file);
  }
  if (error.kind != IncludeErrorKind::SecretNotFound && error.kind != IncludeErrorKind::EnvVar) {
    if (!set_include_stack(obj, error.include_chain)) PyErr_Clear();
  }
  return std::move(*exc);
}

PyErr encode_error_to_py(std::string_view message) noexcept { return plain_error(ExcClass::EncodeError, message); }

PyErr unserializable_error_to_py(std::string_view message) noexcept {
  return plain_error(ExcClass::UnserializableError, message);
}

PyErr decode_error_to_py(std::string_view message) noexcept { return plain_error(ExcClass::DecodeError, message); }

PyErr schema_error_to_py(std::string_view message, std::string_view schema_path, const Span& span,
                         const std::vector<IncludeFrame>* include_stack, std::optional<std::string_view> file) {
  std::string text;
  text.reserve(message.size() + schema_path.size() + 64);
  text += "schema validation failed: ";
  text += message;
  text += " at ";
  text += schema_path;
  text += " (line ";
  append_number(text, static_cast<std::uint64_t>(span.line) + 1);
  text += ", column ";
  append_number(text, static_cast<std::uint64_t>(span.column) + 1);
  text += ")";
  auto exc = make_exception(ExcClass::SchemaError, text);
  if (!exc) return std::move(exc.error());
  PyObject* obj = exc->value();
  auto path = lossy_str(schema_path);
  set_attr_ignoring_failure(obj, "schema_path", path ? path->get() : nullptr);
  OwnedRef line = OwnedRef::steal(PyLong_FromUnsignedLongLong(static_cast<std::uint64_t>(span.line) + 1));
  set_attr_ignoring_failure(obj, "line", line.get());
  OwnedRef column = OwnedRef::steal(PyLong_FromUnsignedLongLong(static_cast<std::uint64_t>(span.column) + 1));
  set_attr_ignoring_failure(obj, "column", column.get());
  if (include_stack != nullptr && !set_include_stack(obj, *include_stack)) PyErr_Clear();
  if (file) set_file_ignoring_failure(obj, *file);
  return std::move(*exc);
}

void log_warning(std::string_view message) {
  // Keep an exception the caller may have pending; logging must not see it
  // and must not lose it.
  PyObject *saved_type = nullptr, *saved_value = nullptr, *saved_tb = nullptr;
  PyErr_Fetch(&saved_type, &saved_value, &saved_tb);
  {
    OwnedRef logging = OwnedRef::steal(PyImport_ImportModule("logging"));
    OwnedRef logger = logging ? OwnedRef::steal(PyObject_CallMethod(logging.get(), "getLogger", "s", "kestrine"))
                              : OwnedRef();
    auto text = logger ? lossy_str(message) : PyResult<OwnedRef>(OwnedRef());
    if (logger && text) {
      OwnedRef name = OwnedRef::steal(PyUnicode_FromString("warning"));
      if (name) {
        PyObject* call_args[] = {logger.get(), text->get()};
        OwnedRef result = OwnedRef::steal(PyObject_VectorcallMethod(
            name.get(), call_args, 2, nullptr));
      }
    }
    PyErr_Clear();
  }
  PyErr_Restore(saved_type, saved_value, saved_tb);
}

void log_warnings(std::span<const std::string> warnings) {
  for (const std::string& warning : warnings) log_warning(warning);
}

PyResult<OwnedRef> call_missing_value_handler(PyObject* callable, std::string_view name,
                                              std::string_view file, std::int64_t line) noexcept {
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef name_obj, new_str(name));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef file_obj, lossy_str(file));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef line_obj, new_int(line));
  PyObject* call_args[] = {name_obj.get(), file_obj.get(), line_obj.get()};
  return checked(PyObject_Vectorcall(callable, call_args, 3, nullptr));
}

}  // namespace kestrine
