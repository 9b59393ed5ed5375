// The run's clock: the program's one stopwatch, started when the service
// starts, and the waits measured by it.
#pragma once

#include <cstdint>
#include <memory>

#include "core/stopwatch.h"
#include "platform/clock.h"
#include "platform/result.h"
#include "platform/threads.h"
#include "platform/wait.h"

namespace qn {

// Both threads read it. The stopwatch, once made, lives as long as the
// process: the serial thread may read it up to the moment the process ends.
class RunClock {
public:
    RunClock(platform::Clock& clock, platform::Threads& threads, platform::Wait& wait)
        : clock_(clock), threads_(threads), wait_(wait) {}
    RunClock(const RunClock&) = delete;
    RunClock& operator=(const RunClock&) = delete;

    // Starts from 0; stop() stops and clears it.
    void start();
    void stop();
    bool running() const;
    // 0 before it starts. Each is one read of the clock, so a path that
    // reads it keeps to the reads it needs.
    std::int64_t elapsed_us() const { return stopwatch_ ? stopwatch_->elapsed_us() : 0; }
    std::int64_t elapsed_ms() const { return stopwatch_ ? stopwatch_->elapsed_ms() : 0; }
    // Made at the first start; null before.
    Stopwatch* stopwatch() const { return stopwatch_.get(); }

    // The main thread waits until the clock reads due_us or until one of
    // the wake sources (platform::kWake...) fires; wake.at comes back in
    // clock microseconds. precise: due_us is a due time to keep to the
    // fraction of a millisecond; otherwise only the longest the wait may
    // last.
    platform::Result<platform::Wake> wait_until_us(std::int64_t due_us, std::uint32_t sources, bool precise);
    // Up to ms milliseconds, or until one of the sources fires (a key at a
    // prompt, say); a wait that cannot be had is a plain sleep.
    void wait_ms(std::int32_t ms, std::uint32_t sources);
    // The main thread sleeps until due_us, precisely, whatever else happens.
    void wait_until_due(std::int64_t due_us);
    // Any thread: sleeps until the clock reads due_us, precisely.
    void sleep_until_us(std::int64_t due_us);

    // The counter's figures for the run log.
    std::string calibration_line() const;

private:
    // Where no precise wait can be had (the clock stopped on the way out,
    // or the wait service failed): whole milliseconds of sleep.
    void sleep_whole_ms_until(std::int64_t due_us);
    const Stopwatch* running_stopwatch() const;

    platform::Clock& clock_;
    platform::Threads& threads_;
    platform::Wait& wait_;
    std::unique_ptr<Stopwatch> stopwatch_;
};

inline std::int64_t multiply_int64(std::int32_t a, std::int32_t b) {
    return static_cast<std::int64_t>(a) * static_cast<std::int64_t>(b);
}

}  // namespace qn
