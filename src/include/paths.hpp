// Path texts as the include loader handles them: lexical normalisation, the
// component-wise "inside" test, joining and the parent directory.  Nothing
// here touches the file system.
//
// Paths are byte texts with "/" between components.  A normalised path has
// no "." or ".." component, no empty component and no trailing "/" (except
// the root "/" itself); canonical paths from the operating system are
// normalised in this sense too, so `path_within` may compare texts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrine {

// Lexical normalisation: "." components are dropped and ".." removes the
// component before it when that is a name; a ".." with nothing to remove is
// dropped, never kept.  "/a/b/../c/./d" -> "/a/c/d", "/.." -> "/",
// "a/../../b" -> "b", "./a" -> "a", "a/" -> "a", "" -> "".  Symbolic links
// are not consulted.
std::string normalize_path(std::string_view path);

// True when the components of `root` are a prefix of those of `path` (both
// normalised): "/srv/app/x" lies in "/srv/app", not in "/srv/ap".  An empty
// root contains nothing.
bool path_within(std::string_view path, std::string_view root) noexcept;

// `name` appended to `base` with one "/" between them: an absolute `name`
// replaces `base`, an empty `base` leaves `name` as it is, and a `base`
// ending in "/" gets no second one.
std::string join_path(std::string_view base, std::string_view name);

// The directory holding the last component ("a/b" -> "a", "/a" -> "/",
// "a" -> ""), or nothing for "" and "/".  Trailing slashes are ignored.
std::optional<std::string_view> parent_path(std::string_view path) noexcept;

// The path that leads from the folder `base` to `path` (both normalised and
// absolute): ".." for each component of `base` past the part the two share,
// then the rest of `path` ("/r/sub/dd" from "/r" -> "sub/dd", "/r/dd" from
// "/r/sub" -> "../dd", a path from itself -> ".").
std::string relative_path(std::string_view path, std::string_view base);

// The last component ("a/b.yaml" -> "b.yaml").
std::string_view file_name_of(std::string_view path) noexcept;

inline bool holds_nul(std::string_view text) noexcept { return text.find('\0') != std::string_view::npos; }

}  // namespace kestrine
