// The in-service screen: the menu in the header, the monitor figures at the
// bottom and the big row counter. write_big_counter runs after every strike, so it
// writes only what changed: three figures, the units glyph and a higher glyph
// only when its digit moves on.
#include "console/bignumber.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "console/console_ui.h"
#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/desktop.h"
#include "link/tower.h"
#include "strokes/counter.h"
#include "strokes/logs.h"

namespace qn {

namespace {

constexpr int kGlyphColumns = 19;
constexpr int kThousandsColumn = 1;
constexpr int kHundredsColumn = 21;
constexpr int kTensColumn = 41;
constexpr int kUnitsColumn = 61;

// The figures after "Duration=" and "Peal speed=" can get shorter (0:0:59 is
// followed by 0:1:0), so they are written blank-filled up to the labels at
// column 20 to leave no old characters behind.
constexpr std::size_t kDurationField = 10;  // columns 10..19
constexpr std::size_t kSpeedField = 8;      // columns 12..19

void write_at(Context& c, int x, int y, std::string_view s) {
    c.screen.move_to(x, y);
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
    write_glyph(c, column, 1, digit);
    last = digit;
}

// Leading zeros are left blank. Which positions are shown is judged on the
// whole count, so that from 10000 on the last four digits all stay drawn and
// no glyph of 9999 is left standing when the count rolls over.
void draw_counter(Context& c, std::int32_t counter, bool repaint) {
    StrokesState& s = c.strokes;
    const std::int32_t n = std::max<std::int32_t>(counter, 0);
    draw_position(c, kThousandsColumn, n / 1000 % 10, n >= 1000, repaint, s.thousands_shown);
    draw_position(c, kHundredsColumn, n / 100 % 10, n >= 100, repaint, s.hundreds_shown);
    draw_position(c, kTensColumn, n / 10 % 10, n >= 10, repaint, s.tens_shown);
    write_glyph(c, kUnitsColumn, 1, n % 10);
}

// row_count = -1: the whole service screen from nothing.
void draw_service_screen(Context& c) {
    c.screen.clear_window();
    if (!c.cfg.big_numbers) write_service_menu(c);
    clear_long_scratch_window(c);
    c.screen.text_colour(kWhite);
    // Where keys cannot reach the target as they should, the ringer needs
    // to know that more than the calibration (which the run log has).
    if (!show_desktop_notices(c)) write_current_calibration(c, console_sink(c));
    full_window(c);
    c.strokes.row_count = 0;
}

// The rows-per-peal speed, computed in whole numbers: 5040 rows at the mean
// row interval so far, 0.084 = 5040 / 60000 minutes per millisecond.
std::int64_t peal_minutes(std::int64_t durationms, std::int32_t counter) {
    const std::int64_t intervals = counter - 1;
    return durationms * 84 / (1000 * intervals);
}

void write_running_figures(Context& c) {
    const StrokesState& s = c.strokes;
    const std::int64_t d = std::max<std::int64_t>(s.now_ms - s.first_ms, 0);
    write_at(c, 13, 22, pad_int(s.row_count, 4));
    write_at(c, 10, 23, blank_filled(elapsed_text(d), kDurationField));
    const std::int64_t p = peal_minutes(d, s.row_count);
    write_at(c, 12, 24, blank_filled(str(p / 60) + ":" + pad_int(p % 60, 3), kSpeedField));
}

// "QA=": how long this update took, smoothed 9:1.
void write_drawing_time(Context& c) {
    ConsoleState& k = c.con;
    const std::int64_t t = elapsed_ms(c) - c.strokes.now_ms;
    if (k.loop_ms_average == -1)
        k.loop_ms_average = 20;
    else
        k.loop_ms_average = static_cast<std::int32_t>((9 * static_cast<std::int64_t>(k.loop_ms_average) + t) / 10);
    if (k.loop_ms_average <= 20)
        c.screen.text_colour(kGreen);
    else if (k.loop_ms_average <= 40)
        c.screen.text_colour(kYellow);
    else
        c.screen.text_colour(kRed);
    write_at(c, 4, 25, pad_int(k.loop_ms_average, 3));
    c.screen.text_colour(kWhite);
}

}  // namespace

void write_big_counter(Context& c) {
    if (!c.keyout.window_focus) return;
    reset_counter_state(c);
    StrokesState& s = c.strokes;
    c.screen.text_colour(kWhite);
    if (s.row_count == -1) {
        draw_service_screen(c);
    } else if (s.row_count <= 1) {
        clear_long_scratch_window(c);
        full_window(c);
        write_startup_monitor_window(c);
    }
    if (c.con.big_number_stale) {
        c.con.big_number_stale = false;
        if (c.cfg.big_numbers)
            repaint_big_number(c);
        else
            write_service_menu(c);
    }
    if (s.row_count > 1) {
        // Whatever window the caller left selected, the figures are placed
        // on the whole screen.
        full_window(c);
        write_running_figures(c);
        if (c.cfg.big_numbers) write_big_number(c, s.row_count);
        write_drawing_time(c);
    }
}

void write_startup_monitor_window(Context& c) {
    const StrokesState& s = c.strokes;
    clear_monitor_window(c);
    full_window(c);
    if (c.cfg.big_numbers) repaint_big_number(c);
    c.screen.text_colour(kWhite);
    c.screen.move_to(1, 22);
    c.screen.write_line("Row count = " + pad_int(s.row_count, 4));
    c.screen.write_line("Duration=" + elapsed_text(s.now_ms - s.first_ms));
    c.screen.write_line("Peal speed=0:  0");
    c.screen.write("QA=       ");
    write_at(c, 20, 23, "Spurious");
    write_at(c, 20, 24, "Missed  ");
    write_at(c, 20, 25, "Good    ");
    if (c.strokes.missed_keys > 0) write_at(c, 8, 25, "SkipSend=" + str(c.strokes.missed_keys));
    write_at(c, 20, 22, "Ave sensorinterval=    ms Space ratio Min=      Max=");
}

void repaint_big_number(Context& c) {
    clear_big_number_window(c);
    set_up_digit_rows(c);
    c.screen.text_colour(kWhite);
    draw_counter(c, c.strokes.row_count, true);
    full_window(c);
    write_at(c, 1, 21, "N Toggle big numbers: in-service calibration menu, when Big Numbers OFF. Q=Quit");
}

void write_big_number(Context& c, std::int32_t counter) { draw_counter(c, counter, false); }

void write_glyph(Context& c, int x, int y, int digit) {
    if (digit < 0 || digit > 9) return;
    // One string into a glyph-wide window: the wrap puts each row on its line.
    c.screen.window(x, y, x + kGlyphColumns - 1, y + kGlyphColumns - 1);
    c.screen.write(c.con.digit_rows[digit]);
    full_window(c);
}

std::string elapsed_text(std::int64_t millisecs) {
    const std::int64_t secs = std::max<std::int64_t>(millisecs, 0) / 1000;
    return str(secs / 3600) + ":" + str(secs % 3600 / 60) + ":" + str(secs % 60);
}

void write_service_menu(Context& c) {
    clear_header_window(c);
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
    else if (c.keyout.target_index < 2)
        s.write("[Q] Quit. Target program=" + target + " *MUST* be the foreground window!");
    else
        s.write("[Q] Quit. Target program=" + target);
    // A run without its log says so under the menu for as long as it runs.
    if (const std::string notice = log_notice(c); !notice.empty()) {
        s.move_to(1, log_notice_line);
        s.write(notice);
    }
    s.text_colour(kWhite);
    full_window(c);
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
