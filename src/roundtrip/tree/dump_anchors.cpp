#include "roundtrip/tree/dump_anchors.hpp"

#include <charconv>
#include <string>

#include "util/stack_guard.hpp"

namespace kestrine {
namespace {

class AnchorNamer {
 public:
  explicit AnchorNamer(const SeededHashSet<std::uint64_t>& aliased) : aliased_(aliased) {}

  void walk(YamlNode& node) {
    if (node.anchor()) name_anchor(node);
    switch (node.kind()) {
      case NodeKind::Sequence:
        stack_guarded([&] {
          for (YamlNode& item : node.items()) walk(item);
        });
        return;
      case NodeKind::Mapping:
        stack_guarded([&] {
          for (NodePair& pair : node.pairs()) {
            walk(pair.key);
            walk(pair.value);
          }
        });
        return;
      case NodeKind::Alias:
        if (auto id = parse_identity(node.alias_name())) {
          if (auto it = names_.find(*id); it != names_.end()) node.text_mut() = it->second;
        }
        return;
      default:
        return;
    }
  }

 private:
  const SeededHashSet<std::uint64_t>& aliased_;
  SeededHashMap<std::uint64_t, std::string> names_;
  std::uint64_t counter_ = 0;

  void name_anchor(YamlNode& node) {
    const std::optional<std::uint64_t> id = parse_identity(*node.anchor());
    if (!id || aliased_.empty() || !aliased_.contains(*id)) {
      node.set_anchor(std::nullopt);
      return;
    }
    auto [it, fresh] = names_.try_emplace(*id);
    if (fresh) {
      ++counter_;
      std::string digits = std::to_string(counter_);
      it->second = "id";
      if (digits.size() < 3) it->second.append(3 - digits.size(), '0');
      it->second += digits;
    }
    node.set_anchor(OptText(std::string_view(it->second)));
  }
};

}  // namespace

std::optional<std::uint64_t> parse_identity(std::string_view text) noexcept {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

void assign_anchors(YamlNode& root, const SeededHashSet<std::uint64_t>& aliased) {
  AnchorNamer(aliased).walk(root);
}

}  // namespace kestrine
