// Reading the program's stopwatch.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/stopwatch.h"
#include "platform/result.h"
#include "platform/wait.h"

namespace qn {

struct Context;

// The stopwatch lives as long as the process: the serial thread may read it
// up to the moment the process ends.
struct TimingState {
    std::unique_ptr<Stopwatch> owner;  // never freed before the process ends
    Stopwatch* stopwatch = nullptr;
    std::atomic<bool> stopwatch_running{false};
    Stopwatch* serial_stopwatch = nullptr;
    std::atomic<bool> serial_stopwatch_running{false};
};

void start_stopwatch(Context& c);
// Stops and clears the stopwatch. The object itself stays until the process
// ends, because the serial thread may still read it.
void stop_stopwatch(Context& c);
// The main thread's stopwatch (0 before it starts). Each is one read of
// the clock, so a path that reads it keeps to the reads it needs.
std::int64_t elapsed_us(const TimingState& t);
std::int64_t elapsed_ms(const TimingState& t);
std::int64_t elapsed_us(const Context& c);
std::int64_t serial_elapsed_us(const Context& c);
std::int64_t elapsed_ms(const Context& c);
void start_serial_stopwatch(Context& c);
std::int64_t multiply_int64(std::int32_t a, std::int32_t b);
// The main thread waits until the stopwatch reads due_us or until one of
// the wake sources (platform::WAKE_...) fires; wake.at comes back in
// stopwatch microseconds. precise: due_us is a due time to keep to the
// fraction of a millisecond; otherwise it is only the longest the wait may
// last.
platform::Result<platform::Wake> wait_until_micros(Context& c, std::int64_t due_us, std::uint32_t sources,
                                                   bool precise);
// Waits up to ms milliseconds, or until one of the sources fires (a key at
// a prompt, say); a wait that cannot be had is a plain sleep.
void wait_for(Context& c, std::int32_t ms, std::uint32_t sources);
// The main thread sleeps until due_us, precisely, whatever else happens.
void wait_until_due(Context& c, std::int64_t due_us);
// Any thread: sleeps until the stopwatch reads due_us, precisely.
void sleep_until_micros(Context& c, std::int64_t due_us);
// The timing figures for the run log: reported and measured rates, overheads.
void log_timer_calibration(Context& c);

}  // namespace qn
