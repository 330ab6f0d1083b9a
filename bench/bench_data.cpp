#include "bench_data.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrine::bench {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

const std::string& config_text() {
  static const std::string text = [] {
    if (const char* env = std::getenv("KESTRINE_BENCH_FILE"); env && *env) return read_file(env);
    const fs::path path = "/tmp/kestrine-bench-20mb.yaml";
    if (!fs::exists(path)) {
      const std::string cmd = std::string("python3 '") + KESTRINE_SOURCE_DIR + "/bench/gen_config.py' '" +
                              path.string() + "' 20";
      if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "could not run %s\n", cmd.c_str());
        return std::string();
      }
    }
    return read_file(path);
  }();
  return text;
}

const std::vector<std::string>& corpus_files() {
  static const std::vector<std::string> files = [] {
    std::vector<std::string> out;
    const fs::path root = KESTRINE_SOURCE_DIR "/../shared/testdata/bench-corpus";
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return out;
    std::vector<fs::path> paths;
    for (const auto& e : fs::recursive_directory_iterator(root, ec)) {
      const auto ext = e.path().extension();
      if (e.is_regular_file() && (ext == ".yml" || ext == ".yaml")) paths.push_back(e.path());
    }
    std::sort(paths.begin(), paths.end());
    for (const auto& p : paths) out.push_back(read_file(p));
    return out;
  }();
  return files;
}

}  // namespace kestrine::bench
