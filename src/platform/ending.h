// Being told to end from outside the program: a terminating signal (POSIX),
// or the console closed, the user logging off, the system shutting down
// (Windows). Once requests are taken, they no longer end the process where
// it stands: the first one is kept, and the program's main thread ends the
// run itself (writing what it has) at its next look.
#pragma once

#include <string>

#include "platform/result.h"

namespace qn::platform {

enum class EndReason {
    None,
    Interrupt,      // SIGINT; CTRL_C_EVENT, CTRL_BREAK_EVENT
    HangUp,         // SIGHUP: the terminal went away
    Terminate,      // SIGTERM: another program or the system asks
    ConsoleClosed,  // CTRL_CLOSE_EVENT
    LogOff,         // CTRL_LOGOFF_EVENT
    Shutdown,       // CTRL_SHUTDOWN_EVENT
};

struct EndRequest {
    EndReason reason = EndReason::None;
    const char* name = "";  // the OS's own name for it: "SIGTERM", "CTRL_CLOSE_EVENT"
};

class Ending {
public:
    virtual ~Ending() = default;
    // From now on requests are kept instead of ending the process. A second
    // request while the first is being dealt with ends the process as the
    // OS would have done (so a program that is stuck can still be ended).
    virtual Result<void> take_requests() = 0;
    // The first request since take_requests(); any thread.
    virtual EndRequest requested() = 0;
    // After take_requests() succeeded: the kinds of request that still
    // cannot be heard, and why (empty: all are).
    virtual std::string unheard() const { return {}; }
};

}  // namespace qn::platform
