// Sensor detection: stage 1 finds the port and the input mode while the
// ringer rings; stage 2 records one handstroke and backstroke and counts the
// sensors from it.
#include "calibration/detection.h"

#include <algorithm>
#include <string>

#include "calibration/analysis.h"
#include "calibration/ports_check.h"
#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "serial/ports.h"
#include "serial/serialthread_shorts_xz.h"

namespace qn {

namespace {

std::int32_t port_count(const Context& c) { return std::min<std::int32_t>(c.serial.PORTSTOTAL, MAXSERIALPORTS); }

PortHandle handle_of(const Context& c, std::int32_t i) { return c.serial.SERIALHANDLEARR[i]; }

void clear_charbuff(Context& c) { c.calib.CHARBUFF.fill('\0'); }

void both(Context& c, const std::string& line) {
    c.screen.writeln(line);
    c.FOOERROR.writeln(line);
}

bool key_waiting(Context& c) {
    c.screen.present();
    return c.plat.console->key_waiting();
}

// ---- stage 1 ----------------------------------------------------------------

[[noreturn]] void WRITEMESSAGEANDQUIT(Context& c, const std::string& message) {
    c.screen.textcolor(YELLOW);
    both(c, message);
    c.FOOERROR.flush();
    SLEEP(c, 4000);
    KILLSERIALTHREAD(c);
    end_process(c, 0);
}

// Empties every port, pass after pass, until a whole pass finds nothing.
void ZEROBAGLEYDAT(Context& c) {
    bool got_any = true;
    while (got_any) {
        got_any = false;
        clear_charbuff(c);
        for (std::int32_t i = 1; i <= port_count(c); ++i) {
            const PortHandle h = handle_of(c, i);
            if (h != 0 && read_serial_char(c, h, &c.calib.CHARBUFF[1], c.calib.SERIALREADTIMEOUTTIME) > 0)
                got_any = true;
            c.calib.DATBOLDARR[i] = 0;
        }
    }
    clear_charbuff(c);
}

// One stage-1 poll of port i: has any line moved since the start?
void SEEKSERIALSIGNALEVENTS(Context& c, std::int32_t i) {
    CalibrationState& k = c.calib;
    SerialState& s = c.serial;
    auto w = c.plat.serial->modem_status(handle_of(c, i));
    if (!w.ok()) {
        // The port stopped answering (pulled out, or a virtual port that
        // answers only now and then): the bell may be on another one.
        both(c, "Port " + s.PORTNAME[i] + " left out: its modem status cannot be read");
        c.FOOERROR.writeln(w.error());
        close_serial_port(c, handle_of(c, i));
        s.SERIALHANDLEARR[i] = 0;
        return;
    }
    k.NOWSTATUSARR[i] = w.value();
    const std::uint32_t diff = k.NOWSTATUSARR[i] ^ k.INITIALSTATUSARR[i];
    if (diff == 0) return;
    k.SIGNALSMODEARR[i] = true;
    c.FOOERROR.write("Signal data detected on port " + s.PORTNAME[i]);
    bool line_ended = false;
    auto line = [&](std::uint32_t bit, bool& changed, bool& live, const char* text) {
        if (!(diff & bit)) return;
        changed = true;
        c.FOOERROR.writeln(text);
        line_ended = true;
        live = true;
    };
    line(platform::MS_CTS_ON, k.CTSBARR[i], s.CTSLIVE, " - signal CTS");
    line(platform::MS_DSR_ON, k.DSRBARR[i], s.DSRLIVE, " - signal DSR");
    line(platform::MS_RLSD_ON, k.CDBARR[i], s.CDLIVE, " - signal CD");
    line(platform::MS_RING_ON, k.RIBARR[i], s.RILIVE, " - signal RI");
    if (!line_ended) c.FOOERROR.newline();
}

void note_start_state(Context& c, std::int32_t i) {
    CalibrationState& k = c.calib;
    auto w = c.plat.serial->modem_status(handle_of(c, i));
    k.INITIALSTATUSARR[i] = w.value_or(0);
    c.FOOERROR.writeln(str(i) + " serial handle =" + str_u(handle_of(c, i)) + " readable? " + bool_text(w.ok()) +
                       " portstatus " + str_u(k.INITIALSTATUSARR[i]));
    k.NOWSTATUSARR[i] = k.INITIALSTATUSARR[i];
    const std::uint32_t word = k.INITIALSTATUSARR[i];
    k.CTSBOLDARR[i] = (word & platform::MS_CTS_ON) != 0;
    k.DSRBOLDARR[i] = (word & platform::MS_DSR_ON) != 0;
    k.CDBOLDARR[i] = (word & platform::MS_RLSD_ON) != 0;
    k.RIBOLDARR[i] = (word & platform::MS_RING_ON) != 0;
    k.CTSBARR[i] = k.CTSBOLDARR[i];
    k.DSRBARR[i] = k.DSRBOLDARR[i];
    k.CDBARR[i] = k.CDBOLDARR[i];
    k.RIBARR[i] = k.RIBOLDARR[i];
    ZEROBAGLEYDATSINGLE(c, i);
    k.SIGNALSMODEARR[i] = false;
}

// Steps 7 and 8: which ports showed line changes, which delivered a character.
void count_ports_per_mode(Context& c) {
    CalibrationState& k = c.calib;
    SerialState& s = c.serial;
    k.NPORTSIGNAL = 0;
    k.NPORTDATA = 0;
    for (std::int32_t i = 1; i <= port_count(c); ++i) {
        if (handle_of(c, i) == 0 || !k.SIGNALSMODEARR[i]) continue;
        both(c, "Signal data detected on port " + s.PORTNAME[i]);
        k.NPORTSIGNAL += 1;
        c.cfg.SIGNALSMODE = true;
        k.DSC_PORTIDX = i;
        s.SERHANDLE = handle_of(c, i);
    }
    // Characters the box sent while the ringer rang are still waiting; the
    // first of them names the bell.
    for (std::int32_t i = 1; i <= port_count(c); ++i) {
        if (handle_of(c, i) == 0) continue;
        clear_charbuff(c);
        const std::int32_t got =
            read_serial_char(c, handle_of(c, i), &c.calib.CHARBUFF[1], c.calib.SERIALREADTIMEOUTTIME);
        const char ch = c.calib.CHARBUFF[1];
        if (got == 0 || ch == '\0') continue;
        c.cfg.USEDATINPUTCHAR = ch;
        both(c, "Bagley data detected on port " + s.PORTNAME[i] + " using character " + std::string(1, ch));
        k.NPORTDATA += 1;
        c.cfg.BAGLEYMODE = true;
        k.DSC_PORTIDX = i;
    }
}

void check_one_mode_one_port(Context& c) {
    const CalibrationState& k = c.calib;
    if (c.cfg.SIGNALSMODE && c.cfg.BAGLEYMODE)
        WRITEMESSAGEANDQUIT(c, "Program only allows either signal or data input but not both, terminating...");
    if (k.NPORTSIGNAL > 1) WRITEMESSAGEANDQUIT(c, "Program only allows signals input on ONE COM port, terminating...");
    if (k.NPORTDATA > 1) WRITEMESSAGEANDQUIT(c, "Program only allows data input on ONE COM port, terminating...");
    if (!c.cfg.SIGNALSMODE && !c.cfg.BAGLEYMODE)
        WRITEMESSAGEANDQUIT(c, "No signal or data input was received, terminating...");
}

// The prompt before a detection window; log_end tells the log which one.
void ring_once_prompt(Context& c, const std::string& log_end) {
    c.screen.textcolor(YELLOW);
    CLEARKEYBUFFER(c);
    both(c, "NOW ring bell HAND and BACK  **ONCE** only");
    c.screen.writeln("Then press any key, for the results, Q to terminate");
    c.FOOERROR.writeln("Then press any key, for the results, Q to terminate" + log_end);
    c.screen.textcolor(WHITE);
    c.screen.writeln();
    c.FOOERROR.flush();
}

void FINDACTIVEPORTS(Context& c) {
    CalibrationState& k = c.calib;
    SerialState& s = c.serial;
    Settings& cfg = c.cfg;
    cfg.OFFANDONARESIGNALS = false;
    if (cfg.SIGNALSMODE && cfg.BAGLEYMODE) cfg.SIGNALSMODE = cfg.BAGLEYMODE = false;

    c.screen.textcolor(YELLOW);
    CLEARKEYBUFFER(c);
    c.screen.writeln("Make sure the bell is up and ready to ring, with sensor NOT active");
    c.screen.write("then press any key [or Q to exit]");
    k.CH = WAITFORKEYSTROKEANDRETURNNORMALKEY(c);
    c.screen.writeln();

    for (std::int32_t i = 1; i <= port_count(c); ++i) note_start_state(c, i);
    s.CTSLIVE = s.DSRLIVE = s.CDLIVE = s.RILIVE = false;
    // Lines kept from an older settings file would be made live when the
    // serial thread starts and could make it watch a line the bell is not on.
    cfg.USECTS = cfg.USEDSR = cfg.USECD = cfg.USERI = false;

    c.screen.textcolor(YELLOW);
    c.screen.writeln("NOW ring the bell *Hand* and *Back*, and then press a key, or Q to Quit program");
    c.screen.textcolor(WHITE);
    c.FOOERROR.writeln("NOW ring the bell *Hand* and *Back*, and then press a key, or Q to Quit program");
    while (!key_waiting(c)) {
        for (std::int32_t i = 1; i <= port_count(c); ++i)
            if (handle_of(c, i) != 0 && !k.SIGNALSMODEARR[i]) SEEKSERIALSIGNALEVENTS(c, i);
        // No thread watches the lines yet: they are read every millisecond.
        wait_for(c, 1, platform::WAKE_CONSOLE);
    }
    k.CH = READNORMALKEYCHAR(c);

    count_ports_per_mode(c);
    check_one_mode_one_port(c);
    if (cfg.BAGLEYMODE) ZEROBAGLEYDAT(c);
    c.screen.textcolor(YELLOW);
    both(c, "Stage 1 (mode detection) completed");
    if (cfg.SIGNALSMODE) start_serial_thread(c, handle_of(c, k.DSC_PORTIDX));
    ring_once_prompt(c, ", end of findactiveports");
}

// ---- stage 2 ----------------------------------------------------------------

// The detection window: polls until a key, or until the recording is
// complete in data mode.
void SENSORDETECTION(Context& c) {
    CalibrationState& k = c.calib;
    const std::int32_t p = k.DSC_PORTIDX;
    clear_charbuff(c);
    for (;;) {
        if (handle_of(c, p) != 0 && c.cfg.BAGLEYMODE)
            SEEKSERIALEVENTS(c, p);  // its 1 ms read time-out paces the loop
        else
            wait_for(c, 50, platform::WAKE_EVENT | platform::WAKE_CONSOLE);  // the serial thread records
        k.FIRSTRUN = false;
        if (key_waiting(c)) {
            k.CH = READNORMALKEYCHAR(c);
            k.SENSORDETECTIONOK = k.SENSORDATAFOUND;
            return;
        }
        if (CHECKTERMINATIONREASONABLE(c, p)) {
            k.SENSORDETECTIONOK = k.SENSORDATAFOUND;
            return;
        }
    }
}

void DOTHESENSORDETECTION(Context& c) {
    CalibrationState& k = c.calib;
    do {
        k.SENSORDETECTIONOK = true;
        k.MAXMICROINTERVAL = 0;
        c.cfg.SIGNALNUM = 0;
        k.FIRSTRUN = true;
        k.FIRSTSENSING = true;
        k.STARTTIMEMILLISECS = MYELAPSEDMILLISECS(c);
        SENSORDETECTION(c);
    } while (!k.SENSORDETECTIONOK);
}

// Signals mode: a pass with the transient filter on, and when the thread
// recorded nothing at all, one more with it off.
void signal_passes(Context& c) {
    CalibrationState& k = c.calib;
    c.cfg.TRANSIENTSIGNALSDELAY = TRANSIENTSIGNALSDELAYDEFAULT;
    for (k.TIMETHROUGH = 1;; ++k.TIMETHROUGH) {
        DOTHESENSORDETECTION(c);
        if (c.serial.IHIGHBUFFERPLUSONE.load(std::memory_order_acquire) > 0) return;
        if (k.TIMETHROUGH >= 2)
            MYHALT(c, 87, "\n\rNo sensor points detected - make pulses stronger/last longer -\r\n Press [ENTER] to Quit");
        c.cfg.TRANSIENTSIGNALSDELAY = 0;
        both(c, "Signals not detected - retrying with maximum sensistivity");
        ring_once_prompt(c, ", end of retry with max sensitivity");
    }
}

void assess_ring(Context& c) {
    CalibrationState& k = c.calib;
    const std::int32_t high = c.serial.IHIGHBUFFERPLUSONE.load(std::memory_order_acquire);
    for (std::int32_t slot = c.serial.ILOWBUFFER; slot <= high; ++slot)
        if (!ASSESSSERIALEVENT(c, k.DSC_PORTIDX, slot)) c.screen.writeln("No comm port data found for " + str(slot));
}

void handbell_question(Context& c) {
    CLEARKEYBUFFER(c);
    c.screen.writeln("Is this a handbell (ON/OFF sensing)? (Y/n)");
    const char key = WAITFORKEYSTROKEANDRETURNNORMALKEY(c);
    c.cfg.USINGHANDBELLS = upper(key) != 'N';
    if (c.cfg.USINGHANDBELLS) c.screen.writeln("Using handbell settings");
}

// The number of sensors from the good events. True when acceptable: a whole
// number of them, and no more than the sensing-point tables hold (a longer
// recording is a chattering switch, not a bell with dozens of sensors).
bool judge_sensor_count(Context& c) {
    CalibrationState& k = c.calib;
    Settings& cfg = c.cfg;
    const std::int32_t p = k.DSC_PORTIDX;
    const std::int32_t G = k.GOODSIGS;
    if (G < 2) {
        c.FOOERROR.writeln("Failed to detect sufficient signals, goodsigs<2 and =" + str(G));
        c.screen.writeln("Failed to detect sufficient signals");
        return false;
    }
    if (!cfg.BAGLEYMODE) {
        if (G == 2) {
            if (k.MICROSECSARR[p][2] - k.MICROSECSARR[p][1] > 300000) {
                cfg.SENSORNUM = 1;
                cfg.OFFANDONARESIGNALS = true;
                both(c, "Using ON and OFF sensoring on a single sensor");
                handbell_question(c);
                return true;
            }
            both(c, "Only one sensor point detected");
            return false;
        }
        cfg.SENSORNUM = G / 4;
        both(c, "Total ON pulses:" + str(G / 2) + " implies " + fixed(G * 0.25, 8, 2) + " sensors on bell");
        return cfg.SENSORNUM * 4 == G && cfg.SENSORNUM <= MAXSENSORS;
    }
    if (!k.USEDATARR[p]) return false;
    cfg.SENSORNUM = G / 2;
    both(c, "Total pulses " + str(G) + " implies " + fixed(G * 0.5, 8, 2) + " sensors on bell");
    return cfg.SENSORNUM * 2 == G && cfg.SENSORNUM <= MAXSENSORS;
}

void report_not_acceptable(Context& c) {
    both(c, "ERROR: The number of sensors on bell not a positive integer");
    both(c, "Possibly operator error, or actuation pulse being too short in duration, or switch on/off not clean");
    c.screen.textcolor(YELLOW);
    both(c, "The sensor calibration must be repeated - close the program to start againby pressing Q");
    c.screen.textcolor(WHITE);
}

// Before a repeat: the earlier recording is thrown away, the ring included,
// so that what is judged next is the ringer's new pull.
void prepare_repeat(Context& c) {
    for (std::int32_t i = 1; i <= MAXSERIALPORTS; ++i) {
        c.calib.SIGNALNUMARR[i] = 0;
        c.calib.DATBOLDARR[i] = 0;
    }
    clear_charbuff(c);
    RESETSERIALTHREAD(c);
    ring_once_prompt(c, "");
}

}  // namespace

void DOSENSORCALIBRATION(Context& c, std::int32_t& CURRENTPORTIDX) {
    CalibrationState& k = c.calib;
    FINDACTIVEPORTS(c);
    clear_charbuff(c);
    for (;;) {
        if (c.cfg.BAGLEYMODE)
            DOTHESENSORDETECTION(c);
        else
            signal_passes(c);
        assess_ring(c);

        both(c, "List Port inputs...");
        if (handle_of(c, k.DSC_PORTIDX) != 0 && k.SIGNALNUMARR[k.DSC_PORTIDX] > 1) WRITEPORTTIMESSMY(c, k.DSC_PORTIDX);
        c.screen.writeln();
        CURRENTPORTIDX = k.DSC_PORTIDX;

        if (judge_sensor_count(c)) {
            RESETSERIALTHREAD(c);
            return;
        }
        report_not_acceptable(c);
        prepare_repeat(c);
    }
}

}  // namespace qn
