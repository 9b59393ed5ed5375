// Sensor detection: stage 1 finds the port and the input mode while the
// ringer rings; stage 2 records one handstroke and backstroke and counts the
// sensors from it.
#include <algorithm>
#include <string>

#include "calibration/calibration.h"
#include "core/text.h"

namespace qn {

Calibration::Calibration(Settings& settings, SensorPorts& ports, Sensing& sensing, RunClock& clock, Dialog& dialog,
                         TextSink& log, platform::Console& console, bool easy_mode)
    : cfg_(settings),
      ports_(ports),
      sensing_(sensing),
      clock_(clock),
      dialog_(dialog),
      log_(log),
      console_(console),
      easy_mode_(easy_mode),
      analysis_(settings, dialog, log) {}

std::int32_t Calibration::port_count() const { return std::min<std::int32_t>(ports_.count(), kMaxSerialPorts); }

void Calibration::both(const std::string& line) {
    dialog_.write_line(line);
    log_.write_line(line);
}

// Shows the screen; true when a key is waiting (it stays unread).
bool Calibration::key_waiting() {
    dialog_.show();
    return console_.key_waiting();
}

// ---- stage 1 ----------------------------------------------------------------

void Calibration::write_message_and_quit(const std::string& message) {
    dialog_.colour(kYellow);
    both(message);
    log_.flush();
    dialog_.pause_ms(4000);
    dialog_.end_process(0);
}

// Empties every port, pass after pass, until a whole pass finds nothing.
void Calibration::zero_rest_on_data() {
    bool got_any = true;
    while (got_any) {
        got_any = false;
        clear_chars();
        for (std::int32_t i = 0; i < port_count(); ++i) {
            const PortHandle h = handle_of(i);
            if (h != 0 && ports_.read_char(h, chars(), read_timeout_ms_) > 0)
                got_any = true;
        }
    }
    clear_chars();
}

// One stage-1 poll of port i: has any line moved since the start?
void Calibration::seek_signal_events(std::int32_t i) {
    auto w = ports_.system().modem_status(handle_of(i));
    if (!w.ok()) {
        // The port stopped answering (pulled out, or a virtual port that
        // answers only now and then): the bell may be on another one.
        both("Port " + ports_.name(i) + " left out: its modem status cannot be read");
        log_.write_line(w.error());
        ports_.close_handle(i);
        return;
    }
    status_now_[at(i)] = w.value();
    const std::uint32_t diff = status_now_[at(i)] ^ initial_status_[at(i)];
    if (diff == 0) return;
    signals_mode_[at(i)] = true;
    log_.write("Signal data detected on port " + ports_.name(i));
    bool line_ended = false;
    auto line = [&](std::uint32_t bit, bool& changed, bool& live, const char* text) {
        if (!(diff & bit)) return;
        changed = true;
        log_.write_line(text);
        line_ended = true;
        live = true;
    };
    for (ModemLine l : kModemLines)
        line(status_bit(l), on_[at(i)][l], live_lines_[l], (std::string(" - signal ") + line_name(l)).c_str());
    if (!line_ended) log_.newline();
}

void Calibration::note_start_state(std::int32_t i) {
    auto w = ports_.system().modem_status(handle_of(i));
    initial_status_[at(i)] = w.value_or(0);
    log_.write_line(str(i + 1) + " serial handle =" + str_u(handle_of(i)) + " readable? " + bool_text(w.ok()) +
                       " portstatus " + str_u(initial_status_[at(i)]));
    status_now_[at(i)] = initial_status_[at(i)];
    const std::uint32_t word = initial_status_[at(i)];
    was_on_[at(i)] = lines_on(word);
    on_[at(i)] = was_on_[at(i)];
    zero_rest_on_port(i);
    signals_mode_[at(i)] = false;
}

// Steps 7 and 8: which ports showed line changes, which delivered a character.
void Calibration::count_ports_per_mode() {
    signal_ports_ = 0;
    data_ports_ = 0;
    for (std::int32_t i = 0; i < port_count(); ++i) {
        if (handle_of(i) == 0 || !signals_mode_[at(i)]) continue;
        both("Signal data detected on port " + ports_.name(i));
        signal_ports_ += 1;
        cfg_.signals_mode = true;
        port_index_ = i;
    }
    // Characters the box sent while the ringer rang are still waiting; the
    // first of them names the bell.
    for (std::int32_t i = 0; i < port_count(); ++i) {
        if (handle_of(i) == 0) continue;
        clear_chars();
        const std::int32_t got =
            ports_.read_char(handle_of(i), chars(), read_timeout_ms_);
        const char ch = chars_[0];
        if (got == 0 || ch == '\0') continue;
        cfg_.data_char = ch;
        both("Bagley data detected on port " + ports_.name(i) + " using character " + std::string(1, ch));
        data_ports_ += 1;
        cfg_.rest_on_mode = true;
        port_index_ = i;
    }
}

void Calibration::check_one_mode_one_port() {
    if (cfg_.signals_mode && cfg_.rest_on_mode)
        write_message_and_quit("Program only allows either signal or data input but not both, terminating...");
    if (signal_ports_ > 1) write_message_and_quit("Program only allows signals input on ONE COM port, terminating...");
    if (data_ports_ > 1) write_message_and_quit("Program only allows data input on ONE COM port, terminating...");
    if (!cfg_.signals_mode && !cfg_.rest_on_mode)
        write_message_and_quit("No signal or data input was received, terminating...");
}

// The prompt before a detection window; log_end tells the log which one.
void Calibration::ring_once_prompt(const std::string& log_end) {
    dialog_.colour(kYellow);
    dialog_.flush_keys();
    both("NOW ring bell HAND and BACK  **ONCE** only");
    dialog_.write_line("Then press any key, for the results, Q to terminate");
    log_.write_line("Then press any key, for the results, Q to terminate" + log_end);
    dialog_.colour(kWhite);
    dialog_.write_line();
    log_.flush();
}

void Calibration::find_active_ports() {
    cfg_.off_and_on_are_signals = false;
    if (cfg_.signals_mode && cfg_.rest_on_mode) cfg_.signals_mode = cfg_.rest_on_mode = false;

    dialog_.colour(kYellow);
    dialog_.flush_keys();
    dialog_.write_line("Make sure the bell is up and ready to ring, with sensor NOT active");
    dialog_.write("then press any key [or Q to exit]");
    (void)dialog_.wait_key();
    dialog_.write_line();

    for (std::int32_t i = 0; i < port_count(); ++i) note_start_state(i);
    live_lines_.fill(false);
    // Lines kept from an older settings file would be made live when the
    // serial thread starts and could make it watch a line the bell is not on.
    cfg_.use_line.fill(false);

    dialog_.colour(kYellow);
    dialog_.write_line("NOW ring the bell *Hand* and *Back*, and then press a key, or Q to Quit program");
    dialog_.colour(kWhite);
    log_.write_line("NOW ring the bell *Hand* and *Back*, and then press a key, or Q to Quit program");
    while (!key_waiting()) {
        for (std::int32_t i = 0; i < port_count(); ++i)
            if (handle_of(i) != 0 && !signals_mode_[at(i)] && !lines_unreadable_[at(i)])
                seek_signal_events(i);
        if (console_.input_ended()) dialog_.end_for_closed_keyboard();
        // No thread watches the lines yet: they are read every millisecond.
        clock_.wait_ms(1, platform::kWakeConsole);
    }
    (void)dialog_.key_if_any();

    count_ports_per_mode();
    check_one_mode_one_port();
    if (cfg_.rest_on_mode) zero_rest_on_data();
    dialog_.colour(kYellow);
    both("Stage 1 (mode detection) completed");
    if (cfg_.signals_mode) sensing_.start_thread(handle_of(port_index_), live_lines_);
    ring_once_prompt(", end of findactiveports");
}

// ---- stage 2 ----------------------------------------------------------------

// The detection window: polls until a key, or until the recording is
// complete in data mode.
void Calibration::run_sensor_detection() {
    const std::int32_t p = port_index_;
    clear_chars();
    for (;;) {
        if (handle_of(p) != 0 && cfg_.rest_on_mode)
            seek_serial_events(p);  // its 1 ms read time-out paces the loop
        else
            clock_.wait_ms(50, platform::kWakeEvent | platform::kWakeConsole);  // the serial thread records
        first_run_ = false;
        if (key_waiting()) {
            (void)dialog_.key_if_any();
            detection_ok_ = sensor_data_found_;
            return;
        }
        if (termination_reasonable(p)) {
            detection_ok_ = sensor_data_found_;
            return;
        }
    }
}

void Calibration::detect_sensors() {
    do {
        detection_ok_ = true;
        cfg_.signal_count = 0;
        first_run_ = true;
        first_sensing_ = true;
        start_ms_ = clock_.elapsed_ms();
        run_sensor_detection();
    } while (!detection_ok_);
}

// Signals mode: a pass with the transient filter on, and when the thread
// recorded nothing at all, one more with it off.
void Calibration::signal_passes() {
    cfg_.transient_ms = kDefaultTransientMs;
    for (std::int32_t passes = 1;; ++passes) {
        detect_sensors();
        if (sensing_.ring().recorded() > 0) return;
        if (passes >= 2)
            dialog_.halt(87, "\n\rNo sensor points detected - make pulses stronger/last longer -\r\n Press [ENTER] to Quit");
        cfg_.transient_ms = 0;
        both("Signals not detected - retrying with maximum sensistivity");
        ring_once_prompt(", end of retry with max sensitivity");
    }
}

void Calibration::assess_ring() {
    const std::int32_t high = sensing_.ring().recorded();
    for (std::int32_t slot = sensing_.ring().taken(); slot <= high; ++slot)
        if (!assess_serial_event(port_index_, slot)) dialog_.write_line("No comm port data found for " + str(slot));
}

void Calibration::handbell_question() {
    dialog_.flush_keys();
    dialog_.write_line("Is this a handbell (ON/OFF sensing)? (Y/n)");
    const char key = dialog_.wait_key();
    cfg_.handbells = upper(key) != 'N';
    if (cfg_.handbells) dialog_.write_line("Using handbell settings");
}

// The number of sensors from the good events. True when acceptable: a whole
// number of them, and no more than the sensing-point tables hold (a longer
// recording is a chattering switch, not a bell with dozens of sensors).
bool Calibration::judge_sensor_count() {
    const std::int32_t p = port_index_;
    const std::int32_t G = good_signals_;
    if (G < 2) {
        log_.write_line("Failed to detect sufficient signals, goodsigs<2 and =" + str(G));
        dialog_.write_line("Failed to detect sufficient signals");
        return false;
    }
    if (!cfg_.rest_on_mode) {
        if (G == 2) {
            if (recordings_[at(p)].event_us[1] - recordings_[at(p)].event_us[0] > 300000) {
                cfg_.sensor_count = 1;
                cfg_.off_and_on_are_signals = true;
                both("Using ON and OFF sensoring on a single sensor");
                handbell_question();
                return true;
            }
            both("Only one sensor point detected");
            return false;
        }
        cfg_.sensor_count = G / 4;
        both("Total ON pulses:" + str(G / 2) + " implies " + fixed_text(G * 0.25, 8, 2) + " sensors on bell");
        return cfg_.sensor_count * 4 == G && cfg_.sensor_count <= kMaxSensors;
    }
    if (!use_data_[at(p)]) return false;
    cfg_.sensor_count = G / 2;
    both("Total pulses " + str(G) + " implies " + fixed_text(G * 0.5, 8, 2) + " sensors on bell");
    return cfg_.sensor_count * 2 == G && cfg_.sensor_count <= kMaxSensors;
}

void Calibration::report_not_acceptable() {
    both("ERROR: The number of sensors on bell not a positive integer");
    both("Possibly operator error, or actuation pulse being too short in duration, or switch on/off not clean");
    dialog_.colour(kYellow);
    both("The sensor calibration must be repeated - close the program to start againby pressing Q");
    dialog_.colour(kWhite);
}

// Before a repeat: the earlier recording is thrown away, the ring included,
// so that what is judged next is the ringer's new pull.
void Calibration::prepare_repeat() {
    for (PortRecording& r : recordings_) r.count = 0;
    clear_chars();
    sensing_.reset_ring();
    ring_once_prompt("");
}

void Calibration::calibrate_sensors() {
    find_active_ports();
    clear_chars();
    for (;;) {
        if (cfg_.rest_on_mode)
            detect_sensors();
        else
            signal_passes();
        assess_ring();

        both("List Port inputs...");
        const PortRecording& recording = recordings_[at(port_index_)];
        if (handle_of(port_index_) != 0 && recording.count > 1)
            good_signals_ = analysis_.analyse(recording, live_lines_, port_index_ + 1, ports_.name(port_index_));
        dialog_.write_line();

        if (judge_sensor_count()) {
            sensing_.reset_ring();
            return;
        }
        report_not_acceptable();
        prepare_repeat();
    }
}

}  // namespace qn
