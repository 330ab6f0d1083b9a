// `!env_var NAME [default words]`: a variable of the process environment.
//
// The argument splits into words at White_Space.  No word: the empty
// string, without a lookup.  The first word names the variable; the other
// words, joined by single spaces, are its default.  A variable that is
// unset, whose value is not UTF-8, or whose name holds NUL or "=" (C would
// read another variable) is missing: the default when there is one; else,
// when misses are not fatal, a MissingEnvVar record and a null at the tag;
// else EnvVar "environment variable {name} is not defined".  The found
// value is a single-quoted scalar (it loads as a string) at the tag's
// position, with the directive as its `source`; so is the null of a miss,
// so that a write-back keeps the directive.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "include/context.hpp"
#include "roundtrip/tree/ast.hpp"

namespace kestrine {

LoadResult<YamlNode> resolve_env_var(IncludeContext& ctx, const YamlNode& tagged, std::span<const IncludeFrame> chain);

// The value of a variable, or nothing when it is missing (see above).  The
// caller holds whatever lock guards the environment.
std::optional<std::string> read_env_var(std::string_view name);

}  // namespace kestrine
