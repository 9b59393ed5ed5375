// Console windows, colours, key input and the two ways the program stops
// from the console: the quit keys and a fatal stop with a message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qn {

struct Context;

void full_window(Context& c);
void clear_header_window(Context& c);
void clear_long_scratch_window(Context& c);
void clear_scratch_window(Context& c);
void clear_monitor_window(Context& c);
void clear_big_number_window(Context& c);
void clear_low_scratch_window(Context& c);

// Ends the program when ch is Ctrl-C, Esc or Q (either case).
void quit_on_key(Context& c, char ch);
char read_console_key(Context& c);
// Waits for a key. Once the keyboard has closed no answer can come, and
// every question ends the program (end_for_closed_keyboard).
char wait_for_key_char(Context& c);
// A key to go on (Q still quits); false, at once, when the keyboard has closed.
bool key_to_go_on(Context& c);
[[noreturn]] void end_for_closed_keyboard(Context& c);
void flush_console_keys(Context& c);
// One line typed at the console, echoed at the cursor, without its Enter.
// With ended given, a keyboard that closes ends the line and sets *ended;
// without, it ends the program.
std::string read_line(Context& c, bool* ended = nullptr);
std::int32_t read_int(Context& c);
[[noreturn]] void halt(Context& c, std::int32_t code, std::string_view message);

// Sleeps on the main thread (console shown first).
void pause_ms(Context& c, std::int32_t ms);
// Shows the screen and waits up to ms for a console key.
void wait_for_key(Context& c, std::int32_t ms);
// Ends the process: the console is given back, the log flushed.
[[noreturn]] void end_process(Context& c, int code);

}  // namespace qn
