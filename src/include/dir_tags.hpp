// The four directory directives: every YAML file of a directory (listing.hpp
// gives which and in what order) loaded and expanded into one node.
//
//   !include_dir_list         a sequence of every document of every file
//   !include_dir_named        a mapping: file stem -> first document; two
//                             stems the load reads as one key (1 and 1.0,
//                             a.yaml and a.yml) fail (DuplicateKey)
//   !include_dir_merge_list   one sequence: sequence documents spliced,
//                             any other document kept as one item
//   !include_dir_merge_named  one mapping: the pairs of every mapping
//                             document, in file order, not deduplicated;
//                             other documents dropped
//
// The argument, depth limit and path are those of `!include`; an argument
// that is not a directory gives an empty result.  Each listed file is read
// and composed once, its documents walked with the chain one frame longer,
// and moved, not copied, into the result.  The result sits at the tag's
// position with the directive as its `source` (no file number: it names no
// single file); its children keep the positions of the files they came
// from.
#pragma once

#include <span>

#include "include/context.hpp"
#include "roundtrip/tree/ast.hpp"

namespace kestrine {

LoadResult<YamlNode> expand_include_dir_list(IncludeContext& ctx, const YamlNode& tagged,
                                             std::span<const IncludeFrame> chain);
LoadResult<YamlNode> expand_include_dir_named(IncludeContext& ctx, const YamlNode& tagged,
                                              std::span<const IncludeFrame> chain);
LoadResult<YamlNode> expand_include_dir_merge_list(IncludeContext& ctx, const YamlNode& tagged,
                                                   std::span<const IncludeFrame> chain);
LoadResult<YamlNode> expand_include_dir_merge_named(IncludeContext& ctx, const YamlNode& tagged,
                                                    std::span<const IncludeFrame> chain);

}  // namespace kestrine
