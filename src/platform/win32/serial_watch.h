// Watching a serial port for incoming bytes, for the service loop's wait in
// data mode: an overlapped call on the port whose event handle the wait
// adds to its WaitForMultipleObjects.
//
// No serial thread waits on the port in data mode, but the main thread
// reads from it right after each wake, and the port is opened for
// overlapped I/O, so the call under way lives beside those reads.
//
// On Windows the call is WaitCommEvent for EV_RXCHAR. The serial driver is
// interrupt driven: the byte's arrival completes the wait, which costs
// nothing while it is under way. A read cannot stand in for it there: with
// the "return at once" time-outs the loop reads with, an overlapped read
// ends at once with nothing. The watch sets the port's event mask to
// EV_RXCHAR once, when it starts.
//
// EV_RXCHAR on Windows means "a byte came since the last wait", not "bytes
// are waiting": a byte that arrived while the previous wait was ending is
// reported by no wait at all, and a byte already read may still be
// reported. So the count of bytes waiting (ClearCommError) decides, before
// a wait is started and when one ends.
//
// Under Wine the call is a one-byte overlapped ReadFile (serial_readahead.h
// keeps the byte it brings for the program's next read). Wine emulates a
// WaitCommEvent with a thread that looks at the port every millisecond for
// as long as the wait is under way: in data mode, a fifth of a core or more
// through a whole touch. A read is served from the wineserver's own watch of
// the port's file descriptor, which costs nothing until a byte comes, and
// Wine leaves a read with those time-outs under way until one does. Should
// a read end at once with nothing, as on Windows, the watch goes back to
// WaitCommEvent for that port.
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

    // Watches port (0: none). A call under way on the port watched before
    // is cancelled and collected first.
    void watch(PortHandle port);
    // Before a wait: what the port has to say now.
    State arm();
    // The event handle of the call under way (valid while Waiting).
    HANDLE handle() const { return event_; }
    // After handle() was signalled: Ready when bytes are waiting or the port
    // failed; Waiting when the call ended without a byte (the mask was set
    // again, a byte was purged or already read, a read was cancelled) and a
    // new one is under way; Off when the port cannot be watched for the rest
    // of this wait.
    State collect();

    // Why the port was given up, for a test or the log; empty while sound.
    const std::string& failure() const { return failure_; }
    // Whether the port is watched with a read (under Wine).
    bool by_read() const { return by_read_; }

private:
    // The event word of one WaitCommEvent and its OVERLAPPED, on the heap:
    // if the system does not give a wait back, the block is left to it
    // rather than freed under it.
    struct Op {
        OVERLAPPED ov{};
        DWORD events = 0;
        bool pending = false;
    };

    // The manual-reset event of every call; false when it cannot be made.
    bool make_event();
    // Bytes waiting now, or -1 when the port failed (failure_ says why).
    long bytes_waiting();
    State give_up(std::string why);

    // With WaitCommEvent.
    State arm_event();
    State start_event();
    State collect_event();
    void cancel_event();
    // With a read.
    State start_read();
    State collect_read();
    // Leaves reads for WaitCommEvent on this port.
    State use_events();

    HANDLE port_ = nullptr;
    HANDLE event_ = nullptr;
    Op* op_ = nullptr;
    bool by_read_ = false;
    int empty_reads_ = 0;  // reads that ended without a byte in this wait
    bool failed_ = false;
    std::string failure_;
};

}  // namespace qn::platform::win32
