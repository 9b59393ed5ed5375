// The in-service screen: menu, calibration summary, monitor figures and the
// big row counter.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

struct Context;
class TextSink;

void set_up_glyphs(Context& c);
void write_big_counter(Context& c);
void write_service_menu(Context& c);
void write_current_calibration(Context& c, TextSink& out);
void write_startup_text(Context& c);

// Steps of write_big_counter.
void write_startup_monitor_window(Context& c);
void repaint_big_number(Context& c);
void write_big_number(Context& c, std::int32_t counter);
void write_glyph(Context& c, int x, int y, int digit);
void set_up_digit_rows(Context& c);
std::string elapsed_text(std::int64_t millisecs);

// The console as a text sink for routines that write to "a text file".
TextSink& console_sink(Context& c);

}  // namespace qn
