// Scheduling beyond what every program gets, for the calling thread: the
// serial thread's time stamps and the main loop's keys must not wait behind
// other programs on a busy machine.
#pragma once

#include <string>

#include "platform/result.h"

namespace qn::platform {

// How urgent the calling thread is: the serial thread (Critical) comes
// before the main loop (High).
enum class Urgency { Critical, High };

// Each call is one way of getting there; the caller tries them best first.
// Granted, a call says what the thread now has ("SCHED_FIFO priority 45");
// refused, it names the OS call and its error, or is not_supported() where
// this system has no such way.
class Scheduling {
public:
    virtual ~Scheduling() = default;

    // The system's own real-time scheduling, within the user's limits.
    virtual Result<std::string> realtime(Urgency u) = 0;
    // Real-time scheduling granted by a broker that hands it to ordinary users.
    virtual Result<std::string> realtime_by_broker(Urgency u) = 0;
    // A higher priority within ordinary scheduling.
    virtual Result<std::string> raise(Urgency u) = 0;
    // The whole process kept in memory, so that no page fault waits for the
    // disk on the way from a strike to its key.
    virtual Result<std::string> lock_memory() = 0;
    // What the user can do to be given real-time scheduling.
    virtual std::string how_to_allow() = 0;
};

}  // namespace qn::platform
