#include "include/context.hpp"

#include <limits>
#include <string>
#include <utility>

#include "roundtrip/document/document_checks.hpp"

namespace kestrine {
namespace {

// Whether `bytes` more fit under `budget` when `placed` are placed already.
bool fits(std::uint64_t placed, std::uint64_t bytes, std::uint64_t budget) noexcept {
  return bytes <= budget && placed <= budget - bytes;
}

// `per_byte` times the text read plus the allowance, saturating: the sums
// stay far below 2^64 in any load that fits memory, but a wrap would let
// everything through.
std::uint64_t expansion_budget(const IncludeContext& ctx, std::uint64_t per_byte, std::uint64_t allowance) noexcept {
  constexpr std::uint64_t cap = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t scaled = ctx.bytes_read > cap / per_byte ? cap : ctx.bytes_read * per_byte;
  return scaled > cap - allowance ? cap : scaled + allowance;
}

LoadError expansion_error(std::uint64_t budget, std::string_view unit, std::string_view rule, std::string_view file,
                          std::span<const IncludeFrame> chain) {
  return make_load_error(IncludeErrorKind::IncludeDepth,
                         "include expansion exceeded the maximum of " + std::to_string(budget) + " " +
                             std::string(unit) + " (" + std::string(rule) +
                             "; a fan-out of repeated includes or secrets)",
                         std::string(file), chain);
}

}  // namespace

IncludeContext new_include_context(std::string root_dir, IncludeFlags flags) {
  IncludeContext ctx;
  ctx.root = IncludeRoot::open(root_dir);
  ctx.root_dir = std::move(root_dir);
  ctx.includes = flags.includes;
  ctx.secrets = flags.secrets;
  ctx.env_var = flags.env_var;
  return ctx;
}

IncludeContext load_include_context(const LoadSettings& settings, const std::optional<std::string>& include_dir,
                                    MissListeners listeners) {
  IncludeContext ctx = new_include_context(include_dir.value_or("."),
                                           IncludeFlags{settings.includes, settings.secrets, settings.env_vars});
  ctx.include_dir_recursive = settings.include_dir_recursive;
  ctx.keys = converted_key_reading(settings);
  ctx.secret_miss_nonfatal = listeners.secret || settings.warn_missing_secret;
  ctx.env_var_miss_nonfatal = listeners.env_var || settings.warn_missing_env_var;
  return ctx;
}

std::uint32_t register_source(IncludeContext& ctx, std::string name, std::optional<std::string> text) {
  const auto file_id = static_cast<std::uint32_t>(ctx.sources.names.size());
  ctx.sources.names.push_back(std::move(name));
  ctx.sources.texts.push_back(std::move(text));
  return file_id;
}

const std::string& source_name(const IncludeContext& ctx, std::uint32_t file_id) noexcept {
  if (file_id < ctx.sources.names.size()) return ctx.sources.names[file_id];
  return ctx.root_dir;
}

SourceTable into_source_table(IncludeContext&& ctx) {
  SourceTable table = std::move(ctx.sources);
  table.include_root = ctx.root.canonical();
  return table;
}

void note_file_read(IncludeContext& ctx, FileIdentity file, std::uint64_t bytes) {
  if (!ctx.reads_sorted_out) {
    if (ctx.reads_noted.empty()) ctx.reads_noted.reserve(32);  // one allocation for a small tree
    ctx.reads_noted.emplace_back(file, bytes);
  } else if (ctx.files_read.insert(file).second) {
    ctx.bytes_read += bytes;
  }
}

LoadStatus charge_expansion(IncludeContext& ctx, Placement placement, std::string_view file,
                            std::span<const IncludeFrame> chain) {
  if (!ctx.reads_sorted_out && !(fits(ctx.placed.bytes, placement.bytes, ctx.expansion_allowance) &&
                                 fits(ctx.placed.nodes, placement.nodes, ctx.expansion_node_allowance))) {
    ctx.reads_sorted_out = true;
    for (const auto& [read, size] : std::exchange(ctx.reads_noted, {})) note_file_read(ctx, read, size);
  }
  const bool sorted = ctx.reads_sorted_out;
  const std::uint64_t bytes_budget =
      sorted ? expansion_budget(ctx, kExpansionBytesPerByteRead, ctx.expansion_allowance) : ctx.expansion_allowance;
  if (!fits(ctx.placed.bytes, placement.bytes, bytes_budget)) {
    return std::unexpected(expansion_error(bytes_budget, "bytes",
                                           std::to_string(kExpansionBytesPerByteRead) + " times the text read plus " +
                                               std::to_string(ctx.expansion_allowance >> 20) + " MiB",
                                           file, chain));
  }
  const std::uint64_t nodes_budget = sorted ? expansion_budget(ctx, kExpansionNodesPerByteRead,
                                                               ctx.expansion_node_allowance)
                                            : ctx.expansion_node_allowance;
  if (!fits(ctx.placed.nodes, placement.nodes, nodes_budget)) {
    return std::unexpected(expansion_error(nodes_budget, "nodes",
                                           std::to_string(kExpansionNodesPerByteRead) +
                                               " per byte of the text read plus " +
                                               std::to_string(ctx.expansion_node_allowance),
                                           file, chain));
  }
  ctx.placed.bytes += placement.bytes;
  ctx.placed.nodes += placement.nodes;
  return {};
}

LoadError make_load_error(IncludeErrorKind kind, std::string message, std::string file,
                          std::span<const IncludeFrame> chain, std::optional<Span> span) {
  LoadError error;
  error.span = span;
  error.message = std::move(message);
  error.file = std::move(file);
  error.include_chain.assign(chain.begin(), chain.end());
  error.kind = kind;
  return error;
}

}  // namespace kestrine
