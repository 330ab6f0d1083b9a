// What a render needs to know of a whole text before it copies from it:
// taken once, when a document keeps the text it was read from, so that
// each render of it does not pass over the whole text again.
#pragma once

#include <string_view>

namespace kestrine {

struct TextFacts {
  // Some line ends with CR (alone or before LF).
  bool has_cr = false;
  // A byte-order mark stands somewhere past the one that may open the text.
  bool inner_bom = false;
};

TextFacts text_facts(std::string_view text) noexcept;

}  // namespace kestrine
