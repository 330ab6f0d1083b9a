#include "include/dir_tags.hpp"

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "include/listing.hpp"
#include "include/loader.hpp"
#include "roundtrip/tree/duplicates.hpp"
#include "roundtrip/tree/tree_ops.hpp"
#include "util/hash_map.hpp"
#include "util/large_block.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

struct DirectoryFiles {
  std::string argument;
  std::vector<IncludeDirEntry> entries;  // empty when the argument names no directory
  std::vector<std::uint32_t> read;       // the file numbers of the entries, as they are read
};

// The argument, depth and path steps, then the listing.
LoadResult<DirectoryFiles> list_directive_files(IncludeContext& ctx, const YamlNode& tagged, std::string_view tag,
                                                std::span<const IncludeFrame> chain) {
  DirectoryFiles files;
  KESTRINE_ASSIGN_OR_RETURN(files.argument, include_argument(ctx, tagged, tag, chain));
  KESTRINE_TRY(check_include_depth(ctx, tagged.span.file_id, chain));
  KESTRINE_ASSIGN_OR_RETURN(std::string resolved, resolve_directive_path(ctx, tagged, files.argument, chain));
  auto opened = open_beneath(ctx.root, resolved, OpenAs::Directory);
  if (!opened) {
    // Nothing there, or something that is no directory: an empty result.
    const OpenFailure& failure = opened.error();
    if (failure.reason == OpenFailure::Reason::NulInName ||
        (failure.reason == OpenFailure::Reason::System && (failure.error == ENOENT || failure.error == ENOTDIR))) {
      return files;
    }
    return std::unexpected(
        directory_open_error(ctx, resolved, files.argument, failure, tagged.span.file_id, chain));
  }
  KESTRINE_ASSIGN_OR_RETURN(files.entries,
                            list_include_dir(ctx, resolved, std::move(*opened), tagged.span.file_id, chain));
  return files;
}

// A result node at the tag's position naming the directive and the files
// it read.
YamlNode directive_result(YamlNode node, const YamlNode& tagged, std::string_view tag, DirectoryFiles files) {
  node.span = tagged.span;
  node.set_end_to_start();
  node.set_source(IncludeSource{std::string(tag), std::move(files.argument), std::nullopt, std::move(files.read)});
  return node;
}

// The result of a merge form.  A file that is a `!secret` alone splices the
// secret's items or pairs in among the others, where nothing tells them
// apart: the whole result then counts as a secret's value.
YamlNode spliced_result(YamlNode node, const YamlNode& tagged, std::string_view tag, DirectoryFiles files,
                        bool secret) {
  YamlNode result = directive_result(std::move(node), tagged, tag, std::move(files));
  result.source_mut()->content_secret = secret;
  return result;
}

// The documents of every listed file, walked, in order.
LoadResult<std::vector<YamlNode>> all_documents(IncludeContext& ctx, DirectoryFiles& files, const YamlNode& tagged,
                                                std::span<const IncludeFrame> chain) {
  std::vector<YamlNode> items;
  for (const IncludeDirEntry& entry : files.entries) {
    KESTRINE_ASSIGN_OR_RETURN(LoadedFile file, load_include_file(ctx, entry.path, entry.path, chain));
    files.read.push_back(file.file_id);
    KESTRINE_TRY(walk_loaded_documents(ctx, file, file.documents, entry.path, tagged.span.line, chain));
    for (YamlNode& document : file.documents) items.push_back(std::move(document));
  }
  return items;
}

// The key node of a listed file: its stem, plain, at the start of the file.
YamlNode stem_key(const IncludeDirEntry& entry, std::uint32_t file_id) {
  return YamlNode::scalar(entry.key, ScalarStyle::Plain, Span{file_id, 0, 0, 0});
}

// Two stems that the load reads as one key (1, 1.0 and true; null and ~; a
// and a under two extensions or in two directories) would leave one file's
// content silently out of the mapping: DuplicateKey, naming both files,
// before any file is read.
LoadStatus check_distinct_stems(const IncludeContext& ctx, const DirectoryFiles& files, const YamlNode& tagged,
                                std::span<const IncludeFrame> chain) {
  SeededHashMap<std::string, std::size_t> seen;
  seen.reserve(files.entries.size());
  for (std::size_t i = 0; i < files.entries.size(); ++i) {
    const IncludeDirEntry& entry = files.entries[i];
    const auto [at, added] = seen.try_emplace(node_key_signature(stem_key(entry, 0), ctx.keys), i);
    if (added) continue;
    const IncludeDirEntry& first = files.entries[at->second];
    return std::unexpected(make_load_error(IncludeErrorKind::DuplicateKey,
                                           "duplicate mapping key: " + entry.key + " (the files '" + first.path +
                                               "' and '" + entry.path + "' are read as the same key)",
                                           source_name(ctx, tagged.span.file_id), chain, tagged.span));
  }
  return {};
}

// Stem -> first document (walked) of every listed file.
LoadResult<std::vector<NodePair>> first_documents_by_stem(IncludeContext& ctx, DirectoryFiles& files,
                                                          const YamlNode& tagged,
                                                          std::span<const IncludeFrame> chain) {
  std::vector<NodePair> pairs;
  pairs.reserve(files.entries.size());
  for (const IncludeDirEntry& entry : files.entries) {
    KESTRINE_ASSIGN_OR_RETURN(LoadedFile file, load_include_file(ctx, entry.path, entry.path, chain));
    files.read.push_back(file.file_id);
    NodePair pair;
    pair.key = stem_key(entry, file.file_id);
    if (file.documents.empty()) {
      pair.value = empty_mapping_at(tagged);
    } else {
      pair.value = std::move(file.documents.front());
      KESTRINE_TRY(walk_loaded_documents(ctx, file, std::span(&pair.value, 1), entry.path, tagged.span.line, chain));
    }
    pairs.push_back(std::move(pair));
  }
  return pairs;
}

// The list forms: every document of every file; the merge form splices
// sequence documents (their own comments, anchor and tag dropped) and keeps
// any other document as one item.  The merge forms take their argument
// through the plain forms, so a missing argument is reported with the plain
// form's name.
LoadResult<YamlNode> list_form(IncludeContext& ctx, const YamlNode& tagged, std::span<const IncludeFrame> chain,
                               std::string_view tag, bool merge) {
  KESTRINE_ASSIGN_OR_RETURN(DirectoryFiles files, list_directive_files(ctx, tagged, "!include_dir_list", chain));
  KESTRINE_ASSIGN_OR_RETURN(std::vector<YamlNode> documents, all_documents(ctx, files, tagged, chain));
  if (!merge) return directive_result(YamlNode::sequence(std::move(documents)), tagged, tag, std::move(files));
  std::size_t count = 0;
  for (const YamlNode& document : documents) count += document.is_sequence() ? document.size() : 1;
  NodeList<YamlNode> items;
  items.reserve(count);
  bool secret = false;
  // The merged list's pages are first written here, file by file: each
  // file's emptied list goes back to the system as soon as its items are
  // over, so that the two lists never stand in memory side by side.
  const ReturnFreedBlocks returned;
  for (YamlNode& document : documents) {
    if (!document.is_sequence()) {
      items.push_back(std::move(document));
      continue;
    }
    secret = secret || (is_secret_node(document) && document.size() > 0);
    for (YamlNode& item : document.items()) items.push_back(std::move(item));
    document.clear();
  }
  YamlNode result = YamlNode::sequence();
  result.set_sequence(std::move(items));
  return spliced_result(std::move(result), tagged, tag, std::move(files), secret);
}

// The named forms: stem -> first document; the merge form concatenates the
// pairs of the mapping documents (not deduplicated) and drops the others.
LoadResult<YamlNode> named_form(IncludeContext& ctx, const YamlNode& tagged, std::span<const IncludeFrame> chain,
                                std::string_view tag, bool merge) {
  KESTRINE_ASSIGN_OR_RETURN(DirectoryFiles files, list_directive_files(ctx, tagged, "!include_dir_named", chain));
  // The merge form keeps no stem: its files' pairs meet as the load's
  // duplicate-key policy says.
  if (!merge) KESTRINE_TRY(check_distinct_stems(ctx, files, tagged, chain));
  KESTRINE_ASSIGN_OR_RETURN(std::vector<NodePair> named, first_documents_by_stem(ctx, files, tagged, chain));
  if (!merge) return directive_result(YamlNode::mapping(std::move(named)), tagged, tag, std::move(files));
  std::size_t count = 0;
  for (const NodePair& file : named) count += file.value.pairs().size();
  // Built in place: the pairs of a large tree are moved once, not twice,
  // and each file's emptied list goes at once, as in the list form.
  NodeList<NodePair> pairs;
  pairs.reserve(count);
  bool secret = false;
  const ReturnFreedBlocks returned;
  for (NodePair& file : named) {
    secret = secret || (is_secret_node(file.value) && !file.value.pairs().empty());
    for (NodePair& pair : file.value.pairs()) pairs.push_back(std::move(pair));
    file.value.clear();
  }
  YamlNode result = YamlNode::mapping();
  result.set_mapping(std::move(pairs));
  return spliced_result(std::move(result), tagged, tag, std::move(files), secret);
}

}  // namespace

LoadResult<YamlNode> expand_include_dir_list(IncludeContext& ctx, const YamlNode& tagged,
                                             std::span<const IncludeFrame> chain) {
  return list_form(ctx, tagged, chain, "!include_dir_list", false);
}

LoadResult<YamlNode> expand_include_dir_named(IncludeContext& ctx, const YamlNode& tagged,
                                              std::span<const IncludeFrame> chain) {
  return named_form(ctx, tagged, chain, "!include_dir_named", false);
}

LoadResult<YamlNode> expand_include_dir_merge_list(IncludeContext& ctx, const YamlNode& tagged,
                                                   std::span<const IncludeFrame> chain) {
  return list_form(ctx, tagged, chain, "!include_dir_merge_list", true);
}

LoadResult<YamlNode> expand_include_dir_merge_named(IncludeContext& ctx, const YamlNode& tagged,
                                                    std::span<const IncludeFrame> chain) {
  return named_form(ctx, tagged, chain, "!include_dir_merge_named", true);
}

}  // namespace kestrine
