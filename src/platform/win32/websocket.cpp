// A WebSocket on WinHTTP in asynchronous mode. Reading runs ahead of the
// caller: a receive is always pending while fewer than kReadAhead whole
// messages wait, so a message is taken off the connection as it arrives
// and the caller's receive only waits for the queue.
#include "platform/win32/winhttp_async.h"

#include <deque>

namespace qn::platform::win32::winhttp {

namespace {

constexpr std::size_t kReadAhead = 64;
// How long close waits for the server's answer to its close frame.
constexpr auto kCloseWait = std::chrono::seconds(1);

const char* const kClosedHere = "the WebSocket was closed by this program";

class Socket final : public Listener {
public:
    explicit Socket(const WebSocketCalls& calls) : calls_(calls) {}

    void start(HINTERNET socket) {
        bool read;
        {
            std::lock_guard lock(m_);
            socket_ = socket;
            read = want_read_locked();
        }
        if (read) read_next();
    }

    void on_status(DWORD status, void* info, DWORD) override {
        switch (status) {
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE: {
            auto* s = static_cast<WINHTTP_WEB_SOCKET_STATUS*>(info);
            on_read(s->dwBytesTransferred, s->eBufferType);
            break;
        }
        case WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE:
            end_send(0);
            break;
        case WINHTTP_CALLBACK_STATUS_CLOSE_COMPLETE:
            end_close();
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
            auto* r = static_cast<WINHTTP_WEB_SOCKET_ASYNC_RESULT*>(info);
            DWORD error = r->AsyncResult.dwError ? r->AsyncResult.dwError : ERROR_WINHTTP_INTERNAL_ERROR;
            switch (r->Operation) {
            case WINHTTP_WEB_SOCKET_RECEIVE_OPERATION: on_read_error(error); break;
            case WINHTTP_WEB_SOCKET_SEND_OPERATION: end_send(error); break;
            case WINHTTP_WEB_SOCKET_CLOSE_OPERATION: end_close(); break;
            default: break;
            }
            break;
        }
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
            release();
            break;
        default:
            break;
        }
    }

    Result<void> send_text(const std::string& text) {
        if (text.size() > kMaxWebSocketMessage)
            return fail("WinHttpWebSocketSend: a message of " + std::to_string(text.size()) +
                        " bytes is larger than the limit of " + std::to_string(kMaxWebSocketMessage));
        // One send at a time: WinHTTP takes no second one before the first
        // is done, and the buffer must stay as it is until then.
        std::lock_guard one(send_m_);
        {
            std::lock_guard lock(m_);
            if (closed_) return fail(std::string("WinHttpWebSocketSend: ") + kClosedHere);
            if (!failure_.empty()) return fail(failure_);
            send_buffer_ = text;
            send_done_ = false;
            ++in_calls_;
        }
        DWORD r = calls_.send(socket_, WINHTTP_WEB_SOCKET_UTF8_MESSAGE_BUFFER_TYPE, send_buffer_.data(),
                              static_cast<DWORD>(send_buffer_.size()));
        std::unique_lock lock(m_);
        --in_calls_;
        cv_.notify_all();
        if (r != NO_ERROR && r != ERROR_IO_PENDING) {
            fail_locked(error_text("WinHttpWebSocketSend", r));
            return fail(error_text("WinHttpWebSocketSend", r));
        }
        cv_.wait(lock, [this] { return send_done_ || closed_; });
        if (!send_done_) return fail(std::string("WinHttpWebSocketSend: ") + kClosedHere);
        if (send_error_ != 0) {
            fail_locked(error_text("WinHttpWebSocketSend", send_error_));
            return fail(error_text("WinHttpWebSocketSend", send_error_));
        }
        return {};
    }

    Result<std::optional<std::string>> receive(std::int32_t timeout_ms) {
        auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
        std::unique_lock lock(m_);
        for (;;) {
            if (closed_) return fail(std::string("WinHttpWebSocketReceive: ") + kClosedHere);
            // Whole messages that came before a failure are handed out first.
            if (!ready_.empty()) {
                std::string message = std::move(ready_.front());
                ready_.pop_front();
                bool read = want_read_locked();
                lock.unlock();
                if (read) read_next();
                return std::optional<std::string>(std::move(message));
            }
            if (!failure_.empty()) return fail(failure_);
            if (want_read_locked()) {
                lock.unlock();
                read_next();
                lock.lock();
                continue;
            }
            if (cv_.wait_until(lock, deadline) == std::cv_status::timeout && ready_.empty() && !closed_ &&
                failure_.empty())
                return std::optional<std::string>();
        }
    }

    void close() {
        HINTERNET socket;
        {
            std::unique_lock lock(m_);
            if (closed_) return;
            closed_ = true;
            socket = socket_;
            cv_.notify_all();
            // No call may still be using the handle when it is closed.
            cv_.wait(lock, [this] { return in_calls_ == 0; });
        }
        if (!socket) return;
        DWORD r = calls_.close(socket, WINHTTP_WEB_SOCKET_SUCCESS_CLOSE_STATUS, nullptr, 0);
        if (r == NO_ERROR || r == ERROR_IO_PENDING) {
            std::unique_lock lock(m_);
            cv_.wait_for(lock, kCloseWait, [this] { return close_done_; });
        }
        WinHttpCloseHandle(socket);
    }

private:
    // Under m_: whether a read is to be started now; if so it counts as
    // started (the caller calls read_next after letting go of m_, since
    // WinHTTP may call back on the calling thread).
    bool want_read_locked() {
        if (!socket_ || reading_ || closed_ || !failure_.empty() || ready_.size() >= kReadAhead) return false;
        reading_ = true;
        ++in_calls_;
        return true;
    }

    void read_next() {
        DWORD got = 0;
        WINHTTP_WEB_SOCKET_BUFFER_TYPE type{};
        DWORD r = calls_.receive(socket_, buffer_, sizeof buffer_, &got, &type);
        {
            std::lock_guard lock(m_);
            --in_calls_;
            if (r != NO_ERROR && r != ERROR_IO_PENDING) {
                reading_ = false;
                fail_locked(error_text("WinHttpWebSocketReceive", r));
            }
        }
        cv_.notify_all();
    }

    void on_read(DWORD got, WINHTTP_WEB_SOCKET_BUFFER_TYPE type) {
        bool read = false;
        {
            std::lock_guard lock(m_);
            reading_ = false;
            if (closed_) return;
            switch (type) {
            case WINHTTP_WEB_SOCKET_UTF8_MESSAGE_BUFFER_TYPE:
            case WINHTTP_WEB_SOCKET_UTF8_FRAGMENT_BUFFER_TYPE:
                // A message comes in pieces of at most one buffer: it is
                // refused as soon as its pieces pass the limit, before it is
                // all held.
                if (partial_.size() + got > kMaxWebSocketMessage) {
                    fail_locked("WinHttpWebSocketReceive: the server sent a message larger than " +
                                std::to_string(kMaxWebSocketMessage) + " bytes, the most this program accepts");
                    partial_.clear();
                    break;
                }
                partial_.append(buffer_, got);
                if (type == WINHTTP_WEB_SOCKET_UTF8_MESSAGE_BUFFER_TYPE) {
                    ready_.push_back(std::move(partial_));
                    partial_.clear();
                }
                break;
            case WINHTTP_WEB_SOCKET_CLOSE_BUFFER_TYPE:
                fail_locked("WinHttpWebSocketReceive: the server closed the connection" + close_status_locked());
                break;
            default:
                fail_locked("WinHttpWebSocketReceive: the server sent a binary message where text is expected");
                break;
            }
            read = want_read_locked();
        }
        cv_.notify_all();
        if (read) read_next();
    }

    void on_read_error(DWORD error) {
        {
            std::lock_guard lock(m_);
            reading_ = false;
            // A read cancelled by close is no news.
            if (!closed_) fail_locked(error_text("WinHttpWebSocketReceive", error));
        }
        cv_.notify_all();
    }

    void end_send(DWORD error) {
        {
            std::lock_guard lock(m_);
            send_done_ = true;
            send_error_ = error;
        }
        cv_.notify_all();
    }

    void end_close() {
        {
            std::lock_guard lock(m_);
            close_done_ = true;
        }
        cv_.notify_all();
    }

    // " (status 1001: going away)"; the handle is open while closed_ is
    // false, and m_ is held.
    std::string close_status_locked() {
        USHORT status = 0;
        char reason[123];
        DWORD length = 0;
        if (calls_.query_close_status(socket_, &status, reason, sizeof reason, &length) != NO_ERROR) return {};
        std::string text = " (status " + std::to_string(status);
        if (length > 0) text += ": " + std::string(reason, length);
        return text + ")";
    }

    void fail_locked(std::string text) {
        if (failure_.empty()) failure_ = std::move(text);
    }

    const WebSocketCalls& calls_;
    std::mutex send_m_;
    std::mutex m_;
    std::condition_variable cv_;
    HINTERNET socket_ = nullptr;  // set once, closed by close()
    bool closed_ = false;         // by this program
    std::string failure_;         // the first thing that went wrong; the socket is done with
    std::deque<std::string> ready_;
    std::string partial_;
    bool reading_ = false;
    int in_calls_ = 0;  // WinHTTP calls on the handle under way
    std::string send_buffer_;
    bool send_done_ = false;
    DWORD send_error_ = 0;
    bool close_done_ = false;
    char buffer_[65536];
};

class WinHttpWebSocket final : public WebSocket {
public:
    WinHttpWebSocket(const WebSocketCalls& calls, Handle connection)
        : socket_(calls), connection_(std::move(connection)) {}
    ~WinHttpWebSocket() override { socket_->close(); }

    Result<void> send_text(const std::string& text) override { return socket_->send_text(text); }
    Result<std::optional<std::string>> receive(std::int32_t timeout_ms) override {
        return socket_->receive(timeout_ms);
    }
    void close() override { socket_->close(); }

    Socket& socket() { return *socket_; }

private:
    Ref<Socket> socket_;
    Handle connection_;
};

}  // namespace

Result<std::unique_ptr<WebSocket>> upgrade(const WebSocketCalls& calls, Handle connection, Handle request) {
    auto ws = std::make_unique<WinHttpWebSocket>(calls, std::move(connection));
    Socket& socket = ws->socket();
    socket.retain();  // the WebSocket handle's
    HINTERNET h = calls.complete_upgrade(request.get(), socket.context());
    if (!h) {
        DWORD error = GetLastError();
        socket.release();
        return fail(error_text("WinHttpWebSocketCompleteUpgrade", error));
    }
    // The WebSocket handle keeps what it needs of the request.
    request.reset();
    socket.start(h);
    return std::unique_ptr<WebSocket>(std::move(ws));
}

}  // namespace qn::platform::win32::winhttp
