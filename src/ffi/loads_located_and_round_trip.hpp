// The located and round-trip roads of `loads` and `loads_all`.
//
// These define the road hooks declared in ffi/loads.hpp:
//
//   located      (loads: OPT_ANNOTATED or an include option; loads_all:
//                OPT_ANNOTATED)  the text is composed into round-trip trees,
//                checked (duplicate keys, then YAML 1.1 warnings) and the
//                first document (loads_all: every document) becomes
//                annotated or plain Python objects.  With OPT_ANNOTATED or
//                OPT_REJECT_COMPLEX_KEYS the text first passes the plain
//                decoder, so that the located road refuses exactly what the
//                plain road refuses.
//   round trip   (OPT_ROUND_TRIP)  the trees get the YAML 1.1 warnings, the
//                1.1 upgrade and the duplicate-key policy (check_documents)
//                and are wrapped in a KestrineDocument with the text they
//                came from; loads_all makes one document per YAML document,
//                each holding its own slice of the text.
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
// conversion compares keys; a failure in an included file names it from
// `file_names` (the source-file table).
PyStatus loads_validate_roots(std::span<const YamlNode> roots, PyObject* schema, bool yaml11, KeyReading reading,
                              bool every_document, std::span<const std::string> file_names = {});

// The settings a round-trip document keeps; `mode` is the version mode of the
// document (stored as YAML 1.2 when the upgrade rewrote its 1.1 forms).
DocumentFlags document_flags(const LoadSettings& settings, VersionMode mode) noexcept;

// The per-document texts of a stream: `starts` are the offsets at which the
// documents begin (the first 0); each text runs to the next start, the last
// to the end, so the texts put together give `text` again.
std::vector<std::string_view> document_slices(std::string_view text, std::span<const std::size_t> starts);

}  // namespace kestrine
