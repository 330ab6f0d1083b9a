#include "decode/load_settings.hpp"

namespace kestrine {
namespace {

constexpr Options kYaml11Options = OPT_YAML_1_1 | OPT_PYYAML_COMPAT | OPT_UPGRADE_1_1;
constexpr Options kIncludeOptions = OPT_INCLUDES | OPT_SECRETS | OPT_ENV_VAR;

bool set(Options option, Options bit) noexcept { return (option & bit) != 0; }

bool reads_as_yaml11(Options option, std::optional<YamlVersion> directive) noexcept {
  if (directive) return directive->major == 1 && directive->minor == 1;
  return set(option, kYaml11Options);
}

VersionMode version_mode_of(Options option, bool is_yaml11) noexcept {
  if (set(option, OPT_PYYAML_COMPAT)) return VersionMode::PyyamlCompat;
  return is_yaml11 ? VersionMode::Yaml11 : VersionMode::Yaml12;
}

LoadRoad road_of(Options option) noexcept {
  if (set(option, OPT_ROUND_TRIP)) return LoadRoad::RoundTrip;
  if (set(option, OPT_ANNOTATED | kIncludeOptions)) return LoadRoad::Located;
  return LoadRoad::Plain;
}

}  // namespace

LoadSettings derive_load_settings(Options option, std::optional<YamlVersion> directive) noexcept {
  LoadSettings s;
  s.option = option;
  s.road = road_of(option);
  s.is_yaml11 = reads_as_yaml11(option, directive);
  s.version_mode = version_mode_of(option, s.is_yaml11);
  s.timestamps = set(option, OPT_PYYAML_COMPAT | OPT_TIMESTAMPS);
  s.dup_error = set(option, OPT_DUPLICATE_KEYS_ERROR);
  s.dup_warn_only = (option & (OPT_DUPLICATE_KEYS_ERROR | OPT_DUPLICATE_KEYS_WARN)) == OPT_DUPLICATE_KEYS_WARN;
  s.reject_complex = set(option, OPT_REJECT_COMPLEX_KEYS);
  s.yaml11_warn = set(option, OPT_YAML_1_1_WARN) && s.is_yaml11;
  s.annotated = set(option, OPT_ANNOTATED);
  s.plain_check_pass = s.annotated || s.reject_complex;
  s.annotate_numbers = set(option, OPT_ANNOTATE_NUMBERS);
  s.passthrough_tag = set(option, OPT_PASSTHROUGH_TAG);
  s.includes = set(option, OPT_INCLUDES);
  s.secrets = set(option, OPT_SECRETS);
  s.env_vars = set(option, OPT_ENV_VAR);
  s.include_dir_recursive = set(option, OPT_INCLUDE_DIR_RECURSIVE);
  s.warn_missing_secret = set(option, OPT_SECRET_NOT_FOUND_WARN);
  s.warn_missing_env_var = set(option, OPT_ENV_VAR_NOT_FOUND_WARN);
  s.upgrade = set(option, OPT_UPGRADE_1_1);
  return s;
}

VersionMode document_version_mode(std::string_view document_text, Options option) noexcept {
  return version_mode_of(option, reads_as_yaml11(option, sniff_yaml_version(document_text)));
}

DecodeOptions plain_decode_options(const LoadSettings& settings) noexcept {
  DecodeOptions options;
  options.version_mode = settings.version_mode;
  options.duplicate_keys = settings.dup_error       ? DuplicateKeyPolicy::Error
                           : settings.dup_warn_only ? DuplicateKeyPolicy::Warn
                                                    : DuplicateKeyPolicy::Silent;
  options.reject_complex_keys = settings.reject_complex;
  options.timestamps = settings.timestamps;
  options.yaml11_warnings = settings.yaml11_warn;
  return options;
}

DecodeOptions check_pass_options(const LoadSettings& settings) noexcept {
  DecodeOptions options;
  options.version_mode = settings.version_mode;
  options.reject_complex_keys = settings.reject_complex;
  return options;
}

}  // namespace kestrine
