// Waiting in a simulated run, on the simulation's time: in virtual time a
// wait jumps the clock to the first of the deadline, the next byte of the
// bell, the ringer's next key or a signal, so runs stay exact and the same
// every time; in real time it sleeps on the steady clock and ends a precise
// deadline with a spin, as the native waits do.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/sim/sim_console.h"
#include "platform/sim/sim_serial.h"
#include "platform/sim/sim_time.h"
#include "platform/timer_margin.h"
#include "platform/wait.h"

namespace qn::platform::sim {

class SimWait : public Wait {
public:
    // clock: the program's clock (virtual, or the native one in real time).
    SimWait(SimTime& time, Clock& clock, SimConsole& console, SimSerial& serial)
        : time_(time), clock_(clock), console_(console), serial_(serial) {}

    void signal() override;
    void watch_port(PortHandle h) override;
    Result<Wake> wait_until(std::int64_t deadline, std::uint32_t sources, bool precise) override;
    void sleep_until(std::int64_t deadline) override;

private:
    // Microseconds from now until the counter reaches deadline.
    std::int64_t micros_until(std::int64_t deadline);
    // How long before a precise deadline a real-time wait ends, to spin the
    // rest; none in virtual time.
    std::int64_t spin_us(const TimerMargin& margin) const;
    // The sources in `sources` ready at now, and when the port's next byte
    // comes. Lock held.
    std::uint32_t take(std::uint32_t sources, std::int64_t now, std::int64_t key_at, std::int64_t& byte_at);
    // The last part of a precise deadline in real time: a spin that looks
    // at the sources now and then; what it saw, or 0 at the deadline.
    std::uint32_t spin_to(std::int64_t deadline, std::uint32_t sources, std::int64_t key_at);

    SimTime& time_;
    Clock& clock_;
    SimConsole& console_;
    SimSerial& serial_;
    // Under the time's lock.
    bool signalled_ = false;
    PortHandle port_ = 0;
    TimerMargin margin_{kWakeUpMarginFloorNs, kWakeUpMarginCeilingNs};  // the main thread's waits
};

}  // namespace qn::platform::sim
