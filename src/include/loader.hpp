// `!include` and the steps every include directive shares: the argument,
// the depth limit, the path of an argument, reading one file under the
// per-load file limit, the guarded walk of what was read, and the driver
// `expand_includes` that composes the top-level text and walks each of its
// documents.
//
//   IncludeContext ctx = new_include_context(".", {.includes = true});
//   LoadResult<std::vector<YamlNode>> roots = expand_includes(ctx, text, std::nullopt);
//
// The include chain (outermost first) lives in these calls, never in the
// context: each include walks what it read with its own copy one frame
// longer.  The order of the checks decides which error wins: a missing
// argument, then the depth limit (before any file-system access), then
// confinement, then the cycle test, then the file limit, then the read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "include/context.hpp"
#include "roundtrip/tree/ast.hpp"

namespace kestrine {

// The tag's argument: the scalar text, whole and untrimmed, when it holds a
// character that is not White_Space; otherwise Include "{tag} needs an
// argument".
LoadResult<std::string> include_argument(const IncludeContext& ctx, const YamlNode& tagged, std::string_view tag,
                                         std::span<const IncludeFrame> chain);

// IncludeDepth "include chain exceeds the maximum depth of 50" once the
// chain holds 50 frames.
LoadStatus check_include_depth(const IncludeContext& ctx, std::uint32_t file_id, std::span<const IncludeFrame> chain);

// The argument joined to the directory of the file holding `tagged` (for
// the top-level text: the directory of root_path, else the include root as
// passed) and resolved by resolve_include_path.
LoadResult<std::string> resolve_directive_path(const IncludeContext& ctx, const YamlNode& tagged,
                                               std::string_view argument, std::span<const IncludeFrame> chain);

// One file read, registered in the source-file table and composed.
struct LoadedFile {
  std::uint32_t file_id = 0;
  std::vector<YamlNode> documents;  // not yet walked
  // Where the second document begins in the file's text (its directives or
  // its marker), when there is one.
  std::optional<std::size_t> second_document;
  bool tags = true;                 // false: no tag in the file, so no directive
};

// Where the text of an included file goes on past its first document, from
// the file as composed (IncludeSource::later_text): nothing when only blank
// and comment lines follow it.
std::optional<std::size_t> later_text_of(std::string_view text, std::uint32_t file_id,
                                         std::span<const YamlNode> documents,
                                         std::optional<std::size_t> second_document);

// Counts the file against the per-load limit, reads it beneath the root,
// charges its text against the expansion budget, registers it under
// `resolved` and composes it.  `shown` is the text named
// in messages.
LoadResult<LoadedFile> load_include_file(IncludeContext& ctx, std::string_view resolved, std::string_view shown,
                                         std::span<const IncludeFrame> chain);

// What a file without documents stands for: an empty block mapping at the
// directive's position (zero length).
YamlNode empty_mapping_at(const YamlNode& tagged);

// `chain` with one more frame.
std::vector<IncludeFrame> extend_chain(std::span<const IncludeFrame> chain, std::string_view file,
                                       std::uint32_t line);

// resolve_directive_tags under the stack guard.
LoadStatus walk_included_tree(YamlNode& node, IncludeContext& ctx, std::span<const IncludeFrame> chain);

// Walks `documents`, taken from `loaded` (read as `file` for a directive on
// `line`), in order, with the chain one frame longer.  A file without any
// tag holds no directive: its documents are passed over, and the walk of a
// large tree that would find nothing is spared.
LoadStatus walk_loaded_documents(IncludeContext& ctx, const LoadedFile& loaded, std::span<YamlNode> documents,
                                 std::string_view file, std::uint32_t line, std::span<const IncludeFrame> chain);

// The replacement of a node tagged "!include": the first document of the
// file, expanded, with the directive as its `source`; an empty mapping at
// the tag's position for a file without documents.
LoadResult<YamlNode> expand_include(IncludeContext& ctx, const YamlNode& tagged, std::span<const IncludeFrame> chain);

// Registers the top-level text as file 0 (named `root_path`, else the
// include root joined with "<root>"), composes it and expands every
// document.  `empty_document_as_null`: a document opened by "---" without
// content gives a Null root (the located road) instead of none.
LoadResult<std::vector<YamlNode>> expand_includes(IncludeContext& ctx, std::string_view text,
                                                  std::optional<std::string> root_path,
                                                  bool empty_document_as_null = false);

}  // namespace kestrine
