// Version modes and the resolvers' answer type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrine {

// How plain scalars resolve.  One byte; every value other than 0 and 1
// behaves as PyyamlCompat (see `version_mode_from_byte`).
enum class VersionMode : std::uint8_t {
  Yaml12 = 0,
  Yaml11 = 1,
  PyyamlCompat = 2,  // the stricter YAML 1.1 reading of OPT_PYYAML_COMPAT
};

constexpr VersionMode version_mode_from_byte(std::uint8_t b) noexcept {
  return b == 0 ? VersionMode::Yaml12 : b == 1 ? VersionMode::Yaml11 : VersionMode::PyyamlCompat;
}

// The core tag prefix, and the merge marker's full tag.
inline constexpr std::string_view kCoreTagPrefix = "tag:yaml.org,2002:";
inline constexpr std::string_view kMergeTag = "tag:yaml.org,2002:merge";

enum class ScalarType : std::uint8_t {
  Null = 0,
  Bool = 1,
  Int = 2,
  BigInt = 3,  // no payload: the text itself is an integer beyond 64 bits
  Float = 4,
  Str = 5,
  Merge = 6,  // the merge key "<<"
};

// The resolvers' answer: a type and its payload (16 bytes, returned in
// registers).  Read `boolean` for Bool, `integer` for Int, `real` for Float.
struct ScalarKind {
  ScalarType type = ScalarType::Str;
  union {
    bool boolean;
    std::int64_t integer = 0;
    double real;
  };

  static constexpr ScalarKind null() noexcept { return of(ScalarType::Null); }
  static constexpr ScalarKind str() noexcept { return of(ScalarType::Str); }
  static constexpr ScalarKind big_int() noexcept { return of(ScalarType::BigInt); }
  static constexpr ScalarKind merge() noexcept { return of(ScalarType::Merge); }
  static constexpr ScalarKind of_bool(bool b) noexcept {
    ScalarKind k = of(ScalarType::Bool);
    k.boolean = b;
    return k;
  }
  static constexpr ScalarKind of_int(std::int64_t v) noexcept {
    ScalarKind k = of(ScalarType::Int);
    k.integer = v;
    return k;
  }
  static constexpr ScalarKind of_float(double v) noexcept {
    ScalarKind k = of(ScalarType::Float);
    k.real = v;
    return k;
  }

 private:
  static constexpr ScalarKind of(ScalarType t) noexcept {
    ScalarKind k;
    k.type = t;
    return k;
  }
};

// The text inside a verbatim tag "!<...>", or the tag itself: the name the
// conversion's tag callbacks know a tag by.
std::string_view unwrap_verbatim_tag(std::string_view tag) noexcept;

// "int" for "!!int", "tag:yaml.org,2002:int" and the verbatim
// "!<tag:yaml.org,2002:int>"; empty for any other tag.
std::string_view core_tag_name(std::string_view tag) noexcept;
// A tag that names a core type in one of those spellings ("!!" followed by
// anything included), so it is resolved here and never handed to user tag
// callbacks.
bool is_core_tag(std::string_view tag) noexcept;

}  // namespace kestrine
