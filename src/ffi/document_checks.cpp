#include "ffi/document_checks.hpp"

#include "ffi/errors.hpp"
#include "roundtrip/duplicates.hpp"
#include "roundtrip/upgrade.hpp"

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

PyStatus report_document_checks(const DocumentCheckFindings& findings, std::span<const std::string> file_names) {
  log_warnings(findings.version_warnings);
  if (const auto& duplicate = findings.duplicate) {
    return fail(duplicate_key_error_to_py(*duplicate, included_file_name(file_names, duplicate->span.file_id)));
  }
  log_warnings(findings.duplicate_warnings);
  return {};
}

PyStatus check_documents(std::span<YamlNode> roots, const DocumentChecks& checks,
                         std::span<const std::string> file_names) {
  return report_document_checks(run_document_checks(roots, checks), file_names);
}

}  // namespace kestrine
