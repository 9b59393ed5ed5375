// The calibration analysis: intervals of the recorded events with switch
// bounce folded out, the calibration result, and the per-event reports.
#include "calibration/analysis.h"

#include <algorithm>
#include <string>

#include "console/crt.h"
#include "console/textsink.h"
#include "core/context.h"
#include "core/text.h"
#include "strokes/outputs.h"

namespace qn {

namespace {

// What the analysis works with besides the program's tables: which events
// are used, and the longest signal and gap the signal report found.
struct Analysis {
    std::int32_t p = 0;
    std::int32_t N = 0;
    Arr<bool, 1, MAXCALIBRATIONEVENTS> USEDATUM;
    double MAXSIGLEN = 0;
    double MAXSIGGAP = 0;
    bool GAPMEASURED = false;  // a used gap between two signals (odd event from 3 on)
};

std::string secs(double v) { return fixed(v, 7, 4); }

std::int64_t event_time(const Context& c, std::int32_t p, std::int32_t J) { return c.calib.MICROSECSARR[p][J]; }

// Raw intervals J := time of J less time of the one before (0 for the first).
void compute_intervals(Context& c, Analysis& a) {
    CalibrationState& k = c.calib;
    for (std::int32_t J = 1; J <= a.N; ++J) {
        const std::int64_t before = event_time(c, a.p, std::max(J - 1, 1));
        k.MICROINTERVAL[J] = static_cast<double>(event_time(c, a.p, J) - before) / 1000000.0;
        k.ADJMICROINTERVAL[J] = k.MICROINTERVAL[J];
    }
}

// Data mode: a character too soon after the one before is a bounce or a
// doubled character; its interval goes to the next good event.
void fold_data_bounces(Context& c, Analysis& a, double B) {
    CalibrationState& k = c.calib;
    for (std::int32_t J = 2; J <= a.N; ++J) {
        if (k.MICROINTERVAL[J] >= B) continue;
        a.USEDATUM[J] = false;
        k.GOODSIGS -= 1;
        if (J < a.N) k.ADJMICROINTERVAL[J + 1] = k.ADJMICROINTERVAL[J] + k.ADJMICROINTERVAL[J + 1];
        k.ADJMICROINTERVAL[J] = 0;
    }
}

// Signals mode: odd events switch the sensor on. A gap too short to be real
// joins the two signals around it into one.
void fold_signal_bounces(Context& c, Analysis& a, double B) {
    CalibrationState& k = c.calib;
    for (std::int32_t J = 3; J <= a.N; J += 2) {
        if (k.MICROINTERVAL[J] >= B) continue;
        a.USEDATUM[J - 1] = false;
        a.USEDATUM[J] = false;
        k.GOODSIGS -= 2;
        if (J < a.N)
            k.ADJMICROINTERVAL[J + 1] =
                k.ADJMICROINTERVAL[J - 1] + k.ADJMICROINTERVAL[J] + k.ADJMICROINTERVAL[J + 1];
        k.ADJMICROINTERVAL[J] = 0;
        k.ADJMICROINTERVAL[J - 1] = 0;
    }
}

void store_result(Context& c, const Analysis& a) {
    const std::int64_t first = a.N >= 1 ? event_time(c, a.p, 1) : 0;
    for (std::int32_t J = 1; J <= a.N; ++J) {
        DataResultRec& r = c.cfg.DATARESULT[J];
        r.SIGNALTIME = static_cast<double>(event_time(c, a.p, J) - first) / 1000000.0;
        r.SIGNALGAP = c.calib.MICROINTERVAL[J];
        r.SENSORGAP = c.calib.ADJMICROINTERVAL[J];
    }
}

void WRITEOUTDATARESULT(Context& c, const Analysis& a, TextSink& f) {
    const CalibrationState& k = c.calib;
    for (std::int32_t J = 1; J <= a.N; ++J) {
        std::string line = str(a.p) + " Port:" + c.serial.PORTNAME[a.p] + " input=\"" +
                           std::string(1, c.cfg.USEDATINPUTCHAR) + "\" SIGNAL:" + str(J) +
                           " time:" + secs(c.cfg.DATARESULT[J].SIGNALTIME) + " SIGgap:" + secs(k.MICROINTERVAL[J]);
        if (!a.USEDATUM[J])
            line += " **DATA IGNORED**2";
        else
            line += " SENSOR__gap:" + secs(k.ADJMICROINTERVAL[J]);
        f.writeln(line);
    }
}

// The lines in use whose state changed from the event before.
std::string changed_lines(const Context& c, std::int32_t p, std::int32_t J) {
    const CalibrationState& k = c.calib;
    const SerialState& s = c.serial;
    std::string out;
    auto one = [&](bool live, const Arr<PortLineStates, 1, MAXSERIALPORTS>& t, const char* label) {
        if (live && t[p][J] != t[p][J - 1]) out += label + std::string(1, t[p][J]);
    };
    one(s.CTSLIVE, k.CTSBARR2, " cts=");
    one(s.DSRLIVE, k.DSRBARR2, " dsr=");
    one(s.CDLIVE, k.CDBARR2, "  cd=");
    one(s.RILIVE, k.RIBARR2, "  ri=");
    return out;
}

void WRITEOUTSIGNALRESULT(Context& c, Analysis& a, TextSink& f) {
    const CalibrationState& k = c.calib;
    std::int64_t total_ms = 0;
    std::int32_t signals = 0;
    std::int32_t S = 0;
    for (std::int32_t J = 1; J <= a.N; ++J) {
        const double time = c.cfg.DATARESULT[J].SIGNALTIME;
        std::string line = "Prt:" + c.serial.PORTNAME[a.p] + changed_lines(c, a.p, J);
        if (J % 2 == 1) {
            S += 1;
            line += " SIG_ON  :" + str(S) + " time:" + secs(time) + " SIGgap:" + secs(k.MICROINTERVAL[J]);
        } else {
            line += " SIG_OFF :" + str(S) + " time:" + secs(time) + " SIGlen:" + secs(k.MICROINTERVAL[J]);
            // Whole milliseconds from the microsecond stamps: the same count as
            // truncating 1000 x seconds, without the rounding of the double.
            total_ms += (event_time(c, a.p, J) - event_time(c, a.p, J - 1)) / 1000;
            signals += 1;
        }
        if (!a.USEDATUM[J]) {
            line += " **DATA IGNORED**1";
        } else if (J % 2 == 1) {
            line += " SENS_ON__gap:" + secs(k.ADJMICROINTERVAL[J]);
            a.MAXSIGGAP = std::max(a.MAXSIGGAP, k.ADJMICROINTERVAL[J]);
            if (J >= 3) a.GAPMEASURED = true;
        } else {
            line += " SENS_OFF_len:" + secs(k.ADJMICROINTERVAL[J]);
            a.MAXSIGLEN = std::max(a.MAXSIGLEN, k.ADJMICROINTERVAL[J]);
        }
        f.writeln(line);
    }
    c.cfg.MEANSIGNALLENGTH = signals > 0 ? static_cast<std::int32_t>(total_ms / signals) : 0;
    f.writeln("Signal leng ave=" + str(c.cfg.MEANSIGNALLENGTH) + "ms max=" + fixed(1000 * a.MAXSIGLEN, 6, 1) +
              "ms, max gap=" + fixed(1000 * a.MAXSIGGAP, 6, 1) + "ms");
}

// The sensor was on when the recording began: its gaps were measured as
// signals. The ringer may go on, but is told to restart.
void warn_interchanged(Context& c) {
    FULLWINDOW(c);
    c.screen.gotoxy(1, FIRSTLINEOFSCRATCHSCREEN);
    c.screen.textcolor(YELLOW);
    c.screen.writeln("Signal & interval appear interchanged (caused by signal set ON at start)");
    c.FOOERROR.writeln("Signal & interval appear interchanged (caused by signal set ON at start) - asked to quit");
    c.FOOERROR.flush();
    c.screen.writeln("Press Q to Quit.  Then restart program");
    c.screen.textcolor(WHITE);
    (void)WAITFORKEYSTROKEANDRETURNNORMALKEY(c);
}

}  // namespace

void WRITEPORTTIMESSIGNALS(Context& c, std::int32_t p) {
    CalibrationState& k = c.calib;
    const std::int32_t n = k.SIGNALNUMARR[p];
    k.CTSBARR2[p][n] = CHB(k.CTSBARR[p]);
    k.DSRBARR2[p][n] = CHB(k.DSRBARR[p]);
    k.CDBARR2[p][n] = CHB(k.CDBARR[p]);
    k.RIBARR2[p][n] = CHB(k.RIBARR[p]);
}

// A data-mode event keeps the port's line states under its number too, so
// every counted event has its entry in the state tables whatever the mode;
// with monitoring on, the event goes to the log as it is taken.
void WRITEPORTTIMESDATA(Context& c, std::int32_t p) {
    WRITEPORTTIMESSIGNALS(c, p);
    if (c.cfg.MONITOROUTPUT) {
        const std::int32_t n = c.calib.SIGNALNUMARR[p];
        c.FOOERROR.writeln("Data event " + str(n) + " port " + c.serial.PORTNAME[p] + " input=\"" +
                           std::string(1, c.cfg.USEDATINPUTCHAR) + "\" time(us)=" + str(c.calib.MICROSECSARR[p][n]));
    }
}

void WRITEPORTTIMESSMY(Context& c, std::int32_t p) {
    Analysis a;
    a.p = p;
    // The tables hold MAXCALIBRATIONEVENTS events; a count beyond them is not
    // read past the end.
    a.N = std::clamp<std::int32_t>(c.calib.SIGNALNUMARR[p], 0, MAXCALIBRATIONEVENTS);
    const double B = c.cfg.SWITCHBOUNCEDELAY * 0.001;

    c.calib.GOODSIGS = a.N;
    a.USEDATUM.fill(true);
    compute_intervals(c, a);
    if (c.cfg.BAGLEYMODE)
        fold_data_bounces(c, a, B);
    else
        fold_signal_bounces(c, a, B);
    store_result(c, a);

    if (c.cfg.BAGLEYMODE) {
        WRITEOUTDATARESULT(c, a, c.screen);
        WRITEOUTDATARESULT(c, a, c.FOOERROR);
        return;
    }
    WRITEOUTSIGNALRESULT(c, a, c.screen);
    WRITEOUTSIGNALRESULT(c, a, c.FOOERROR);
    c.FOOERROR.flush();
    // Without a gap between two signals there is nothing to compare: a
    // single ON/OFF sensor gives one long signal and must not be told to quit.
    if (a.GAPMEASURED && a.MAXSIGLEN > a.MAXSIGGAP) warn_interchanged(c);
}

}  // namespace qn
