// The figures a touch's analysis makes of timed blows, shared by the one
// ringer's analysis and the band's.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/strike_records.h"
#include "striking/records.h"

namespace qn {

// Blows numbered as the row counter numbers them (a missed blow counts, a
// spurious strike keeps the number before it and is not timed); counts the
// touch's spurious and missed strikes.
std::vector<BlowFigures> numbered_blows(std::span<const BlowTimed> blows, TouchStriking& t);

// The touch's all/hand/back figures, histogram and worst blows from its
// timed blows (error_pct set from blow_ms).
void touch_blow_figures(TouchStriking& t);

// Figures of the timed blows grouped by a key, in order of the key.
std::vector<GroupFigures> grouped_figures(const std::vector<BlowFigures>& list,
                                          std::int32_t BlowFigures::*key);

// The delays in force and the change that centres the timed blows, by the
// stroke the program took each for; not offered with too few blows.
DelaySuggestion delay_suggestion(const std::vector<BlowFigures>& list);

}  // namespace qn
