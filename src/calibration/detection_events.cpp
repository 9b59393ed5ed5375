// Stage-2 events of sensor detection: ring slots recorded by the serial
// thread (signals mode), characters polled from the port (data mode), and
// the end of a detection window.
#include <string>

#include "calibration/analysis.h"
#include "calibration/calibration.h"
#include "calibration/detection.h"
#include "calibration/ports_check.h"
#include "core/text.h"
#include "strokes/outputs.h"

namespace qn {

namespace {

void set_previous_to_current(CalibrationState& k, std::int32_t p) { k.was_on[p] = k.on[p]; }

bool lines_differ(const CalibrationState& k, std::int32_t p) { return k.on[p] != k.was_on[p]; }

// The lines that changed at the port's first event are the ones in use.
void mark_lines_in_use(CalibrationState& k, std::int32_t p) {
    for (ModemLine l : kModemLines)
        if (k.on[p][l] != k.was_on[p][l]) k.use_line[p][l] = true;
}

bool line_in_use_changed(const CalibrationState& k, std::int32_t p) {
    for (ModemLine l : kModemLines)
        if (k.use_line[p][l] && k.on[p][l] != k.was_on[p][l]) return true;
    return false;
}

void decode_status(CalibrationState& k, std::int32_t p, std::uint32_t w) { k.on[p] = lines_on(w); }

void record_states_at(CalibrationState& k, std::int32_t p, std::int32_t pos) {
    for (ModemLine l : kModemLines) k.line_states[p][l][pos] = line_char(k.on[p][l]);
}

[[noreturn]] void too_many_events(Calibration& c) {
    c.dialog.halt(88, "Too many sensor events: Usually means bad sensors - press [ENTER] to quit");
}

// Counts one event of port p; the tables hold kMaxCalibrationEvents of them.
std::int32_t count_event(Calibration& c, std::int32_t p) {
    if (c.calib.signal_counts[p] >= kMaxCalibrationEvents) too_many_events(c);
    c.cfg.signal_count += 1;
    return ++c.calib.signal_counts[p];
}

void uncount_event(Calibration& c, std::int32_t p) {
    c.cfg.signal_count -= 1;
    c.calib.signal_counts[p] -= 1;
}

// The start status of the ring: the rest state of the lines.
void assess_start_slot(Calibration& c, std::int32_t P) {
    CalibrationState& k = c.calib;
    set_previous_to_current(k, P);
    c.cfg.signal_starts_off = true;
    auto rest_on = [&](bool live, bool on, const char* name) {
        if (!live || !on) return;
        c.log.write_line(std::string("Initial ") + name + " state is ON");
        c.cfg.signal_starts_off = false;
    };
    for (ModemLine l : kModemLines) rest_on(k.live_lines[l], k.on[P][l], line_name(l));
    record_states_at(k, P, 0);
    k.signal_counts[P] = 0;
}

// Data mode: the port's received characters leave the scratch buffer for
// the port's own row.
void empty_chars(Calibration& c) {
    auto& b = c.calib.chars;
    for (long i = b.lo; i <= b.hi && b[i] != '\0'; ++i) b[i] = '\0';
}

void save_port_chars(Calibration& c, std::int32_t P) {
    auto& from = c.calib.chars;
    auto& to = c.calib.port_chars[P];
    for (long i = from.lo; i <= from.hi; ++i) {
        to[i] = from[i];
        if (from[i] == '\0') break;
        from[i] = '\0';
    }
}

void first_data_event(Calibration& c, std::int32_t P, bool got, char ch, std::int64_t now) {
    CalibrationState& k = c.calib;
    c.log.write_line("New serial port found");
    k.event_us[P][1] = now;
    if (got) {
        k.use_data[P] = true;
        c.log.write_line(std::string(1, c.cfg.data_char) + "usedatinputchar=" + std::string(1, ch));
        c.cfg.data_char = ch;
        zero_rest_on_port(c, P);
        write_port_times_data(c, P);
    }
    if (c.easy_mode) {
        mark_lines_in_use(k, P);
        set_previous_to_current(k, P);
        write_port_times_signals(c, P);
    }
}

}  // namespace

bool assess_serial_event(Calibration& c, std::int32_t p, std::int32_t slot) {
    CalibrationState& k = c.calib;
    const EventRing& ring = c.ring;
    const std::int32_t high = ring.recorded();
    if (slot > high || c.cfg.rest_on_mode) return false;
    // Every slot is an event of this port: beyond the per-port tables (and
    // long before the ring could wrap) the recording is not a bell.
    if (slot > kEventRingSize || slot > kMaxCalibrationEvents) too_many_events(c);

    k.status_now[p] = ring.event(slot).status;
    if (slot > 0) set_previous_to_current(k, p);
    decode_status(k, p, k.status_now[p]);
    record_states_at(k, p, slot);
    if (slot == 0) {
        assess_start_slot(c, p);
        return true;
    }

    if (k.first_sensing) {
        k.start_ms = ring.event(slot).time_us / 1000;
        k.first_sensing = false;
    }
    const std::int32_t n = count_event(c, p);
    if (n == 1) {
        k.event_us[p][1] = ring.event(slot).time_us;
        mark_lines_in_use(k, p);
        set_previous_to_current(k, p);
        write_port_times_signals(c, p);
    } else if (line_in_use_changed(k, p)) {
        k.event_us[p][n] = ring.event(slot).time_us;
        set_previous_to_current(k, p);
        write_port_times_signals(c, p);
    } else {
        // No line in use changed: the event has no time to analyse, and a
        // count without a time would be read as an event at time 0.
        uncount_event(c, p);
    }
    return true;
}

void seek_serial_events(Calibration& c, std::int32_t P) {
    CalibrationState& k = c.calib;
    const PortHandle h = c.ports.handle(P - 1);
    empty_chars(c);
    const std::int32_t got =
        h != 0 ? c.ports.read_char(h, &c.calib.chars[1], c.calib.read_timeout_ms) : 0;
    k.char_counts[P] = got;
    save_port_chars(c, P);

    // Whatever stage 1 left in the port is not part of this recording.
    if (k.first_run) {
        zero_rest_on_port(c, P);
        return;
    }
    const bool has_char = got > 0 && k.port_chars[P][1] != '\0';
    k.state_changed[P] = has_char || lines_differ(k, P);
    if (!k.state_changed[P]) return;
    const char ch = has_char ? k.port_chars[P][1] : '\0';
    // After the first event only the bell's own character is an event: other
    // bells of the box and line changes have no time in the tables.
    if (k.signal_counts[P] >= 1 && !(has_char && ch == c.cfg.data_char)) return;

    // Taken before the port is emptied, so that every event is stamped with
    // the time its character was read.
    const std::int64_t now = c.host.now_us();
    if (k.first_sensing) {
        k.start_ms = now / 1000;
        k.first_sensing = false;
    }
    const std::int32_t n = count_event(c, P);
    if (n == 1) {
        first_data_event(c, P, has_char, ch, now);
        return;
    }
    zero_rest_on_port(c, P);
    k.event_us[P][n] = now;
    if (now - k.event_us[P][n - 1] < 2000) {
        uncount_event(c, P);  // the box sent the character twice
        return;
    }
    write_port_times_data(c, P);
}

bool termination_reasonable(Calibration& c, std::int32_t p) {
    CalibrationState& k = c.calib;
    k.sensor_data_found = true;
    if (c.ports.handle(p - 1) == 0) return false;
    const std::int64_t elapsed = c.host.now_ms() - k.start_ms;
    bool done = false;
    if (k.signal_counts[p] > 1 && elapsed > 6000) {
        c.dialog.write_line("Presumed calibrated");
        done = true;
    } else if (k.signal_counts[p] >= kMaxCalibrationEvents) {
        done = true;
    }
    if (!done && elapsed > 20000) {
        c.dialog.colour(kYellow);
        c.dialog.write_line("ERROR: No input detected from dumbbell after 20 secs:");
        c.dialog.write_line("Check Abel etc not running, & serial port connection is ok");
        c.log.write_line("ERROR: No input detected from dumbbell after 20 secs:");
        c.dialog.end_process(1);
    }
    // The stopwatch is left running: the serial thread, the watch loop and
    // the displays read it for the rest of the run.
    if (done) k.state_changed[p] = true;
    return done;
}

}  // namespace qn
