// Scanner throughput: scan_events alone, over the benchmark corpus and over a
// generated configuration-like file (KESTRINE_BENCH_FILE, or a 20 MB file made
// by bench/gen_config.py in /tmp on first use).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_data.hpp"
#include "scanner/scanner.hpp"

namespace {

using kestrine::bench::config_text;

const std::vector<std::string>& corpus() { return kestrine::bench::corpus_files(); }

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
