// HTTP requests and the opening of WebSockets on WinHTTP, a system DLL that
// brings TLS (verified against the system's certificate store) and
// WebSockets with it. The WebSocket itself is in websocket.cpp.
#include "platform/win32/winhttp_async.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <type_traits>

namespace qn::platform::win32 {

namespace winhttp {

namespace {

// Wine's winhttp.dll has no message table: the texts of the codes this
// program meets are kept here too.
const char* known_error(DWORD code) {
    switch (code) {
    case ERROR_WINHTTP_TIMEOUT: return "The operation timed out";
    case ERROR_WINHTTP_INTERNAL_ERROR: return "An internal error occurred in WinHTTP";
    case ERROR_WINHTTP_INVALID_URL: return "The URL is invalid";
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return "The URL uses a scheme other than http or https";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "The server name could not be resolved";
    case ERROR_WINHTTP_OPERATION_CANCELLED: return "The operation was cancelled";
    case ERROR_WINHTTP_CANNOT_CONNECT: return "A connection with the server could not be established";
    case ERROR_WINHTTP_CONNECTION_ERROR: return "The connection with the server was reset or ended";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return "The server response could not be understood";
    case ERROR_WINHTTP_REDIRECT_FAILED: return "The redirection failed";
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: return "A secure (TLS) connection could not be made";
    case ERROR_WINHTTP_SECURE_FAILURE: return "The server's certificate was refused";
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID: return "The server's certificate has expired or is not yet valid";
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID: return "The server's certificate is for another host name";
    case ERROR_WINHTTP_SECURE_INVALID_CA: return "The server's certificate is not from a trusted authority";
    case ERROR_WINHTTP_SECURE_INVALID_CERT: return "The server's certificate is invalid";
    case ERROR_WINHTTP_SECURE_CERT_REVOKED: return "The server's certificate has been revoked";
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED: return "The server asks for a client certificate";
    default: return nullptr;
    }
}

std::string module_message(DWORD code) {
    HMODULE module = GetModuleHandleW(L"winhttp.dll");
    return module ? message_text(module, code) : std::string();
}

// The details WinHTTP gives of a refused certificate.
std::string secure_failure_detail(DWORD flags) {
    std::string out;
    auto add = [&](DWORD flag, const char* text) {
        if (!(flags & flag)) return;
        out += out.empty() ? "" : ", ";
        out += text;
    };
    add(WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA, "not signed by a trusted authority");
    add(WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, "made out to another host name");
    add(WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID, "expired or not yet valid");
    add(WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, "revoked");
    add(WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED, "its revocation could not be checked");
    add(WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT, "invalid");
    add(WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR, "the TLS exchange failed");
    return out;
}

bool starts_with_nocase(const std::string& s, const char* prefix) {
    std::size_t n = std::strlen(prefix);
    if (s.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    return true;
}

}  // namespace

std::string error_text(const char* call, DWORD code) {
    std::string text;
    if (code >= WINHTTP_ERROR_BASE && code <= WINHTTP_ERROR_LAST) {
        text = module_message(code);
        if (text.empty() && known_error(code)) text = known_error(code);
    }
    if (text.empty()) {
        // Not one of WinHTTP's own: a system error (a socket's, say).
        std::string system = win32::error_text(call, code);
        return system + " (error " + std::to_string(code) + ")";
    }
    return std::string(call) + ": " + text + " (error " + std::to_string(code) + ")";
}

Result<Target> parse_url(const std::string& url, bool websocket) {
    // WinHttpCrackUrl knows http and https only; a WebSocket's URL is an
    // http one with another name for its scheme.
    std::string http;
    if (websocket) {
        if (starts_with_nocase(url, "ws://")) {
            http = "http://" + url.substr(5);
        } else if (starts_with_nocase(url, "wss://")) {
            http = "https://" + url.substr(6);
        } else {
            return fail("WinHttpCrackUrl: a WebSocket URL must start with ws:// or wss://");
        }
    } else {
        if (!starts_with_nocase(url, "http://") && !starts_with_nocase(url, "https://"))
            return fail("WinHttpCrackUrl: the URL must start with http:// or https://");
        http = url;
    }
    std::wstring wide = widen(http);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts))
        return fail(error_text("WinHttpCrackUrl", GetLastError()));
    if (parts.dwHostNameLength == 0) return fail("WinHttpCrackUrl: the URL names no server");
    Target t;
    t.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    t.port = parts.nPort;
    if (parts.lpszUrlPath) t.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) t.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (t.path.empty() || t.path[0] != L'/') t.path.insert(t.path.begin(), L'/');
    t.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return t;
}

void CALLBACK on_callback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    // The session's and the connections' handles carry no listener.
    if (context == 0) return;
    reinterpret_cast<Listener*>(context)->on_status(status, info, length);
}

void RequestListener::on_status(DWORD status, void* info, DWORD length) {
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        finish(0, 0);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        finish(0, length);
        break;
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
        if (info && length >= sizeof(DWORD)) {
            std::lock_guard lock(m_);
            secure_failure_ |= *static_cast<DWORD*>(info);
        }
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        auto* result = static_cast<WINHTTP_ASYNC_RESULT*>(info);
        finish(result && result->dwError ? result->dwError : ERROR_WINHTTP_INTERNAL_ERROR, 0);
        break;
    }
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        release();
        break;
    default:
        break;
    }
}

void RequestListener::finish(DWORD error, DWORD bytes) {
    {
        std::lock_guard lock(m_);
        done_ = true;
        error_ = error;
        bytes_ = bytes;
    }
    cv_.notify_all();
}

std::string RequestListener::failure_text(const char* call, DWORD code) {
    std::string text = error_text(call, code);
    DWORD flags;
    {
        std::lock_guard lock(m_);
        flags = secure_failure_;
    }
    if (flags) text += ": the server's certificate is " + secure_failure_detail(flags);
    return text;
}

const WebSocketCalls* websocket_calls() {
    static const WebSocketCalls* calls = [] () -> const WebSocketCalls* {
        HMODULE module = GetModuleHandleW(L"winhttp.dll");
        if (!module) return nullptr;
        static WebSocketCalls found;
        auto get = [module](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(
                reinterpret_cast<void*>(GetProcAddress(module, name)));
            return fn != nullptr;
        };
        bool all = get(found.complete_upgrade, "WinHttpWebSocketCompleteUpgrade") &&
                   get(found.send, "WinHttpWebSocketSend") && get(found.receive, "WinHttpWebSocketReceive") &&
                   get(found.close, "WinHttpWebSocketClose") &&
                   get(found.query_close_status, "WinHttpWebSocketQueryCloseStatus");
        return all ? &found : nullptr;
    }();
    return calls;
}

}  // namespace winhttp

namespace {

using winhttp::Clock;
using winhttp::Handle;
using winhttp::Ref;
using winhttp::RequestListener;

// A request's handles: the connection's is closed after the request's.
struct Opened {
    Handle connection;
    Handle request;
};

bool valid_token(const std::string& s) {
    if (s.empty()) return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return c > ' ' && c < 127 && !std::strchr("()<>@,;:\\\"/[]?={}", c);
    });
}

bool valid_header_value(const std::string& s) {
    return s.find_first_of("\r\n", 0) == std::string::npos && s.find('\0') == std::string::npos;
}

class WinHttpNetwork final : public Network {
public:
    Result<HttpResponse> http_request(const std::string& method, const std::string& url,
                                      const std::vector<HttpHeader>& headers, const std::string& body,
                                      std::int32_t timeout_ms) override {
        auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 1));
        if (!valid_token(method)) return fail("WinHttpOpenRequest: \"" + method + "\" is not an HTTP method");
        auto target = winhttp::parse_url(url, false);
        if (!target) return fail(target.error());

        Ref<RequestListener> call;
        for (const auto& h : headers) {
            // A line break in a header would let a value start a header, or
            // a request, of its own.
            if (!valid_token(h.name) || !valid_header_value(h.value))
                return fail("WinHttpSendRequest: the header \"" + h.name + "\" has an invalid name or value");
            call->headers += widen(h.name + ": " + h.value + "\r\n");
        }
        call->body = body;
        auto opened = open(*target, widen(method).c_str(), timeout_ms, *call);
        if (!opened) return fail(opened.error());
        HINTERNET request = opened.value().request.get();

        std::string error = send_and_receive(*call, request, deadline);
        if (!error.empty()) return fail(error);
        HttpResponse response;
        auto status = status_code(request);
        if (!status) return fail(status.error());
        response.status = *status;

        for (;;) {
            DWORD got = 0;
            error = call->run("WinHttpReadData", deadline, [&] {
                return WinHttpReadData(request, call->buffer, sizeof call->buffer, nullptr);
            }, &got);
            if (!error.empty()) return fail(error);
            if (got == 0) break;
            if (response.body.size() + got > kMaxWebSocketMessage)
                return fail("WinHttpReadData: the response is larger than " +
                            std::to_string(kMaxWebSocketMessage) + " bytes, the most this program accepts");
            response.body.append(call->buffer, got);
        }
        return response;
    }

    Result<std::unique_ptr<WebSocket>> websocket_connect(const std::string& url, std::int32_t timeout_ms) override {
        auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 1));
        const winhttp::WebSocketCalls* calls = winhttp::websocket_calls();
        if (!calls)
            return fail(not_supported("WinHttpWebSocketCompleteUpgrade").text +
                        ": WebSockets in WinHTTP need Windows 8 or later");
        auto target = winhttp::parse_url(url, true);
        if (!target) return fail(target.error());

        Ref<RequestListener> call;
        auto opened = open(*target, L"GET", timeout_ms, *call);
        if (!opened) return fail(opened.error());
        HINTERNET request = opened.value().request.get();
        if (!WinHttpSetOption(request, WINHTTP_OPTION_UPGRADE_TO_WEB_SOCKET, nullptr, 0))
            return fail(winhttp::error_text("WinHttpSetOption", GetLastError()));

        std::string error = send_and_receive(*call, request, deadline);
        if (!error.empty()) return fail(error);
        auto status = status_code(request);
        if (!status) return fail(status.error());
        if (*status != HTTP_STATUS_SWITCH_PROTOCOLS)
            return fail("WinHttpReceiveResponse: the server answered HTTP " + std::to_string(*status) +
                        " instead of switching to a WebSocket");
        return winhttp::upgrade(*calls, std::move(opened.value().connection),
                                std::move(opened.value().request));
    }

private:
    // The session is opened on first use: a program that never goes on
    // line never loads the network stack.
    Result<HINTERNET> session() {
        std::call_once(once_, [this] {
            HINTERNET s = WinHttpOpen(L"Quennick", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
            if (!s) {
                session_error_ = winhttp::error_text("WinHttpOpen", GetLastError());
                return;
            }
            // Set before any connection is made: each handle takes the
            // callback of its parent when it is made.
            if (WinHttpSetStatusCallback(s, winhttp::on_callback, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0) ==
                WINHTTP_INVALID_STATUS_CALLBACK) {
                session_error_ = winhttp::error_text("WinHttpSetStatusCallback", GetLastError());
                WinHttpCloseHandle(s);
                return;
            }
            session_ = s;
        });
        if (!session_) return fail(session_error_);
        return session_;
    }

    Result<Opened> open(const winhttp::Target& target, const wchar_t* verb, std::int32_t timeout_ms,
                        RequestListener& call) {
        auto s = session();
        if (!s) return fail(s.error());
        Opened o;
        o.connection = Handle(WinHttpConnect(*s, target.host.c_str(), target.port, 0));
        if (!o.connection) return fail(winhttp::error_text("WinHttpConnect", GetLastError()));
        o.request = Handle(WinHttpOpenRequest(o.connection.get(), verb, target.path.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              target.secure ? WINHTTP_FLAG_SECURE : 0));
        if (!o.request) return fail(winhttp::error_text("WinHttpOpenRequest", GetLastError()));
        // Every stage ends by itself too, so a request abandoned at its
        // deadline does not hold a connection for ever.
        int t = std::max(timeout_ms, 1);
        if (!WinHttpSetTimeouts(o.request.get(), t, t, t, t))
            return fail(winhttp::error_text("WinHttpSetTimeouts", GetLastError()));
        DWORD_PTR context = call.context();
        call.retain();
        if (!WinHttpSetOption(o.request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
            call.release();
            return fail(winhttp::error_text("WinHttpSetOption", GetLastError()));
        }
        return o;
    }

    static std::string send_and_receive(RequestListener& call, HINTERNET request, Clock::time_point deadline) {
        std::string error = call.run("WinHttpSendRequest", deadline, [&] {
            const wchar_t* headers = call.headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : call.headers.c_str();
            DWORD headers_length = call.headers.empty() ? 0 : static_cast<DWORD>(-1);
            void* data = call.body.empty() ? WINHTTP_NO_REQUEST_DATA : call.body.data();
            auto size = static_cast<DWORD>(call.body.size());
            return WinHttpSendRequest(request, headers, headers_length, data, size, size, call.context());
        });
        if (!error.empty()) return error;
        return call.run("WinHttpReceiveResponse", deadline, [&] { return WinHttpReceiveResponse(request, nullptr); });
    }

    static Result<int> status_code(HINTERNET request) {
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
            return fail(winhttp::error_text("WinHttpQueryHeaders", GetLastError()));
        return static_cast<int>(status);
    }

    std::once_flag once_;
    HINTERNET session_ = nullptr;  // kept for the life of the process
    std::string session_error_;
};

}  // namespace

std::unique_ptr<Network> make_network() { return std::make_unique<WinHttpNetwork>(); }

}  // namespace qn::platform::win32
