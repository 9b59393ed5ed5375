#include "strokes/watchports.h"

#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "serial/ports.h"
#include "serial/serialthread_shorts_xz.h"
#include "strokes/logs.h"
#include "strokes/outputs.h"

namespace qn {

namespace {

struct Line {
    bool use;
    std::uint32_t bit;
    bool& now;
    bool& before;
    bool off;
    const char* name;
};

void report_clash(Context& c) {
    StrokesState& s = c.strokes;
    ++s.SENDMISS;
    c.FOOERROR.writeln("***ERROR- thiseventimemicro clash - bell send will be skipped =" + str(s.THISEVENTTIMEMICRO));
    FULLWINDOW(c);
    c.screen.gotoxy(1, FIRSTLINEOFSCRATCHSCREEN);
    c.screen.write("A keysend was skipped due to delays: Computer lacks power, or is overloaded, or focus lost");
    c.FOOERROR.writeln(
        "i.e. A keysend was skipped due to delays: Computer lacks power, or is overloaded, or focus lost");
    if (s.SENDMISS > 0) {
        c.screen.gotoxy(8, 25);
        c.screen.write("SendMiss=" + str(s.SENDMISS));
    }
}

bool key_action(const Context& c, bool previous, bool now) {
    const bool released = previous && !now;
    return (c.cfg.SIGNALSTARTSOFF != released) || (c.cfg.OFFANDONARESIGNALS && now != previous);
}

void take_line_event(Context& c, Line& line, std::uint32_t word) {
    StrokesState& s = c.strokes;
    line.now = (word & line.bit) != 0;
    if (c.cfg.MONITOROUTPUT && line.now == line.before)
        c.FOOERROR.writeln(std::string("**ERROR: a COM port state change seems to have been missed (") + line.name + ")");
    // Every edge inside the bounce window of the last accepted one is bounce.
    // (Letting an asserted edge through at once made a release that bounced
    // for longer than the serial thread's 2 ms re-check into a new strike.)
    // Calibration treats a gap shorter than the window the same way.
    bool accept = s.THISEVENTTIMEMICRO - s.LASTEVENTTIMEMICRO > MULTINT64(c.cfg.SWITCHBOUNCEDELAY, 1000);
    if (!accept) return;
    if (c.cfg.MONITOROUTPUT) WRITELOG(c, line.now == line.off);
    s.LASTEVENTTIMEMICRO = s.THISEVENTTIMEMICRO;
    if (key_action(c, line.before, line.now)) DOOUTPUTS(c);
    line.before = line.now;
}

void watch_signals(Context& c) {
    SerialState& ser = c.serial;
    StrokesState& s = c.strokes;
    (void)take_lost_port(c);
    (void)skip_overwritten_events(c);
    if (ser.LASTILOWBUFFER >= ser.IHIGHBUFFERPLUSONE.load(std::memory_order_acquire)) return;

    Line lines[] = {
        {c.cfg.USECTS, platform::MS_CTS_ON, s.CTSB, s.CTSBOLD, s.CTSOFF, "cts"},
        {c.cfg.USEDSR, platform::MS_DSR_ON, s.DSRB, s.DSRBOLD, s.DSROFF, "dsr"},
        {c.cfg.USECD, platform::MS_RLSD_ON, s.CDB, s.CDBOLD, s.CDOFF, "cd"},
        {c.cfg.USERI, platform::MS_RING_ON, s.RIB, s.RIBOLD, s.RIOFF, "ri"},
    };
    if (ser.LASTILOWBUFFER == 0)
        for (Line& l : lines)
            if (l.use) l.before = (ser.COMMBUFFER[0] & l.bit) != 0;

    ++ser.LASTILOWBUFFER;
    if (s.THISEVENTTIMEMICRO != THISEVENTTIMEOFF) report_clash(c);
    s.THISEVENTTIMEMICRO = ser.COMMTIME[INDEXWRAP(ser.LASTILOWBUFFER)];
    ++ser.ILOWBUFFER;
    const std::uint32_t word = ser.COMMBUFFER[INDEXWRAP(ser.ILOWBUFFER)];
    for (Line& l : lines)
        if (l.use) take_line_event(c, l, word);
}

// The loop's wait watches the port, so the read takes what is there and
// never waits. A failed read is no character; failing reads for over a
// second are a port gone (take_lost_port, next pass).
std::int32_t read_data_byte(Context& c) {
    StrokesState& s = c.strokes;
    auto got = read_serial_byte(c, c.serial.SERIALHANDLE, &s.CHARBUFF[1], 0);
    if (!got.ok()) {
        note_data_read_failure(c, got.error());
        return 0;
    }
    note_data_read_success(c);
    return got.value();
}

// A byte is stamped when the wait saw it arrive. The port is read only
// when the loop's wait did not rule a byte out (each read is a system call,
// and under Wine a round trip to its server), or while reads fail, so that
// a port gone is noticed.
void watch_data(Context& c) {
    StrokesState& s = c.strokes;
    (void)take_lost_port(c);
    const bool look = s.PORTLOOK || c.serial.FAILSINCEMICRO >= 0;
    s.DATB = look ? read_data_byte(c) : 0;
    s.OKDAT = false;
    const std::int64_t arrival = s.PORTARRIVALMICRO;
    s.PORTARRIVALMICRO = -1;
    if (s.DATB > 0) {
        s.THISEVENTTIMEMICRO = arrival >= 0 ? arrival : MYELAPSEDMICROSECS(c);
        // The window runs from the last accepted character of any bell, so a
        // character of this bell right after another bell's is lost.
        if (s.THISEVENTTIMEMICRO - s.LASTEVENTTIMEMICRO > MULTINT64(c.cfg.SWITCHBOUNCEDELAY, 1000)) {
            if (c.cfg.MONITOROUTPUT) WRITELOGDATA(c, s.DATB);
            s.LASTEVENTTIMEMICRO = s.THISEVENTTIMEMICRO;
            for (std::int32_t i = 1; i <= s.DATB; ++i)
                if (s.CHARBUFF[i] == c.cfg.USEDATINPUTCHAR) s.OKDAT = true;
        }
    }
    if (!s.OKDAT) s.DATB = 0;
    if (s.DATB > 0) DOOUTPUTS(c);
}

}  // namespace

bool WATCHPORTS(Context& c) {
    if (c.cfg.BAGLEYMODE)
        watch_data(c);
    else
        watch_signals(c);
    c.strokes.THISEVENTTIMEMICRO = THISEVENTTIMEOFF;
    return true;
}

}  // namespace qn
