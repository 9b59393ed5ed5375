#include "ui/strike_notices.h"

#include "console/screen.h"
#include "console/layout.h"
#include "core/text.h"
#include "runlog/run_log.h"

namespace qn {

void StrikeNotices::events_clashed(const EventsClashed&) {
    screen_.window(1, 1, Screen::kCols, Screen::kRows);
    screen_.move_to(1, kScratchFirstLine);
    screen_.write("A keysend was skipped due to delays: Computer lacks power, or is overloaded, or focus lost");
}

// Drawn again with each key lost, so its count stays true.
void StrikeNotices::key_overrun(const KeyOverrun& r) {
    screen_.window(1, 1, Screen::kCols, Screen::kRows);
    screen_.move_to(1, kScratchFirstLine);
    screen_.write("Keys lost (" + str(r.lost) + "): blows " + str(r.gap_ms) + " ms apart, closer than the key delay of " +
                  str(r.delay_ms) + " ms  ");
}

// A lost port and the run's end have their own words (the program ends there).
void StrikeNotices::touch_ended(const TouchEnded& r) {
    if (r.why == TouchEnd::PortLost || r.why == TouchEnd::RunEnded) return;
    screen_.window(1, kScratchLastLine, Screen::kCols, kScratchLastLine);
    screen_.move_to(1, 1);
    screen_.write("Ringing ceased  - writing event log");
    if (!log_.is_open())
        screen_.write(" - not written: no run log this time");
    else if (log_.stopped())
        screen_.write(" - not written: the run log has stopped");
    else
        screen_.write(" - completed");
    screen_.window(1, 1, Screen::kCols, Screen::kRows);
}

}  // namespace qn
