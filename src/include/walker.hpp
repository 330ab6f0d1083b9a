// The directive tag walker: replaces, in place, every node of a tree whose
// tag names a configuration directive that the load switched on.
//
//   "!include"                  expand_include            (loader.hpp)
//   "!include_dir_list", "!include_dir_named",
//   "!include_dir_merge_list", "!include_dir_merge_named"  (dir_tags.hpp)
//   "!env_var"                  resolve_env_var           (env_var.hpp)
//   "!secret"                   resolve_secret            (secrets.hpp)
//
// Sequence items and mapping values are visited; mapping keys never are (a
// directive on a key stays as written).  A replaced node is not visited
// again: the handlers walk what they read themselves.  An anchor written on
// a directive names its replacement (so `&b !include x.yaml` can be
// referred to as *b); the included document's own root anchor gives way,
// since nothing can refer to a document's root.  The comments written
// around a directive stay on its replacement; those of an included file's
// root move to `IncludeSource::content_comments`, so that writing back
// either file gives it its own comments and no other file's.  Every descent runs under
// the stack guard.  On an error the tree is left partly replaced; the
// caller drops it.
#pragma once

#include <span>

#include "include/context.hpp"
#include "roundtrip/tree/ast.hpp"

namespace kestrine {

LoadStatus resolve_directive_tags(YamlNode& node, IncludeContext& ctx, std::span<const IncludeFrame> chain);

// The common shape of directive handlers: the tagged node is borrowed and
// the replacement returned.
using DirectiveHandler = LoadResult<YamlNode> (*)(IncludeContext& ctx, const YamlNode& tagged,
                                                  std::span<const IncludeFrame> chain);

// The handler for the node's tag when that directive is switched on, else
// null.
DirectiveHandler directive_handler(const YamlNode& node, const IncludeContext& ctx) noexcept;

}  // namespace kestrine
