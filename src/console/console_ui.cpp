#include "console/console_ui.h"

#include "core/context.h"
#include "service/run_end.h"

namespace qn {

void full_window(Context& c) { c.console.select(Area::Full); }
void clear_header_window(Context& c) { c.console.clear(Area::Header); }
void clear_long_scratch_window(Context& c) { c.console.clear(Area::LongScratch); }
void clear_scratch_window(Context& c) { c.console.clear(Area::Scratch); }
void clear_monitor_window(Context& c) { c.console.clear(Area::Monitor); }
void clear_big_number_window(Context& c) { c.console.clear(Area::BigNumber); }
void clear_low_scratch_window(Context& c) { c.console.clear(Area::LowScratch); }

void quit_on_key(Context& c, char ch) { c.console.quit_on_key(ch); }
char read_console_key(Context& c) { return c.console.key_if_any(); }
char wait_for_key_char(Context& c) { return c.console.wait_key(); }
bool key_to_go_on(Context& c) { return c.console.key_to_go_on(); }
void end_for_closed_keyboard(Context& c) { c.ending->end_for_closed_keyboard(); }
void flush_console_keys(Context& c) { c.console.flush_keys(); }
std::string read_line(Context& c, bool* ended) { return c.console.read_line(ended); }
std::int32_t read_int(Context& c) { return c.console.read_int(); }
void halt(Context& c, std::int32_t code, std::string_view message) { c.ending->halt(code, std::string(message)); }
void pause_ms(Context& c, std::int32_t ms) { c.console.pause_ms(ms); }
void wait_for_key(Context& c, std::int32_t ms) { c.console.wait_key_ms(ms); }
void end_process(Context& c, int code) { c.ending->exit(code); }

}  // namespace qn
