#include "ffi/document_checks.hpp"

#include "ffi/errors.hpp"
#include "roundtrip/duplicates.hpp"
#include "roundtrip/upgrade.hpp"

namespace kestrine {

PyStatus check_documents(std::span<YamlNode> roots, const DocumentChecks& checks) {
  if (checks.yaml11_warn) log_warnings(collect_version_warnings(roots, checks.mode));
  if (checks.upgrade) {
    for (YamlNode& root : roots) upgrade_yaml11_scalars(root, checks.mode, checks.prefer_double_quotes);
  }
  const KeyReading reading(checks.mode, checks.timestamps);
  if (checks.dup_error) {
    if (auto error = check_duplicate_keys_roots(roots, reading)) return fail(duplicate_key_error_to_py(*error));
  } else if (checks.dup_warn_only) {
    log_warnings(warn_duplicate_keys(roots, reading));
  }
  return {};
}

}  // namespace kestrine
