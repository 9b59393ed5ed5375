// How a run ends, whoever ends it: the ringer's quit keys, a stop the run
// cannot go on from, a request from the OS, a keyboard that has closed. The
// service implements it: the open touch's event list and a last line go to
// the run log, the console is given back, the process exits with the code.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

class RunEnding {
public:
    virtual ~RunEnding() = default;
    // Ends the run if the OS or a closed keyboard has asked for it; returns
    // only when nothing has.
    virtual void end_if_asked() = 0;
    virtual bool end_asked() = 0;
    [[noreturn]] virtual void end_for_closed_keyboard() = 0;
    // The ringer pressed a quit key.
    [[noreturn]] virtual void quit() = 0;
    // The message shown and logged; then, once the ringer has pressed Enter
    // (unless the run was asked to end), the end with code.
    [[noreturn]] virtual void halt(std::int32_t code, const std::string& message) = 0;
    // The process ends: the tower left, the log flushed, the console given back.
    [[noreturn]] virtual void exit(int code) = 0;
};

}  // namespace qn
