// Stage-2 events of sensor detection: ring slots recorded by the serial
// thread (signals mode), characters polled from the port (data mode), and
// the end of a detection window.
#include <string>

#include "calibration/calibration.h"
#include "core/text.h"
#include "core/modem_line.h"

namespace qn {

// The lines that changed at the port's first event are the ones in use.
void Calibration::mark_lines_in_use(std::int32_t p) {
    for (ModemLine l : kModemLines)
        if (on_[at(p)][l] != was_on_[at(p)][l]) use_line_[at(p)][l] = true;
}

bool Calibration::line_in_use_changed(std::int32_t p) const {
    for (ModemLine l : kModemLines)
        if (use_line_[at(p)][l] && on_[at(p)][l] != was_on_[at(p)][l]) return true;
    return false;
}

void Calibration::record_states(std::int32_t p, std::int32_t slot) {
    for (ModemLine l : kModemLines) recordings_[at(p)].line_states[l][slot] = line_char(on_[at(p)][l]);
}

void Calibration::too_many_events() {
    dialog_.halt(88, "Too many sensor events: Usually means bad sensors - press [ENTER] to quit");
}

// Counts one event of port p; the tables hold kMaxCalibrationEvents of them.
std::int32_t Calibration::count_event(std::int32_t p) {
    if (recordings_[at(p)].count >= kMaxCalibrationEvents) too_many_events();
    cfg_.signal_count += 1;
    return ++recordings_[at(p)].count;
}

void Calibration::uncount_event(std::int32_t p) {
    cfg_.signal_count -= 1;
    recordings_[at(p)].count -= 1;
}

// The start status of the ring: the rest state of the lines.
void Calibration::assess_start_slot(std::int32_t p) {
    was_on_[at(p)] = on_[at(p)];
    cfg_.signal_starts_off = true;
    auto rest_on = [&](bool live, bool on, const char* name) {
        if (!live || !on) return;
        log_.write_line(std::string("Initial ") + name + " state is ON");
        cfg_.signal_starts_off = false;
    };
    for (ModemLine l : kModemLines) rest_on(live_lines_[l], on_[at(p)][l], line_name(l));
    record_states(p, 0);
    recordings_[at(p)].count = 0;
}

// Data mode: the port's received characters leave the scratch buffer for
// the port's own row.
void Calibration::keep_port_chars(std::int32_t p) {
    auto& to = port_chars_[at(p)];
    for (std::size_t i = 0; i < chars_.size(); ++i) {
        to[i] = chars_[i];
        if (chars_[i] == '\0') break;
        chars_[i] = '\0';
    }
}

// A data-mode event keeps the port's line states under its number too, so
// every counted event has its entry in the state tables whatever the mode;
// with monitoring on, the event goes to the log as it is taken.
void Calibration::record_data_event(std::int32_t p) {
    const PortRecording& r = recordings_[at(p)];
    record_states(p, r.count);
    if (cfg_.monitor_output)
        log_.write_line("Data event " + str(r.count) + " port " + ports_.name(p) + " input=\"" +
                        std::string(1, cfg_.data_char) + "\" time(us)=" + str(r.event_us[r.count - 1]));
}

void Calibration::first_data_event(std::int32_t p, bool got, char ch, std::int64_t now) {
    log_.write_line("New serial port found");
    recordings_[at(p)].event_us[0] = now;
    if (got) {
        use_data_[at(p)] = true;
        log_.write_line(std::string(1, cfg_.data_char) + "usedatinputchar=" + std::string(1, ch));
        cfg_.data_char = ch;
        zero_rest_on_port(p);
        record_data_event(p);
    }
    if (easy_mode_) {
        mark_lines_in_use(p);
        was_on_[at(p)] = on_[at(p)];
        record_states(p, recordings_[at(p)].count);
    }
}

bool Calibration::assess_serial_event(std::int32_t p, std::int32_t slot) {
    const EventRing& ring = sensing_.ring();
    const std::int32_t high = ring.recorded();
    if (slot > high || cfg_.rest_on_mode) return false;
    // Every slot is an event of this port: beyond the per-port tables (and
    // long before the ring could wrap) the recording is not a bell.
    if (slot > kEventRingSize || slot > kMaxCalibrationEvents) too_many_events();

    status_now_[at(p)] = ring.event(slot).status;
    if (slot > 0) was_on_[at(p)] = on_[at(p)];
    on_[at(p)] = lines_on(status_now_[at(p)]);
    record_states(p, slot);
    if (slot == 0) {
        assess_start_slot(p);
        return true;
    }

    if (first_sensing_) {
        start_ms_ = ring.event(slot).time_us / 1000;
        first_sensing_ = false;
    }
    const std::int32_t n = count_event(p);
    if (n == 1) {
        recordings_[at(p)].event_us[0] = ring.event(slot).time_us;
        mark_lines_in_use(p);
        was_on_[at(p)] = on_[at(p)];
        record_states(p, recordings_[at(p)].count);
    } else if (line_in_use_changed(p)) {
        recordings_[at(p)].event_us[n - 1] = ring.event(slot).time_us;
        was_on_[at(p)] = on_[at(p)];
        record_states(p, recordings_[at(p)].count);
    } else {
        // No line in use changed: the event has no time to analyse, and a
        // count without a time would be read as an event at time 0.
        uncount_event(p);
    }
    return true;
}

void Calibration::seek_serial_events(std::int32_t p) {
    const PortHandle h = handle_of(p);
    clear_chars();
    const std::int32_t got =
        h != 0 ? ports_.read_char(h, chars(), read_timeout_ms_) : 0;
    keep_port_chars(p);

    // Whatever stage 1 left in the port is not part of this recording.
    if (first_run_) {
        zero_rest_on_port(p);
        return;
    }
    const bool has_char = got > 0 && port_chars_[at(p)][0] != '\0';
    if (!has_char && on_[at(p)] == was_on_[at(p)]) return;
    const char ch = has_char ? port_chars_[at(p)][0] : '\0';
    // After the first event only the bell's own character is an event: other
    // bells of the box and line changes have no time in the tables.
    if (recordings_[at(p)].count >= 1 && !(has_char && ch == cfg_.data_char)) return;

    // Taken before the port is emptied, so that every event is stamped with
    // the time its character was read.
    const std::int64_t now = clock_.elapsed_us();
    if (first_sensing_) {
        start_ms_ = now / 1000;
        first_sensing_ = false;
    }
    const std::int32_t n = count_event(p);
    if (n == 1) {
        first_data_event(p, has_char, ch, now);
        return;
    }
    zero_rest_on_port(p);
    recordings_[at(p)].event_us[n - 1] = now;
    if (now - recordings_[at(p)].event_us[n - 2] < 2000) {
        uncount_event(p);  // the box sent the character twice
        return;
    }
    record_data_event(p);
}

bool Calibration::termination_reasonable(std::int32_t p) {
    sensor_data_found_ = true;
    if (handle_of(p) == 0) return false;
    const std::int64_t elapsed = clock_.elapsed_ms() - start_ms_;
    bool done = false;
    if (recordings_[at(p)].count > 1 && elapsed > 6000) {
        dialog_.write_line("Presumed calibrated");
        done = true;
    } else if (recordings_[at(p)].count >= kMaxCalibrationEvents) {
        done = true;
    }
    if (!done && elapsed > 20000) {
        dialog_.colour(kYellow);
        dialog_.write_line("ERROR: No input detected from dumbbell after 20 secs:");
        dialog_.write_line("Check Abel etc not running, & serial port connection is ok");
        log_.write_line("ERROR: No input detected from dumbbell after 20 secs:");
        dialog_.end_process(1);
    }
    // The stopwatch is left running: the serial thread, the watch loop and
    // the displays read it for the rest of the run.
    return done;
}

}  // namespace qn
