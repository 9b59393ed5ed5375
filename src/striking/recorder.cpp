#include "striking/recorder.h"

#include <algorithm>

#include "core/context.h"
#include "striking/analysis.h"

namespace qn {

namespace {

// Room for a peal and more, taken once: a blow costs no allocation. A
// longer touch keeps its first blows; beats rung while nobody rings keep
// their newest.
constexpr std::size_t kMaxKept = 2 * kMaxRows;

}  // namespace

StrikingRecorder::StrikingRecorder() {
    blows_.reserve(kMaxKept);
    beats_.reserve(kMaxKept);
}

void StrikingRecorder::blow_timed(const BlowTimed& r) {
    if (r.point == 0 && blows_.size() < kMaxKept) blows_.push_back(r);
}

void StrikingRecorder::ringer_beat(const RingerBeat& r) {
    if (beats_.size() == kMaxKept) beats_.erase(beats_.begin(), beats_.begin() + kMaxKept / 2);
    beats_.push_back(r);
}

// A full output list does not end the touch's ringing; the other ends do.
void StrikingRecorder::touch_ended(const TouchEnded& r) {
    if (r.why == TouchEnd::ListFull || blows_.empty()) return;
    StrikingInput in{blows_, beats_, ++touches_, r.why};
    auto t = std::make_unique<TouchStriking>(analyse_touch(in));
    blows_.clear();
    beats_.clear();
    if (t->blows < kMinReportBlows) return;
    last_ = std::move(t);
    observers_.touch_striking(*last_);
}

}  // namespace qn
