#include "ffi/checks.hpp"

#include <new>
#include <string>
#include <vector>

#include "ffi/errors.hpp"
#include "roundtrip/duplicates.hpp"
#include "roundtrip/upgrade.hpp"

namespace kestrine {

void log_warnings(std::span<const std::string> warnings) noexcept {
  for (const std::string& warning : warnings) log_warning(warning);
}

PyStatus check_documents(std::span<YamlNode> roots, const DocumentChecks& checks) noexcept {
  try {
    if (checks.yaml11_warn) log_warnings(collect_version_warnings(roots, checks.mode));
    if (checks.upgrade) {
      for (YamlNode& root : roots) upgrade_yaml11_scalars(root, checks.mode);
    }
    if (checks.dup_error) {
      for (const YamlNode& root : roots) {
        if (auto error = check_duplicate_keys(root, checks.mode)) return fail(duplicate_key_error_to_py(*error));
      }
    } else if (checks.dup_warn_only) {
      log_warnings(warn_duplicate_keys(roots, checks.mode));
    }
    return {};
  } catch (const std::bad_alloc&) {
    return fail(PyErr::memory_error());
  } catch (PyErrException& e) {
    return fail(e.take());
  } catch (const std::exception& e) {
    return fail(PyErr::internal_fault(e.what()));
  }
}

}  // namespace kestrine
