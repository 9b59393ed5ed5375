// Waiting on Linux: ppoll on an eventfd (the serial thread's signal), the
// port, the keyboard and, for a precise deadline, a timerfd armed with an
// absolute CLOCK_MONOTONIC time a little early, then a spin.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/wait.h"

namespace qn::platform::posix {

class PosixConsole;

// How early a precise deadline's timer is armed; the rest is spun. A timerfd
// has no slack, but a thread that is not real-time is woken some tens of
// microseconds after its timer, more on a busy machine.
inline constexpr std::int64_t kSpinNs = 200000;

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
    int event_fd_ = -1;
    int timer_fd_ = -1;
    std::string setup_error_;  // why the descriptors could not be made
    std::atomic<PortHandle> port_{0};
    PosixConsole* console_;
    bool keys_broken_ = false;  // the keyboard's descriptor is in error: not waited on
};

}  // namespace qn::platform::posix
