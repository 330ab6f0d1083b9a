// What Python cannot reach of the located and round-trip roads: plain
// values from composed trees (the located road without annotations, taken
// with include options) against the plain decoder on the YAML test suite,
// the per-document text slices of loads_all, and the flags a round-trip
// document keeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/decoder.hpp"
#include "ffi/convert/annotate.hpp"
#include "ffi/convert/decode.hpp"
#include "ffi/convert/node_bridge.hpp"
#include "ffi/loads_located_and_round_trip.hpp"
#include "ffi_support.hpp"
#include "roundtrip/compose/composer.hpp"
#include "util/options.hpp"
#include "yaml_suite.hpp"

namespace kestrine {
namespace {

using testing::read_file;
using testing::suite_cases;
using testing::SuiteCase;
using testing::repr;

std::string plain_road_repr(const YamlValue& document) {
  auto obj = document_to_py(document, TagHandlers{});
  if (!obj) return "<error " + obj.error().message() + ">";
  return repr(obj->get());
}

std::string located_repr(YamlNode& root, VersionMode mode) {  // the conversion spends the tree
  auto bindings = bind_anchors(root);
  if (!bindings) return "<error " + bindings.error().message + ">";
  auto obj = tree_to_py(root, mode, TagHandlers{}, *bindings);
  if (!obj) return "<error " + obj.error().message() + ">";
  return repr(obj->get());
}

TEST(LoadsRoads, LocatedPlainValuesEqualPlainRoadValuesOnTheSuite) {
  const auto cases = suite_cases();
  if (cases.empty()) GTEST_SKIP() << "yaml-test-suite not present";
  std::size_t compared = 0;
  for (const SuiteCase& c : cases) {
    const std::string& id = c.id;
    const std::string text = read_file(c.in_yaml());
    for (VersionMode mode : {VersionMode::Yaml12, VersionMode::Yaml11}) {
      DecodeOptions options;
      options.version_mode = mode;
      auto decoded = decode_stream(text, options);
      if (!decoded) continue;  // the located road's plain pass refuses it too
      auto composed = parse_roundtrip_multi(text);
      ASSERT_TRUE(composed) << id << ": " << composed.error().message;
      ASSERT_EQ(composed->roots.size(), decoded->documents.size()) << id;
      for (std::size_t i = 0; i < composed->roots.size(); ++i) {
        EXPECT_EQ(located_repr(composed->roots[i], mode), plain_road_repr(decoded->documents[i]))
            << id << " document " << i;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 400u);
}

TEST(LoadsRoads, DocumentSlicesCoverTheText) {
  const std::string_view text = "a: 1\n---\nb: 2\n%YAML 1.2\n---\nc\n";
  const std::vector<std::size_t> starts = {0, 5, 14};
  EXPECT_EQ(document_slices(text, starts),
            (std::vector<std::string_view>{"a: 1\n", "---\nb: 2\n", "%YAML 1.2\n---\nc\n"}));
  // The first document always starts the text; starts past the end or going
  // backwards never lose or repeat text.
  const std::vector<std::size_t> odd = {3, 2, 99};
  const auto slices = document_slices(text, odd);
  ASSERT_EQ(slices.size(), 3u);
  EXPECT_EQ(std::string(slices[0]) + std::string(slices[1]) + std::string(slices[2]), text);
  EXPECT_EQ(slices[0], "a:");
  EXPECT_TRUE(document_slices(text, {}).empty());
}

TEST(LoadsRoads, DocumentFlagsFollowTheOptions) {
  const auto flags_of = [](Options option, VersionMode mode) {
    return document_flags(derive_load_settings(option, std::nullopt), mode);
  };
  DocumentFlags f = flags_of(0, VersionMode::Yaml12);
  EXPECT_TRUE(f.prefer_double_quotes);
  EXPECT_FALSE(f.upgrade_1_1);
  EXPECT_FALSE(f.timestamps);
  EXPECT_EQ(f.null_style, NullStyle::Default);
  EXPECT_EQ(f.version_mode, VersionMode::Yaml12);

  f = flags_of(OPT_SINGLE_QUOTES | OPT_NULL_AS_TILDE | OPT_TIMESTAMPS, VersionMode::Yaml11);
  EXPECT_FALSE(f.prefer_double_quotes);
  EXPECT_TRUE(f.timestamps);
  EXPECT_EQ(f.null_style, NullStyle::Tilde);
  EXPECT_EQ(f.version_mode, VersionMode::Yaml11);

  // The upgrade has rewritten the YAML 1.1 forms: the document is YAML 1.2.
  f = flags_of(OPT_UPGRADE_1_1 | OPT_NULL_AS_KEYWORD, VersionMode::Yaml11);
  EXPECT_TRUE(f.upgrade_1_1);
  EXPECT_EQ(f.version_mode, VersionMode::Yaml12);
  EXPECT_EQ(f.null_style, NullStyle::Keyword);
  EXPECT_TRUE(flags_of(OPT_PYYAML_COMPAT, VersionMode::PyyamlCompat).timestamps);
}

}  // namespace
}  // namespace kestrine
