// The source-file table of an expansion, and a directive's anchor written
// back with the directive.
#include "include_support.hpp"
#include "roundtrip/emitter.hpp"

namespace kestrine {
namespace {

using testing::TempTree;

TEST(IncludeLoader, SourceTableNamesEveryRead) {
  TempTree tree;
  tree.write("root/x.yaml", "1\n");
  const std::string root = tree.path("root");
  const std::string x = tree.path("root/x.yaml");
  const struct {
    std::string root_dir;
    std::optional<std::string> root_path;
    std::vector<std::string> names;
  } cases[] = {
      {root, std::nullopt, {root + "/<root>", x, x}},  // included twice: two entries
      {root + "/", std::nullopt, {root + "/<root>", x, x}},
      {root, root + "/main.yaml", {root + "/main.yaml", x, x}},
  };
  for (const auto& c : cases) {
    IncludeContext ctx = new_include_context(c.root_dir, {true, false, false});
    auto roots = expand_includes(ctx, "[!include x.yaml, !include x.yaml]\n", c.root_path);
    ASSERT_TRUE(roots) << roots.error().message;
    const SourceTable table = into_source_table(std::move(ctx));
    EXPECT_EQ(table.names, c.names);
    EXPECT_EQ(table.texts.back(), "1\n");
  }
  IncludeContext dot = new_include_context(".", {false, false, true});
  ASSERT_TRUE(expand_includes(dot, "", std::nullopt));
  EXPECT_EQ(into_source_table(std::move(dot)).names, std::vector<std::string>{"./<root>"});
}

TEST(IncludeLoader, DirectiveAnchorIsWrittenWithTheDirective) {
  TempTree tree;
  tree.write("root/x.yaml", "&own {a: 1}\n");
  IncludeContext ctx = new_include_context(tree.path("root"), {true, false, false});
  auto roots = expand_includes(ctx, "base: &b !include x.yaml\nother: *b\n", std::nullopt);
  ASSERT_TRUE(roots) << roots.error().message;
  YamlNode& root = roots->front();
  EXPECT_EQ(root.pairs()[0].value.anchor().view(), "b");  // the file's own root anchor gives way
  root.comments.modified = true;                          // written anew, not copied
  EXPECT_EQ(emit_to_string(root, NullStyle::Default), "base: !include &b x.yaml\nother: *b\n");
}

}  // namespace
}  // namespace kestrine
