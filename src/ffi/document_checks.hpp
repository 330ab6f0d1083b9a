// Reporting the checks that run over composed trees after a load
// (roundtrip/document/document_checks.hpp: which checks each road runs, in
// which order, and what they find): warnings are logged, the duplicate-key
// error is raised.
//
//   KESTRINE_TRY(check_documents(roots, round_trip_checks(settings)));
//
//   // or the work off the lock, reported once the lock is back:
//   DocumentCheckFindings found = without_gil([&] { return run_document_checks(roots, checks); });
//   KESTRINE_TRY(report_document_checks(found));
//
// Warnings are logged in the order the checks found them, and before the
// error is raised, so they stay logged when a later step fails.  Requires the
// interpreter lock.
#pragma once

#include <span>
#include <string>

#include "ffi/py.hpp"
#include "roundtrip/document/document_checks.hpp"

namespace kestrine {

// Logs the warnings and raises the duplicate-key error (KestrineDuplicateKeyError).
// `file_names`: the load's source-file table, so that a duplicate in an
// included file names it.
PyStatus report_document_checks(const DocumentCheckFindings& findings, std::span<const std::string> file_names = {});

// run_document_checks, then report_document_checks.
PyStatus check_documents(std::span<YamlNode> roots, const DocumentChecks& checks,
                         std::span<const std::string> file_names = {});

}  // namespace kestrine
