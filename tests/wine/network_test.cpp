// HTTP requests and WebSockets through WinHTTP, against the test server that
// scripts/wine-tests starts (tests/wine/network_server.py): plain on
// QN_TEST_NET_HTTP_PORT, TLS with a throwaway CA's certificate for localhost
// on QN_TEST_NET_TLS_PORT. QN_TEST_NET_TLS says whether that CA is in the
// system's trust store at the time ("trusted") or not ("untrusted").
#include "wine_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

namespace qn::wine_test {
namespace {

using platform::kMaxWebSocketMessage;
using Steady = std::chrono::steady_clock;

constexpr std::int32_t kTimeout = 10000;

platform::Network& net() { return *plat().network; }

std::string pattern(std::size_t n) {
    std::string s(n, ' ');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

double seconds_since(Steady::time_point t) {
    return std::chrono::duration<double>(Steady::now() - t).count();
}

std::string numbered(int i) {
    // Some large enough to be written in several pieces while the reader
    // is busy.
    return std::to_string(i) + (i % 50 == 0 ? pattern(200000) : pattern(i));
}

// Sends count messages while another thread takes their echoes.
void exchange_on_two_threads(platform::WebSocket& s, int count) {
    std::vector<std::string> got;
    std::string error;
    std::thread reader([&] {
        while (got.size() < static_cast<std::size_t>(count)) {
            auto r = s.receive(kTimeout);
            if (!r.ok() || !r.value()) {
                error = r.ok() ? "no message in time" : r.error();
                return;
            }
            got.push_back(*r.value());
        }
    });
    for (int i = 0; i < count; ++i) EXPECT_TRUE(s.send_text(numbered(i)).ok()) << i;
    reader.join();
    EXPECT_EQ(error, "");
    ASSERT_EQ(got.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) EXPECT_TRUE(got[i] == numbered(i)) << "message " << i << " differs";
}

class Win32Network : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = env("QN_TEST_NET_HTTP_PORT");
        if (port_.empty()) GTEST_SKIP() << "no test server (scripts/wine-tests starts one)";
    }
    std::string http(const std::string& path) const { return "http://localhost:" + port_ + path; }
    std::string ws() const { return "ws://localhost:" + port_ + "/ws/echo"; }

    std::unique_ptr<platform::WebSocket> connect() {
        auto r = net().websocket_connect(ws(), kTimeout);
        EXPECT_TRUE(r.ok()) << r.error();
        return r.ok() ? std::move(r.value()) : nullptr;
    }

    static std::string next(platform::WebSocket& s) {
        auto r = s.receive(kTimeout);
        EXPECT_TRUE(r.ok()) << r.error();
        if (!r.ok()) return "<error>";
        EXPECT_TRUE(r.value().has_value()) << "no message within " << kTimeout << " ms";
        return r.value().value_or("<none>");
    }

    std::string port_;
};

// ---- HTTP ----------------------------------------------------------------------

TEST_F(Win32Network, RequestsCarryMethodHeaderBodyAndGiveTheStatus) {
    auto ok = net().http_request("GET", http("/status/200"), {}, "", kTimeout);
    ASSERT_TRUE(ok.ok()) << ok.error();
    EXPECT_EQ(ok.value().status, 200);
    EXPECT_EQ(ok.value().body, "status 200");

    // A status that is not 2xx is an answer, not a failure.
    for (int code : {401, 404, 500}) {
        auto r = net().http_request("GET", http("/status/" + std::to_string(code)), {}, "", kTimeout);
        ASSERT_TRUE(r.ok()) << r.error();
        EXPECT_EQ(r.value().status, code);
    }

    std::string body = "{\"tower_id\": 123456789, \"name\": \"r\xc3\xa9ponse\"}\r\nnext line";
    auto post = net().http_request("POST", http("/echo?a=1&b=two"),
                                   {{"X-Quennick-Test", "value with spaces"}, {"Content-Type", "application/json"}},
                                   body, kTimeout);
    ASSERT_TRUE(post.ok()) << post.error();
    EXPECT_EQ(post.value().status, 200);
    EXPECT_EQ(post.value().body, "POST\nvalue with spaces\na=1&b=two\n" + body);
}

TEST_F(Win32Network, RequestFailuresAreClearAndNameTheCall) {
    // Nothing listens on port 1.
    auto refused = net().http_request("GET", "http://localhost:1/", {}, "", kTimeout);
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(names_call(refused.error(), "WinHttpSendRequest"));
    EXPECT_NE(refused.error().find("(error 120"), std::string::npos) << refused.error();

    auto scheme = net().http_request("GET", "ftp://localhost/", {}, "", kTimeout);
    ASSERT_FALSE(scheme.ok());
    EXPECT_TRUE(names_call(scheme.error(), "WinHttpCrackUrl"));

    // A line break in a header would smuggle in a header of its own.
    auto smuggled = net().http_request("GET", http("/echo"), {{"X-Quennick-Test", "a\r\nX-Other: b"}}, "", kTimeout);
    ASSERT_FALSE(smuggled.ok());
    EXPECT_TRUE(names_call(smuggled.error(), "WinHttpSendRequest"));
    EXPECT_FALSE(net().http_request("GET\r\n", http("/echo"), {}, "", kTimeout).ok());

    // The server answers after 5 s; the caller is let go long before that.
    auto start = Steady::now();
    auto slow = net().http_request("GET", http("/slow"), {}, "", 500);
    ASSERT_FALSE(slow.ok());
    EXPECT_NE(slow.error().find("timed out"), std::string::npos) << slow.error();
    EXPECT_LT(seconds_since(start), 4.0);
}

TEST_F(Win32Network, ResponseBodiesOverTheLimitAreRefused) {
    auto at_limit = net().http_request("GET", http("/big?" + std::to_string(kMaxWebSocketMessage)), {}, "", kTimeout);
    ASSERT_TRUE(at_limit.ok()) << at_limit.error();
    EXPECT_EQ(at_limit.value().body.size(), kMaxWebSocketMessage);

    auto over = net().http_request("GET", http("/big?" + std::to_string(kMaxWebSocketMessage + 1)), {}, "", kTimeout);
    ASSERT_FALSE(over.ok());
    EXPECT_TRUE(names_call(over.error(), "WinHttpReadData"));
}

// ---- WebSocket -----------------------------------------------------------------

TEST_F(Win32Network, WebSocketEchoesMessagesOfEverySize) {
    auto s = connect();
    ASSERT_TRUE(s);
    // Across the frame header's length forms (125/126, 65535/65536), the
    // receive buffer (64 KiB) and up to the limit itself.
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{125}, std::size_t{126}, std::size_t{65535},
                          std::size_t{65536}, std::size_t{65537}, std::size_t{300001}, kMaxWebSocketMessage}) {
        std::string m = pattern(n);
        ASSERT_TRUE(s->send_text(m).ok()) << n;
        std::string back = next(*s);
        EXPECT_EQ(back.size(), n);
        EXPECT_TRUE(back == m) << "echo of " << n << " bytes differs";
    }
    std::string utf8 = "42[\"s_bell_rung\",{\"who\":\"Ren\xc3\xa9" "e \xe2\x9c\x93\"}]";
    ASSERT_TRUE(s->send_text(utf8).ok());
    EXPECT_EQ(next(*s), utf8);
}

TEST_F(Win32Network, FragmentedMessagesArriveWhole) {
    auto s = connect();
    ASSERT_TRUE(s);
    struct Case {
        std::size_t size, fragments;
    };
    for (Case c : {Case{10, 3}, Case{200000, 7}, Case{kMaxWebSocketMessage, 16}, Case{3000, 1000}}) {
        ASSERT_TRUE(s->send_text("!frag " + std::to_string(c.size) + " " + std::to_string(c.fragments)).ok());
        std::string m = next(*s);
        EXPECT_EQ(m.size(), c.size);
        EXPECT_TRUE(m == pattern(c.size)) << c.size << " bytes in " << c.fragments << " fragments";
    }
    // Messages stay in order and none is lost when many come at once.
    ASSERT_TRUE(s->send_text("!burst 300").ok());
    for (int i = 0; i < 300; ++i) ASSERT_EQ(next(*s), "burst " + std::to_string(i));
}

TEST_F(Win32Network, OneThreadSendsWhileAnotherReceives) {
    auto s = connect();
    ASSERT_TRUE(s);
    exchange_on_two_threads(*s, 300);
}

TEST_F(Win32Network, MessagesOverTheLimitAreRefused) {
    auto s = connect();
    ASSERT_TRUE(s);
    // Refused before sending: the socket stays usable.
    auto big = s->send_text(std::string(kMaxWebSocketMessage + 1, 'x'));
    ASSERT_FALSE(big.ok());
    EXPECT_TRUE(names_call(big.error(), "WinHttpWebSocketSend"));
    ASSERT_TRUE(s->send_text("still here").ok());
    EXPECT_EQ(next(*s), "still here");

    // From the server, in one frame and in many: an error, and the socket
    // is done with.
    for (const char* command : {"!big ", "!frag "}) {
        auto t = connect();
        ASSERT_TRUE(t);
        std::string cmd = command + std::to_string(kMaxWebSocketMessage + 1);
        if (cmd[1] == 'f') cmd += " 40";
        ASSERT_TRUE(t->send_text(cmd).ok());
        auto r = t->receive(kTimeout);
        ASSERT_FALSE(r.ok()) << cmd;
        EXPECT_TRUE(names_call(r.error(), "WinHttpWebSocketReceive"));
        EXPECT_NE(r.error().find("larger than"), std::string::npos) << r.error();
        EXPECT_FALSE(t->receive(0).ok());
        EXPECT_FALSE(t->send_text("after").ok());
    }
}

TEST_F(Win32Network, ReceiveTimesOutWithoutLosingAnything) {
    // Connected with a short time-out: the connection must outlive it.
    auto r = net().websocket_connect(ws(), 1000);
    ASSERT_TRUE(r.ok()) << r.error();
    auto& s = *r.value();
    auto none = s.receive(0);
    ASSERT_TRUE(none.ok()) << none.error();
    EXPECT_FALSE(none.value().has_value());
    none = s.receive(2500);
    ASSERT_TRUE(none.ok()) << none.error();
    EXPECT_FALSE(none.value().has_value());

    ASSERT_TRUE(s.send_text("after the wait").ok());
    EXPECT_EQ(next(s), "after the wait");
    // A message that arrives while nobody waits is there for a later
    // receive that does not wait. (The echo takes longer than one might
    // think on a busy machine: it is looked for now and then, not once.)
    ASSERT_TRUE(s.send_text("kept").ok());
    std::optional<std::string> kept;
    for (auto start = Steady::now(); !kept && seconds_since(start) < 10.0;) {
        Sleep(100);
        auto r = s.receive(0);
        ASSERT_TRUE(r.ok()) << r.error();
        kept = r.value();
    }
    EXPECT_EQ(kept.value_or("<none>"), "kept");
}

TEST_F(Win32Network, CloseFromAnotherThreadEndsABlockedReceive) {
    auto s = connect();
    ASSERT_TRUE(s);
    std::atomic<bool> returned{false};
    std::string error;
    auto start = Steady::now();
    std::thread reader([&] {
        auto r = s->receive(60000);
        if (!r.ok()) error = r.error();
        returned = true;
    });
    Sleep(200);
    EXPECT_FALSE(returned.load());
    s->close();
    reader.join();
    EXPECT_LT(seconds_since(start), 10.0);
    EXPECT_TRUE(names_call(error, "WinHttpWebSocketReceive"));
    EXPECT_FALSE(s->send_text("after close").ok());
    s->close();  // twice is harmless
}

TEST_F(Win32Network, ServerEndingTheConnectionIsAnError) {
    struct Case {
        const char* command;
        const char* says;
    };
    for (Case c : {Case{"!close", "closed the connection (status 1001: bye)"}, Case{"!drop", ""},
                   Case{"!binary", "binary"}}) {
        auto s = connect();
        ASSERT_TRUE(s);
        ASSERT_TRUE(s->send_text(c.command).ok());
        auto r = s->receive(kTimeout);
        ASSERT_FALSE(r.ok()) << c.command;
        EXPECT_TRUE(names_call(r.error(), "WinHttpWebSocketReceive")) << c.command;
        EXPECT_NE(r.error().find(c.says), std::string::npos) << r.error();
        EXPECT_FALSE(s->receive(0).ok()) << "still usable after " << c.command;
    }
}

TEST_F(Win32Network, WebSocketConnectFailuresAreClear) {
    auto refused = net().websocket_connect("ws://localhost:1/ws/echo", kTimeout);
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(names_call(refused.error(), "WinHttpSendRequest"));

    auto not_ws = net().websocket_connect("ws://localhost:" + port_ + "/no/such/page", kTimeout);
    ASSERT_FALSE(not_ws.ok());
    EXPECT_NE(not_ws.error().find("HTTP 404"), std::string::npos) << not_ws.error();

    auto scheme = net().websocket_connect(http("/ws/echo"), kTimeout);
    ASSERT_FALSE(scheme.ok());
    EXPECT_TRUE(names_call(scheme.error(), "WinHttpCrackUrl"));
}

// Figures for the report, not a bound: a send and its echo on loopback.
TEST_F(Win32Network, EchoRoundTripFigures) {
    auto s = connect();
    ASSERT_TRUE(s);
    const std::string m = "42[\"c_bell_rung\",{\"bell\":3,\"stroke\":true,\"tower_id\":123456789}]";
    std::vector<double> us;
    for (int i = 0; i < 400; ++i) {
        auto t = Steady::now();
        ASSERT_TRUE(s->send_text(m).ok());
        ASSERT_EQ(next(*s), m);
        us.push_back(seconds_since(t) * 1e6);
    }
    std::sort(us.begin(), us.end());
    std::printf("WebSocket echo round trip over %zu messages: median %.0f us, p99 %.0f us, max %.0f us\n",
                us.size(), us[us.size() / 2], us[us.size() * 99 / 100], us.back());
}

// ---- TLS -----------------------------------------------------------------------

class Win32NetworkTls : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = env("QN_TEST_NET_TLS_PORT");
        trust_ = env("QN_TEST_NET_TLS");
        if (port_.empty()) GTEST_SKIP() << "no TLS test server (scripts/wine-tests starts one)";
    }
    std::string port_;
    std::string trust_;
};

TEST_F(Win32NetworkTls, UntrustedCertificateIsRefused) {
    if (trust_ != "untrusted") GTEST_SKIP() << "the test CA is trusted now";
    auto get = net().http_request("GET", "https://localhost:" + port_ + "/status/200", {}, "", kTimeout);
    ASSERT_FALSE(get.ok()) << "TLS accepted a certificate from an authority nobody trusts";
    EXPECT_TRUE(names_call(get.error(), "WinHttpSendRequest"));
    auto ws = net().websocket_connect("wss://localhost:" + port_ + "/ws/echo", kTimeout);
    ASSERT_FALSE(ws.ok());
    EXPECT_TRUE(names_call(ws.error(), "WinHttpSendRequest"));
}

TEST_F(Win32NetworkTls, TrustedCertificateIsAcceptedForItsNameOnly) {
    if (trust_ != "trusted") GTEST_SKIP() << "the test CA is not trusted now";
    auto get = net().http_request("GET", "https://localhost:" + port_ + "/status/200", {}, "", kTimeout);
    ASSERT_TRUE(get.ok()) << get.error();
    EXPECT_EQ(get.value().status, 200);
    EXPECT_EQ(get.value().body, "status 200");

    auto r = net().websocket_connect("wss://localhost:" + port_ + "/ws/echo", kTimeout);
    ASSERT_TRUE(r.ok()) << r.error();
    exchange_on_two_threads(*r.value(), 100);

    // The certificate names localhost, not 127.0.0.1: the name is checked.
    auto by_address = net().http_request("GET", "https://127.0.0.1:" + port_ + "/status/200", {}, "", kTimeout);
    EXPECT_FALSE(by_address.ok());
}

}  // namespace
}  // namespace qn::wine_test
