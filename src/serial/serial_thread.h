// The serial thread: it waits on the port's modem lines, stamps each change
// with the stopwatch, filters bounce and transients, puts the events in the
// event ring and wakes the service loop. It is given what it uses and
// nothing else, and it is never stopped: it ends with the process.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "core/dialog.h"
#include "core/modem_line.h"
#include "core/text_sink.h"
#include "platform/serial.h"
#include "platform/threads.h"
#include "serial/event_ring.h"
#include "serial/port_failures.h"
#include "serial/serial_clock.h"

namespace qn {

// The port the thread watches.
struct WatchedPort {
    platform::SerialPorts& ports;
    platform::PortHandle handle = 0;
};

// What the thread is told to watch.
struct SerialThreadSettings {
    PerModemLine<bool> lines;  // the lines in use
    // The re-check window of a change from rest (0: none); it may change
    // while the thread runs.
    const std::atomic<std::int32_t>* transient_ms = nullptr;
};

class SerialThread {
public:
    // log: a sink whose lines are whole and may be written from any thread.
    // wake: the service loop's wait, signalled for each event published.
    SerialThread(WatchedPort port, SerialClock clock, EventRing& ring, platform::Wait& wake, TextSink& log,
                 SerialThreadSettings settings);

    // The thread's body: the start steps, then one event after another until
    // the port is lost or end() was called.
    void run();
    // The start steps, so tests can drive the thread on a fake port and clock.
    void start_watching();
    // Waits for one line change and records or omits it. Returns false when
    // the thread should end (ended, or the port is lost).
    bool take_event();

    // Ends the thread at its next line change.
    void end() { ended_ = true; }
    bool running() const { return running_.load(); }
    // Where the port was given up (0: it was not).
    std::int32_t lost_at() const { return failures_.lost_at(); }

    // The OS thread it runs on, once started.
    void set_os_thread(const platform::ThreadInfo& t) { os_thread_ = t; }
    platform::ThreadHandle os_thread() const { return os_thread_.handle; }
    std::uint32_t os_thread_id() const { return os_thread_.id; }

    std::uint32_t event_mask() const { return event_mask_; }
    std::uint32_t watched_line() const { return watched_line_; }
    std::uint32_t last_status() const { return last_status_; }
    platform::PortHandle port() const { return port_.handle; }

private:
    void choose_lines();
    bool status_failed(const std::string& error);
    void recheck_transient(LineEvent& e, std::int32_t transient_ms, std::uint32_t& status);

    WatchedPort port_;
    SerialClock clock_;
    EventRing& ring_;
    platform::Wait& wake_;
    TextSink& log_;
    SerialThreadSettings settings_;
    PortFailures failures_;

    std::atomic<bool> running_{false};
    std::atomic<bool> ended_{false};
    platform::ThreadInfo os_thread_{};
    std::uint32_t event_mask_ = 0;
    std::uint32_t watched_line_ = 0;
    std::uint32_t last_status_ = 0;
};

// Starts run() on a thread of its own at time-critical priority, with log
// lines of its start; before_run runs first on the new thread (its own
// scheduling request). A thread that cannot be made ends the run (code 95).
void launch_serial_thread(SerialThread& thread, platform::Threads& threads, TextSink& log, Dialog& dialog,
                          const Stopwatch& stopwatch, std::function<void()> before_run);

// Empties the ring with the thread (if any) held, so a new recording starts.
void clear_event_ring(EventRing& ring, SerialThread* thread, platform::Threads& threads, TextSink& log);

// A reader far behind moves on to the oldest intact event; the loss is logged.
std::int32_t skip_overwritten_events(EventRing& ring, TextSink& log);

}  // namespace qn
