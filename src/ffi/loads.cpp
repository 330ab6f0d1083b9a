#include "ffi/loads.hpp"

#include <string>
#include <utility>

#include "ffi/errors.hpp"
#include "ffi/functions.hpp"
#include "ffi/schema_cache.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

bool is_auto_schema(PyObject* schema) noexcept {
  if (!PyUnicode_Check(schema)) return false;
  auto text = str_view(schema);  // no UTF-8 form: an ordinary schema object
  return text && *text == "auto";
}

// Below this size a decode takes about as long as releasing and taking back
// the interpreter lock, so the lock stays held.
constexpr std::size_t kDecodeOffLockBytes = 1024;

// Runs the plain decoder over `text`, with the interpreter lock released
// unless the text is small.
PyResult<DecodedStream> decode_plain(std::string_view text, const LoadSettings& settings, const KeyTags& key_tags) {
  DecodeOptions options = plain_decode_options(settings);
  options.key_tags = &key_tags;
  auto decoded = text.size() < kDecodeOffLockBytes ? decode_stream(text, options)
                                                   : without_gil([&] { return decode_stream(text, options); });
  if (!decoded) return fail(decoder_error_to_py(decoded.error()));
  for (const std::string& warning : decoded->warnings) log_warning(warning);
  return std::move(*decoded);
}

// A schema is a dict or a boolean.  Any other value would accept every
// document, which is never what a caller meant: a str is most likely the
// path or URL of a schema file, which loads does not read.
bool is_schema_form(PyObject* schema) noexcept { return PyDict_Check(schema) || PyBool_Check(schema); }

PyErr schema_form_error(std::string_view expected, PyObject* got) {
  return PyErr::type_error(std::string(expected) + ", not " + type_name_text(Py_TYPE(got)));
}

// The schema step of `loads`: the schema object in effect, or empty.
PyResult<OwnedRef> choose_schema(PyObject* schema, PyObject* resolver, std::string_view text) {
  if (schema == nullptr) {
    if (resolver != nullptr) return fail(PyErr::value_error("schema_resolver requires schema=\"auto\""));
    return OwnedRef();
  }
  if (is_schema_form(schema)) return OwnedRef::borrow(schema);
  if (!is_auto_schema(schema))
    return fail(schema_form_error("schema must be a dict, True, False or \"auto\" (with schema_resolver)", schema));
  if (resolver == nullptr) {
    return fail(PyErr::value_error(
        "schema=\"auto\" requires a schema_resolver callable to resolve the in-file reference"));
  }
  KESTRINE_ASSIGN_OR_RETURN(std::optional<std::string> reference, loads_find_schema_reference(text));
  if (!reference) return OwnedRef();
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef arg, new_str(*reference));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef resolved, checked(PyObject_CallOneArg(resolver, arg.get())));
  if (resolved.get() == Py_None) return OwnedRef();
  if (!is_schema_form(resolved.get()))
    return fail(schema_form_error("schema_resolver must return a dict, True, False or None", resolved.get()));
  return resolved;
}

// The conversion's share of the duplicate-key policy (see DuplicateKeyCheck).
DuplicateKeyCheck plain_duplicate_check(const LoadSettings& settings, const KeyTags& key_tags, std::string_view text) {
  return DuplicateKeyCheck{plain_decode_options(settings).duplicate_keys, &key_tags, text};
}

PyResult<OwnedRef> loads_plain_road(LoadsCall& call) {
  const std::string_view text = call.text->text();
  KESTRINE_ASSIGN_OR_RETURN(DecodedStream decoded, decode_plain(text, call.settings, call.key_tags));
  if (decoded.documents.empty()) return none_ref();
  if (call.schema) {
    KESTRINE_TRY(
        loads_validate_plain(text, decoded.documents.front(), call.schema.get(), call.settings, call.key_tags));
  }
  PyResult<OwnedRef> result = document_to_py(decoded.documents.front(), call.handlers, decoded.ascii_texts,
                                             plain_duplicate_check(call.settings, call.key_tags, text));
  drop_native(decoded, text.size());
  return result;
}

PyResult<OwnedRef> loads_all_plain_road(LoadsAllCall& call) {
  const std::string_view text = call.text->text();
  KESTRINE_ASSIGN_OR_RETURN(DecodedStream decoded, decode_plain(text, call.settings, call.key_tags));
  PyResult<OwnedRef> result = documents_to_py_list(decoded.documents, call.handlers, decoded.ascii_texts,
                                                   plain_duplicate_check(call.settings, call.key_tags, text));
  drop_native(decoded, call.text->text().size());
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------
// Argument conversions

PyResult<std::optional<std::string>> path_argument(const char* fname, const char* name, PyObject* value) {
  if (value == nullptr || value == Py_None) return std::optional<std::string>();
  const auto wrong_type = [&](PyObject* shown) {
    return argument_type_error(fname, name, "str or os.PathLike", shown);
  };
  OwnedRef path = OwnedRef::steal(PyOS_FSPath(value));
  if (!path) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return fail_fetch();
    PyErr_Clear();
    return fail(wrong_type(value));
  }
  if (!PyUnicode_Check(path.get())) return fail(wrong_type(path.get()));
  KESTRINE_ASSIGN_OR_RETURN(OwnedRef encoded, checked(PyUnicode_EncodeFSDefault(path.get())));
  std::string text(PyBytes_AS_STRING(encoded.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get())));
  // No file name holds NUL: such a path would otherwise fail every include
  // as lying outside the root, or name a file that cannot exist.
  if (text.find('\0') != std::string::npos) {
    return fail(PyErr::value_error(std::string(fname) + "() argument '" + name + "' must not contain a NUL character"));
  }
  return std::optional<std::string>(std::move(text));
}

PyResult<PyObject*> tags_argument(PyObject* tags) noexcept {
  if (tags == nullptr || tags == Py_None) return static_cast<PyObject*>(nullptr);
  if (PyDict_Check(tags)) return tags;
  return fail(PyErr::type_error("tags must be a dict (or Tags) mapping each tag name to a callable"));
}

// ---------------------------------------------------------------------------
// loads(data, /, *, option, include_dir, schema, schema_resolver, tag_handler,
//       tags, root_path, on_missing_secret, on_missing_env_var)

KESTRINE_FUNCTION_BODY(loads_body) {
  (void)module;
  PyObject* a[10];
  KESTRINE_TRY(parse_fastcall(kLoadsArgs, args, nargs, kwnames, a));
  PyObject* const data = a[0];
  PyObject* const schema_arg = none_as_absent(a[3]);
  PyObject* const resolver = none_as_absent(a[4]);
  PyObject* const tag_handler = none_as_absent(a[5]);

  KESTRINE_ASSIGN_OR_RETURN(const Options option, read_u64_argument(a[1], "option", "loads"));
  LoadsCall call;
  KESTRINE_ASSIGN_OR_RETURN(call.include_dir, path_argument("loads", "include_dir", a[2]));
  KESTRINE_ASSIGN_OR_RETURN(call.root_path, path_argument("loads", "root_path", a[7]));
  KESTRINE_ASSIGN_OR_RETURN(const InputText text, input_to_text(data));
  call.text = &text;
  KESTRINE_ASSIGN_OR_RETURN(call.schema, choose_schema(schema_arg, resolver, text.text()));
  call.settings = derive_load_settings(option, sniff_yaml_version(text.text()));
  KESTRINE_ASSIGN_OR_RETURN(PyObject* const tags, tags_argument(a[6]));
  call.handlers = TagHandlers{tags, tag_handler, call.settings.passthrough_tag};
  call.key_tags = key_tags_of(call.handlers);
  call.on_missing_secret = none_as_absent(a[8]);
  call.on_missing_env_var = none_as_absent(a[9]);

  // What a schema_resolver returned is the callback's result: never kept
  // beyond the call.
  const NotKeptScope not_kept(schema_arg != nullptr && is_auto_schema(schema_arg));
  switch (call.settings.road) {
    case LoadRoad::RoundTrip:
      return loads_round_trip_road(call);
    case LoadRoad::Located:
      return loads_located_road(call);
    case LoadRoad::Plain:
      break;
  }
  return loads_plain_road(call);
}

// ---------------------------------------------------------------------------
// loads_all(data, /, *, option, tag_handler, tags)

KESTRINE_FUNCTION_BODY(loads_all_body) {
  (void)module;
  PyObject* a[4];
  KESTRINE_TRY(parse_fastcall(kLoadsAllArgs, args, nargs, kwnames, a));
  KESTRINE_ASSIGN_OR_RETURN(const Options option, read_u64_argument(a[1], "option", "loads_all"));
  PyObject* const tag_handler = none_as_absent(a[2]);

  KESTRINE_ASSIGN_OR_RETURN(const InputText text, input_to_text(a[0]));
  LoadsAllCall call;
  call.text = &text;
  call.settings = derive_load_settings(option, sniff_yaml_version(text.text()));
  if (call.settings.any_include_flag()) {
    return fail(PyErr::value_error(
        "loads_all() does not support OPT_INCLUDES, OPT_SECRETS, or OPT_ENV_VAR; use loads() for include "
        "resolution"));
  }
  KESTRINE_ASSIGN_OR_RETURN(PyObject* const tags, tags_argument(a[3]));
  call.handlers = TagHandlers{tags, tag_handler, call.settings.passthrough_tag};
  call.key_tags = key_tags_of(call.handlers);

  switch (call.settings.road) {
    case LoadRoad::RoundTrip:
      return loads_all_round_trip_road(call);
    case LoadRoad::Located:
      return loads_all_annotated_road(call);
    case LoadRoad::Plain:
      break;
  }
  return loads_all_plain_road(call);
}

// ---------------------------------------------------------------------------
// yaml_version(data, /)

KESTRINE_FUNCTION_BODY(yaml_version_body) {
  (void)module;
  PyObject* a[1];
  KESTRINE_TRY(parse_fastcall(kYamlVersionArgs, args, nargs, kwnames, a));
  KESTRINE_ASSIGN_OR_RETURN(const InputText text, input_to_text(a[0]));
  const auto version = sniff_yaml_version(text.text());
  if (!version) return none_ref();
  return new_str(std::to_string(version->major) + "." + std::to_string(version->minor));
}

}  // namespace kestrine
