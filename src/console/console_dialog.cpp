#include "console/console_dialog.h"

#include "console/console_ui.h"
#include "core/context.h"

namespace qn {

void ConsoleDialog::write(std::string_view s) { c_.screen.write(s); }
void ConsoleDialog::newline() { c_.screen.newline(); }

void ConsoleDialog::select(Area area) {
    switch (area) {
    case Area::Full: full_window(c_); return;
    case Area::Header: c_.screen.window(1, 1, Screen::kCols, kScratchFirstLine - 1); return;
    case Area::Scratch: c_.screen.window(1, kScratchFirstLine, Screen::kCols, kScratchLastLine); return;
    case Area::LongScratch: c_.screen.window(1, kScratchFirstLine, Screen::kCols, Screen::kRows); return;
    case Area::Monitor: c_.screen.window(1, kScratchFirstLine + 1, Screen::kCols, Screen::kRows); return;
    case Area::BigNumber: c_.screen.window(1, 1, Screen::kCols, kBigNumberLastLine); return;
    case Area::LowScratch: c_.screen.window(1, kBigNumberLastLine + 1, Screen::kCols, kScratchLastLine); return;
    }
}

void ConsoleDialog::clear(Area area) {
    switch (area) {
    case Area::Full: full_window(c_); c_.screen.clear_window(); return;
    case Area::Header: clear_header_window(c_); return;
    case Area::Scratch: clear_scratch_window(c_); return;
    case Area::LongScratch: clear_long_scratch_window(c_); return;
    case Area::Monitor: clear_monitor_window(c_); return;
    case Area::BigNumber: clear_big_number_window(c_); return;
    case Area::LowScratch: clear_low_scratch_window(c_); return;
    }
}

void ConsoleDialog::colour(Colour c) { c_.screen.text_colour(c); }
void ConsoleDialog::move_to(int col, int line) { c_.screen.move_to(col, line); }
void ConsoleDialog::show() { c_.screen.present(); }

char ConsoleDialog::key_if_any() { return read_console_key(c_); }
char ConsoleDialog::wait_key() { return wait_for_key_char(c_); }
void ConsoleDialog::wait_key_ms(std::int32_t ms) { wait_for_key(c_, ms); }
void ConsoleDialog::flush_keys() { flush_console_keys(c_); }
void ConsoleDialog::quit_on_key(char ch) { qn::quit_on_key(c_, ch); }
std::string ConsoleDialog::read_line(bool* ended) { return qn::read_line(c_, ended); }
std::int32_t ConsoleDialog::read_int() { return qn::read_int(c_); }
std::string ConsoleDialog::read_secret() {
    Screen& s = c_.screen;
    platform::Console& console = *c_.plat.console;
    std::string secret;
    s.cursor_visible(true);
    for (;;) {
        s.present();
        while (!console.key_waiting()) wait_for_key(c_, 100);
        const int k = console.read_key();
        if (k == 0) {
            (void)console.read_key();  // the second code of an extended key
            continue;
        }
        if (k == '\r' || k == '\n') break;
        if (k == 3) qn::quit_on_key(c_, 3);
        if (k == 8 || k == 127) {
            if (!secret.empty()) {
                secret.pop_back();
                s.write("\b \b");
            }
        } else if (k >= 32 && k < 256 && secret.size() < 255) {
            secret.push_back(static_cast<char>(k));
            s.write("*");
        }
    }
    s.cursor_visible(false);
    s.newline();
    return secret;
}

void ConsoleDialog::pause_ms(std::int32_t ms) { qn::pause_ms(c_, ms); }

void ConsoleDialog::halt(std::int32_t code, const std::string& message) { qn::halt(c_, code, message); }
void ConsoleDialog::end_for_closed_keyboard() { qn::end_for_closed_keyboard(c_); }
void ConsoleDialog::end_process(int code) { qn::end_process(c_, code); }

}  // namespace qn
