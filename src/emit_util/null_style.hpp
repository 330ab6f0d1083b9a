// How the writers spell a null, and which option bits choose it.
//
//   WriterOptions o;
//   o.null_style = null_style_of(option);  // OPT_NULL_AS_TILDE: NullStyle::Tilde
#pragma once

#include <cstdint>
#include <string_view>

#include "util/options.hpp"

namespace kestrine {

// `Keyword` writes "null" everywhere, `Tilde` "~"; `Default` leaves a null
// empty where block layout allows it (after a key's ":" or a "-") and writes
// "null" elsewhere.  Chosen by OPT_NULL_AS_KEYWORD / OPT_NULL_AS_TILDE.
enum class NullStyle : std::uint8_t {
  Keyword = 0,
  Default = 1,
  Tilde = 2,
};

// OPT_NULL_AS_KEYWORD wins over OPT_NULL_AS_TILDE (callers that keep the
// style refuse the pair first: null_styles_conflict).
constexpr NullStyle null_style_of(Options option) noexcept {
  if (option & OPT_NULL_AS_KEYWORD) return NullStyle::Keyword;
  if (option & OPT_NULL_AS_TILDE) return NullStyle::Tilde;
  return NullStyle::Default;
}

// The word a null is written as where it cannot be left empty (a key, a
// flow entry): "~" under `Tilde`, else "null".
constexpr std::string_view null_word(NullStyle style) noexcept { return style == NullStyle::Tilde ? "~" : "null"; }

}  // namespace kestrine
