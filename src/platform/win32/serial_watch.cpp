#include "platform/win32/serial_watch.h"

namespace qn::platform::win32 {

namespace {

// How long a cancelled WaitCommEvent may take to come back. The serial
// driver ends it at once; one that does not is left to the system.
constexpr DWORD kCancelWaitMs = 1000;

}  // namespace

PortWatch::~PortWatch() {
    cancel();
    if (op_) {
        CloseHandle(op_->ov.hEvent);
        delete op_;
    }
}

void PortWatch::watch(PortHandle port) {
    cancel();
    port_ = to_handle(port);
    failed_ = false;
    failure_.clear();
    if (port_ && !SetCommMask(port_, EV_RXCHAR)) give_up(last_error("SetCommMask"));
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
    // A wait under way ends by itself when a byte comes: no need to count
    // (each count is a round trip to Wine's server).
    if (op_ && op_->pending) return State::Waiting;
    const long n = bytes_waiting();
    if (n != 0) return State::Ready;  // bytes, or a failure to report
    return start();
}

PortWatch::State PortWatch::start() {
    if (!op_) {
        op_ = new Op;
        op_->ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!op_->ov.hEvent) {
            delete op_;
            op_ = nullptr;
            return give_up(last_error("CreateEvent"));
        }
    }
    if (op_->pending) return State::Waiting;
    // A wait that ends at once reports what the driver kept since the last
    // one, which may be a byte already read: the count decides, and the
    // next wait starts with nothing kept.
    for (int attempt = 0; attempt < 2; ++attempt) {
        ResetEvent(op_->ov.hEvent);
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

PortWatch::State PortWatch::collect() {
    if (!op_ || !op_->pending) return arm();
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
    return arm();
}

void PortWatch::cancel() {
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
