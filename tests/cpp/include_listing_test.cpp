// Which files a directory directive loads, and in what order.
#include <string>
#include <vector>

#include "include/listing.hpp"
#include "include_support.hpp"

namespace kestrine {
namespace {

using testing::TempTree;

struct Listing {
  std::vector<std::string> entries;  // "key=path below the root", or "error: message"
};

Listing list(const TempTree& tree, std::string_view dir, bool recursive, bool secrets = false) {
  IncludeContext ctx = new_include_context(tree.path("root"), {true, secrets, false});
  ctx.include_dir_recursive = recursive;
  Listing out;
  const std::string path = tree.path(std::string("root/") + std::string(dir));
  auto fd = open_beneath(ctx.root, path, OpenAs::Directory);
  if (!fd) {
    out.entries.push_back("error: " + fd.error().text());
    return out;
  }
  auto listed = list_include_dir(ctx, path, std::move(*fd), 0, {});
  if (!listed) {
    out.entries.push_back("error: " + listed.error().message);
    return out;
  }
  const std::size_t prefix = ctx.root.canonical().size() + 1;
  for (const IncludeDirEntry& e : *listed) out.entries.push_back(e.key + "=" + e.path.substr(prefix));
  return out;
}

TEST(IncludeListing, OrderFilterAndRecursion) {
  TempTree tree;
  for (const char* name : {"b.yaml", "a.yml", "A.yaml", "a.yaml", "notes.txt", "config.YAML", "archive.yaml.bak",
                           ".hidden.yaml", "settings.prod.yaml", "secrets.yaml", "zz.yaml", "sub/z.yaml",
                           "data.yaml/inner.yaml", ".hid/x.yaml", "sub/deeper/y.yaml"}) {
    tree.write(std::string("root/d/") + name, "x\n");
  }
  tree.link("root/d/sub/loop", "..");  // back to an ancestor: read once
  tree.link("root/d/alias.yaml", "b.yaml");
  const std::vector<std::string> flat = {"A=d/A.yaml",         "a=d/a.yaml",
                                         "a=d/a.yml",          "alias=d/b.yaml",
                                         "b=d/b.yaml",         "secrets=d/secrets.yaml",
                                         "settings.prod=d/settings.prod.yaml", "zz=d/zz.yaml"};
  EXPECT_EQ(list(tree, "d", false).entries, flat);

  std::vector<std::string> deep = flat;
  deep.erase(deep.begin() + 5);  // secrets.yaml, left out under OPT_SECRETS
  for (const char* e : {"inner=d/data.yaml/inner.yaml", "z=d/sub/z.yaml", "y=d/sub/deeper/y.yaml"}) deep.push_back(e);
  EXPECT_EQ(list(tree, "d", true, /*secrets=*/true).entries, deep);
}

TEST(IncludeListing, LinksLeadingOutFailTheListing) {
  TempTree tree;
  tree.write("outside/o.yaml", "x\n");
  tree.write("root/d/a.yaml", "x\n");
  tree.link("root/d/out", "../../outside");
  // Not descended into without recursion; refused with it.
  EXPECT_EQ(list(tree, "d", false).entries, std::vector<std::string>{"a=d/a.yaml"});
  const auto recursive = list(tree, "d", true).entries;
  ASSERT_EQ(recursive.size(), 1u);
  EXPECT_TRUE(recursive[0].ends_with("/root/d/out' resolves outside the configured include directory"))
      << recursive[0];

  tree.link("root/e/leak.yaml", "../../outside/o.yaml");
  EXPECT_TRUE(list(tree, "e", false).entries[0].ends_with("leak.yaml' resolves outside the configured include directory"));
  tree.link("root/f/dangling.yaml", "gone.yaml");
  EXPECT_TRUE(list(tree, "f", false).entries[0].ends_with("dangling.yaml': not found"));
}

// Names are bytes: compared unsigned, shown with U+FFFD for invalid UTF-8.
TEST(IncludeListing, NamesAreBytes) {
  EXPECT_TRUE(compare_dir_entries("a", "ab"));
  EXPECT_TRUE(compare_dir_entries("Z", "a"));
  EXPECT_TRUE(compare_dir_entries("z", "\xc3\xa9"));
  EXPECT_FALSE(compare_dir_entries("a", "a"));
  TempTree tree;
  tree.write("root/u/caf\xff.yaml", "x\n");
  EXPECT_EQ(list(tree, "u", false).entries, std::vector<std::string>{"caf\xef\xbf\xbd=u/caf\xff.yaml"});
}

}  // namespace
}  // namespace kestrine
