#include "roundtrip/tree/duplicates.hpp"

#include "decode/duplicate_keys.hpp"
#include "decode/value.hpp"
#include "resolver/resolve.hpp"
#include "resolver/timestamp.hpp"
#include "roundtrip/tree/tree_ops.hpp"
#include "util/hash_map.hpp"
#include "util/stack_guard.hpp"

namespace kestrine {

namespace {

// The merge key's signature (the resolved string "<<"), and a NaN key's.
constexpr std::string_view kMergeSignature = "s:2:<<";
constexpr std::string_view kNanSignature = "f:NaN";

void append_len(std::string& out, std::size_t n) { out += std::to_string(n); }

void sign_scalar(std::string& out, const YamlNode& key, KeyReading reading) {
  const std::string& text = key.text();
  const bool non_plain = key.scalar_style() != ScalarStyle::Plain;
  const std::optional<std::string_view> tag = key.expanded_tag();
  ValueArena arena;  // allocates only for timestamps and texts beyond 4 GiB
  if (reading.timestamps && !tag && !non_plain) {
    if (const auto ts = parse_timestamp(text)) {
      write_key_signature(out, arena.make_timestamp(*ts));
      return;
    }
  }
  ResolvedScalar r = resolve_scalar_value(reading.mode, text, non_plain, tag);
  YamlValue v;
  switch (r.type) {
    case ResolvedScalar::Type::Null: v = YamlValue::null(); break;
    case ResolvedScalar::Type::Bool: v = YamlValue::of_bool(r.boolean); break;
    case ResolvedScalar::Type::Int: v = YamlValue::of_int(r.integer); break;
    case ResolvedScalar::Type::BigInt: v = arena.make_bigint_ref(r.text); break;
    case ResolvedScalar::Type::Float: v = YamlValue::of_float(r.real); break;
    case ResolvedScalar::Type::String: v = arena.make_string_ref(r.text); break;
  }
  write_key_signature(out, v);
}

void sign_rec(std::string& out, const YamlNode& key, KeyReading reading) {
  switch (key.kind()) {
    case NodeKind::Scalar:
      sign_scalar(out, key, reading);
      return;
    case NodeKind::Null:
      out += "null";
      return;
    case NodeKind::Alias:
      out += "alias:";
      append_len(out, key.text().size());
      out.push_back(':');
      out += key.text();
      return;
    case NodeKind::Sequence:
      stack_guarded([&] {
        out += "seq:[";
        bool first = true;
        for (const YamlNode& item : key.items()) {
          if (!first) out.push_back(',');
          first = false;
          sign_rec(out, item, reading);
        }
        out.push_back(']');
      });
      return;
    case NodeKind::Mapping:
      stack_guarded([&] {
        out += "map:{";
        bool first = true;
        for (const NodePair& p : key.pairs()) {
          if (!first) out.push_back(',');
          first = false;
          sign_rec(out, p.key, reading);
          out.push_back('=');
          sign_rec(out, p.value, reading);
        }
        out.push_back('}');
      });
      return;
  }
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
  bool visit(const YamlNode& node) {
    if (!node.is_collection() || node.size() == 0) return true;
    // The keys of a secret value would be quoted in the message.
    if (is_secret_node(node)) return true;
    return stack_guarded([&] { return visit_body(node); });
  }

 private:
  KeyReading reading_;
  OnDuplicate& on_dup_;
  std::string sig_;

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
      sig_.clear();
      sign_rec(sig_, p.key, reading_);
      if (sig_ != kMergeSignature && !seen.insert(sig_).second) {
        if (!on_dup_(p.key, sig_)) return false;
      }
      if (!visit(p.key) || !visit(p.value)) return false;
    }
    return true;
  }
};

}  // namespace

std::string describe_key(const YamlNode& key) {
  if (key.is_scalar()) return key.text();
  std::string out;
  describe_rec(out, key, true);
  if (out.size() > kDescribeLimit) {
    out.resize(kDescribeLimit);
    out += "...";
  }
  return out;
}

std::optional<ComposeError> check_duplicate_keys(const YamlNode& node, KeyReading reading) {
  std::optional<ComposeError> error;
  auto on_dup = [&](const YamlNode& key, std::string_view) {
    error = ComposeError{"duplicate mapping key: " + describe_key(key), key.span};
    return false;
  };
  DuplicateWalk<decltype(on_dup)> walk(reading, on_dup);
  walk.visit(node);
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
    warnings.push_back(duplicate_key_warning(describe_key(key), key.span, signature == kNanSignature));
    return true;
  };
  DuplicateWalk<decltype(on_dup)> walk(reading, on_dup);
  for (const YamlNode& root : roots) walk.visit(root);
  return warnings;
}

}  // namespace kestrine
