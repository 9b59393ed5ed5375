#include "link/tower.h"

#include <algorithm>

#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/menus.h"
#include "keyout/targets.h"
#include "link/protocol.h"
#include "link/resolve.h"
#include "link/session.h"
#include "strokes/strike_path.h"

namespace qn {

namespace {

link::TowerLink* session(Context& c) { return c.link.session.get(); }

std::string bells_text(const Settings& cfg) {
    std::string t = "j=" + str(cfg.tower_bell_j);
    if (cfg.tower_bell_f > 0) t += " f=" + str(cfg.tower_bell_f);
    return t;
}

Colour line_colour(link::Phase p) {
    switch (p) {
    case link::Phase::Joined: return kLightGreen;
    case link::Phase::Failed: return kLightRed;
    default: return kYellow;
    }
}

void drain_log(Context& c) {
    link::TowerLink* l = session(c);
    if (!l) return;
    for (const std::string& line : l->take_log()) c.run_log.write_line(date_time_text(*c.plat.files) + " " + line);
}

link::LinkConfig config_of(Context& c) {
    link::LinkConfig lc;
    lc.tower_id = c.cfg.tower_id;
    lc.site = link::normal_site(c.cfg.tower_site);
    lc.email = c.cfg.tower_email;
    lc.password = std::move(c.link.password);
    c.link.password.clear();
    lc.clock_us = [&t = c.clock] { return t.elapsed_us(); };
    return lc;
}

// The other ringers' bells as the tower tells of them, for the striking
// report; the ringer's own come back too, and are left out.
void tell_rings_heard(Context& c) {
    link::TowerLink* l = session(c);
    if (!l) return;
    for (const link::HeardRing& r : l->take_rings())
        if (r.bell != c.cfg.tower_bell_j && r.bell != c.cfg.tower_bell_f)
            c.strike_report.bell_heard(BellHeard{r.bell, r.handstroke, r.at_us});
}

}  // namespace

bool tower_link_in_use(const Context& c) {
    return target_driver(c.target.index()).ringing_room && c.cfg.tower_id > 0;
}

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

void start_tower_link(Context& c) {
    c.link.service_started = true;
    stop_tower_link(c);
    if (!tower_link_in_use(c)) return;
    const std::string id = str(c.cfg.tower_id);
    if (c.plat.network == nullptr) {
        const std::string why = "Tower link: this build has no network service; rings to tower " + id + " are lost";
        c.dialog.write_line(why);
        c.run_log.write_line(why);
        return;
    }
    link::LinkConfig lc = config_of(c);
    if (lc.site.empty()) {
        const std::string why = "Tower link: towersite " + c.cfg.tower_site + " is not an http(s) address";
        c.dialog.write_line(why);
        c.run_log.write_line(why);
        return;
    }
    if (!lc.email.empty() && lc.password.empty()) lc.password = ask_tower_password(c);
    if (lc.password.empty()) lc.email.clear();  // no password given: anonymous this time
    c.run_log.write_line("Tower link: tower " + id + " on " + lc.site + ", bells " + bells_text(c.cfg) + ", " +
                       (lc.email.empty() ? std::string("anonymous") : "account " + lc.email));
    c.link.session = std::make_unique<link::TowerLink>(*c.plat.network, std::move(lc));
    // The service loop is woken to show the news at once.
    c.link.session->on_change([wait = c.plat.wait, also = c.link.on_change] {
        if (wait) wait->signal();
        if (also) also();
    });
    c.link.session->start();
    c.link.shown.clear();
}

void restart_tower_link(Context& c) {
    if (c.link.service_started)
        start_tower_link(c);
    else if (!tower_link_in_use(c))
        stop_tower_link(c);
}

void stop_tower_link(Context& c) {
    link::TowerLink* l = session(c);
    if (!l) return;
    l->stop();
    const link::LinkCounters n = l->counters();
    drain_log(c);
    c.run_log.write_line("Tower link ended: rings sent " + str(n.rings_sent) + ", lost " + str(n.rings_lost) +
                       ", calls sent " + str(n.calls_sent) + ", lost " + str(n.calls_lost) + ", connections " +
                       str(n.connections));
    c.link.session.reset();
    c.link.shown.clear();
}

void ring_key_over_link(Context& c, char key) {
    const int bell = bell_for_key(c.cfg, key);
    bool hand = c.strikes->keys().handstroke();
    bool sent = false;
    if (bell == 0) {
        if (!c.link.no_bell_logged) c.delivery_report.key_rings_no_bell({key});
        c.link.no_bell_logged = true;
    } else if (link::TowerLink* l = session(c)) {
        // The tower's stroke, not the program's: the program starts at
        // backstroke until the ringer says, and a made-up missed blow rings
        // twice at one stroke; the tower takes a ring only at its own.
        sent = l->ring_in_turn(bell, &hand);
    } else {
        ++c.link.rings_without_session;
    }
    if (c.cfg.monitor_output) c.delivery_report.tower_rung({bell, hand, sent});
    if (c.link.on_ring) c.link.on_ring(key, bell, hand, sent);
}

bool export_over_link(Context& c, char key) {
    if (!tower_link_in_use(c)) return false;
    link::TowerLink* l = session(c);
    if (!l) return true;
    if (const char* call = link::call_for_key(key)) {
        l->call(call);
        return true;
    }
    const std::int32_t bell = bell_number(key);
    // The bells Quennick rings follow the tower's own idea of their stroke,
    // as a browser's bells do.
    if (bell >= 1 && bell <= link::kMaxTowerBells) l->ring_in_turn(bell);
    return true;
}

std::string tower_link_line(Context& c) {
    const std::string head = "Tower " + str(c.cfg.tower_id) + ": ";
    link::TowerLink* l = session(c);
    if (!l) return head + "NOT RINGING - no link (see the run log)";
    const link::LinkStatus st = l->status();
    const link::LinkCounters n = l->counters();
    std::string t = head + link::phase_text(st, link::TowerLink::now_ms());
    if (st.phase == link::Phase::Failed) return t + " - " + st.detail;
    std::string counts = " | bells " + bells_text(c.cfg) + " | rung " + str(n.rings_sent) + " lost " + str(n.rings_lost);
    if (st.phase == link::Phase::Joined && n.echo_ms >= 0) counts += " | echo " + str(n.echo_ms) + " ms";
    // While it waits to try again, the reason gives way to the counts: the
    // line is one screen row.
    if (st.phase == link::Phase::Waiting) {
        std::string why = " - " + st.detail;
        const std::size_t room = kLineColumns - 1;
        if (t.size() + why.size() + counts.size() > room)
            why.resize(room > t.size() + counts.size() ? room - t.size() - counts.size() : 0);
        t += why;
    }
    return t + counts;
}

bool take_tower_link_news(Context& c) {
    if (!tower_link_in_use(c)) return false;
    drain_log(c);
    tell_rings_heard(c);
    return true;
}

Colour tower_link_colour(Context& c) {
    link::TowerLink* l = session(c);
    return l ? line_colour(l->status().phase) : kLightRed;
}

}  // namespace qn
