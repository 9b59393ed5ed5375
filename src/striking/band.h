// Over a tower link, the ringer's blows placed in the band's rhythm: the
// other ringers' bells as they arrived and the ringer's own keys are cut
// into rows (each bell once a row), and each of the ringer's blows is timed
// against a line fitted through the other bells' blows of the rows around
// it, with one blow's handstroke gap before each handstroke row. The word
// of another bell comes late by the network's delay, so that delay is in
// the figures.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/strike_records.h"
#include "striking/records.h"

namespace qn {

struct BandFit {
    std::int32_t placed = 0;  // blows of the ringer timed
    std::int32_t bells = 0;
    double blow_ms = 0;
};

// Too few other bells (or rings) make no band: nothing is placed.
inline constexpr std::int32_t kMinBandBells = 3;

// Sets each placed blow's ideal time, error, stroke, place and the bell it
// followed; the others are left untimed.
BandFit time_against_band(std::vector<BlowFigures>& list, std::span<const BellHeard> heard);

}  // namespace qn
