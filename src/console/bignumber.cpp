// The in-service screen: the menu in the header, the monitor figures at the
// bottom and the big row counter. After every strike the counter's figures
// are brought up to date.
#include "console/bignumber.h"

#include <algorithm>
#include <string>

#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/desktop.h"
#include "link/tower.h"
#include "strokes/logs.h"
#include "strokes/strike_path.h"
#include "ui/big_counter.h"
#include "ui/monitor_region.h"

namespace qn {

namespace {

// The whole service screen from nothing.
void draw_service_screen(Context& c) {
    c.screen.clrscr();
    if (!c.cfg.BIGNUMBERS) WRITEINSERVICEMENU(c);
    LONGSCRATCHWINDOWCLS(c);
    c.screen.textcolor(WHITE);
    // Where keys cannot reach the target as they should, the ringer needs
    // to know that more than the calibration (which the run log has).
    if (!show_desktop_notices(c)) WRITECURRENTCALIBRATIONTOSCREEN(c, console_sink(c));
    FULLWINDOW(c);
}

// A touch's start: the monitor window cleared, the counter and the labels.
void draw_monitor_window(Context& c) {
    MONITORWINDOWCLS(c);
    FULLWINDOW(c);
    if (c.cfg.BIGNUMBERS) repaint_big_counter(c);
    const RowCounter& rows = c.strikes->rows();
    c.monitor->draw_frame(rows.rows(), rows.now_ms() - rows.first_ms());
}

// A command key or the focus coming back asked for the header again.
void repaint_if_asked(Context& c) {
    if (!c.con.REPAINTBIGNUMBERWINDOW) return;
    c.con.REPAINTBIGNUMBERWINDOW = false;
    if (c.cfg.BIGNUMBERS)
        repaint_big_counter(c);
    else
        WRITEINSERVICEMENU(c);
}

// Whatever window the caller left selected, the figures are placed on the
// whole screen.
void draw_running_figures(Context& c) {
    const RowCounter& rows = c.strikes->rows();
    FULLWINDOW(c);
    c.monitor->draw_figures(rows.rows(), rows.now_ms() - rows.first_ms());
    if (c.cfg.BIGNUMBERS) c.big_counter->draw(rows.rows());
    c.monitor->draw_update_time(MYELAPSEDMILLISECS(c) - rows.now_ms());
}

}  // namespace

void update_service_screen(Context& c) {
    if (!c.keyout.WINDOWFOCUS) return;
    RowCounter& rows = c.strikes->rows();
    rows.tick();
    c.screen.textcolor(WHITE);
    if (rows.rows() <= 1) {
        LONGSCRATCHWINDOWCLS(c);
        FULLWINDOW(c);
        draw_monitor_window(c);
    }
    repaint_if_asked(c);
    if (rows.rows() > 1) draw_running_figures(c);
}

void show_service_screen(Context& c) {
    if (!c.keyout.WINDOWFOCUS) return;
    c.strikes->rows().tick();
    c.screen.textcolor(WHITE);
    draw_service_screen(c);
    repaint_if_asked(c);
}

void repaint_big_counter(Context& c) {
    SETUPFASTLINE(c);
    c.big_counter->repaint(c.strikes->rows().rows());
}

void WRITECHAR(Context& c, int x, int y, int digit) {
    if (digit < 0 || digit > 9) return;
    draw_glyph(c.screen, c.con.FASTLINE[digit], x, y);
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
