// The module functions.
//
// Each function is a fast-call built-in whose C entry (in module.cpp) calls
// its body through py_entry.  A body has the signature FunctionBody and
// returns the result or the error value to raise.  A body defined twice,
// or with another signature than declared here, fails to link.  Bodies parse
// their arguments with the ArgSpec published here.
#pragma once

#include "ffi/args.hpp"
#include "ffi/py.hpp"

namespace kestrine {

#define KESTRINE_FUNCTION_BODY(name) \
  PyResult<OwnedRef> name(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)

KESTRINE_FUNCTION_BODY(loads_body);
KESTRINE_FUNCTION_BODY(loads_all_body);
KESTRINE_FUNCTION_BODY(dumps_body);
KESTRINE_FUNCTION_BODY(to_json_body);
KESTRINE_FUNCTION_BODY(schema_ref_body);
KESTRINE_FUNCTION_BODY(yaml_version_body);
KESTRINE_FUNCTION_BODY(dump_includes_body);
KESTRINE_FUNCTION_BODY(dump_includes_map_body);

// Parameter lists, as the text signatures publish them.
inline constexpr const char* kLoadsParams[] = {
    "data", "option", "include_dir", "schema", "schema_resolver", "tag_handler", "tags",
    "root_path", "on_missing_secret", "on_missing_env_var"};
inline constexpr ArgSpec kLoadsArgs{"loads", kLoadsParams, 10, 1, 1, 1};

inline constexpr const char* kLoadsAllParams[] = {"data", "option", "tag_handler", "tags"};
inline constexpr ArgSpec kLoadsAllArgs{"loads_all", kLoadsAllParams, 4, 1, 1, 1};

inline constexpr const char* kDumpsParams[] = {"obj", "default", "option", "serializers", "width", "represent"};
inline constexpr ArgSpec kDumpsArgs{"dumps", kDumpsParams, 6, 1, 1, 1};

inline constexpr const char* kToJsonParams[] = {"obj", "default", "option"};
inline constexpr ArgSpec kToJsonArgs{"to_json", kToJsonParams, 3, 1, 1, 1};

inline constexpr const char* kSchemaRefParams[] = {"data"};
inline constexpr ArgSpec kSchemaRefArgs{"schema_ref", kSchemaRefParams, 1, 1, 1, 1};

inline constexpr const char* kYamlVersionParams[] = {"data"};
inline constexpr ArgSpec kYamlVersionArgs{"yaml_version", kYamlVersionParams, 1, 1, 1, 1};

inline constexpr const char* kDumpIncludesParams[] = {"doc", "include_dir"};
inline constexpr ArgSpec kDumpIncludesArgs{"dump_includes", kDumpIncludesParams, 2, 1, 1, 1};

inline constexpr const char* kDumpIncludesMapParams[] = {"doc"};
inline constexpr ArgSpec kDumpIncludesMapArgs{"dump_includes_map", kDumpIncludesMapParams, 1, 1, 1, 1};

}  // namespace kestrine
