#include "service/band.h"

#include <array>
#include <set>

#include "autoring/automatic_ringing.h"
#include "config/bounds.h"
#include "config/configfile.h"
#include "core/text.h"
#include "keyout/dispatch.h"
#include "link/tower.h"
#include "serial/ports.h"
#include "serial/sensing.h"
#include "service/program.h"
#include "service/tower_ring.h"
#include "striking/analysis.h"
#include "striking/recorder.h"
#include "strokes/band.h"
#include "strokes/strike_path.h"

namespace qn {

namespace {

std::string bell_list(const Band& band) {
    std::string t;
    for (std::size_t i = 0; i < band.size(); ++i) t += (i ? " " : "") + str(band.bell(i).number);
    return t;
}

bool any_bell_rung(const BandSettings& band) {
    for (int n = 1; n <= kMaxBandBells; ++n)
        if (band.bell(n).rung) return true;
    return false;
}

// The first run of band mode: the ringers ring each bell hand and back
// while the box's characters are counted; the bells heard are the band.
// A bell below the highest heard that never spoke is left out, and said so.
void find_live_bells(Program& program) {
    program.console.clear(Area::Scratch);
    program.screen.write_line("Band mode: which bells ring? Ring each bell once at hand and back,");
    program.screen.write_line("then press a key");
    std::array<std::int32_t, kMaxBandBells + 1> heard{};
    DataPortReader& reader = program.sensing.data_reader();
    for (;;) {
        char ch = '\0';
        while (reader.read(&ch) > 0) ++heard[static_cast<std::size_t>(program.cfg.band.bell_of(ch))];
        if (program.console.key_if_any() != 0) break;
        program.console.wait_key_ms(5);
    }
    std::string rung, silent;
    int highest = 0;
    for (int n = 1; n <= kMaxBandBells; ++n)
        if (heard[static_cast<std::size_t>(n)] > 0) highest = n;
    for (int n = 1; n <= highest; ++n) {
        const bool spoke = heard[static_cast<std::size_t>(n)] > 0;
        program.cfg.band.bell(n).rung = spoke;
        (spoke ? rung : silent) += " " + str(n);
    }
    if (rung.empty()) {
        program.screen.write_line("No bell was heard: band mode waits for the next start");
        program.run_log.write_line("Band mode: no bell of the box was heard");
        return;
    }
    const std::string line = "Band mode: bells" + rung + " heard" +
                             (silent.empty() ? std::string() : "; bells" + silent + " never spoke and are left out");
    program.screen.write_line(line);
    program.run_log.write_line(line);
    if (program.settings_file->write(program.cfg, program.target.table())) program.screen.write_line("The band is kept in the settings file");
}

}  // namespace

void set_up_band(Program& program) {
    if (program.cfg.band.on && program.cfg.rest_on_mode && !any_bell_rung(program.cfg.band)) find_live_bells(program);
    program.band->set_up(program.target);
    program.band_senders.clear();
    std::set<std::int32_t> rung;
    for (std::size_t i = 0; i < program.band->size(); ++i) rung.insert(program.band->bell(i).number);
    program.autoring->ringer().leave_to_band(std::move(rung));
    program.band_rings.clear();
    if (!program.band->on()) {
        if (program.cfg.band.on)
            program.run_log.write_line(program.cfg.rest_on_mode ? "Band mode is on but no bell is set to ring (bandbell_N=1)"
                                                    : "Band mode needs an interface box (data mode): one bell rings");
        return;
    }
    for (std::size_t i = 0; i < program.band->size(); ++i) {
        BandBell& b = program.band->bell(i);
        program.band_rings.push_back(make_band_ring(program, b.number, b.path.keys()));
        program.band_senders.push_back(std::make_unique<KeySender>(program.cfg, program.clock, program.dialog, program.delivery_report,
                                                             *program.plat.windows, b.target, program.target_window, program.key_typer,
                                                             b.path.keys(), *program.band_rings.back()));
        program.band_senders.back()->queue_made_up_keys();
    }
    hand_band_to_link(program, band_bells(program.cfg));
    const std::string line = "Band mode: bells " + bell_list(*program.band) + " of the box ring, " +
                             (program.tower->in_use() ? "each as itself over the tower link" : "each on its number key");
    program.run_log.write_line(line);
    for (std::size_t i = 0; i < program.band->size(); ++i) {
        const BandBell& b = program.band->bell(i);
        const BandBellSetting& s = program.cfg.band.bell(b.number);
        program.run_log.write_line(" bell " + str(b.number) + ": character " + std::string(1, s.box_char) + ", key " +
                             std::string(1, band_bell_key(b.number)) + ", delays " + str(s.hand_delay_ms) + "/" +
                             str(s.back_delay_ms) + " ms");
    }
}

void take_band_signal(Program& program, std::size_t i) {
    StrikePath& path = program.band->bell(i).path;
    KeySender& sender = *program.band_senders[i];
    sender.send_made_up_key_now();  // its place in the queue is this strike's
    path.begin_signal();
    if (path.signal_reaches(0)) {
        const bool due_now = path.queue_key(0);
        // Handed to the link at once, to go ahead of its due time.
        if (program.tower->in_use()) program.tower->ring_bell_ahead(program.band->bell(i).number, path.keys().due_us(0));
        if (due_now) sender.send_due_keys();
    }
    path.end_signal();
    program.band->count_blow(i);
}

void send_band_keys(Program& program) {
    for (auto& s : program.band_senders) s->send_due_keys();
}

std::int64_t next_band_key_due(const Program& program, std::int64_t now_us) {
    std::int64_t next = -1;
    for (const auto& s : program.band_senders) {
        const std::int64_t due = s->next_key_due(now_us);
        if (due >= 0 && (next < 0 || due < next)) next = due;
    }
    return next;
}

void set_band_stroke(Program& program, bool hand) {
    program.screen.write("Which bell (" + bell_list(*program.band) + ")? ");
    const std::int32_t n = program.dialog.read_int();
    const std::optional<std::size_t> i = program.band->index_of(n);
    if (!i) {
        program.screen.write_line("Bell " + str(n) + " is not in the band: no stroke set");
        return;
    }
    program.band->bell(*i).path.keys().set_handstroke(hand);
    program.screen.write_line("Bell " + str(n) + (hand ? " now set at handstroke" : " now set at backstroke"));
}

// Each bell's change moves its delays as the delay keys would, within
// their range, into the settings and the bell's path.
void take_band_delays(Program& program) {
    const TouchStriking* t = program.striking ? program.striking->last() : nullptr;
    if (!t || t->band_bells.empty()) {
        program.screen.write_line("No delay to take: the band's striking report has not come yet");
        return;
    }
    std::string taken;
    for (const BellStriking& s : t->band_bells) {
        const std::optional<std::size_t> i = program.band->index_of(s.bell);
        if (!i || !s.delay.offered) continue;
        BandBellSetting& set = program.cfg.band.bell(s.bell);
        SensingPoint& p = program.band->bell(*i).target.point(0);
        set.hand_delay_ms = p.hand_delay_ms =
            stepped_key_delay(p.hand_delay_ms, suggested_hand_delay(s.delay) - s.delay.hand_delay_ms);
        set.back_delay_ms = p.back_delay_ms =
            stepped_key_delay(p.back_delay_ms, suggested_back_delay(s.delay) - s.delay.back_delay_ms);
        taken += " " + str(s.bell) + ":" + str(p.hand_delay_ms) + "/" + str(p.back_delay_ms);
    }
    if (taken.empty()) {
        program.screen.write_line("No delay to take: the report suggests none for the band's bells");
        return;
    }
    program.screen.write_line("Delays taken (bell:hand/back ms)" + taken);
    program.run_log.write_line("Key delays taken from the striking report of touch " + str(t->touch) + ", bell:hand/back" +
                         taken);
    if (program.settings_file->write(program.cfg, program.target.table())) program.screen.write_line("Kept in the settings file");
}

}  // namespace qn
