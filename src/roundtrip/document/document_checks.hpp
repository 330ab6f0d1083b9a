// Checks and rewrites that run over composed trees after a load and before
// anything is returned, what they found, as records, and which of them each
// load road runs.
//
//   std::vector<YamlNode> roots = composed.roots;  // edited in place
//   DocumentCheckFindings found = run_document_checks(roots, round_trip_checks(settings));
//   for (const std::string& w : found.warnings) log(w);  // then raise found.duplicate, if any
//
// `run_document_checks` runs, in this order: the YAML 1.1 difference
// warnings (collected over all roots before the upgrade, so they describe
// the text as read), the YAML 1.1 upgrade (plain scalars rewritten in place
// and marked modified), and the duplicate-key policy under the load's
// version mode (error: the first duplicate over the roots in order; warn:
// every duplicate).  With `duplicates_first` (the located roads) the
// duplicate-key policy runs first and an error ends the checks.  The caller
// logs the warnings, in the order they were found, before it raises the
// duplicate, so that warnings of a step stay reported when a later one
// fails.  Touches nothing but the roots.
//
// `loads` runs the checks once over all roots of the stream; `loads_all` on
// the round-trip road once per document, each document read in its own
// version mode (check_stream_documents).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/load_settings.hpp"
#include "resolver/kind.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/compose_error.hpp"
#include "roundtrip/tree/duplicates.hpp"

namespace kestrine {

struct DocumentChecks {
  VersionMode mode = VersionMode::Yaml12;
  bool upgrade = false;              // OPT_UPGRADE_1_1
  bool dup_error = false;            // OPT_DUPLICATE_KEYS_ERROR
  bool dup_warn_only = false;        // OPT_DUPLICATE_KEYS_WARN without OPT_DUPLICATE_KEYS_ERROR
  bool yaml11_warn = false;          // OPT_YAML_1_1_WARN, where the road decided it applies
  bool prefer_double_quotes = true;  // not OPT_SINGLE_QUOTES: how the upgrade quotes
  bool timestamps = false;           // keys that read as timestamps compare as timestamps
  bool duplicates_first = false;
  // The custom tags the road's conversion keeps on keys (null: none, as a
  // round-trip document's conversions); borrowed.
  const KeyTags* key_tags = nullptr;
};

// What the checks found.
struct DocumentCheckFindings {
  std::vector<std::string> warnings;      // in the order found
  std::optional<ComposeError> duplicate;  // under dup_error
};

// The checks and the upgrade over `roots`, edited in place.
DocumentCheckFindings run_document_checks(std::span<YamlNode> roots, const DocumentChecks& checks);

// ---- which checks each road runs ----

// `loads` on the round-trip road, over every root of the stream.
DocumentChecks round_trip_checks(const LoadSettings& settings) noexcept;

// `loads_all` on the round-trip road, over one document read in `mode` (its
// own %YAML directive, else the options): the YAML 1.1 warnings then apply
// under every reading but YAML 1.2.
DocumentChecks stream_document_checks(const LoadSettings& settings, VersionMode mode) noexcept;

// The located roads (annotated results, configuration directives): the
// duplicate-key policy, then the YAML 1.1 warnings, no upgrade; keys compare
// as the tree conversion reads them (located_key_reading), with the tags
// its handlers keep (`key_tags`, borrowed).
DocumentChecks located_checks(const LoadSettings& settings, const KeyTags* key_tags) noexcept;

// How the located roads' conversion reads keys: timestamps only under
// PyyamlCompat.
KeyReading located_key_reading(const LoadSettings& settings) noexcept;

// How a road's conversion reads plain scalars, keys among them: the plain
// decoder's options, the located conversion's reading, a round-trip
// document's DocumentFlags, under every version mode, PyyamlCompat included,
// whatever a directive says.  Schema validation and the include directory
// stems read by it too, so that what is checked is what the road returns.
KeyReading converted_key_reading(const LoadSettings& settings) noexcept;

// One document of a `loads_all` stream on the round-trip road.
struct StreamDocument {
  std::string_view text;  // its slice of the stream's text (document_slices)
  VersionMode mode = VersionMode::Yaml12;
  DocumentCheckFindings findings;
};

// Cuts a composed stream into its documents and runs each one's checks over
// its root (edited in place), in order.  `starts`: where each document
// begins in `text` (ComposedStream::document_starts).  One entry per root
// that has a slice.
std::vector<StreamDocument> check_stream_documents(std::span<YamlNode> roots, std::string_view text,
                                                   std::span<const std::size_t> starts, const LoadSettings& settings);

}  // namespace kestrine
