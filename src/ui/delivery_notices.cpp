#include "ui/delivery_notices.h"

#include <string>

#include "console/screen.h"
#include "ui/service_screen.h"
#include "console/layout.h"
#include "core/text.h"
#include "platform/windows.h"

namespace qn {

bool show_desktop_notices(Screen& screen, const platform::DesktopInfo& d) {
    if (d.notices.empty()) return false;
    screen.text_colour(kYellow);
    for (const std::string& line : d.notices) screen.write_line(line);
    screen.text_colour(kWhite);
    return true;
}

void DeliveryNotices::scratch_line(std::string_view text) {
    screen_.window(1, 1, Screen::kCols, Screen::kRows);
    screen_.move_to(1, kScratchFirstLine);
    screen_.write(text);
}

void DeliveryNotices::clear_low_scratch() {
    screen_.window(1, kBigNumberLastLine + 1, Screen::kCols, kScratchLastLine);
    screen_.clear_window();
}

void DeliveryNotices::doubled_key_due(const DoubledKeyDue&) { screen_.present(); }

void DeliveryNotices::focus_lost(const FocusLost& r) {
    if (r.still) return;
    clear_low_scratch();
    // The notice has two lines of 80 columns: a long target name is
    // shortened on screen (the log has it whole).
    const std::string rest = " is not the focus window - Key sending suspended";
    std::string shown = "\"" + std::string(r.target_program) + "\"";
    if (shown.size() + rest.size() > static_cast<std::size_t>(Screen::kCols))
        shown = shown.substr(0, Screen::kCols - rest.size() - 3) + "..\"";
    screen_.write(shown + rest);
    screen_.move_to(1, 2);
    // No line end: in the two-line window it would scroll the first line away.
    screen_.write("Keystrokes will be sent when focus is resumed ");
    screen_.window(1, 1, Screen::kCols, Screen::kRows);
}

void DeliveryNotices::focus_regained(const FocusRegained&) {
    // The screen was not updated while the focus was away, but the
    // counter's digit memory may have been reset meanwhile.
    service_screen_.mark_stale();
    clear_low_scratch();
    screen_.window(1, 1, Screen::kCols, Screen::kRows);
}

void DeliveryNotices::target_window_missing(const TargetWindowMissing& r) {
    if (r.paused)
        scratch_line(std::string(r.name) + " window not found - program paused. Press Q to quit");
    else
        scratch_line(std::string(r.name) + " not found ");
}

void DeliveryNotices::program_not_running(const ProgramNotRunning& r) {
    scratch_line(std::string(r.shown) + " not loaded - program paused. Press Q to quit");
}

void DeliveryNotices::program_window_not_found(const ProgramWindowNotFound& r) {
    scratch_line(std::string(r.name) + " not found ");
}

void DeliveryNotices::configuration_closed(const ConfigurationClosed&) { service_screen_.mark_stale(); }

void DeliveryNotices::target_notice(const TargetNotice& r) { scratch_line(r.text); }

void DeliveryNotices::several_instances(const SeveralInstances& r) {
    screen_.window(1, 1, Screen::kCols, Screen::kRows);
    screen_.move_to(1, kScratchFirstLine);
    screen_.write_line("Warning: There are " + str(static_cast<std::int64_t>(r.pids.size())) +
                    " instances of the target program running");
    for (std::size_t i = 0; i < r.pids.size(); ++i)
        screen_.write(str(static_cast<std::int64_t>(i + 1)) + " processid=" + str_u(r.pids[i]) + "; ");
}

}  // namespace qn
