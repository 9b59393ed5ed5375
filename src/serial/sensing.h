// Sensing's owner: the service port opened, the serial thread that watches
// its lines (signals mode) or data mode's reader of it, and a port lost.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "config/settings.h"
#include "core/dialog.h"
#include "core/modem_line.h"
#include "core/text_sink.h"
#include "core/timing.h"
#include "platform/serial.h"
#include "platform/threads.h"
#include "platform/wait.h"
#include "serial/event_ring.h"
#include "serial/ports.h"

namespace qn {

class SerialThread;

class Sensing {
public:
    // log: the run log, written from either thread. thread_start runs on
    // the serial thread before it watches (it asks for its scheduling).
    Sensing(SensorPorts& ports, EventRing& ring, RunClock& clock, const Settings& settings, TextSink& log,
            Dialog& dialog, platform::SerialPorts& serial, platform::Wait& wait, platform::Threads& threads,
            std::function<void()> thread_start);
    ~Sensing();
    Sensing(const Sensing&) = delete;
    Sensing& operator=(const Sensing&) = delete;

    // Opens the settings' port as the service port; a port that cannot be
    // opened ends the run (code 95).
    void open_service_port();
    // The serial thread on port h, watching lines, not yet started.
    SerialThread& make_thread(platform::PortHandle h, const PerModemLine<bool>& lines);
    // Starts the serial thread on port h, watching lines.
    void start_thread(platform::PortHandle h, const PerModemLine<bool>& lines);
    bool thread_running() const;
    // Null until made. It is never stopped: it ends with the process.
    SerialThread* thread() const { return thread_.get(); }
    // Empties the event ring for a new recording, the thread held meanwhile.
    void reset_ring();
    // Data mode's reader of the service port, made at its first use.
    DataPortReader& data_reader();
    // Where the service port was given up (0: it was not).
    std::int32_t port_lost_at() const;
    // The port has stopped answering: the ringer is told, then the run ends.
    [[noreturn]] void stop_on_bad_port(std::int32_t location);

    EventRing& ring() { return ring_; }

private:
    // The stopwatch exists only once the clock has started.
    SerialClock serial_clock() const;

    SensorPorts& ports_;
    EventRing& ring_;
    RunClock& clock_;
    const Settings& settings_;
    TextSink& log_;
    Dialog& dialog_;
    platform::SerialPorts& serial_;
    platform::Wait& wait_;
    platform::Threads& threads_;
    std::function<void()> thread_start_;
    std::unique_ptr<SerialThread> thread_;
    std::unique_ptr<DataPortReader> data_reader_;
};

}  // namespace qn
