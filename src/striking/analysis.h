// The striking of one touch from the strike path's records: each of the
// ringer's blows timed against where it belonged (the automatic bells'
// beat, else the ringer's own rhythm), and the touch's figures.
#pragma once

#include <cstdint>
#include <span>

#include "core/strike_records.h"
#include "striking/records.h"

namespace qn {

struct StrikingInput {
    std::span<const BlowTimed> blows;   // the first sensing point's, in order
    std::span<const RingerBeat> beats;  // automatic ringing's, in order; may start before the blows
    std::span<const BellHeard> heard;   // other ringers' over a tower link, in order
    std::int32_t touch = 0;
    TouchEnd why = TouchEnd::Pause;
};

// Fewer blows than this make no report: their spread would say little.
inline constexpr std::int32_t kMinReportBlows = 48;
// Strokes with fewer timed blows than this get no suggested delay.
inline constexpr std::int32_t kMinSuggestionBlows = 8;

TouchStriking analyse_touch(const StrikingInput& in);

// The key delays the suggestion gives, kept within the delays' range as the
// delay keys keep them.
std::int32_t suggested_hand_delay(const DelaySuggestion& d);
std::int32_t suggested_back_delay(const DelaySuggestion& d);

}  // namespace qn
