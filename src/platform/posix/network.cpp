// The POSIX network service: HTTP and WebSocket from Boost.Beast, over
// Boost.Asio sockets, with TLS from OpenSSL. Certificates are checked
// against the system's store (OpenSSL's default paths, which SSL_CERT_FILE
// and SSL_CERT_DIR may point elsewhere) and the host name is checked
// against the certificate; nothing turns either off.
//
// Calls that connect run on the caller's thread with a deadline. An open
// WebSocket runs on an I/O thread of its own: it reads all the time, so
// receive() only waits for what has come, and send_text() hands the message
// to that thread and returns at once.
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/network.h"
#include "platform/posix/posix_services.h"

namespace qn::platform::posix {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using ErrorCode = beast::error_code;

// Messages waiting to be written before a WebSocket counts as stuck.
constexpr std::size_t kMaxQueuedWrites = 256;
constexpr auto kCloseWait = std::chrono::milliseconds(1000);
constexpr std::size_t kReadPiece = 64 * 1024;

struct Target {
    bool tls = false;
    std::string host;         // without brackets
    std::string port;
    std::string path;         // "/..." with the query
    std::string host_header;  // host[:port] as the URL gave it
};

Result<Target> parse_url(const std::string& url, const char* secure, const char* plain) {
    Target t;
    std::size_t start = 0;
    const std::string s = std::string(secure) + "://", p = std::string(plain) + "://";
    if (url.compare(0, s.size(), s) == 0) {
        t.tls = true;
        start = s.size();
    } else if (url.compare(0, p.size(), p) == 0) {
        start = p.size();
    } else {
        return fail("URL " + url + ": not " + secure + ":// or " + plain + "://");
    }
    const std::size_t slash = url.find_first_of("/?#", start);
    const std::string authority = url.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    std::string path = slash == std::string::npos ? "/" : url.substr(slash);
    if (path.front() != '/') path.insert(0, "/");
    if (const std::size_t hash = path.find('#'); hash != std::string::npos) path.resize(hash);
    if (authority.empty() || authority.find('@') != std::string::npos)
        return fail("URL " + url + ": no host, or a user name in it");
    t.host_header = authority;
    std::string host = authority, port;
    if (host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string::npos) return fail("URL " + url + ": unclosed [");
        if (close + 1 < host.size()) {
            if (host[close + 1] != ':') return fail("URL " + url + ": bad port");
            port = host.substr(close + 2);
        }
        host = host.substr(1, close - 1);
    } else if (const std::size_t colon = host.rfind(':'); colon != std::string::npos) {
        port = host.substr(colon + 1);
        host.resize(colon);
    }
    if (host.empty()) return fail("URL " + url + ": no host");
    if (port.empty()) port = t.tls ? "443" : "80";
    for (char ch : port)
        if (ch < '0' || ch > '9') return fail("URL " + url + ": bad port");
    t.host = host;
    t.port = port;
    t.path = path;
    return t;
}

std::string where(const Target& t) { return t.host + ":" + t.port; }

std::int64_t ms_left(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? left : 1;
}

// Starts one asynchronous operation and runs the context until it is done.
// The operation must be bounded (a stream with an expiry, a timer).
template <typename Start>
ErrorCode run_one(asio::io_context& ioc, Start start) {
    ErrorCode result;
    bool done = false;
    start([&](ErrorCode ec, auto&&...) {
        result = ec;
        done = true;
    });
    ioc.restart();
    while (!done && ioc.run_one() > 0) {
    }
    return result;
}

Result<tcp::resolver::results_type> resolve(asio::io_context& ioc, const Target& t, Clock::time_point deadline) {
    tcp::resolver resolver(ioc);
    asio::steady_timer timer(ioc, deadline);
    tcp::resolver::results_type found;
    ErrorCode result;
    bool timed_out = false;
    resolver.async_resolve(t.host, t.port, [&](ErrorCode ec, tcp::resolver::results_type r) {
        result = ec;
        found = std::move(r);
        timer.cancel();
    });
    timer.async_wait([&](ErrorCode ec) {
        if (ec) return;
        timed_out = true;
        resolver.cancel();
    });
    ioc.restart();
    ioc.run();
    if (timed_out) return fail("getaddrinfo(" + t.host + "): timed out");
    if (result) return fail("getaddrinfo(" + t.host + "): " + result.message());
    return found;
}

// The host the certificate must name (DNS name or IP address), and SNI.
Result<void> prepare_tls(SSL* ssl, const std::string& host) {
    ErrorCode ec;
    (void)asio::ip::make_address(host, ec);
    const bool ip = !ec;
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (ip) {
        if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1) return fail("X509_VERIFY_PARAM_set1_ip_asc failed");
    } else {
        if (X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0) != 1) return fail("X509_VERIFY_PARAM_set1_host failed");
        if (SSL_set_tlsext_host_name(ssl, host.c_str()) != 1) return fail("SSL_set_tlsext_host_name failed");
    }
    return {};
}

std::string tls_error(SSL* ssl, const Target& t, const ErrorCode& ec) {
    std::string text = "TLS handshake with " + where(t) + ": " + ec.message();
    const long verify = SSL_get_verify_result(ssl);
    if (verify != X509_V_OK) text += std::string(" (") + X509_verify_cert_error_string(verify) + ")";
    return text;
}

// TCP connection, and TLS over it where the URL asks for it.
template <typename Stream>
Result<void> connect_stream(asio::io_context& ioc, Stream& stream, const Target& t, Clock::time_point deadline) {
    auto found = resolve(ioc, t, deadline);
    if (!found.ok()) return fail(found.error());
    auto& socket = beast::get_lowest_layer(stream);
    socket.expires_at(deadline);
    ErrorCode ec = run_one(ioc, [&](auto h) { socket.async_connect(found.value(), h); });
    if (ec) return fail("connect(" + where(t) + "): " + (ec == beast::error::timeout ? "timed out" : ec.message()));
    if constexpr (!std::is_same_v<Stream, beast::tcp_stream>) {
        auto prepared = prepare_tls(stream.native_handle(), t.host);
        if (!prepared.ok()) return prepared;
        ec = run_one(ioc, [&](auto h) { stream.async_handshake(ssl::stream_base::client, h); });
        if (ec) return fail(tls_error(stream.native_handle(), t, ec));
    }
    return {};
}

template <typename Stream>
Result<HttpResponse> exchange(asio::io_context& ioc, Stream& stream, const Target& t, http::verb verb,
                              const std::vector<HttpHeader>& headers, const std::string& body) {
    http::request<http::string_body> req{verb, t.path, 11};
    req.set(http::field::host, t.host_header);
    req.set(http::field::user_agent, "Quennick");
    req.set(http::field::connection, "close");
    for (const HttpHeader& h : headers) req.set(h.name, h.value);
    req.body() = body;
    req.prepare_payload();
    ErrorCode ec = run_one(ioc, [&](auto h) { http::async_write(stream, req, h); });
    if (ec) return fail("HTTP request to " + where(t) + ": " + ec.message());
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(kMaxWebSocketMessage);
    ec = run_one(ioc, [&](auto h) { http::async_read(stream, buffer, parser, h); });
    if (ec == http::error::body_limit) return fail("HTTP answer from " + where(t) + ": larger than 1 MiB");
    if (ec) return fail("HTTP answer from " + where(t) + ": " + (ec == beast::error::timeout ? "timed out" : ec.message()));
    HttpResponse res;
    res.status = static_cast<int>(parser.get().result_int());
    res.body = std::move(parser.get().body());
    return res;
}

// ---- WebSocket ----------------------------------------------------------------

template <typename Next>
class BeastWebSocket final : public WebSocket {
public:
    template <typename... Args>
    explicit BeastWebSocket(Args&&... args) : ws_(ioc_, std::forward<Args>(args)...) {}
    ~BeastWebSocket() override { close(); }

    Result<void> open(const Target& t, Clock::time_point deadline);
    Result<void> send_text(const std::string& text) override;
    Result<std::optional<std::string>> receive(std::int32_t timeout_ms) override;
    void close() override;

private:
    void start_read();
    void write_next();
    void begin_close();
    void failed(const std::string& why);
    std::string read_error(const ErrorCode& ec);

    asio::io_context ioc_;
    websocket::stream<Next> ws_;
    std::thread io_;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;

    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<std::string> inbox_;
    std::string failure_;  // set once: the socket is finished
    std::size_t queued_ = 0;
    bool close_called_ = false;
    bool close_done_ = false;

    // The I/O thread's own.
    beast::flat_buffer in_;
    std::deque<std::string> out_;
    bool writing_ = false;
    bool close_after_writes_ = false;
    bool close_started_ = false;
    bool read_failed_ = false;
};

template <typename Next>
Result<void> BeastWebSocket<Next>::open(const Target& t, Clock::time_point deadline) {
    auto connected = connect_stream(ioc_, ws_.next_layer(), t, deadline);
    if (!connected.ok()) return connected;
    beast::get_lowest_layer(ws_).expires_never();
    websocket::stream_base::timeout limits{std::chrono::milliseconds(ms_left(deadline)), websocket::stream_base::none(),
                                           false};
    ws_.set_option(limits);
    ws_.set_option(websocket::stream_base::decorator(
        [](websocket::request_type& req) { req.set(http::field::user_agent, "Quennick"); }));
    ws_.read_message_max(0);  // no limit of Beast's: start_read measures
    websocket::response_type res;
    ErrorCode ec = run_one(ioc_, [&](auto h) { ws_.async_handshake(res, t.host_header, t.path, h); });
    if (ec) {
        std::string why = "WebSocket upgrade at " + where(t) + ": " + ec.message();
        if (res.result_int() != 0) why += " (HTTP " + std::to_string(res.result_int()) + ")";
        return fail(why);
    }
    ws_.text(true);
    work_.emplace(ioc_.get_executor());
    start_read();
    io_ = std::thread([this] { ioc_.run(); });
    return {};
}

template <typename Next>
void BeastWebSocket<Next>::failed(const std::string& why) {
    std::lock_guard<std::mutex> g(mu_);
    if (failure_.empty()) failure_ = why;
    cv_.notify_all();
}

template <typename Next>
std::string BeastWebSocket<Next>::read_error(const ErrorCode& ec) {
    if (ec == websocket::error::closed) {
        std::string why = "connection closed by the server";
        if (ws_.reason().code != 0) why += " (code " + std::to_string(ws_.reason().code) + ")";
        return why;
    }
    if (ec == websocket::error::message_too_big) return "a message over 1 MiB was refused";
    return "WebSocket read: " + ec.message();
}

// A message is read in pieces and measured here. Beast's own limit would
// fail the connection from the frame's header, and over TLS the report of
// that comes out as the error of the close that follows.
template <typename Next>
void BeastWebSocket<Next>::start_read() {
    ws_.async_read_some(in_, kReadPiece, [this](ErrorCode ec, std::size_t) {
        if (ec) {
            read_failed_ = true;
            failed(read_error(ec));
            return;
        }
        if (in_.size() > kMaxWebSocketMessage) {
            in_.clear();
            failed(read_error(websocket::error::message_too_big));
            return;
        }
        if (!ws_.is_message_done()) {
            start_read();
            return;
        }
        std::string message = beast::buffers_to_string(in_.data());
        in_.consume(in_.size());
        {
            std::lock_guard<std::mutex> g(mu_);
            inbox_.push_back(std::move(message));
        }
        cv_.notify_all();
        start_read();
    });
}

template <typename Next>
void BeastWebSocket<Next>::write_next() {
    if (out_.empty()) {
        writing_ = false;
        if (close_after_writes_) begin_close();
        return;
    }
    writing_ = true;
    ws_.async_write(asio::buffer(out_.front()), [this](ErrorCode ec, std::size_t) {
        if (ec) {
            failed("WebSocket write: " + ec.message());
            out_.clear();
            writing_ = false;
            if (close_after_writes_) begin_close();
            return;
        }
        out_.pop_front();
        {
            std::lock_guard<std::mutex> g(mu_);
            --queued_;
        }
        write_next();
    });
}

// After the last queued message: the close handshake, bounded, then the
// socket is shut and the I/O thread runs out of work.
template <typename Next>
void BeastWebSocket<Next>::begin_close() {
    if (close_started_) return;
    close_started_ = true;
    auto finish = [this] {
        ErrorCode ignored;
        beast::get_lowest_layer(ws_).socket().close(ignored);
        work_.reset();
        std::lock_guard<std::mutex> g(mu_);
        close_done_ = true;
        cv_.notify_all();
    };
    if (read_failed_ || !ws_.is_open()) {
        finish();
        return;
    }
    ws_.set_option(websocket::stream_base::timeout{kCloseWait, websocket::stream_base::none(), false});
    ws_.async_close(websocket::close_code::normal, [finish](ErrorCode) { finish(); });
}

template <typename Next>
Result<void> BeastWebSocket<Next>::send_text(const std::string& text) {
    {
        std::lock_guard<std::mutex> g(mu_);
        if (close_called_) return fail("WebSocket send: closed");
        if (!failure_.empty()) return fail("WebSocket send: " + failure_);
        if (queued_ >= kMaxQueuedWrites) return fail("WebSocket send: the server takes nothing (" +
                                                     std::to_string(queued_) + " messages waiting)");
        ++queued_;
    }
    asio::post(ioc_, [this, message = text]() mutable {
        out_.push_back(std::move(message));
        if (!writing_) write_next();
    });
    return {};
}

template <typename Next>
Result<std::optional<std::string>> BeastWebSocket<Next>::receive(std::int32_t timeout_ms) {
    std::unique_lock<std::mutex> lk(mu_);
    cv_.wait_for(lk, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                 [&] { return !inbox_.empty() || !failure_.empty(); });
    if (!inbox_.empty()) {
        std::string m = std::move(inbox_.front());
        inbox_.pop_front();
        return std::optional<std::string>(std::move(m));
    }
    if (!failure_.empty()) return fail(failure_);
    return std::optional<std::string>();
}

template <typename Next>
void BeastWebSocket<Next>::close() {
    {
        std::lock_guard<std::mutex> g(mu_);
        if (close_called_) return;
        close_called_ = true;
        if (failure_.empty()) failure_ = "WebSocket closed";
        cv_.notify_all();
    }
    if (!io_.joinable()) return;  // never opened
    asio::post(ioc_, [this] {
        close_after_writes_ = true;
        if (!writing_) begin_close();
    });
    {
        std::unique_lock<std::mutex> lk(mu_);
        cv_.wait_for(lk, kCloseWait + std::chrono::milliseconds(200), [&] { return close_done_; });
    }
    ioc_.stop();
    io_.join();
}

// ---- the service ----------------------------------------------------------------

class PosixNetwork final : public Network {
public:
    PosixNetwork() {
        ErrorCode ec;
        tls_.set_default_verify_paths(ec);
        if (ec) setup_error_ = "SSL_CTX_set_default_verify_paths: " + ec.message();
        tls_.set_verify_mode(ssl::verify_peer);
        tls_.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                         ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
    }

    Result<HttpResponse> http_request(const std::string& method, const std::string& url,
                                      const std::vector<HttpHeader>& headers, const std::string& body,
                                      std::int32_t timeout_ms) override {
        auto target = parse_url(url, "https", "http");
        if (!target.ok()) return fail(target.error());
        const Target& t = target.value();
        const http::verb verb = http::string_to_verb(method);
        if (verb == http::verb::unknown) return fail("HTTP method " + method + ": unknown");
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        asio::io_context ioc;
        if (!t.tls) {
            beast::tcp_stream stream(ioc);
            auto c = connect_stream(ioc, stream, t, deadline);
            if (!c.ok()) return fail(c.error());
            return exchange(ioc, stream, t, verb, headers, body);
        }
        if (!setup_error_.empty()) return fail(setup_error_);
        beast::ssl_stream<beast::tcp_stream> stream(ioc, tls_);
        auto c = connect_stream(ioc, stream, t, deadline);
        if (!c.ok()) return fail(c.error());
        auto res = exchange(ioc, stream, t, verb, headers, body);
        // The answer is in; a server that drops the connection without a
        // TLS close is not waited for long.
        beast::get_lowest_layer(stream).expires_after(std::chrono::milliseconds(500));
        (void)run_one(ioc, [&](auto h) { stream.async_shutdown(h); });
        return res;
    }

    Result<std::unique_ptr<WebSocket>> websocket_connect(const std::string& url, std::int32_t timeout_ms) override {
        auto target = parse_url(url, "wss", "ws");
        if (!target.ok()) return fail(target.error());
        const Target& t = target.value();
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        if (!t.tls) {
            auto ws = std::make_unique<BeastWebSocket<beast::tcp_stream>>();
            auto r = ws->open(t, deadline);
            if (!r.ok()) return fail(r.error());
            return std::unique_ptr<WebSocket>(std::move(ws));
        }
        if (!setup_error_.empty()) return fail(setup_error_);
        auto ws = std::make_unique<BeastWebSocket<beast::ssl_stream<beast::tcp_stream>>>(tls_);
        auto r = ws->open(t, deadline);
        if (!r.ok()) return fail(r.error());
        return std::unique_ptr<WebSocket>(std::move(ws));
    }

private:
    ssl::context tls_{ssl::context::tls_client};
    std::string setup_error_;
};

}  // namespace

std::unique_ptr<Network> make_network() { return std::make_unique<PosixNetwork>(); }

Network* network_service() {
    // Never destroyed: a link thread may still use it while the process ends.
    static Network* service = new PosixNetwork;
    return service;
}

}  // namespace qn::platform::posix
