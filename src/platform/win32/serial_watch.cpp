#include "platform/win32/serial_watch.h"

#include "platform/win32/serial_readahead.h"
#include "platform/win32/serial_wine.h"

namespace qn::platform::win32 {

namespace {

// How long a cancelled WaitCommEvent may take to come back. The serial
// driver ends it at once; one that does not is left to the system.
constexpr DWORD kCancelWaitMs = 1000;

// Reads that may end without a byte in one wait (a time-out the port was
// left with, a purge, a read of the program's own that had to cancel the
// watch's) before the wait leaves the port out: a port whose reads keep
// ending with nothing would otherwise keep the wait from sleeping.
constexpr int kEmptyReadsPerWait = 3;

}  // namespace

PortWatch::~PortWatch() {
    watch(0);
    delete op_;  // not under way any more; null when left to the system
    if (event_) CloseHandle(event_);
}

void PortWatch::watch(PortHandle port) {
    if (port_) ReadAhead::of_process().stop(port_);
    cancel_event();
    port_ = to_handle(port);
    failed_ = false;
    failure_.clear();
    by_read_ = running_under_wine();
    if (!port_ || !make_event()) return;
    if (!by_read_ && !SetCommMask(port_, EV_RXCHAR)) give_up(last_error("SetCommMask"));
}

bool PortWatch::make_event() {
    if (!event_) event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event_) return true;
    give_up(last_error("CreateEvent"));
    return false;
}

PortWatch::State PortWatch::give_up(std::string why) {
    failed_ = true;
    failure_ = std::move(why);
    return State::Ready;  // once: the reader's next call fails and says why
}

long PortWatch::bytes_waiting() {
    DWORD errors = 0;
    COMSTAT st{};
    if (!ClearCommError(port_, &errors, &st)) {
        give_up(last_error("ClearCommError"));
        return -1;
    }
    return static_cast<long>(st.cbInQue);
}

PortWatch::State PortWatch::arm() {
    if (!port_ || failed_) return State::Off;
    if (!by_read_) return arm_event();
    empty_reads_ = 0;
    // No count first: a read takes a byte already waiting as readily as
    // one still to come.
    return start_read();
}

PortWatch::State PortWatch::collect() {
    if (!port_ || failed_) return State::Off;
    return by_read_ ? collect_read() : collect_event();
}

// ---- with a read ----------------------------------------------------------------

PortWatch::State PortWatch::start_read() {
    std::string error;
    switch (ReadAhead::of_process().start(port_, event_, error)) {
    case ReadAhead::State::Pending: return State::Waiting;
    case ReadAhead::State::Held: return State::Ready;
    case ReadAhead::State::Empty: return use_events();
    case ReadAhead::State::Failed: return give_up(std::move(error));
    case ReadAhead::State::Idle: break;
    }
    return State::Off;
}

PortWatch::State PortWatch::collect_read() {
    std::string error;
    switch (ReadAhead::of_process().finish(port_, error)) {
    case ReadAhead::State::Held: return State::Ready;
    case ReadAhead::State::Pending: return State::Waiting;
    case ReadAhead::State::Failed: return give_up(std::move(error));
    case ReadAhead::State::Empty:
    case ReadAhead::State::Idle: break;
    }
    // Ended without a byte. Whether the port still works is for the count
    // to say.
    if (++empty_reads_ > kEmptyReadsPerWait) return State::Off;
    const long n = bytes_waiting();
    if (n != 0) return State::Ready;  // bytes, or a failure to report
    return start_read();
}

PortWatch::State PortWatch::use_events() {
    by_read_ = false;
    if (!SetCommMask(port_, EV_RXCHAR)) return give_up(last_error("SetCommMask"));
    return arm_event();
}

// ---- with WaitCommEvent -----------------------------------------------------------

PortWatch::State PortWatch::arm_event() {
    // A wait under way ends by itself when a byte comes: no need to count
    // (each count is a round trip to Wine's server).
    if (op_ && op_->pending) return State::Waiting;
    const long n = bytes_waiting();
    if (n != 0) return State::Ready;  // bytes, or a failure to report
    return start_event();
}

PortWatch::State PortWatch::start_event() {
    if (!op_) op_ = new Op;
    if (op_->pending) return State::Waiting;
    // A wait that ends at once reports what the driver kept since the last
    // one, which may be a byte already read: the count decides, and the
    // next wait starts with nothing kept.
    for (int attempt = 0; attempt < 2; ++attempt) {
        op_->ov = OVERLAPPED{};
        op_->ov.hEvent = event_;
        ResetEvent(event_);
        op_->events = 0;
        if (WaitCommEvent(port_, &op_->events, &op_->ov)) {
            const long n = bytes_waiting();
            if (n != 0) return State::Ready;
            continue;
        }
        const DWORD e = GetLastError();
        if (e != ERROR_IO_PENDING) return give_up(error_text("WaitCommEvent", e));
        op_->pending = true;
        return State::Waiting;
    }
    // Two waits in a row ended at once with nothing to read: a driver that
    // reports EV_RXCHAR for as long as the mask is set. This wait leaves the
    // port out (its time-out is the longest a pass waits); the next one
    // counts the bytes again.
    return State::Off;
}

PortWatch::State PortWatch::collect_event() {
    if (!op_ || !op_->pending) return arm_event();
    DWORD n = 0;
    if (GetOverlappedResult(port_, &op_->ov, &n, FALSE)) {
        op_->pending = false;
    } else {
        const DWORD e = GetLastError();
        if (e == ERROR_IO_INCOMPLETE) return State::Waiting;
        op_->pending = false;
        // Cancelled (the port was closed, or given up elsewhere): whether
        // the port still works is for the count to say.
        if (e != ERROR_OPERATION_ABORTED) return give_up(error_text("WaitCommEvent", e));
    }
    return arm_event();
}

void PortWatch::cancel_event() {
    if (!op_ || !op_->pending) return;
    // Fails when the port is already closed, which cancelled the wait.
    CancelIoEx(port_, &op_->ov);
    if (WaitForSingleObject(op_->ov.hEvent, kCancelWaitMs) == WAIT_OBJECT_0) {
        DWORD n = 0;
        GetOverlappedResult(port_, &op_->ov, &n, FALSE);
        op_->pending = false;
        return;
    }
    // Never free what the system may still write into.
    op_ = nullptr;
}

}  // namespace qn::platform::win32
