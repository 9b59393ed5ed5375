// The program's one stopwatch. It counts in ticks of the platform's
// high-resolution counter and reads out microseconds; both threads read it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"
#include "platform/threads.h"

namespace qn {

inline constexpr std::int64_t kDefaultTicksPerSecond = 1000000;
inline constexpr std::int64_t kSystemTicksRangeLimit = 100000;

enum class TimeBaseSource { System, Hardware };
enum class CorrelationMode { Manual, OnTimeBaseSelect, OnGetElapsed };

struct TimeBaseCalibration {
    bool frequency_calibrated = false;
    bool overhead_calibrated = false;
    std::int32_t tick_iterations = 0;
    std::int32_t sleep_iterations = 0;
    std::int32_t frequency_iterations = 0;
    std::int32_t frequency_gate_ms = 0;
};

struct TimeBase {
    TimeBaseCalibration calibration;
    std::int64_t ticks_per_second = 1;
    std::int64_t ticks_overhead = 0;
    std::int64_t sleep_overhead = 0;
    std::int64_t measured_frequency = 0;  // the timed-sleep measurement, for the log
    bool available = false;
    bool hardware = false;  // read_ticks reads the time-stamp counter
};

struct TimerData {
    std::atomic<bool> running{false};
    TimeBase* time_base = nullptr;
    std::atomic<std::int64_t> start_ticks{0};
    std::atomic<std::int64_t> total_ticks{0};
};

class Stopwatch {
public:
    Stopwatch(platform::Clock& clock, platform::Threads& threads);
    virtual ~Stopwatch() = default;

    void clear();
    void start();
    void stop();
    std::int64_t elapsed_us() const;
    std::int64_t elapsed_ms() const;
    // The counter value at which the running stopwatch will read `us`
    // microseconds: what a deadline is handed to the platform's waits as.
    std::int64_t counter_at(std::int64_t us) const;
    // What the running stopwatch read (or will read) at that counter value.
    std::int64_t micros_at(std::int64_t counter) const;

    virtual std::int32_t system_sleep(std::int32_t ms);
    virtual std::int32_t calibrate_call_overheads(TimeBase& tb);
    virtual std::int32_t calibrate_tick_frequency(TimeBase& tb);

    std::int64_t read_ticks(const TimeBase& tb) const;

    TimeBase system_ticks;
    TimeBase hardware_ticks;
    TimerData timer;
    bool want_days = true;
    bool want_ms = true;
    std::int32_t precision = 6;
    TimeBaseSource selected_time_base = TimeBaseSource::System;
    CorrelationMode correlation_mode = CorrelationMode::OnTimeBaseSelect;
    bool microsecond_clock_available = false;
    std::int32_t overhead_result = 0;  // what calibrate_call_overheads returned

private:
    std::int64_t elapsed_ticks() const;
    platform::Clock& clock_;
    platform::Threads& threads_;
    // Start and stop happen on one thread at a time; readers on any thread
    // retry while a change is under way.
    std::atomic<std::uint32_t> seq_{0};
};

}  // namespace qn
