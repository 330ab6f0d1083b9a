// Scanner throughput: scan_events alone, over the benchmark corpus and over a
// generated configuration-like file (KESTRINE_BENCH_FILE, or a 20 MB file made
// by bench/gen_config.py in /tmp on first use).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scanner/scanner.hpp"

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

const std::string& config_text() {
  static const std::string text = [] {
    std::string path;
    if (const char* env = std::getenv("KESTRINE_BENCH_FILE"); env && *env) {
      path = env;
    } else {
      path = "/tmp/kestrine-bench-20mb.yaml";
      if (!fs::exists(path)) {
        std::string cmd = "python3 '" KESTRINE_SOURCE_DIR "/bench/gen_config.py' '" + path + "' 20";
        if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not run %s\n", cmd.c_str());
      }
    }
    return read_file(path);
  }();
  return text;
}

const std::vector<std::string>& corpus() {
  static const std::vector<std::string> files = [] {
    std::vector<std::string> out;
    fs::path root = KESTRINE_SOURCE_DIR "/../shared/testdata/bench-corpus";
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return out;
    std::vector<fs::path> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root, ec)) {
      auto ext = entry.path().extension();
      if (entry.is_regular_file() && (ext == ".yaml" || ext == ".yml")) paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    for (const auto& p : paths) out.push_back(read_file(p));
    return out;
  }();
  return files;
}

void BM_ScanConfig(benchmark::State& state) {
  const std::string& text = config_text();
  if (text.empty()) {
    state.SkipWithError("no benchmark input");
    return;
  }
  std::size_t events = 0;
  for (auto _ : state) {
    kestrine::Scanner sc = kestrine::new_scanner(text);
    auto result = kestrine::scan_events(sc);
    if (!result) {
      state.SkipWithError(result.error().message.c_str());
      return;
    }
    events = result->events.size();
    benchmark::DoNotOptimize(result->events.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["events"] = static_cast<double>(events);
  state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ScanConfig)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScanCorpus(benchmark::State& state) {
  const auto& files = corpus();
  if (files.empty()) {
    state.SkipWithError("bench corpus not found");
    return;
  }
  std::size_t bytes = 0;
  std::size_t failures = 0;
  for (const auto& f : files) bytes += f.size();
  for (auto _ : state) {
    failures = 0;
    for (const auto& f : files) {
      kestrine::Scanner sc = kestrine::new_scanner(f);
      auto result = kestrine::scan_events(sc);
      failures += result ? 0 : 1;
      benchmark::DoNotOptimize(result);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
  state.counters["files"] = static_cast<double>(files.size());
  state.counters["scan_errors"] = static_cast<double>(failures);
}
BENCHMARK(BM_ScanCorpus)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
