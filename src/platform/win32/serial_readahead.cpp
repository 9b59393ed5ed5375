#include "platform/win32/serial_readahead.h"

namespace qn::platform::win32 {

namespace {

// How long a cancelled read may take to come back. Wine ends it at its next
// look at the port's queue; one that does not is left to the system.
constexpr DWORD kCancelWaitMs = 1000;

}  // namespace

ReadAhead& ReadAhead::of_process() {
    // Never destroyed, like the services that use it.
    static ReadAhead* list = new ReadAhead;
    return *list;
}

ReadAhead::State ReadAhead::settle(HANDLE port, Op& op, std::string* error) {
    // Wine writes the status before it signals the event; the status says
    // whether the read is over.
    if (op.ov.Internal == static_cast<ULONG_PTR>(STATUS_PENDING)) return State::Pending;
    op.pending = false;
    DWORD n = 0;
    if (!GetOverlappedResult(port, &op.ov, &n, FALSE)) {
        const DWORD e = GetLastError();
        if (op.ov.Internal == static_cast<ULONG_PTR>(STATUS_TIMEOUT)) {
            // A read that ran out of time: a success on Windows, failed by
            // Wine's GetOverlappedResult (as in serial.cpp).
            n = static_cast<DWORD>(op.ov.InternalHigh);
        } else if (e != ERROR_OPERATION_ABORTED) {
            if (error) *error = error_text("ReadFile", e);
            return State::Failed;
        }
    }
    op.held = n == 1;
    return op.held ? State::Held : State::Idle;
}

bool ReadAhead::cancel(HANDLE port, Op& op) {
    // Fails when the read has just ended, or the port is already closed
    // (which cancelled it): either way its event is signalled.
    CancelIoEx(port, &op.ov);
    if (WaitForSingleObject(op.ov.hEvent, kCancelWaitMs) != WAIT_OBJECT_0) return false;
    if (settle(port, op, nullptr) == State::Pending) return false;
    return true;
}

void ReadAhead::abandon(std::map<HANDLE, Op*>::iterator it) {
    // The system may still write into the block: it is never freed.
    ops_.erase(it);
}

ReadAhead::State ReadAhead::start(HANDLE port, HANDLE event, std::string& error) {
    std::lock_guard<std::mutex> g(lock_);
    auto [it, made] = ops_.try_emplace(port, nullptr);
    if (made) it->second = new Op;
    Op& op = *it->second;
    if (op.pending) {
        const State s = settle(port, op, &error);
        if (s == State::Pending || s == State::Failed) return s;
    }
    if (op.held) return State::Held;

    op.ov = OVERLAPPED{};
    op.ov.hEvent = event;
    ResetEvent(event);
    if (ReadFile(port, &op.byte, 1, nullptr, &op.ov)) {
        op.held = op.ov.InternalHigh == 1;
        return op.held ? State::Held : State::Empty;
    }
    const DWORD e = GetLastError();
    if (e == ERROR_IO_PENDING) {
        op.pending = true;
        return State::Pending;
    }
    error = error_text("ReadFile", e);
    delete it->second;
    ops_.erase(it);
    return State::Failed;
}

ReadAhead::State ReadAhead::finish(HANDLE port, std::string& error) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = ops_.find(port);
    if (it == ops_.end()) return State::Idle;
    Op& op = *it->second;
    if (op.pending) return settle(port, op, &error);
    return op.held ? State::Held : State::Idle;
}

void ReadAhead::stop(HANDLE port) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = ops_.find(port);
    if (it == ops_.end()) return;
    Op& op = *it->second;
    if (op.pending && !cancel(port, op)) return abandon(it);
    if (!op.held) {
        delete it->second;
        ops_.erase(it);
    }
}

ReadAhead::Take ReadAhead::take(HANDLE port, bool at_once, char* byte) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = ops_.find(port);
    if (it == ops_.end()) return Take::Read;
    Op& op = *it->second;
    if (op.pending && settle(port, op, nullptr) == State::Pending) {
        // Every byte that comes goes to the watch's read first: a read of
        // the port now could take a later byte before it.
        if (at_once) return Take::Nothing;
        if (!cancel(port, op)) {
            abandon(it);
            return Take::Read;
        }
    }
    if (!op.held) return Take::Read;
    op.held = false;
    *byte = op.byte;
    return Take::Byte;
}

void ReadAhead::drop(HANDLE port) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = ops_.find(port);
    if (it == ops_.end()) return;
    Op& op = *it->second;
    if (op.pending) settle(port, op, nullptr);
    op.held = false;
}

void ReadAhead::forget(HANDLE port) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = ops_.find(port);
    if (it == ops_.end()) return;
    Op& op = *it->second;
    if (op.pending && !cancel(port, op)) return abandon(it);
    delete it->second;
    ops_.erase(it);
}

}  // namespace qn::platform::win32
