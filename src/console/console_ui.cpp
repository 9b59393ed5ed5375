#include "console/console_ui.h"

#include <cstdlib>

#include "core/context.h"
#include "core/text.h"
#include "console/run_end.h"
#include "core/timing.h"
#include "link/tower.h"
#include "runlog/striking_files.h"
#include "striking/recorder.h"
#include "serial/ports.h"
#include "serial/serial_thread.h"

namespace qn {

// ---- windows ---------------------------------------------------------------

void full_window(Context& c) { c.screen.window(1, 1, Screen::kCols, Screen::kRows); }

void clear_header_window(Context& c) {
    c.screen.window(1, 1, Screen::kCols, kScratchFirstLine - 1);
    c.screen.clear_window();
}

void clear_long_scratch_window(Context& c) {
    c.screen.window(1, kScratchFirstLine, Screen::kCols, Screen::kRows);
    c.screen.clear_window();
    c.screen.move_to(1, 1);
}

void clear_scratch_window(Context& c) {
    c.screen.window(1, kScratchFirstLine, Screen::kCols, kScratchLastLine);
    c.screen.clear_window();
}

void clear_monitor_window(Context& c) {
    c.screen.window(1, kScratchFirstLine + 1, Screen::kCols, Screen::kRows);
    c.screen.clear_window();
}

void clear_big_number_window(Context& c) {
    c.screen.window(1, 1, Screen::kCols, kBigNumberLastLine);
    c.screen.clear_window();
}

void clear_low_scratch_window(Context& c) {
    c.screen.window(1, kBigNumberLastLine + 1, Screen::kCols, kScratchLastLine);
    c.screen.clear_window();
}

// ---- stopping --------------------------------------------------------------

void pause_ms(Context& c, std::int32_t ms) {
    c.screen.present();
    c.plat.threads->sleep_ms(ms);
}

void end_process(Context& c, int code) {
    stop_tower_link(c);  // leaves the tower, so no one waits on a ringer who has gone
    if (c.striking) c.striking->finish();  // the last striking report, and its files
    if (c.striking_files) c.striking_files->finish();
    c.run_log.flush();
    c.screen.present();
    c.plat.console->close();
    c.plat.process->exit(code);
    std::abort();  // exit does not come back
}

void quit_on_key(Context& c, char ch) {
    char u = upper(ch);
    if (u != 3 && u != 27 && u != 'Q') return;
    clear_scratch_window(c);
    c.screen.text_colour(kYellow);
    c.screen.write_line("Interface terminated by User - closing...");
    write_open_touch(c);
    c.run_log.write_line("Interface terminated by User - closing...");
    if (c.core.stopwatch_started) stop_stopwatch(c);
    pause_ms(c, 2000);
    end_process(c, 0);
}

void halt(Context& c, std::int32_t code, std::string_view message) {
    c.screen.text_colour(kYellow);
    std::string s = message.empty() ? std::string("Terminated by User") : std::string(message);
    c.run_log.write_line(s);
    c.run_log.flush();
    c.screen.write(s);
    // A keyboard that has ended cannot press Enter; the message and the
    // code stand.
    if (!run_end_asked(c).asked) {
        bool ended = false;
        (void)read_line(c, &ended);
    }
    c.screen.text_colour(kWhite);
    // Callers pass codes above 10 only when the port is open.
    if (code > 10 && c.serial.port != 0) {
        close_serial_port(c, c.serial.port);
        c.serial.port = 0;
    }
    stop_stopwatch(c);
    c.core.stopwatch_started = false;
    end_process(c, code > 0 ? code : 0);
}

// ---- keys ------------------------------------------------------------------

char read_console_key(Context& c) {
    end_run_if_asked(c);
    c.screen.present();
    char result = 0;
    if (c.plat.console->key_waiting()) {
        int k = c.plat.console->read_key();
        if (k == 0) {
            (void)c.plat.console->read_key();  // the second code of an extended key
            result = 0;
        } else {
            result = static_cast<char>(k);
        }
    }
    quit_on_key(c, result);
    return result;
}

// A prompt waits for the key itself, looking round ten times a second.
constexpr std::int32_t kKeyLookMs = 100;

// Waits for a key; false when the keyboard has closed instead.
static bool await_key(Context& c) {
    c.screen.present();
    while (!c.plat.console->key_waiting()) {
        if (c.plat.console->input_ended()) return false;
        wait_for_key(c, kKeyLookMs);
    }
    return true;
}

char wait_for_key_char(Context& c) {
    if (!await_key(c)) end_for_closed_keyboard(c);
    return read_console_key(c);
}

bool key_to_go_on(Context& c) {
    if (!await_key(c)) return false;
    (void)read_console_key(c);
    return true;
}

void end_for_closed_keyboard(Context& c) {
    RunEndAsk ask;
    ask.asked = true;
    ask.request.name = "end of file";
    end_run(c, ask);
}

void wait_for_key(Context& c, std::int32_t ms) {
    end_run_if_asked(c);
    c.screen.present();
    wait_for(c, ms, platform::kWakeConsole);
}

void flush_console_keys(Context& c) {
    while (c.plat.console->key_waiting()) (void)read_console_key(c);
}

// Line input as a console gives it: typed characters are echoed at the
// cursor, Backspace takes one back, Esc clears the line, Enter ends it.
// Ctrl-C quits here as everywhere else.
std::string read_line(Context& c, bool* ended) {
    std::string line;
    c.screen.cursor_visible(true);
    for (;;) {
        if (!await_key(c)) {
            if (ended == nullptr) end_for_closed_keyboard(c);
            *ended = true;
            break;
        }
        int k = c.plat.console->read_key();
        if (k == 0) {
            (void)c.plat.console->read_key();
            continue;
        }
        if (k == '\r' || k == '\n') break;
        if (k == 3) quit_on_key(c, 3);
        if (k == 8 || k == 127) {
            if (!line.empty()) {
                line.pop_back();
                c.screen.write("\b \b");
            }
            continue;
        }
        if (k == 27) {
            while (!line.empty()) {
                line.pop_back();
                c.screen.write("\b \b");
            }
            continue;
        }
        if (k < 32 || line.size() >= 255) continue;
        line.push_back(static_cast<char>(k));
        c.screen.write(std::string(1, static_cast<char>(k)));
    }
    c.screen.cursor_visible(false);
    c.screen.newline();
    return line;
}

std::int32_t read_int(Context& c) {
    for (;;) {
        std::string line = read_line(c);
        if (line.empty()) return 0;
        std::int32_t v = 0;
        std::size_t bad = 0;
        if (parse_int32(line, &v, &bad)) return v;
        if (bad >= 1 && bad <= line.size() && upper(line[bad - 1]) == 'Q') quit_on_key(c, 'Q');
        c.screen.text_colour(kYellow);
        c.screen.write("Input was " + line + " Bad integer value try again");
        c.screen.text_colour(kWhite);
    }
}

std::string underscores_to_spaces(std::string_view s) {
    std::string out(s);
    for (char& ch : out)
        if (ch == '_') ch = ' ';
    return out;
}

}  // namespace qn
