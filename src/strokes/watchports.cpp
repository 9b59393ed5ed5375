#include "strokes/watchports.h"

#include "console/console_ui.h"
#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "serial/ports.h"
#include "serial/serial_thread.h"
#include "strokes/logs.h"
#include "strokes/outputs.h"

namespace qn {

namespace {

struct Line {
    bool use;
    std::uint32_t bit;
    bool& now;
    bool& before;
    bool off;
    const char* name;
};

void report_clash(Context& c) {
    StrokesState& s = c.strokes;
    ++s.missed_keys;
    c.run_log.write_line("***ERROR- thiseventimemicro clash - bell send will be skipped =" + str(s.event_us));
    full_window(c);
    c.screen.move_to(1, kScratchFirstLine);
    c.screen.write("A keysend was skipped due to delays: Computer lacks power, or is overloaded, or focus lost");
    c.run_log.write_line(
        "i.e. A keysend was skipped due to delays: Computer lacks power, or is overloaded, or focus lost");
    if (s.missed_keys > 0) {
        c.screen.move_to(8, 25);
        c.screen.write("SendMiss=" + str(s.missed_keys));
    }
}

bool key_action(const Context& c, bool previous, bool now) {
    const bool released = previous && !now;
    return (c.cfg.signal_starts_off != released) || (c.cfg.off_and_on_are_signals && now != previous);
}

void take_line_event(Context& c, Line& line, std::uint32_t word) {
    StrokesState& s = c.strokes;
    line.now = (word & line.bit) != 0;
    if (c.cfg.monitor_output && line.now == line.before)
        c.run_log.write_line(std::string("**ERROR: a COM port state change seems to have been missed (") + line.name + ")");
    // Every edge inside the bounce window of the last accepted one is bounce.
    // (Letting an asserted edge through at once made a release that bounced
    // for longer than the serial thread's 2 ms re-check into a new strike.)
    // Calibration treats a gap shorter than the window the same way.
    bool accept = s.event_us - s.last_event_us > multiply_int64(c.cfg.switch_bounce_ms, 1000);
    if (!accept) return;
    if (c.cfg.monitor_output) log_signal_event(c, line.now == line.off);
    s.last_event_us = s.event_us;
    if (key_action(c, line.before, line.now)) schedule_outputs(c);
    line.before = line.now;
}

void watch_signals(Context& c) {
    SerialState& ser = c.serial;
    StrokesState& s = c.strokes;
    (void)take_lost_port(c);
    (void)skip_overwritten_events(c);
    if (ser.last_ring_tail >= ser.ring_head.load(std::memory_order_acquire)) return;

    Line lines[] = {
        {c.cfg.use_cts, platform::kLineCts, s.cts_on, s.cts_was_on, s.cts_off, "cts"},
        {c.cfg.use_dsr, platform::kLineDsr, s.dsr_on, s.dsr_was_on, s.dsr_off, "dsr"},
        {c.cfg.use_cd, platform::kLineCd, s.cd_on, s.cd_was_on, s.cd_off, "cd"},
        {c.cfg.use_ri, platform::kLineRi, s.ri_on, s.ri_was_on, s.ri_off, "ri"},
    };
    if (ser.last_ring_tail == 0)
        for (Line& l : lines)
            if (l.use) l.before = (ser.event_status[0] & l.bit) != 0;

    ++ser.last_ring_tail;
    if (s.event_us != kNoEventTime) report_clash(c);
    s.event_us = ser.event_time_us[wrap_index(ser.last_ring_tail)];
    ++ser.ring_tail;
    const std::uint32_t word = ser.event_status[wrap_index(ser.ring_tail)];
    for (Line& l : lines)
        if (l.use) take_line_event(c, l, word);
}

// The loop's wait watches the port, so the read takes what is there and
// never waits. A failed read is no character; failing reads for over a
// second are a port gone (take_lost_port, next pass).
std::int32_t read_data_byte(Context& c) {
    StrokesState& s = c.strokes;
    auto got = read_serial_byte(c, c.serial.port, &s.chars[1], 0);
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
void watch_data(Context& c) {
    StrokesState& s = c.strokes;
    (void)take_lost_port(c);
    const bool look = s.port_may_have_byte || c.serial.failing_since_us >= 0;
    s.char_count = look ? read_data_byte(c) : 0;
    s.data_char_seen = false;
    const std::int64_t arrival = s.byte_arrival_us;
    s.byte_arrival_us = -1;
    if (s.char_count > 0) {
        s.event_us = arrival >= 0 ? arrival : elapsed_us(c);
        // The window runs from the last accepted character of any bell, so a
        // character of this bell right after another bell's is lost.
        if (s.event_us - s.last_event_us > multiply_int64(c.cfg.switch_bounce_ms, 1000)) {
            if (c.cfg.monitor_output) log_data_event(c, s.char_count);
            s.last_event_us = s.event_us;
            for (std::int32_t i = 1; i <= s.char_count; ++i)
                if (s.chars[i] == c.cfg.data_char) s.data_char_seen = true;
        }
    }
    if (!s.data_char_seen) s.char_count = 0;
    if (s.char_count > 0) schedule_outputs(c);
}

}  // namespace

bool watch_ports(Context& c) {
    if (c.cfg.rest_on_mode)
        watch_data(c);
    else
        watch_signals(c);
    c.strokes.event_us = kNoEventTime;
    return true;
}

}  // namespace qn
