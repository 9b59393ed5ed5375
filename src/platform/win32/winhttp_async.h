// The parts of the network service shared by HTTP requests and WebSockets:
// WinHTTP in asynchronous mode, where every operation ends in a call of the
// session's status callback on a thread of WinHTTP's own.
//
// Asynchronous mode because it is the only one in which a WebSocket can be
// read and written from two threads: in synchronous mode Wine's WinHTTP
// sends its automatic pong frames from the reading thread with no lock
// against a send on another thread, and nothing unblocks a synchronous
// receive short of the server answering.
#pragma once

#include "platform/win32/win32.h"

#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

namespace qn::platform::win32::winhttp {

using Clock = std::chrono::steady_clock;

// "Call: <text> (error N)"; WinHTTP's own codes have their text in
// winhttp.dll (or, where it has none, as under Wine, in a table here).
std::string error_text(const char* call, DWORD code);

struct Target {
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring path;  // with the query
    bool secure = false;
};

// "http(s)://host[:port]/path?query"; with websocket, "ws(s)://..." instead.
Result<Target> parse_url(const std::string& url, bool websocket);

// Closes a WinHTTP handle when it goes.
class Handle {
public:
    Handle() = default;
    explicit Handle(HINTERNET h) : h_(h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : h_(other.release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            h_ = other.release();
        }
        return *this;
    }
    HINTERNET release() {
        HINTERNET h = h_;
        h_ = nullptr;
        return h;
    }
    HINTERNET get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void reset() {
        if (h_) WinHttpCloseHandle(h_);
        h_ = nullptr;
    }

private:
    HINTERNET h_ = nullptr;
};

// Receives the callbacks of one handle, whose context value it is. It lives
// until both its owner has let it go and WinHTTP has said the handle is
// closing: callbacks may still come after WinHttpCloseHandle returns.
class Listener {
public:
    virtual ~Listener() = default;
    virtual void on_status(DWORD status, void* info, DWORD length) = 0;

    // For the handle, taken before the context is given to it.
    void retain() { refs_.fetch_add(1); }
    void release() {
        if (refs_.fetch_sub(1) == 1) delete this;
    }
    DWORD_PTR context() { return reinterpret_cast<DWORD_PTR>(this); }

private:
    std::atomic<int> refs_{1};  // the owner's
};

// Owner's reference to a listener.
template <typename T>
class Ref {
public:
    template <typename... Args>
    explicit Ref(Args&&... args) : p_(new T(std::forward<Args>(args)...)) {}
    ~Ref() { p_->release(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }

private:
    T* p_;
};

// The session's status callback: hands each call to the handle's listener.
void CALLBACK on_callback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);

// One request handle's operations, one at a time: each is started, then
// waited for until the callback that ends it or the deadline.
class RequestListener final : public Listener {
public:
    void on_status(DWORD status, void* info, DWORD length) override;

    // Starts an operation with start() (a WinHTTP call returning FALSE with
    // GetLastError on failure) and waits for its end. The number of bytes a
    // read brought is in bytes. Returns the error text, empty on success.
    template <typename Start>
    std::string run(const char* call, Clock::time_point deadline, Start start, DWORD* bytes = nullptr) {
        {
            std::lock_guard lock(m_);
            done_ = false;
            error_ = 0;
            bytes_ = 0;
        }
        if (!start()) return failure_text(call, GetLastError());
        DWORD error;
        {
            std::unique_lock lock(m_);
            if (!cv_.wait_until(lock, deadline, [this] { return done_; }))
                return error_text(call, ERROR_WINHTTP_TIMEOUT);
            error = error_;
            if (bytes) *bytes = bytes_;
        }
        if (error != 0) return failure_text(call, error);
        return {};
    }

    // What the request sends and reads into; kept here, not on the caller's
    // stack, because a request abandoned at its deadline may still use them.
    std::wstring headers;
    std::string body;
    char buffer[16384];

private:
    void finish(DWORD error, DWORD bytes);
    std::string failure_text(const char* call, DWORD code);

    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    DWORD error_ = 0;
    DWORD bytes_ = 0;
    DWORD secure_failure_ = 0;  // WINHTTP_CALLBACK_STATUS_FLAG_* of a refused certificate
};

// The WebSocket calls, looked up when first needed: they exist from
// Windows 8 on, and importing them would stop the whole program from
// starting on Windows 7.
struct WebSocketCalls {
    HINTERNET(WINAPI* complete_upgrade)(HINTERNET, DWORD_PTR) = nullptr;
    DWORD(WINAPI* send)(HINTERNET, WINHTTP_WEB_SOCKET_BUFFER_TYPE, void*, DWORD) = nullptr;
    DWORD(WINAPI* receive)(HINTERNET, void*, DWORD, DWORD*, WINHTTP_WEB_SOCKET_BUFFER_TYPE*) = nullptr;
    DWORD(WINAPI* close)(HINTERNET, USHORT, void*, DWORD) = nullptr;
    DWORD(WINAPI* query_close_status)(HINTERNET, USHORT*, void*, DWORD, DWORD*) = nullptr;
};
// Null where this Windows has no WebSockets in WinHTTP.
const WebSocketCalls* websocket_calls();

// Completes the upgrade of a request the server has answered with 101 and
// makes the WebSocket over it, which keeps the connection's handle.
Result<std::unique_ptr<WebSocket>> upgrade(const WebSocketCalls& calls, Handle connection, Handle request);

}  // namespace qn::platform::win32::winhttp
