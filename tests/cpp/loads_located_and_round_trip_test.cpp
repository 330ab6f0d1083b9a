// What Python cannot reach of the located road: plain values from composed
// trees (the located road without annotations, taken with include options)
// against the plain decoder on the YAML test suite.
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

}  // namespace
}  // namespace kestrine
