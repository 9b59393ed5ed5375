#include "link/session.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>

#include "link/band_seats.h"
#include "link/delay.h"
#include "link/protocol.h"
#include "link/resolve.h"

namespace qn::link {

namespace {

constexpr std::size_t kMaxLogLines = 200;
constexpr std::size_t kMaxRingsKept = 4096;
constexpr long kBadFramesLogged = 10;  // then only every hundredth

void wipe(std::string& s) {
    std::fill(s.begin(), s.end(), '\0');
    s.clear();
}

std::string seconds_text(std::int64_t ms) { return std::to_string((ms + 999) / 1000) + " s"; }

std::string ms_text(std::int64_t us) { return std::to_string((us + 500) / 1000); }

constexpr std::size_t kMaxAhead = 64;             // rings handed over and not yet claimed
constexpr std::int64_t kCoarseUs = 2000;          // the rest of a wait for a ring is precise
constexpr std::int64_t kLogStepUs = 5000;         // a delay that moves this far is logged again
constexpr std::int64_t kShortUs = 1000;           // a ring whose lead falls this far short is short
constexpr int kJoiningProbes = 4;                 // round trips timed at once after joining
constexpr std::int32_t kJoiningProbeGapMs = 100;
// A state request waits while a ring is to be sent this soon or was sent
// this recently, so that neither holds up the other on the line.
constexpr std::int64_t kQuietUs = 100'000;

std::int64_t steady_us() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

struct TowerLink::Shared {
    Shared(platform::Network& n, LinkConfig c) : net(n), cfg(std::move(c)), band(cfg.band) { bells.fill(true); }

    platform::Network& net;
    LinkConfig cfg;
    std::string token;  // the link thread's own

    // Status, counters, log, the tower's bells, the stop flag.
    mutable std::mutex mu;
    std::condition_variable cv;
    bool stopping = false;
    bool thread_done = false;
    LinkStatus status;
    LinkCounters counters;
    std::deque<std::string> log;
    std::deque<HeardRing> rings;
    // The stroke of each bell: the tower's as it last said, turned by each
    // of our rings it has not yet answered (in_flight), so that two rings in
    // a row (a made-up missed blow) go at the two strokes in turn.
    std::array<bool, kMaxTowerBells> bells{};
    std::array<int, kMaxTowerBells> in_flight{};
    // When each of our rings of a bell went, oldest first: the server answers
    // every ring in turn, so its next broadcast of the bell is the oldest's
    // echo (pairing it with the newest would time a ring sent after it).
    std::array<std::deque<std::int64_t>, kMaxTowerBells + 1> echo_from{};
    std::function<void()> changed;
    BandSeats band;

    // Rings handed over ahead of their due time, in the order they are to
    // be sent; a sent one waits to be claimed at its due time.
    struct Ahead {
        std::uint64_t ticket = 0;
        int bell = 0;
        std::int64_t send_at_us = 0;
        enum class State { Waiting, Sent, Lost } state = State::Waiting;
        bool handstroke = true;
    };
    std::deque<Ahead> ahead;
    std::uint64_t next_ticket = 1;
    std::array<std::int64_t, kMaxTowerBells + 1> last_send_at{};
    std::condition_variable sender_cv;
    bool sender_quit = false;
    DelayEstimate delay;
    Lead lead;
    bool delay_logged = false;
    std::int64_t logged_us = 0;
    bool short_logged = false;
    std::int64_t last_ring_us = 0;  // when our last ring went

    // One sender at a time. Also guards the socket and the joined flag, so
    // a ring sees them together. Taken before mu when both are needed.
    std::mutex send_mu;
    std::shared_ptr<platform::WebSocket> ws;
    bool joined = false;
    std::string send_error;

    bool is_stopping() {
        std::lock_guard<std::mutex> g(mu);
        return stopping;
    }

    std::int64_t now_us() const { return cfg.clock_us ? cfg.clock_us() : steady_us(); }

    Ahead* find_ahead(std::uint64_t ticket) {
        for (Ahead& a : ahead)
            if (a.ticket == ticket) return &a;
        return nullptr;
    }

    // Under mu: the figures the screen shows, and a line for the log when
    // the delay is first known or has moved.
    void delay_changed(std::int64_t now) {
        const std::int64_t one_way = delay.one_way_us();
        counters.network_us = delay.known() ? one_way : -1;
        counters.spread_us = delay.spread_us();
        if (!delay.known()) return;
        if (!delay_logged) {
            lead.set(cfg.send_ahead ? one_way : 0, now);
            counters.lead_us = lead.lead_us();
        }
        if (delay_logged && std::abs(one_way - logged_us) <= kLogStepUs) return;
        delay_logged = true;
        logged_us = one_way;
        if (log.size() >= kMaxLogLines) log.pop_front();
        log.push_back("Tower link: network delay " + ms_text(one_way) + "+-" + ms_text(counters.spread_us) +
                      " ms to the tower; " +
                      (cfg.send_ahead ? "rings are sent that much ahead" : "rings go at their due time (sending ahead is off)"));
    }

    void note(const std::string& line) {
        std::lock_guard<std::mutex> g(mu);
        if (log.size() >= kMaxLogLines) log.pop_front();
        log.push_back("Tower link: " + line);
    }

    template <typename F>
    void update(F&& f) {
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> g(mu);
            f(status);
            ++status.version;
            call = changed;
        }
        if (call) call();
    }

    void set_phase(Phase p, const std::string& detail = {}) {
        update([&](LinkStatus& st) {
            st.phase = p;
            st.detail = detail;
        });
    }

    // Sends from the link's thread; false (and the reason kept) on failure.
    bool send(const std::string& frame) {
        std::lock_guard<std::mutex> g(send_mu);
        if (!ws) return false;
        auto r = ws->send_text(frame);
        if (!r.ok() && send_error.empty()) send_error = "send: " + r.error();
        return r.ok();
    }

    void bad_frame(const std::string& why) {
        long n = 0;
        {
            std::lock_guard<std::mutex> g(mu);
            n = ++counters.bad_frames;
        }
        if (n <= kBadFramesLogged || n % 100 == 0)
            note("message ignored (" + why + ")" + (n == kBadFramesLogged ? "; only every hundredth is logged now" : ""));
    }

    // The tower's state, whole (rung: 0) or after a ring of bell rung: a
    // bell with rings of ours still unanswered keeps the stroke we are at.
    void take_state(const std::vector<bool>& state, int rung = 0) {
        std::lock_guard<std::mutex> g(mu);
        if (rung >= 1 && rung <= kMaxTowerBells && in_flight[static_cast<std::size_t>(rung - 1)] > 0)
            --in_flight[static_cast<std::size_t>(rung - 1)];
        for (std::size_t i = 0; i < bells.size(); ++i) {
            if (rung == 0) in_flight[i] = 0;
            if (in_flight[i] == 0) bells[i] = i < state.size() ? state[i] : true;
        }
    }
};

namespace {

using Shared = TowerLink::Shared;

// Waits before the next try: 1, 2, 4 ... s up to the maximum. False when
// stopped meanwhile.
bool pause(Shared& s, int failures, const std::string& why) {
    const std::int64_t first = std::max<std::int32_t>(s.cfg.backoff_first_ms, 1);
    const std::int64_t delay = std::min<std::int64_t>(first << std::min(failures, 20), s.cfg.backoff_max_ms);
    const std::int64_t at = TowerLink::now_ms() + delay;
    s.update([&](LinkStatus& st) {
        st.phase = Phase::Waiting;
        st.detail = why;
        st.retry_at_ms = at;
    });
    s.note(why + "; next try in " + seconds_text(delay));
    std::unique_lock<std::mutex> lk(s.mu);
    return !s.cv.wait_for(lk, std::chrono::milliseconds(delay), [&] { return s.stopping; });
}

void fail(Shared& s, const std::string& why) {
    s.set_phase(Phase::Failed, why);
    s.note(why + "; rings are not sent");
}

void joined(Shared& s, const TowerEvent& e) {
    {
        std::lock_guard<std::mutex> g(s.send_mu);
        s.joined = true;
    }
    {
        std::lock_guard<std::mutex> g(s.mu);
        ++s.counters.connections;
        // Another connection may take another way: its delay is measured anew.
        s.delay.clear();
        for (auto& from : s.echo_from) from.clear();
        s.delay_logged = false;
        s.counters.network_us = -1;
    }
    const int bells = static_cast<int>(e.bell_state.size());
    const bool logged_in = !s.token.empty();
    s.update([&](LinkStatus& st) {
        st.phase = Phase::Joined;
        st.detail.clear();
        st.tower_bells = bells;
        st.logged_in = logged_in;
    });
    s.note("joined tower " + std::to_string(s.cfg.tower_id) + " (" + std::to_string(bells) + " bells) " +
           (logged_in ? "as " + s.cfg.email : std::string("anonymously")));
}

// The state that comes with a ring is the tower's after it: the bell rang
// at the other stroke (whether the tower turned it or disagreed).
void bell_rung(Shared& s, const TowerEvent& e) {
    const std::int64_t at = s.cfg.clock_us ? s.cfg.clock_us() : 0;
    s.take_state(e.bell_state, e.who_rang);
    std::lock_guard<std::mutex> g(s.mu);
    if (s.cfg.clock_us) {
        if (s.rings.size() >= kMaxRingsKept) s.rings.pop_front();
        const auto i = static_cast<std::size_t>(e.who_rang - 1);
        s.rings.push_back({e.who_rang, i < e.bell_state.size() ? !e.bell_state[i] : true, at});
    }
    std::deque<std::int64_t>& from = s.echo_from[static_cast<std::size_t>(e.who_rang)];
    if (!from.empty()) {
        const std::int64_t now = s.now_us();
        s.counters.echo_ms = (now - from.front()) / 1000;
        s.delay.add_round_trip(now, now - from.front());
        s.delay_changed(now);
        from.pop_front();
    }
}

// The round trip of a state request, timed between rings: a few at once
// after joining, then one every probe_every_ms.
struct Probe {
    bool out = false;
    std::int64_t sent_us = 0;
    std::int64_t next_us = 0;
    int answered = 0;
};

bool quiet_for_probe(Shared& s, std::int64_t now) {
    std::lock_guard<std::mutex> g(s.mu);
    if (s.last_ring_us != 0 && now - s.last_ring_us < kQuietUs) return false;
    for (const Shared::Ahead& a : s.ahead)
        if (a.state == Shared::Ahead::State::Waiting && a.send_at_us - now < kQuietUs) return false;
    return true;
}

void maybe_probe(Shared& s, Probe& p) {
    const std::int64_t now = s.now_us();
    if (p.out) {
        if (now - p.sent_us < std::int64_t{s.cfg.probe_timeout_ms} * 1000) return;
        p.out = false;  // its answer, if it ever comes, is not timed
        std::lock_guard<std::mutex> g(s.mu);
        ++s.counters.probes_lost;
    }
    if (now < p.next_us || !quiet_for_probe(s, now)) return;
    if (!s.send(request_state_frame(s.cfg.tower_id))) return;
    p.out = true;
    p.sent_us = now;
}

// The tower's state, as a probe's answer: timed, and taken only when no ring
// of ours is on its way (the state may be from before it arrived).
void probe_answered(Shared& s, Probe& p, const TowerEvent& e) {
    const std::int64_t now = s.now_us();
    bool in_flight = false;
    {
        std::lock_guard<std::mutex> g(s.mu);
        for (int n : s.in_flight) in_flight = in_flight || n > 0;
        if (p.out) {
            s.delay.add_round_trip(now, now - p.sent_us);
            s.delay.age(now);
            s.delay_changed(now);
            ++p.answered;
        }
    }
    if (!in_flight) s.take_state(e.bell_state);
    p.out = false;
    p.next_us = now + std::int64_t{p.answered < kJoiningProbes ? kJoiningProbeGapMs : s.cfg.probe_every_ms} * 1000;
}

void rejoin_anonymously(Shared& s) {
    s.note("the log-in token was refused: ringing anonymously");
    wipe(s.token);
    s.update([](LinkStatus& st) { st.logged_in = false; });
    s.send(join_frame(s.cfg.tower_id, s.token));
    s.send(request_state_frame(s.cfg.tower_id));
}

// The band's bells follow the tower's news: each free bell is asked for,
// and what the tower refuses goes to the status and the log.
void seat_band(Shared& s, const TowerEvent& e) {
    if (s.band.empty()) return;
    if (e.kind == EventKind::GlobalState) s.band.joined(static_cast<int>(e.bell_state.size()));
    s.band.event(e);
    if (!s.token.empty())
        for (int bell : s.band.to_assign()) s.send(assign_frame(s.cfg.tower_id, bell, s.band.user_id()));
    for (const std::string& line : s.band.take_notes()) s.note(line);
    const std::string refused = s.band.refused_text();
    bool changed = false;
    {
        std::lock_guard<std::mutex> g(s.mu);
        changed = s.status.refused != refused;
    }
    if (changed) s.update([&](LinkStatus& st) { st.refused = refused; });
}

// The account's name, by which the tower's user list gives our id; without
// it the band rings unassigned.
void learn_account_name(Shared& s) {
    const Outcome o = account_name(s.net, s.cfg.site, s.token, s.cfg.http_timeout_ms);
    if (o.ok)
        s.band.set_username(o.value);
    else
        s.note(o.error + ": the band's bells are not assigned");
}

enum class Step { AwaitOpen, AwaitConnect, AwaitState, Joined };

std::string not_answered(Step step, std::int64_t tower_id) {
    switch (step) {
    case Step::AwaitOpen: return "the server did not open a session";
    case Step::AwaitConnect: return "the server did not accept the connection";
    default: return "no answer to joining tower " + std::to_string(tower_id);
    }
}

// One connection from the open to its end; returns why it ended.
std::string run_session(Shared& s, platform::WebSocket& ws) {
    const std::int64_t start = TowerLink::now_ms();
    std::int64_t last_heard = start;
    std::int64_t silence_allowed = 0;  // ping interval + time-out, once open
    Step step = Step::AwaitOpen;
    Probe probe;
    for (;;) {
        if (s.is_stopping()) return "stopped";
        if (step == Step::Joined) maybe_probe(s, probe);
        auto r = ws.receive(s.cfg.poll_ms);
        const std::int64_t now = TowerLink::now_ms();
        {
            // A ring that could not be sent ends the connection too.
            std::lock_guard<std::mutex> g(s.send_mu);
            if (!s.send_error.empty()) return s.send_error;
        }
        if (!r.ok()) return r.error();
        if (!r.value()) {
            if (step != Step::Joined && now - start > s.cfg.join_timeout_ms) return not_answered(step, s.cfg.tower_id);
            if (silence_allowed > 0 && now - last_heard > silence_allowed)
                return "no word from the server for " + seconds_text(now - last_heard);
            continue;
        }
        last_heard = now;
        const Frame f = parse_frame(*r.value());
        switch (f.kind) {
        case FrameKind::Open:
            if (step != Step::AwaitOpen) break;
            silence_allowed = f.open.ping_interval_ms + f.open.ping_timeout_ms;
            s.send(kConnectFrame);
            step = Step::AwaitConnect;
            break;
        case FrameKind::Connected:
            if (step != Step::AwaitConnect) break;
            s.band.new_connection();
            s.send(join_frame(s.cfg.tower_id, s.token));
            s.send(request_state_frame(s.cfg.tower_id));
            step = Step::AwaitState;
            break;
        case FrameKind::ConnectError: return "the server refused the connection: " + f.text;
        case FrameKind::Ping: s.send(kPongFrame + f.text); break;
        case FrameKind::Close: return "the server closed the session";
        case FrameKind::Disconnect: return "the server ended the session";
        case FrameKind::Malformed: s.bad_frame(f.text); break;
        case FrameKind::Event: {
            const TowerEvent e = interpret_event(f);
            if (e.kind == EventKind::Invalid) {
                s.bad_frame(e.why);
            } else if (e.kind == EventKind::GlobalState) {
                if (step == Step::Joined) {
                    probe_answered(s, probe, e);
                } else {
                    s.take_state(e.bell_state);
                    if (step == Step::AwaitState) {
                        step = Step::Joined;
                        joined(s, e);
                    }
                }
            } else if (e.kind == EventKind::BellRung) {
                bell_rung(s, e);
            } else if (e.kind == EventKind::BadToken) {
                rejoin_anonymously(s);
            }
            seat_band(s, e);
            break;
        }
        default: break;
        }
    }
}

// Logs in when asked to and not yet done. False when the link is to end.
bool log_in_once(Shared& s, int& failures) {
    while (!s.cfg.email.empty() && s.token.empty() && !s.cfg.password.empty()) {
        s.set_phase(Phase::LoggingIn);
        Outcome o = log_in(s.net, s.cfg.site, s.cfg.email, s.cfg.password, s.cfg.http_timeout_ms);
        if (o.ok) {
            wipe(s.cfg.password);
            s.token = std::move(o.value);
            s.note("logged in as " + s.cfg.email);
            if (!s.band.empty()) learn_account_name(s);
            return true;
        }
        if (o.permanent) {
            wipe(s.cfg.password);
            fail(s, o.error);
            return false;
        }
        if (!pause(s, failures++, o.error)) return false;
    }
    return true;
}

// Under send_mu: one ring, at the stroke given or the tower's, counted.
bool send_one_ring(Shared& s, int bell, const bool* given, bool* used) {
    const std::size_t b = static_cast<std::size_t>(bell - 1);
    bool handstroke = true;
    if (given) {
        handstroke = *given;
    } else {
        std::lock_guard<std::mutex> m(s.mu);
        handstroke = s.bells[b];  // no other ring turns it while send_mu is held
    }
    if (used) *used = handstroke;
    bool sent = false;
    if (s.joined && s.ws) {
        auto r = s.ws->send_text(bell_frame(s.cfg.tower_id, bell, handstroke));
        sent = r.ok();
        if (!sent) {
            // The link's thread sees this within a poll and starts again;
            // closing here could keep the caller waiting.
            if (s.send_error.empty()) s.send_error = "send: " + r.error();
            s.joined = false;
        }
    }
    const std::int64_t now = s.now_us();
    std::lock_guard<std::mutex> m(s.mu);
    if (sent) {
        ++s.counters.rings_sent;
        std::deque<std::int64_t>& from = s.echo_from[static_cast<std::size_t>(bell)];
        if (from.size() >= 8) from.pop_front();
        from.push_back(now);
        s.last_ring_us = now;
        s.bells[b] = !handstroke;
        ++s.in_flight[b];
    } else {
        ++s.counters.rings_lost;
    }
    return sent;
}

// A ring handed over ahead, at its time, unless claimed or cancelled since.
void send_ahead(Shared& s, std::uint64_t ticket) {
    std::lock_guard<std::mutex> g(s.send_mu);
    int bell = 0;
    {
        std::lock_guard<std::mutex> m(s.mu);
        const Shared::Ahead* a = s.find_ahead(ticket);
        if (a == nullptr || a->state != Shared::Ahead::State::Waiting) return;
        bell = a->bell;
    }
    bool hand = true;
    const bool sent = send_one_ring(s, bell, nullptr, &hand);
    std::lock_guard<std::mutex> m(s.mu);
    if (Shared::Ahead* a = s.find_ahead(ticket)) {
        a->state = sent ? Shared::Ahead::State::Sent : Shared::Ahead::State::Lost;
        a->handstroke = hand;
    }
}

// The second thread: sleeps until the next ring handed over ahead is due to
// go, the last stretch precisely, and sends it.
void send_ahead_loop(Shared& s) {
    std::unique_lock<std::mutex> lk(s.mu);
    while (!s.stopping && !s.sender_quit) {
        const auto next = std::find_if(s.ahead.begin(), s.ahead.end(),
                                       [](const Shared::Ahead& a) { return a.state == Shared::Ahead::State::Waiting; });
        if (next == s.ahead.end()) {
            s.sender_cv.wait(lk);
            continue;
        }
        const std::uint64_t ticket = next->ticket;
        const std::int64_t at = next->send_at_us;
        const std::int64_t left = at - s.now_us();
        if (left > kCoarseUs) {
            // Woken early by a ring handed over meanwhile or by the end.
            s.sender_cv.wait_for(lk, std::chrono::microseconds(left - kCoarseUs));
            continue;
        }
        lk.unlock();
        if (left > 0) {
            if (s.cfg.sleep_until_us)
                s.cfg.sleep_until_us(at);
            else
                std::this_thread::sleep_for(std::chrono::microseconds(left));
        }
        send_ahead(s, ticket);
        lk.lock();
    }
}

void run(const std::shared_ptr<Shared>& sp) {
    Shared& s = *sp;
    std::thread sender([&s] { send_ahead_loop(s); });
    int failures = 0;
    while (!s.is_stopping()) {
        if (!log_in_once(s, failures)) break;
        s.set_phase(Phase::Connecting);
        const Outcome where = socket_url(s.net, s.cfg.site, s.cfg.tower_id, s.token, s.cfg.http_timeout_ms);
        if (!where.ok) {
            if (where.permanent) {
                fail(s, where.error);
                break;
            }
            if (!pause(s, failures++, where.error)) break;
            continue;
        }
        auto opened = s.net.websocket_connect(where.value, s.cfg.connect_timeout_ms);
        if (!opened.ok()) {
            if (!pause(s, failures++, "cannot connect: " + opened.error())) break;
            continue;
        }
        std::shared_ptr<platform::WebSocket> ws(std::move(opened.value()));
        {
            std::lock_guard<std::mutex> g(s.send_mu);
            s.ws = ws;
            s.send_error.clear();
        }
        s.set_phase(Phase::Joining);
        long joins_before = 0;
        {
            std::lock_guard<std::mutex> g(s.mu);
            joins_before = s.counters.connections;
        }
        std::string why = run_session(s, *ws);
        {
            std::lock_guard<std::mutex> g(s.send_mu);
            s.ws.reset();
            s.joined = false;
            if (!s.send_error.empty()) why = s.send_error;
        }
        ws->close();
        if (s.is_stopping()) break;
        bool was_joined = false;
        {
            std::lock_guard<std::mutex> g(s.mu);
            was_joined = s.counters.connections != joins_before;
        }
        if (was_joined) failures = 0;
        if (!pause(s, failures++, (was_joined ? "connection lost: " : "") + why)) break;
    }
    {
        std::lock_guard<std::mutex> g(s.mu);
        s.sender_quit = true;
    }
    s.sender_cv.notify_all();
    sender.join();
    std::lock_guard<std::mutex> g(s.mu);
    s.thread_done = true;
    s.cv.notify_all();
}

}  // namespace

TowerLink::TowerLink(platform::Network& net, LinkConfig cfg) : s_(std::make_shared<Shared>(net, std::move(cfg))) {}

TowerLink::~TowerLink() { stop(); }

std::int64_t TowerLink::now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void TowerLink::start() {
    if (thread_.joinable()) return;
    std::shared_ptr<Shared> s = s_;
    thread_ = std::thread([s] { run(s); });
}

void TowerLink::stop(std::int32_t wait_ms) {
    Shared& s = *s_;
    std::shared_ptr<platform::WebSocket> ws;
    {
        std::lock_guard<std::mutex> g(s.send_mu);
        // The server has no disconnect handler: without this it would list
        // the ringer in the tower until it restarts.
        if (s.joined && s.ws) {
            (void)s.ws->send_text(user_left_frame(s.cfg.tower_id, s.token));
            (void)s.ws->send_text(kDisconnectFrame);
            s.note("left tower " + std::to_string(s.cfg.tower_id));
        }
        s.joined = false;
        ws = s.ws;
    }
    {
        std::lock_guard<std::mutex> g(s.mu);
        s.stopping = true;
    }
    s.cv.notify_all();
    s.sender_cv.notify_all();
    if (ws) ws->close();
    if (thread_.joinable()) {
        std::unique_lock<std::mutex> lk(s.mu);
        const bool done = s.cv.wait_for(lk, std::chrono::milliseconds(wait_ms), [&] { return s.thread_done; });
        lk.unlock();
        if (done)
            thread_.join();
        else
            thread_.detach();  // it holds its own share of the state
    }
    wipe(s.cfg.password);
    s.update([](LinkStatus& st) {
        if (st.phase != Phase::Failed) st.phase = Phase::Stopped;
    });
}

bool TowerLink::ring(int bell, bool handstroke) {
    return send_ring(bell, &handstroke, nullptr);
}

bool TowerLink::ring_in_turn(int bell, bool* handstroke) {
    return send_ring(bell, nullptr, handstroke);
}

bool TowerLink::ring_bell(int bell, bool* handstroke) {
    Shared& s = *s_;
    if (s.band.refused(bell)) {
        if (handstroke) *handstroke = tower_stroke(bell);
        std::lock_guard<std::mutex> m(s.mu);
        ++s.counters.rings_lost;
        ++s.counters.rings_refused;
        return false;
    }
    return send_ring(bell, nullptr, handstroke);
}

bool TowerLink::send_ring(int bell, const bool* given, bool* used) {
    if (bell < 1 || bell > kMaxTowerBells) return false;
    std::lock_guard<std::mutex> g(s_->send_mu);
    return send_one_ring(*s_, bell, given, used);
}

std::uint64_t TowerLink::ring_ahead(int bell, std::int64_t due_us) {
    Shared& s = *s_;
    // A bell the tower refuses is left to ring_bell, which counts it refused.
    if (bell < 1 || bell > kMaxTowerBells || s.band.refused(bell)) return 0;
    {
        std::lock_guard<std::mutex> g(s.send_mu);
        if (!s.joined) return 0;
    }
    std::lock_guard<std::mutex> g(s.mu);
    if (!s.cfg.send_ahead || !s.delay.known() || s.ahead.size() >= kMaxAhead) return 0;
    const std::int64_t now = s.now_us();
    const std::int64_t wanted = s.delay.one_way_us();
    const std::int64_t lead = s.lead.follow(wanted, now);
    // Never before the strike's own signal was taken (now), and never ahead
    // of a ring of the same bell handed over before.
    std::int64_t& last = s.last_send_at[static_cast<std::size_t>(bell)];
    const std::int64_t at = std::max({due_us - lead, now, last});
    last = at;
    s.counters.lead_us = due_us - at;
    if (due_us - now < wanted - kShortUs) {
        ++s.counters.rings_short;
        if (!s.short_logged) {
            s.short_logged = true;
            if (s.log.size() >= kMaxLogLines) s.log.pop_front();
            s.log.push_back("Tower link: the key delay leaves " + ms_text(std::max<std::int64_t>(due_us - now, 0)) +
                            " ms to send a ring ahead, less than the network's " + ms_text(wanted) +
                            " ms: rings reach the tower up to " + ms_text(wanted - (due_us - now)) +
                            " ms late (a longer key delay gives more time)");
        }
    }
    Shared::Ahead a;
    a.ticket = s.next_ticket++;
    a.bell = bell;
    a.send_at_us = at;
    auto pos = std::find_if(s.ahead.begin(), s.ahead.end(), [at](const Shared::Ahead& x) { return x.send_at_us > at; });
    s.ahead.insert(pos, a);
    s.sender_cv.notify_all();
    return a.ticket;
}

bool TowerLink::claim(std::uint64_t ticket, bool* handstroke) {
    Shared& s = *s_;
    // Held first: a ring the link's thread is sending now is claimed once
    // it has gone, never sent twice.
    std::lock_guard<std::mutex> g(s.send_mu);
    int bell = 0;
    {
        std::lock_guard<std::mutex> m(s.mu);
        const auto it = std::find_if(s.ahead.begin(), s.ahead.end(),
                                     [ticket](const Shared::Ahead& a) { return a.ticket == ticket; });
        if (it == s.ahead.end()) {
            ++s.counters.rings_lost;
            return false;
        }
        const Shared::Ahead a = *it;
        s.ahead.erase(it);
        if (a.state != Shared::Ahead::State::Waiting) {
            if (handstroke) *handstroke = a.handstroke;
            return a.state == Shared::Ahead::State::Sent;
        }
        bell = a.bell;
    }
    // Not sent yet (the lead is nil, or the sender is late): it goes now.
    return send_one_ring(s, bell, nullptr, handstroke);
}

void TowerLink::set_send_ahead(bool on) {
    std::lock_guard<std::mutex> g(s_->mu);
    if (s_->cfg.send_ahead == on) return;
    s_->cfg.send_ahead = on;
    s_->delay_logged = false;  // the log says so
    s_->delay_changed(s_->now_us());
}

void TowerLink::cancel(std::uint64_t ticket) {
    std::lock_guard<std::mutex> g(s_->mu);
    auto& q = s_->ahead;
    q.erase(std::remove_if(q.begin(), q.end(), [ticket](const Shared::Ahead& a) { return a.ticket == ticket; }), q.end());
}

bool TowerLink::call(std::string_view name) {
    Shared& s = *s_;
    std::lock_guard<std::mutex> g(s.send_mu);
    bool sent = false;
    if (s.joined && s.ws) {
        auto r = s.ws->send_text(call_frame(s.cfg.tower_id, name));
        sent = r.ok();
        if (!sent) {
            if (s.send_error.empty()) s.send_error = "send: " + r.error();
            s.joined = false;
        }
    }
    std::lock_guard<std::mutex> m(s.mu);
    ++(sent ? s.counters.calls_sent : s.counters.calls_lost);
    return sent;
}

bool TowerLink::tower_stroke(int bell) const {
    if (bell < 1 || bell > kMaxTowerBells) return true;
    std::lock_guard<std::mutex> g(s_->mu);
    return s_->bells[static_cast<std::size_t>(bell - 1)];
}

LinkStatus TowerLink::status() const {
    std::lock_guard<std::mutex> g(s_->mu);
    return s_->status;
}

LinkCounters TowerLink::counters() const {
    std::lock_guard<std::mutex> g(s_->mu);
    return s_->counters;
}

std::vector<std::string> TowerLink::take_log() {
    std::lock_guard<std::mutex> g(s_->mu);
    std::vector<std::string> out(s_->log.begin(), s_->log.end());
    s_->log.clear();
    return out;
}

std::vector<HeardRing> TowerLink::take_rings() {
    std::lock_guard<std::mutex> g(s_->mu);
    std::vector<HeardRing> out(s_->rings.begin(), s_->rings.end());
    s_->rings.clear();
    return out;
}

void TowerLink::on_change(std::function<void()> f) {
    std::lock_guard<std::mutex> g(s_->mu);
    s_->changed = std::move(f);
}

std::string phase_text(const LinkStatus& s, std::int64_t now_ms) {
    switch (s.phase) {
    case Phase::Starting: return "starting";
    case Phase::LoggingIn: return "logging in";
    case Phase::Connecting: return "connecting";
    case Phase::Joining: return "joining";
    case Phase::Joined: return s.logged_in ? "joined, logged in" : "joined";
    case Phase::Waiting: {
        const std::int64_t left = std::max<std::int64_t>(s.retry_at_ms - now_ms, 0);
        return "NOT CONNECTED, next try in " + seconds_text(left);
    }
    case Phase::Failed: return "NOT RINGING";
    case Phase::Stopped: return "stopped";
    }
    return {};
}

}  // namespace qn::link
