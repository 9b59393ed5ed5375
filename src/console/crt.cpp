#include "console/crt.h"

#include <cstdlib>

#include "core/context.h"
#include "core/text.h"
#include "console/run_end.h"
#include "core/timing.h"
#include "link/tower.h"
#include "serial/ports.h"
#include "serial/serialthread_shorts_xz.h"

namespace qn {

// ---- windows ---------------------------------------------------------------

void FULLWINDOW(Context& c) { c.screen.window(1, 1, Screen::COLS, Screen::ROWS); }

void HEADERWINDOWCLS(Context& c) {
    c.screen.window(1, 1, Screen::COLS, FIRSTLINEOFSCRATCHSCREEN - 1);
    c.screen.clrscr();
}

void LONGSCRATCHWINDOWCLS(Context& c) {
    c.screen.window(1, FIRSTLINEOFSCRATCHSCREEN, Screen::COLS, Screen::ROWS);
    c.screen.clrscr();
    c.screen.gotoxy(1, 1);
}

void SCRATCHWINDOWCLS(Context& c) {
    c.screen.window(1, FIRSTLINEOFSCRATCHSCREEN, Screen::COLS, LASTLINEOFSCRATCHSCREEN);
    c.screen.clrscr();
}

void MONITORWINDOWCLS(Context& c) {
    c.screen.window(1, FIRSTLINEOFSCRATCHSCREEN + 1, Screen::COLS, Screen::ROWS);
    c.screen.clrscr();
}

void BIGNUMBERWINDOWCLS(Context& c) {
    c.screen.window(1, 1, Screen::COLS, LASTLINEBIGNUMBER);
    c.screen.clrscr();
}

void LOWSCRATCHWINDOWCLS(Context& c) {
    c.screen.window(1, LASTLINEBIGNUMBER + 1, Screen::COLS, LASTLINEOFSCRATCHSCREEN);
    c.screen.clrscr();
}

// ---- stopping --------------------------------------------------------------

void SLEEP(Context& c, std::int32_t ms) {
    c.screen.present();
    c.plat.threads->sleep_ms(ms);
}

void end_process(Context& c, int code) {
    stop_tower_link(c);  // leaves the tower, so no one waits on a ringer who has gone
    c.FOOERROR.flush();
    c.screen.present();
    c.plat.console->close();
    c.plat.process->exit(code);
    std::abort();  // exit does not come back
}

void QTERMINATE(Context& c, char ch) {
    char u = upper(ch);
    if (u != 3 && u != 27 && u != 'Q') return;
    SCRATCHWINDOWCLS(c);
    c.screen.textcolor(YELLOW);
    c.screen.writeln("Interface terminated by User - closing...");
    write_open_touch(c);
    c.FOOERROR.writeln("Interface terminated by User - closing...");
    if (c.core.TIMERON) STOPTHETIMER(c);
    SLEEP(c, 2000);
    KILLSERIALTHREAD(c);
    end_process(c, 0);
}

void MYHALT(Context& c, std::int32_t code, std::string_view message) {
    c.screen.textcolor(YELLOW);
    std::string s = message.empty() ? std::string("Terminated by User") : std::string(message);
    c.FOOERROR.writeln(s);
    c.FOOERROR.flush();
    c.screen.write(s);
    KILLSERIALTHREAD(c);
    // A keyboard that has ended cannot press Enter; the message and the
    // code stand.
    if (!run_end_asked(c).asked) (void)read_line(c);
    c.screen.textcolor(WHITE);
    // Callers pass codes above 10 only when the port is open.
    if (code > 10 && c.serial.SERIALHANDLE != 0) {
        close_serial_port(c, c.serial.SERIALHANDLE);
        c.serial.SERIALHANDLE = 0;
    }
    STOPTHETIMER(c);
    c.core.TIMERON = false;
    end_process(c, code > 0 ? code : 0);
}

// ---- keys ------------------------------------------------------------------

char READNORMALKEYCHAR(Context& c) {
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
    QTERMINATE(c, result);
    return result;
}

// A prompt waits for the key itself, looking round ten times a second.
constexpr std::int32_t kKeyLookMs = 100;

char WAITFORKEYSTROKEANDRETURNNORMALKEY(Context& c) {
    c.screen.present();
    while (!c.plat.console->key_waiting()) wait_for_key(c, kKeyLookMs);
    return READNORMALKEYCHAR(c);
}

void wait_for_key(Context& c, std::int32_t ms) {
    end_run_if_asked(c);
    c.screen.present();
    wait_for(c, ms, platform::WAKE_CONSOLE);
}

void CLEARKEYBUFFER(Context& c) {
    while (c.plat.console->key_waiting()) (void)READNORMALKEYCHAR(c);
}

// Line input as a console gives it: typed characters are echoed at the
// cursor, Backspace takes one back, Esc clears the line, Enter ends it.
// Ctrl-C quits here as everywhere else.
std::string read_line(Context& c) {
    std::string line;
    c.screen.cursor_visible(true);
    for (;;) {
        c.screen.present();
        while (!c.plat.console->key_waiting()) wait_for_key(c, kKeyLookMs);
        int k = c.plat.console->read_key();
        if (k == 0) {
            (void)c.plat.console->read_key();
            continue;
        }
        if (k == '\r' || k == '\n') break;
        if (k == 3) QTERMINATE(c, 3);
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

std::int32_t READSTR2LONGINT(Context& c) {
    for (;;) {
        std::string line = read_line(c);
        if (line.empty()) return 0;
        std::int32_t v = 0;
        std::size_t bad = 0;
        if (parse_int32(line, &v, &bad)) return v;
        if (bad >= 1 && bad <= line.size() && upper(line[bad - 1]) == 'Q') QTERMINATE(c, 'Q');
        c.screen.textcolor(YELLOW);
        c.screen.write("Input was " + line + " Bad integer value try again");
        c.screen.textcolor(WHITE);
    }
}

std::string REMOVEUNDERLINEFROMSTRING(std::string_view s) {
    std::string out(s);
    for (char& ch : out)
        if (ch == '_') ch = ' ';
    return out;
}

}  // namespace qn
