// Percentiles of a set of samples, for latency benchmarks that report the
// median and the 99th percentile rather than a mean.
#pragma once

#include <algorithm>
#include <vector>

#include <benchmark/benchmark.h>

namespace qn::bench {

inline double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    std::size_t i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

inline void report(benchmark::State& state, const std::vector<double>& micros) {
    state.counters["median_us"] = percentile(micros, 0.5);
    state.counters["p99_us"] = percentile(micros, 0.99);
    state.counters["worst_us"] = micros.empty() ? 0 : *std::max_element(micros.begin(), micros.end());
}

}  // namespace qn::bench
