#include "strokes/counter.h"

#include "console/console_ui.h"
#include "core/context.h"
#include "core/timing.h"
#include "strokes/logs.h"

namespace qn {

void reset_counter_start(Context& c, bool pause) {
    StrokesState& s = c.strokes;
    if (s.row_count == 0 || c.autoring.running) return;
    if (s.output_count >= kMaxRows || pause) {
        c.screen.window(1, kScratchLastLine, Screen::kCols, kScratchLastLine);
        c.screen.move_to(1, 1);
        c.screen.write("Ringing ceased  - writing event log");
        write_event_log(c);
        c.screen.write(" - completed");
        full_window(c);
        s.output_count = 0;
        s.outputs_full_logged = false;
        pause_ms(c, 1);
    }
    if (pause) {
        s.row_count = 0;
        s.sensor_time_count = 0;
        s.max_space_ratio = 1.0;
        s.min_space_ratio = 1.0;
        s.missed_count = 0;
        s.rogue_count = 0;
        s.doubled_send = false;
        s.sensing_point = 0;
        s.last_row_us = elapsed_us(c);
        s.last_event_us = s.last_row_us;
    }
}

void reset_counter_state(Context& c) {
    StrokesState& s = c.strokes;
    s.now_ms = elapsed_ms(c);
    if (s.row_count <= 1) {
        s.first_ms = s.now_ms;
        s.tens_shown = 0;
        s.hundreds_shown = 0;
        s.thousands_shown = -1;
    }
}

}  // namespace qn
