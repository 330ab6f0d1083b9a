#include "roundtrip/document/document_checks.hpp"

#include <algorithm>
#include <utility>

#include "roundtrip/document/document.hpp"
#include "roundtrip/document/upgrade.hpp"
#include "util/options.hpp"

namespace kestrine {
namespace {

void append(std::vector<std::string>& to, std::vector<std::string> more) {
  if (to.empty()) {
    to = std::move(more);
    return;
  }
  to.insert(to.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
}

// Gives false when the policy found the duplicate that ends the checks.
bool run_duplicate_policy(std::span<YamlNode> roots, const DocumentChecks& checks, DocumentCheckFindings& found) {
  const KeyReading reading(checks.mode, checks.timestamps, checks.key_tags);
  if (checks.dup_error) {
    found.duplicate = check_duplicate_keys_roots(roots, reading);
    return !found.duplicate;
  }
  if (checks.dup_warn_only) append(found.warnings, warn_duplicate_keys(roots, reading));
  return true;
}

}  // namespace

DocumentCheckFindings run_document_checks(std::span<YamlNode> roots, const DocumentChecks& checks) {
  DocumentCheckFindings found;
  if (checks.duplicates_first && !run_duplicate_policy(roots, checks, found)) return found;
  if (checks.yaml11_warn) append(found.warnings, collect_version_warnings(roots, checks.mode));
  if (checks.upgrade) {
    for (YamlNode& root : roots) upgrade_yaml11_scalars(root, checks.mode, checks.prefer_double_quotes);
  }
  if (!checks.duplicates_first) run_duplicate_policy(roots, checks, found);
  return found;
}

DocumentChecks round_trip_checks(const LoadSettings& settings) noexcept {
  DocumentChecks checks = stream_document_checks(settings, settings.version_mode);
  checks.yaml11_warn = settings.yaml11_warn;
  return checks;
}

DocumentChecks stream_document_checks(const LoadSettings& settings, VersionMode mode) noexcept {
  DocumentChecks checks;
  checks.mode = mode;
  checks.upgrade = settings.upgrade;
  checks.dup_error = settings.dup_error;
  checks.dup_warn_only = settings.dup_warn_only;
  checks.yaml11_warn = (settings.option & OPT_YAML_1_1_WARN) != 0 && mode != VersionMode::Yaml12;
  checks.prefer_double_quotes = (settings.option & OPT_SINGLE_QUOTES) == 0;
  checks.timestamps = settings.timestamps;
  return checks;
}

DocumentChecks located_checks(const LoadSettings& settings, const KeyTags* key_tags) noexcept {
  const KeyReading reading = located_key_reading(settings);
  DocumentChecks checks;
  checks.key_tags = key_tags;
  checks.mode = reading.mode;
  checks.dup_error = settings.dup_error;
  checks.dup_warn_only = settings.dup_warn_only;
  checks.yaml11_warn = settings.yaml11_warn;
  checks.timestamps = reading.timestamps;
  checks.duplicates_first = true;
  return checks;
}

KeyReading located_key_reading(const LoadSettings& settings) noexcept {
  return KeyReading(settings.version_mode, settings.version_mode == VersionMode::PyyamlCompat);
}

KeyReading converted_key_reading(const LoadSettings& settings) noexcept {
  switch (settings.road) {
    case LoadRoad::Plain: {
      const DecodeOptions decoded = plain_decode_options(settings);
      return KeyReading(decoded.version_mode, decoded.timestamps);
    }
    case LoadRoad::Located:
      return located_key_reading(settings);
    case LoadRoad::RoundTrip:
      break;
  }
  const DocumentFlags flags = document_flags(settings, settings.version_mode);
  return KeyReading(flags.version_mode, flags.timestamps);
}

std::vector<StreamDocument> check_stream_documents(std::span<YamlNode> roots, std::string_view text,
                                                   std::span<const std::size_t> starts, const LoadSettings& settings) {
  const std::vector<std::string_view> slices = document_slices(text, starts);
  const std::size_t count = std::min(roots.size(), slices.size());
  std::vector<StreamDocument> documents(count);
  for (std::size_t i = 0; i < count; ++i) {
    StreamDocument& document = documents[i];
    document.text = slices[i];
    document.mode = document_version_mode(slices[i], settings.option);
    document.findings = run_document_checks(roots.subspan(i, 1), stream_document_checks(settings, document.mode));
  }
  return documents;
}

}  // namespace kestrine
