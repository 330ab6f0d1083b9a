// Round-trip throughput: composing text into node trees, rendering an
// unedited document (the text as read) and re-rendering every node, on the
// real-world corpus and on the generated 20 MB configuration file
// (KESTRINE_BENCH_FILE, or /tmp/kestrine-bench-20mb.yaml written by
// bench/gen_config.py on first use).  Reported as bytes per second of YAML
// text; compare with BM_DecodeConfig20MB / BM_DecodeCorpus (scan + decode).
// The Compose figures include releasing the trees; ComposeNoRelease (on the
// large file, where a pause per iteration costs nothing) only building them.
//
//   kestrine_bench --benchmark_filter='Roundtrip|Decode'
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_data.hpp"
#include "roundtrip/compose/composer.hpp"
#include "roundtrip/emit/emitter.hpp"
#include "util/stack_guard.hpp"

namespace {

using kestrine::bench::config_text;

// Corpus files the composer accepts, so every iteration does the same work.
const std::vector<std::string>& corpus() {
  static const std::vector<std::string> files = kestrine::bench::corpus_files_where(
      [](const std::string& text) { return kestrine::parse_roundtrip(text).has_value(); });
  return files;
}

void mark_modified(kestrine::YamlNode& n) {
  n.comments.modified = true;
  kestrine::stack_guarded([&] {
    for (kestrine::YamlNode& item : n.items()) mark_modified(item);
    for (kestrine::NodePair& p : n.pairs()) {
      mark_modified(p.key);
      mark_modified(p.value);
    }
  });
}

enum class Work { Compose, ComposeKeep, RenderUnedited, Rerender };

// Compose `text` and, depending on `work`, render it; the rendered size.
std::size_t run(const std::string& text, Work work, benchmark::State& state) {
  auto roots = kestrine::parse_roundtrip(text);
  if (!roots) {
    state.SkipWithError(roots.error().message.c_str());
    return 0;
  }
  if (work == Work::Compose) {
    benchmark::DoNotOptimize(roots->data());
    return 0;
  }
  if (work == Work::ComposeKeep) {
    // Building only: the trees are released outside the timed region.
    benchmark::DoNotOptimize(roots->data());
    state.PauseTiming();
    roots->clear();
    state.ResumeTiming();
    return 0;
  }
  if (work == Work::Rerender)
    for (kestrine::YamlNode& r : *roots) mark_modified(r);
  std::string out = kestrine::render_document(*roots, text, false, kestrine::NullStyle::Default);
  benchmark::DoNotOptimize(out.data());
  return out.size();
}

void config_bench(benchmark::State& state, Work work) {
  const std::string& text = config_text();
  if (text.empty()) {
    state.SkipWithError("generated config file not available");
    return;
  }
  std::size_t rendered = 0;
  for (auto _ : state) rendered = run(text, work, state);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["rendered_bytes"] = static_cast<double>(rendered);
}

void corpus_bench(benchmark::State& state, Work work) {
  const auto& files = corpus();
  if (files.empty()) {
    state.SkipWithError("bench-corpus not found");
    return;
  }
  std::size_t bytes = 0;
  for (const auto& f : files) bytes += f.size();
  for (auto _ : state)
    for (const auto& f : files) run(f, work, state);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["files"] = static_cast<double>(files.size());
}

void BM_RoundtripComposeConfig20MB(benchmark::State& s) { config_bench(s, Work::Compose); }
void BM_RoundtripComposeNoReleaseConfig20MB(benchmark::State& s) {
  config_bench(s, Work::ComposeKeep);
}
void BM_RoundtripComposeRenderUneditedConfig20MB(benchmark::State& s) {
  config_bench(s, Work::RenderUnedited);
}
void BM_RoundtripComposeRerenderConfig20MB(benchmark::State& s) { config_bench(s, Work::Rerender); }
void BM_RoundtripComposeCorpus(benchmark::State& s) { corpus_bench(s, Work::Compose); }
void BM_RoundtripComposeRenderUneditedCorpus(benchmark::State& s) {
  corpus_bench(s, Work::RenderUnedited);
}
void BM_RoundtripComposeRerenderCorpus(benchmark::State& s) { corpus_bench(s, Work::Rerender); }

// The writer alone: the trees are composed (and marked edited) once.
void BM_RoundtripRerenderOnlyConfig20MB(benchmark::State& state) {
  const std::string& text = config_text();
  auto roots = kestrine::parse_roundtrip(text);
  if (text.empty() || !roots) {
    state.SkipWithError("generated config file not available");
    return;
  }
  for (kestrine::YamlNode& r : *roots) mark_modified(r);
  std::size_t rendered = 0;
  for (auto _ : state) {
    std::string out = kestrine::render_document(*roots, text, false, kestrine::NullStyle::Default);
    rendered = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["rendered_bytes"] = static_cast<double>(rendered);
}

BENCHMARK(BM_RoundtripComposeConfig20MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundtripComposeNoReleaseConfig20MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundtripComposeRenderUneditedConfig20MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundtripComposeRerenderConfig20MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundtripRerenderOnlyConfig20MB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundtripComposeCorpus)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundtripComposeRenderUneditedCorpus)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundtripComposeRerenderCorpus)->Unit(benchmark::kMillisecond);

}  // namespace
