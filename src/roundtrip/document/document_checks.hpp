// Checks and rewrites that run over composed round-trip trees after a load
// and before anything is returned, and what they found, as records.
//
//   std::vector<YamlNode> roots = composed.roots;  // edited in place
//   DocumentChecks checks{.mode = VersionMode::Yaml11, .upgrade = true, .dup_error = true};
//   DocumentCheckFindings found = run_document_checks(roots, checks);
//   // found.duplicate: the first repeated key, if any; no warnings were asked for
//
// `run_document_checks` runs, in this order: the YAML 1.1 difference
// warnings (collected over all roots before the upgrade, so they describe
// the text as read), the YAML 1.1 upgrade (plain scalars rewritten in place
// and marked modified), and the duplicate-key policy under the load's
// version mode (error: the first duplicate over the roots in order; warn:
// every duplicate).  The caller reports the findings in the order of the
// fields below (version warnings, then the duplicate or the duplicate
// warnings), so that warnings of a step stay reported when a later one
// fails.  Touches nothing but the roots.
//
// `loads` with OPT_ROUND_TRIP runs it once over all roots of the stream;
// `loads_all` once per document over that document's root.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "resolver/kind.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/compose_error.hpp"

namespace kestrine {

struct DocumentChecks {
  VersionMode mode = VersionMode::Yaml12;
  bool upgrade = false;        // OPT_UPGRADE_1_1
  bool dup_error = false;      // OPT_DUPLICATE_KEYS_ERROR
  bool dup_warn_only = false;  // OPT_DUPLICATE_KEYS_WARN without OPT_DUPLICATE_KEYS_ERROR
  bool yaml11_warn = false;    // OPT_YAML_1_1_WARN, as the caller decided it applies
  bool prefer_double_quotes = true;  // not OPT_SINGLE_QUOTES: how the upgrade quotes
  bool timestamps = false;     // keys that read as timestamps compare as timestamps
};

// What the checks found, in the order it is reported.
struct DocumentCheckFindings {
  std::vector<std::string> version_warnings;
  std::optional<ComposeError> duplicate;  // under dup_error
  std::vector<std::string> duplicate_warnings;
};

// The checks and the upgrade over `roots`, edited in place.
DocumentCheckFindings run_document_checks(std::span<YamlNode> roots, const DocumentChecks& checks);

}  // namespace kestrine
