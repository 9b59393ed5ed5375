// The ends of a run that come from outside the program's menus: a request
// from the OS (a signal, the console closed, log-off, shutdown) and a
// keyboard that has ended. Every end keeps the touch being rung: its event
// list goes to the run log before the log's last line, which says how the
// run ended.
#pragma once

#include <string>

#include "platform/ending.h"

namespace qn {

struct Context;

// How the run was asked to end, if it was; the keyboard's end counts as a
// request (reason None, name "end of file").
struct RunEndAsk {
    bool asked = false;
    platform::EndRequest request;
};

// From now on requests to end come to the program instead of ending it.
void take_end_requests(Context& c);
RunEndAsk run_end_asked(Context& c);
// Ends the run if it has been asked to end; returns only when it has not.
// Called wherever the program waits for a key or for its next pass.
void end_run_if_asked(Context& c);
// Ends the run now: the open touch, the last line, the exit code.
[[noreturn]] void end_run(Context& c, const RunEndAsk& ask);
// The event list of the touch rung since the last one was written, if any.
void write_open_touch(Context& c);
// The last line of the run log and the exit code for an end.
std::string run_end_line(const RunEndAsk& ask);
int run_end_exit_code(const RunEndAsk& ask);

}  // namespace qn
