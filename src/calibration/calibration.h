// Calibration: which port and lines the bell is on, how many sensors it
// has and how long its signals are. It asks the ringer through the dialog,
// writes the run log and fills the settings.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "calibration/analysis.h"
#include "config/settings.h"
#include "core/dialog.h"
#include "core/modem_line.h"
#include "core/text_sink.h"
#include "core/timing.h"
#include "platform/console.h"
#include "serial/ports.h"
#include "serial/sensing.h"

namespace qn {

class Calibration {
public:
    // easy_mode: the fuller screens. Ports are numbered from 0 here and from
    // 1 where the ringer or the log is shown them.
    Calibration(Settings& settings, SensorPorts& ports, Sensing& sensing, RunClock& clock, Dialog& dialog,
                TextSink& log, platform::Console& console, bool easy_mode);

    // The whole of it: the port survey, then detection on the port the bell
    // is found on, which stays open as the service port; the settings get
    // the port, its lines, the mode and the results. A failure ends the run.
    void set_up_serial_ports();
    // The survey alone: each port opened and looked at; unusable ones closed.
    void check_available_ports();

    // What the last detection found.
    std::int32_t good_signals() const { return good_signals_; }
    const PortRecording& recording(std::int32_t port) const { return recordings_[at(port)]; }
    // The port's lines as the survey found them.
    const PerModemLine<bool>& lines_at_survey(std::int32_t port) const { return was_on_[at(port)]; }

private:
    static std::size_t at(std::int32_t port) { return static_cast<std::size_t>(port); }
    std::int32_t port_count() const;
    PortHandle handle_of(std::int32_t port) const { return ports_.handle(port); }
    void both(const std::string& line);
    bool key_waiting();
    [[noreturn]] void write_message_and_quit(const std::string& message);

    // The survey (ports_check.cpp).
    bool survey_port(std::int32_t port);
    void leave_out(std::int32_t port, const std::string& why);
    // Empties the port of what it holds.
    void zero_rest_on_port(std::int32_t port);
    char* chars() { return chars_.data(); }
    void clear_chars() { chars_.fill('\0'); }

    // Stage 1: the port and the mode (detection.cpp).
    void find_active_ports();
    void note_start_state(std::int32_t port);
    void seek_signal_events(std::int32_t port);
    void zero_rest_on_data();
    void count_ports_per_mode();
    void check_one_mode_one_port();
    void ring_once_prompt(const std::string& log_end);

    // Stage 2: the sensors (detection.cpp, detection_events.cpp).
    void calibrate_sensors();
    void signal_passes();
    void detect_sensors();
    void run_sensor_detection();
    void assess_ring();
    bool assess_serial_event(std::int32_t port, std::int32_t slot);
    void assess_start_slot(std::int32_t port);
    void seek_serial_events(std::int32_t port);
    void first_data_event(std::int32_t port, bool got, char ch, std::int64_t now_us);
    bool termination_reasonable(std::int32_t port);
    std::int32_t count_event(std::int32_t port);
    void uncount_event(std::int32_t port);
    [[noreturn]] void too_many_events();
    void mark_lines_in_use(std::int32_t port);
    bool line_in_use_changed(std::int32_t port) const;
    void record_states(std::int32_t port, std::int32_t slot);
    void keep_port_chars(std::int32_t port);
    void record_data_event(std::int32_t port);
    bool judge_sensor_count();
    void handbell_question();
    void report_not_acceptable();
    void prepare_repeat();

    Settings& cfg_;
    SensorPorts& ports_;
    Sensing& sensing_;
    RunClock& clock_;
    Dialog& dialog_;
    TextSink& log_;
    platform::Console& console_;
    bool easy_mode_;
    RecordingAnalysis analysis_;

    // Per port.
    std::array<PerModemLine<bool>, kMaxSerialPorts> was_on_{};    // its lines at the event before
    std::array<PerModemLine<bool>, kMaxSerialPorts> on_{};        // its lines now
    std::array<PerModemLine<bool>, kMaxSerialPorts> use_line_{};  // the lines that changed at its first event
    std::array<bool, kMaxSerialPorts> use_data_{};
    std::array<std::array<char, 255>, kMaxSerialPorts> port_chars_{};
    // Ports whose modem lines cannot be read: only an interface box can be on them.
    std::array<bool, kMaxSerialPorts> lines_unreadable_{};
    std::array<std::uint32_t, kMaxSerialPorts> initial_status_{}, status_now_{};
    std::array<PortRecording, kMaxSerialPorts> recordings_{};
    std::array<bool, kMaxSerialPorts> signals_mode_{};
    PerModemLine<bool> live_lines_{};  // the lines that changed while the bell rang

    std::int32_t port_index_ = 0;  // the bell's port
    std::int32_t signal_ports_ = 0, data_ports_ = 0;
    std::int32_t good_signals_ = 0;
    std::int64_t start_ms_ = 0;
    bool first_run_ = false;
    bool first_sensing_ = false;
    bool sensor_data_found_ = false;
    bool detection_ok_ = false;

    // The bytes of a port read while sensors are detected.
    std::array<char, 255> chars_{};
    std::int32_t read_timeout_ms_ = 1;
};

}  // namespace qn
