// write_atomic and staged files: the temporary file's name and place,
// permission bits, links, refused paths, and what a failure leaves behind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "include_support.hpp"
#include "util/atomic_write.hpp"

namespace kestrine {
namespace {

using testing::TempTree;
namespace fs = std::filesystem;

std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

unsigned mode_of(const std::string& path) {
  struct stat st{};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// The names in `dir`, sorted.
std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& entry : fs::directory_iterator(dir)) out.push_back(entry.path().filename());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(UtilAtomicWrite, TemporaryFileBesideTheTargetWithTheNextFreeName) {
  TempTree tree;
  tree.write("d/name.yaml", "old\n");
  auto first = stage_file(tree.path("d/name.yaml"), "new\n");
  ASSERT_TRUE(first) << first.error().reason;
  const std::string prefix = "name.yaml.kestrine-tmp." + std::to_string(::getpid()) + ".";
  const std::string temp = first->temporary_name();
  ASSERT_TRUE(temp.starts_with(prefix)) << temp;
  EXPECT_EQ(names_in(tree.path("d")), (std::vector<std::string>{"name.yaml", temp}));
  EXPECT_EQ(read(tree.path("d/name.yaml")), "old\n");  // nothing replaced before the commit

  // A name that exists already is passed over; a dropped staging removes its file.
  const std::string taken = prefix + std::to_string(std::stoul(temp.substr(prefix.size())) + 1);
  tree.write("d/" + taken, "");
  EXPECT_NE(stage_file(tree.path("d/name.yaml"), "dropped\n")->temporary_name(), taken);
  ASSERT_TRUE(first->commit());
  EXPECT_EQ(read(tree.path("d/name.yaml")), "new\n");
  EXPECT_EQ(names_in(tree.path("d")), (std::vector<std::string>{"name.yaml", taken}));
}

TEST(UtilAtomicWrite, PermissionBitsAndLinks) {
  TempTree tree;
  tree.write("private.yaml", "a\n");
  ::chmod(tree.path("private.yaml").c_str(), 0640);
  ASSERT_TRUE(write_atomic(tree.path("private.yaml"), "b\n"));
  EXPECT_EQ(mode_of(tree.path("private.yaml")), 0640u);

  const mode_t mask = ::umask(022);
  ASSERT_TRUE(write_atomic(tree.path("new.yaml"), "c\n"));
  ::umask(mask);
  EXPECT_EQ(mode_of(tree.path("new.yaml")), 0644u);

  // A link (and a link to a link) is kept; the file it leads to is replaced.
  tree.write("real/target.yaml", "old\n");
  ::chmod(tree.path("real/target.yaml").c_str(), 0600);
  tree.link("links/direct.yaml", "../real/target.yaml");
  tree.link("chained.yaml", tree.path("links/direct.yaml"));
  ASSERT_TRUE(write_atomic(tree.path("chained.yaml"), "through links\n"));
  EXPECT_TRUE(fs::is_symlink(tree.path("chained.yaml")) && fs::is_symlink(tree.path("links/direct.yaml")));
  EXPECT_EQ(read(tree.path("real/target.yaml")), "through links\n");
  EXPECT_EQ(mode_of(tree.path("real/target.yaml")), 0600u);
  EXPECT_EQ(names_in(tree.path("links")), std::vector<std::string>{"direct.yaml"});
}

TEST(UtilAtomicWrite, RefusedPaths) {
  TempTree tree;
  const struct {
    std::string path;
    std::string reason;
  } cases[] = {
      {"", std::string(kUnwritablePathMessage)},
      {tree.path("a/.."), std::string(kUnwritablePathMessage)},
      {"/", std::string(kUnwritablePathMessage)},
      {tree.path("x.yaml") + std::string("\0y", 2), std::string(kNulInPathMessage)},
      {tree.path("missing/x.yaml"), "No such file or directory"},
      {tree.path(""), "Is a directory"},
  };
  for (const auto& c : cases) {
    auto written = write_atomic(c.path, "x");
    ASSERT_FALSE(written) << c.path;
    EXPECT_EQ(written.error().reason, c.reason) << c.path;
    EXPECT_EQ(written.error().path, c.path);
  }
  EXPECT_EQ(names_in(tree.path("")), std::vector<std::string>{});

  // A bare name lies in the current directory.
  const fs::path cwd = fs::current_path();
  fs::current_path(tree.path(""));
  const auto bare = write_atomic("bare.yaml", "here\n");
  fs::current_path(cwd);
  ASSERT_TRUE(bare);
  EXPECT_EQ(read(tree.path("bare.yaml")), "here\n");
}

TEST(UtilAtomicWrite, AFailureLeavesTheTargetAndNoTemporaryFile) {
  TempTree tree;
  tree.write("t.yaml", "old\n");
  // The write itself fails: the file size limit stands in for a full disk.
  struct rlimit saved;
  ::getrlimit(RLIMIT_FSIZE, &saved);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4;
  ::setrlimit(RLIMIT_FSIZE, &small);
  auto too_big = write_atomic(tree.path("t.yaml"), "far too long\n");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  ASSERT_FALSE(too_big);
  EXPECT_EQ(too_big.error().reason, "File too large");

  // The rename fails: the target became a directory after staging.
  auto staged = stage_file(tree.path("t.yaml"), "new\n");
  ASSERT_TRUE(staged);
  fs::rename(tree.path("t.yaml"), tree.path("kept.yaml"));
  tree.write("t.yaml/inside", "");
  auto committed = staged->commit();
  ASSERT_FALSE(committed);
  EXPECT_EQ(read(tree.path("kept.yaml")), "old\n");
  EXPECT_EQ(names_in(tree.path("")), (std::vector<std::string>{"kept.yaml", "t.yaml"}));
}

}  // namespace
}  // namespace kestrine
