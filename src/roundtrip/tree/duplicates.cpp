#include "roundtrip/tree/duplicates.hpp"

#include "decode/directives.hpp"  // is_custom_tag
#include "decode/duplicate_keys.hpp"
#include "decode/value.hpp"
#include "roundtrip/tree/anchors.hpp"
#include "roundtrip/tree/merged_pairs.hpp"
#include "roundtrip/tree/tree_ops.hpp"
#include "util/hash_map.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

namespace {

// A NaN key's signature.
constexpr std::string_view kNanSignature = "f:NaN";

void write_node_key_signature(std::string& out, const YamlNode& key, KeyReading reading, AliasFollower& aliases) {
  ValueArena arena;  // allocates only for timestamps, collections and texts beyond 4 GiB
  write_key_signature(out, key_node_value(key, reading, aliases, arena), reading.tags);
}

bool holds_alias(const YamlNode& node) {
  return node.is_alias() || (node.is_collection() && any_child(node, holds_alias));
}

constexpr std::size_t kDescribeLimit = 200;

void describe_rec(std::string& out, const YamlNode& node, bool top) {
  if (out.size() > kDescribeLimit) return;
  switch (node.kind()) {
    case NodeKind::Scalar:
      switch (node.scalar_style()) {
        case ScalarStyle::SingleQuoted:
          out += '\'' + node.text() + '\'';
          break;
        case ScalarStyle::DoubleQuoted:
          out += '"' + node.text() + '"';
          break;
        default:
          out += node.text();
      }
      return;
    case NodeKind::Null:
      out += "null";
      return;
    case NodeKind::Alias:
      if (top) out += "alias ";
      out += '*' + node.text();
      return;
    case NodeKind::Sequence:
      stack_guarded([&] {
        if (top) out += "sequence ";
        out += '[';
        bool first = true;
        for (const YamlNode& item : node.items()) {
          if (out.size() > kDescribeLimit) break;
          if (!first) out += ", ";
          first = false;
          describe_rec(out, item, false);
        }
        out += ']';
      });
      return;
    case NodeKind::Mapping:
      stack_guarded([&] {
        if (top) out += "mapping ";
        out += '{';
        bool first = true;
        for (const NodePair& p : node.pairs()) {
          if (out.size() > kDescribeLimit) break;
          if (!first) out += ", ";
          first = false;
          describe_rec(out, p.key, false);
          out += ": ";
          describe_rec(out, p.value, false);
        }
        out += '}';
      });
      return;
  }
}

// Shared walk of the error check and the warning pass.  `on_duplicate`
// returns false to stop the walk.
template <class OnDuplicate>
class DuplicateWalk {
 public:
  DuplicateWalk(KeyReading reading, OnDuplicate& on_duplicate) : reading_(reading), on_dup_(on_duplicate) {}

  // False when the walk was stopped.
  bool visit_root(const YamlNode& root) {
    root_ = &root;
    binding_ = Binding::NotYet;
    return visit(root);
  }

 private:
  enum class Binding : std::uint8_t { NotYet, Bound, PastBudget };

  KeyReading reading_;
  OnDuplicate& on_dup_;
  std::string sig_;
  const YamlNode* root_ = nullptr;
  // The aliases of the root, bound when a key first holds one.
  Binding binding_ = Binding::NotYet;
  AnchorBindings bindings_;
  AliasFollower aliases_{bindings_};

  bool visit(const YamlNode& node) {
    if (!node.is_collection() || node.size() == 0) return true;
    // The keys of a secret value would be quoted in the message.
    if (is_secret_node(node)) return true;
    return stack_guarded([&] { return visit_body(node); });
  }

  // Binds the root's aliases on first use; false when they cannot be bound.
  bool bound() {
    if (binding_ == Binding::NotYet) {
      // The budget the load's readers hold it to: a key costs no more to
      // sign than to read, and a root past it fails when it is read.
      auto bound = bind_anchors(*root_);
      binding_ = bound ? Binding::Bound : Binding::PastBudget;
      bindings_ = bound ? std::move(*bound) : AnchorBindings();
    }
    return binding_ == Binding::Bound;
  }

  // Merge keys, an alias to one among them, may repeat.
  bool is_merge_key(const YamlNode& key) {
    if (!key.is_alias()) return is_merge_key_node(key, reading_.mode);
    return bound() && is_merge_key_node(key, reading_.mode, aliases_);
  }

  // The key's signature in sig_; false for a key holding an alias that
  // cannot be bound.
  bool sign(const YamlNode& key) {
    sig_.clear();
    if (holds_alias(key) && !bound()) return false;
    write_node_key_signature(sig_, key, reading_, aliases_);
    return true;
  }

  bool visit_body(const YamlNode& node) {
    if (node.is_sequence()) {
      for (const YamlNode& item : node.items())
        if (!visit(item)) return false;
      return true;
    }
    auto pairs = node.pairs();
    SeededHashSet<std::string> seen;
    seen.reserve(pairs.size());
    for (const NodePair& p : pairs) {
      if (!is_merge_key(p.key) && sign(p.key) && !seen.insert(sig_).second) {
        if (!on_dup_(p.key, sig_)) return false;
      }
      if (!visit(p.key) || !visit(p.value)) return false;
    }
    return true;
  }
};

}  // namespace

std::string node_key_signature(const YamlNode& key, KeyReading reading) {
  const AnchorBindings none;
  AliasFollower aliases(none);
  std::string out;
  write_node_key_signature(out, key, reading, aliases);
  return out;
}

std::string describe_key(const YamlNode& key, const KeyTags* tags) {
  if (key.is_scalar()) {
    const auto tag = key.expanded_tag();
    if (!tag || tags == nullptr || !is_custom_tag(*tag) || !tags->keeps(*tag)) return key.text();
    std::string shown(*key.tag().view());
    if (!key.text().empty()) shown += ' ' + key.text();
    return shown;
  }
  std::string out;
  describe_rec(out, key, true);
  if (out.size() > kDescribeLimit) {
    out.resize(kDescribeLimit);
    out += "...";
  }
  return out;
}

std::vector<bool> repeated_keys(std::span<const YamlNode* const> keys, KeyReading reading,
                                const AnchorBindings& bindings) {
  std::vector<bool> repeated(keys.size());
  AliasFollower aliases(bindings);
  SeededHashSet<std::string> seen;
  std::string sig;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] == nullptr || is_merge_key_node(*keys[i], reading.mode, aliases)) continue;
    sig.clear();
    write_node_key_signature(sig, *keys[i], reading, aliases);
    repeated[i] = !seen.insert(sig).second;
  }
  return repeated;
}

std::optional<ComposeError> check_duplicate_keys(const YamlNode& node, KeyReading reading) {
  std::optional<ComposeError> error;
  auto on_dup = [&](const YamlNode& key, std::string_view) {
    error = ComposeError{duplicate_key_message(describe_key(key, reading.tags)), key.span};
    return false;
  };
  DuplicateWalk<decltype(on_dup)> walk(reading, on_dup);
  walk.visit_root(node);
  return error;
}

std::optional<ComposeError> check_duplicate_keys_roots(std::span<const YamlNode> roots, KeyReading reading) {
  for (const YamlNode& root : roots)
    if (auto e = check_duplicate_keys(root, reading)) return e;
  return std::nullopt;
}

std::vector<std::string> warn_duplicate_keys(std::span<const YamlNode> roots, KeyReading reading) {
  std::vector<std::string> warnings;
  auto on_dup = [&](const YamlNode& key, std::string_view signature) {
    warnings.push_back(duplicate_key_warning(describe_key(key, reading.tags), key.span, signature == kNanSignature));
    return true;
  };
  DuplicateWalk<decltype(on_dup)> walk(reading, on_dup);
  for (const YamlNode& root : roots) walk.visit_root(root);
  return warnings;
}

}  // namespace kestrine
