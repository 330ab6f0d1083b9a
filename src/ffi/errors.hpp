// The bridge from error records to the exception classes of
// kestrine.exceptions, and the one way the system reports warnings.
//
// Each *_to_py function gives the exception to raise as a PyErr value: the
// matching class created with the message as its only argument and the
// position attributes set.  When the class itself cannot be imported the
// value is instead the internal fault saying so.  The functions that build a
// positioned message may throw std::bad_alloc (py_entry reports it); the
// others never throw.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/error.hpp"
#include "ffi/imported.hpp"
#include "ffi/py.hpp"
#include "include/error.hpp"
#include "roundtrip/tree/compose_error.hpp"

namespace kestrine {

enum class ExcClass : std::uint8_t {
  ParseError,
  DuplicateKeyError,
  ComplexKeyError,
  DecodeError,
  EncodeError,
  UnserializableError,
  IncludeNotFoundError,
  CircularIncludeError,
  IncludeDepthError,
  IncludeConfinementError,
  IncludeError,
  SecretNotFoundError,
  EnvVarError,
  SchemaError,
};
inline constexpr int kExcClassCount = 14;

// The class object (borrowed; cached for the process).
PyResult<PyObject*> exception_class(ExcClass which) noexcept;

// Decoder errors: "{message} at line {l}, column {c}"; kind Parse gives
// KestrineParseError, DuplicateKey KestrineDuplicateKeyError, anything else
// KestrineComplexKeyError.  `file` names the included file whose text failed
// (None for the top-level text).
PyErr decoder_error_to_py(const DecoderError& error,
                          std::optional<std::string_view> file = std::nullopt);
// Composer errors (KestrineParseError) and round-trip duplicate-key errors
// (KestrineDuplicateKeyError), positioned as above; "file" names the
// included file the position lies in (see included_file_name), else None.
PyErr compose_error_to_py(const ComposeError& error, std::optional<std::string_view> file = std::nullopt);
PyErr duplicate_key_error_to_py(const ComposeError& error, std::optional<std::string_view> file = std::nullopt);
// A duplicate key whose place is not known: the message alone.
PyErr duplicate_key_error_to_py(std::string_view message) noexcept;

// What "file" says of a position in file `file_id` of a load whose
// source-file table is `names`: the included file's name; nothing for the
// top-level text (file 0) or a number the table lacks.
std::optional<std::string_view> included_file_name(std::span<const std::string> names,
                                                   std::uint32_t file_id) noexcept;
// Include loader errors, by kind (see format_load_error for the message of
// every kind but Parse).
PyErr load_error_to_py(const LoadError& error);
// Dumping errors and undecodable input: the message only, no attributes.
PyErr encode_error_to_py(std::string_view message) noexcept;
PyErr unserializable_error_to_py(std::string_view message) noexcept;
PyErr decode_error_to_py(std::string_view message) noexcept;

// KestrineSchemaError for the first failure of a validation:
// "schema validation failed: {message} at {schema_path} (line {l}, column {c})"
// with "schema_path", "line" and "column" set (0-based position in,
// 1-based out); "include_stack" only when a stack is passed, "file" only
// when a name is passed.
PyErr schema_error_to_py(std::string_view message, std::string_view schema_path, const Span& span,
                         const std::vector<IncludeFrame>* include_stack = nullptr,
                         std::optional<std::string_view> file = std::nullopt);

// Sets "file" (str, invalid UTF-8 replaced, or None), "line" = line0 + 1 and
// "column" = column0 + 1.  Failures to set an attribute are cleared.
void set_error_location(PyObject* exc, std::optional<std::string_view> file, std::uint64_t line0,
                        std::uint64_t column0) noexcept;
// Sets "include_stack" to a list of (file, line + 1) tuples, in order.
PyStatus set_include_stack(PyObject* obj, std::span<const IncludeFrame> stack) noexcept;

// Logs one message on the logger "kestrine" at warning level.  Never fails:
// errors raised by logging are cleared, and an exception that was pending
// before the call is kept.  Runs Python code (logging, its handlers), which
// at interpreter exit may end a daemon thread with a forced unwind: never
// call it from a noexcept frame.
void log_warning(std::string_view message);
// Logs each text, in order.
void log_warnings(std::span<const std::string> warnings);

// Calls `callable(name, file, line)` (line passed unchanged) for a missing
// secret or environment variable; gives its result or its exception.
PyResult<OwnedRef> call_missing_value_handler(PyObject* callable, std::string_view name,
                                              std::string_view file, std::int64_t line) noexcept;

}  // namespace kestrine
