// The YAML 1.1 upgrade and difference warnings on round-trip trees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emitter_support.hpp"
#include "roundtrip/document/upgrade.hpp"

namespace kestrine {
namespace {

using namespace kestrine::testing;

// The value texts of a mapping after upgrading it under `mode`, and which
// of them were marked modified ("*").
std::string upgraded(std::string_view text, VersionMode mode, bool prefer_double_quotes = true) {
  std::vector<YamlNode> roots = compose_roots(text);
  if (roots.empty()) return "<none>";
  upgrade_yaml11_scalars(roots[0], mode, prefer_double_quotes);
  std::string out;
  auto show = [&](const YamlNode& n) {
    const char quote = !n.is_scalar()                                    ? 0
                       : n.scalar_style() == ScalarStyle::SingleQuoted ? '\''
                       : n.scalar_style() == ScalarStyle::DoubleQuoted ? '"'
                                                                         : 0;
    if (quote) out += quote;
    out += n.is_scalar() ? n.text() : "<" + std::string(node_kind_name(n.kind())) + ">";
    if (quote) out += quote;
    if (n.comments.modified) out += "*";
  };
  for (const NodePair& p : roots[0].pairs()) {
    show(p.key);
    out += "=";
    show(p.value);
    out += " ";
  }
  for (const YamlNode& i : roots[0].items()) {
    show(i);
    out += " ";
  }
  return out;
}

TEST(EmitterUpgrade, BooleansAndNumbersGetTheirYaml12Spelling) {
  EXPECT_EQ(upgraded("- yes\n- On\n- off\n- y\n", VersionMode::Yaml11),
            "true* true* false* true* ");
  EXPECT_EQ(upgraded("- yes\n- y\n", VersionMode::PyyamlCompat), "true* y ");
  EXPECT_EQ(upgraded("- 0777\n- 1_000\n- 1:30\n- 0b101\n- '0777'\n- \"yes\"\n- !!str on\n",
                     VersionMode::Yaml11),
            "511* 1000* 90* 5* '0777' \"yes\" on ");
  // A string under 1.1 that 1.2 would read as something else is quoted;
  // other strings, and tagged scalars, are left alone.
  EXPECT_EQ(upgraded("- 0o17\n- ~\n- null\n- 12\n- 1.5\n- text\n- !!str 0o7\n- !x 0o7\n", VersionMode::Yaml11),
            "\"0o17\"* ~ null 12 1.5 text 0o7 0o7 ");
  EXPECT_EQ(upgraded("- 0o17\n", VersionMode::Yaml11, false), "'0o17'* ");
  EXPECT_EQ(upgraded("1e5: 0x1F\n", VersionMode::PyyamlCompat, false), "'1e5'*=0x1F ");
  // NaN never equals itself, so it is always respelled.
  EXPECT_EQ(upgraded("- .nan\n- .NaN\n", VersionMode::Yaml11), ".nan* .nan* ");
  // Keys are rewritten like values.
  EXPECT_EQ(upgraded("yes: no\n", VersionMode::Yaml11), "true*=false* ");
  // Under YAML 1.2 nothing changes.
  EXPECT_EQ(upgraded("- yes\n- 0777\n- 1_000\n", VersionMode::Yaml12), "yes 0777 1_000 ");
}

TEST(EmitterUpgrade, BigIntegersAreWrittenCanonically) {
  EXPECT_EQ(upgraded("- +1_000_000_000_000_000_000_000\n- 0x1_0000_0000_0000_0000\n",
                     VersionMode::Yaml11),
            "1000000000000000000000* 18446744073709551616* ");
  // Read alike under both versions: untouched.
  EXPECT_EQ(upgraded("- 123456789012345678901234\n", VersionMode::Yaml11),
            "123456789012345678901234 ");
  // The new spelling reads back under YAML 1.2 as the same number.
  EXPECT_EQ(yaml12_spelling("+1_0000_0000_0000_0000_0000", std::nullopt, VersionMode::Yaml11),
            "100000000000000000000");
  EXPECT_EQ(yaml12_spelling("100000000000000000000", std::nullopt, VersionMode::Yaml11), std::nullopt);
}

TEST(EmitterUpgrade, TagsStyleAndCommentsStay) {
  std::vector<YamlNode> roots = compose_roots("a: !!int 0777  # octal\nb: &x yes\n");
  upgrade_yaml11_scalars(roots[0], VersionMode::Yaml11);
  const YamlNode& a = roots[0].pairs()[0].value;
  EXPECT_EQ(a.text(), "511");
  EXPECT_EQ(*a.tag(), "!!int");
  EXPECT_EQ(*a.comments.inline_comment(), "octal");
  EXPECT_EQ(render_document(roots, std::nullopt, false, NullStyle::Default),
            "a: !!int 511  # octal\nb: &x true\n");
}

TEST(EmitterUpgrade, WarningsNameTheTextTheTypesAndThePosition) {
  std::vector<YamlNode> roots = compose_roots("a: 1\nb: 2\nc: yes\nd: 'no'\n0o17: x\n");
  std::vector<std::string> w = collect_version_warnings(roots, VersionMode::Yaml11);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 3, column 4");
  roots = compose_roots("yes: 1\n");
  w.clear();
  warn_version_differences(roots[0], VersionMode::PyyamlCompat, w);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 1");
  EXPECT_TRUE(collect_version_warnings(roots, VersionMode::Yaml12).empty());
}

TEST(EmitterUpgrade, DeepTreesAreWalkedOnFreshStackSegments) {
  constexpr int kDepth = 200000;
  YamlNode root = scalar("yes");
  for (int i = 0; i < kDepth; ++i) {
    YamlNode s = seq_of({});
    s.items_mut().push_back(std::move(root));
    root = std::move(s);
  }
  std::vector<std::string> w;
  warn_version_differences(root, VersionMode::Yaml11, w);
  EXPECT_EQ(w.size(), 1u);
  upgrade_yaml11_scalars(root, VersionMode::Yaml11);
  const YamlNode* leaf = &root;
  while (leaf->is_sequence()) leaf = &leaf->items()[0];
  EXPECT_EQ(leaf->text(), "true");
}

}  // namespace
}  // namespace kestrine
