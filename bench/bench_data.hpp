// Inputs shared by the C++ benchmarks: the real-world corpus and the
// generated configuration file ($KESTRINE_BENCH_FILE, or a 20 MB file that
// bench/gen_config.py writes to /tmp on first use).
#pragma once

#include <string>
#include <vector>

namespace kestrine::bench {

// The generated configuration text; empty when it could not be made.
const std::string& config_text();

// The *.yml / *.yaml files of the bench corpus, in path order; empty when the
// corpus is absent.
const std::vector<std::string>& corpus_files();

// The corpus files that `accept` takes, so that every iteration of a
// benchmark measures the same successful work.
template <class Accept>
std::vector<std::string> corpus_files_where(Accept accept) {
  std::vector<std::string> out;
  for (const std::string& text : corpus_files())
    if (accept(text)) out.push_back(text);
  return out;
}

}  // namespace kestrine::bench
