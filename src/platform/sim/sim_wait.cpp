#include "platform/sim/sim_wait.h"

#include <algorithm>

namespace qn::platform::sim {

namespace {

// How early a real-time wait for a precise deadline wakes, to spin the rest.
constexpr std::int64_t kSpinUs = 200;
// A person's keys on the terminal are not a source the simulation can wait
// on: a wait for keys looks at the terminal this often.
constexpr std::int64_t kTerminalLookUs = 50000;

}  // namespace

void SimWait::signal() {
    std::lock_guard<std::mutex> g(time_.mutex());
    signalled_ = true;
    time_.changed();
}

void SimWait::watch_port(PortHandle h) {
    std::lock_guard<std::mutex> g(time_.mutex());
    port_ = h;
}

std::int64_t SimWait::micros_until(std::int64_t deadline) {
    const std::int64_t now = clock_.counter();
    return deadline <= now ? 0 : (deadline - now) * 1000000 / clock_.frequency();
}

void SimWait::spin_until(std::int64_t deadline) {
    if (time_.is_virtual()) return;
    while (clock_.counter() < deadline) {
    }
}

Result<Wake> SimWait::wait_until(std::int64_t deadline, std::uint32_t sources, bool precise) {
    const std::int64_t remaining = micros_until(deadline);
    // The ringer's keys are planned ahead; terminal keys are looked at by
    // the passes the longest wait allows.
    const std::int64_t key_at = (sources & kWakeConsole) ? console_.next_key_at() : kNever;
    std::uint32_t seen = 0;
    {
        std::unique_lock<std::mutex> lk(time_.mutex());
        // No port watched: it is to be looked at whenever the wait ends.
        const std::uint32_t blind = (sources & kWakePort) && port_ == 0 ? kWakePort : 0;
        const std::int64_t start = time_.now_us();
        std::int64_t until = start + remaining;
        if (precise && !time_.is_virtual()) until -= kSpinUs;
        if ((sources & kWakeConsole) && console_.has_terminal()) until = std::min(until, start + kTerminalLookUs);
        for (;;) {
            const std::int64_t now = time_.now_us();
            if ((sources & kWakeEvent) && signalled_) {
                signalled_ = false;
                seen |= kWakeEvent;
            }
            std::int64_t byte_at = kNever;
            if ((sources & kWakePort) && port_ != 0) {
                byte_at = serial_.next_byte_at(port_);
                if (byte_at <= now) seen |= kWakePort;
            }
            if (key_at <= now) seen |= kWakeConsole;
            if (seen != 0 || now >= until || time_.stopped()) {
                seen |= blind;
                break;
            }
            time_.wait(lk, std::min({until, byte_at, key_at}), true);
        }
    }
    if (seen == 0 && precise) spin_until(deadline);
    return Wake{seen, clock_.counter()};
}

void SimWait::sleep_until(std::int64_t deadline) {
    std::int64_t remaining = micros_until(deadline);
    if (!time_.is_virtual()) remaining -= kSpinUs;
    if (remaining > 0) time_.sleep_us(remaining);
    spin_until(deadline);
}

}  // namespace qn::platform::sim
