// The YAML test suite loader: each case once, by id, whatever links the
// suite's name/ and tags/ folders (or anything else) add.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "yaml_suite.hpp"

namespace kestrine {
namespace {

namespace fs = std::filesystem;

TEST(SuiteLoader, ListsEachCaseOnceAndPassesOverLinks) {
  const fs::path root = fs::temp_directory_path() / ("kestrine-suite-" + std::to_string(::getpid()));
  fs::remove_all(root);
  const auto touch = [&](const fs::path& rel) {
    fs::create_directories((root / rel).parent_path());
    std::ofstream(root / rel) << "a: 1\n";
  };
  touch("229Q/in.yaml");
  touch("DK95/00/in.yaml");
  touch("DK95/01/in.yaml");
  touch("DK95/01/error");
  touch("NOTE/readme");  // a folder without in.yaml
  fs::create_directories(root / "name");
  fs::create_directories(root / "tags/alias");
  fs::create_directory_symlink("../229Q", root / "name/spec-example-2-1");
  fs::create_directory_symlink("../../229Q", root / "tags/alias/229Q");
  fs::create_directory_symlink("DK95", root / "LINK");

  std::vector<std::string> ids;
  for (const testing::SuiteCase& c : testing::suite_cases(root)) ids.push_back(c.id + (c.is_error() ? "!" : ""));
  EXPECT_EQ(ids, (std::vector<std::string>{"229Q", "DK95/00", "DK95/01!"}));
  EXPECT_TRUE(testing::suite_cases(root / "absent").empty());
  fs::remove_all(root);
}

}  // namespace
}  // namespace kestrine
