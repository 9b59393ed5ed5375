#include "serial/serial_thread.h"

#include "core/text.h"

namespace qn {

SerialThread::SerialThread(WatchedPort port, SerialClock clock, EventRing& ring, platform::Wait& wake, TextSink& log,
                           SerialThreadSettings settings)
    : port_(port),
      clock_(clock),
      ring_(ring),
      wake_(wake),
      log_(log),
      settings_(settings),
      failures_(clock_, log, wake) {}

// ---- starting ----------------------------------------------------------------

// One line is watched; when several are in use the last of CTS, DSR, RI,
// CD wins, as stored settings expect.
void SerialThread::choose_lines() {
    event_mask_ = platform::kEventCts | platform::kEventDsr | platform::kEventCd | platform::kEventRi;
    watched_line_ = 0;
    static constexpr struct {
        ModemLine line;
        std::uint32_t event;
    } kOrder[] = {{ModemLine::Cts, platform::kEventCts},
                  {ModemLine::Dsr, platform::kEventDsr},
                  {ModemLine::Ri, platform::kEventRi},
                  {ModemLine::Cd, platform::kEventCd}};
    for (const auto& o : kOrder) {
        if (!settings_.lines[o.line]) continue;
        event_mask_ = o.event;
        watched_line_ = status_bit(o.line);
    }
    if (watched_line_ == 0)
        log_.write_line("No sensor line selected - watching CTS, DSR, CD and RI; the first line to change is watched");
}

void SerialThread::start_watching() {
    choose_lines();
    clock_.restart();
    running_ = true;
    auto m = port_.ports.set_mask(port_.handle, event_mask_);
    if (!m.ok()) log_.write_line(m.error());

    LineEvent start;
    start.time_us = clock_.now_us();
    auto w = port_.ports.modem_status(port_.handle);
    if (!w.ok()) log_.write_line(w.error());
    start.status = w.value_or(0);
    start.shape = EventShape::Startup;
    ring_.begin(start);
    last_status_ = start.status;
    log_.flush();
}

// ---- one event -----------------------------------------------------------------

// When the status word cannot be read for more than a second the port is
// gone. Returns false then.
bool SerialThread::status_failed(const std::string& error) {
    const bool lost = failures_.given_up(2);
    failures_.failed("waitcommevent call failed", error);
    return !lost;
}

static std::uint32_t first_changed_line(std::uint32_t a, std::uint32_t b) {
    const std::uint32_t diff = a ^ b;
    for (ModemLine l : {ModemLine::Cts, ModemLine::Dsr, ModemLine::Cd, ModemLine::Ri})
        if (diff & status_bit(l)) return status_bit(l);
    return 0;
}

// The re-check must hold to the microsecond: a precise timer sleep (armed
// early, then spun) to just past the window, and the stopwatch itself has
// the last word, while it runs (a quit stops it before its last pause).
void SerialThread::recheck_transient(LineEvent& e, std::int32_t transient_ms, std::uint32_t& status) {
    const std::int64_t until = e.time_us + 1000LL * transient_ms;
    clock_.sleep_until_us(until + 1);
    while (clock_.running() && clock_.now_us() <= until) {
    }
    auto again = port_.ports.modem_status(port_.handle);
    if (again.ok()) status = again.value();
    e.status = status;
}

bool SerialThread::take_event() {
    if (ended_) return false;
    platform::SerialPorts& port = port_.ports;

    auto ev = port.wait_event(port_.handle);
    if (ended_) return false;
    if (!ev.ok()) failures_.failed("waitcommevent call failed", ev.error());

    LineEvent& e = ring_.next();
    e.time_us = clock_.now_us();
    auto st = port.modem_status(port_.handle);
    if (!st.ok()) return status_failed(st.error());  // no true word, nothing to record
    failures_.succeeded();
    std::uint32_t w = st.value();
    // After a failed wait the lines are polled: only a real change is an
    // event, or a wait that keeps failing would fill the ring with strikes
    // that never happened.
    if (!ev.ok() && w == last_status_) return true;
    e.status = w;
    const std::uint32_t start = ring_.event(0).status;
    if (watched_line_ == 0) watched_line_ = first_changed_line(start, w);

    bool advance = true;
    if (w != start && w == last_status_) {
        e.shape = EventShape::Dropout;
        ring_.omit(e);
        advance = false;
    } else {
        e.shape = EventShape::Normal;
        const std::int32_t transient = settings_.transient_ms ? settings_.transient_ms->load() : 0;
        if (transient > 0 && last_status_ == start) recheck_transient(e, transient, w);
        if (w == last_status_) {
            if (transient == 0) {
                e.shape = EventShape::Short;
                if (e.status == 0)
                    e.status = watched_line_;
                else if (e.status == watched_line_)
                    e.status = 0;
                last_status_ = e.status;
            } else {
                e.shape = EventShape::Interference;
                e.status = watched_line_;
                ring_.omit(e);
                advance = false;
                // Swallow the notification of the pulse's return.
                auto back = port.wait_event(port_.handle);
                if (!back.ok()) failures_.failed("waitcommevent call failed", back.error());
            }
        } else {
            last_status_ = w;
        }
    }
    // The slot is complete before the ring says so: the main thread reads
    // the count with an acquire load and then only slots below it. The
    // signal comes after, so the woken loop finds the event.
    if (advance) {
        ring_.publish();
        wake_.signal();
    }
    return true;
}

void SerialThread::run() {
    start_watching();
    while (!ended_) {
        if (!take_event()) break;
    }
}

// ---- control from the main thread ---------------------------------------------

void launch_serial_thread(SerialThread& thread, platform::Threads& threads, TextSink& log, Dialog& dialog,
                          const Stopwatch& stopwatch, std::function<void()> before_run) {
    log.write_line("Start comm thread " + str(stopwatch.elapsed_ms()));
    auto t = threads.create([&thread, before_run = std::move(before_run)] {
        if (before_run) before_run();
        thread.run();
    });
    if (!t.ok()) {
        log.write_line(t.error());
        dialog.halt(95, "Serial thread could not be started - " + t.error() + " press [ENTER] to quit");
    }
    thread.set_os_thread(t.value());
    auto p = threads.set_priority(t.value().handle, platform::kPriorityTimeCritical);
    if (!p.ok()) log.write_line("Comm thread runs at normal priority: " + p.error());
    auto got = threads.get_priority(t.value().handle);
    log.write_line("Comm thread started " + str(stopwatch.elapsed_ms()) + " priority=" + str(got.ok() ? got.value() : 0));
}

void clear_event_ring(EventRing& ring, SerialThread* thread, platform::Threads& threads, TextSink& log) {
    const platform::ThreadHandle held = thread ? thread->os_thread() : 0;
    if (held != 0) {
        auto r = threads.suspend(held);
        if (!r.ok()) log.write_line(r.error());
    }
    ring.clear();
    if (held != 0) {
        auto r = threads.resume(held);
        if (!r.ok()) log.write_line(r.error());
    }
}

std::int32_t skip_overwritten_events(EventRing& ring, TextSink& log) {
    const std::int32_t lost = ring.skip_overwritten();
    if (lost > 0)
        log.write_line("Sensor events lost: " + str(lost) +
                       " events were overwritten before they were read - continuing from event " +
                       str(ring.taken() + 1));
    return lost;
}

}  // namespace qn
