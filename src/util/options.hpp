// The option flags: one 64-bit bit set per call (`option=`), each flag one
// bit, unknown bits ignored.  Bits 0 to 16 and 33 steer loading, 17 to 32
// dumping; each stage reads the bits it needs into its own settings.
//
//   const bool round_trip = (option & OPT_ROUND_TRIP) != 0;
//   for (const OptionEntry& entry : kOptionTable) names.emplace(entry.value, entry.name);
#pragma once

#include <cstdint>
#include <string_view>

namespace kestrine {

using Options = std::uint64_t;

inline constexpr Options OPT_YAML_1_1 = 1ULL << 0;
inline constexpr Options OPT_PYYAML_COMPAT = 1ULL << 1;
inline constexpr Options OPT_UPGRADE_1_1 = 1ULL << 2;
inline constexpr Options OPT_YAML_1_1_WARN = 1ULL << 3;
inline constexpr Options OPT_ROUND_TRIP = 1ULL << 4;
inline constexpr Options OPT_ANNOTATED = 1ULL << 5;
inline constexpr Options OPT_ANNOTATE_NUMBERS = 1ULL << 6;
inline constexpr Options OPT_INCLUDES = 1ULL << 7;
inline constexpr Options OPT_INCLUDE_DIR_RECURSIVE = 1ULL << 8;
inline constexpr Options OPT_SECRETS = 1ULL << 9;
inline constexpr Options OPT_ENV_VAR = 1ULL << 10;
inline constexpr Options OPT_SECRET_NOT_FOUND_WARN = 1ULL << 11;
inline constexpr Options OPT_ENV_VAR_NOT_FOUND_WARN = 1ULL << 12;
inline constexpr Options OPT_PASSTHROUGH_TAG = 1ULL << 13;
inline constexpr Options OPT_DUPLICATE_KEYS_ERROR = 1ULL << 14;
inline constexpr Options OPT_DUPLICATE_KEYS_WARN = 1ULL << 15;
inline constexpr Options OPT_REJECT_COMPLEX_KEYS = 1ULL << 16;
inline constexpr Options OPT_INDENT_2 = 1ULL << 17;
inline constexpr Options OPT_INDENT_4 = 1ULL << 18;
inline constexpr Options OPT_INDENTLESS_SEQUENCES = 1ULL << 19;
inline constexpr Options OPT_FLOW_STYLE = 1ULL << 20;
inline constexpr Options OPT_SORT_KEYS = 1ULL << 21;
inline constexpr Options OPT_EXPLICIT_START = 1ULL << 22;
inline constexpr Options OPT_EXPLICIT_END = 1ULL << 23;
inline constexpr Options OPT_SINGLE_QUOTES = 1ULL << 24;
inline constexpr Options OPT_NULL_AS_KEYWORD = 1ULL << 25;
inline constexpr Options OPT_NULL_AS_TILDE = 1ULL << 26;
inline constexpr Options OPT_SERIALIZE_NUMPY = 1ULL << 27;
inline constexpr Options OPT_PASSTHROUGH_DATETIME = 1ULL << 28;
inline constexpr Options OPT_PASSTHROUGH_DATACLASS = 1ULL << 29;
inline constexpr Options OPT_OMIT_MICROSECONDS = 1ULL << 30;
inline constexpr Options OPT_NAIVE_UTC = 1ULL << 31;
inline constexpr Options OPT_UTC_Z = 1ULL << 32;
inline constexpr Options OPT_TIMESTAMPS = 1ULL << 33;

// The one combination of flags that is refused, where a null spelling is
// kept (dumps, round-trip documents): two spellings of null at once.
inline constexpr std::string_view kNullStylesConflictMessage =
    "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive";
constexpr bool null_styles_conflict(Options option) noexcept {
  return (option & OPT_NULL_AS_KEYWORD) != 0 && (option & OPT_NULL_AS_TILDE) != 0;
}

struct OptionEntry {
  const char* name;
  Options value;
};

// Every flag by name, in bit order (the order in which the module exposes
// them).
inline constexpr OptionEntry kOptionTable[] = {
    {"OPT_YAML_1_1", OPT_YAML_1_1},
    {"OPT_PYYAML_COMPAT", OPT_PYYAML_COMPAT},
    {"OPT_UPGRADE_1_1", OPT_UPGRADE_1_1},
    {"OPT_YAML_1_1_WARN", OPT_YAML_1_1_WARN},
    {"OPT_ROUND_TRIP", OPT_ROUND_TRIP},
    {"OPT_ANNOTATED", OPT_ANNOTATED},
    {"OPT_ANNOTATE_NUMBERS", OPT_ANNOTATE_NUMBERS},
    {"OPT_INCLUDES", OPT_INCLUDES},
    {"OPT_INCLUDE_DIR_RECURSIVE", OPT_INCLUDE_DIR_RECURSIVE},
    {"OPT_SECRETS", OPT_SECRETS},
    {"OPT_ENV_VAR", OPT_ENV_VAR},
    {"OPT_SECRET_NOT_FOUND_WARN", OPT_SECRET_NOT_FOUND_WARN},
    {"OPT_ENV_VAR_NOT_FOUND_WARN", OPT_ENV_VAR_NOT_FOUND_WARN},
    {"OPT_PASSTHROUGH_TAG", OPT_PASSTHROUGH_TAG},
    {"OPT_DUPLICATE_KEYS_ERROR", OPT_DUPLICATE_KEYS_ERROR},
    {"OPT_DUPLICATE_KEYS_WARN", OPT_DUPLICATE_KEYS_WARN},
    {"OPT_REJECT_COMPLEX_KEYS", OPT_REJECT_COMPLEX_KEYS},
    {"OPT_INDENT_2", OPT_INDENT_2},
    {"OPT_INDENT_4", OPT_INDENT_4},
    {"OPT_INDENTLESS_SEQUENCES", OPT_INDENTLESS_SEQUENCES},
    {"OPT_FLOW_STYLE", OPT_FLOW_STYLE},
    {"OPT_SORT_KEYS", OPT_SORT_KEYS},
    {"OPT_EXPLICIT_START", OPT_EXPLICIT_START},
    {"OPT_EXPLICIT_END", OPT_EXPLICIT_END},
    {"OPT_SINGLE_QUOTES", OPT_SINGLE_QUOTES},
    {"OPT_NULL_AS_KEYWORD", OPT_NULL_AS_KEYWORD},
    {"OPT_NULL_AS_TILDE", OPT_NULL_AS_TILDE},
    {"OPT_SERIALIZE_NUMPY", OPT_SERIALIZE_NUMPY},
    {"OPT_PASSTHROUGH_DATETIME", OPT_PASSTHROUGH_DATETIME},
    {"OPT_PASSTHROUGH_DATACLASS", OPT_PASSTHROUGH_DATACLASS},
    {"OPT_OMIT_MICROSECONDS", OPT_OMIT_MICROSECONDS},
    {"OPT_NAIVE_UTC", OPT_NAIVE_UTC},
    {"OPT_UTC_Z", OPT_UTC_Z},
    {"OPT_TIMESTAMPS", OPT_TIMESTAMPS},
};
static_assert(sizeof(kOptionTable) / sizeof(kOptionTable[0]) == 34);

}  // namespace kestrine
