// The per-load state of configuration directives (`!include*`, `!secret`,
// `!env_var`) and the source-file table.
//
//   IncludeContext ctx = new_include_context(include_dir.value_or("."), flags);
//   ctx.include_dir_recursive = ...;         // the switches the caller sets
//   // or, for a load: load_include_context(settings, include_dir, {.secret = on_missing_secret != nullptr})
//   auto roots = expand_includes(ctx, text, root_path);        (loader.hpp)
//   ... take ctx.warnings, ctx.missing_env_vars, ctx.missing_secrets ...
//   SourceTable table = into_source_table(std::move(ctx));
//
// One context per load, owned by the call, used by one thread.  The
// source-file table names every text the load read; entry 0 is the
// top-level text, then each included file and each secrets file in reading
// order (a file read twice is registered twice).  The file number in every
// node's Span indexes it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decode/load_settings.hpp"
#include "include/confine.hpp"
#include "include/error.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/duplicates.hpp"
#include "roundtrip/tree/node_list.hpp"
#include "util/hash_map.hpp"

namespace kestrine {

// The nesting limit of include chains and the per-load file limit.
inline constexpr std::size_t kMaxIncludeDepth = 50;
inline constexpr std::uint64_t kMaxIncludedFiles = 10000;

// The bytes expansion may place in the result: every included text, and
// every secret and variable value, as often as it is placed, up to 64 times
// the text the load read (the top-level text, and each file once however
// often and by whatever name it is read) plus a fixed allowance.  The file
// limit alone let one large file, included a few thousand times, take more
// memory than any machine has; this keeps what a load builds proportional
// to what it read, as the alias budget does for aliases.
inline constexpr std::uint64_t kExpansionBytesPerByteRead = 64;
inline constexpr std::uint64_t kExpansionAllowance = std::uint64_t{16} << 20;
// The nodes expansion may place, likewise: 4 per byte read plus a fixed
// allowance.  Text alone bounds memory poorly: a dense text ("[a,a,a,...]")
// makes a node of every two bytes, and a node takes about a hundred bytes,
// so 64 copies of it took some 3,000 times the text read.  A first placement
// always fits (no text comes near 4 nodes a byte); a text of ordinary
// density (ten bytes or more a node) may still be placed 40 times.
inline constexpr std::uint64_t kExpansionNodesPerByteRead = 4;
inline constexpr std::uint64_t kExpansionNodeAllowance = std::uint64_t{1} << 20;

// What one placement puts in the result.
struct Placement {
  std::uint64_t bytes = 0;
  std::uint64_t nodes = 0;
};

// A secret or variable that was not found while misses are not fatal;
// reported after the load.
struct MissingValue {
  std::string name;
  std::string file;  // the file holding the tag (source-file table name)
  std::uint32_t line = 0;
  std::uint32_t column = 0;
};
using MissingSecret = MissingValue;
using MissingEnvVar = MissingValue;

// The texts one load read; index = file number.  Secrets files are named
// without their text.
struct SourceTable {
  std::vector<std::string> names;
  std::vector<std::optional<std::string>> texts;
  std::string include_root;  // canonical; empty when the root was unusable
};

// The keys of one secrets.yaml and their value nodes, and the file's number
// in the source-file table (none for a candidate that was not read).
struct SecretsTable {
  SeededHashMap<std::string, YamlNode> values;
  std::optional<std::uint32_t> file_id;
};

struct IncludeFlags {
  bool includes = false;  // OPT_INCLUDES
  bool secrets = false;   // OPT_SECRETS
  bool env_var = false;   // OPT_ENV_VAR
};

struct IncludeContext {
  std::string root_dir;  // as passed
  IncludeRoot root;      // canonical form and descriptor; may be unusable
  SourceTable sources;
  std::vector<std::string> warnings;
  std::vector<MissingSecret> missing_secrets;
  std::vector<MissingEnvVar> missing_env_vars;
  // secrets.yaml path to its table, filled once per candidate and load.
  SeededHashMap<std::string, SecretsTable> secrets_cache;
  // The directory the last secrets search started from, for its file
  // number: tags of one file come together, so this spares a realpath each.
  std::optional<std::pair<std::uint32_t, std::string>> last_secret_start;
  std::uint64_t expansion_count = 0;
  // The budget above: what was read and what expansion placed so far.
  // Which files were read is sorted out only once the allowance alone no
  // longer covers what was placed (most loads never get there): until then
  // each read is only noted.
  std::uint64_t bytes_read = 0;  // the top-level text, and each file once when sorted out
  Placement placed;
  std::uint64_t expansion_allowance = kExpansionAllowance;  // lowered only by tests
  std::uint64_t expansion_node_allowance = kExpansionNodeAllowance;  // likewise
  std::vector<std::pair<FileIdentity, std::uint64_t>> reads_noted;
  SeededHashSet<FileIdentity> files_read;  // once sorted out: the files counted in bytes_read
  bool reads_sorted_out = false;
  bool aliases = false;  // some text composed for the load held an alias
  // The child lists of every text the load composes: one run of chunks
  // (huge pages once large) instead of a fresh chunk per small file.
  std::unique_ptr<ListArena> lists = std::make_unique<ListArena>();

  bool includes = false;
  bool secrets = false;
  bool env_var = false;
  // How the load's conversion reads keys: file stems of !include_dir_named
  // that it would read as one key are refused.  Set by the caller.
  KeyReading keys{VersionMode::Yaml12};
  // Set by the caller right after construction.
  bool include_dir_recursive = false;
  bool secret_miss_nonfatal = false;
  bool env_var_miss_nonfatal = false;
};

// Opens and canonicalises the root (see IncludeRoot); never fails.
IncludeContext new_include_context(std::string root_dir, IncludeFlags flags);

// Which misses of a load a caller's callable hears of.
struct MissListeners {
  bool secret = false;   // on_missing_secret
  bool env_var = false;  // on_missing_env_var
};

// The context of one load: the root is `include_dir`, "." when absent; the
// switches come from the settings; a missing secret or variable is not fatal
// when a listener hears of it or a warning reports it (it is then recorded,
// and a null left in its place).
IncludeContext load_include_context(const LoadSettings& settings, const std::optional<std::string>& include_dir,
                                    MissListeners listeners);

// Appends an entry and gives its file number.
std::uint32_t register_source(IncludeContext& ctx, std::string name, std::optional<std::string> text);

// The name of a file number, or `root_dir` for a number not in the table.
const std::string& source_name(const IncludeContext& ctx, std::uint32_t file_id) noexcept;

// Consumes the context; only the source-file table survives it.
SourceTable into_source_table(IncludeContext&& ctx);

// An error record with a copy of the chain.
LoadError make_load_error(IncludeErrorKind kind, std::string message, std::string file,
                          std::span<const IncludeFrame> chain, std::optional<Span> span = std::nullopt);

// The result of every directive step.
template <class T>
using LoadResult = std::expected<T, LoadError>;
using LoadStatus = std::expected<void, LoadError>;

// Counts a file's text as read, once per file and load.
void note_file_read(IncludeContext& ctx, FileIdentity file, std::uint64_t bytes);

// Charges what one placement puts in the result; past a budget the include
// limit error IncludeDepth "include expansion exceeded the maximum of {}
// bytes (64 times the text read plus 16 MiB; a fan-out of repeated includes
// or secrets)", or "... of {} nodes (4 per byte of the text read plus
// 1048576; ...)", naming `file`.
LoadStatus charge_expansion(IncludeContext& ctx, Placement placement, std::string_view file,
                            std::span<const IncludeFrame> chain);

}  // namespace kestrine
