// The YAML test suite's cases, for the sweeps over it.
//
//   for (const SuiteCase& c : suite_cases()) {
//     const std::string text = read_file(c.in_yaml());
//     ... c.id ("229Q", "DK95/03"), c.is_error() ...
//   }
//
// The suite lives beside the repository (../shared/testdata/yaml-test-suite);
// without it suite_cases() is empty and the sweeps skip.  A case is a folder
// holding in.yaml: a top-level folder named by the case id, or a numbered
// subfolder of one.  The suite's name/ and tags/ folders (links onto the
// cases, by title and by tag) and every symbolic link are passed over, and a
// folder reached twice counts once, so each case appears exactly once and
// lists keyed by case id stay right.  Cases come sorted by id.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace kestrine::testing {

inline std::filesystem::path suite_dir() {
  return std::filesystem::path(KESTRINE_SOURCE_DIR "/../shared/testdata/yaml-test-suite");
}

struct SuiteCase {
  std::string id;              // "229Q", or "DK95/03" for a numbered subcase
  std::filesystem::path dir;   // the folder holding in.yaml

  std::filesystem::path in_yaml() const { return dir / "in.yaml"; }
  bool is_error() const { return std::filesystem::exists(dir / "error"); }
};

// The whole file, bytes as they are ("" when it cannot be read).
inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

namespace suite_detail {

// Real folders below `dir`, links left out, sorted.
inline std::vector<std::filesystem::path> case_folders(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (entry.is_symlink(ec) || !entry.is_directory(ec)) continue;
    out.push_back(entry.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace suite_detail

inline std::vector<SuiteCase> suite_cases(const std::filesystem::path& root = suite_dir()) {
  namespace fs = std::filesystem;
  std::vector<SuiteCase> cases;
  std::set<fs::path> seen;  // real paths
  std::error_code ec;
  const auto add = [&](std::string id, const fs::path& dir) {
    if (!fs::is_regular_file(dir / "in.yaml", ec)) return false;
    if (seen.insert(fs::canonical(dir, ec)).second) cases.push_back({std::move(id), dir});
    return true;
  };
  if (!fs::is_directory(root, ec)) return cases;
  for (const fs::path& top : suite_detail::case_folders(root)) {
    const std::string id = top.filename().string();
    if (id == "name" || id == "tags") continue;
    if (add(id, top)) continue;
    for (const fs::path& sub : suite_detail::case_folders(top)) add(id + "/" + sub.filename().string(), sub);
  }
  std::sort(cases.begin(), cases.end(), [](const SuiteCase& a, const SuiteCase& b) { return a.id < b.id; });
  return cases;
}

}  // namespace kestrine::testing
