// The strike path's state, one owner per piece: the watch loop, the spacing
// judge, the key queue and the row counter, and the steps that take one
// signal through them. What it decides goes to a StrikeReport; it draws
// nothing and writes no log.
#pragma once

#include <cstdint>

#include "config/settings.h"
#include "core/timing.h"
#include "config/current_target.h"
#include "core/strike_records.h"
#include "strokes/counter.h"
#include "strokes/key_queue.h"
#include "strokes/spacing_judge.h"
#include "strokes/watchports.h"

namespace qn {

class StrikePath {
public:
    StrikePath(const Settings& settings, const CurrentTarget& target, const RunClock& timing,
               StrikeReport& report);

    WatchLoop& watch() { return watch_; }
    const WatchLoop& watch() const { return watch_; }
    const SpacingJudge& judge() const { return judge_; }
    KeyQueue& keys() { return keys_; }
    const KeyQueue& keys() const { return keys_; }
    RowCounter& rows() { return rows_; }
    const RowCounter& rows() const { return rows_; }

    // One signal, a strike of the sensor whose turn it is in the cycle of
    // sensors. Each sensing point on that sensor gets its key queued
    // (queue_key is true when the key is due at once); the row counts on
    // the first point's.
    void begin_signal();
    std::int32_t points() const;
    bool signal_reaches(std::int32_t point) const;
    bool queue_key(std::int32_t point);
    void end_signal();

    // How the last signal's first sensing point was judged.
    Spacing last_spacing() const { return first_point_spacing_; }

    // The sensor whose signal came last (0: the cycle starts again).
    std::int32_t cycle_position() const { return cycle_; }
    void restart_cycle() { cycle_ = 0; }
    // When the last signal was processed: a pause after it ends the touch.
    std::int64_t last_signal_us() const { return last_signal_us_; }

    // The touch's event log is due; after a pause or a full list the list
    // is emptied for what follows.
    void log_touch(TouchEnd why);
    // A pause: the next signal starts a new touch.
    void restart_touch(std::int64_t now_us);

private:
    Spacing judge_spacing(std::int32_t point);
    std::int32_t delay_ms(std::int32_t point) const;

    const Settings& settings_;
    const CurrentTarget& target_;
    const RunClock& timing_;
    StrikeReport& report_;
    WatchLoop watch_;
    SpacingJudge judge_;
    KeyQueue keys_;
    RowCounter rows_;
    std::int32_t cycle_ = 0;
    Spacing first_point_spacing_ = Spacing::Normal;
    std::int64_t processed_us_ = 0;  // when the signal's latest point was processed
    std::int64_t last_signal_us_ = 0;
    bool output_list_full_reported_ = false;
    std::int32_t keys_lost_ = 0;  // to a signal that came before the key was due, this touch
    std::int64_t last_event_us_ = -1;  // the last signal's event time (-1: none this touch)
};

}  // namespace qn
