// The switches of one load (`loads`, `loads_all`), derived once from the
// `option` bits and the version of a leading %YAML directive; every road and
// stage reads its own switches from here, never the bits.
//
//   const LoadSettings settings = derive_load_settings(option, sniff_yaml_version(text));
//   if (settings.road == LoadRoad::Plain) decode_stream(text, plain_decode_options(settings));
//
// The version rule: a directive decides YAML 1.1 (it says 1.1) or 1.2
// (anything else); without one OPT_YAML_1_1, OPT_PYYAML_COMPAT or
// OPT_UPGRADE_1_1 choose 1.1.  OPT_PYYAML_COMPAT reads as PyyamlCompat
// whatever the directive says.  The road: OPT_ROUND_TRIP, else located
// (OPT_ANNOTATED or an include option), else plain.  Pure; never fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "decode/decoder.hpp"
#include "decode/yaml_version.hpp"
#include "resolver/kind.hpp"
#include "util/options.hpp"

namespace kestrine {

// Which road a load takes.
enum class LoadRoad : std::uint8_t {
  Plain,      // the plain decoder's value trees to plain objects
  Located,    // composed trees: annotated results or configuration directives
  RoundTrip,  // composed trees kept in round-trip documents
};

struct LoadSettings {
  Options option = 0;
  LoadRoad road = LoadRoad::Plain;
  bool is_yaml11 = false;
  VersionMode version_mode = VersionMode::Yaml12;
  bool timestamps = false;
  bool dup_error = false;
  bool dup_warn_only = false;  // OPT_DUPLICATE_KEYS_WARN without OPT_DUPLICATE_KEYS_ERROR
  bool reject_complex = false;
  bool yaml11_warn = false;  // OPT_YAML_1_1_WARN when the text reads as YAML 1.1
  bool annotated = false;
  // The located road first has the plain decoder check every text it reads,
  // so that it refuses what the plain road refuses (OPT_ANNOTATED or
  // OPT_REJECT_COMPLEX_KEYS).
  bool plain_check_pass = false;
  bool annotate_numbers = false;
  bool passthrough_tag = false;
  bool includes = false;
  bool secrets = false;
  bool env_vars = false;
  bool include_dir_recursive = false;
  bool warn_missing_secret = false;   // OPT_SECRET_NOT_FOUND_WARN
  bool warn_missing_env_var = false;  // OPT_ENV_VAR_NOT_FOUND_WARN
  bool upgrade = false;

  bool any_include_flag() const noexcept { return includes || secrets || env_vars; }
};

// `directive`: the version of a leading %YAML directive, if any.
LoadSettings derive_load_settings(Options option, std::optional<YamlVersion> directive) noexcept;

// The version mode of one document of a stream read by `loads_all` on the
// round-trip road: its own leading directive, else the options alone (a
// directive of an earlier document does not carry over).
VersionMode document_version_mode(std::string_view document_text, Options option) noexcept;

// The plain decoder's options for these settings.
DecodeOptions plain_decode_options(const LoadSettings& settings) noexcept;

// The plain decoder's options for the pass of the located road that only
// tests a text (so that it refuses exactly what the plain road refuses):
// nothing but the version and the complex-key policy, no warnings, no
// timestamps.
DecodeOptions check_pass_options(const LoadSettings& settings) noexcept;

}  // namespace kestrine
