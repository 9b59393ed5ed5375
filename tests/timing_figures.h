// Timing in the backend tests: what a test asserts, and what it only reports.
//
// A test judges behaviour, and time only as far as a busy two-core machine
// always keeps it (a wake-up or a time stamp within 100 ms, say): a fault
// of the code under test (a wrong unit, a stamp taken at the wrong moment
// by a whole step, a lost edge) is off by more than that. How precise the
// timing is (a wake-up within 2 ms) depends on the machine's load, so each
// test prints its figures, and judges them only in a precision run:
// QN_PRECISION=1 in the environment (scripts/precision sets it).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qn::timing {

// True in a precision run: the tests then hold their figures to the
// precise limits as well as the gross ones.
inline bool precision_run() {
    const char* v = std::getenv("QN_PRECISION");
    return v && *v && std::string(v) != "0";
}

struct Figures {
    std::size_t count = 0;
    double median = 0;  // of the values, with their signs
    double p99 = 0;     // of their magnitudes
    double worst = 0;   // the largest magnitude, with its sign
};

inline Figures figures_of(std::vector<double> values) {
    Figures f;
    f.count = values.size();
    if (values.empty()) return f;
    std::sort(values.begin(), values.end());
    f.median = values[values.size() / 2];
    std::vector<double> mags;
    for (double v : values) mags.push_back(v < 0 ? -v : v);
    std::sort(mags.begin(), mags.end());
    // Nearest rank: with fewer than a hundred values p99 is the largest.
    std::size_t rank = (99 * mags.size() + 99) / 100;
    f.p99 = mags[std::min(mags.size(), std::max<std::size_t>(rank, 1)) - 1];
    f.worst = std::abs(values.front()) > std::abs(values.back()) ? values.front() : values.back();
    return f;
}

// One line a reader (or a script) finds with "timing: ":
//   timing: <what>: n=10 median 0.41 ms, p99 1.20 ms, worst 1.20 ms
inline void print_figures(const std::string& what, const std::vector<double>& values_ms) {
    Figures f = figures_of(values_ms);
    std::printf("timing: %s: n=%zu median %.2f ms, p99 %.2f ms, worst %.2f ms\n", what.c_str(), f.count, f.median,
                f.p99, f.worst);
    std::fflush(stdout);
}

// One figure: a time (unit "ms") or, with no unit, a ratio.
inline void print_figure(const std::string& what, double value, const char* unit) {
    if (*unit) std::printf("timing: %s: %.3f %s\n", what.c_str(), value, unit);
    else std::printf("timing: %s: %.6f\n", what.c_str(), value);
    std::fflush(stdout);
}

}  // namespace qn::timing
