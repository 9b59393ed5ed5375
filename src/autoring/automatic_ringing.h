// Automatic ringing: the touch read from a file and the ringer that rings
// it, as the set-up left them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "autoring/driver.h"
#include "autoring/touch.h"

namespace qn {

class Dialog;
class TextSink;
class RunClock;
namespace platform {
class Files;
}

class AutomaticRinging {
public:
    // send_key rings or types one key at the target.
    AutomaticRinging(const RunClock& clock, TextSink& log, Dialog& dialog, platform::Files& files,
                     std::function<void(char)> send_key);
    AutomaticRinging(const AutomaticRinging&) = delete;
    AutomaticRinging& operator=(const AutomaticRinging&) = delete;

    // Asks the ringer the bells, the touch file (looked for in libraries)
    // and the speed; false when the ringer gives up. ringing_room: the
    // target rings any bells, others ring only the first.
    bool set_up(const std::vector<std::string>& libraries, bool ringing_room);

    AutoRinger& ringer() { return ringer_; }
    const AutoRinger& ringer() const { return ringer_; }
    Touch& touch() { return touch_; }
    const Touch& touch() const { return touch_; }

private:
    TextSink& log_;
    Dialog& dialog_;
    platform::Files& files_;
    Touch touch_;  // before the ringer, which reads it
    AutoRinger ringer_;
};

}  // namespace qn
