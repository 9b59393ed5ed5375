// The in-service screen: the menu in the header, the monitor figures at the
// bottom and the big row counter. WRITEBIG runs after every strike, so it
// writes only what changed: three figures, the units glyph and a higher glyph
// only when its digit moves on.
#include "console/bignumber.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/desktop.h"
#include "link/tower.h"
#include "strokes/counter.h"
#include "strokes/logs.h"

namespace qn {

namespace {

constexpr int GLYPHCOLUMNS = 19;
constexpr int THOUSANDSCOLUMN = 1;
constexpr int HUNDREDSCOLUMN = 21;
constexpr int TENSCOLUMN = 41;
constexpr int UNITSCOLUMN = 61;

// The figures after "Duration=" and "Peal speed=" can get shorter (0:0:59 is
// followed by 0:1:0), so they are written blank-filled up to the labels at
// column 20 to leave no old characters behind.
constexpr std::size_t DURATIONFIELD = 10;  // columns 10..19
constexpr std::size_t SPEEDFIELD = 8;      // columns 12..19

void write_at(Context& c, int x, int y, std::string_view s) {
    c.screen.gotoxy(x, y);
    c.screen.write(s);
}

std::string blank_filled(std::string s, std::size_t width) {
    if (s.size() < width) s.resize(width, ' ');
    return s;
}

// One position of the counter: drawn when it is shown and, outside a
// repaint, only when its digit differs from the one last drawn there.
void draw_position(Context& c, int column, int digit, bool shown, bool repaint, std::int32_t& last) {
    if (!shown || (!repaint && digit == last)) return;
    WRITECHAR(c, column, 1, digit);
    last = digit;
}

// Leading zeros are left blank. Which positions are shown is judged on the
// whole count, so that from 10000 on the last four digits all stay drawn and
// no glyph of 9999 is left standing when the count rolls over.
void draw_counter(Context& c, std::int32_t counter, bool repaint) {
    StrokesState& s = c.strokes;
    const std::int32_t n = std::max<std::int32_t>(counter, 0);
    draw_position(c, THOUSANDSCOLUMN, n / 1000 % 10, n >= 1000, repaint, s.NUM4LAST);
    draw_position(c, HUNDREDSCOLUMN, n / 100 % 10, n >= 100, repaint, s.NUM3LAST);
    draw_position(c, TENSCOLUMN, n / 10 % 10, n >= 10, repaint, s.NUM2LAST);
    WRITECHAR(c, UNITSCOLUMN, 1, n % 10);
}

// MYCOUNTER = -1: the whole service screen from nothing.
void draw_service_screen(Context& c) {
    c.screen.clrscr();
    if (!c.cfg.BIGNUMBERS) WRITEINSERVICEMENU(c);
    LONGSCRATCHWINDOWCLS(c);
    c.screen.textcolor(WHITE);
    // Where keys cannot reach the target as they should, the ringer needs
    // to know that more than the calibration (which the run log has).
    if (!show_desktop_notices(c)) WRITECURRENTCALIBRATIONTOSCREEN(c, console_sink(c));
    FULLWINDOW(c);
    c.strokes.MYCOUNTER = 0;
}

// The rows-per-peal speed, computed in whole numbers: 5040 rows at the mean
// row interval so far, 0.084 = 5040 / 60000 minutes per millisecond.
std::int64_t peal_minutes(std::int64_t durationms, std::int32_t counter) {
    const std::int64_t intervals = counter - 1;
    return durationms * 84 / (1000 * intervals);
}

void write_running_figures(Context& c) {
    const StrokesState& s = c.strokes;
    const std::int64_t d = std::max<std::int64_t>(s.MILLISECSNOW - s.MILLISECSFIRST, 0);
    write_at(c, 13, 22, pad_int(s.MYCOUNTER, 4));
    write_at(c, 10, 23, blank_filled(ELAPSEDTIME(d), DURATIONFIELD));
    const std::int64_t p = peal_minutes(d, s.MYCOUNTER);
    write_at(c, 12, 24, blank_filled(str(p / 60) + ":" + pad_int(p % 60, 3), SPEEDFIELD));
}

// "QA=": how long this update took, smoothed 9:1.
void write_drawing_time(Context& c) {
    ConsoleState& k = c.con;
    const std::int64_t t = MYELAPSEDMILLISECS(c) - c.strokes.MILLISECSNOW;
    if (k.MILLIDURNSAVE == -1)
        k.MILLIDURNSAVE = 20;
    else
        k.MILLIDURNSAVE = static_cast<std::int32_t>((9 * static_cast<std::int64_t>(k.MILLIDURNSAVE) + t) / 10);
    if (k.MILLIDURNSAVE <= 20)
        c.screen.textcolor(GREEN);
    else if (k.MILLIDURNSAVE <= 40)
        c.screen.textcolor(YELLOW);
    else
        c.screen.textcolor(RED);
    write_at(c, 4, 25, pad_int(k.MILLIDURNSAVE, 3));
    c.screen.textcolor(WHITE);
}

}  // namespace

void WRITEBIG(Context& c) {
    if (!c.keyout.WINDOWFOCUS) return;
    RESETZEROPARAMETERS(c);
    StrokesState& s = c.strokes;
    c.screen.textcolor(WHITE);
    if (s.MYCOUNTER == -1) {
        draw_service_screen(c);
    } else if (s.MYCOUNTER <= 1) {
        LONGSCRATCHWINDOWCLS(c);
        FULLWINDOW(c);
        WRITESTARTUPMONITORWINDOW(c);
    }
    if (c.con.REPAINTBIGNUMBERWINDOW) {
        c.con.REPAINTBIGNUMBERWINDOW = false;
        if (c.cfg.BIGNUMBERS)
            REPAINTBIGNUMBER(c);
        else
            WRITEINSERVICEMENU(c);
    }
    if (s.MYCOUNTER > 1) {
        // Whatever window the caller left selected, the figures are placed
        // on the whole screen.
        FULLWINDOW(c);
        write_running_figures(c);
        if (c.cfg.BIGNUMBERS) WRITEBIGNUMBER(c, s.MYCOUNTER);
        write_drawing_time(c);
    }
}

void WRITESTARTUPMONITORWINDOW(Context& c) {
    const StrokesState& s = c.strokes;
    MONITORWINDOWCLS(c);
    FULLWINDOW(c);
    if (c.cfg.BIGNUMBERS) REPAINTBIGNUMBER(c);
    c.screen.textcolor(WHITE);
    c.screen.gotoxy(1, 22);
    c.screen.writeln("Row count = " + pad_int(s.MYCOUNTER, 4));
    c.screen.writeln("Duration=" + ELAPSEDTIME(s.MILLISECSNOW - s.MILLISECSFIRST));
    c.screen.writeln("Peal speed=0:  0");
    c.screen.write("QA=       ");
    write_at(c, 20, 23, "Spurious");
    write_at(c, 20, 24, "Missed  ");
    write_at(c, 20, 25, "Good    ");
    if (c.strokes.SENDMISS > 0) write_at(c, 8, 25, "SkipSend=" + str(c.strokes.SENDMISS));
    write_at(c, 20, 22, "Ave sensorinterval=    ms Space ratio Min=      Max=");
}

void REPAINTBIGNUMBER(Context& c) {
    BIGNUMBERWINDOWCLS(c);
    SETUPFASTLINE(c);
    c.screen.textcolor(WHITE);
    draw_counter(c, c.strokes.MYCOUNTER, true);
    FULLWINDOW(c);
    write_at(c, 1, 21, "N Toggle big numbers: in-service calibration menu, when Big Numbers OFF. Q=Quit");
}

void WRITEBIGNUMBER(Context& c, std::int32_t counter) { draw_counter(c, counter, false); }

void WRITECHAR(Context& c, int x, int y, int digit) {
    if (digit < 0 || digit > 9) return;
    // One string into a glyph-wide window: the wrap puts each row on its line.
    c.screen.window(x, y, x + GLYPHCOLUMNS - 1, y + GLYPHCOLUMNS - 1);
    c.screen.write(c.con.FASTLINE[digit]);
    FULLWINDOW(c);
}

std::string ELAPSEDTIME(std::int64_t millisecs) {
    const std::int64_t secs = std::max<std::int64_t>(millisecs, 0) / 1000;
    return str(secs / 3600) + ":" + str(secs % 3600 / 60) + ":" + str(secs % 60);
}

void WRITEINSERVICEMENU(Context& c) {
    HEADERWINDOWCLS(c);
    Screen& s = c.screen;
    s.textcolor(WHITE);
    s.gotoxy(1, 1);
    s.writeln(REMOVEUNDERLINEFROMSTRING(PROGRAM_VERSION));
    s.textcolor(YELLOW);
    s.writeln("[C] PERMANENT Changes to program configuration. Adjustments for THIS session:");
    s.writeln("[P] Choose target program         [N] Big row counter display numbers toggle");
    s.writeln("[+/-/</>] Increase/decrease key delay [H/B] Set bell state as Hand/Backstroke");
    s.writeln("[0] (zero) Zero row counter (zeros automatically after ringing pause)");
    s.writeln("[Z,A] configure (Z) Automatic ringing setup [A] toggle (Ringing Room only)");
    const std::string& target = c.cfg.TARGETPROGRAM;
    if (tower_link_in_use(c))
        s.write("[Q] Quit. Target program=" + target + ", rings go to tower " + str(c.cfg.TOWERID));
    else if (target == "Open")
        s.write("[Q] Quit. WARNING \"Open\" setting sends keys to **ANY foreground window!**");
    else if (c.keyout.TARGETPROGRAMINDEX < 2)
        s.write("[Q] Quit. Target program=" + target + " *MUST* be the foreground window!");
    else
        s.write("[Q] Quit. Target program=" + target);
    // A run without its log says so under the menu for as long as it runs.
    if (const std::string notice = log_notice(c); !notice.empty()) {
        s.gotoxy(1, LOGNOTICELINE);
        s.write(notice);
    }
    s.textcolor(WHITE);
    FULLWINDOW(c);
}

void WRITESTARTUPTEXT(Context& c) {
    Screen& s = c.screen;
    s.textcolor(YELLOW);
    s.writeln(REMOVEUNDERLINEFROMSTRING(PROGRAM_VERSION));
    s.textcolor(WHITE);
    s.writeln("This uses the same bell sensor data as used by Abel, Beltower etc.");
    s.writeln("for individual sensors.  This version can use Bagley box output (ASCII chars)");
    s.writeln("It self calibrates by detecting the sensor signals from a handstroke and ");
    s.writeln("backstroke pull, then saves the settings.");
    s.writeln("In use it counts the bell blows and displays them on screen, with speed");
    s.writeln("In use there is an option to ring some bells automatically in rounds");
    s.writeln(
        "WARNING: On Windows 10 (especially) if keystrokes are not sent to the target program, this interface "
        "program must be \"Run as administrator\"");
}

}  // namespace qn
