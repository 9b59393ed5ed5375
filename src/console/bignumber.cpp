// The in-service screen: the menu in the header, the monitor figures at the
// bottom and the big row counter. After every strike the counter's figures
// are brought up to date.
#include "console/bignumber.h"

#include <algorithm>
#include <string>

#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/desktop.h"
#include "keyout/dispatch.h"
#include "keyout/targets.h"
#include "ui/delivery_notices.h"
#include "link/tower.h"
#include "runlog/run_log_start.h"
#include "strokes/strike_path.h"
#include "ui/big_counter.h"
#include "ui/monitor_region.h"

namespace qn {

namespace {

// The whole service screen from nothing.
void draw_service_screen(Context& c) {
    c.screen.clear_window();
    if (!c.cfg.big_numbers) write_service_menu(c);
    c.console.clear(Area::LongScratch);
    c.screen.text_colour(kWhite);
    // Where keys cannot reach the target as they should, the ringer needs
    // to know that more than the calibration (which the run log has).
    if (!show_desktop_notices(c.screen, c.plat.windows->desktop())) write_current_calibration(c, console_sink(c));
    c.console.select(Area::Full);
}

// A touch's start: the monitor window cleared, the counter and the labels.
void draw_monitor_window(Context& c) {
    c.console.clear(Area::Monitor);
    c.console.select(Area::Full);
    if (c.cfg.big_numbers) repaint_big_counter(c);
    const RowCounter& rows = c.strikes->rows();
    c.monitor->draw_frame(rows.rows(), rows.now_ms() - rows.first_ms());
}

// A command key or the focus coming back asked for the header again.
void repaint_if_asked(Context& c) {
    if (!c.con.big_number_stale) return;
    c.con.big_number_stale = false;
    if (c.cfg.big_numbers)
        repaint_big_counter(c);
    else
        write_service_menu(c);
}

// Whatever window the caller left selected, the figures are placed on the
// whole screen.
void draw_running_figures(Context& c) {
    const RowCounter& rows = c.strikes->rows();
    c.console.select(Area::Full);
    c.monitor->draw_figures(rows.rows(), rows.now_ms() - rows.first_ms());
    if (c.cfg.big_numbers) c.big_counter->draw(rows.rows());
    c.monitor->draw_update_time(c.clock.elapsed_ms() - rows.now_ms());
}

}  // namespace

void update_service_screen(Context& c) {
    if (!c.key_sender->has_focus()) return;
    RowCounter& rows = c.strikes->rows();
    rows.tick();
    c.screen.text_colour(kWhite);
    if (rows.rows() <= 1) {
        c.console.clear(Area::LongScratch);
        c.console.select(Area::Full);
        draw_monitor_window(c);
    }
    repaint_if_asked(c);
    if (rows.rows() > 1) draw_running_figures(c);
}

void show_service_screen(Context& c) {
    if (!c.key_sender->has_focus()) return;
    c.strikes->rows().tick();
    c.screen.text_colour(kWhite);
    draw_service_screen(c);
    repaint_if_asked(c);
}

void repaint_big_counter(Context& c) {
    set_up_digit_rows(c);
    c.big_counter->repaint(c.strikes->rows().rows());
}

void write_glyph(Context& c, int x, int y, int digit) {
    if (digit < 0 || digit > 9) return;
    draw_glyph(c.screen, c.con.digit_rows[digit], x, y);
}

std::string elapsed_text(std::int64_t millisecs) {
    const std::int64_t secs = std::max<std::int64_t>(millisecs, 0) / 1000;
    return str(secs / 3600) + ":" + str(secs % 3600 / 60) + ":" + str(secs % 60);
}

void write_service_menu(Context& c) {
    c.console.clear(Area::Header);
    Screen& s = c.screen;
    s.text_colour(kWhite);
    s.move_to(1, 1);
    s.write_line(underscores_to_spaces(kProgramVersion));
    s.text_colour(kYellow);
    s.write_line("[C] PERMANENT Changes to program configuration. Adjustments for THIS session:");
    s.write_line("[P] Choose target program         [N] Big row counter display numbers toggle");
    s.write_line("[+/-/</>] Increase/decrease key delay [H/B] Set bell state as Hand/Backstroke");
    s.write_line("[0] (zero) Zero row counter (zeros automatically after ringing pause)");
    s.write_line("[Z,A] configure (Z) Automatic ringing setup [A] toggle (Ringing Room only)");
    const std::string& target = c.cfg.target_program;
    if (tower_link_in_use(c))
        s.write("[Q] Quit. Target program=" + target + ", rings go to tower " + str(c.cfg.tower_id));
    else if (target == "Open")
        s.write("[Q] Quit. WARNING \"Open\" setting sends keys to **ANY foreground window!**");
    else if (target_driver(c.target.index()).route == KeyRoute::FocusedWindow)
        s.write("[Q] Quit. Target program=" + target + " *MUST* be the foreground window!");
    else
        s.write("[Q] Quit. Target program=" + target);
    // A run without its log says so under the menu for as long as it runs.
    if (const std::string notice = log_notice(c); !notice.empty()) {
        s.move_to(1, log_notice_line);
        s.write(notice);
    }
    s.text_colour(kWhite);
    c.console.select(Area::Full);
}

void write_startup_text(Context& c) {
    Screen& s = c.screen;
    s.text_colour(kYellow);
    s.write_line(underscores_to_spaces(kProgramVersion));
    s.text_colour(kWhite);
    s.write_line("This uses the same bell sensor data as used by Abel, Beltower etc.");
    s.write_line("for individual sensors.  This version can use Bagley box output (ASCII chars)");
    s.write_line("It self calibrates by detecting the sensor signals from a handstroke and ");
    s.write_line("backstroke pull, then saves the settings.");
    s.write_line("In use it counts the bell blows and displays them on screen, with speed");
    s.write_line("In use there is an option to ring some bells automatically in rounds");
    s.write_line(
        "WARNING: On Windows 10 (especially) if keystrokes are not sent to the target program, this interface "
        "program must be \"Run as administrator\"");
}

}  // namespace qn
