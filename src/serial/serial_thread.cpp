#include "serial/serial_thread.h"

#include "console/console_ui.h"
#include "core/context.h"
#include "core/scheduling.h"
#include "core/text.h"
#include "core/timing.h"
#include "runlog/run_log_start.h"
#include "strokes/strike_path.h"

namespace qn {

using platform::kEventCts;
using platform::kEventDsr;
using platform::kEventRi;
using platform::kEventCd;

std::int32_t wrap_index(std::int32_t i) { return ((i - 1) % kEventRingSize) + 1; }

std::string WR(std::int32_t code) {
    switch (code) {
    case kShapeStartup: return "startup";
    case kShapeShort: return "shortsignal";
    case kShapeDropout: return "shortsignal dropout OMITTED";
    case kShapeInterference: return "shortsignal - presumed interference - OMITTED";
    default: return "";
    }
}

// ---- starting the thread ---------------------------------------------------

void start_serial_thread(Context& c, PortHandle h) {
    c.run_log.write_line("Start comm thread " + str(elapsed_ms(c)));
    c.serial.thread_port = h;
    auto t = c.plat.threads->create([&c] { run_serial_thread(c); });
    if (!t.ok()) {
        c.run_log.write_line(t.error());
        halt(c, 95, "Serial thread could not be started - " + t.error() + " press [ENTER] to quit");
    }
    c.serial.thread = t.value().handle;
    c.serial.thread_id = t.value().id;
    auto p = c.plat.threads->set_priority(t.value().handle, platform::kPriorityTimeCritical);
    if (!p.ok()) c.run_log.write_line("Comm thread runs at normal priority: " + p.error());
    auto got = c.plat.threads->get_priority(t.value().handle);
    c.run_log.write_line("Comm thread started " + str(elapsed_ms(c)) +
                       " priority=" + str(got.ok() ? got.value() : 0));
}

void serial_thread_start(Context& c) {
    SerialState& s = c.serial;
    const Settings& cfg = c.cfg;
    if (cfg.use_cts) s.cts_live = true;
    if (cfg.use_dsr) s.dsr_live = true;
    if (cfg.use_ri) s.ri_live = true;
    if (cfg.use_cd) s.cd_live = true;

    // One line is watched; when several are live the last of CTS, DSR, RI,
    // CD wins, as stored settings expect.
    s.event_mask = kEventCts | kEventDsr | kEventCd | kEventRi;
    s.watched_line = 0;
    if (s.cts_live) { s.event_mask = kEventCts; s.watched_line = platform::kLineCts; }
    if (s.dsr_live) { s.event_mask = kEventDsr; s.watched_line = platform::kLineDsr; }
    if (s.ri_live) { s.event_mask = kEventRi; s.watched_line = platform::kLineRi; }
    if (s.cd_live) { s.event_mask = kEventCd; s.watched_line = platform::kLineCd; }
    if (s.watched_line == 0)
        c.run_log.write_line("No sensor line selected - watching CTS, DSR, CD and RI; the first line to change is watched");

    start_serial_stopwatch(c);
    s.thread_running = true;
    auto m = c.plat.serial->set_mask(s.thread_port, s.event_mask);
    if (!m.ok()) c.run_log.write_line(m.error());
    s.ring_tail = 0;
    s.last_ring_tail = 0;

    s.event_time_us[0] = serial_elapsed_us(c);
    auto w = c.plat.serial->modem_status(s.thread_port);
    if (!w.ok()) c.run_log.write_line(w.error());
    s.event_status[0] = w.value_or(0);
    s.event_shape[0] = kShapeStartup;
    s.last_status = s.event_status[0];
    s.omitted_count = 0;
    c.run_log.flush();
}

// ---- failures of the port --------------------------------------------------

static constexpr std::int64_t kPortLostAfterMicro = 1000000;
static constexpr std::int64_t kFailureLogEveryMicro = 1000000;

// A pulled USB adapter makes every call fail at once. The failure is logged
// at most once a second (with a count of the ones not logged) and the caller
// naps a millisecond, so neither the time-critical thread nor a loop woken by
// a port in error can starve the machine.
static void note_failure(Context& c, const std::string& what, const std::string& error) {
    SerialState& s = c.serial;
    std::int64_t now = serial_elapsed_us(c);
    if (s.failure_logged_us < 0 || now - s.failure_logged_us >= kFailureLogEveryMicro) {
        c.run_log.write_line(what);
        c.run_log.write_line("  " + error +
                           (s.failures_unlogged > 0 ? " (" + str(s.failures_unlogged) + " failures not logged)" : ""));
        c.run_log.flush();
        s.failure_logged_us = now;
        s.failures_unlogged = 0;
    } else {
        ++s.failures_unlogged;
    }
    c.plat.threads->sleep_ms(1);
}

// A port that has failed without a break for more than a second is gone:
// the location is handed to the main thread (take_lost_port). True then.
static bool failing_too_long(Context& c, std::int32_t locn) {
    SerialState& s = c.serial;
    std::int64_t now = serial_elapsed_us(c);
    if (s.failing_since_us < 0) s.failing_since_us = now;
    if (now - s.failing_since_us <= kPortLostAfterMicro) return false;
    c.run_log.write_line("Serial port not responding locn " + str(locn));
    c.run_log.flush();
    s.port_lost_at = locn;
    c.plat.wait->signal();  // the loop stops the program now, not at its next pass
    return true;
}

// When the status word cannot be read for more than a second the port is
// gone. Returns false then.
static bool status_failed(Context& c, const std::string& error) {
    const bool lost = failing_too_long(c, 2);
    note_failure(c, "waitcommevent call failed", error);
    return !lost;
}

void note_data_read_failure(Context& c, const std::string& error) {
    if (c.serial.port_lost_at.load() != 0) return;
    (void)failing_too_long(c, 7);
    note_failure(c, "serial port read failed", error);
}

void note_data_read_success(Context& c) { c.serial.failing_since_us = -1; }

// ---- one event -------------------------------------------------------------

void record_omitted_event(Context& c, std::int32_t slot) {
    SerialState& s = c.serial;
    std::int32_t n = s.omitted_count.load();
    if (n < kEventRingSize) s.omitted_count = ++n;
    s.omitted_shape[n] = s.event_shape[slot];
    s.omitted_time_us[n] = s.event_time_us[slot];
    s.omitted_status[n] = s.event_status[slot];
}

static std::uint32_t first_changed_line(std::uint32_t a, std::uint32_t b) {
    std::uint32_t diff = a ^ b;
    for (std::uint32_t bit : {platform::kLineCts, platform::kLineDsr, platform::kLineCd, platform::kLineRi})
        if (diff & bit) return bit;
    return 0;
}

bool serial_thread_event(Context& c) {
    SerialState& s = c.serial;
    if (s.thread_ended) return false;
    platform::SerialPorts& port = *c.plat.serial;

    auto ev = port.wait_event(s.thread_port);
    if (s.thread_ended) return false;
    if (!ev.ok()) note_failure(c, "waitcommevent call failed", ev.error());

    // The next event's slot; the index is only ever raised by this thread.
    std::int32_t high = s.ring_head.load(std::memory_order_relaxed);
    std::int32_t slot = (high % kEventRingSize) + 1;
    s.event_time_us[slot] = serial_elapsed_us(c);
    auto st = port.modem_status(s.thread_port);
    if (!st.ok()) return status_failed(c, st.error());  // no true word, nothing to record
    s.failing_since_us = -1;
    std::uint32_t w = st.value();
    // After a failed wait the lines are polled: only a real change is an
    // event, or a wait that keeps failing would fill the ring with strikes
    // that never happened.
    if (!ev.ok() && w == s.last_status) return true;
    s.status = w;
    s.event_status[slot] = w;
    const std::uint32_t start = s.event_status[0];
    if (s.watched_line == 0) s.watched_line = first_changed_line(start, w);

    bool advance = true;
    if (w != start && w == s.last_status) {
        s.event_shape[slot] = kShapeDropout;
        record_omitted_event(c, slot);
        advance = false;
    } else {
        s.event_shape[slot] = kShapeNormal;
        const std::int32_t transient = c.cfg.transient_ms.load();
        if (transient > 0 && s.last_status == start) {
            // The re-check must hold to the microsecond: a precise timer
            // sleep (armed early, then spun) to just past the window, and
            // the stopwatch itself has the last word.
            const std::int64_t until = s.event_time_us[slot] + 1000LL * transient;
            sleep_until_micros(c, until + 1);
            while (serial_elapsed_us(c) <= until) {
            }
            auto again = port.modem_status(s.thread_port);
            if (again.ok()) w = again.value();
            s.event_status[slot] = w;
        }
        if (w == s.last_status) {
            if (transient == 0) {
                s.event_shape[slot] = kShapeShort;
                if (s.event_status[slot] == 0)
                    s.event_status[slot] = s.watched_line;
                else if (s.event_status[slot] == s.watched_line)
                    s.event_status[slot] = 0;
                s.last_status = s.event_status[slot];
            } else {
                s.event_shape[slot] = kShapeInterference;
                s.event_status[slot] = s.watched_line;
                record_omitted_event(c, slot);
                advance = false;
                // Swallow the notification of the pulse's return.
                auto back = port.wait_event(s.thread_port);
                if (!back.ok()) note_failure(c, "waitcommevent call failed", back.error());
            }
        } else {
            s.last_status = w;
        }
    }
    // The slot is complete before the index says so: the main thread reads
    // the index with an acquire load and then only slots below it. The
    // signal comes after the index, so the woken loop finds the event.
    if (advance) {
        s.ring_head.fetch_add(1, std::memory_order_release);
        c.plat.wait->signal();
    }
    return true;
}

void run_serial_thread(Context& c) {
    ask_for_realtime(c, TimingThread::Serial);
    serial_thread_start(c);
    while (!c.serial.thread_ended) {
        if (!serial_thread_event(c)) break;
    }
}

// ---- control from the main thread -----------------------------------------

void reset_serial_thread(Context& c) {
    SerialState& s = c.serial;
    bool running = s.thread != 0;
    if (running) {
        auto r = c.plat.threads->suspend(s.thread);
        if (!r.ok()) c.run_log.write_line(r.error());
    }
    s.ring_tail = 0;
    s.ring_head.store(0, std::memory_order_release);
    s.last_ring_tail = 0;
    if (running) {
        auto r = c.plat.threads->resume(s.thread);
        if (!r.ok()) c.run_log.write_line(r.error());
    }
}

// The serial thread is never stopped: it ends with the process.
void stop_on_bad_port(Context& c, std::int32_t location) {
    c.screen.text_colour(kYellow);
    c.screen.write_line("Serial port not responding locn " + str(location) + " - terminating");
    c.run_log.write_line("Serial port not responding locn " + str(location));
    c.run_log.flush();
    pause_ms(c, 4000);
    end_process(c, 0);
}

// The ringer is told on the screen which port went and that nothing rung so
// far is lost: the touch's event log is written before the program ends.
static void report_lost_port(Context& c, std::int32_t locn) {
    clear_scratch_window(c);
    c.screen.text_colour(kYellow);
    c.screen.write_line("The serial port " + c.cfg.port_name + " has stopped responding: is the adapter unplugged?");
    c.screen.write_line("The touch rung so far is written to the run log.");
    c.run_log.write_line("Serial port " + c.cfg.port_name + " lost (locn " + str(locn) +
                       ") - writing the event log of the touch so far");
    c.strikes->log_touch(TouchEnd::PortLost);
}

bool take_lost_port(Context& c) {
    std::int32_t locn = c.serial.port_lost_at.load();
    if (locn == 0) return false;
    report_lost_port(c, locn);
    stop_on_bad_port(c, locn);
}

std::int32_t skip_overwritten_events(Context& c) {
    SerialState& s = c.serial;
    std::int32_t high = s.ring_head.load(std::memory_order_acquire);
    // The slot after the newest event may be being written right now, so
    // only the newest ring length less one are safe to read.
    std::int32_t oldest_safe = high - (kEventRingSize - 1);
    if (s.last_ring_tail >= oldest_safe) return 0;
    std::int32_t lost = oldest_safe - s.last_ring_tail;
    s.last_ring_tail = oldest_safe;
    s.ring_tail = oldest_safe;
    s.lost_events += lost;
    c.run_log.write_line("Sensor events lost: " + str(lost) +
                       " events were overwritten before they were read - continuing from event " +
                       str(oldest_safe + 1));
    return lost;
}

}  // namespace qn
