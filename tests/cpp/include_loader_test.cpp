// The source-file table of an expansion, a directive's anchor written back
// with the directive, and the expansion budgets of bytes and nodes.
#include <unistd.h>

#include <algorithm>

#include "include_support.hpp"
#include "roundtrip/emit/emitter.hpp"

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
  // Written anew, the anchor stands where it was read: before or after the tag.
  for (const std::string_view text :
       {"base: &b !include x.yaml\nother: *b\n", "base: !include &b x.yaml\nother: *b\n"}) {
    IncludeContext ctx = new_include_context(tree.path("root"), {true, false, false});
    auto roots = expand_includes(ctx, text, std::nullopt);
    ASSERT_TRUE(roots) << roots.error().message;
    YamlNode& root = roots->front();
    EXPECT_EQ(root.pairs()[0].value.anchor().view(), "b");  // the file's own root anchor gives way
    root.comments.modified = true;                          // written anew, not copied
    EXPECT_EQ(emit_to_string(root, NullStyle::Default), text);
  }
}

// Without the fixed allowance the budget is exactly 64 times the text read,
// each file counted once whatever name reaches it; what expansion places
// counts every time.  A file far larger than the tags naming it is what a
// fan-out multiplies.
TEST(IncludeLoader, ExpansionBudgetCountsRepeatsAgainstWhatWasRead) {
  TempTree tree;
  const std::string big(10000, 'x');
  tree.write("root/x.yaml", big);
  tree.write("root/copy.yaml", big);
  tree.write("root/d/x.yaml", big);
  tree.write("root/secrets.yaml", "s: " + big + "\n");
  ASSERT_EQ(::link(tree.path("root/x.yaml").c_str(), tree.path("root/hard.yaml").c_str()), 0);
  tree.link("root/soft.yaml", "x.yaml");
  const auto list = [](std::size_t n, std::string_view tag, std::string_view other = {}) {
    std::string text = "[";
    for (std::size_t i = 0; i < n; ++i) text += std::string(i % 2 && !other.empty() ? other : tag) + ", ";
    return text + "0]";
  };
  const struct {
    std::string text;
    std::uint64_t files_read;   // bytes of the files read, each once
    std::uint64_t placed_each;  // what each tag places
    bool fits;
  } cases[] = {
      {list(60, "!include x.yaml"), 10000, 10000, true},
      {list(80, "!include x.yaml"), 10000, 10000, false},
      {list(80, "!include x.yaml", "!include hard.yaml"), 10000, 10000, false},  // one file by two names
      {list(80, "!include x.yaml", "!include soft.yaml"), 10000, 10000, false},
      {list(80, "!include x.yaml", "!include copy.yaml"), 20000, 10000, true},  // two files
      {list(80, "!include_dir_list d"), 10000, 10000, false},
      {list(60, "!secret s"), 10004, 10004, true},  // the value's text and its node
      {list(80, "!secret s"), 10004, 10004, false},
      {list(1, "!env_var KST_BUDGET_BIG"), 0, 10000, false},  // the environment is not text read
      {list(1, "!env_var KST_BUDGET_UNSET short"), 0, 5, true},
  };
  ::setenv("KST_BUDGET_BIG", big.c_str(), 1);
  ::unsetenv("KST_BUDGET_UNSET");
  for (const auto& c : cases) {
    IncludeContext ctx = new_include_context(tree.path("root"), {true, true, true});
    ctx.expansion_allowance = 0;
    auto roots = expand_includes(ctx, c.text, std::nullopt);
    const std::uint64_t budget = 64 * (c.text.size() + c.files_read);
    const auto tags = static_cast<std::uint64_t>(std::count(c.text.begin(), c.text.end(), '!'));
    ASSERT_EQ(tags * c.placed_each <= budget, c.fits) << c.text.substr(0, 40);  // the table itself
    ASSERT_EQ(static_cast<bool>(roots), c.fits) << c.text.substr(0, 40);
    if (!roots) {
      EXPECT_EQ(roots.error().kind, IncludeErrorKind::IncludeDepth);
      EXPECT_EQ(roots.error().message, "include expansion exceeded the maximum of " + std::to_string(budget) +
                                           " bytes (64 times the text read plus 0 MiB; a fan-out of repeated "
                                           "includes or secrets)");
    }
  }
  ::unsetenv("KST_BUDGET_BIG");
}

// Placed nodes count too: without the allowances a load may place 4 nodes
// per byte it read, so a dense file (a node per two bytes) may be placed 8
// times, where its bytes alone would let it be placed 64 times; a file of
// twenty bytes a node is held by its bytes first.
TEST(IncludeLoader, ExpansionBudgetCountsPlacedNodes) {
  TempTree tree;
  std::string dense = "[0";
  for (int i = 1; i < 5000; ++i) dense += ",0";
  dense += "]\n";
  std::string sparse = "[";
  for (int i = 0; i < 500; ++i) sparse += std::string(18, 'x') + (i < 499 ? ", " : "]\n");
  tree.write("root/dense.yaml", dense);
  tree.write("root/sparse.yaml", sparse);
  tree.write("root/d/dense.yaml", dense);
  tree.write("root/secrets.yaml", "s: " + dense);
  const auto list = [](std::size_t n, std::string_view tag) {
    std::string text = "[";
    for (std::size_t i = 0; i < n; ++i) text += std::string(tag) + ", ";
    return text + "0]";
  };
  const struct {
    std::string text;
    std::uint64_t file_bytes;  // the one file every tag places
    std::uint64_t file_nodes;  // and the nodes each tag places
    const char* fails;         // the budget that stops it, or null
  } cases[] = {
      {list(8, "!include dense.yaml"), dense.size(), 5001, nullptr},
      {list(9, "!include dense.yaml"), dense.size(), 5001, "nodes"},
      {list(9, "!include_dir_list d"), dense.size(), 5001, "nodes"},
      {list(8, "!secret s"), dense.size() + 3, 5001, nullptr},
      {list(9, "!secret s"), dense.size() + 3, 5001, "nodes"},
      {list(60, "!include sparse.yaml"), sparse.size(), 501, nullptr},
      {list(80, "!include sparse.yaml"), sparse.size(), 501, "bytes"},
  };
  for (const auto& c : cases) {
    IncludeContext ctx = new_include_context(tree.path("root"), {true, true, false});
    ctx.expansion_allowance = 0;
    ctx.expansion_node_allowance = 0;
    auto roots = expand_includes(ctx, c.text, std::nullopt);
    ASSERT_EQ(static_cast<bool>(roots), c.fails == nullptr) << c.text.substr(0, 40);
    if (roots) continue;
    const std::uint64_t read = c.text.size() + c.file_bytes;
    const auto tags = static_cast<std::uint64_t>(std::count(c.text.begin(), c.text.end(), '!'));
    const bool by_nodes = std::string_view(c.fails) == "nodes";
    ASSERT_EQ(tags * c.file_nodes > 4 * read, by_nodes) << c.text.substr(0, 40);  // the table itself
    EXPECT_EQ(roots.error().kind, IncludeErrorKind::IncludeDepth);
    EXPECT_EQ(roots.error().message,
              by_nodes ? "include expansion exceeded the maximum of " + std::to_string(4 * read) +
                             " nodes (4 per byte of the text read plus 0; a fan-out of repeated includes or secrets)"
                       : "include expansion exceeded the maximum of " + std::to_string(64 * read) +
                             " bytes (64 times the text read plus 0 MiB; a fan-out of repeated includes or secrets)");
  }
}

}  // namespace
}  // namespace kestrine
