#include "include/secrets.hpp"

#include <string>
#include <utility>
#include <vector>

#include "include/confine.hpp"
#include "include/paths.hpp"
#include "roundtrip/compose/composer.hpp"
#include "roundtrip/tree/anchors.hpp"
#include "roundtrip/tree/tree_ops.hpp"
#include "util/stack_guard.hpp"
#include "util/try.hpp"
#include "util/utf8.hpp"

namespace kestrine {
namespace {

constexpr std::string_view kSecretsFileName = "secrets.yaml";
constexpr std::string_view kLoggerKey = "logger";
constexpr std::string_view kLoggerWarning =
    "secrets.yaml: 'logger: debug' expected, but a different value was found";

const std::string& search_start(IncludeContext& ctx, std::uint32_t file_id) {
  if (ctx.last_secret_start && ctx.last_secret_start->first == file_id) return ctx.last_secret_start->second;
  ctx.last_secret_start.emplace(file_id, secrets_search_start(source_name(ctx, file_id), ctx.root.canonical()));
  return ctx.last_secret_start->second;
}

LoadError secrets_file_error(std::string message, std::string_view candidate) {
  return make_load_error(IncludeErrorKind::Include, std::move(message), std::string(candidate), {});
}

// A composer message without the input it may quote (the value of a
// secret could be that input).
std::string without_quoted_input(std::string message) {
  if (const std::size_t quote = message.find(": '"); quote != std::string::npos) message.resize(quote);
  return message;
}

// A copy that stands on its own outside the secrets file: aliases replaced
// by copies of the nodes they stand for (a null for one that stands for
// nothing), no anchor and no comment anywhere.
YamlNode detached_copy(const YamlNode& node, const AnchorBindings& bindings) {
  return stack_guarded([&]() -> YamlNode {
    const YamlNode* from = follow_aliases(node, bindings);
    if (from == nullptr) return YamlNode::null_at(node.span);
    YamlNode copy;
    switch (from->kind()) {
      case NodeKind::Scalar:
        copy = YamlNode::scalar(from->text(), from->scalar_style(), from->span);
        break;
      case NodeKind::Sequence: {
        std::vector<YamlNode> items;
        items.reserve(from->size());
        for (const YamlNode& item : from->items()) items.push_back(detached_copy(item, bindings));
        copy = YamlNode::sequence(std::move(items), from->style, from->span);
        break;
      }
      case NodeKind::Mapping: {
        std::vector<NodePair> pairs;
        pairs.reserve(from->size());
        for (const NodePair& pair : from->pairs())
          pairs.push_back(NodePair{detached_copy(pair.key, bindings), detached_copy(pair.value, bindings)});
        copy = YamlNode::mapping(std::move(pairs), from->style, from->span);
        break;
      }
      case NodeKind::Alias:  // follow_aliases never ends at one
      case NodeKind::Null:
        copy = YamlNode::null_at(from->span);
        break;
    }
    copy.end_offset = from->end_offset;
    copy.end_line = from->end_line;
    copy.end_column = from->end_column;
    copy.explicit_key = from->explicit_key;
    if (from->tag()) copy.copy_tag(*from);
    return copy;
  });
}

// The pairs of a secrets file's root mapping as its table.
LoadResult<SecretsTable> secrets_table(IncludeContext& ctx, const YamlNode& root, std::string_view candidate) {
  auto bindings = bind_anchors(std::span<const YamlNode>(&root, 1), kAliasNodeBudget);
  if (!bindings)
    return std::unexpected(secrets_file_error("invalid secrets.yaml: " + bindings.error().message, candidate));
  SecretsTable table;
  table.values.reserve(root.size());
  for (const NodePair& pair : root.pairs()) {
    if (tree_has_secret_tag(pair.value))
      return std::unexpected(secrets_file_error("secrets not supported in a secrets.yaml file", candidate));
    if (!pair.key.is_scalar()) continue;
    const std::string& key = pair.key.text();
    if (key == kLoggerKey) {
      const bool debug = pair.value.is_scalar() && is_debug_logger_value(pair.value.text());
      if (!debug) ctx.warnings.emplace_back(kLoggerWarning);
      continue;
    }
    table.values.insert_or_assign(key, detached_copy(pair.value, *bindings));
  }
  return table;
}

// The table of one candidate path (empty when there is nothing to read).
LoadResult<SecretsTable> load_secrets_file(IncludeContext& ctx, const std::string& candidate) {
  const auto real = canonical_path(candidate);
  if (!real || !path_within(*real, ctx.root.canonical())) return SecretsTable{};
  auto fd = open_beneath(ctx.root, *real, OpenAs::File);
  if (!fd) return SecretsTable{};
  FileIdentity identity;
  auto text = read_regular_file(fd->get(), &identity);
  if (!text || !is_valid_utf8(*text)) return SecretsTable{};
  note_file_read(ctx, identity, text->size());
  const std::uint32_t file_id = register_source(ctx, candidate, std::nullopt);
  auto documents = parse_roundtrip_file(*text, file_id);
  if (!documents) {
    return std::unexpected(
        secrets_file_error("invalid secrets.yaml: " + without_quoted_input(std::move(documents.error().message)),
                           candidate));
  }
  if (documents->empty() || documents->front().is_null()) return SecretsTable{};
  const YamlNode& root = documents->front();
  if (!root.is_mapping())
    return std::unexpected(secrets_file_error("secrets.yaml does not contain a dictionary", candidate));
  KESTRINE_ASSIGN_OR_RETURN(SecretsTable table, secrets_table(ctx, root, candidate));
  table.file_id = file_id;
  return table;
}

// A stored value and the file number of the secrets file that holds it.
struct FoundSecret {
  const YamlNode* value = nullptr;  // null: not found
  std::uint32_t file_id = 0;
};

// The stored value of `name` in the nearest secrets file.  The pointer is
// good until the cache changes.
LoadResult<FoundSecret> find_secret(IncludeContext& ctx, std::uint32_t file_id, std::string_view name) {
  const std::string& root = ctx.root.canonical();
  std::string directory = search_start(ctx, file_id);
  for (;;) {
    if (!path_within(directory, root)) return FoundSecret{};
    std::string candidate = join_path(directory, kSecretsFileName);
    auto cached = ctx.secrets_cache.find(candidate);
    if (cached == ctx.secrets_cache.end()) {
      KESTRINE_ASSIGN_OR_RETURN(SecretsTable table, load_secrets_file(ctx, candidate));
      cached = ctx.secrets_cache.emplace(std::move(candidate), std::move(table)).first;
    }
    const SecretsTable& table = cached->second;
    if (auto hit = table.values.find(name); hit != table.values.end()) return FoundSecret{&hit->second, *table.file_id};
    if (directory == root) return FoundSecret{};
    const auto parent = parent_path(directory);
    if (!parent) return FoundSecret{};
    directory = std::string(*parent);
  }
}

// What a copy of `node` places in the result, as the expansion budget
// counts it: its nodes, and as bytes its texts and a few bytes for each node
// (about what writing it takes).  Secrets are stored with their aliases
// expanded, so one tag can stand for much more than its text.
Placement placement_of(const YamlNode& node) {
  constexpr std::uint64_t kPerNode = 4;
  Placement total;
  std::vector<const YamlNode*> pending{&node};
  while (!pending.empty()) {
    const YamlNode* n = pending.back();
    pending.pop_back();
    total.bytes += kPerNode + (n->is_scalar() ? n->text().size() : 0);
    ++total.nodes;
    for (const YamlNode& item : n->items()) pending.push_back(&item);
    for (const NodePair& pair : n->pairs()) {
      pending.push_back(&pair.key);
      pending.push_back(&pair.value);
    }
  }
  return total;
}

// What stands at the tag: `content` with the tag's position and the
// directive as its provenance, naming the secrets file it came from (none
// for a secret not found).
YamlNode at_directive(YamlNode content, const YamlNode& tagged, std::string name,
                      std::optional<std::uint32_t> secrets_file = std::nullopt) {
  content.span = tagged.span;
  content.end_offset = tagged.end_offset;
  content.end_line = tagged.end_line;
  content.end_column = tagged.end_column;
  IncludeSource source{std::string(kSecretTag), std::move(name), std::nullopt};
  if (secrets_file) source.content_files.push_back(*secrets_file);
  content.set_source(std::move(source));
  return content;
}

}  // namespace

std::string secrets_search_start(std::string_view file_name, std::string_view canonical_root) {
  if (const auto real = canonical_path(file_name)) {
    if (const auto parent = parent_path(*real); parent && !parent->empty()) return std::string(*parent);
  }
  return std::string(canonical_root);
}

bool tree_has_secret_tag(const YamlNode& node) {
  return stack_guarded([&] {
    if (node.tag().equals(kSecretTag)) return true;
    for (const YamlNode& item : node.items())
      if (tree_has_secret_tag(item)) return true;
    for (const NodePair& pair : node.pairs())
      if (tree_has_secret_tag(pair.key) || tree_has_secret_tag(pair.value)) return true;
    return false;
  });
}

bool is_debug_logger_value(std::string_view text) noexcept {
  static constexpr std::string_view kDebug = "debug";
  if (text.size() != kDebug.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (c != kDebug[i]) return false;
  }
  return true;
}

LoadResult<YamlNode> resolve_secret(IncludeContext& ctx, const YamlNode& tagged, std::span<const IncludeFrame> chain) {
  std::string name = tagged.is_scalar() ? tagged.text() : std::string();
  KESTRINE_ASSIGN_OR_RETURN(const FoundSecret found, find_secret(ctx, tagged.span.file_id, name));
  if (found.value != nullptr) {
    KESTRINE_TRY(charge_expansion(ctx, placement_of(*found.value), source_name(ctx, tagged.span.file_id), chain));
    return at_directive(*found.value, tagged, std::move(name), found.file_id);
  }
  if (ctx.secret_miss_nonfatal) {
    ctx.missing_secrets.push_back(
        MissingSecret{name, source_name(ctx, tagged.span.file_id), tagged.span.line, tagged.span.column});
    YamlNode null = at_directive(YamlNode::null_at(tagged.span), tagged, std::move(name));
    null.set_end_to_start();
    return null;
  }
  return std::unexpected(make_load_error(IncludeErrorKind::SecretNotFound,
                                         "secret '" + name + "' is not defined in any secrets.yaml",
                                         source_name(ctx, tagged.span.file_id), chain, tagged.span));
}

}  // namespace kestrine
