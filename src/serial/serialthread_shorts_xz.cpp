#include "serial/serialthread_shorts_xz.h"

#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "strokes/logs.h"
#include "strokes/strike_path.h"

namespace qn {

using platform::EV_CTS;
using platform::EV_DSR;
using platform::EV_RING;
using platform::EV_RLSD;

std::int32_t INDEXWRAP(std::int32_t i) { return ((i - 1) % COMBUFFERLEN) + 1; }

std::string WR(std::int32_t code) {
    switch (code) {
    case SIG_STARTUP: return "startup";
    case SIG_SHORT: return "shortsignal";
    case SIG_DROPOUT: return "shortsignal dropout OMITTED";
    case SIG_INTERFERENCE: return "shortsignal - presumed interference - OMITTED";
    default: return "";
    }
}

// ---- starting the thread ---------------------------------------------------

void start_serial_thread(Context& c, PortHandle h) {
    c.FOOERROR.writeln("Start comm thread " + str(MYELAPSEDMILLISECS(c)));
    c.serial.SERHANDLE = h;
    auto t = c.plat.threads->create([&c] { SERIALSTATUSEVENTS(c); });
    if (!t.ok()) {
        c.FOOERROR.writeln(t.error());
        MYHALT(c, 95, "Serial thread could not be started - " + t.error() + " press [ENTER] to quit");
    }
    c.serial.COMM_THREADHANDLE = t.value().handle;
    c.serial.COMM_THREADID = t.value().id;
    auto p = c.plat.threads->set_priority(t.value().handle, platform::THREAD_PRIORITY_TIME_CRITICAL);
    if (!p.ok()) c.FOOERROR.writeln("Comm thread runs at normal priority: " + p.error());
    auto got = c.plat.threads->get_priority(t.value().handle);
    c.FOOERROR.writeln("Comm thread started " + str(MYELAPSEDMILLISECS(c)) +
                       " priority=" + str(got.ok() ? got.value() : 0));
}

void serial_thread_start(Context& c) {
    SerialState& s = c.serial;
    const Settings& cfg = c.cfg;
    if (cfg.USECTS) s.CTSLIVE = true;
    if (cfg.USEDSR) s.DSRLIVE = true;
    if (cfg.USERI) s.RILIVE = true;
    if (cfg.USECD) s.CDLIVE = true;

    // One line is watched; when several are live the last of CTS, DSR, RI,
    // CD wins, as stored settings expect.
    s.DWEVENTMASK = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
    s.DFLAG = 0;
    if (s.CTSLIVE) { s.DWEVENTMASK = EV_CTS; s.DFLAG = platform::MS_CTS_ON; }
    if (s.DSRLIVE) { s.DWEVENTMASK = EV_DSR; s.DFLAG = platform::MS_DSR_ON; }
    if (s.RILIVE) { s.DWEVENTMASK = EV_RING; s.DFLAG = platform::MS_RING_ON; }
    if (s.CDLIVE) { s.DWEVENTMASK = EV_RLSD; s.DFLAG = platform::MS_RLSD_ON; }
    if (s.DFLAG == 0)
        c.FOOERROR.writeln("No sensor line selected - watching CTS, DSR, CD and RI; the first line to change is watched");

    SERIALSTARTTHETIMER(c);
    s.SERIALTHREADON = true;
    auto m = c.plat.serial->set_mask(s.SERHANDLE, s.DWEVENTMASK);
    if (!m.ok()) c.FOOERROR.writeln(m.error());
    s.ILOWBUFFER = 0;
    s.LASTILOWBUFFER = 0;

    s.COMMTIME[0] = SERIALMYELAPSEDMICROSECS(c);
    auto w = c.plat.serial->modem_status(s.SERHANDLE);
    if (!w.ok()) c.FOOERROR.writeln(w.error());
    s.COMMBUFFER[0] = w.value_or(0);
    s.SHSIG[0] = SIG_STARTUP;
    s.LASTTRUESTATUS = s.COMMBUFFER[0];
    s.OMITBUFFER = 0;
    c.FOOERROR.flush();
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
    std::int64_t now = SERIALMYELAPSEDMICROSECS(c);
    if (s.FAILLOGGEDMICRO < 0 || now - s.FAILLOGGEDMICRO >= kFailureLogEveryMicro) {
        c.FOOERROR.writeln(what);
        c.FOOERROR.writeln("  " + error +
                           (s.FAILSUPPRESSED > 0 ? " (" + str(s.FAILSUPPRESSED) + " failures not logged)" : ""));
        c.FOOERROR.flush();
        s.FAILLOGGEDMICRO = now;
        s.FAILSUPPRESSED = 0;
    } else {
        ++s.FAILSUPPRESSED;
    }
    c.plat.threads->sleep_ms(1);
}

// A port that has failed without a break for more than a second is gone:
// the location is handed to the main thread (take_lost_port). True then.
static bool failing_too_long(Context& c, std::int32_t locn) {
    SerialState& s = c.serial;
    std::int64_t now = SERIALMYELAPSEDMICROSECS(c);
    if (s.FAILSINCEMICRO < 0) s.FAILSINCEMICRO = now;
    if (now - s.FAILSINCEMICRO <= kPortLostAfterMicro) return false;
    c.FOOERROR.writeln("Serial port not responding locn " + str(locn));
    c.FOOERROR.flush();
    s.PORTLOSTLOCN = locn;
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
    if (c.serial.PORTLOSTLOCN.load() != 0) return;
    (void)failing_too_long(c, 7);
    note_failure(c, "serial port read failed", error);
}

void note_data_read_success(Context& c) { c.serial.FAILSINCEMICRO = -1; }

// ---- one event -------------------------------------------------------------

void UPDATEOMITBUFFER(Context& c, std::int32_t slot) {
    SerialState& s = c.serial;
    std::int32_t n = s.OMITBUFFER.load();
    if (n < COMBUFFERLEN) s.OMITBUFFER = ++n;
    s.OMITSHSIG[n] = s.SHSIG[slot];
    s.OMITCOMMTIME[n] = s.COMMTIME[slot];
    s.OMITCOMMBUFFER[n] = s.COMMBUFFER[slot];
}

static std::uint32_t first_changed_line(std::uint32_t a, std::uint32_t b) {
    std::uint32_t diff = a ^ b;
    for (std::uint32_t bit : {platform::MS_CTS_ON, platform::MS_DSR_ON, platform::MS_RLSD_ON, platform::MS_RING_ON})
        if (diff & bit) return bit;
    return 0;
}

bool serial_thread_event(Context& c) {
    SerialState& s = c.serial;
    if (s.SERIALSTATUSEVEENTSTERMINATED) return false;
    platform::SerialPorts& port = *c.plat.serial;

    auto ev = port.wait_event(s.SERHANDLE);
    if (s.SERIALSTATUSEVEENTSTERMINATED) return false;
    if (!ev.ok()) note_failure(c, "waitcommevent call failed", ev.error());

    // The next event's slot; the index is only ever raised by this thread.
    std::int32_t high = s.IHIGHBUFFERPLUSONE.load(std::memory_order_relaxed);
    std::int32_t slot = (high % COMBUFFERLEN) + 1;
    s.COMMTIME[slot] = SERIALMYELAPSEDMICROSECS(c);
    auto st = port.modem_status(s.SERHANDLE);
    if (!st.ok()) return status_failed(c, st.error());  // no true word, nothing to record
    s.FAILSINCEMICRO = -1;
    std::uint32_t w = st.value();
    // After a failed wait the lines are polled: only a real change is an
    // event, or a wait that keeps failing would fill the ring with strikes
    // that never happened.
    if (!ev.ok() && w == s.LASTTRUESTATUS) return true;
    s.THISTRUESTATUS = w;
    s.COMMBUFFER[slot] = w;
    const std::uint32_t start = s.COMMBUFFER[0];
    if (s.DFLAG == 0) s.DFLAG = first_changed_line(start, w);

    bool advance = true;
    if (w != start && w == s.LASTTRUESTATUS) {
        s.SHSIG[slot] = SIG_DROPOUT;
        UPDATEOMITBUFFER(c, slot);
        advance = false;
    } else {
        s.SHSIG[slot] = SIG_NORMAL;
        const std::int32_t transient = c.cfg.TRANSIENTSIGNALSDELAY.load();
        if (transient > 0 && s.LASTTRUESTATUS == start) {
            // The re-check must hold to the microsecond: a precise timer
            // sleep (armed early, then spun) to just past the window, and
            // the stopwatch itself has the last word.
            const std::int64_t until = s.COMMTIME[slot] + 1000LL * transient;
            sleep_until_micros(c, until + 1);
            while (SERIALMYELAPSEDMICROSECS(c) <= until) {
            }
            auto again = port.modem_status(s.SERHANDLE);
            if (again.ok()) w = again.value();
            s.COMMBUFFER[slot] = w;
        }
        if (w == s.LASTTRUESTATUS) {
            if (transient == 0) {
                s.SHSIG[slot] = SIG_SHORT;
                if (s.COMMBUFFER[slot] == 0)
                    s.COMMBUFFER[slot] = s.DFLAG;
                else if (s.COMMBUFFER[slot] == s.DFLAG)
                    s.COMMBUFFER[slot] = 0;
                s.LASTTRUESTATUS = s.COMMBUFFER[slot];
            } else {
                s.SHSIG[slot] = SIG_INTERFERENCE;
                s.COMMBUFFER[slot] = s.DFLAG;
                UPDATEOMITBUFFER(c, slot);
                advance = false;
                // Swallow the notification of the pulse's return.
                auto back = port.wait_event(s.SERHANDLE);
                if (!back.ok()) note_failure(c, "waitcommevent call failed", back.error());
            }
        } else {
            s.LASTTRUESTATUS = w;
        }
    }
    // The slot is complete before the index says so: the main thread reads
    // the index with an acquire load and then only slots below it. The
    // signal comes after the index, so the woken loop finds the event.
    if (advance) {
        s.IHIGHBUFFERPLUSONE.fetch_add(1, std::memory_order_release);
        c.plat.wait->signal();
    }
    return true;
}

void SERIALSTATUSEVENTS(Context& c) {
    serial_thread_start(c);
    while (!c.serial.SERIALSTATUSEVEENTSTERMINATED) {
        if (!serial_thread_event(c)) break;
    }
}

// ---- control from the main thread -----------------------------------------

void RESETSERIALTHREAD(Context& c) {
    SerialState& s = c.serial;
    bool running = s.COMM_THREADHANDLE != 0;
    if (running) {
        auto r = c.plat.threads->suspend(s.COMM_THREADHANDLE);
        if (!r.ok()) c.FOOERROR.writeln(r.error());
    }
    s.ILOWBUFFER = 0;
    s.IHIGHBUFFERPLUSONE.store(0, std::memory_order_release);
    s.LASTILOWBUFFER = 0;
    if (running) {
        auto r = c.plat.threads->resume(s.COMM_THREADHANDLE);
        if (!r.ok()) c.FOOERROR.writeln(r.error());
    }
}

// The thread is never stopped: it ends with the process.
void KILLSERIALTHREAD(Context&) {}

void BADSERIALTERMINATE(Context& c, std::int32_t location) {
    c.screen.textcolor(YELLOW);
    c.screen.writeln("Serial port not responding locn " + str(location) + " - terminating");
    c.FOOERROR.writeln("Serial port not responding locn " + str(location));
    c.FOOERROR.flush();
    SLEEP(c, 4000);
    KILLSERIALTHREAD(c);
    end_process(c, 0);
}

// The ringer is told on the screen which port went and that nothing rung so
// far is lost: the touch's event log is written before the program ends.
static void report_lost_port(Context& c, std::int32_t locn) {
    SCRATCHWINDOWCLS(c);
    c.screen.textcolor(YELLOW);
    c.screen.writeln("The serial port " + c.cfg.COMPORTNAME + " has stopped responding: is the adapter unplugged?");
    c.screen.writeln("The touch rung so far is written to the run log.");
    c.FOOERROR.writeln("Serial port " + c.cfg.COMPORTNAME + " lost (locn " + str(locn) +
                       ") - writing the event log of the touch so far");
    c.strikes->log_touch(TouchEnd::PortLost);
}

bool take_lost_port(Context& c) {
    std::int32_t locn = c.serial.PORTLOSTLOCN.load();
    if (locn == 0) return false;
    report_lost_port(c, locn);
    BADSERIALTERMINATE(c, locn);
}

std::int32_t skip_overwritten_events(Context& c) {
    SerialState& s = c.serial;
    std::int32_t high = s.IHIGHBUFFERPLUSONE.load(std::memory_order_acquire);
    // The slot after the newest event may be being written right now, so
    // only the newest ring length less one are safe to read.
    std::int32_t oldest_safe = high - (COMBUFFERLEN - 1);
    if (s.LASTILOWBUFFER >= oldest_safe) return 0;
    std::int32_t lost = oldest_safe - s.LASTILOWBUFFER;
    s.LASTILOWBUFFER = oldest_safe;
    s.ILOWBUFFER = oldest_safe;
    s.LOSTEVENTS += lost;
    c.FOOERROR.writeln("Sensor events lost: " + str(lost) +
                       " events were overwritten before they were read - continuing from event " +
                       str(oldest_safe + 1));
    return lost;
}

}  // namespace qn
