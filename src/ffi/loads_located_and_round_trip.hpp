// The located and round-trip roads of `loads` and `loads_all`.
//
// These define the road hooks declared in ffi/loads.hpp.  Each is a short
// pipeline of core calls; what it checks, in which order and how it reads
// keys is the core's decision (roundtrip/document/document_checks.hpp):
//
//   located      (loads: OPT_ANNOTATED or an include option; loads_all:
//                OPT_ANNOTATED)  the text is composed into round-trip trees
//                (roundtrip/compose/checked_compose.hpp), checked
//                (located_checks) and the first document (loads_all: every
//                document) becomes annotated or plain Python objects.  With
//                OPT_ANNOTATED or OPT_REJECT_COMPLEX_KEYS the text first
//                passes the plain decoder, so that the located road refuses
//                exactly what the plain road refuses.
//   round trip   (OPT_ROUND_TRIP)  the trees get the YAML 1.1 warnings, the
//                1.1 upgrade and the duplicate-key policy (round_trip_checks)
//                and are wrapped in a KestrineDocument with the text they
//                came from; loads_all makes one document per YAML document,
//                each holding its own slice of the text
//                (check_stream_documents).
//
// Include expansion (ffi/loads_includes.cpp) and schema validation
// (ffi/validate.cpp) are reached through the two hooks below.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ffi/loads.hpp"
#include "ffi/py.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/duplicates.hpp"

namespace kestrine {

// The trees of one load and the files they came from.  `source_names` and
// `source_texts` are indexed by the file number of a node's span (empty
// without include options); `include_root` is the canonical include root.
struct LoadedTrees {
  std::vector<YamlNode> roots;
  std::vector<std::string> source_names;
  std::vector<std::optional<std::string>> source_texts;
  std::string include_root;
  bool aliases = true;  // false only when the texts are known to hold no alias
};

// ---- hooks for the parts built elsewhere ----
// Expands OPT_INCLUDES / OPT_SECRETS / OPT_ENV_VAR over the call's text and
// reports missing secrets and variables; gives the trees and the source-file
// table.
PyResult<LoadedTrees> loads_include_trees(LoadsCall& call);
// Validates the first of `roots` (at least one), or with `every_document`
// each of them in order, against `schema`; `reading` is how the road's
// conversion reads scalars and compares keys; a failure in an included file names it from
// `file_names` (the source-file table).
PyStatus loads_validate_roots(std::span<const YamlNode> roots, PyObject* schema, KeyReading reading,
                              bool every_document, std::span<const std::string> file_names = {});

}  // namespace kestrine
