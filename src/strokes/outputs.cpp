#include "strokes/outputs.h"

#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/dispatch.h"
#include "strokes/counter.h"

namespace qn {

char CHB(bool b) { return b ? 'T' : 'F'; }

namespace {

// The interval history holds 6000 times. Ringing that never pauses (hours
// of automatic ringing) would fill it: the older half is then dropped, so
// the average interval becomes the average of the recent half.
void push_sensor_time(StrokesState& s, std::int32_t ms) {
    if (s.NSENSORTIME >= MAXROWSALLOWED) {
        const std::int32_t keep = MAXROWSALLOWED / 2;
        for (std::int32_t i = 1; i <= keep; ++i) s.SENSORTIMES[i] = s.SENSORTIMES[MAXROWSALLOWED - keep + i];
        s.NSENSORTIME = keep;
    }
    ++s.NSENSORTIME;
    s.SENSORTIMES[s.NSENSORTIME] = ms;
}

void at(Context& c, int col, int line, const std::string& text, std::uint8_t colour) {
    c.screen.textcolor(colour);
    c.screen.gotoxy(col, line);
    c.screen.write(text);
}

std::string stroke_text(const Context& c, std::int32_t I, const char* hand, const char* back) {
    const SensingPoint& p = c.keyout.WHICHSENSORARR2[I];
    const StrokesState& s = c.strokes;
    const bool h = s.HANDSTROKE;
    return std::string(h ? hand : back) +
           str(s.DOOUTPUTSMICROTIME + MULTINT64(h ? p.WDELAYHAND : p.WDELAYBACK, 1000));
}

void statistics_line(Context& c, std::int32_t average) {
    const StrokesState& s = c.strokes;
    at(c, 39, 22, pad_int(average, 4), WHITE);
    at(c, 62, 22, fixed(s.MINSPACERATIO, 5, 3), WHITE);
    at(c, 72, 22, fixed(s.MAXSPACERATIO, 5, 3), WHITE);
}

}  // namespace

Spacing FIXROGUESTRIKES(Context& c, std::int32_t I) {
    StrokesState& s = c.strokes;
    push_sensor_time(s, static_cast<std::int32_t>(s.DOOUTPUTSMICROTIME / 1000));
    if (s.NSENSORTIME <= 8) return Spacing::Normal;
    FULLWINDOW(c);

    const std::int32_t n = s.NSENSORTIME;
    const std::int32_t average = (s.SENSORTIMES[n - 1] - s.SENSORTIMES[1]) / (n - 2);
    // All times equal would leave the ratio undefined: such a strike is
    // taken as a normal one.
    s.SPACERATIO = average > 0 ? static_cast<double>(s.SENSORTIMES[n] - s.SENSORTIMES[n - 1]) / average : 1.0;
    if (s.SPACERATIO < s.MINSPACERATIO) s.MINSPACERATIO = s.SPACERATIO;
    if (s.SPACERATIO > s.MAXSPACERATIO) s.MAXSPACERATIO = s.SPACERATIO;

    if (s.SPACERATIO < c.cfg.SPACERATIOLOWERBOUND) {
        ++s.NUMROGUE;
        at(c, 28, 23, pad_int(s.NUMROGUE, 4), YELLOW);
        at(c, 32 + 6 * ((s.NUMROGUE - 1) % 8), 23, std::string(" ") + fixed(s.SPACERATIO, 5, 3), YELLOW);
        c.screen.textcolor(WHITE);
        c.FOOERROR.writeln("Row" + str(n) +
                           stroke_text(c, I, " Spurious handstroke strike at ", " Spurious backstroke strike at ") +
                           " ratio=" + fixed(s.SPACERATIO, 6, 3));
        if (c.keyout.USEDOUBLEDSEND) {
            c.FOOERROR.writeln("Row" + str(n) + " Spurious strike ignored");
            --s.NSENSORTIME;  // the next ratio is measured from the last good strike
            return Spacing::Spurious;
        }
        statistics_line(c, average);
        return Spacing::Spurious;
    } else if (s.SPACERATIO > c.cfg.SPACERATIOUPPERBOUND) {
        ++s.NUMMISSED;
        at(c, 28, 24, pad_int(s.NUMMISSED, 4), YELLOW);
        at(c, 32 + 6 * ((s.NUMMISSED - 1) % 8), 24, std::string(" ") + fixed(s.SPACERATIO, 6, 3), YELLOW);
        c.screen.textcolor(WHITE);
        push_sensor_time(s, static_cast<std::int32_t>(s.DOOUTPUTSMICROTIME / 1000));
        c.FOOERROR.writeln("Row" + str(s.NOUTPUTTIME) +
                           stroke_text(c, I, " handstroke strike before ", " backstroke strike before ") +
                           " assumed missed, ratio=" + fixed(s.SPACERATIO, 6, 3));
        if (c.keyout.USEDOUBLEDSEND) {
            s.HANDSTROKE = !s.HANDSTROKE;  // the missed stroke is counted
            c.FOOERROR.writeln("Row" + str(s.NOUTPUTTIME) + " Missed keystroke inserted");
        }
        s.DOUBLEDSEND = true;
        statistics_line(c, average);
        return Spacing::Missed;
    }
    at(c, 28, 25, pad_int(s.NSENSORTIME, 4), WHITE);
    at(c, 32 + 6 * ((s.NSENSORTIME - 1) % 8), 25, std::string(" ") + fixed(s.SPACERATIO, 5, 3), LIGHTGRAY);
    c.screen.textcolor(WHITE);
    statistics_line(c, average);
    return Spacing::Normal;
}

// The row counter follows the rows rung. With the correction of rogue
// strikes on, a spurious strike is no row (it is left out of the spacing
// too), and a missed one, made up with a doubled key, is one. Counting the
// signals instead left a peal of 5040 rows showing 5040 plus the spurious
// strikes less the missed ones.
static void count_row(Context& c, Spacing spacing) {
    StrokesState& s = c.strokes;
    const bool corrected = c.keyout.USEDOUBLEDSEND;
    if (corrected && spacing == Spacing::Spurious) return;
    s.MYCOUNTER += corrected && spacing == Spacing::Missed ? 2 : 1;
    if (s.MYCOUNTER == 1) RESETZEROPARAMETERS(c);
}

void DOOUTPUTS(Context& c) {
    StrokesState& s = c.strokes;
    KeyoutState& k = c.keyout;
    ++s.SNUM;
    s.DOUBLEDSEND = false;
    Spacing first_point = Spacing::Normal;
    for (std::int32_t I = 1; I <= k.SENSORSACTIVE && I <= MAXSENSORS; ++I) {
        if (k.WHICHSENSORARR2[I].WSNUM != s.SNUM) continue;
        s.DOOUTPUTSMICROTIME = MYELAPSEDMICROSECS(c);
        const Spacing spacing = FIXROGUESTRIKES(c, I);
        if (I == 1) first_point = spacing;
        const SensingPoint& p = k.WHICHSENSORARR2[I];
        // Scheduled from the processing time; the event time is only recorded.
        // The strike sits in the middle of a sensor pulse, so half the pulse
        // is added. With ON/OFF sensing each edge is a stroke of its own and
        // the "pulse" is a whole stroke long: nothing is added then.
        const std::int32_t half_pulse = c.cfg.OFFANDONARESIGNALS ? 0 : c.cfg.MEANSIGNALLENGTH;
        const std::int64_t due = s.DOOUTPUTSMICROTIME + MULTINT64(s.HANDSTROKE ? p.WDELAYHAND : p.WDELAYBACK, 1000) +
                                 MULTINT64(half_pulse, 500);
        s.SENSORACTIONTIMEUNADJUSTED[I] = due;
        s.SENSORACTIONTIME[I] = due;
        s.SENDAKEYACTIVE[I] = true;
        if (c.cfg.MONITOROUTPUT)
            c.FOOERROR.writeln("Key -> queue to send at time/intvl (ms)\t" + str(due / 1000) + "\t" +
                               str((due - s.LASTSENSORACTIONTIME[I]) / 1000));
        // The records only feed the event log; a list filled by ringing that
        // never pauses stops taking records until the next pause empties it.
        if (s.NOUTPUTTIME < MAXROWSALLOWED) {
            ++s.NOUTPUTTIME;
            s.OUTPUTTIMESLIST[s.NOUTPUTTIME] = OutputRec{I, s.THISEVENTTIMEMICRO, false};
        } else if (!s.OUTPUTLISTFULLLOGGED) {
            s.OUTPUTLISTFULLLOGGED = true;
            c.FOOERROR.writeln("Output record list full (" + str(MAXROWSALLOWED) +
                               ") - further strikes are not listed in this touch's event log");
        }
        s.LASTSENSORACTIONTIME[I] = due;
        if (due <= s.DOOUTPUTSMICROTIME) DOKEYSENDING(c);
    }
    s.LASTLOCMICROSECS = s.DOOUTPUTSMICROTIME;
    if (k.WHICHSENSORARR2[1].WSNUM == s.SNUM) count_row(c, first_point);
    if (s.SNUM == c.cfg.SENSORNUM) s.SNUM = 0;
}

}  // namespace qn
