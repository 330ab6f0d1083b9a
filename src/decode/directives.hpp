// Directives and tags for the plain decoder: the words of a directive line,
// the %YAML version test, the custom-tag test, and the %TAG handle table of
// one document that expands a node's tag.
//
// `TagHandles` refers to the handle and prefix texts it is given (views into
// the scanned text) and allocates expanded tags in the caller's arena, so
// both must outlive the tags it returns.  Cleared at each document end.
#pragma once

#include <expected>
#include <string_view>
#include <vector>

#include "decode/value.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

// Splits a directive line into words at Unicode White_Space characters.
std::vector<std::string_view> split_directive_words(std::string_view line);

// "MAJOR.MINOR", both all ASCII digits.
bool valid_yaml_version(std::string_view version) noexcept;

// False for tags beginning with "!!" or the core prefix, also written
// verbatim ("!<tag:yaml.org,2002:int>").
bool is_custom_tag(std::string_view tag) noexcept;

class TagHandles {
 public:
  void clear() noexcept { handles_.clear(); }

  // The prefix declared for `handle`, or null.
  const std::string_view* find(std::string_view handle) const noexcept;

  // Declares a handle; false when it is declared already.
  bool add(std::string_view handle, std::string_view prefix);

  // The tag as written, or expanded through the declared handles (a fresh
  // text in `arena`).  "!!x" without a declared "!!" is kept as written: the
  // resolvers read "!!x" and the core-prefixed spelling alike, and neither
  // is a custom tag, so the expanded text would never be stored.  The error
  // is the undeclared handle of a "!h!x" tag.
  std::expected<std::string_view, std::string_view> resolve(std::string_view tag,
                                                            ValueArena& arena) const;

 private:
  // Usually a handful, but a document may declare any number.
  SeededHashMap<std::string_view, std::string_view> handles_;
};

}  // namespace kestrine
