// Path resolution over a round-trip document's trees: which node each step
// reaches, duplicates, key nodes, and what a step never reaches.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/document.hpp"
#include "roundtrip_test_util.hpp"

namespace kestrine {
namespace {

using testing::document_of;

TEST(RoundtripDocument, PathResolution) {
  DocumentRecord rec = document_of("a: first\na: second\n1: plain\n'1': quoted\n[k]: hidden\nlist: [x, y]\n");
  auto at = [&](std::vector<PathSegment> path) -> std::string {
    const YamlNode* n = resolve_path(rec, 0, path);
    return n == nullptr ? "<none>" : n->is_scalar() ? n->text() : std::string(node_kind_name(n->kind()));
  };
  EXPECT_EQ(at({}), "mapping");
  EXPECT_EQ(at({PathSegment::of_key("a")}), "second");  // the last duplicate wins
  EXPECT_EQ(at({PathSegment::of_key("1")}), "quoted");  // same text, last pair
  EXPECT_EQ(at({PathSegment::of_key_node("1")}), "1");
  EXPECT_EQ(resolve_path(rec, 0, std::vector{PathSegment::of_key_node("1")})->scalar_style(),
            ScalarStyle::SingleQuoted);
  EXPECT_EQ(at({PathSegment::of_key("[k]")}), "<none>");  // non-scalar keys are never reached
  EXPECT_EQ(at({PathSegment::of_index(0)}), "<none>");    // Index on a mapping
  EXPECT_EQ(at({PathSegment::of_key("list"), PathSegment::of_index(1)}), "y");
  EXPECT_EQ(at({PathSegment::of_key("list"), PathSegment::of_index(2)}), "<none>");
  EXPECT_EQ(at({PathSegment::of_key("list"), PathSegment::of_key("0")}), "<none>");  // Key on a sequence
  EXPECT_EQ(at({PathSegment::of_key("a"), PathSegment::of_key("x")}), "<none>");    // below a scalar
  EXPECT_EQ(resolve_path(rec, 1, std::vector<PathSegment>{}), nullptr);              // no second root

  // Aliases are not followed by a path step.
  DocumentRecord aliased = document_of("a: &m {k: v}\nb: *m\n");
  EXPECT_EQ(resolve_path(aliased, 0, std::vector{PathSegment::of_key("b"), PathSegment::of_key("k")}), nullptr);
  EXPECT_NE(resolve_path(aliased, 0, std::vector{PathSegment::of_key("a"), PathSegment::of_key("k")}), nullptr);
}

}  // namespace
}  // namespace kestrine
