#include "golden_tower.h"

#include <chrono>

#include "golden_world.h"

namespace qn::golden {

namespace {

constexpr auto kStuck = std::chrono::seconds(10);

class TowerSocket : public platform::WebSocket {
public:
    explicit TowerSocket(TowerServer& server) : server_(server) {}
    ~TowerSocket() override { close(); }
    platform::Result<void> send_text(const std::string& text) override { return server_.from_client(text); }
    platform::Result<std::optional<std::string>> receive(std::int32_t) override { return server_.to_client(); }
    void close() override { server_.close(); }

private:
    TowerServer& server_;
};

}  // namespace

// The link's thread waits here for its turn: at each call to the network,
// and whenever it wants a message (then until one has come, or the
// connection is closed).
void TowerServer::park(std::unique_lock<std::mutex>& lk, bool receiving) {
    parked_ = true;
    receiving_ = receiving;
    cv_.notify_all();
    cv_.wait(lk, [&] { return turn_ || (receiving && closed_); });
    turn_ = false;
    parked_ = receiving_ = false;
    cv_.notify_all();
}

bool TowerServer::settle() {
    std::unique_lock<std::mutex> lk(mu_);
    for (;;) {
        if (!cv_.wait_for(lk, kStuck, [&] { return parked_; })) return false;
        if (receiving_ && queue_.empty() && !closed_) return true;
        turn_ = true;
        cv_.notify_all();
        if (!cv_.wait_for(lk, kStuck, [&] { return !turn_; })) return false;
    }
}

void TowerServer::note(const std::string& line) { record_ += line + "\n"; }

void TowerServer::push(const std::string& frame) { queue_.push_back(frame); }

platform::Result<platform::HttpResponse> TowerServer::http_request(const std::string& method, const std::string& url,
                                                                   const std::vector<platform::HttpHeader>&,
                                                                   const std::string&, std::int32_t) {
    std::unique_lock<std::mutex> lk(mu_);
    park(lk, false);
    note(seconds(now_()) + " " + method + " " + url);
    platform::HttpResponse page;
    page.status = 200;
    page.body = "<script>x = { server_ip: \"https://tower.example/\", };</script>";
    return page;
}

platform::Result<std::unique_ptr<platform::WebSocket>> TowerServer::websocket_connect(const std::string& url,
                                                                                     std::int32_t) {
    std::unique_lock<std::mutex> lk(mu_);
    park(lk, false);
    note(seconds(now_()) + " connect " + url);
    closed_ = false;
    queue_.clear();
    push("0{\"sid\":\"abc\",\"upgrades\":[],\"pingInterval\":25000,\"pingTimeout\":20000,\"maxPayload\":1000000}");
    return std::unique_ptr<platform::WebSocket>(new TowerSocket(*this));
}

// The tower's answers: the connect, and its bells' state when asked.
platform::Result<void> TowerServer::from_client(const std::string& frame) {
    const std::int64_t t = now_();
    std::lock_guard<std::mutex> g(mu_);
    if (closed_) return platform::fail("send: connection closed");
    note(seconds(t) + " > " + frame);
    if (frame == "40") push("40{\"sid\":\"xyz\"}");
    if (frame.rfind("42[\"c_request_global_state\"", 0) == 0)
        push("42[\"s_global_state\",{\"global_bell_state\":[true,true,true,true,true,true,true,true]}]");
    return {};
}

platform::Result<std::optional<std::string>> TowerServer::to_client() {
    std::unique_lock<std::mutex> lk(mu_);
    park(lk, true);
    if (!queue_.empty()) {
        std::string m = queue_.front();
        queue_.pop_front();
        note(seconds(now_()) + " < " + m);
        return std::optional<std::string>(m);
    }
    if (closed_) return platform::fail("connection closed");
    return std::optional<std::string>();
}

void TowerServer::close() {
    const std::int64_t t = now_();
    std::lock_guard<std::mutex> g(mu_);
    if (closed_) return;
    closed_ = true;
    note(seconds(t) + " closed");
    cv_.notify_all();
}

std::string TowerServer::record() {
    std::lock_guard<std::mutex> g(mu_);
    return record_;
}

}  // namespace qn::golden
