// Failed calls on a port that is read without a break (the serial thread's
// waits and status reads; data mode's reads). A pulled USB adapter makes
// every call fail at once: the failures are logged at most once a second,
// each costs the caller a millisecond's nap, and after more than a second
// of them the port is given up as lost.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/text_sink.h"
#include "serial/serial_clock.h"

namespace qn {

class PortFailures {
public:
    // log: whole lines from either thread. wake: the service loop's wait,
    // woken when the port is given up.
    PortFailures(SerialClock clock, TextSink& log, platform::Wait& wake) : clock_(clock), log_(log), wake_(wake) {}

    // A call failed: what and its error go to the log (sparingly); then a nap.
    void failed(const std::string& what, const std::string& error);
    // True when the failures have gone on for more than a second without a
    // break: the port is given up at location (told in the log).
    bool given_up(std::int32_t location);
    void succeeded() { failing_since_us_ = -1; }
    bool failing() const { return failing_since_us_ >= 0; }
    // Where the port was given up (0: it was not). Read by any thread.
    std::int32_t lost_at() const { return lost_at_.load(); }

private:
    SerialClock clock_;
    TextSink& log_;
    platform::Wait& wake_;
    std::int64_t failing_since_us_ = -1;   // first failure of the current run of them
    std::int64_t failure_logged_us_ = -1;  // last time a failure was logged
    std::int32_t failures_unlogged_ = 0;   // failures not logged since then
    std::atomic<std::int32_t> lost_at_{0};
};

}  // namespace qn
