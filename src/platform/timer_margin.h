// How early a precise wait arms its OS timer, so that the timer's own
// lateness is absorbed and the rest of the wait is a spin on the counter.
// A fixed margin must cover the worst lateness the timer ever shows, and
// then a thread the scheduler serves at once (real-time priority) spins
// the whole of it before every due key, holding its core. Instead the
// margin follows the lateness the timer shows on this machine: it jumps
// to any larger lateness at once, so a busy spell costs at most one late
// wake, and creeps back down while the timer keeps time.
#pragma once

#include <algorithm>
#include <cstdint>

namespace qn::platform {

class TimerMargin {
public:
    // floor_ns: the least spin worth keeping (a wake-up is never free);
    // ceiling_ns: what the timer's kind may be late by at worst, and the
    // margin before anything has been seen.
    TimerMargin(std::int64_t floor_ns, std::int64_t ceiling_ns)
        : floor_ns_(floor_ns), ceiling_ns_(ceiling_ns), late_ns_(ceiling_ns) {}

    std::int64_t margin_ns() const {
        return std::clamp(late_ns_ + late_ns_ / 4 + kSlackNs, floor_ns_, ceiling_ns_);
    }

    // After a timer armed for some instant fired: how long after it the
    // waiting thread woke (0 or less: on time).
    void woke_late_by(std::int64_t late_ns) {
        late_ns = std::clamp<std::int64_t>(late_ns, 0, ceiling_ns_);
        if (late_ns >= late_ns_) late_ns_ = late_ns;
        else late_ns_ -= (late_ns_ - late_ns) / kDecay;
    }

private:
    static constexpr std::int64_t kSlackNs = 50000;
    // A wake that comes on time takes a sixteenth of the distance off the
    // lateness remembered: a hundred quiet waits bring a ceiling down to
    // the lateness now seen.
    static constexpr std::int64_t kDecay = 16;

    std::int64_t floor_ns_;
    std::int64_t ceiling_ns_;
    std::int64_t late_ns_;  // the lateness remembered
};

// The bounds for a timer that keeps its own time to the microsecond (a
// Linux timerfd or clock_nanosleep, a condition variable on the steady
// clock), so that it is late by the wake-up alone: tens of microseconds
// for a thread that is run at once, but milliseconds when the core it
// wakes on had gone into a deep idle state (a virtual machine's halted
// CPU, a laptop's deepest C-state), which happens when the machine is
// quiet.
inline constexpr std::int64_t kWakeUpMarginFloorNs = 100000;
inline constexpr std::int64_t kWakeUpMarginCeilingNs = 4000000;

}  // namespace qn::platform
