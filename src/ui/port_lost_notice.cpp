#include "ui/port_lost_notice.h"

#include "console/screen.h"
#include "console/layout.h"

namespace qn {

// The ringer is told which port went and that nothing rung so far is lost.
void PortLostNotice::port_lost(const PortLost& r) {
    screen_.window(1, kScratchFirstLine, Screen::kCols, kScratchLastLine);
    screen_.clear_window();
    screen_.text_colour(kYellow);
    screen_.write_line("The serial port " + r.port_name + " has stopped responding: is the adapter unplugged?");
    screen_.write_line("The touch rung so far is written to the run log.");
}

}  // namespace qn
