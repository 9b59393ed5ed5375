#include "strokes/logs.h"

#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"

namespace qn {

std::string date_time_text(Context& c) {
    platform::LocalDateTime dt = c.plat.files->now();
    return dt.short_date + " " + dt.long_time;
}

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

std::string log_notice(const Context& c) {
    std::string text;
    if (!c.FOOERROR.stopped_reason().empty())
        text = "Run log stopped, ringing goes on: " + short_reason(c.FOOERROR.stopped_reason());
    else if (!c.FOOERROR.no_log_reason().empty())
        text = "No run log this time: " + short_reason(c.FOOERROR.no_log_reason());
    if (text.size() > Screen::COLS - 1) text.resize(Screen::COLS - 1);  // one line, no scroll
    return text;
}

// Told at once on the notice line (the menu keeps it there), whatever
// window the caller is drawing in; what was selected is put back.
static void show_log_stopped(Context& c) {
    Screen& s = c.screen;
    const int x1 = s.win_left(), y1 = s.win_top(), x2 = s.win_right(), y2 = s.win_bottom();
    const int cx = s.wherex(), cy = s.wherey();
    const std::uint8_t fg = s.textcolor();
    s.window(1, LOGNOTICELINE, Screen::COLS, LOGNOTICELINE);
    s.clrscr();
    s.textcolor(YELLOW);
    s.write(log_notice(c));
    s.window(x1, y1, x2, y2);
    s.gotoxy(cx, cy);
    s.textcolor(fg);
}

void STARTERRORLOG(Context& c) {
    platform::Files& fs = *c.plat.files;
    (void)fs.make_dir("logs");
    std::string stamp = date_time_text(c);
    std::string base = std::string("logs/") + PROGRAM_VERSION + file_stamp(stamp);

    // Two runs in the same second would share a name; the first run's log
    // is kept and the second gets "_2" (then "_3", ...).
    std::string chosen = base;
    for (int n = 2; fs.exists(chosen + ".log") && n < 1000; ++n) chosen = base + "_" + str(n);
    c.FOOERROR.set_name(chosen);

    auto file = fs.create(chosen + ".log");
    if (!file.ok()) {
        c.FOOERROR.set_no_log_reason(file.error());
        c.screen.textcolor(YELLOW);
        c.screen.writeln("No run log this time: " + file.error());
        c.FOOERROR.adopt(nullptr);
        return;
    }
    c.FOOERROR.adopt(std::move(file.value()));
    c.FOOERROR.on_stop([&c](const std::string&) { show_log_stopped(c); });
    auto redirected = fs.redirect_stderr(chosen + ".log");
    c.FOOERROR.writeln(std::string(PROGRAM_VERSION) + " Error log run date and time = " + stamp);
    if (!redirected.ok()) c.FOOERROR.writeln("Standard error not sent to this log: " + redirected.error());
}

void MYFLUSH(Context& c) { c.FOOERROR.flush(); }

}  // namespace qn
