#include "roundtrip/tree/anchors.hpp"

#include <optional>
#include <string>
#include <utility>

#include "resolver/kind.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

// ---- alias binding ---------------------------------------------------------------

class AnchorBinder {
 public:
  AnchorBinder(AnchorBindings& out, std::uint64_t budget) : out_(out), budget_(budget) {}

  // Binds one document; anchors do not carry over to the next.
  std::optional<ComposeError> bind_root(const YamlNode& root) {
    anchors_.clear();
    error_.reset();
    walk(root, kNoFile);
    return std::move(error_);
  }

 private:
  // A subtree's node count with aliases counted as copies of their targets,
  // and the deepest nesting of alias expansions in it.
  struct Measure {
    std::uint64_t count = 0;
    std::uint32_t depth = 0;
  };

  // Anchors are scoped per file: an alias binds only to an anchor written in
  // the file the alias is written in, so after include expansion an alias
  // never binds to a same-named anchor that an included file (or the file
  // that included it) defined in between.  A node is written in the file of
  // its parent's content, whatever its own position says: a node that
  // replaced a directive carries the anchor written on the directive, in
  // the file of its parent, and an edit puts in place nodes built without
  // a position, or read elsewhere (the content of an `!include` replaced
  // by a value, a detached copy of it), that are written where they stand.
  static constexpr std::uint32_t kNoFile = UINT32_MAX;
  using AnchorKey = std::pair<std::uint32_t, std::string_view>;

  // The file `node` is written in, given its parent's content's (`file`):
  // that one, or, below a directory directive (whose children are
  // documents, which nothing can refer to) and at the root, its own.
  static std::uint32_t placed_in(const YamlNode& node, std::uint32_t file) noexcept {
    return file == kNoFile ? node.span.file_id : file;
  }

  // The file the children of `node`, written in `file`, are written in.
  static std::uint32_t children_file(const YamlNode& node, std::uint32_t file) noexcept {
    const IncludeSource* source = node.source();
    if (source == nullptr) return placed_in(node, file);
    return source->target_file_id ? *source->target_file_id : kNoFile;
  }

  static std::uint64_t sat_add(std::uint64_t a, std::uint64_t b) noexcept {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
  }

  static void add(Measure& total, Measure part) noexcept {
    total.count = sat_add(total.count, part.count);
    if (part.depth > total.depth) total.depth = part.depth;
  }

  // Measures `node`, recording the bindings and, once the node is complete,
  // its anchor.  `file`: the file its parent's content is written in
  // (kNoFile at the root and below a directory directive).
  Measure walk(const YamlNode& node, std::uint32_t file) {
    return stack_guarded([&]() -> Measure {
      if (error_) return {};
      if (node.is_alias()) {
        auto it = anchors_.find(AnchorKey{placed_in(node, file), std::string_view(node.text())});
        if (it == anchors_.end()) return {1, 0};
        const Measure& target = it->second.measure;
        const std::uint32_t depth = target.depth == UINT32_MAX ? target.depth : target.depth + 1;
        out_.targets_.emplace(&node, AliasBinding{it->second.node, target.count, depth});
        charged_ = sat_add(charged_, target.count);
        if (charged_ > budget_) error_ = ComposeError{std::string(kAliasBombMessage), node.span};
        return {target.count, depth};
      }
      Measure total{1, 0};
      const std::uint32_t inner = children_file(node, file);
      for (const YamlNode& item : node.items()) add(total, walk(item, inner));
      for (const NodePair& pair : node.pairs()) {
        add(total, walk(pair.key, inner));
        add(total, walk(pair.value, inner));
      }
      if (node.anchor()) {
        const std::uint32_t scope = node.source() != nullptr ? file : placed_in(node, file);
        anchors_.insert_or_assign(AnchorKey{scope, std::string_view(*node.anchor())}, Anchor{&node, total});
      }
      return total;
    });
  }

  struct Anchor {
    const YamlNode* node;
    Measure measure;
  };

  AnchorBindings& out_;
  SeededHashMap<AnchorKey, Anchor> anchors_;
  std::uint64_t budget_;
  std::uint64_t charged_ = 0;
  std::optional<ComposeError> error_;
};

std::expected<AnchorBindings, ComposeError> bind_anchors(std::span<const YamlNode> roots, std::uint64_t budget) {
  AnchorBindings bindings;
  AnchorBinder binder(bindings, budget);
  for (const YamlNode& root : roots) {
    if (auto err = binder.bind_root(root)) return std::unexpected(std::move(*err));
  }
  return bindings;
}

const YamlNode* follow_aliases(const YamlNode& node, const AnchorBindings& bindings) noexcept {
  // Targets always lie before their aliases, so the chain ends.
  const YamlNode* n = &node;
  while (n != nullptr && n->is_alias()) n = bindings.target(*n);
  return n;
}

bool is_collection_node(const YamlNode& node, const AnchorBindings& bindings) noexcept {
  if (node.is_collection()) return true;
  if (!node.is_alias()) return false;
  const YamlNode* target = follow_aliases(node, bindings);
  return target != nullptr && target->is_collection();
}

// ---- following aliases while a document is read -------------------------------------------

namespace {

// Unlimited: the limits apply to what is read, not to the document.
void bind_unlimited(const YamlNode& root, AnchorBindings& out) {
  AnchorBinder binder(out, UINT64_MAX);
  binder.bind_root(root);
}

}  // namespace

AnchorBindings bind_root_unlimited(const YamlNode& root) {
  AnchorBindings bindings;
  bind_unlimited(root, bindings);
  return bindings;
}

const AnchorBindings& BindingsCache::of(const YamlNode& root) {
  std::unique_ptr<AnchorBindings>& slot = bound_[&root];
  if (!slot) {
    auto bindings = std::make_unique<AnchorBindings>();
    bind_unlimited(root, *bindings);
    slot = std::move(bindings);
  }
  return *slot;
}

const AnchorBindings& AliasFollower::bindings() {
  if (bindings_ == nullptr) {
    if (cache_ != nullptr) {
      bindings_ = &cache_->of(*root_);
    } else {
      bind_unlimited(*root_, own_.emplace());
      bindings_ = &*own_;
    }
  }
  return *bindings_;
}

const YamlNode* AliasFollower::target(const YamlNode& alias) { return bindings().target(alias); }

std::expected<const YamlNode*, AliasLimitError> AliasFollower::expand(const YamlNode& alias) {
  const AliasBinding* binding = bindings().binding(alias);
  if (binding == nullptr) return nullptr;
  if (charging_) {
    if (binding->count > kAliasExpansionBudget - charged_)
      return std::unexpected(AliasLimitError{kAliasBombMessage, alias.span});
    charged_ += binding->count;  // never past the budget
  }
  return binding->target;
}

void AliasFollower::rebind(const YamlNode& root) noexcept {
  if (!charging_ || root_ == &root) return;
  root_ = &root;
  bindings_ = nullptr;
  own_.reset();
}

// ---- merge keys -------------------------------------------------------------------------

bool is_merge_key_node_with_properties(const YamlNode& key, VersionMode mode) noexcept {
  if (const auto tag = key.expanded_tag()) {
    return mode != VersionMode::Yaml12 && (key.is_scalar() || key.is_null()) && core_tag_name(*tag) == "merge";
  }
  return key.is_scalar() && key.scalar_style() == ScalarStyle::Plain && key.text() == "<<";
}

bool has_merge_key(std::span<const NodePair> pairs, VersionMode mode) noexcept {
  for (const NodePair& p : pairs)
    if (is_merge_key_node(p.key, mode)) return true;
  return false;
}

bool alias_is_merge_key(const YamlNode& alias, VersionMode mode, AliasFollower& aliases) {
  const YamlNode* target = &alias;
  while (target != nullptr && target->is_alias()) target = aliases.target(*target);
  return target != nullptr && is_merge_key_node(*target, mode);
}

bool has_merge_key(std::span<const NodePair> pairs, VersionMode mode, AliasFollower& aliases) {
  for (const NodePair& p : pairs)
    if (is_merge_key_node(p.key, mode, aliases)) return true;
  return false;
}

}  // namespace kestrine
