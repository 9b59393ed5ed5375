// One tower link: a thread of its own logs in (when asked), finds the
// tower's server, opens the WebSocket, joins the tower and keeps the session
// alive (it answers the server's pings), and when the connection drops it
// tries again with growing pauses and joins again. It times the round trip
// of a state request now and then, between rings, and each ring's echo: half
// the least recent round trip is the delay to the tower. Rings and calls are
// sent by the caller's thread at once, or a ring is handed over ahead of its
// due time and a second thread sends it that delay early, so that it reaches
// the tower when it is due. A ring while the tower is not joined is counted
// as lost, never kept to be sent late.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/network.h"

namespace qn::link {

struct LinkConfig {
    std::int64_t tower_id = 0;
    std::string site;      // "https://ringingroom.com"
    std::string email;     // empty: anonymous
    std::string password;  // wiped once the log-in has been tried
    std::int32_t http_timeout_ms = 10000;
    std::int32_t connect_timeout_ms = 10000;
    std::int32_t join_timeout_ms = 10000;  // from the open to the tower's state
    std::int32_t backoff_first_ms = 1000;
    std::int32_t backoff_max_ms = 30000;
    std::int32_t poll_ms = 200;  // how soon the thread notices a stop
    // The program's clock, in microseconds, read on the link's thread to
    // stamp each ring the tower tells of; none: rings are not kept.
    std::function<std::int64_t()> clock_us;
    // Sleeps until clock_us() reads the time given, precisely (to a fraction
    // of a millisecond); none: the OS's own sleep.
    std::function<void(std::int64_t)> sleep_until_us;
    // Rings handed over ahead go the delay to the tower early; false: at
    // their due time (the delay is still measured and shown).
    bool send_ahead = true;
    std::int32_t probe_every_ms = 3000;  // a state request's round trip timed
    std::int32_t probe_timeout_ms = 3000;
    // The bells this link rings as a band (1-based). Each is taken for the
    // logged-in user where the tower lets a ringer take a bell; a bell the
    // tower refuses (beyond its size; in host mode, not assigned to us) is
    // said once and its rings are not sent. Empty: any bell, nobody assigned.
    std::vector<int> band;
};

// A bell the tower says was rung, when the word of it arrived.
struct HeardRing {
    int bell = 0;
    bool handstroke = false;
    std::int64_t at_us = 0;
};

enum class Phase {
    Starting,
    LoggingIn,
    Connecting,  // finding the server and opening the WebSocket
    Joining,
    Joined,      // rings go out
    Waiting,     // connection lost or not made: tries again at retry_at_ms
    Failed,      // will not try again (no such tower, log-in refused)
    Stopped,
};

struct LinkStatus {
    Phase phase = Phase::Starting;
    std::string detail;           // the last error, while Waiting or Failed
    std::int64_t retry_at_ms = 0; // Waiting: now_ms() of the next try
    int tower_bells = 0;          // 0 until the tower's state has come
    bool logged_in = false;
    // What the tower refuses of the band, as the screen says it ("host mode:
    // bells 3 5 not ours; bell 9 beyond the tower's 8"); empty: nothing.
    std::string refused;
    std::uint64_t version = 0;    // moves on with every change
};

struct LinkCounters {
    long rings_sent = 0;
    long rings_lost = 0;          // due while the tower was not joined, or not sent
    long rings_refused = 0;       // of those, a band's bell the tower refuses
    long calls_sent = 0;
    long calls_lost = 0;
    long connections = 0;         // joins made, the first included
    long bad_frames = 0;          // messages that were not what the protocol allows
    std::int64_t echo_ms = -1;    // last time from a ring to its broadcast back
    std::int64_t network_us = -1; // the one-way delay to the tower; -1: not known
    std::int64_t spread_us = 0;   // how much more the typical round trip's half is
    std::int64_t lead_us = 0;     // how early the last ring handed over ahead was sent
    long rings_short = 0;         // rings whose key delay left less time than the delay
    long probes_lost = 0;         // state requests never answered
};

class TowerLink {
public:
    TowerLink(platform::Network& net, LinkConfig cfg);
    ~TowerLink();  // stops
    TowerLink(const TowerLink&) = delete;
    TowerLink& operator=(const TowerLink&) = delete;

    void start();
    // Leaves the tower (c_user_left) and closes. Waits up to wait_ms for the
    // thread; one still blocked in a connect is left to end by itself.
    void stop(std::int32_t wait_ms = 2000);

    // Any thread; never waits for the network. False when not sent (then
    // counted as lost).
    bool ring(int bell, bool handstroke);
    // A ring at the stroke the tower holds the bell at (tower_stroke), as a
    // browser rings: the tower turns the bell only for a ring at its own
    // stroke, and everyone who joins later is told its stroke. *handstroke
    // gets the stroke rung.
    bool ring_in_turn(int bell, bool* handstroke = nullptr);
    bool call(std::string_view name);
    // A bell of the band, as itself at the tower's stroke (as ring_in_turn);
    // false, and not sent, when the tower refuses the bell.
    bool ring_bell(int bell, bool* handstroke = nullptr);

    // A ring due at due_us (clock_us time), handed over now: it is sent the
    // delay to the tower before due_us, never before now, and never before a
    // ring of the same bell handed over earlier. 0: not taken (not joined, no
    // delay known yet, sending ahead is off, or a band's bell the tower
    // refuses): ring it at its due time.
    std::uint64_t ring_ahead(int bell, std::int64_t due_us);
    // At the ring's due time: whether it was sent, and *handstroke its
    // stroke; a ring not yet sent is sent now.
    bool claim(std::uint64_t ticket, bool* handstroke = nullptr);
    // The ring is not to go after all (its key was replaced); one already
    // sent stays sent.
    void cancel(std::uint64_t ticket);
    // Sending ahead turned on or off while the link runs.
    void set_send_ahead(bool on);

    // The stroke the tower has the bell at (true: handstroke), as its last
    // state said, turned by each ring of ours it has not yet answered; true
    // when not known.
    bool tower_stroke(int bell) const;
    LinkStatus status() const;
    LinkCounters counters() const;
    // Lines for the run log since the last call. Never the password or token.
    std::vector<std::string> take_log();
    // The rings heard since the last call, anyone's, oldest first (the
    // newest few thousand when nobody takes them).
    std::vector<HeardRing> take_rings();
    // Run on the link's thread after each change of status (to wake a loop).
    void on_change(std::function<void()> f);

    static std::int64_t now_ms();

    struct Shared;

private:
    bool send_ring(int bell, const bool* given, bool* used);

    std::shared_ptr<Shared> s_;
    std::thread thread_;
};

// "joined", "reconnecting in 4 s", ...: the phase as the screen says it.
std::string phase_text(const LinkStatus& s, std::int64_t now_ms);

}  // namespace qn::link
