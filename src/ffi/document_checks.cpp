#include "ffi/document_checks.hpp"

#include "ffi/errors.hpp"

namespace kestrine {

PyStatus report_document_checks(const DocumentCheckFindings& findings, std::span<const std::string> file_names) {
  log_warnings(findings.warnings);
  if (const auto& duplicate = findings.duplicate) {
    return fail(duplicate_key_error_to_py(*duplicate, included_file_name(file_names, duplicate->span.file_id)));
  }
  return {};
}

PyStatus check_documents(std::span<YamlNode> roots, const DocumentChecks& checks,
                         std::span<const std::string> file_names) {
  return report_document_checks(run_document_checks(roots, checks), file_names);
}

}  // namespace kestrine
