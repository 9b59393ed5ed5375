#include "strokes/watchports.h"

#include "core/timing.h"
#include "serial/ports.h"
#include "serial/serial_thread.h"
#include "strokes/outputs.h"
#include "strokes/strike_path.h"

namespace qn {

namespace {

struct LineOfPort {
    std::uint32_t bit;
    bool Settings::*used;
    const char* name;
};

constexpr std::array<LineOfPort, WatchLoop::kLines> kLinesOfPort{{
    {platform::kLineCts, &Settings::use_cts, "cts"},
    {platform::kLineDsr, &Settings::use_dsr, "dsr"},
    {platform::kLineCd, &Settings::use_cd, "cd"},
    {platform::kLineRi, &Settings::use_ri, "ri"},
}};

}  // namespace

bool WatchLoop::watches(int line) const { return settings_.*kLinesOfPort[static_cast<std::size_t>(line)].used; }

void WatchLoop::start_lines(std::uint32_t status) {
    for (int l = 0; l < kLines; ++l)
        if (watches(l)) was_on_[static_cast<std::size_t>(l)] = (status & kLinesOfPort[static_cast<std::size_t>(l)].bit) != 0;
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
    const LineOfPort& port_line = kLinesOfPort[static_cast<std::size_t>(line)];
    bool& before = was_on_[static_cast<std::size_t>(line)];
    const bool now = (word & port_line.bit) != 0;
    if (settings_.monitor_output && now == before) report_.line_change_missed(LineChangeMissed{port_line.name});
    if (!past_bounce()) return false;
    if (settings_.monitor_output) report_taken(!now, 0);
    last_event_us_ = event_us_;
    const bool released = before && !now;
    const bool signal =
        (settings_.signal_starts_off != released) || (settings_.off_and_on_are_signals && now != before);
    before = now;
    return signal;
}

// The window runs from the last accepted character of any bell, so a
// character of this bell right after another bell's is lost.
bool WatchLoop::take_chars(const char* chars, std::int32_t count, std::int64_t event_us) {
    event_us_ = event_us;
    if (!past_bounce()) return false;
    if (settings_.monitor_output) report_taken(false, count);
    last_event_us_ = event_us_;
    bool ours = false;
    for (std::int32_t i = 0; i < count; ++i)
        if (chars[i] == settings_.data_char) ours = true;
    return ours;
}

std::int64_t WatchLoop::take_arrival() {
    const std::int64_t arrival = byte_arrival_us_;
    byte_arrival_us_ = -1;
    return arrival;
}

namespace {

void watch_signals(Context& c, WatchLoop& watch) {
    SerialState& ser = c.serial;
    (void)take_lost_port(c);
    (void)skip_overwritten_events(c);
    if (ser.last_ring_tail >= ser.ring_head.load(std::memory_order_acquire)) return;

    if (ser.last_ring_tail == 0) watch.start_lines(ser.event_status[0]);
    ++ser.last_ring_tail;
    watch.begin_event(ser.event_time_us[wrap_index(ser.last_ring_tail)]);
    ++ser.ring_tail;
    const std::uint32_t word = ser.event_status[wrap_index(ser.ring_tail)];
    for (int line = 0; line < WatchLoop::kLines; ++line)
        if (watch.watches(line) && watch.take_line(line, word)) schedule_outputs(c);
}

// The loop's wait watches the port, so the read takes what is there and
// never waits. A failed read is no character; failing reads for over a
// second are a port gone (take_lost_port, next pass).
std::int32_t read_data_byte(Context& c, char* into) {
    auto got = read_serial_byte(c, c.serial.port, into, 0);
    if (!got.ok()) {
        note_data_read_failure(c, got.error());
        return 0;
    }
    note_data_read_success(c);
    return got.value();
}

// A byte is stamped when the wait saw it arrive. The port is read only
// when the loop's wait did not rule a byte out (each read is a system call,
// and under Wine a round trip to its server), or while reads fail, so that
// a port gone is noticed.
void watch_data(Context& c, WatchLoop& watch) {
    (void)take_lost_port(c);
    const bool look = watch.look_at_port() || c.serial.failing_since_us >= 0;
    char ch = '\0';
    const std::int32_t count = look ? read_data_byte(c, &ch) : 0;
    const std::int64_t arrival = watch.take_arrival();
    if (count <= 0) return;
    if (watch.take_chars(&ch, count, arrival >= 0 ? arrival : elapsed_us(c))) schedule_outputs(c);
}

}  // namespace

bool watch_ports(Context& c) {
    WatchLoop& watch = c.strikes->watch();
    if (c.cfg.rest_on_mode)
        watch_data(c, watch);
    else
        watch_signals(c, watch);
    watch.end_event();
    return true;
}

}  // namespace qn
