// HTTPS requests and WebSocket connections, for the tower link to an online
// ringing server. TLS is always verified against the system's certificate
// store: there is no switch that turns verification off.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/result.h"

namespace qn::platform {

// Whole messages larger than this are refused: a hostile or broken server
// must not make the program hold gigabytes.
inline constexpr std::size_t kMaxWebSocketMessage = 1 << 20;

struct HttpHeader {
    std::string name;
    std::string value;
};

struct HttpResponse {
    int status = 0;     // 200, 401, 404, ...
    std::string body;   // at most kMaxWebSocketMessage bytes; longer is an error
};

// One open WebSocket. send_text may be called on one thread while receive
// blocks on another; close may be called from any thread and makes a blocked
// receive return an error.
class WebSocket {
public:
    virtual ~WebSocket() = default;
    // One whole text message.
    virtual Result<void> send_text(const std::string& text) = 0;
    // The next whole text message; std::nullopt when timeout_ms passed with
    // none. An error when the connection is closed (by either side), broken
    // or the message is too large; the socket is unusable after an error.
    virtual Result<std::optional<std::string>> receive(std::int32_t timeout_ms) = 0;
    // Sends a close frame when it can and releases the connection. Safe to
    // call more than once.
    virtual void close() = 0;
};

class Network {
public:
    virtual ~Network() = default;
    // url: "https://host[:port]/path?query" (or "http://..."). Blocks the
    // caller for at most about timeout_ms.
    virtual Result<HttpResponse> http_request(const std::string& method, const std::string& url,
                                              const std::vector<HttpHeader>& headers, const std::string& body,
                                              std::int32_t timeout_ms) = 0;
    // url: "wss://host[:port]/path?query" (or "ws://..."). Blocks the caller
    // for at most about timeout_ms while it connects and upgrades.
    virtual Result<std::unique_ptr<WebSocket>> websocket_connect(const std::string& url,
                                                                 std::int32_t timeout_ms) = 0;
};

}  // namespace qn::platform
