#include "strokes/counter.h"

#include "core/timing.h"

namespace qn {

// The row counter follows the rows rung. Counting the signals instead left
// a peal of 5040 rows showing 5040 plus the spurious strikes less the missed
// ones.
void RowCounter::count(Spacing spacing, bool corrected) {
    if (corrected && spacing == Spacing::Spurious) return;
    rows_ += corrected && spacing == Spacing::Missed ? 2 : 1;
    report_.row_counted(RowCounted{rows_});
    if (rows_ == 1) tick();
}

void RowCounter::tick() {
    now_ms_ = timing_.elapsed_ms();
    if (rows_ > 1) return;
    first_ms_ = now_ms_;
    report_.touch_started(TouchStarted{first_ms_});
}

}  // namespace qn
