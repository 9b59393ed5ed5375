// Calibration: which port and lines the bell is on, how many sensors it
// has and how long its signals are. It asks the ringer through the dialog,
// writes the run log, fills the settings, and reaches the program around it
// only through CalibrationHost.
#pragma once

#include <cstdint>

#include "core/arr.h"
#include "config/settings.h"
#include "core/dialog.h"
#include "core/modem_line.h"
#include "core/text_sink.h"
#include "serial/event_ring.h"
#include "serial/ports.h"

namespace qn {

// What calibration needs of the program besides the dialog, the log, the
// settings and the ports.
class CalibrationHost {
public:
    virtual ~CalibrationHost() = default;
    virtual std::int64_t now_us() = 0;
    virtual std::int64_t now_ms() = 0;
    // Waits up to ms, or until one of the wake sources fires.
    virtual void wait_ms(std::int32_t ms, std::uint32_t sources) = 0;
    // Shows the screen; true when a key is waiting (it stays unread).
    virtual bool key_waiting() = 0;
    virtual bool keyboard_closed() = 0;
    // The serial thread on port h, watching lines; and a ring emptied for a
    // new recording.
    virtual void start_serial_thread(PortHandle h, const PerModemLine<bool>& lines) = 0;
    virtual void reset_event_ring() = 0;
};

using PortLineStates = Arr<char, 0, kMaxCalibrationEvents>;

struct CalibrationState {
    Arr<PerModemLine<bool>, 1, kMaxSerialPorts> was_on;    // each port's lines at the event before
    Arr<PerModemLine<bool>, 1, kMaxSerialPorts> use_line;  // the lines that changed at its first event
    Arr<bool, 1, kMaxSerialPorts> use_data;
    Arr<Arr<char, 1, 255>, 1, kMaxSerialPorts> port_chars;
    Arr<std::int32_t, 1, kMaxSerialPorts> char_counts;
    std::int32_t current_port = 0;
    // Ports whose modem lines cannot be read: only an interface box can be on them.
    Arr<bool, 1, kMaxSerialPorts> lines_unreadable;

    Arr<std::uint32_t, 1, kMaxSerialPorts> initial_status, status_now;
    Arr<PerModemLine<bool>, 1, kMaxSerialPorts> on;  // each port's lines now
    Arr<std::int32_t, 1, kMaxSerialPorts> signal_counts;
    Arr<Arr<std::int64_t, 1, kMaxCalibrationEvents>, 1, kMaxSerialPorts> event_us;
    // Each port's lines at each event, as 'T' and 'F'.
    Arr<PerModemLine<PortLineStates>, 1, kMaxSerialPorts> line_states;
    Arr<bool, 1, kMaxSerialPorts> state_changed;
    PerModemLine<bool> live_lines;  // the lines that changed while the bell rang

    std::int32_t good_signals = 0;
    std::int64_t start_ms = 0;
    bool first_run = false;
    bool first_sensing = false;
    bool sensor_data_found = false;
    double max_interval_us = 0;

    // Locals of the detection shared with its steps.
    std::int32_t port_index = 0;
    std::int32_t signal_ports = 0, data_ports = 0;
    Arr<bool, 1, kMaxSerialPorts> signals_mode;
    std::int32_t passes = 0;
    bool detection_ok = false;
    char key = '\0';

    // The bytes of a port read while sensors are detected.
    Arr<char, 1, 255> chars;
    std::int32_t read_timeout_ms = 1;

    // Analysis working data.
    Arr<double, 1, kMaxCalibrationEvents> interval_us;
    Arr<double, 1, kMaxCalibrationEvents> adjusted_interval_us;
};

// One calibration: what it uses, and its working tables. Ports are numbered
// from 1 as the ringer is shown them.
struct Calibration {
    Dialog& dialog;
    TextSink& log;
    Settings& cfg;
    SensorPorts& ports;
    const EventRing& ring;
    CalibrationHost& host;
    bool easy_mode = true;  // the fuller screens
    CalibrationState calib;
};

}  // namespace qn
