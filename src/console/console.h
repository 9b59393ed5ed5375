// The console the ringer reads and types at: the screen model's areas and
// the keyboard. Every question the program asks comes through here.
#pragma once

#include "console/screen.h"
#include "core/dialog.h"
#include "core/run_ending.h"
#include "core/waiting.h"
#include "platform/console.h"

namespace qn {

class Console : public Dialog {
public:
    Console(Screen& screen, platform::Console* device, Waiting& waiting, RunEnding& ending)
        : screen_(screen), device_(device), waiting_(waiting), ending_(ending) {}

    void write(std::string_view s) override { screen_.write(s); }
    void newline() override { screen_.newline(); }
    void select(Area area) override;
    void clear(Area area) override;
    void colour(Colour c) override { screen_.text_colour(c); }
    Colour text_colour() const override { return static_cast<Colour>(screen_.text_colour()); }
    int first_line(Area area) const override;
    void move_to(int col, int line) override { screen_.move_to(col, line); }
    void show() override { screen_.present(); }

    bool key_to_go_on() override;
    char key_if_any() override;
    char wait_key() override;
    void wait_key_ms(std::int32_t ms) override;
    void flush_keys() override;
    void quit_on_key(char ch) override;
    std::string read_line(bool* ended = nullptr) override;
    std::int32_t read_int() override;
    std::string read_secret() override;
    void pause_ms(std::int32_t ms) override;

    [[noreturn]] void halt(std::int32_t code, const std::string& message) override {
        ending_.halt(code, message);
    }
    [[noreturn]] void end_for_closed_keyboard() override { ending_.end_for_closed_keyboard(); }
    [[noreturn]] void end_process(int code) override { ending_.exit(code); }

    Screen& screen() { return screen_; }

private:
    // Line input; a secret is echoed as stars and Esc leaves it.
    std::string edit_line(bool* ended, bool secret);
    bool await_key();

    Screen& screen_;
    platform::Console* device_;  // null: no keyboard (a test without one)
    Waiting& waiting_;
    RunEnding& ending_;
};

}  // namespace qn
