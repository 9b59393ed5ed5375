#include "runlog/run_log_start.h"

#include "config/folders.h"
#include "config/settings.h"
#include "console/screen.h"
#include "core/text.h"
#include "platform/files.h"
#include "runlog/run_log.h"

namespace qn {

static std::string file_stamp(const std::string& stamp) {
    std::string s = stamp;
    for (char& ch : s)
        if (ch == ' ' || ch == '/' || ch == ':') ch = '_';
    return s;
}

// The OS's reason without the call and path before it: "No space left on
// device" fits a line of the screen, the log file's long name would not.
static std::string short_reason(const std::string& error) {
    const std::size_t colon = error.rfind(": ");
    return colon == std::string::npos ? error : error.substr(colon + 2);
}

std::string log_notice(const RunLog& log) {
    std::string text;
    if (!log.stopped_reason().empty())
        text = "Run log stopped, ringing goes on: " + short_reason(log.stopped_reason());
    else if (!log.no_log_reason().empty())
        text = "No run log this time: " + short_reason(log.no_log_reason());
    if (text.size() > Screen::kCols - 1) text.resize(Screen::kCols - 1);  // one line, no scroll
    return text;
}

// Told at once on the notice line (the menu keeps it there), whatever
// window the caller is drawing in; what was selected is put back.
static void show_log_stopped(Screen& s, const RunLog& log) {
    const int x1 = s.win_left(), y1 = s.win_top(), x2 = s.win_right(), y2 = s.win_bottom();
    const int cx = s.cursor_x(), cy = s.cursor_y();
    const std::uint8_t fg = s.text_colour();
    s.window(1, log_notice_line, Screen::kCols, log_notice_line);
    s.clear_window();
    s.text_colour(kYellow);
    s.write(log_notice(log));
    s.window(x1, y1, x2, y2);
    s.move_to(cx, cy);
    s.text_colour(fg);
}

void start_run_log(RunLog& log, platform::Files& fs, Screen& screen, const std::string& logs_folder) {
    (void)make_folders(fs, logs_folder);
    std::string stamp = date_time_text(fs);
    std::string base = in_folder(logs_folder, kProgramVersion + file_stamp(stamp));

    // Two runs in the same second would share a name; the first run's log
    // is kept and the second gets "_2" (then "_3", ...).
    std::string chosen = base;
    for (int n = 2; fs.exists(chosen + ".log") && n < 1000; ++n) chosen = base + "_" + str(n);
    log.set_name(chosen);

    auto file = fs.create_text(chosen + ".log");
    if (!file.ok()) {
        log.set_no_log_reason(file.error());
        screen.text_colour(kYellow);
        screen.write_line("No run log this time: " + file.error());
        log.adopt(nullptr);
        return;
    }
    log.adopt(std::move(file.value()));
    log.on_stop([&screen, &log](const std::string&) { show_log_stopped(screen, log); });
    auto redirected = fs.redirect_stderr(chosen + ".log");
    log.write_line(std::string(kProgramVersion) + " Error log run date and time = " + stamp);
    if (!redirected.ok()) log.write_line("Standard error not sent to this log: " + redirected.error());
}

}  // namespace qn
