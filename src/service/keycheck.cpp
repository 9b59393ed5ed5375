#include "service/keycheck.h"

#include "autoring/automatic_ringing.h"
#include "config/bounds.h"
#include "config/configfile.h"
#include "service/band.h"
#include "ui/service_screen.h"
#include "service/program.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/dispatch.h"
#include "keyout/keysending.h"
#include "keyout/menus.h"
#include "keyout/targets.h"
#include "link/tower.h"
#include "striking/analysis.h"
#include "striking/recorder.h"
#include "strokes/band.h"
#include "strokes/strike_path.h"

namespace qn {

namespace {

constexpr std::int64_t kPauseMicro = 6000000;

bool is_command(char ch) {
    switch (ch) {
    case 27: case '+': case '-': case '0': case '<': case '>': case 'A': case 'B':
    case 'C': case 'H': case 'K': case 'N': case 'P': case 'Q': case 'Z':
        return true;
    default:
        return false;
    }
}

void show_delays(Program& program) {
    const CurrentTarget& t = program.target;
    for (std::int32_t i = 0; i < t.sensors_active() && i < kMaxSensors; ++i) {
        program.console.clear(Area::Scratch);
        program.screen.write_line("Handstroke key delay now " + str(t.point(i).hand_delay_ms));
        program.screen.write_line("Backstroke key delay now " + str(t.point(i).back_delay_ms));
    }
}

void change_delays(Program& program, bool hand, std::int32_t step) {
    CurrentTarget& t = program.target;
    bool cut = false;
    auto move = [&](std::int32_t& delay) {
        const std::int32_t moved = stepped_key_delay(delay, step);
        cut |= moved != std::int64_t{delay} + step;
        delay = moved;
    };
    for (std::int32_t i = 0; i < t.sensors_active() && i < kMaxSensors; ++i) {
        SensingPoint& p = t.point(i);
        if (hand) move(p.hand_delay_ms);
        move(p.back_delay_ms);
    }
    show_delays(program);
    if (cut)
        program.screen.write_line("Key delays stay within " + range_text(program.cfg, *setting_range("keydelayhand")) + " ms");
}

// K: the delays the last striking report suggested, for every sensing point
// of the current target (moved as the delay keys move them), and into the
// settings file, so that the next run starts with them. Only when asked.
void take_suggested_delays(Program& program) {
    const TouchStriking* t = program.striking ? program.striking->last() : nullptr;
    if (!t || !t->delay.offered) {
        program.screen.write_line("No delay to take: only a touch rung with automatic ringing suggests one");
        return;
    }
    CurrentTarget& k = program.target;
    if (k.sensors_active() < 1) return;
    const std::int32_t hand_step = suggested_hand_delay(t->delay) - k.point(0).hand_delay_ms;
    const std::int32_t back_step = suggested_back_delay(t->delay) - k.point(0).back_delay_ms;
    for (std::int32_t i = 0; i < k.sensors_active() && i < kMaxSensors; ++i) {
        SensingPoint& p = k.point(i);
        p.hand_delay_ms = stepped_key_delay(p.hand_delay_ms, hand_step);
        p.back_delay_ms = stepped_key_delay(p.back_delay_ms, back_step);
        k.entry().points[static_cast<std::size_t>(i)].hand_delay_ms = p.hand_delay_ms;
        k.entry().points[static_cast<std::size_t>(i)].back_delay_ms = p.back_delay_ms;
    }
    show_delays(program);
    program.run_log.write_line("Key delays taken from the striking report of touch " + str(t->touch) + ": handstroke " +
                         str(k.point(0).hand_delay_ms) + ", backstroke " + str(k.point(0).back_delay_ms));
    if (program.settings_file->write(program.cfg, k.table())) program.screen.write_line("Taken from the striking report and kept in the settings file");
}

// The target must hold the focus before the other bells start: "A" was
// typed in this console, so for a target reached by typing into the window
// in front the real foreground window is what counts, whatever the last key
// found. Key dispatch is not running meanwhile, so the foreground is looked
// at every 100 ms; any key but Q (which quits) gives up the start. Targets
// reached by window messages need no focus.
bool target_in_front(Program& program, const std::string& target) {
    WindowHandle f = program.plat.windows->foreground();
    if (f == 0 || (f != program.target_window.handle() &&
                   program.plat.windows->window_text(f, 256).find(target) == std::string::npos))
        return false;
    program.target_window.set_handle(f);
    if (!program.key_sender->has_focus()) {
        program.key_sender->set_focus(true);
        program.service_screen->mark_stale();
        program.run_log.write_line("Recovered from loss of focus");
    }
    return true;
}

bool wait_for_target_focus(Program& program) {
    const CurrentTarget& k = program.target;
    if (!k.restricted() || target_driver(k).route != KeyRoute::FocusedWindow || program.tower->in_use())
        return true;
    const std::string target = underscores_to_spaces(k.entry().window_name);
    if (target_in_front(program, target)) return true;
    program.screen.write_line("Waiting for the target window to have the focus - press a key to cancel");
    for (;;) {
        if (target_in_front(program, target)) return true;
        if (program.console.key_if_any() != 0) return false;
        program.console.wait_key_ms(100);
    }
}

void automatic_ringing(Program& program, char key) {
    AutoRinger& a = program.autoring->ringer();
    program.console.clear(Area::Scratch);
    if (key == 'Z' || (key == 'A' && !a.is_set_up())) {
        if (key == 'A') program.screen.write_line("Setting up configuration first");
        if (!set_up_autoring(program)) a.forget_set_up();
        a.rewind_for_first_start();
    }
    if (key != 'A' || !a.is_set_up()) return;
    if (a.toggle()) {
        program.screen.write_line("Automated ringing started");
        if (!wait_for_target_focus(program)) {
            a.stop();
            program.screen.write_line("Automated ringing not started");
            return;
        }
        a.export_key('l');
        program.console.pause_ms(4000);
    } else {
        program.console.clear(Area::Scratch);
        program.screen.write_line("Automated ringing ended");
        a.rewind();
    }
}

void pause_check(Program& program) {
    program.console.select(Area::Full);
    const std::int64_t last_us = program.band->on() ? program.band->last_signal_us() : program.strikes->last_signal_us();
    const bool full = program.band->on() ? program.band->outputs_full() : program.strikes->keys().outputs_full();
    const bool pause = program.clock.elapsed_us() - last_us > kPauseMicro;
    if (pause || full) end_touch(program, pause);
}

}  // namespace

bool set_up_autoring(Program& program) {
    const std::uint8_t target = target_index_of(program.target, program.cfg.target_program);
    const bool ringing_room = program.target.table()[target].window_name.rfind("Ringing Room", 0) == 0;
    if (!program.autoring->set_up(program.core.folders.libraries, ringing_room)) return false;
    const std::set<std::int32_t>& band = program.autoring->ringer().band_bells();
    if (!band.empty()) {
        std::string bells;
        for (std::int32_t b : band) bells += " " + str(b);
        const std::string line = "Band mode: bells" + bells + " are rung in the tower; automatic ringing rings none of them";
        program.screen.write_line(line);
        program.run_log.write_line(line);
    }
    return true;
}

void end_touch(Program& program, bool pause) {
    StrikePath& strikes = *program.strikes;
    if (strikes.rows().rows() == 0 || program.autoring->ringer().running()) return;
    if (program.band->on()) {
        program.band->log_touch(pause ? TouchEnd::Pause : TouchEnd::ListFull);
        program.console.pause_ms(1);
        if (pause) program.band->restart_touch(program.clock.elapsed_us());
        strikes.rows().zero();
        return;
    }
    if (strikes.keys().outputs_full() || pause) {
        strikes.log_touch(pause ? TouchEnd::Pause : TouchEnd::ListFull);
        program.console.pause_ms(1);
    }
    if (pause) strikes.restart_touch(program.clock.elapsed_us());
}

void do_command(Program& program, char key) {
    StrikePath& strikes = *program.strikes;
    switch (key) {
    case 'H':
        if (program.band->on()) {
            set_band_stroke(program, true);
            break;
        }
        strikes.keys().set_handstroke(true);
        program.screen.write_line("Now Set at handstroke");
        break;
    case 'B':
        if (program.band->on()) {
            set_band_stroke(program, false);
            break;
        }
        strikes.keys().set_handstroke(false);
        program.screen.write_line("Now Set at backstroke");
        break;
    case 'K':
        if (program.band->on())
            take_band_delays(program);
        else
            take_suggested_delays(program);
        break;
    case '+': change_delays(program, true, 20); break;
    case '-': change_delays(program, true, -20); break;
    case '<': change_delays(program, false, 20); break;
    case '>': change_delays(program, false, -20); break;
    case 'N':
        program.console.clear(Area::Scratch);
        program.cfg.big_numbers = !program.cfg.big_numbers;
        strikes.rows().zero();
        program.service_screen->mark_stale();
        program.screen.write_line(program.cfg.big_numbers ? "big counter numbers ON" : "big counter numbers OFF");
        break;
    case '0':
        strikes.rows().zero();
        program.screen.write_line("Counter set to zero");
        break;
    case 'C':
        program.configuration_menu->run();
        program.service_screen->update();
        break;
    case 'P':
        program.console.clear(Area::Scratch);
        choose_target(program.cfg, program.target, *program.plat.windows, program.dialog, program.delivery_report, *program.tower_ring);
        program.console.select(Area::Full);
        program.screen.move_to(1, kScratchFirstLine);
        program.screen.write("Program " + program.cfg.target_program + " selected");
        program.screen.clear_to_line_end();  // the rest of the menu's line it is written over
        break;
    case 'A':
    case 'Z': automatic_ringing(program, key); break;
    default: break;  // Q and Esc have ended the program in the key read
    }
}

void check_keys(Program& program) {
    if (program.autoring->ringer().step(program.key_sender->has_focus()) == 'A') automatic_ringing(program, 'A');
    if (program.striking) program.striking->tell_finished();  // a touch's report, once it is ready
    if (program.plat.console->key_waiting()) {
        char key = upper(program.console.wait_key());
        if (!is_command(key)) return;  // dropped, and no pause check this pass
        if (program.cfg.big_numbers) {
            program.service_screen->mark_stale();
            program.service_screen->write_menu();
        }
        program.console.clear(Area::Scratch);
        do_command(program, key);
    }
    pause_check(program);
}

}  // namespace qn
