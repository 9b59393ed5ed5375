// A whole band on one interface box, marked as a judge marks a band: every
// bell's blows cut into the band's rows, and for each whole pull (a
// handstroke row and the backstroke row after it, one blow's gap before
// each handstroke row) the ideal time of each place is a line through all
// the bells' blows of the pulls around it. Over a tower link the other
// ringers' bells join the rhythm (the whole tower's); each bell's suggested
// delay is still from the band's own rhythm, since the others' rings come
// late by the network's delay.
#pragma once

#include <cstdint>
#include <span>

#include "core/strike_records.h"
#include "striking/analysis.h"
#include "striking/records.h"

namespace qn {

// Fewer bells than this make no rhythm: nothing is timed.
inline constexpr std::int32_t kMinRhythmBells = 3;
// Whole pulls each side of a pull whose blows draw its line: enough to keep
// a bell's steady lateness out of the beat, few enough to follow the speed.
inline constexpr std::int32_t kBandHalfWindowPulls = 3;

// The blows carry their bells: a band's touch.
bool is_band_touch(std::span<const BlowTimed> blows);

// Anyone's band: the blows of bells from 1 (bell 0's are left out), and the
// other ringers heard over a link (a bell of the band heard back is left out).
TouchStriking analyse_band_touch(const StrikingInput& in);

}  // namespace qn
