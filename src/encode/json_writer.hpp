// JSON text writer for value trees: the body of `to_json`.
//
// Kinds JSON lacks are written in fixed ways: tags are dropped, NaN and the
// infinities become null, timestamps become strings, scalar mapping keys
// become their text.  A collection used as a mapping key is the one error.
// Runs without the interpreter lock; appends to one buffer; key texts of
// non-string keys go to a scratch buffer reused for the whole call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "decode/value.hpp"

namespace kestrine {

struct JsonOptions {
  std::uint64_t indent = 0;  // spaces per level; 0: compact
  bool sort_keys = false;    // members sorted by key text (stable)

  // OPT_INDENT_4 gives 4, else OPT_INDENT_2 gives 2; OPT_SORT_KEYS.
  static JsonOptions from_option_bits(std::uint64_t option) noexcept;
};

inline constexpr std::string_view kJsonCollectionKeyError =
    "a collection cannot be a JSON object key";

// Appends the JSON text of `value` at nesting `level` (the root is 0).  On
// error the partial output is left for the caller to discard.
std::expected<void, std::string> write_json_value(std::string& out, const YamlValue& value,
                                                  const JsonOptions& options,
                                                  std::size_t level = 0);
// The document as a fresh text, or the error message.
std::expected<std::string, std::string> dump_json(const YamlValue& root,
                                                  const JsonOptions& options);

// NaN and the infinities give "null"; any finite value its YAML float text.
void write_json_float(std::string& out, double value);
// A JSON string literal, escaping quotes, backslashes, controls, U+2028 and
// U+2029; everything else (DEL and non-ASCII included) is written unchanged.
void write_json_string(std::string& out, std::string_view text);

}  // namespace kestrine
