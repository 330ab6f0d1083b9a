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
#pragma once

#include <span>

#include "ffi/py.hpp"
#include "resolver/kind.hpp"
#include "roundtrip/ast.hpp"

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
// done.
PyStatus check_documents(std::span<YamlNode> roots, const DocumentChecks& checks);

}  // namespace kestrine
