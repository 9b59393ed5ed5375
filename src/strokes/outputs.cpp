#include "strokes/outputs.h"

#include "keyout/dispatch.h"
#include "strokes/strike_path.h"

namespace qn {

char line_char(bool b) { return b ? 'T' : 'F'; }

void schedule_outputs(Context& c) {
    StrikePath& strikes = *c.strikes;
    strikes.begin_signal();
    for (std::int32_t point = 0; point < strikes.points(); ++point)
        if (strikes.signal_reaches(point) && strikes.queue_key(point)) c.key_sender->send_due_keys();
    strikes.end_signal();
}

}  // namespace qn
