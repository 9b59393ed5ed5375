// Setting up automatic ringing: the ringer is asked the bells, the touch
// file and the speed.
#pragma once

#include <string>
#include <vector>

namespace qn {

class AutoRinger;
class Dialog;
class TextSink;
struct Touch;
namespace platform {
class Files;
}

// The things the set-up reads and fills.
struct AutoringSetUp {
    Dialog& dialog;
    TextSink& log;
    platform::Files& files;
    const std::vector<std::string>& libraries;  // where touch files are looked for
    bool ringing_room;  // the target rings any bells; others ring only the first
    Touch& touch;
    AutoRinger& ringer;
};

// False when the ringer gives up; the ringer keeps its set-up then.
bool set_up_autoring(const AutoringSetUp& s);

}  // namespace qn
