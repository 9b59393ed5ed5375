#include "service/loop.h"

#include "autoring/automatic_ringing.h"
#include "service/run_end.h"
#include "service/program.h"
#include "core/timing.h"
#include "keyout/dispatch.h"
#include "link/tower.h"
#include "serial/sensing.h"
#include "strokes/watchports.h"
#include "service/keycheck.h"
#include "strokes/strike_path.h"
#include "ui/tower_line.h"

namespace qn {

namespace {

// The longest one pass may wait. Data mode always waited a millisecond
// for its byte; now the byte itself wakes the loop, so loop_sleep_ms holds
// there too, but never less than that millisecond.
std::int32_t ceiling_ms(const Program& c) {
    if (c.cfg.rest_on_mode) return c.cfg.loop_sleep_ms > 1 ? c.cfg.loop_sleep_ms : 1;
    return c.cfg.loop_sleep_ms;
}

// At rest (no touch being counted, no key waiting, no automatic ringing)
// nothing happens that a wake source or a due time would not announce, and a
// pass every loop_sleep_ms milliseconds would cost a wake-up of the whole thread
// 200 times a second for nothing (tens of microseconds of CPU each on a
// virtual machine). The loop then waits for its sources alone, looking round
// once a second.
constexpr std::int32_t kRestWaitMs = 1000;

bool at_rest(const Program& c) {
    if (c.autoring->ringer().running() || c.strikes->rows().rows() != 0) return false;
    return !c.strikes->keys().any_pending(c.target.sensors_active());
}

bool events_waiting(const Program& c) {
    return c.sensing.thread_running() && c.event_ring.unread();
}

}  // namespace

void wait_for_next_pass(Program& c) {
    const PassWait w = plan_pass_wait(c, c.clock.elapsed_us());
    c.screen.present();
    WatchLoop& watch = c.strikes->watch();
    watch.port_may_have_byte();  // unless a wait on the port says otherwise
    if (w.yield) {
        c.plat.threads->sleep_ms(0);
        return;
    }
    if (!w.wait) return;
    auto r = c.clock.wait_until_us(w.until_us, w.sources, w.precise);
    if (!r.ok()) {
        // Told once; the loop falls back to sleeping its longest wait.
        if (!c.core.wait_failure_logged) {
            c.core.wait_failure_logged = true;
            c.run_log.write_line("Waiting for events failed, sleeping " + std::to_string(ceiling_ms(c)) +
                               " ms a pass instead: " + r.error());
        }
        c.plat.threads->sleep_ms(ceiling_ms(c));
        return;
    }
    if (r.value().sources & platform::kWakePort)
        watch.byte_arrived(r.value().at);
    else if (w.sources & platform::kWakePort)
        watch.port_quiet();  // the port was watched and nothing came
}

void prepare_service_loop(Program& c) {
    c.plat.wait->watch_port(c.cfg.rest_on_mode ? c.ports.service() : 0);
}

PassWait plan_pass_wait(const Program& c, std::int64_t now_us) {
    PassWait w;
    const std::int32_t ceiling = ceiling_ms(c);
    if (ceiling < 0 || events_waiting(c)) return w;
    if (ceiling == 0) {
        w.yield = true;
        return w;
    }
    w.wait = true;
    w.until_us = now_us + multiply_int64(at_rest(c) ? kRestWaitMs : ceiling, 1000);
    w.sources = platform::kWakeConsole | (c.cfg.rest_on_mode ? platform::kWakePort : platform::kWakeEvent);
    if (c.tower->in_use()) w.sources |= platform::kWakeEvent;  // the link's news
    for (std::int64_t due : {c.key_sender->next_key_due(now_us), c.autoring->ringer().next_beat_due(c.key_sender->has_focus())}) {
        if (due >= 0 && due <= w.until_us) {
            w.until_us = due;
            w.precise = true;
        }
    }
    return w;
}

void main_loop_pass(Program& c) {
    c.ending->end_if_asked();
    check_keys(c);
    if (c.port_watch->watch_once()) c.key_sender->send_due_keys();
    c.tower_line->show();
    wait_for_next_pass(c);
}

}  // namespace qn
