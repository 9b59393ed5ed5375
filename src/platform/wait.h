// Waiting for what the program is waiting for: a due time, or the first of
// its wake sources, instead of a fixed sleep. Deadlines are values of the
// platform Clock's counter, so a deadline means the same instant to the
// waiter and to whoever computed it from the stopwatch.
#pragma once

#include <cstdint>

#include "platform/result.h"
#include "platform/serial.h"

namespace qn::platform {

// Wake sources, as bits.
inline constexpr std::uint32_t kWakeEvent = 1;    // signal() was called (the serial thread published an event)
inline constexpr std::uint32_t kWakePort = 2;     // look at the port: a byte is waiting, or the port could not be watched
inline constexpr std::uint32_t kWakeConsole = 4;  // a console key is waiting

struct Wake {
    std::uint32_t sources = 0;  // the WAKE_ bits seen; 0: the deadline came first
    std::int64_t at = 0;        // the counter when the wait ended
};

class Wait {
public:
    virtual ~Wait() = default;

    // Any thread, any time: makes the current or the next wait return with
    // kWakeEvent. Never blocks.
    virtual void signal() = 0;

    // The port whose incoming bytes are kWakePort; 0 watches none.
    virtual void watch_port(PortHandle h) = 0;

    // One waiting thread at a time (the main thread). Returns when a source
    // in `sources` is ready (at once if one already is) or when the counter
    // reaches deadline. A precise deadline is kept to a fraction of a
    // millisecond: the timer is armed a little early and the rest is a spin
    // on the counter. An imprecise one (the longest a pass may wait) costs
    // no spin and may be late by the OS timer's slack.
    virtual Result<Wake> wait_until(std::int64_t deadline, std::uint32_t sources, bool precise) = 0;

    // Any thread: sleeps until the counter reaches deadline, precisely, the
    // same way.
    virtual void sleep_until(std::int64_t deadline) = 0;
};

}  // namespace qn::platform
