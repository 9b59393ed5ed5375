// Band mode: every bell of a multi-bell interface box, each bell its own
// strike path (bounce window, stroke, spacing judge, made-up strikes, key
// queue and event log), and the band's rows counted on the row counter the
// service screen shows. A character of one bell never costs another bell's
// strike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "config/settings.h"
#include "core/strike_records.h"
#include "core/timing.h"
#include "config/current_target.h"
#include "strokes/counter.h"
#include "strokes/strike_path.h"

namespace qn {

// One bell's report: its records carry its number, and its own row counter
// stays quiet (the band counts the rows).
class BellReport : public StrikeReport {
public:
    BellReport(std::int32_t bell, StrikeReport& band) : bell_(bell), band_(band) {}
    void signal_taken(const SignalTaken& r) override { band_.signal_taken(r); }
    void events_clashed(const EventsClashed& r) override { band_.events_clashed(r); }
    void spacing_judged(const SpacingJudged& r) override;
    void key_queued(const KeyQueued& r) override { band_.key_queued(r); }
    void blow_timed(const BlowTimed& r) override;
    void output_list_full(const OutputListFull& r) override { band_.output_list_full(r); }
    void touch_ended(const TouchEnded& r) override;

private:
    std::int32_t bell_;
    StrikeReport& band_;
};

// The key of bell n in a ringing program's page: 1-9, 0, then - and = for
// the eleventh and twelfth (the box's character beyond).
char band_bell_key(int bell);
// The bells band mode rings as the settings stand (empty: band mode off, or
// no interface box).
std::vector<int> band_bells(const Settings& settings);

struct BandBell {
    BandBell(int bell, const Settings& settings, const CurrentTarget& target, const RunClock& clock,
             StrikeReport& report);

    int number;            // from 1, as the box numbers it
    CurrentTarget target;  // the program's target with one sensing point: this bell's key and delays
    BellReport report;
    StrikePath path;
};

class Band {
public:
    Band(const Settings& settings, const RunClock& clock, StrikeReport& report, RowCounter& rows)
        : settings_(settings), clock_(clock), report_(report), rows_(rows) {}

    // A path for each bell rung in the tower (settings.band), its key sent
    // to the target given; none when band mode is off.
    void set_up(const CurrentTarget& target);
    bool on() const { return !bells_.empty(); }
    std::size_t size() const { return bells_.size(); }
    BandBell& bell(std::size_t i) { return *bells_[i]; }
    const BandBell& bell(std::size_t i) const { return *bells_[i]; }
    // The index of bell number n (none: not in the band).
    std::optional<std::size_t> index_of(int number) const;

    // A character of the box at at_us: the index of the bell whose strike it
    // is, past that bell's bounce window; none otherwise.
    std::optional<std::size_t> take_char(char ch, std::int64_t at_us);
    // Bell i's signal has been through its path: the band's row counts.
    void count_blow(std::size_t i);

    // When the band's last signal came; whether any bell's list is full.
    std::int64_t last_signal_us() const;
    bool outputs_full() const;
    bool any_pending() const;
    void log_touch(TouchEnd why);
    void restart_touch(std::int64_t now_us);

private:
    const Settings& settings_;
    const RunClock& clock_;
    StrikeReport& report_;
    RowCounter& rows_;
    std::vector<std::unique_ptr<BandBell>> bells_;
    std::int64_t blows_ = 0;  // this touch's, a missed blow made up counting two
};

}  // namespace qn
