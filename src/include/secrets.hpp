// `!secret NAME`: the value stored under NAME in the nearest secrets.yaml
// from the tagged node's file up to the include root.
#pragma once

#include <span>

#include "include/context.hpp"
#include "roundtrip/ast.hpp"

namespace kestrine {

LoadResult<YamlNode> resolve_secret(IncludeContext& ctx, const YamlNode& tagged, std::span<const IncludeFrame> chain);

}  // namespace kestrine
