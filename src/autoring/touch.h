// A touch as a method or touch file gives it: its rows, the place notation of
// each change, the calls, and what the block analysis found. Plain data,
// filled by TouchReader (autoring/methodfile.h) and read by the ringer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/settings.h"

namespace qn {

inline constexpr int kMaxPlaceNotations = 20;
inline constexpr int kMaxLeadHeads = 100;
inline constexpr int kRoundsAtStart = 6;
inline constexpr int kRoundsAtEnd = 4;
// The most bells a touch may ring (the symbols 1-9, 0, E, T).
inline constexpr int kMaxAutoBells = 12;
// Rows are numbered as the run log shows them: rows -6..1 are the file's
// first row (the rounds rung before the touch), its next rows follow from 2.
inline constexpr int kFirstRow = -kRoundsAtStart;

// One row of the touch and what the block analysis found at it.
struct TouchRow {
    std::string bells;
    // The places made from the row before ("x": none); a blank for the
    // rounds added before and after the file's rows.
    std::string notation;
    char call = ' ';  // the call key rung with the row, 'P' while unnamed
    bool notation_matched = false;  // the same change as a block earlier
    std::int32_t symmetry = 0;
    std::int32_t symmetry_peak = 0;  // the symmetry where it peaks, else 0
};

// A change found at a call position and the key that calls it.
struct CallType {
    std::string notation;
    char key = ' ';
};

struct Touch {
    // From the first row of rounds before the touch (row number kFirstRow)
    // to the last (row_count); numbered access is through row().
    std::vector<TouchRow> rows;
    std::vector<CallType> call_types;  // at most kMaxPlaceNotations
    // Where in the block the changes differ from a block earlier, as row
    // number modulo the block length; at most kMaxLeadHeads.
    std::vector<std::int32_t> lead_heads;
    std::int32_t row_count = 0;  // the last row's number
    std::int32_t base_length = 0;
    std::int32_t working_bells = 0;
    std::int32_t plain_count = 0;

    static constexpr std::size_t index_of(std::int32_t number) {
        return static_cast<std::size_t>(number - kFirstRow);
    }
    static constexpr std::int32_t number_of(std::size_t index) {
        return static_cast<std::int32_t>(index) + kFirstRow;
    }
    // The rows of rounds rung before the file's first row.
    static constexpr std::size_t rounds_before() { return index_of(1); }

    TouchRow& row(std::int32_t number) { return rows.at(index_of(number)); }
    const TouchRow& row(std::int32_t number) const { return rows.at(index_of(number)); }
    // The driver looks a row or two past the end of the touch; there, and
    // before the first row, there are no bells, no call and no notation.
    const std::string& bells_at(long number) const;
    char call_at(long number) const;
    const std::string& notation_at(long number) const;
};

}  // namespace qn
