#include "roundtrip/anchors.hpp"

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
    walk(root);
    return std::move(error_);
  }

 private:
  struct Anchor {
    const YamlNode* node;
    std::uint64_t count;  // nodes, aliases counted as copies of their targets
  };

  static std::uint64_t sat_add(std::uint64_t a, std::uint64_t b) noexcept {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
  }

  // The node count of `node` as if every alias in it were a copy; records
  // the bindings and, once the node is complete, its anchor.
  std::uint64_t walk(const YamlNode& node) {
    return stack_guarded([&]() -> std::uint64_t {
      if (error_) return 0;
      std::uint64_t count = 1;
      if (node.is_alias()) {
        auto it = anchors_.find(std::string_view(node.text()));
        if (it == anchors_.end()) return 1;
        out_.targets_.emplace(&node, it->second.node);
        charged_ = sat_add(charged_, it->second.count);
        if (charged_ > budget_) error_ = ComposeError{std::string(kAliasBombMessage), node.span};
        return it->second.count;
      }
      for (const YamlNode& item : node.items()) count = sat_add(count, walk(item));
      for (const NodePair& pair : node.pairs()) {
        count = sat_add(count, walk(pair.key));
        count = sat_add(count, walk(pair.value));
      }
      if (node.anchor()) anchors_.insert_or_assign(std::string_view(*node.anchor()), Anchor{&node, count});
      return count;
    });
  }

  AnchorBindings& out_;
  SeededHashMap<std::string_view, Anchor> anchors_;
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

// ---- merge keys -------------------------------------------------------------------------

bool is_merge_key_node(const YamlNode& key) noexcept {
  if (const auto tag = key.tag().view()) return *tag == "!!merge" || *tag == kMergeTag;
  return key.is_scalar() && key.scalar_style() == ScalarStyle::Plain && key.text() == "<<";
}

bool has_merge_key(std::span<const NodePair> pairs) noexcept {
  for (const NodePair& p : pairs)
    if (is_merge_key_node(p.key)) return true;
  return false;
}

bool is_ordinary_merge_text_key(const YamlNode& key) noexcept {
  return key.is_scalar() && key.text() == "<<" && !is_merge_key_node(key);
}

}  // namespace kestrine
