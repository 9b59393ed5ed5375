// The in-service screen: the menu in the header, the monitor figures at the
// bottom and the big row counter. After every strike the counter's figures
// are brought up to date.
#include "ui/service_screen.h"

#include <algorithm>
#include <string>

#include "config/settings.h"
#include "console/screen.h"
#include "core/dialog.h"
#include "core/text.h"
#include "core/timing.h"
#include "platform/platform.h"
#include "runlog/run_log_start.h"
#include "strokes/counter.h"
#include "ui/big_counter.h"
#include "ui/delivery_notices.h"
#include "ui/monitor_region.h"

namespace qn {

ServiceScreen::ServiceScreen(Screen& screen, Dialog& dialog, const Settings& cfg, RunClock& clock,
                             platform::Platform& plat, const RunLog& log, RowCounter& rows, MonitorRegion& monitor,
                             BigCounter& counter, const ServiceFacts& facts)
    : screen_(screen),
      dialog_(dialog),
      cfg_(cfg),
      clock_(clock),
      plat_(plat),
      log_(log),
      rows_(rows),
      monitor_(monitor),
      counter_(counter),
      facts_(facts) {}

void ServiceScreen::draw_whole() {
    screen_.clear_window();
    if (!cfg_.big_numbers) write_menu();
    dialog_.clear(Area::LongScratch);
    screen_.text_colour(kWhite);
    // Where keys cannot reach the target as they should, the ringer needs
    // to know that more than the calibration (which the run log has).
    if (!show_desktop_notices(screen_, plat_.windows->desktop())) facts_.write_calibration(screen_);
    dialog_.select(Area::Full);
}

// A touch's start: the monitor window cleared, the counter and the labels.
void ServiceScreen::draw_monitor_window() {
    dialog_.clear(Area::Monitor);
    dialog_.select(Area::Full);
    if (cfg_.big_numbers) repaint_big_counter();
    monitor_.draw_frame(rows_.rows(), rows_.now_ms() - rows_.first_ms());
}

void ServiceScreen::repaint_if_asked() {
    if (!stale_) return;
    stale_ = false;
    if (cfg_.big_numbers)
        repaint_big_counter();
    else
        write_menu();
}

// Whatever window the caller left selected, the figures are placed on the
// whole screen.
void ServiceScreen::draw_running_figures() {
    dialog_.select(Area::Full);
    monitor_.draw_figures(rows_.rows(), rows_.now_ms() - rows_.first_ms());
    if (cfg_.big_numbers) counter_.draw(rows_.rows());
    monitor_.draw_update_time(clock_.elapsed_ms() - rows_.now_ms());
}

void ServiceScreen::update() {
    if (!facts_.target_has_focus()) return;
    rows_.tick();
    screen_.text_colour(kWhite);
    if (rows_.rows() <= 1) {
        dialog_.clear(Area::LongScratch);
        dialog_.select(Area::Full);
        draw_monitor_window();
    }
    repaint_if_asked();
    if (rows_.rows() > 1) draw_running_figures();
}

void ServiceScreen::show() {
    if (!facts_.target_has_focus()) return;
    rows_.tick();
    screen_.text_colour(kWhite);
    draw_whole();
    repaint_if_asked();
}

void ServiceScreen::repaint_big_counter() { counter_.repaint(rows_.rows()); }

std::string elapsed_text(std::int64_t millisecs) {
    const std::int64_t secs = std::max<std::int64_t>(millisecs, 0) / 1000;
    return str(secs / 3600) + ":" + str(secs % 3600 / 60) + ":" + str(secs % 60);
}

void ServiceScreen::write_menu() {
    dialog_.clear(Area::Header);
    Screen& s = screen_;
    s.text_colour(kWhite);
    s.move_to(1, 1);
    s.write_line(underscores_to_spaces(kProgramVersion));
    s.text_colour(kYellow);
    s.write_line("[C] PERMANENT Changes to program configuration. Adjustments for THIS session:");
    s.write_line("[P] Choose target program         [N] Big row counter display numbers toggle");
    s.write_line("[+/-/</>] Increase/decrease key delay [H/B] Set bell state as Hand/Backstroke");
    s.write_line("[0] (zero) Zero row counter (zeros automatically after ringing pause)");
    s.write_line("[Z,A] configure (Z) Automatic ringing setup [A] toggle (Ringing Room only)");
    const std::string& target = cfg_.target_program;
    if (facts_.rings_tower())
        s.write("[Q] Quit. Target program=" + target + ", rings go to tower " + str(cfg_.tower_id));
    else if (target == "Open")
        s.write("[Q] Quit. WARNING \"Open\" setting sends keys to **ANY foreground window!**");
    else if (facts_.target_must_be_foreground())
        s.write("[Q] Quit. Target program=" + target + " *MUST* be the foreground window!");
    else
        s.write("[Q] Quit. Target program=" + target);
    // A run without its log says so under the menu for as long as it runs.
    if (const std::string notice = log_notice(log_); !notice.empty()) {
        s.move_to(1, log_notice_line);
        s.write(notice);
    }
    s.text_colour(kWhite);
    dialog_.select(Area::Full);
}

void write_startup_text(Screen& s) {
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
