// The console as the ringer's side of a Dialog: the screen model's windows
// and the keyboard.
#pragma once

#include "core/dialog.h"

namespace qn {

struct Context;

class ConsoleDialog : public Dialog {
public:
    explicit ConsoleDialog(Context& c) : c_(c) {}

    void write(std::string_view s) override;
    void newline() override;
    void select(Area area) override;
    void clear(Area area) override;
    void colour(Colour c) override;
    void move_to(int col, int line) override;
    void show() override;

    char key_if_any() override;
    char wait_key() override;
    void wait_key_ms(std::int32_t ms) override;
    void flush_keys() override;
    void quit_on_key(char ch) override;
    std::string read_line(bool* ended = nullptr) override;
    std::int32_t read_int() override;
    std::string read_secret() override;
    void pause_ms(std::int32_t ms) override;

    [[noreturn]] void halt(std::int32_t code, const std::string& message) override;
    [[noreturn]] void end_for_closed_keyboard() override;
    [[noreturn]] void end_process(int code) override;

private:
    Context& c_;
};

}  // namespace qn
