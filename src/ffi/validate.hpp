// Schema validation for `loads`, and `schema_ref`.
//
// The schema comes as Python data: it is converted with the dump-side
// conversion under all-zero options (so anything `dumps` cannot write is
// refused with the same error) and compiled, once for as long as the schema
// object is unchanged (ffi/schema_cache.hpp).  The first
// failure becomes KestrineSchemaError
//   "schema validation failed: {message} at {schema_path} (line {l}, column {c})"
// with the attributes `schema_path`, `line` and `column` (1-based), and
// `file` naming the included file when the node came from one (the chain of
// includes is not kept in the tree: `include_stack` is not set).
//
// This unit defines the validation hooks of ffi/loads.hpp and
// ffi/loads_located_and_round_trip.hpp and the body of `schema_ref`.  Everything here holds
// the interpreter lock.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "decode/value.hpp"
#include "ffi/loads.hpp"
#include "ffi/py.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/duplicates.hpp"

namespace kestrine {

// Validates the first of `roots` (composed, or expanded from includes), or
// with `every_document` each in order, against `schema`; nothing to do
// without a schema or roots.  `reading`: how the load read scalars and
// compared keys (converted_key_reading);
// `file_names`: the load's source-file table, naming the file of a failure
// inside an included file.
PyStatus validate_document(std::span<const YamlNode> roots, PyObject* schema, KeyReading reading,
                           bool every_document = false, std::span<const std::string> file_names = {});

// The plain road: validates `first`, the decoded first document of `text`.
// The decoded tree answers when it can (see schema/validate.hpp); the text is
// composed only to find where a failure lies.  `key_tags`: the custom tags
// the conversion keeps on keys (null: none).
PyStatus validate_with_positions(std::string_view text, const YamlValue& first, PyObject* schema,
                                 const LoadSettings& settings, const KeyTags* key_tags = nullptr);

}  // namespace kestrine
