// Watching a serial port for incoming bytes, for the service loop's wait in
// data mode: an overlapped WaitCommEvent for EV_RXCHAR whose event handle
// the wait adds to its WaitForMultipleObjects.
//
// No serial thread waits on the port in data mode, but the main thread
// reads from it (ReadFile) right after each wake, and the port is opened for
// overlapped I/O: a pending WaitCommEvent lives beside those reads, and
// PurgeComm does not touch it. The watch sets the port's event mask to
// EV_RXCHAR once, when it starts.
//
// EV_RXCHAR on Windows means "a byte came since the last wait", not "bytes
// are waiting": a byte that arrived while the previous wait was ending is
// reported by no wait at all, and a byte already read may still be
// reported. So the count of bytes waiting (ClearCommError) decides, before
// a wait is started and when one ends.
#pragma once

#include "platform/win32/win32.h"

namespace qn::platform::win32 {

class PortWatch {
public:
    PortWatch() = default;
    ~PortWatch();
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    enum class State {
        Off,      // no port, one that failed earlier, or one that cannot be waited on now
        Ready,    // report the port now: bytes are waiting, or it has just failed
        Waiting,  // handle() is signalled when a byte may have come
    };

    // Watches port (0: none). A wait under way on the port watched before
    // is cancelled and collected first.
    void watch(PortHandle port);
    // Before a wait: what the port has to say now.
    State arm();
    // The event handle of the WaitCommEvent under way (valid while Waiting).
    HANDLE handle() const { return op_ ? op_->ov.hEvent : nullptr; }
    // After handle() was signalled: Ready when bytes are waiting or the port
    // failed; Waiting when the wait ended without a byte (the mask was set
    // again, a byte was purged or already read) and a new one is under way.
    State collect();

    // Why the port was given up, for a test or the log; empty while sound.
    const std::string& failure() const { return failure_; }

private:
    // The OVERLAPPED and the event word of one WaitCommEvent, on the heap:
    // if the system does not give a wait back, the block is left to it
    // rather than freed under it.
    struct Op {
        OVERLAPPED ov{};
        DWORD events = 0;
        bool pending = false;
    };

    // Starts a WaitCommEvent when none is under way.
    State start();
    // Bytes waiting now, or -1 when the port failed (failure_ says why).
    long bytes_waiting();
    // Ends a WaitCommEvent under way and takes its result back.
    void cancel();
    State give_up(std::string why);

    HANDLE port_ = nullptr;
    Op* op_ = nullptr;
    bool failed_ = false;
    std::string failure_;
};

}  // namespace qn::platform::win32
