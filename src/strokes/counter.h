// The row counter and the touch's clock.
#pragma once

#include <cstdint>

#include "core/strike_records.h"

namespace qn {

struct RunClock;

class RowCounter {
public:
    RowCounter(const RunClock& timing, StrikeReport& report) : timing_(timing), report_(report) {}

    // A signal of the first sensing point, as its spacing was judged. With
    // the correction of rogue strikes on (corrected), a spurious strike is
    // no row and a missed one, made up with a doubled key, is two. The
    // first row starts the touch.
    void count(Spacing spacing, bool corrected);
    // The touch's figures brought up to now: its duration runs to this
    // moment, and while it has at most one row it starts from it, so a
    // touch is timed from the moment its first row is shown.
    void tick();
    void zero() { rows_ = 0; }

    std::int32_t rows() const { return rows_; }
    std::int64_t first_ms() const { return first_ms_; }
    std::int64_t now_ms() const { return now_ms_; }

private:
    const RunClock& timing_;
    StrikeReport& report_;
    std::int32_t rows_ = 0;
    std::int64_t first_ms_ = 0;
    std::int64_t now_ms_ = 0;
};

}  // namespace qn
