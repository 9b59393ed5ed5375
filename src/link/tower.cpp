#include "link/tower.h"

#include <algorithm>

#include "config/settings.h"
#include "core/delivery_records.h"
#include "core/dialog.h"
#include "core/strike_records.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/menus.h"
#include "link/protocol.h"
#include "link/resolve.h"
#include "link/session.h"
#include "platform/platform.h"

namespace qn {

int bell_for_key(const Settings& cfg, char key) {
    if (key >= '1' && key <= '9') return key - '0';
    switch (key) {
    case '0': return 10;
    case '-': return 11;
    case '=': return 12;
    case 'j':
    case 'J': return cfg.tower_bell_j >= 1 && cfg.tower_bell_j <= link::kMaxTowerBells ? cfg.tower_bell_j : 0;
    case 'f':
    case 'F': return cfg.tower_bell_f >= 1 && cfg.tower_bell_f <= link::kMaxTowerBells ? cfg.tower_bell_f : 0;
    default: return 0;
    }
}

namespace {

std::string band_text(const std::vector<int>& bells) {
    std::string t = "band";
    for (int b : bells) t += " " + str(b);
    return t;
}

}  // namespace

std::string tower_bells_text(const Settings& cfg) {
    std::string t = "j=" + str(cfg.tower_bell_j);
    if (cfg.tower_bell_f > 0) t += " f=" + str(cfg.tower_bell_f);
    return t;
}

TowerService::TowerService(Settings& cfg, RunClock& clock, Dialog& dialog, TextSink& log, platform::Platform& plat,
                           StrikeReport& heard, DeliveryReport& delivery, std::function<bool()> target_rings_tower)
    : cfg_(cfg),
      clock_(clock),
      dialog_(dialog),
      log_(log),
      plat_(plat),
      heard_(heard),
      delivery_(delivery),
      target_rings_tower_(std::move(target_rings_tower)) {}

TowerService::~TowerService() = default;

bool TowerService::in_use() const { return target_rings_tower_() && cfg_.tower_id > 0; }

void TowerService::say_why_not(const std::string& why) {
    dialog_.write_line(why);
    log_.write_line(why);
}

void TowerService::start() {
    service_started_ = true;
    stop();
    if (!in_use()) return;
    const std::string id = str(cfg_.tower_id);
    if (plat_.network == nullptr) {
        say_why_not("Tower link: this build has no network service; rings to tower " + id + " are lost");
        return;
    }
    link::LinkConfig lc;
    lc.tower_id = cfg_.tower_id;
    lc.site = link::normal_site(cfg_.tower_site);
    lc.email = cfg_.tower_email;
    lc.password = std::move(password_);
    password_.clear();
    lc.clock_us = [&t = clock_] { return t.elapsed_us(); };
    lc.sleep_until_us = [&t = clock_](std::int64_t due_us) { t.sleep_until_us(due_us); };
    lc.send_ahead = cfg_.tower_send_ahead;
    ahead_.fill(0);
    lc.band = band_;
    if (lc.site.empty()) {
        say_why_not("Tower link: towersite " + cfg_.tower_site + " is not an http(s) address");
        return;
    }
    if (!lc.email.empty() && lc.password.empty()) lc.password = ask_password();
    if (lc.password.empty()) lc.email.clear();  // no password given: anonymous this time
    log_.write_line("Tower link: tower " + id + " on " + lc.site + ", bells " + bells_text() + ", " +
                    (lc.email.empty() ? std::string("anonymous") : "account " + lc.email));
    session_ = std::make_unique<link::TowerLink>(*plat_.network, std::move(lc));
    // The service loop is woken to show the news at once.
    session_->on_change([wait = plat_.wait] {
        if (wait) wait->signal();
    });
    session_->start();
    ++generation_;
}

void TowerService::restart() {
    if (service_started_)
        start();
    else if (!in_use())
        stop();
}

void TowerService::stop() {
    if (!session_) return;
    session_->stop();
    const link::LinkCounters n = session_->counters();
    drain_log();
    log_.write_line("Tower link ended: rings sent " + str(n.rings_sent) + ", lost " + str(n.rings_lost) +
                    ", calls sent " + str(n.calls_sent) + ", lost " + str(n.calls_lost) + ", connections " +
                    str(n.connections));
    session_.reset();
    ++generation_;
}

void TowerService::ring_key(char key, bool handstroke) {
    const int bell = bell_for_key(cfg_, key);
    bool hand = handstroke;
    bool sent = false;
    if (bell == 0) {
        if (!no_bell_logged_) delivery_.key_rings_no_bell({key});
        no_bell_logged_ = true;
    } else if (session_) {
        // The tower's stroke, not the program's: the program starts at
        // backstroke until the ringer says, and a made-up missed blow rings
        // twice at one stroke; the tower takes a ring only at its own.
        std::uint64_t& ahead = ahead_[static_cast<std::size_t>(bell)];
        sent = ahead != 0 ? session_->claim(ahead, &hand) : session_->ring_in_turn(bell, &hand);
        ahead = 0;
    }
    if (cfg_.monitor_output) delivery_.tower_rung({bell, hand, sent});
    if (on_ring_) on_ring_(key, bell, hand, sent);
}

void TowerService::ring_ahead(char key, std::int64_t due_us) { ring_bell_ahead(bell_for_key(cfg_, key), due_us); }

void TowerService::ring_bell_ahead(int bell, std::int64_t due_us) {
    if (bell < 1 || bell > link::kMaxTowerBells || !session_) return;
    // A key still waiting is replaced by the new strike's (the queue keeps
    // one a sensing point): so is its ring, unless it went already.
    std::uint64_t& ahead = ahead_[static_cast<std::size_t>(bell)];
    if (ahead != 0) session_->cancel(ahead);
    ahead = session_->ring_ahead(bell, due_us);
}

std::string TowerService::bells_text() const { return band_.empty() ? tower_bells_text(cfg_) : band_text(band_); }

void TowerService::ring_bell(int bell, bool handstroke) {
    bool hand = handstroke;
    bool sent = false;
    if (session_ && bell >= 1 && bell <= link::kMaxTowerBells) {
        std::uint64_t& ahead = ahead_[static_cast<std::size_t>(bell)];
        sent = ahead != 0 ? session_->claim(ahead, &hand) : session_->ring_bell(bell, &hand);
        ahead = 0;
    }
    if (cfg_.monitor_output) delivery_.tower_rung({bell, hand, sent});
    if (on_ring_) on_ring_('\0', bell, hand, sent);
}

bool TowerService::export_key(char key) {
    if (!in_use()) return false;
    if (!session_) return true;
    if (const char* call = link::call_for_key(key)) {
        session_->call(call);
        return true;
    }
    const std::int32_t bell = bell_number(key);
    // The bells Quennick rings follow the tower's own idea of their stroke,
    // as a browser's bells do.
    if (bell >= 1 && bell <= link::kMaxTowerBells) session_->ring_in_turn(bell);
    return true;
}

void TowerService::drain_log() {
    if (!session_) return;
    for (const std::string& line : session_->take_log()) log_.write_line(date_time_text(*plat_.files) + " " + line);
}

// The other ringers' bells as the tower tells of them, for the striking
// report; the ringer's own come back too, and are left out.
void TowerService::tell_rings_heard() {
    if (!session_) return;
    const link::LinkCounters n = session_->counters();
    const std::int64_t lead = cfg_.tower_send_ahead && n.network_us >= 0 ? n.lead_us : -1;
    for (const link::HeardRing& r : session_->take_rings())
        if (band_.empty() ? r.bell != cfg_.tower_bell_j && r.bell != cfg_.tower_bell_f
                          : std::find(band_.begin(), band_.end(), r.bell) == band_.end())
            heard_.bell_heard(BellHeard{r.bell, r.handstroke, r.at_us, n.network_us, n.spread_us, lead});
}

bool TowerService::take_news() {
    if (!in_use()) return false;
    if (session_) session_->set_send_ahead(cfg_.tower_send_ahead);
    drain_log();
    tell_rings_heard();
    return true;
}

}  // namespace qn
