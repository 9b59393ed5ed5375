// The high-resolution counter behind the stopwatch.
#pragma once

#include <cstdint>

namespace qn::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic tick count and its rate as the OS reports it
    // (QueryPerformanceCounter/Frequency; CLOCK_MONOTONIC in nanoseconds).
    virtual std::int64_t counter() = 0;
    virtual std::int64_t frequency() = 0;
    // The processor's time-stamp counter, when CPUID says it exists.
    virtual bool tsc_available() = 0;
    virtual std::int64_t tsc() = 0;
};

}  // namespace qn::platform
