// Scalar resolution: what a scalar's text means under a YAML version.
//
// Every place that needs the type of a scalar (the plain decoder, key
// signatures of round-trip trees, annotated results, the 1.1 upgrade and
// warnings, schema validation, the dumper's quoting decision) asks the
// functions here.  They are pure, never fail, and allocate only where the
// result owns text (`ResolvedScalar`, `normalize_int_literal`); the hot entry
// `resolve_scalar_kind` never allocates for texts up to 256 bytes.
//
// Tags are passed as written by the decoder: either the "!!" short form
// ("!!int") or the same name after the core prefix ("tag:yaml.org,2002:int").
// An absent tag (std::nullopt) differs from a present empty tag, which, like
// every unrecognised tag, reads as a string.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "resolver/kind.hpp"
#include "resolver/yaml11.hpp"
#include "resolver/yaml12.hpp"

namespace kestrine {

// The self-contained typed scalar handed to callers outside the decoder.
// There is no merge variant: the merge key becomes the String "<<".
struct ResolvedScalar {
  enum class Type : std::uint8_t { Null = 0, Bool = 1, Int = 2, BigInt = 3, Float = 4, String = 5 };
  Type type = Type::Null;
  bool boolean = false;
  std::int64_t integer = 0;
  double real = 0.0;
  // BigInt: canonical decimal digits for non-decimal literals ("0x..",
  // "0o..", "0b..", 1.1 octal), else the scalar text as written (a "+" and
  // underscores kept; use `canonical_bigint_text` to compare).  String: the text.
  std::string text;
};

// ---- dispatch ---------------------------------------------------------------

// `non_plain`: the scalar was written quoted or as a block scalar (its
// ScalarStyle code is not 0).  Such a scalar reads as a string unless tagged.
ScalarKind resolve_scalar_kind(VersionMode mode, std::string_view text, bool non_plain,
                               std::optional<std::string_view> tag) noexcept;
ResolvedScalar resolve_scalar_value(VersionMode mode, std::string_view text, bool non_plain,
                                    std::optional<std::string_view> tag);

// Folds a resolver answer for `text` into a ResolvedScalar.
ResolvedScalar to_resolved_scalar(ScalarKind kind, std::string_view text);

// Tag names: Null "null", Bool "bool", Int and BigInt "int", Float "float",
// Str "str", Merge "merge".
std::string_view scalar_kind_tag_name(ScalarType type) noexcept;

// (name under `mode`, name under YAML 1.2) when the scalar's reading under
// `mode` is not a string and its type differs from the YAML 1.2 reading.
std::optional<std::pair<std::string_view, std::string_view>> implicit_tag_name(
    VersionMode mode, std::string_view text, bool non_plain,
    std::optional<std::string_view> tag) noexcept;

// Plain, untagged `text` reads as something other than a string under `mode`
// (null, bool, number or the merge key).  Timestamps are not considered.
bool reads_as_non_string(VersionMode mode, std::string_view text) noexcept;

// ---- big integers -----------------------------------------------------------

// Canonical decimal text of a non-decimal integer literal ("0x..", "0o..",
// "0b..", YAML 1.1 "0..." octal; sign and underscores allowed).  Nothing for
// an ordinary decimal number or a text too short to be such a literal.
std::optional<std::string> normalize_int_literal(std::string_view text);

// Canonical decimal form of a big integer's stored text, for comparing keys:
// no "+", no "_", no leading zeros, "-" only for a non-zero negative value.
// Non-decimal literals are normalised first.  Returns the text unchanged when
// it is not an integer at all.
std::string canonical_bigint_text(std::string_view text);

}  // namespace kestrine
