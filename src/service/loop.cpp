#include "service/loop.h"

#include "autoring/automatic_ringing.h"
#include "service/run_end.h"
#include "service/program.h"
#include "core/timing.h"
#include "keyout/dispatch.h"
#include "link/tower.h"
#include "serial/sensing.h"
#include "strokes/watchports.h"
#include "service/band.h"
#include "service/keycheck.h"
#include "strokes/band.h"
#include "strokes/strike_path.h"
#include "ui/tower_line.h"

namespace qn {

namespace {

// The longest one pass may wait. Data mode always waited a millisecond
// for its byte; now the byte itself wakes the loop, so loop_sleep_ms holds
// there too, but never less than that millisecond.
std::int32_t ceiling_ms(const Program& program) {
    if (program.cfg.rest_on_mode) return program.cfg.loop_sleep_ms > 1 ? program.cfg.loop_sleep_ms : 1;
    return program.cfg.loop_sleep_ms;
}

// At rest (no touch being counted, no key waiting, no automatic ringing)
// nothing happens that a wake source or a due time would not announce, and a
// pass every loop_sleep_ms milliseconds would cost a wake-up of the whole thread
// 200 times a second for nothing (tens of microseconds of CPU each on a
// virtual machine). The loop then waits for its sources alone, looking round
// once a second.
constexpr std::int32_t kRestWaitMs = 1000;

bool at_rest(const Program& program) {
    if (program.autoring->ringer().running() || program.strikes->rows().rows() != 0) return false;
    return !program.strikes->keys().any_pending(program.target.sensors_active()) && !program.band->any_pending();
}

bool events_waiting(const Program& program) {
    return program.sensing.thread_running() && program.event_ring.unread();
}

}  // namespace

void wait_for_next_pass(Program& program) {
    const PassWait w = plan_pass_wait(program, program.clock.elapsed_us());
    program.screen.present();
    WatchLoop& watch = program.strikes->watch();
    watch.port_may_have_byte();  // unless a wait on the port says otherwise
    if (w.yield) {
        program.plat.threads->sleep_ms(0);
        return;
    }
    if (!w.wait) return;
    auto r = program.clock.wait_until_us(w.until_us, w.sources, w.precise);
    if (!r.ok()) {
        // Told once; the loop falls back to sleeping its longest wait.
        if (!program.core.wait_failure_logged) {
            program.core.wait_failure_logged = true;
            program.run_log.write_line("Waiting for events failed, sleeping " + std::to_string(ceiling_ms(program)) +
                               " ms a pass instead: " + r.error());
        }
        program.plat.threads->sleep_ms(ceiling_ms(program));
        return;
    }
    if (r.value().sources & platform::kWakePort)
        watch.byte_arrived(r.value().at);
    else if (w.sources & platform::kWakePort)
        watch.port_quiet();  // the port was watched and nothing came
}

void prepare_service_loop(Program& program) {
    program.plat.wait->watch_port(program.cfg.rest_on_mode ? program.ports.service() : 0);
}

PassWait plan_pass_wait(const Program& program, std::int64_t now_us) {
    PassWait w;
    const std::int32_t ceiling = ceiling_ms(program);
    if (ceiling < 0 || events_waiting(program)) return w;
    if (ceiling == 0) {
        w.yield = true;
        return w;
    }
    w.wait = true;
    w.until_us = now_us + multiply_int64(at_rest(program) ? kRestWaitMs : ceiling, 1000);
    w.sources = platform::kWakeConsole | (program.cfg.rest_on_mode ? platform::kWakePort : platform::kWakeEvent);
    if (program.tower->in_use()) w.sources |= platform::kWakeEvent;  // the link's news
    for (std::int64_t due : {program.key_sender->next_key_due(now_us), next_band_key_due(program, now_us),
                             program.autoring->ringer().next_beat_due(program.key_sender->has_focus())}) {
        if (due >= 0 && due <= w.until_us) {
            w.until_us = due;
            w.precise = true;
        }
    }
    return w;
}

void main_loop_pass(Program& program) {
    program.ending->end_if_asked();
    check_keys(program);
    if (program.port_watch->watch_once()) {
        program.key_sender->send_due_keys();
        send_band_keys(program);
    }
    program.tower_line->show();
    wait_for_next_pass(program);
}

}  // namespace qn
