// The bodies of `loads`, `loads_all` and `yaml_version`.
//
// A load call checks its arguments, decodes the input to UTF-8, and has the
// core settle the YAML version and the switches of every stage
// (decode/load_settings.hpp); then it takes one road:
//   plain       the decoder builds value trees with the interpreter lock
//               released; the documents become plain Python objects;
//   located     annotated results and configuration directives
//               (OPT_ANNOTATED, OPT_INCLUDES, OPT_SECRETS, OPT_ENV_VAR);
//   round trip  OPT_ROUND_TRIP: documents as KestrineDocument objects.
// The located and round-trip roads and schema validation are entered through
// the hooks below.  Schema validation defines its hooks in ffi/validate.cpp.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "decode/load_settings.hpp"
#include "ffi/convert/decode.hpp"
#include "ffi/input.hpp"
#include "ffi/py.hpp"

namespace kestrine {

// Everything a `loads` road needs.  References are borrowed from the call.
struct LoadsCall {
  const InputText* text = nullptr;
  OwnedRef schema;  // the schema in effect, or empty
  LoadSettings settings;
  TagHandlers handlers;
  KeyTags key_tags;  // what `handlers` keep on keys (key_tags_of)
  std::optional<std::string> include_dir;  // file-system encoded
  std::optional<std::string> root_path;    // file-system encoded
  PyObject* on_missing_secret = nullptr;
  PyObject* on_missing_env_var = nullptr;
};

// Everything a `loads_all` road needs.
struct LoadsAllCall {
  const InputText* text = nullptr;
  LoadSettings settings;
  TagHandlers handlers;
  KeyTags key_tags;  // as in LoadsCall
};

// ---- hooks for the roads built elsewhere ----
PyResult<OwnedRef> loads_located_road(LoadsCall& call);
PyResult<OwnedRef> loads_round_trip_road(LoadsCall& call);
PyResult<OwnedRef> loads_all_annotated_road(LoadsAllCall& call);
PyResult<OwnedRef> loads_all_round_trip_road(LoadsAllCall& call);
// The in-file schema reference of `text` (for schema="auto"), or nothing.
PyResult<std::optional<std::string>> loads_find_schema_reference(std::string_view text);
// Validates `first`, the decoded first document of `text`, against `schema`
// (plain road); keys compare keeping the tags `key_tags` keeps.
PyStatus loads_validate_plain(std::string_view text, const YamlValue& first, PyObject* schema,
                              const LoadSettings& settings, const KeyTags& key_tags);

// ---- argument conversions shared by the entries ----
// A file-system path argument: absent or None gives nothing; a str or an
// os.PathLike whose __fspath__ gives a str is encoded with the file-system
// encoding.  Anything else is a TypeError naming the argument; a path
// holding NUL is a ValueError naming it.
PyResult<std::optional<std::string>> path_argument(const char* fname, const char* name, PyObject* value);
// The `tags` argument: absent or None gives null (no tags), a dict (or a
// subclass) is returned as is (borrowed), anything else is a TypeError.
PyResult<PyObject*> tags_argument(PyObject* tags) noexcept;

}  // namespace kestrine
