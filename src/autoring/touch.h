// A touch as a method or touch file gives it: its rows, the place notation of
// each change, the calls, and what the block analysis found. Plain data,
// filled by TouchReader (autoring/methodfile.h) and read by the ringer.
#pragma once

#include <cstdint>
#include <string>

#include "core/arr.h"

namespace qn {

inline constexpr int kMaxRows = 6000;
inline constexpr int kMaxPlaceNotations = 20;
inline constexpr int kMaxLeadHeads = 100;
inline constexpr int kRoundsAtStart = 6;
inline constexpr int kRoundsAtEnd = 4;
// The most bells a touch may ring (the symbols 1-9, 0, E, T).
inline constexpr int kMaxAutoBells = 12;
// Rows are numbered as the run log shows them: rows -6..1 are the file's
// first row (the rounds rung before the touch), its next rows follow from 2.
inline constexpr int kFirstRow = -kRoundsAtStart;

struct Touch {
    Arr<std::string, kFirstRow, kMaxRows> rows;
    Arr<std::string, kFirstRow, kMaxRows> notations;
    Arr<char, kFirstRow, kMaxRows> calls;
    Arr<bool, kFirstRow, kMaxRows> notation_matched;
    Arr<std::int32_t, kFirstRow, kMaxRows> symmetry;
    Arr<std::int32_t, kFirstRow, kMaxRows> symmetry_max;
    Arr<std::string, 1, kMaxPlaceNotations> notation_list;
    Arr<char, 1, kMaxPlaceNotations> call_list;
    Arr<std::int32_t, 1, kMaxLeadHeads> lead_heads;
    std::int32_t row_count = 0;
    std::int32_t base_length = 0;
    std::int32_t working_bells = 0;
    std::int32_t notation_count = 0;
    std::int32_t pattern_count = 0;
    std::int32_t plain_count = 0;

    // The driver looks a row or two past the end of the touch; there, and
    // past the table, there are no bells and no calls.
    const std::string& row_at(long i) const;
    char call_at(long i) const { return decltype(calls)::in_range(i) ? calls[i] : ' '; }
    // The notation beyond the table reads as empty, as the rows after row_count do.
    const std::string& notation_at(long i) const;
};

}  // namespace qn
