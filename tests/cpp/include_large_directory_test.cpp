// A large directory whose files include others: the source-file table in
// listing order with each included file right after the file that includes
// it, the file number of every value, and the first error in listing order
// (the same error as the failing file's directory alone gives).
#include <cstdio>
#include <tuple>

#include "include_support.hpp"

namespace kestrine {
namespace {

using testing::TempTree;

std::string body(int file) {
  std::string text;
  for (int line = 0; line < 400; ++line) {
    const std::string f = std::to_string(file), l = std::to_string(line);
    text += "k" + f + "_" + l + ": value " + l + " of file " + f + "\n";
  }
  return text;
}

std::string name(int file) {
  char text[32];
  std::snprintf(text, sizeof text, "d/f%02d.yaml", file);
  return text;
}

TEST(IncludeLargeDirectory, SourcesNumbersAndFirstErrorInListingOrder) {
  TempTree tree;
  std::vector<std::string> names{tree.path("<root>")};
  for (int i = 0; i < 60; ++i) {
    const bool includes = i == 10 || i == 40;
    tree.write(name(i), (includes ? "inc" + std::to_string(i) + ": !include ../extra.yaml\n" : "") + body(i));
    names.push_back(tree.path(name(i)));
    if (includes) names.push_back(tree.path("extra.yaml"));
  }
  tree.write("extra.yaml", "x: 1\n");
  for (const char* tag : {"!include_dir_merge_named", "!include_dir_list"}) {
    testing::Expansion e = testing::expand(tree.path(""), std::string("all: ") + tag + " d\n");
    ASSERT_TRUE(e.roots) << e.roots.error().message;
    EXPECT_EQ(e.sources.names, names);
    std::vector<const NodePair*> pairs;
    for (const NodePair& pair : e.roots->front().pairs().front().value.pairs()) pairs.push_back(&pair);
    for (const YamlNode& item : e.roots->front().pairs().front().value.items()) {
      for (const NodePair& pair : item.pairs()) pairs.push_back(&pair);
    }
    ASSERT_EQ(pairs.size(), 60u * 400 + 2);
    for (const NodePair* pair : pairs) {
      const std::string& key = pair->key.text();
      const int file = std::stoi(key.starts_with("inc") ? key.substr(3) : key.substr(1, key.find('_') - 1));
      ASSERT_EQ(e.sources.names[pair->key.span.file_id], tree.path(name(file))) << tag << " " << key;
    }
  }

  tree.write(name(33), body(33) + "bad: [\n");
  tree.write("one/f33.yaml", body(33) + "bad: [\n");
  tree.write(name(50), "\xff: 1\n");
  const testing::Expansion many = testing::expand(tree.path(""), "all: !include_dir_merge_named d\n");
  const testing::Expansion one = testing::expand(tree.path(""), "all: !include_dir_merge_named one\n");
  ASSERT_FALSE(many.roots);
  ASSERT_FALSE(one.roots);
  const LoadError& error = many.roots.error();
  EXPECT_EQ(error.file, tree.path(name(33)));
  EXPECT_EQ(error.kind, one.roots.error().kind);
  EXPECT_EQ(error.message, one.roots.error().message);
  ASSERT_TRUE(error.span && one.roots.error().span);
  EXPECT_EQ(error.span->line, 401u);
  EXPECT_EQ(std::tie(error.span->line, error.span->column, error.span->offset),
            std::tie(one.roots.error().span->line, one.roots.error().span->column, one.roots.error().span->offset));
  tree.write(name(33), body(33));
  const testing::Expansion unreadable = testing::expand(tree.path(""), "all: !include_dir_merge_named d\n");
  ASSERT_FALSE(unreadable.roots);
  EXPECT_EQ(unreadable.roots.error().kind, IncludeErrorKind::IncludeNotFound);
  EXPECT_EQ(unreadable.roots.error().file, tree.path(name(50)));
}

}  // namespace
}  // namespace kestrine
