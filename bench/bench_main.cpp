// Entry point of the C++ benchmark binary.
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
