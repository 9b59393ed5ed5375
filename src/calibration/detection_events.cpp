// Stage-2 events of sensor detection: ring slots recorded by the serial
// thread (signals mode), characters polled from the port (data mode), and
// the end of a detection window.
#include <string>

#include "calibration/analysis.h"
#include "calibration/detection.h"
#include "calibration/ports_check.h"
#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "serial/ports.h"
#include "serial/serialthread_shorts_xz.h"
#include "strokes/outputs.h"

namespace qn {

namespace {

struct Lines {
    bool cts, dsr, cd, ri;
};

Lines current(const CalibrationState& k, std::int32_t p) { return {k.CTSBARR[p], k.DSRBARR[p], k.CDBARR[p], k.RIBARR[p]}; }
Lines previous(const CalibrationState& k, std::int32_t p) {
    return {k.CTSBOLDARR[p], k.DSRBOLDARR[p], k.CDBOLDARR[p], k.RIBOLDARR[p]};
}

void set_previous_to_current(CalibrationState& k, std::int32_t p) {
    k.CTSBOLDARR[p] = k.CTSBARR[p];
    k.DSRBOLDARR[p] = k.DSRBARR[p];
    k.CDBOLDARR[p] = k.CDBARR[p];
    k.RIBOLDARR[p] = k.RIBARR[p];
}

bool lines_differ(const CalibrationState& k, std::int32_t p) {
    Lines a = current(k, p), b = previous(k, p);
    return a.cts != b.cts || a.dsr != b.dsr || a.cd != b.cd || a.ri != b.ri;
}

// The lines that changed at the port's first event are the ones in use.
void mark_lines_in_use(CalibrationState& k, std::int32_t p) {
    Lines a = current(k, p), b = previous(k, p);
    if (a.cts != b.cts) k.USECTSARR[p] = true;
    if (a.dsr != b.dsr) k.USEDSRARR[p] = true;
    if (a.cd != b.cd) k.USECDARR[p] = true;
    if (a.ri != b.ri) k.USERIARR[p] = true;
}

bool line_in_use_changed(const CalibrationState& k, std::int32_t p) {
    Lines a = current(k, p), b = previous(k, p);
    return (k.USECTSARR[p] && a.cts != b.cts) || (k.USEDSRARR[p] && a.dsr != b.dsr) ||
           (k.USECDARR[p] && a.cd != b.cd) || (k.USERIARR[p] && a.ri != b.ri);
}

void decode_status(CalibrationState& k, std::int32_t p, std::uint32_t w) {
    k.CTSBARR[p] = (w & platform::MS_CTS_ON) != 0;
    k.DSRBARR[p] = (w & platform::MS_DSR_ON) != 0;
    k.CDBARR[p] = (w & platform::MS_RLSD_ON) != 0;
    k.RIBARR[p] = (w & platform::MS_RING_ON) != 0;
}

void record_states_at(CalibrationState& k, std::int32_t p, std::int32_t pos) {
    k.CTSBARR2[p][pos] = CHB(k.CTSBARR[p]);
    k.DSRBARR2[p][pos] = CHB(k.DSRBARR[p]);
    k.CDBARR2[p][pos] = CHB(k.CDBARR[p]);
    k.RIBARR2[p][pos] = CHB(k.RIBARR[p]);
}

[[noreturn]] void too_many_events(Context& c) {
    MYHALT(c, 88, "Too many sensor events: Usually means bad sensors - press [ENTER] to quit");
}

// Counts one event of port p; the tables hold MAXCALIBRATIONEVENTS of them.
std::int32_t count_event(Context& c, std::int32_t p) {
    if (c.calib.SIGNALNUMARR[p] >= MAXCALIBRATIONEVENTS) too_many_events(c);
    c.cfg.SIGNALNUM += 1;
    return ++c.calib.SIGNALNUMARR[p];
}

void uncount_event(Context& c, std::int32_t p) {
    c.cfg.SIGNALNUM -= 1;
    c.calib.SIGNALNUMARR[p] -= 1;
}

// The start status of the ring: the rest state of the lines.
void assess_start_slot(Context& c, std::int32_t P) {
    CalibrationState& k = c.calib;
    const SerialState& s = c.serial;
    set_previous_to_current(k, P);
    c.cfg.SIGNALSTARTSOFF = true;
    auto rest_on = [&](bool live, bool on, const char* name) {
        if (!live || !on) return;
        c.FOOERROR.writeln(std::string("Initial ") + name + " state is ON");
        c.cfg.SIGNALSTARTSOFF = false;
    };
    rest_on(s.CTSLIVE, k.CTSBARR[P], "CTS");
    rest_on(s.DSRLIVE, k.DSRBARR[P], "DSR");
    rest_on(s.CDLIVE, k.CDBARR[P], "CD");
    rest_on(s.RILIVE, k.RIBARR[P], "RI");
    record_states_at(k, P, 0);
    k.SIGNALNUMARR[P] = 0;
}

// Data mode: the port's received characters leave the scratch buffer for
// the port's own row.
void EMPTYCHARBUFFER(Context& c) {
    auto& b = c.calib.CHARBUFF;
    for (long i = b.lo; i <= b.hi && b[i] != '\0'; ++i) b[i] = '\0';
}

void MOVECHARBUFFERTOCURRENTPORTCHARBUFFER(Context& c, std::int32_t P) {
    auto& from = c.calib.CHARBUFF;
    auto& to = c.calib.CHARBUFFER[P];
    for (long i = from.lo; i <= from.hi; ++i) {
        to[i] = from[i];
        if (from[i] == '\0') break;
        from[i] = '\0';
    }
}

void first_data_event(Context& c, std::int32_t P, bool got, char ch, std::int64_t now) {
    CalibrationState& k = c.calib;
    c.FOOERROR.writeln("New serial port found");
    k.MICROSECSARR[P][1] = now;
    if (got) {
        k.USEDATARR[P] = true;
        c.FOOERROR.writeln(std::string(1, c.cfg.USEDATINPUTCHAR) + "usedatinputchar=" + std::string(1, ch));
        c.cfg.USEDATINPUTCHAR = ch;
        ZEROBAGLEYDATSINGLE(c, P);
        WRITEPORTTIMESDATA(c, P);
    }
    if (c.core.EASYMODE) {
        mark_lines_in_use(k, P);
        set_previous_to_current(k, P);
        WRITEPORTTIMESSIGNALS(c, P);
    }
}

}  // namespace

bool ASSESSSERIALEVENT(Context& c, std::int32_t p, std::int32_t slot) {
    CalibrationState& k = c.calib;
    SerialState& s = c.serial;
    const std::int32_t high = s.IHIGHBUFFERPLUSONE.load(std::memory_order_acquire);
    if (slot > high || c.cfg.BAGLEYMODE) return false;
    // Every slot is an event of this port: beyond the per-port tables (and
    // long before the ring could wrap) the recording is not a bell.
    if (slot > COMBUFFERLEN || slot > MAXCALIBRATIONEVENTS) too_many_events(c);

    k.NOWSTATUSARR[p] = s.COMMBUFFER[slot];
    if (slot > 0) set_previous_to_current(k, p);
    decode_status(k, p, k.NOWSTATUSARR[p]);
    record_states_at(k, p, slot);
    if (slot == 0) {
        assess_start_slot(c, p);
        return true;
    }

    if (k.FIRSTSENSING) {
        k.STARTTIMEMILLISECS = s.COMMTIME[slot] / 1000;
        k.FIRSTSENSING = false;
    }
    const std::int32_t n = count_event(c, p);
    if (n == 1) {
        k.MICROSECSARR[p][1] = s.COMMTIME[slot];
        mark_lines_in_use(k, p);
        set_previous_to_current(k, p);
        WRITEPORTTIMESSIGNALS(c, p);
    } else if (line_in_use_changed(k, p)) {
        k.MICROSECSARR[p][n] = s.COMMTIME[slot];
        set_previous_to_current(k, p);
        WRITEPORTTIMESSIGNALS(c, p);
    } else {
        // No line in use changed: the event has no time to analyse, and a
        // count without a time would be read as an event at time 0.
        uncount_event(c, p);
    }
    return true;
}

void SEEKSERIALEVENTS(Context& c, std::int32_t P) {
    CalibrationState& k = c.calib;
    const PortHandle h = c.serial.SERIALHANDLEARR[P];
    EMPTYCHARBUFFER(c);
    const std::int32_t got =
        h != 0 ? read_serial_char(c, h, &c.calib.CHARBUFF[1], c.calib.SERIALREADTIMEOUTTIME) : 0;
    k.DATBOLDARR[P] = got;
    MOVECHARBUFFERTOCURRENTPORTCHARBUFFER(c, P);

    // Whatever stage 1 left in the port is not part of this recording.
    if (k.FIRSTRUN) {
        ZEROBAGLEYDATSINGLE(c, P);
        return;
    }
    const bool has_char = got > 0 && k.CHARBUFFER[P][1] != '\0';
    k.CHANGESTATEARR[P] = has_char || lines_differ(k, P);
    if (!k.CHANGESTATEARR[P]) return;
    const char ch = has_char ? k.CHARBUFFER[P][1] : '\0';
    // After the first event only the bell's own character is an event: other
    // bells of the box and line changes have no time in the tables.
    if (k.SIGNALNUMARR[P] >= 1 && !(has_char && ch == c.cfg.USEDATINPUTCHAR)) return;

    // Taken before the port is emptied, so that every event is stamped with
    // the time its character was read.
    const std::int64_t now = MYELAPSEDMICROSECS(c);
    if (k.FIRSTSENSING) {
        k.STARTTIMEMILLISECS = now / 1000;
        k.FIRSTSENSING = false;
    }
    const std::int32_t n = count_event(c, P);
    if (n == 1) {
        first_data_event(c, P, has_char, ch, now);
        return;
    }
    ZEROBAGLEYDATSINGLE(c, P);
    k.MICROSECSARR[P][n] = now;
    if (now - k.MICROSECSARR[P][n - 1] < 2000) {
        uncount_event(c, P);  // the box sent the character twice
        return;
    }
    WRITEPORTTIMESDATA(c, P);
}

bool CHECKTERMINATIONREASONABLE(Context& c, std::int32_t p) {
    CalibrationState& k = c.calib;
    k.SENSORDATAFOUND = true;
    if (c.serial.SERIALHANDLEARR[p] == 0) return false;
    const std::int64_t elapsed = MYELAPSEDMILLISECS(c) - k.STARTTIMEMILLISECS;
    bool done = false;
    if (k.SIGNALNUMARR[p] > 1 && elapsed > 6000) {
        c.screen.writeln("Presumed calibrated");
        done = true;
    } else if (k.SIGNALNUMARR[p] >= MAXCALIBRATIONEVENTS) {
        done = true;
    }
    if (!done && elapsed > 20000) {
        c.screen.textcolor(YELLOW);
        c.screen.writeln("ERROR: No input detected from dumbbell after 20 secs:");
        c.screen.writeln("Check Abel etc not running, & serial port connection is ok");
        c.FOOERROR.writeln("ERROR: No input detected from dumbbell after 20 secs:");
        KILLSERIALTHREAD(c);
        end_process(c, 1);
    }
    // The stopwatch is left running: the serial thread, the watch loop and
    // the displays read it for the rest of the run.
    if (done) k.CHANGESTATEARR[p] = true;
    return done;
}

}  // namespace qn
