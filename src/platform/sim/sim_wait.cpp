#include "platform/sim/sim_wait.h"

#include <algorithm>

namespace qn::platform::sim {

namespace {

// A person's keys on the terminal are not a source the simulation can wait
// on: a wait for keys looks at the terminal this often.
constexpr std::int64_t kTerminalLookUs = 50000;
// How often the spin at the end of a precise wait looks at the sources.
constexpr std::int64_t kSpinLookUs = 250;

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

std::int64_t SimWait::spin_us(const TimerMargin& margin) const {
    return time_.is_virtual() ? 0 : margin.margin_ns() / 1000;
}

std::uint32_t SimWait::take(std::uint32_t sources, std::int64_t now, std::int64_t key_at, std::int64_t& byte_at) {
    std::uint32_t seen = 0;
    if ((sources & kWakeEvent) && signalled_) {
        signalled_ = false;
        seen |= kWakeEvent;
    }
    byte_at = kNever;
    if ((sources & kWakePort) && port_ != 0) {
        byte_at = serial_.next_byte_at(port_);
        if (byte_at <= now) seen |= kWakePort;
    }
    if (key_at <= now) seen |= kWakeConsole;
    return seen;
}

Result<Wake> SimWait::wait_until(std::int64_t deadline, std::uint32_t sources, bool precise) {
    const std::int64_t remaining = micros_until(deadline);
    // The ringer's keys are planned ahead; terminal keys are looked at by
    // the passes the longest wait allows.
    const std::int64_t key_at = (sources & kWakeConsole) ? console_.next_key_at() : kNever;
    std::uint32_t seen = 0;
    std::uint32_t blind = 0;
    bool spin = false;
    {
        std::unique_lock<std::mutex> lk(time_.mutex());
        // No port watched: it is to be looked at whenever the wait ends.
        blind = (sources & kWakePort) && port_ == 0 ? kWakePort : 0;
        const std::int64_t start = time_.now_us();
        // A precise deadline's wait ends early by the margin, to spin the rest.
        const std::int64_t arm_at = start + remaining - (precise ? spin_us(margin_) : 0);
        std::int64_t until = arm_at;
        if ((sources & kWakeConsole) && console_.has_terminal()) until = std::min(until, start + kTerminalLookUs);
        bool slept = false;
        for (;;) {
            const std::int64_t now = time_.now_us();
            std::int64_t byte_at = kNever;
            seen = take(sources, now, key_at, byte_at);
            if (seen != 0 || now >= until || time_.stopped()) {
                spin = seen == 0 && precise && now >= arm_at && !time_.stopped();
                if (spin && slept && !time_.is_virtual()) margin_.woke_late_by(1000 * (now - arm_at));
                break;
            }
            time_.wait(lk, std::min({until, byte_at, key_at}), true);
            slept = true;
        }
    }
    if (spin) seen = spin_to(deadline, sources, key_at);
    return Wake{seen | blind, clock_.counter()};
}

std::uint32_t SimWait::spin_to(std::int64_t deadline, std::uint32_t sources, std::int64_t key_at) {
    if (time_.is_virtual()) return 0;
    std::int64_t next_look = clock_.counter() + kSpinLookUs * clock_.frequency() / 1000000;
    for (;;) {
        const std::int64_t now = clock_.counter();
        if (now >= deadline) return 0;
        if (now >= next_look) {
            // A look never waits for the lock: a simulator thread holding it
            // may be waiting for a processor this thread is spinning on.
            std::unique_lock<std::mutex> lk(time_.mutex(), std::try_to_lock);
            if (lk.owns_lock()) {
                std::int64_t byte_at = kNever;
                if (std::uint32_t seen = take(sources, time_.now_us(), key_at, byte_at)) return seen;
            }
            next_look = now + kSpinLookUs * clock_.frequency() / 1000000;
        }
    }
}

void SimWait::sleep_until(std::int64_t deadline) {
    // A margin per thread that sleeps: the serial thread's re-check and the
    // main thread learn their own wake-ups.
    thread_local TimerMargin margin{kWakeUpMarginFloorNs, kWakeUpMarginCeilingNs};
    const std::int64_t remaining = micros_until(deadline) - spin_us(margin);
    if (time_.is_virtual()) {
        if (remaining > 0) time_.sleep_us(remaining);
        return;
    }
    if (remaining > 0) {
        const std::int64_t arm_at = time_.now_locked() + remaining;
        time_.sleep_us(remaining);
        margin.woke_late_by(1000 * (time_.now_locked() - arm_at));
    }
    while (clock_.counter() < deadline) {
    }
}

}  // namespace qn::platform::sim
