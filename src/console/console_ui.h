// The console's calls in the shape the program's routines still use while
// they take the whole program state: each passes to c.console or to the run's end.
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

void quit_on_key(Context& c, char ch);
char read_console_key(Context& c);
char wait_for_key_char(Context& c);
bool key_to_go_on(Context& c);
[[noreturn]] void end_for_closed_keyboard(Context& c);
void flush_console_keys(Context& c);
std::string read_line(Context& c, bool* ended = nullptr);
std::int32_t read_int(Context& c);
[[noreturn]] void halt(Context& c, std::int32_t code, std::string_view message);
void pause_ms(Context& c, std::int32_t ms);
void wait_for_key(Context& c, std::int32_t ms);
[[noreturn]] void end_process(Context& c, int code);

}  // namespace qn
