#include "strokes/watchports.h"

#include "core/timing.h"
#include "serial/ports.h"
#include "serial/sensing.h"
#include "serial/serial_thread.h"
#include "strokes/band.h"
#include "strokes/strike_path.h"

namespace qn {

namespace {

ModemLine line_at(int line) { return kModemLines[static_cast<std::size_t>(line)]; }

}  // namespace

bool WatchLoop::watches(int line) const { return settings_.use_line[line_at(line)]; }

void WatchLoop::start_lines(std::uint32_t status) {
    for (int l = 0; l < kLines; ++l)
        if (watches(l)) was_on_[static_cast<std::size_t>(l)] = (status & status_bit(line_at(l))) != 0;
}

void WatchLoop::begin_event(std::int64_t event_us) {
    if (event_us_ != kNoEventTime) report_.events_clashed(EventsClashed{++clashes_, event_us_});
    event_us_ = event_us;
}

bool WatchLoop::past_bounce() const {
    return event_us_ - last_event_us_ > multiply_int64(settings_.switch_bounce_ms, 1000);
}

void WatchLoop::report_taken(bool off, std::int32_t chars) {
    report_.signal_taken(SignalTaken{event_us_, last_event_us_, settings_.switch_bounce_ms, off, chars});
}

// (Letting an asserted edge through at once made a release that bounced
// for longer than the serial thread's 2 ms re-check into a new strike.)
bool WatchLoop::take_line(int line, std::uint32_t word) {
    const ModemLine port_line = line_at(line);
    bool& before = was_on_[static_cast<std::size_t>(line)];
    const bool now = (word & status_bit(port_line)) != 0;
    if (settings_.monitor_output && now == before) report_.line_change_missed(LineChangeMissed{lower_line_name(port_line)});
    if (!past_bounce()) return false;
    if (settings_.monitor_output) report_taken(!now, 0);
    last_event_us_ = event_us_;
    const bool released = before && !now;
    const bool signal =
        (settings_.signal_starts_off != released) || (settings_.off_and_on_are_signals && now != before);
    before = now;
    return signal;
}

// Only this bell's characters run the bounce window: a window run from any
// bell's character lost this bell's strike whenever another bell struck
// just before it.
bool WatchLoop::take_chars(const char* chars, std::int32_t count, std::int64_t event_us) {
    const char mine = data_char_ != '\0' ? data_char_ : settings_.data_char;
    bool ours = false;
    for (std::int32_t i = 0; i < count; ++i)
        if (chars[i] == mine) ours = true;
    if (!ours) return false;
    event_us_ = event_us;
    if (!past_bounce()) return false;
    if (settings_.monitor_output) report_taken(false, count);
    last_event_us_ = event_us_;
    return true;
}

std::int64_t WatchLoop::take_arrival() {
    const std::int64_t arrival = byte_arrival_us_;
    byte_arrival_us_ = -1;
    return arrival;
}

// When the port has been given up as lost, the ringer is told, the touch's
// event log is written and the program stops the way a failed line read does.
void PortWatch::stop_if_port_lost() {
    const std::int32_t location = sensing_.port_lost_at();
    if (location == 0) return;
    report_.port_lost(PortLost{settings_.port_name, location});
    if (band_.on())
        band_.log_touch(TouchEnd::PortLost);
    else
        strikes_.log_touch(TouchEnd::PortLost);
    sensing_.stop_on_bad_port(location);
}

void PortWatch::watch_signals(WatchLoop& watch) {
    EventRing& ring = sensing_.ring();
    stop_if_port_lost();
    (void)skip_overwritten_events(ring, log_);
    if (!ring.unread()) return;

    if (ring.taken() == 0) watch.start_lines(ring.event(0).status);
    const LineEvent& e = ring.take();
    watch.begin_event(e.time_us);
    const std::uint32_t word = e.status;
    for (int line = 0; line < WatchLoop::kLines; ++line)
        if (watch.watches(line) && watch.take_line(line, word)) on_signal_();
}

// A byte is stamped when the wait saw it arrive. The port is read only
// when the loop's wait did not rule a byte out (each read is a system call,
// and under Wine a round trip to its server), or while reads fail, so that
// a port gone is noticed.
void PortWatch::watch_data(WatchLoop& watch) {
    stop_if_port_lost();
    DataPortReader& reader = sensing_.data_reader();
    const bool look = watch.look_at_port() || reader.failing();
    char ch = '\0';
    const std::int32_t count = look ? reader.read(&ch) : 0;
    const std::int64_t arrival = watch.take_arrival();
    if (count <= 0) return;
    const std::int64_t at_us = arrival >= 0 ? arrival : clock_.elapsed_us();
    if (band_.on()) {
        const std::optional<std::size_t> bell = band_.take_char(ch, at_us);
        if (bell) on_bell_signal_(*bell);
        return;
    }
    if (watch.take_chars(&ch, count, at_us)) on_signal_();
}

bool PortWatch::watch_once() {
    WatchLoop& watch = strikes_.watch();
    if (settings_.rest_on_mode)
        watch_data(watch);
    else
        watch_signals(watch);
    watch.end_event();
    return true;
}

}  // namespace qn
