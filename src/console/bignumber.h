// The in-service screen: menu, calibration summary, monitor figures and the
// big row counter.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

struct Context;
class TextSink;

void set_up_glyphs(Context& c);
// The service screen drawn whole, from nothing, as the service starts.
void show_service_screen(Context& c);
// After a key: the counter's figures brought up to now and drawn (a touch
// of at most one row gets its monitor window drawn afresh). Nothing is drawn
// while the target has lost the focus.
void update_service_screen(Context& c);
void write_service_menu(Context& c);
void write_current_calibration(Context& c, TextSink& out);
void write_startup_text(Context& c);

// The big counter's window cleared and the count drawn whole.
void repaint_big_counter(Context& c);
void write_glyph(Context& c, int x, int y, int digit);
void set_up_digit_rows(Context& c);
std::string elapsed_text(std::int64_t millisecs);

// The console as a text sink for routines that write to "a text file".
TextSink& console_sink(Context& c);

}  // namespace qn
