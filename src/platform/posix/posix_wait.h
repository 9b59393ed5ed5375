// Waiting on Linux: ppoll on an eventfd (the serial thread's signal), the
// port, the keyboard and, for a precise deadline, a timerfd armed with an
// absolute CLOCK_MONOTONIC time a little early (by the margin the wake-ups
// show: timer_margin.h), then a spin that looks at the sources now and
// then.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/timer_margin.h"
#include "platform/wait.h"

namespace qn::platform::posix {

class PosixConsole;

class PosixWait : public Wait {
public:
    // console may be null (no keyboard to wait on).
    explicit PosixWait(PosixConsole* console);
    ~PosixWait() override;
    PosixWait(const PosixWait&) = delete;
    PosixWait& operator=(const PosixWait&) = delete;

    void signal() override;
    void watch_port(PortHandle h) override { port_.store(h); }
    Result<Wake> wait_until(std::int64_t deadline, std::uint32_t sources, bool precise) override;
    void sleep_until(std::int64_t deadline) override;

private:
    struct Polled;
    // The sources ready in a ppoll's answer, and the descriptors it shows
    // broken put aside.
    std::uint32_t take(const Polled& p);
    // The last part of a precise deadline.
    Result<Wake> spin_to(std::int64_t deadline, Polled& p);

    int event_fd_ = -1;
    int timer_fd_ = -1;
    std::string setup_error_;  // why the descriptors could not be made
    std::atomic<PortHandle> port_{0};
    PosixConsole* console_;
    bool keys_broken_ = false;  // the keyboard's descriptor is in error: not waited on
    TimerMargin margin_{kWakeUpMarginFloorNs, kWakeUpMarginCeilingNs};  // the main thread's timer
};

}  // namespace qn::platform::posix
