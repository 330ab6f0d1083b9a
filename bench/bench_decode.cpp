// Scan + decode throughput (the plain road of `loads` without the Python
// conversion), on the real-world corpus and on the generated 20 MB
// configuration file.  Reported as bytes per second of YAML text.
//
//   kestrine_bench --benchmark_filter=Decode
//
// The generated file is the scanner benchmark's: $KESTRINE_BENCH_FILE when
// set, else /tmp/kestrine-bench-20mb.yaml, written once by bench/gen_config.py.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_data.hpp"
#include "decode/decoder.hpp"

namespace {

// Corpus files the decoder accepts.
const std::vector<std::string>& decode_corpus() {
  static const std::vector<std::string> files = kestrine::bench::corpus_files_where(
      [](const std::string& text) { return kestrine::decode_stream(text, {}).has_value(); });
  return files;
}

const std::string& decode_config_file() { return kestrine::bench::config_text(); }

void BM_DecodeCorpus(benchmark::State& state) {
  const auto& files = decode_corpus();
  if (files.empty()) {
    state.SkipWithError("bench-corpus not found");
    return;
  }
  std::size_t bytes = 0;
  for (const auto& f : files) bytes += f.size();
  for (auto _ : state) {
    for (const auto& f : files) {
      auto r = kestrine::decode_stream(f, {});
      benchmark::DoNotOptimize(r);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["files"] = static_cast<double>(files.size());
}
BENCHMARK(BM_DecodeCorpus)->Unit(benchmark::kMillisecond);

void BM_DecodeConfig20MB(benchmark::State& state) {
  const std::string& text = decode_config_file();
  if (text.empty()) {
    state.SkipWithError("generated config file not available");
    return;
  }
  for (auto _ : state) {
    auto r = kestrine::decode_stream(text, {});
    if (!r) {
      state.SkipWithError(r.error().message.c_str());
      return;
    }
    benchmark::DoNotOptimize(r->documents.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodeConfig20MB)->Unit(benchmark::kMillisecond);

// The same file with the duplicate-key warning on: the cost of signatures
// (the generated file repeats some keys, so the error policy would stop).
void BM_DecodeConfig20MBDuplicateCheck(benchmark::State& state) {
  const std::string& text = decode_config_file();
  if (text.empty()) {
    state.SkipWithError("generated config file not available");
    return;
  }
  kestrine::DecodeOptions opts;
  opts.duplicate_keys = kestrine::DuplicateKeyPolicy::Warn;
  for (auto _ : state) {
    auto r = kestrine::decode_stream(text, opts);
    if (!r) {
      state.SkipWithError(r.error().message.c_str());
      return;
    }
    benchmark::DoNotOptimize(r->documents.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodeConfig20MBDuplicateCheck)->Unit(benchmark::kMillisecond);

}  // namespace
