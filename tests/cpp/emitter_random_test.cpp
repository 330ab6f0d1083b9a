// Random trees with awkward texts in every style, comments and collection
// styles: whatever the writer makes of them must read back (plain decoder)
// as the values the tree holds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "decode/decoder.hpp"
#include "decode/value.hpp"
#include "emitter_support.hpp"
#include "resolver/resolve.hpp"

namespace kestrine {
namespace {

using namespace kestrine::testing;

class TreeMaker {
 public:
  explicit TreeMaker(unsigned seed) : rng_(seed) {}

  YamlNode node(int depth) {
    const int r = pick(depth >= 3 ? 6 : 10);
    YamlNode n;
    if (r < 5) n = scalar_node();
    else if (r == 5) n = YamlNode();
    else if (r < 8) n = mapping(depth);
    else n = sequence(depth);
    decorate(n);
    return n;
  }

 private:
  std::mt19937 rng_;

  int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }

  std::string text() {
    static const std::vector<std::string> pieces = {
        "a", "b", "word", "1", "0x1F", "-", "--- ", "...", " ", "  ", ":", ": ", "#", " #",
        ",", "[", "]", "{", "}", "'", "\"", "\\", "\n", "\n\n", "\t", "?", "&x", "*y", "!",
        "|", ">", "%", "@", "`", "\xC3\xA9", "\r", "\x01", "\xC2\x85", "true", "null", "~",
        "1.5", "-3", "yes"};
    std::string t;
    const int n = pick(6);
    for (int i = 0; i < n; ++i) t += pieces[static_cast<std::size_t>(pick(static_cast<int>(pieces.size())))];
    return t;
  }

  YamlNode scalar_node() {
    static const ScalarStyle styles[] = {ScalarStyle::Plain, ScalarStyle::SingleQuoted,
                                         ScalarStyle::DoubleQuoted, ScalarStyle::Literal,
                                         ScalarStyle::Folded};
    return YamlNode::scalar(text(), styles[pick(5)]);
  }

  YamlNode key() {
    YamlNode k = scalar_node();
    // Distinct keys: the comparison below does not merge duplicates.
    k.text_mut() += "k" + std::to_string(counter_++);
    return k;
  }

  YamlNode mapping(int depth) {
    YamlNode m = YamlNode::mapping({}, pick(3) == 0 ? CollectionStyle::Flow : CollectionStyle::Block);
    const int n = pick(4);
    for (int i = 0; i < n; ++i) m.pairs_mut().push_back(NodePair{key(), node(depth + 1)});
    return m;
  }

  YamlNode sequence(int depth) {
    YamlNode s = YamlNode::sequence({}, pick(3) == 0 ? CollectionStyle::Flow : CollectionStyle::Block);
    const int n = pick(4);
    for (int i = 0; i < n; ++i) s.items_mut().push_back(node(depth + 1));
    if (!s.items().empty() && pick(2) == 0) s.comments.compact = true;
    return s;
  }

  std::string comment() { return pick(4) == 0 ? std::string() : "note " + std::to_string(pick(100)); }

  void decorate(YamlNode& n) {
    if (pick(4) == 0) n.comments.head_mut().push_back(HeadComment{comment(), pick(2) == 0});
    if (pick(4) == 0) n.comments.inline_comment_mut() = comment();
    if (pick(6) == 0) n.comments.inline_before_value = true;
    if (pick(8) == 0) n.comments.foot_mut().push_back(comment());
    if (pick(6) == 0) n.comments.blank_before = 1;
    if (pick(5) == 0) n.comments.value_pad = static_cast<std::uint32_t>(pick(4));
    n.synthetic = pick(2) == 0;
    if (pick(8) == 0) n.set_anchor(OptText("a" + std::to_string(counter_++)));
    if (pick(8) == 0) n.explicit_key = true;
  }

  int counter_ = 0;
};

// The values a tree stands for, as the plain decoder would give them.
YamlValue expected_value(const YamlNode& n, ValueArena& arena) {
  switch (n.kind()) {
    case NodeKind::Scalar: {
      const ResolvedScalar r = resolve_scalar_value(VersionMode::Yaml12, n.text(),
                                                    n.scalar_style() != ScalarStyle::Plain, std::nullopt);
      switch (r.type) {
        case ResolvedScalar::Type::Null: return YamlValue::null();
        case ResolvedScalar::Type::Bool: return YamlValue::of_bool(r.boolean);
        case ResolvedScalar::Type::Int: return YamlValue::of_int(r.integer);
        case ResolvedScalar::Type::BigInt: return arena.make_bigint(r.text);
        case ResolvedScalar::Type::Float: return YamlValue::of_float(r.real);
        case ResolvedScalar::Type::String: return arena.make_string(r.text);
      }
      return YamlValue::null();
    }
    case NodeKind::Sequence: {
      std::vector<YamlValue> items;
      for (const YamlNode& i : n.items()) items.push_back(expected_value(i, arena));
      return arena.make_sequence(items);
    }
    case NodeKind::Mapping: {
      std::vector<ValuePair> pairs;
      for (const NodePair& p : n.pairs())
        pairs.push_back(ValuePair{expected_value(p.key, arena), expected_value(p.value, arena)});
      return arena.make_mapping(pairs);
    }
    default:
      return YamlValue::null();
  }
}

// SEED and ROUNDS in the environment pick another sequence of trees.
TEST(EmitterRandom, EveryRenderedTreeReadsBackAsItsValues) {
  TreeMaker maker(std::getenv("SEED") ? std::atoi(std::getenv("SEED")) : 20261207);
  const int rounds = std::getenv("ROUNDS") ? std::atoi(std::getenv("ROUNDS")) : 3000;
  int checked = 0;
  for (int round = 0; round < rounds; ++round) {
    YamlNode root = maker.node(0);
    for (NullStyle style : {NullStyle::Default, NullStyle::Tilde}) {
      const std::string out = emit_to_string(root, style);
      ValueArena arena;
      const std::string want = debug_render_value(expected_value(root, arena)) + "\n";
      const std::string got = decoded(out);
      ASSERT_EQ(got, want) << "round " << round << ", rendered:\n" << out;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 2 * rounds);
}

}  // namespace
}  // namespace kestrine
