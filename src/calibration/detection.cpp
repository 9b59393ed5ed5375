// Sensor detection: stage 1 finds the port and the input mode while the
// ringer rings; stage 2 records one handstroke and backstroke and counts the
// sensors from it.
#include "calibration/detection.h"

#include <algorithm>
#include <string>

#include "calibration/analysis.h"
#include "calibration/calibration.h"
#include "calibration/ports_check.h"
#include "core/text.h"

namespace qn {

namespace {

std::int32_t port_count(const Calibration& c) { return std::min<std::int32_t>(c.ports.count(), kMaxSerialPorts); }

PortHandle handle_of(const Calibration& c, std::int32_t i) { return c.ports.handle(i - 1); }

void clear_charbuff(Calibration& c) { c.calib.chars.fill('\0'); }

void both(Calibration& c, const std::string& line) {
    c.dialog.write_line(line);
    c.log.write_line(line);
}

// ---- stage 1 ----------------------------------------------------------------

[[noreturn]] void write_message_and_quit(Calibration& c, const std::string& message) {
    c.dialog.colour(kYellow);
    both(c, message);
    c.log.flush();
    c.dialog.pause_ms(4000);
    c.dialog.end_process(0);
}

// Empties every port, pass after pass, until a whole pass finds nothing.
void zero_rest_on_data(Calibration& c) {
    bool got_any = true;
    while (got_any) {
        got_any = false;
        clear_charbuff(c);
        for (std::int32_t i = 1; i <= port_count(c); ++i) {
            const PortHandle h = handle_of(c, i);
            if (h != 0 && c.ports.read_char(h, &c.calib.chars[1], c.calib.read_timeout_ms) > 0)
                got_any = true;
            c.calib.char_counts[i] = 0;
        }
    }
    clear_charbuff(c);
}

// One stage-1 poll of port i: has any line moved since the start?
void seek_signal_events(Calibration& c, std::int32_t i) {
    CalibrationState& k = c.calib;
    auto w = c.ports.system().modem_status(handle_of(c, i));
    if (!w.ok()) {
        // The port stopped answering (pulled out, or a virtual port that
        // answers only now and then): the bell may be on another one.
        both(c, "Port " + c.ports.name(i - 1) + " left out: its modem status cannot be read");
        c.log.write_line(w.error());
        c.ports.close_handle(i - 1);
        return;
    }
    k.status_now[i] = w.value();
    const std::uint32_t diff = k.status_now[i] ^ k.initial_status[i];
    if (diff == 0) return;
    k.signals_mode[i] = true;
    c.log.write("Signal data detected on port " + c.ports.name(i - 1));
    bool line_ended = false;
    auto line = [&](std::uint32_t bit, bool& changed, bool& live, const char* text) {
        if (!(diff & bit)) return;
        changed = true;
        c.log.write_line(text);
        line_ended = true;
        live = true;
    };
    for (ModemLine l : kModemLines)
        line(status_bit(l), k.on[i][l], k.live_lines[l], (std::string(" - signal ") + line_name(l)).c_str());
    if (!line_ended) c.log.newline();
}

void note_start_state(Calibration& c, std::int32_t i) {
    CalibrationState& k = c.calib;
    auto w = c.ports.system().modem_status(handle_of(c, i));
    k.initial_status[i] = w.value_or(0);
    c.log.write_line(str(i) + " serial handle =" + str_u(handle_of(c, i)) + " readable? " + bool_text(w.ok()) +
                       " portstatus " + str_u(k.initial_status[i]));
    k.status_now[i] = k.initial_status[i];
    const std::uint32_t word = k.initial_status[i];
    k.was_on[i] = lines_on(word);
    k.on[i] = k.was_on[i];
    zero_rest_on_port(c, i);
    k.signals_mode[i] = false;
}

// Steps 7 and 8: which ports showed line changes, which delivered a character.
void count_ports_per_mode(Calibration& c) {
    CalibrationState& k = c.calib;
    k.signal_ports = 0;
    k.data_ports = 0;
    for (std::int32_t i = 1; i <= port_count(c); ++i) {
        if (handle_of(c, i) == 0 || !k.signals_mode[i]) continue;
        both(c, "Signal data detected on port " + c.ports.name(i - 1));
        k.signal_ports += 1;
        c.cfg.signals_mode = true;
        k.port_index = i;
    }
    // Characters the box sent while the ringer rang are still waiting; the
    // first of them names the bell.
    for (std::int32_t i = 1; i <= port_count(c); ++i) {
        if (handle_of(c, i) == 0) continue;
        clear_charbuff(c);
        const std::int32_t got =
            c.ports.read_char(handle_of(c, i), &c.calib.chars[1], c.calib.read_timeout_ms);
        const char ch = c.calib.chars[1];
        if (got == 0 || ch == '\0') continue;
        c.cfg.data_char = ch;
        both(c, "Bagley data detected on port " + c.ports.name(i - 1) + " using character " + std::string(1, ch));
        k.data_ports += 1;
        c.cfg.rest_on_mode = true;
        k.port_index = i;
    }
}

void check_one_mode_one_port(Calibration& c) {
    const CalibrationState& k = c.calib;
    if (c.cfg.signals_mode && c.cfg.rest_on_mode)
        write_message_and_quit(c, "Program only allows either signal or data input but not both, terminating...");
    if (k.signal_ports > 1) write_message_and_quit(c, "Program only allows signals input on ONE COM port, terminating...");
    if (k.data_ports > 1) write_message_and_quit(c, "Program only allows data input on ONE COM port, terminating...");
    if (!c.cfg.signals_mode && !c.cfg.rest_on_mode)
        write_message_and_quit(c, "No signal or data input was received, terminating...");
}

// The prompt before a detection window; log_end tells the log which one.
void ring_once_prompt(Calibration& c, const std::string& log_end) {
    c.dialog.colour(kYellow);
    c.dialog.flush_keys();
    both(c, "NOW ring bell HAND and BACK  **ONCE** only");
    c.dialog.write_line("Then press any key, for the results, Q to terminate");
    c.log.write_line("Then press any key, for the results, Q to terminate" + log_end);
    c.dialog.colour(kWhite);
    c.dialog.write_line();
    c.log.flush();
}

void find_active_ports(Calibration& c) {
    CalibrationState& k = c.calib;
    Settings& cfg = c.cfg;
    cfg.off_and_on_are_signals = false;
    if (cfg.signals_mode && cfg.rest_on_mode) cfg.signals_mode = cfg.rest_on_mode = false;

    c.dialog.colour(kYellow);
    c.dialog.flush_keys();
    c.dialog.write_line("Make sure the bell is up and ready to ring, with sensor NOT active");
    c.dialog.write("then press any key [or Q to exit]");
    k.key = c.dialog.wait_key();
    c.dialog.write_line();

    for (std::int32_t i = 1; i <= port_count(c); ++i) note_start_state(c, i);
    k.live_lines.fill(false);
    // Lines kept from an older settings file would be made live when the
    // serial thread starts and could make it watch a line the bell is not on.
    cfg.use_line.fill(false);

    c.dialog.colour(kYellow);
    c.dialog.write_line("NOW ring the bell *Hand* and *Back*, and then press a key, or Q to Quit program");
    c.dialog.colour(kWhite);
    c.log.write_line("NOW ring the bell *Hand* and *Back*, and then press a key, or Q to Quit program");
    while (!c.host.key_waiting()) {
        for (std::int32_t i = 1; i <= port_count(c); ++i)
            if (handle_of(c, i) != 0 && !k.signals_mode[i] && !k.lines_unreadable[i])
                seek_signal_events(c, i);
        if (c.host.keyboard_closed()) c.dialog.end_for_closed_keyboard();
        // No thread watches the lines yet: they are read every millisecond.
        c.host.wait_ms(1, platform::kWakeConsole);
    }
    k.key = c.dialog.key_if_any();

    count_ports_per_mode(c);
    check_one_mode_one_port(c);
    if (cfg.rest_on_mode) zero_rest_on_data(c);
    c.dialog.colour(kYellow);
    both(c, "Stage 1 (mode detection) completed");
    if (cfg.signals_mode) c.host.start_serial_thread(handle_of(c, k.port_index), k.live_lines);
    ring_once_prompt(c, ", end of findactiveports");
}

// ---- stage 2 ----------------------------------------------------------------

// The detection window: polls until a key, or until the recording is
// complete in data mode.
void run_sensor_detection(Calibration& c) {
    CalibrationState& k = c.calib;
    const std::int32_t p = k.port_index;
    clear_charbuff(c);
    for (;;) {
        if (handle_of(c, p) != 0 && c.cfg.rest_on_mode)
            seek_serial_events(c, p);  // its 1 ms read time-out paces the loop
        else
            c.host.wait_ms(50, platform::kWakeEvent | platform::kWakeConsole);  // the serial thread records
        k.first_run = false;
        if (c.host.key_waiting()) {
            k.key = c.dialog.key_if_any();
            k.detection_ok = k.sensor_data_found;
            return;
        }
        if (termination_reasonable(c, p)) {
            k.detection_ok = k.sensor_data_found;
            return;
        }
    }
}

void detect_sensors(Calibration& c) {
    CalibrationState& k = c.calib;
    do {
        k.detection_ok = true;
        k.max_interval_us = 0;
        c.cfg.signal_count = 0;
        k.first_run = true;
        k.first_sensing = true;
        k.start_ms = c.host.now_ms();
        run_sensor_detection(c);
    } while (!k.detection_ok);
}

// Signals mode: a pass with the transient filter on, and when the thread
// recorded nothing at all, one more with it off.
void signal_passes(Calibration& c) {
    CalibrationState& k = c.calib;
    c.cfg.transient_ms = kDefaultTransientMs;
    for (k.passes = 1;; ++k.passes) {
        detect_sensors(c);
        if (c.ring.recorded() > 0) return;
        if (k.passes >= 2)
            c.dialog.halt(87, "\n\rNo sensor points detected - make pulses stronger/last longer -\r\n Press [ENTER] to Quit");
        c.cfg.transient_ms = 0;
        both(c, "Signals not detected - retrying with maximum sensistivity");
        ring_once_prompt(c, ", end of retry with max sensitivity");
    }
}

void assess_ring(Calibration& c) {
    CalibrationState& k = c.calib;
    const std::int32_t high = c.ring.recorded();
    for (std::int32_t slot = c.ring.taken(); slot <= high; ++slot)
        if (!assess_serial_event(c, k.port_index, slot)) c.dialog.write_line("No comm port data found for " + str(slot));
}

void handbell_question(Calibration& c) {
    c.dialog.flush_keys();
    c.dialog.write_line("Is this a handbell (ON/OFF sensing)? (Y/n)");
    const char key = c.dialog.wait_key();
    c.cfg.handbells = upper(key) != 'N';
    if (c.cfg.handbells) c.dialog.write_line("Using handbell settings");
}

// The number of sensors from the good events. True when acceptable: a whole
// number of them, and no more than the sensing-point tables hold (a longer
// recording is a chattering switch, not a bell with dozens of sensors).
bool judge_sensor_count(Calibration& c) {
    CalibrationState& k = c.calib;
    Settings& cfg = c.cfg;
    const std::int32_t p = k.port_index;
    const std::int32_t G = k.good_signals;
    if (G < 2) {
        c.log.write_line("Failed to detect sufficient signals, goodsigs<2 and =" + str(G));
        c.dialog.write_line("Failed to detect sufficient signals");
        return false;
    }
    if (!cfg.rest_on_mode) {
        if (G == 2) {
            if (k.event_us[p][2] - k.event_us[p][1] > 300000) {
                cfg.sensor_count = 1;
                cfg.off_and_on_are_signals = true;
                both(c, "Using ON and OFF sensoring on a single sensor");
                handbell_question(c);
                return true;
            }
            both(c, "Only one sensor point detected");
            return false;
        }
        cfg.sensor_count = G / 4;
        both(c, "Total ON pulses:" + str(G / 2) + " implies " + fixed_text(G * 0.25, 8, 2) + " sensors on bell");
        return cfg.sensor_count * 4 == G && cfg.sensor_count <= kMaxSensors;
    }
    if (!k.use_data[p]) return false;
    cfg.sensor_count = G / 2;
    both(c, "Total pulses " + str(G) + " implies " + fixed_text(G * 0.5, 8, 2) + " sensors on bell");
    return cfg.sensor_count * 2 == G && cfg.sensor_count <= kMaxSensors;
}

void report_not_acceptable(Calibration& c) {
    both(c, "ERROR: The number of sensors on bell not a positive integer");
    both(c, "Possibly operator error, or actuation pulse being too short in duration, or switch on/off not clean");
    c.dialog.colour(kYellow);
    both(c, "The sensor calibration must be repeated - close the program to start againby pressing Q");
    c.dialog.colour(kWhite);
}

// Before a repeat: the earlier recording is thrown away, the ring included,
// so that what is judged next is the ringer's new pull.
void prepare_repeat(Calibration& c) {
    for (std::int32_t i = 1; i <= kMaxSerialPorts; ++i) {
        c.calib.signal_counts[i] = 0;
        c.calib.char_counts[i] = 0;
    }
    clear_charbuff(c);
    c.host.reset_event_ring();
    ring_once_prompt(c, "");
}

}  // namespace

void calibrate_sensors(Calibration& c, std::int32_t& current_port) {
    CalibrationState& k = c.calib;
    find_active_ports(c);
    clear_charbuff(c);
    for (;;) {
        if (c.cfg.rest_on_mode)
            detect_sensors(c);
        else
            signal_passes(c);
        assess_ring(c);

        both(c, "List Port inputs...");
        if (handle_of(c, k.port_index) != 0 && k.signal_counts[k.port_index] > 1) write_port_times_summary(c, k.port_index);
        c.dialog.write_line();
        current_port = k.port_index;

        if (judge_sensor_count(c)) {
            c.host.reset_event_ring();
            return;
        }
        report_not_acceptable(c);
        prepare_repeat(c);
    }
}

}  // namespace qn
