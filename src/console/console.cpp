#include "console/console.h"

#include <algorithm>

#include "console/layout.h"
#include "core/text.h"
#include "platform/wait.h"

namespace qn {

// ---- areas -----------------------------------------------------------------

void Console::select(Area area) {
    switch (area) {
    case Area::Full: screen_.window(1, 1, Screen::kCols, Screen::kRows); return;
    case Area::Header: screen_.window(1, 1, Screen::kCols, kScratchFirstLine - 1); return;
    case Area::Scratch: screen_.window(1, kScratchFirstLine, Screen::kCols, kScratchLastLine); return;
    case Area::LongScratch: screen_.window(1, kScratchFirstLine, Screen::kCols, Screen::kRows); return;
    case Area::Monitor: screen_.window(1, kScratchFirstLine + 1, Screen::kCols, Screen::kRows); return;
    case Area::BigNumber: screen_.window(1, 1, Screen::kCols, kBigNumberLastLine); return;
    case Area::LowScratch: screen_.window(1, kBigNumberLastLine + 1, Screen::kCols, kScratchLastLine); return;
    }
}

int Console::first_line(Area area) const {
    switch (area) {
    case Area::Full: case Area::Header: case Area::BigNumber: return 1;
    case Area::Scratch: case Area::LongScratch: return kScratchFirstLine;
    case Area::Monitor: return kScratchFirstLine + 1;
    case Area::LowScratch: return kBigNumberLastLine + 1;
    }
    return 1;
}

void Console::clear(Area area) {
    select(area);
    screen_.clear_window();
    if (area == Area::LongScratch) screen_.move_to(1, 1);
}

// ---- keys ------------------------------------------------------------------

// A request to end (Ctrl-C, SIGTERM, the console closed) is heard within
// one look, not when a 4 s pause is over.
constexpr std::int32_t kEndLookMs = 100;

void Console::pause_ms(std::int32_t ms) {
    screen_.present();
    for (std::int32_t left = ms; left > 0; left -= kEndLookMs) {
        ending_.end_if_asked();
        waiting_.sleep_ms(std::min(left, kEndLookMs));
    }
}

void Console::quit_on_key(char ch) {
    const char u = upper(ch);
    if (u == 3 || u == 27 || u == 'Q') ending_.quit();
}

char Console::key_if_any() {
    ending_.end_if_asked();
    screen_.present();
    char result = 0;
    if (device_ && device_->key_waiting()) {
        const int k = device_->read_key();
        if (k == 0)
            (void)device_->read_key();  // the second code of an extended key
        else
            result = static_cast<char>(k);
    }
    quit_on_key(result);
    return result;
}

// A prompt waits for the key itself, looking round ten times a second.
constexpr std::int32_t kKeyLookMs = 100;

// Waits for a key; false when the keyboard has closed instead.
bool Console::await_key() {
    screen_.present();
    if (!device_) return false;
    while (!device_->key_waiting()) {
        if (device_->input_ended()) return false;
        wait_key_ms(kKeyLookMs);
    }
    return true;
}

char Console::wait_key() {
    if (!await_key()) ending_.end_for_closed_keyboard();
    return key_if_any();
}

bool Console::key_to_go_on() {
    if (!await_key()) return false;
    (void)key_if_any();
    return true;
}

void Console::wait_key_ms(std::int32_t ms) {
    ending_.end_if_asked();
    screen_.present();
    waiting_.wait_for(ms, platform::kWakeConsole);
}

void Console::flush_keys() {
    while (device_ && device_->key_waiting()) (void)key_if_any();
}

// Line input as a console gives it: typed characters are echoed at the
// cursor, Backspace takes one back, Esc clears the line, Enter ends it.
// Ctrl-C quits here as everywhere else.
std::string Console::read_line(bool* ended) { return edit_line(ended, false); }

std::string Console::read_secret() { return edit_line(nullptr, true); }

std::string Console::edit_line(bool* ended, bool secret) {
    std::string line;
    screen_.cursor_visible(true);
    for (;;) {
        if (!await_key()) {
            if (ended == nullptr) ending_.end_for_closed_keyboard();
            *ended = true;
            break;
        }
        const int k = device_->read_key();
        if (k == 0) {
            (void)device_->read_key();  // the second code of an extended key
            continue;
        }
        if (k == '\r' || k == '\n') break;
        if (k == 3) quit_on_key(3);
        const bool clear = k == 27 && !secret;
        if (k == 8 || k == 127 || clear) {
            do {
                if (line.empty()) break;
                line.pop_back();
                screen_.write("\b \b");
            } while (clear);
            continue;
        }
        if (k < 32 || line.size() >= 255 || (secret && k >= 256)) continue;
        line.push_back(static_cast<char>(k));
        screen_.write(secret ? std::string("*") : std::string(1, static_cast<char>(k)));
    }
    screen_.cursor_visible(false);
    screen_.newline();
    return line;
}

std::int32_t Console::read_int() {
    for (;;) {
        const std::string line = read_line();
        if (line.empty()) return 0;
        std::int32_t v = 0;
        std::size_t bad = 0;
        if (parse_int32(line, &v, &bad)) return v;
        if (bad >= 1 && bad <= line.size() && upper(line[bad - 1]) == 'Q') quit_on_key('Q');
        screen_.text_colour(kYellow);
        screen_.write("Input was " + line + " Bad integer value try again");
        screen_.text_colour(kWhite);
    }
}

}  // namespace qn
