// Under Wine the wait watches a port in data mode with an overlapped
// one-byte ReadFile rather than WaitCommEvent (see serial_watch.h). The
// byte that read brings is the program's next byte, so it is kept here, per
// port, until the serial service's next read on that port hands it out,
// before anything else. A purge of the input drops it; closing the port
// cancels the read.
//
// The wait starts the read (start) and collects it when its event is
// signalled (finish); the serial service takes the byte (take), drops it
// (drop) and forgets the port (forget). Either may find the read ended
// first: Wine ends it on whichever thread issued it, from a signal, at any
// moment.
#pragma once

#include "platform/win32/win32.h"

#include <map>
#include <mutex>

namespace qn::platform::win32 {

class ReadAhead {
public:
    enum class State {
        Idle,     // no read under way, no byte held
        Pending,  // the read is under way; its event is signalled when it ends
        Held,     // a byte came and waits for the next read
        Empty,    // the read ended at once without a byte: reads on this port do not wait
        Failed,   // the read could not be started, or failed
    };

    // The one list of the process: the wait and the serial service are
    // made apart and meet here.
    static ReadAhead& of_process();

    ReadAhead() = default;
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // ---- the wait's side
    // Starts a read on port that signals event (a manual-reset event the
    // caller has cleared) when it ends, unless one is under way or a byte
    // is held: what the port has now. Failed says why in error.
    State start(HANDLE port, HANDLE event, std::string& error);
    // After the event was signalled: Held, Pending (not over: a stale
    // signal), Idle (the read ended without a byte: timed out, cancelled, the
    // byte already taken or dropped) or Failed.
    State finish(HANDLE port, std::string& error);
    // The wait leaves the port: a read under way is cancelled. A byte it
    // brought stays held for the reader.
    void stop(HANDLE port);

    // ---- the serial service's side
    enum class Take {
        Byte,     // *byte is the port's next byte
        Nothing,  // the watch's read is under way and has nothing: no byte is waiting
        Read,     // nothing held and no read under way: read the port
    };
    // Before a read on port. A read that returns at once (at_once) beside
    // the watch's read finds Nothing; one that may wait cancels the watch's
    // read first (the wait starts it again) and then reads.
    Take take(HANDLE port, bool at_once, char* byte);
    // The port's input was purged: a byte held goes too.
    void drop(HANDLE port);
    // The port is closing: a read under way is cancelled and ended.
    void forget(HANDLE port);

private:
    // The OVERLAPPED and the byte of one read, on the heap: if the system
    // does not give a cancelled read back, the block is left to it rather
    // than freed under it.
    struct Op {
        OVERLAPPED ov{};
        char byte = 0;
        bool pending = false;
        bool held = false;
    };

    // Takes the result of a read that has ended: Held, Idle or Failed;
    // Pending while it is under way.
    State settle(HANDLE port, Op& op, std::string* error);
    // Cancels a read under way and waits for its end; false when it did not
    // end (the block then belongs to the system).
    bool cancel(HANDLE port, Op& op);
    // Forgets an entry whose read cannot end now.
    void abandon(std::map<HANDLE, Op*>::iterator it);

    std::mutex lock_;
    std::map<HANDLE, Op*> ops_;
};

}  // namespace qn::platform::win32
