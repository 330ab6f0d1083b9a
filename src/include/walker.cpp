#include "include/walker.hpp"

#include <string_view>
#include <utility>

#include "include/dir_tags.hpp"
#include "include/env_var.hpp"
#include "include/loader.hpp"
#include "include/secrets.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"

namespace kestrine {
namespace {

LoadStatus replace_directive(YamlNode& node, DirectiveHandler handler, IncludeContext& ctx,
                             std::span<const IncludeFrame> chain) {
  KESTRINE_ASSIGN_OR_RETURN(YamlNode replacement, handler(ctx, node, chain));
  replacement.set_anchor(node.anchor());
  replacement.set_anchor_first(node.anchor_first());
  if (const IncludeSource* source = replacement.source(); source != nullptr && source->target_file_id) {
    IncludeSource with_comments = *source;
    with_comments.content_comments = std::move(replacement.comments);
    replacement.set_source(std::move(with_comments));
  }
  replacement.comments = std::move(node.comments);
  node = std::move(replacement);
  return {};
}

// Leaves without a tag, the bulk of every tree, are passed over without a
// call.
LoadStatus visit_child(YamlNode& child, IncludeContext& ctx, std::span<const IncludeFrame> chain) {
  if (!child.is_collection() && child.extra() == nullptr) return {};
  return stack_guarded([&] { return resolve_directive_tags(child, ctx, chain); });
}

}  // namespace

DirectiveHandler directive_handler(const YamlNode& node, const IncludeContext& ctx) noexcept {
  const NodeExtra* extra = node.extra();
  if (extra == nullptr || !extra->tag) return nullptr;
  const std::string_view tag = *extra->tag;
  switch (tag.size()) {
    case 7:
      if (ctx.secrets && tag == "!secret") return resolve_secret;
      break;
    case 8:
      if (ctx.includes && tag == "!include") return expand_include;
      if (ctx.env_var && tag == "!env_var") return resolve_env_var;
      break;
    case 17:
      if (ctx.includes && tag == "!include_dir_list") return expand_include_dir_list;
      break;
    case 18:
      if (ctx.includes && tag == "!include_dir_named") return expand_include_dir_named;
      break;
    case 23:
      if (ctx.includes && tag == "!include_dir_merge_list") return expand_include_dir_merge_list;
      break;
    case 24:
      if (ctx.includes && tag == "!include_dir_merge_named") return expand_include_dir_merge_named;
      break;
    default:
      break;
  }
  return nullptr;
}

LoadStatus resolve_directive_tags(YamlNode& node, IncludeContext& ctx, std::span<const IncludeFrame> chain) {
  if (const DirectiveHandler handler = directive_handler(node, ctx)) return replace_directive(node, handler, ctx, chain);
  for (YamlNode& item : node.items()) KESTRINE_TRY(visit_child(item, ctx, chain));
  for (NodePair& pair : node.pairs()) KESTRINE_TRY(visit_child(pair.value, ctx, chain));
  return {};
}

}  // namespace kestrine
