// A Ringing Room tower on a fake network, run in lock-step with the
// program: the tower link's own thread (a real thread, on the real clock)
// may run only while the program's main thread is held at one of its waits
// or clock reads in virtual time (settle()), and it is let run until it
// waits for the server with nothing to come. So the link joins, and its
// news reaches the screen and the run log, at the same virtual moment on
// every run. The tower answers the join with the state of 8 bells and
// never sends rings back (their echo time is measured on the real clock),
// nor pings (a connection that stays quiet is never timed out here).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "platform/network.h"

namespace qn::golden {

class TowerServer : public platform::Network {
public:
    // now: the run's virtual time, for the record.
    explicit TowerServer(std::function<std::int64_t()> now) : now_(std::move(now)) {}

    platform::Result<platform::HttpResponse> http_request(const std::string& method, const std::string& url,
                                                          const std::vector<platform::HttpHeader>& headers,
                                                          const std::string& body, std::int32_t timeout_ms) override;
    platform::Result<std::unique_ptr<platform::WebSocket>> websocket_connect(const std::string& url,
                                                                             std::int32_t timeout_ms) override;

    // With a link running: lets its thread go on until it waits for the
    // server with nothing to come. False (after 10 s of real time) when it
    // never got there.
    bool settle();
    // What went over the network, a line each: "t > frame" from the program,
    // "t < frame" to it.
    std::string record();

    // The socket's side (any thread).
    platform::Result<void> from_client(const std::string& frame);
    platform::Result<std::optional<std::string>> to_client();
    void close();

private:
    void park(std::unique_lock<std::mutex>& lk, bool receiving);
    void note(const std::string& line);  // lock held
    void push(const std::string& frame);  // lock held

    std::function<std::int64_t()> now_;
    std::mutex mu_;
    std::condition_variable cv_;
    bool parked_ = false;     // the link's thread waits for its turn
    bool receiving_ = false;  // ... for a message
    bool turn_ = false;       // given it
    bool closed_ = false;
    std::deque<std::string> queue_;
    std::string record_;
};

}  // namespace qn::golden
