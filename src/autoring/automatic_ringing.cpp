#include "autoring/automatic_ringing.h"

#include "autoring/setup.h"

namespace qn {

AutomaticRinging::AutomaticRinging(const RunClock& clock, TextSink& log, Dialog& dialog, platform::Files& files,
                                   std::function<void(char)> send_key)
    : log_(log), dialog_(dialog), files_(files), ringer_(touch_, clock, log, dialog, std::move(send_key)) {}

bool AutomaticRinging::set_up(const std::vector<std::string>& libraries, bool ringing_room) {
    return set_up_autoring(AutoringSetUp{dialog_, log_, files_, libraries, ringing_room, touch_, ringer_});
}

}  // namespace qn
