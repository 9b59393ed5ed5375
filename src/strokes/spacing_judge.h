// The correction of rogue strikes: each strike's interval against the
// average of the touch's intervals so far. Far too short, it is a spurious
// strike (a bounce the window let through, a knock); far too long, a strike
// was missed; longer still, the ringer paused.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "config/settings.h"
#include "core/strike_records.h"

namespace qn {

class SpacingJudge {
public:
    explicit SpacingJudge(const Settings& settings) : settings_(settings) {}

    // The strike at time_ms goes into the history and is judged once the
    // history holds nine. corrected: doubled send is on, so a spurious
    // strike is taken out again (the next interval is measured from the
    // last good strike). A missed strike takes two places, its own and the
    // one missed. The record has the judge's figures; where the strike came
    // from is the caller's to fill in.
    std::optional<SpacingJudged> judge(std::int32_t time_ms, bool corrected);
    // A new touch: no history, no counts, ratios back to 1.
    void restart();

    std::int32_t strikes() const { return count_; }
    double ratio() const { return ratio_; }
    std::int32_t spurious() const { return spurious_; }
    std::int32_t missed() const { return missed_; }

private:
    static constexpr std::int32_t kFirstJudged = 9;
    // One missed strike makes an interval of about two. Two strokes' change
    // of place and a poor blow on top stay under this; a longer gap is a
    // pause, not a missed strike.
    // A bound for missed strikes set higher moves it up with it.
    static constexpr double kPausedRatio = 2.4;
    static constexpr double kPausedBeyondMissed = 0.7;

    void push(std::int32_t time_ms);

    const Settings& settings_;
    std::array<std::int32_t, kMaxRows> times_ms_{};
    std::int32_t count_ = 0;
    double ratio_ = 0;
    double min_ratio_ = 1.0;
    double max_ratio_ = 1.0;
    std::int32_t spurious_ = 0;
    std::int32_t missed_ = 0;
};

}  // namespace qn
