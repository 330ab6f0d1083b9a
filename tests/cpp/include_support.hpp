// Helpers shared by the include tests: a scratch directory tree with real
// files, directories and symbolic links, and one-call expansion.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "include/context.hpp"
#include "include/loader.hpp"

namespace kestrine::testing {

class TempTree {
 public:
  TempTree() {
    char name[] = "/tmp/kestrine-include-XXXXXX";
    base_ = ::mkdtemp(name);
  }
  ~TempTree() {
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  std::string path(std::string_view relative) const { return base_ + "/" + std::string(relative); }

  void write(std::string_view relative, std::string_view text) const {
    const std::filesystem::path p = path(relative);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
  }
  void mkdir(std::string_view relative) const { std::filesystem::create_directories(path(relative)); }
  // A link at `relative` whose target is `target` as written.
  void link(std::string_view relative, std::string_view target) const {
    const std::filesystem::path p = path(relative);
    std::filesystem::create_directories(p.parent_path());
    ASSERT_EQ(::symlink(std::string(target).c_str(), p.c_str()), 0) << relative;
  }

 private:
  std::string base_;
};

// The outcome of expanding `text` with includes (and env vars) on.
struct Expansion {
  LoadResult<std::vector<YamlNode>> roots;
  SourceTable sources;
};

inline Expansion expand(std::string root_dir, std::string_view text, IncludeFlags flags = {true, false, false},
                        bool recursive = false) {
  IncludeContext ctx = new_include_context(std::move(root_dir), flags);
  ctx.include_dir_recursive = recursive;
  auto roots = expand_includes(ctx, text, std::nullopt);
  return Expansion{std::move(roots), into_source_table(std::move(ctx))};
}

// The text of the value of the first pair of the first root, or the error
// message.
inline std::string first_value(const Expansion& e) {
  if (!e.roots) return "error: " + e.roots.error().message;
  if (e.roots->empty() || e.roots->front().pairs().empty()) return "no value";
  return e.roots->front().pairs().front().value.text();
}

}  // namespace kestrine::testing
