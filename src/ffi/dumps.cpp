#include "ffi/dumps.hpp"

#include <string>
#include <utility>

#include "encode/json_writer.hpp"
#include "encode/yaml_writer.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/convert/json_encode.hpp"
#include "ffi/errors.hpp"
#include "ffi/output_buffer.hpp"
#include "ffi/represent.hpp"
#include "ffi/types/class_objects.hpp"
#include "ffi/types/document.hpp"
#include "ffi/types/document_view.hpp"
#include "util/options.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

constexpr std::size_t kYamlBufferStart = 1024;

// A first capacity for the output of a converted tree: the arena's size
// (nodes and copied texts) is of the order of the text written, and pages
// reserved but never written cost nothing, while growing a large buffer
// step by step copies it again and again.
std::size_t output_estimate(PyEncoder& encoder, std::size_t floor) noexcept {
  const std::size_t guess = encoder.arena().bytes_reserved();
  return guess > floor ? guess : floor;
}

// Is `obj` an instance of one of the round-trip document classes?
PyResult<bool> is_instance_of_class(PyObject* obj, PyResult<PyTypeObject*> (*cls)() noexcept) noexcept {
  KESTRINE_ASSIGN_OR_RETURN(PyTypeObject* const type, cls());
  return static_cast<bool>(PyObject_TypeCheck(obj, type));
}

// What a round-trip document (to_json only) or a view (both functions) is
// written as: its to_dict() (None for a document of no documents); other
// objects stand for themselves.  `holder` keeps the substitute alive.
PyResult<PyObject*> document_substitute(PyObject* obj, bool documents, OwnedRef& holder) {
  if (documents) {
    KESTRINE_ASSIGN_OR_RETURN(const bool is_document, is_instance_of_class(obj, kestrine_document_type));
    if (is_document) {
      KESTRINE_ASSIGN_OR_RETURN(holder, document_json_value(obj));
      return holder.get();
    }
  }
  KESTRINE_ASSIGN_OR_RETURN(const bool is_view, is_instance_of_class(obj, kestrine_document_view_type));
  if (!is_view) return obj;
  KESTRINE_ASSIGN_OR_RETURN(holder, view_json_value(obj));
  return holder.get();
}

}  // namespace

KESTRINE_FUNCTION_BODY(dumps_body) {
  (void)module;
  PyObject* arg[6];
  KESTRINE_TRY(parse_fastcall(kDumpsArgs, args, nargs, kwnames, arg));
  PyObject* const obj = arg[0];
  PyObject* const default_fn = none_as_absent(arg[1]);
  KESTRINE_ASSIGN_OR_RETURN(const std::uint64_t option, read_u64_argument(arg[2], "option", kDumpsArgs.fname));
  PyObject* const serializers = none_as_absent(arg[3]);
  if (serializers != nullptr && !PyDict_Check(serializers)) {
    return fail(with_argument_note(argument_type_error(kDumpsArgs.fname, "serializers", "dict", serializers),
                                   "serializers"));
  }
  KESTRINE_ASSIGN_OR_RETURN(const std::uint64_t width, read_u64_argument(arg[4], "width", kDumpsArgs.fname));
  PyObject* const represent = none_as_absent(arg[5]);

  // A round-trip document is written by the round-trip emitter: the text as
  // read while nothing was edited.  No other argument applies to it.
  KESTRINE_ASSIGN_OR_RETURN(const bool is_document, is_instance_of_class(obj, kestrine_document_type));
  if (is_document) return document_to_yaml(obj);
  OwnedRef substitute;
  KESTRINE_ASSIGN_OR_RETURN(PyObject* const value, document_substitute(obj, false, substitute));

  KESTRINE_TRY(check_null_style_options(option));
  const EncodeOptions encode_options = EncodeOptions::from_option_bits(option, default_fn, serializers);
  if (represent != nullptr) return dumps_represented(obj, represent, encode_options, option, width);

  PyEncoder encoder(encode_options);
  KESTRINE_ASSIGN_OR_RETURN(const YamlValue root, encoder.convert(value));

  const WriterOptions writer_options = WriterOptions::from_option_bits(option, width);
  OutputBuffer buffer;
  LargeText& text = buffer.text();
  without_gil([&] {
    text.reserve(output_estimate(encoder, kYamlBufferStart));
    write_yaml(text, root, writer_options);
    encoder.arena().release();
  });
  encoder.release_refs();
  return new_bytes(text);
}

KESTRINE_FUNCTION_BODY(to_json_body) {
  (void)module;
  PyObject* arg[3];
  KESTRINE_TRY(parse_fastcall(kToJsonArgs, args, nargs, kwnames, arg));
  PyObject* const obj = arg[0];
  PyObject* const default_fn = none_as_absent(arg[1]);
  KESTRINE_ASSIGN_OR_RETURN(const std::uint64_t option, read_u64_argument(arg[2], "option", kToJsonArgs.fname));
  OwnedRef substitute;
  KESTRINE_ASSIGN_OR_RETURN(PyObject* const value, document_substitute(obj, true, substitute));

  const EncodeOptions encode_options = EncodeOptions::from_option_bits(option, default_fn, nullptr);
  return py_to_json_bytes(value, encode_options, JsonOptions::from_option_bits(option));
}

}  // namespace kestrine
