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
// Every other bell of a band of eight through a peal.
constexpr std::size_t kMaxHeard = 8 * kMaxRows;

template <class Record>
void keep_newest(std::vector<Record>& v, const Record& r, std::size_t most) {
    if (v.size() == most) v.erase(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(most / 2));
    v.push_back(r);
}

}  // namespace

StrikingRecorder::StrikingRecorder() {
    blows_.reserve(kMaxKept);
    beats_.reserve(kMaxKept);
}

void StrikingRecorder::blow_timed(const BlowTimed& r) {
    if (r.point == 0 && blows_.size() < kMaxKept) blows_.push_back(r);
}

void StrikingRecorder::ringer_beat(const RingerBeat& r) { keep_newest(beats_, r, kMaxKept); }

// Room is taken at the first ring: only a tower link brings any.
void StrikingRecorder::bell_heard(const BellHeard& r) {
    if (heard_.capacity() == 0) heard_.reserve(kMaxHeard);
    keep_newest(heard_, r, kMaxHeard);
}

// A full output list does not end the touch's ringing; the other ends do.
void StrikingRecorder::touch_ended(const TouchEnded& r) {
    if (r.why == TouchEnd::ListFull || blows_.empty()) return;
    StrikingInput in{blows_, beats_, heard_, ++touches_, r.why};
    auto t = std::make_unique<TouchStriking>(analyse_touch(in));
    blows_.clear();
    beats_.clear();
    heard_.clear();
    if (t->blows < kMinReportBlows) return;
    last_ = std::move(t);
    observers_.touch_striking(*last_);
}

}  // namespace qn
