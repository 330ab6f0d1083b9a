#include "roundtrip/document/document_checks.hpp"

#include "roundtrip/document/upgrade.hpp"
#include "roundtrip/tree/duplicates.hpp"

namespace kestrine {

DocumentCheckFindings run_document_checks(std::span<YamlNode> roots, const DocumentChecks& checks) {
  DocumentCheckFindings found;
  if (checks.yaml11_warn) found.version_warnings = collect_version_warnings(roots, checks.mode);
  if (checks.upgrade) {
    for (YamlNode& root : roots) upgrade_yaml11_scalars(root, checks.mode, checks.prefer_double_quotes);
  }
  const KeyReading reading(checks.mode, checks.timestamps);
  if (checks.dup_error) {
    found.duplicate = check_duplicate_keys_roots(roots, reading);
  } else if (checks.dup_warn_only) {
    found.duplicate_warnings = warn_duplicate_keys(roots, reading);
  }
  return found;
}

}  // namespace kestrine
