#include "include/loader.hpp"

#include <algorithm>
#include <utility>

#include "decode/decoder.hpp"
#include "include/confine.hpp"
#include "include/paths.hpp"
#include "include/walker.hpp"
#include "roundtrip/compose/composer.hpp"
#include "roundtrip/emit/source_copy.hpp"
#include "roundtrip/tree/tree_ops.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"
#include "util/utf8.hpp"

namespace kestrine {
namespace {

// The directory relative include arguments of a file start from.
std::string base_directory(const IncludeContext& ctx, std::uint32_t file_id) {
  if (file_id < ctx.sources.names.size()) {
    if (const auto parent = parent_path(ctx.sources.names[file_id])) return std::string(*parent);
  }
  return ctx.root_dir;
}

// A file's text as read, and which file it was.
struct IncludedText {
  std::string text;
  FileIdentity identity;
};

LoadError read_error(std::string_view resolved, std::string_view shown, const OpenFailure& failure,
                     std::span<const IncludeFrame> chain) {
  if (failure.reason == OpenFailure::Reason::Escapes) {
    return make_load_error(IncludeErrorKind::IncludeConfinement, outside_root_message(shown), std::string(resolved),
                           chain);
  }
  return make_load_error(IncludeErrorKind::IncludeNotFound, unreadable_file_message(shown, failure.text()),
                         std::string(resolved), chain);
}

std::expected<IncludedText, OpenFailure> read_included_text(const IncludeRoot& root, std::string_view resolved) {
  KESTRINE_ASSIGN_OR_RETURN(UniqueFd fd, open_beneath(root, resolved, OpenAs::File));
  IncludedText read;
  KESTRINE_ASSIGN_OR_RETURN(read.text, read_regular_file(fd.get(), &read.identity));
  if (!is_valid_utf8(read.text)) return std::unexpected(OpenFailure{OpenFailure::Reason::NotUtf8, 0});
  return read;
}

LoadStatus charge_included_text(IncludeContext& ctx, const IncludedText& read, std::string_view resolved,
                                std::span<const IncludeFrame> chain) {
  // Read first: a file's first inclusion always fits, its repeats are what
  // the budget bounds.
  note_file_read(ctx, read.identity, read.text.size());
  return charge_expansion(ctx, Placement{read.text.size(), 0}, resolved, chain);
}

}  // namespace

std::optional<std::size_t> later_text_of(std::string_view text, std::uint32_t file_id,
                                         std::span<const YamlNode> documents,
                                         std::optional<std::size_t> second_document) {
  if (documents.empty()) return std::nullopt;
  const YamlNode& first = documents.front();
  const SourceLines lines(text, 0, file_id);
  std::size_t limit = lines.end();
  if (second_document) limit = lines.line_start(std::clamp(*second_document, lines.begin(), lines.end()));
  // Back from the next document (or the end) over the lines between: only
  // those are read, not the document.
  const std::optional<std::size_t> end = lines.document_end(first, limit);
  if (!end) {
    const bool more = second_document || text.find("\n---", std::min(first.span.offset, text.size())) !=
                                             std::string_view::npos;
    return more ? std::optional<std::size_t>(IncludeSource::kUnknownOffset) : std::nullopt;
  }
  // Blank and comment lines alone after the only document are written back
  // with it, as its foot lines.
  if (!second_document && lines.comment_texts(*end, lines.end())) return std::nullopt;
  return *end;
}

YamlNode empty_mapping_at(const YamlNode& tagged) {
  YamlNode node = YamlNode::mapping();
  node.span = tagged.span;
  node.set_end_to_start();
  return node;
}

LoadResult<std::string> include_argument(const IncludeContext& ctx, const YamlNode& tagged, std::string_view tag,
                                         std::span<const IncludeFrame> chain) {
  if (tagged.is_scalar() && !split_directive_words(tagged.text()).empty()) return tagged.text();
  return std::unexpected(make_load_error(IncludeErrorKind::Include, std::string(tag) + " needs an argument",
                                         source_name(ctx, tagged.span.file_id), chain));
}

LoadStatus check_include_depth(const IncludeContext& ctx, std::uint32_t file_id, std::span<const IncludeFrame> chain) {
  if (chain.size() < kMaxIncludeDepth) return {};
  return std::unexpected(make_load_error(IncludeErrorKind::IncludeDepth,
                                         "include chain exceeds the maximum depth of " +
                                             std::to_string(kMaxIncludeDepth),
                                         source_name(ctx, file_id), chain));
}

LoadResult<std::string> resolve_directive_path(const IncludeContext& ctx, const YamlNode& tagged,
                                               std::string_view argument, std::span<const IncludeFrame> chain) {
  const std::string joined = join_path(base_directory(ctx, tagged.span.file_id), argument);
  return resolve_include_path(ctx, joined, argument, tagged.span.file_id, chain);
}

namespace {

LoadStatus count_included_file(IncludeContext& ctx, std::string_view resolved, std::span<const IncludeFrame> chain) {
  if (++ctx.expansion_count <= kMaxIncludedFiles) return {};
  return std::unexpected(make_load_error(IncludeErrorKind::IncludeDepth,
                                         "include expansion exceeded the maximum of " +
                                             std::to_string(kMaxIncludedFiles) +
                                             " files (a fan-out of nested includes)",
                                         std::string(resolved), chain));
}

LoadResult<LoadedFile> composed_file(IncludeContext& ctx, std::uint32_t file_id,
                                     std::expected<ComposedStream, ComposeError> composed,
                                     std::string_view resolved, std::span<const IncludeFrame> chain) {
  if (!composed) {
    return std::unexpected(make_load_error(IncludeErrorKind::Parse, std::move(composed.error().message),
                                           std::string(resolved), chain, composed.error().span));
  }
  // Its nodes are known only now: a file past the budget is composed, once,
  // and released.
  KESTRINE_TRY(charge_expansion(ctx, Placement{0, composed->nodes}, resolved, chain));
  ctx.aliases = ctx.aliases || composed->aliases;
  LoadedFile loaded;
  loaded.file_id = file_id;
  loaded.documents = std::move(composed->roots);
  if (composed->document_starts.size() > 1) loaded.second_document = composed->document_starts[1];
  loaded.tags = composed->tags;
  return loaded;
}

}  // namespace

LoadResult<LoadedFile> load_include_file(IncludeContext& ctx, std::string_view resolved, std::string_view shown,
                                         std::span<const IncludeFrame> chain) {
  KESTRINE_TRY(count_included_file(ctx, resolved, chain));
  auto read = read_included_text(ctx.root, resolved);
  if (!read) return std::unexpected(read_error(resolved, shown, read.error(), chain));
  KESTRINE_TRY(charge_included_text(ctx, *read, resolved, chain));
  // Registered before composing, so that a file with a syntax error has its
  // entry; composed from the stored text (nothing registers meanwhile).
  const std::uint32_t file_id = register_source(ctx, std::string(resolved), std::move(read->text));
  return composed_file(ctx, file_id,
                       compose_text(*ctx.sources.texts.back(), file_id, /*empty_document_as_null=*/false,
                                    ctx.lists.get()),
                       resolved, chain);
}

std::vector<IncludeFrame> extend_chain(std::span<const IncludeFrame> chain, std::string_view file,
                                       std::uint32_t line) {
  std::vector<IncludeFrame> longer;
  longer.reserve(chain.size() + 1);
  longer.assign(chain.begin(), chain.end());
  longer.push_back(IncludeFrame{std::string(file), line});
  return longer;
}

LoadStatus walk_included_tree(YamlNode& node, IncludeContext& ctx, std::span<const IncludeFrame> chain) {
  return stack_guarded([&] { return resolve_directive_tags(node, ctx, chain); });
}

LoadStatus walk_loaded_documents(IncludeContext& ctx, const LoadedFile& loaded, std::span<YamlNode> documents,
                                 std::string_view file, std::uint32_t line, std::span<const IncludeFrame> chain) {
  if (!loaded.tags || documents.empty()) return {};
  const std::vector<IncludeFrame> inner = extend_chain(chain, file, line);
  for (YamlNode& document : documents) KESTRINE_TRY(walk_included_tree(document, ctx, inner));
  return {};
}

LoadResult<YamlNode> expand_include(IncludeContext& ctx, const YamlNode& tagged, std::span<const IncludeFrame> chain) {
  KESTRINE_ASSIGN_OR_RETURN(std::string argument, include_argument(ctx, tagged, "!include", chain));
  KESTRINE_TRY(check_include_depth(ctx, tagged.span.file_id, chain));
  KESTRINE_ASSIGN_OR_RETURN(std::string resolved, resolve_directive_path(ctx, tagged, argument, chain));
  // Resolved paths are canonical or normalised, so equal texts are equal
  // component sequences.
  for (const IncludeFrame& frame : chain) {
    if (frame.file == resolved) {
      return std::unexpected(make_load_error(IncludeErrorKind::CircularInclude,
                                             "circular include detected: '" + argument + "'", resolved, chain));
    }
  }
  KESTRINE_ASSIGN_OR_RETURN(LoadedFile loaded, load_include_file(ctx, resolved, argument, chain));
  YamlNode result;
  IncludeSource source{"!include", std::move(argument), loaded.file_id};
  if (loaded.documents.empty()) {
    result = empty_mapping_at(tagged);
  } else {
    source.later_text =
        later_text_of(*ctx.sources.texts[loaded.file_id], loaded.file_id, loaded.documents, loaded.second_document);
    result = std::move(loaded.documents.front());
    KESTRINE_TRY(walk_loaded_documents(ctx, loaded, std::span(&result, 1), resolved, tagged.span.line, chain));
    // The file's document was a directive: what stands here now came from
    // elsewhere, and this include's source takes the place of its own,
    // keeping the files that one read.
    if (const IncludeSource* inner = result.source()) {
      source.content_from_directive = true;
      if (inner->target_file_id) source.content_files.push_back(*inner->target_file_id);
      source.content_files.insert(source.content_files.end(), inner->content_files.begin(),
                                  inner->content_files.end());
    }
    // Its value stays a secret under the include's own source.
    source.content_secret = is_secret_node(result);
  }
  result.set_source(std::move(source));
  return result;
}

LoadResult<std::vector<YamlNode>> expand_includes(IncludeContext& ctx, std::string_view text,
                                                  std::optional<std::string> root_path, bool empty_document_as_null) {
  std::string root_name = root_path ? std::move(*root_path) : join_path(ctx.root_dir, "<root>");
  ctx.bytes_read += text.size();
  const std::uint32_t file_id = register_source(ctx, root_name, std::string(text));
  auto composed = compose_text(*ctx.sources.texts[file_id], file_id, empty_document_as_null, ctx.lists.get());
  if (!composed) {
    return std::unexpected(make_load_error(IncludeErrorKind::Parse, std::move(composed.error().message),
                                           std::move(root_name), {}, composed.error().span));
  }
  ctx.aliases = ctx.aliases || composed->aliases;
  if (!composed->tags) return std::move(composed->roots);
  for (YamlNode& root : composed->roots) KESTRINE_TRY(walk_included_tree(root, ctx, {}));
  return std::move(composed->roots);
}

}  // namespace kestrine
