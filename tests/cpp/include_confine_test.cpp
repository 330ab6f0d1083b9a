// The include root as a wall: every way of naming a file outside it fails,
// whichever way the files are opened (openat2 or the component walk), and a
// file swapped for a link between the check and the read is never read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "include/confine.hpp"
#include "include/paths.hpp"
#include "include_support.hpp"

namespace kestrine {
namespace {

using testing::Expansion;
using testing::TempTree;
using testing::expand;
using testing::first_value;

TEST(IncludePaths, LexicalForms) {
  const struct {
    const char* in;
    const char* normalized;
  } cases[] = {{"/a/b/../c/./d", "/a/c/d"}, {"/..", "/"}, {"a/../../b", "b"}, {"", ""}, {"./a", "a"},
               {"a/", "a"},                 {"/../x", "/x"}, {"//a//b/", "/a/b"}, {"..", ""}};
  for (const auto& c : cases) EXPECT_EQ(normalize_path(c.in), c.normalized) << c.in;

  EXPECT_TRUE(path_within("/srv/app/x", "/srv/app"));
  EXPECT_TRUE(path_within("/srv/app", "/srv/app"));
  EXPECT_TRUE(path_within("/x", "/"));
  EXPECT_FALSE(path_within("/srv/apple", "/srv/app"));
  EXPECT_FALSE(path_within("/srv/app/x", ""));  // an empty root contains nothing

  EXPECT_EQ(join_path(".", "<root>"), "./<root>");
  EXPECT_EQ(join_path("d/", "x"), "d/x");
  EXPECT_EQ(join_path("", "x"), "x");
  EXPECT_EQ(join_path("d", "/abs"), "/abs");
  EXPECT_EQ(parent_path("a/b.yaml"), "a");
  EXPECT_EQ(parent_path("b.yaml"), "");
  EXPECT_EQ(parent_path("/b.yaml"), "/");
  EXPECT_EQ(parent_path("/"), std::nullopt);

  const struct {
    const char* path;
    const char* base;
    const char* relative;
  } relatives[] = {{"/r/sub/dd", "/r", "sub/dd"}, {"/r/dd", "/r/sub", "../dd"}, {"/r", "/r", "."},
                   {"/a/b", "/", "a/b"},          {"/", "/a/b", "../.."},        {"/r/ab", "/r/a", "../ab"}};
  for (const auto& c : relatives) EXPECT_EQ(relative_path(c.path, c.base), c.relative) << c.path << " from " << c.base;
}

// A tree with a root and a sibling directory outside it.
class Confinement : public ::testing::TestWithParam<BeneathMode> {
 protected:
  void SetUp() override {
    set_beneath_mode(GetParam());
    tree_.write("outside/secret.yaml", "OUTSIDE\n");
    tree_.write("root/inside.yaml", "inside\n");
    tree_.write("root/sub/deep.yaml", "deep\n");
    tree_.mkdir("root/adir");
    tree_.link("root/file_link.yaml", "../outside/secret.yaml");
    tree_.link("root/dir_link", "../outside");
    tree_.link("root/sub/up", "../..");
    tree_.link("root/inner_link.yaml", "inside.yaml");
    tree_.link("root/dangling.yaml", "nowhere.yaml");
    tree_.link("root/null_link.yaml", "/dev/null");
    ASSERT_EQ(::mkfifo(tree_.path("root/fifo.yaml").c_str(), 0600), 0);
  }
  void TearDown() override { set_beneath_mode(BeneathMode::Auto); }

  std::string root() const { return tree_.path("root"); }

  TempTree tree_;
};

TEST_P(Confinement, EveryWayOutIsRefused) {
  const std::string outside = tree_.path("outside/secret.yaml");
  const std::string inside = tree_.path("root/inside.yaml");
  const struct {
    std::string argument;
    std::string expected;  // the value read, or the error message
  } cases[] = {
      {"../outside/secret.yaml", "error: '../outside/secret.yaml' resolves outside the configured include directory"},
      {"../outside/missing.yaml", "error: '../outside/missing.yaml' resolves outside the configured include directory"},
      {outside, "error: '" + outside + "' resolves outside the configured include directory"},
      {"file_link.yaml", "error: 'file_link.yaml' resolves outside the configured include directory"},
      {"dir_link/secret.yaml", "error: 'dir_link/secret.yaml' resolves outside the configured include directory"},
      {"sub/up/outside/secret.yaml",
       "error: 'sub/up/outside/secret.yaml' resolves outside the configured include directory"},
      {"null_link.yaml", "error: 'null_link.yaml' resolves outside the configured include directory"},
      {"dangling.yaml", "error: cannot read included file 'dangling.yaml': not found"},
      {"fifo.yaml", "error: cannot read included file 'fifo.yaml': not a regular file"},
      {"adir", "error: cannot read included file 'adir': Is a directory"},
      {"missing.yaml", "error: cannot read included file 'missing.yaml': No such file or directory"},
      {"\"inside.yaml\\0../../outside/secret.yaml\"",
       std::string("error: cannot read included file 'inside.yaml") + '\0' +
           "../../outside/secret.yaml': file name contained an unexpected NUL byte"},
      {inside, "inside"},
      {"inner_link.yaml", "inside"},
      {"sub/../inside.yaml", "inside"},
      {"sub/deep.yaml", "deep"},
  };
  for (const auto& c : cases) {
    const Expansion e = expand(root(), "v: !include " + c.argument + "\n");
    EXPECT_EQ(first_value(e), c.expected) << c.argument;
  }
}

TEST_P(Confinement, UnusableRootContainsNothing) {
  const std::string inside = tree_.path("root/inside.yaml");
  const std::string text = "v: !include " + inside + "\n";
  for (const std::string& dir : {std::string(), std::string("missing/.."), root() + std::string("\0x", 2)}) {
    const Expansion e = expand(dir, text);
    ASSERT_FALSE(e.roots);
    EXPECT_EQ(e.roots.error().kind, IncludeErrorKind::IncludeConfinement) << dir;
  }
  // A deleted working directory cannot be canonicalised either.
  const std::string previous = std::filesystem::current_path();
  tree_.mkdir("gone");
  ASSERT_EQ(::chdir(tree_.path("gone").c_str()), 0);
  ASSERT_EQ(::rmdir(tree_.path("gone").c_str()), 0);
  const Expansion e = expand(".", text);
  ASSERT_EQ(::chdir(previous.c_str()), 0);
  ASSERT_FALSE(e.roots);
  EXPECT_EQ(e.roots.error().kind, IncludeErrorKind::IncludeConfinement);
}

// The path is checked, then the file (or a directory on its way) is swapped
// for a link to the outside before it is read: the read must refuse.
TEST_P(Confinement, SwapBetweenCheckAndReadIsRefused) {
  tree_.write("root/swap.yaml", "inside\n");
  tree_.write("root/swapdir/x.yaml", "inside\n");
  tree_.write("outside/x.yaml", "OUTSIDE\n");
  IncludeContext ctx = new_include_context(root(), {true, false, false});
  for (const char* name : {"swap.yaml", "swapdir/x.yaml"}) {
    auto resolved = resolve_include_path(ctx, tree_.path(std::string("root/") + name), name, 0, {});
    ASSERT_TRUE(resolved) << name;
    const std::string swapped = std::string(name) == "swap.yaml" ? "root/swap.yaml" : "root/swapdir";
    std::filesystem::remove_all(tree_.path(swapped));
    tree_.link(swapped, std::string(name) == "swap.yaml" ? "../outside/secret.yaml" : "../outside");
    auto loaded = load_include_file(ctx, *resolved, name, {});
    ASSERT_FALSE(loaded) << name;
    EXPECT_EQ(loaded.error().kind, IncludeErrorKind::IncludeConfinement) << name;
  }
}

// A thread flips a file between its real content and a link to the outside
// while includes of it are loaded: every load gives the inside content or a
// refusal, never the outside content.
TEST_P(Confinement, LinkSwappedByAThreadDuringLoads) {
  tree_.write("root/flip.yaml", "inside\n");
  tree_.write("root/real.yaml.keep", "inside\n");
  std::atomic<bool> stop{false};
  std::thread flipper([&] {
    const std::string target = tree_.path("root/flip.yaml");
    const std::string staged = tree_.path("root/staged");
    for (unsigned i = 0; !stop.load(); ++i) {
      ::unlink(staged.c_str());
      if (i % 2 == 0) {
        ::symlink("../outside/secret.yaml", staged.c_str());
      } else {
        std::filesystem::copy_file(tree_.path("root/real.yaml.keep"), staged);
      }
      ::rename(staged.c_str(), target.c_str());
    }
  });
  int read_inside = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::string value = first_value(expand(root(), "v: !include flip.yaml\n"));
    ASSERT_NE(value, "OUTSIDE");
    read_inside += value == "inside";
  }
  stop = true;
  flipper.join();
  EXPECT_GT(read_inside, 0);
}

INSTANTIATE_TEST_SUITE_P(BothOpenModes, Confinement,
                         ::testing::Values(BeneathMode::Auto, BeneathMode::ComponentWalk),
                         [](const auto& info) { return info.param == BeneathMode::Auto ? "Auto" : "ComponentWalk"; });

}  // namespace
}  // namespace kestrine
