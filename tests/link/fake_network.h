// A network service the test plays the server of: HTTP answers from a
// function, and WebSockets whose far end the test holds (what the client
// sent, what it is to receive, a dropped connection).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "platform/network.h"

namespace qn::linktest {

using namespace std::chrono_literals;

// The server's end of one connection.
class FarEnd {
public:
    void push(const std::string& m) {
        std::lock_guard<std::mutex> g(mu);
        to_client.push_back(m);
        cv.notify_all();
    }
    void drop(const std::string& why) {
        std::lock_guard<std::mutex> g(mu);
        broken = why;
        cv.notify_all();
    }
    // Waits until the client has sent a message that starts with prefix;
    // returns it, or "" after the time-out. Messages are taken in order.
    std::string expect(const std::string& prefix, std::chrono::milliseconds timeout = 3000ms) {
        std::unique_lock<std::mutex> lk(mu);
        std::string found;
        cv.wait_for(lk, timeout, [&] {
            for (; taken < from_client.size(); ++taken) {
                if (from_client[taken].rfind(prefix, 0) == 0) {
                    found = from_client[taken++];
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    std::vector<std::string> sent() {
        std::lock_guard<std::mutex> g(mu);
        return from_client;
    }
    bool is_closed() {
        std::lock_guard<std::mutex> g(mu);
        return closed;
    }

    std::mutex mu;
    std::condition_variable cv;
    std::deque<std::string> to_client;
    std::vector<std::string> from_client;
    std::size_t taken = 0;
    std::string broken;  // non-empty: the connection has failed so
    bool closed = false;
};

class FakeSocket : public platform::WebSocket {
public:
    explicit FakeSocket(std::shared_ptr<FarEnd> end) : end_(std::move(end)) {}
    ~FakeSocket() override { close(); }
    platform::Result<void> send_text(const std::string& text) override {
        std::lock_guard<std::mutex> g(end_->mu);
        if (end_->closed || !end_->broken.empty()) return platform::fail("send: connection gone");
        end_->from_client.push_back(text);
        end_->cv.notify_all();
        return {};
    }
    platform::Result<std::optional<std::string>> receive(std::int32_t timeout_ms) override {
        std::unique_lock<std::mutex> lk(end_->mu);
        end_->cv.wait_for(lk, std::chrono::milliseconds(timeout_ms),
                          [&] { return !end_->to_client.empty() || !end_->broken.empty() || end_->closed; });
        if (!end_->to_client.empty()) {
            std::string m = end_->to_client.front();
            end_->to_client.pop_front();
            return std::optional<std::string>(m);
        }
        if (!end_->broken.empty()) return platform::fail(end_->broken);
        if (end_->closed) return platform::fail("closed");
        return std::optional<std::string>();
    }
    void close() override {
        std::lock_guard<std::mutex> g(end_->mu);
        end_->closed = true;
        end_->cv.notify_all();
    }

private:
    std::shared_ptr<FarEnd> end_;
};

class FakeNetwork : public platform::Network {
public:
    platform::Result<platform::HttpResponse> http_request(const std::string& method, const std::string& url,
                                                          const std::vector<platform::HttpHeader>& headers,
                                                          const std::string& body, std::int32_t) override {
        std::function<platform::Result<platform::HttpResponse>(const std::string&, const std::string&,
                                                               const std::vector<platform::HttpHeader>&)>
            h;
        {
            std::lock_guard<std::mutex> g(mu_);
            requests.push_back(method + " " + url);
            for (const auto& hd : headers) request_headers.push_back(hd.name + ": " + hd.value);
            (void)body;
            h = http;
        }
        if (h) return h(method, url, headers);
        platform::HttpResponse page;
        page.status = 200;
        page.body = "<script>x = { server_ip: \"https://tower.example/\", };</script>";
        return page;
    }

    platform::Result<std::unique_ptr<platform::WebSocket>> websocket_connect(const std::string& url,
                                                                             std::int32_t) override {
        std::lock_guard<std::mutex> g(mu_);
        connects.push_back(url);
        if (refuse_connects > 0) {
            --refuse_connects;
            cv_.notify_all();
            return platform::fail("connect(tower.example:443): Connection refused");
        }
        auto end = std::make_shared<FarEnd>();
        ends.push_back(end);
        cv_.notify_all();
        return std::unique_ptr<platform::WebSocket>(std::make_unique<FakeSocket>(end));
    }

    // The far end of the n-th connection (from 0), once it is made.
    std::shared_ptr<FarEnd> connection(std::size_t n, std::chrono::milliseconds timeout = 3000ms) {
        std::unique_lock<std::mutex> lk(mu_);
        cv_.wait_for(lk, timeout, [&] { return ends.size() > n; });
        return ends.size() > n ? ends[n] : nullptr;
    }
    std::size_t connect_count() {
        std::lock_guard<std::mutex> g(mu_);
        return connects.size();
    }
    std::vector<std::string> request_list() {
        std::lock_guard<std::mutex> g(mu_);
        return requests;
    }

    std::function<platform::Result<platform::HttpResponse>(const std::string&, const std::string&,
                                                           const std::vector<platform::HttpHeader>&)>
        http;
    int refuse_connects = 0;
    std::vector<std::string> requests, request_headers, connects;
    std::vector<std::shared_ptr<FarEnd>> ends;

private:
    std::mutex mu_;
    std::condition_variable cv_;
};

// The server's side of a normal join on a connection: open, connect, and
// the tower's state once the client asks. False when the client did not
// ask as it should.
inline bool serve_join(FarEnd& end, int bells = 8, std::int64_t ping_interval_ms = 25000,
                       std::int64_t ping_timeout_ms = 20000) {
    end.push("0{\"sid\":\"abc\",\"upgrades\":[],\"pingInterval\":" + std::to_string(ping_interval_ms) +
             ",\"pingTimeout\":" + std::to_string(ping_timeout_ms) + ",\"maxPayload\":1000000}");
    if (end.expect("40") != "40") return false;
    end.push("40{\"sid\":\"xyz\"}");
    if (end.expect("42[\"c_join\"").empty()) return false;
    if (end.expect("42[\"c_request_global_state\"").empty()) return false;
    std::string state = "[";
    for (int i = 0; i < bells; ++i) state += i ? ",true" : "true";
    end.push("42[\"s_global_state\",{\"global_bell_state\":" + state + "]}]");
    return true;
}

template <typename F>
bool eventually(F done, std::chrono::milliseconds timeout = 3000ms) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

}  // namespace qn::linktest
