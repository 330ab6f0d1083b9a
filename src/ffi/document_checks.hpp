// Checks and rewrites that run over composed round-trip trees after a load
// and before anything is returned.
//
//   DocumentChecks checks{mode, upgrade, dup_error, dup_warn_only, yaml11_warn, timestamps};
//   KESTRINE_TRY(check_documents(roots, checks));
//
// `check_documents` runs, in this order: the YAML 1.1 difference warnings
// (collected over all roots, then logged, so they describe the text as
// read), the YAML 1.1 upgrade (plain scalars rewritten in place and marked
// modified), and the duplicate-key policy under the load's version mode
// (error: the first duplicate over the roots in order; warn: every duplicate
// logged).  Warnings are logged as soon as their step is done, so they stay
// logged when a later step fails.
//
// `loads` with OPT_ROUND_TRIP runs it once over all roots of the stream;
// `loads_all` once per document over that document's root.  Requires the
// interpreter lock (logging).
//
// The work itself touches no Python object: `run_document_checks` does it
// without the lock and keeps what it found, and `report_document_checks`
// (lock held) then logs and raises exactly what check_documents would have,
// in the same order.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ffi/py.hpp"
#include "resolver/kind.hpp"
#include "roundtrip/ast.hpp"
#include "roundtrip/compose_error.hpp"

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

// Fails only with the KestrineDuplicateKeyError of the first duplicate key
// (under `dup_error`); the warnings and the upgrade of the earlier steps stay
// done.  `file_names`: the load's source-file table, so that a duplicate in
// an included file names it.
PyStatus check_documents(std::span<YamlNode> roots, const DocumentChecks& checks,
                         std::span<const std::string> file_names = {});

// What the checks found, in the order it is reported.
struct DocumentCheckFindings {
  std::vector<std::string> version_warnings;
  std::optional<ComposeError> duplicate;  // under dup_error
  std::vector<std::string> duplicate_warnings;
};

// The checks and the upgrade, without reporting anything; needs no lock.
DocumentCheckFindings run_document_checks(std::span<YamlNode> roots, const DocumentChecks& checks);
// Logs the warnings and raises the duplicate-key error.  Requires the lock.
PyStatus report_document_checks(const DocumentCheckFindings& findings, std::span<const std::string> file_names = {});

}  // namespace kestrine
