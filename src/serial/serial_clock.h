// The stopwatch as the serial side reads it, with the sleeps it takes.
#pragma once

#include <cstdint>

#include "core/stopwatch.h"
#include "platform/threads.h"
#include "platform/wait.h"

namespace qn {

class SerialClock {
public:
    SerialClock(Stopwatch& stopwatch, platform::Wait& wait, platform::Threads& threads)
        : stopwatch_(stopwatch), wait_(wait), threads_(threads) {}

    std::int64_t now_us() const { return stopwatch_.elapsed_us(); }
    // Stopped, as the program ends, the stopwatch reads the same for good.
    bool running() const { return stopwatch_.timer.running; }
    // Stops and starts the stopwatch again, from the thread that reads it.
    void restart() {
        stopwatch_.stop();
        stopwatch_.start();
    }
    // Sleeps until the stopwatch reads due_us, precisely; a stopwatch that
    // is not running has no deadlines, and whole milliseconds are slept.
    void sleep_until_us(std::int64_t due_us);
    void nap_ms(std::int32_t ms) { threads_.sleep_ms(ms); }

private:
    Stopwatch& stopwatch_;
    platform::Wait& wait_;
    platform::Threads& threads_;
};

}  // namespace qn
