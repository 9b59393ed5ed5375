// The ringer's own rhythm, for ringing with no beat to time it against:
// at each blow a whole pull and a handstroke-to-backstroke interval are
// fitted by weighted least squares to the blows on either side of it (not
// the blow itself), as a ringing bot fits a band's rhythm, and the blow is
// timed against where that rhythm puts it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qn {

struct RhythmBlow {
    std::int32_t k = 0;     // the blow's number from the touch's first handstroke: even at handstroke
    std::int64_t at_us = 0;
};

struct RhythmFit {
    bool fitted = false;     // too few blows of either stroke around it
    double ideal_us = 0;     // where the rhythm of the blows around puts it
    double error_us = 0;     // the blow less that, scaled so its spread is the ringer's (see rhythm.cpp)
    double whole_pull_us = 0;
    double hand_to_back_us = 0;
};

inline constexpr int kRhythmHalfWindow = 16;  // blows on each side

// One fit per blow, blows in order of k.
std::vector<RhythmFit> fit_rhythm(std::span<const RhythmBlow> blows, int half_window = kRhythmHalfWindow);

}  // namespace qn
