#include "striking/recorder.h"

#include <algorithm>
#include <atomic>

#include "autoring/touch.h"
#include "platform/threads.h"
#include "striking/analysis.h"

namespace qn {

namespace {

// Room for a peal and more, taken once a touch: a blow costs no
// allocation. A longer touch keeps its first blows; beats rung while nobody
// rings keep their newest.
constexpr std::size_t kMaxKept = 2 * kMaxRows;
// Every other bell of a band of eight through a peal.
constexpr std::size_t kMaxHeard = 8 * kMaxRows;
// Every bell of a band of sixteen on one box through a peal; taken at the
// band's first blow.
constexpr std::size_t kMaxBandKept = 16 * kMaxRows + kMaxKept;
constexpr int kFinishWaitMs = 10000;

template <class Record>
void keep_newest(std::vector<Record>& v, const Record& r, std::size_t most) {
    if (v.size() == most) v.erase(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(most / 2));
    v.push_back(r);
}

}  // namespace

// A touch's records and, once analysed, its report.
struct StrikingRecorder::Job {
    std::vector<BlowTimed> blows;
    std::vector<RingerBeat> beats;
    std::vector<BellHeard> heard;
    std::int32_t touch = 0;
    TouchEnd why = TouchEnd::Pause;
    std::shared_ptr<TouchStriking> report;
    std::atomic<bool> done{false};

    void run() {
        report = std::make_shared<TouchStriking>(analyse_touch({blows, beats, heard, touch, why}));
        done = true;
    }
};

StrikingRecorder::StrikingRecorder(platform::Threads* threads) : threads_(threads) {
    blows_.reserve(kMaxKept);
    beats_.reserve(kMaxKept);
}

// A band's bells each bring their blows (their sensing point need not be
// the first).
void StrikingRecorder::blow_timed(const BlowTimed& r) {
    if (r.bell > 0 && blows_.capacity() < kMaxBandKept) blows_.reserve(kMaxBandKept);
    const std::size_t most = blows_.capacity() >= kMaxBandKept ? kMaxBandKept : kMaxKept;
    if ((r.point == 0 || r.bell > 0) && blows_.size() < most) blows_.push_back(r);
}

void StrikingRecorder::ringer_beat(const RingerBeat& r) { keep_newest(beats_, r, kMaxKept); }

// Room is taken at the first ring: only a tower link brings any.
void StrikingRecorder::bell_heard(const BellHeard& r) {
    if (heard_.capacity() == 0) heard_.reserve(kMaxHeard);
    keep_newest(heard_, r, kMaxHeard);
}

// A full output list does not end the touch's ringing; the other ends do.
// The records go with the job and the next touch starts on fresh ones.
void StrikingRecorder::touch_ended(const TouchEnded& r) {
    if (r.why == TouchEnd::ListFull || blows_.empty()) return;
    auto job = std::make_shared<Job>();
    job->blows.swap(blows_);
    job->beats.swap(beats_);
    job->heard.swap(heard_);
    job->touch = ++touches_;
    job->why = r.why;
    blows_.reserve(kMaxKept);
    beats_.reserve(kMaxKept);
    pending_.push_back(job);
    if (r.why == TouchEnd::Pause && threads_ && threads_->create([job] { job->run(); }).ok()) return;
    job->run();
    finish();
}

void StrikingRecorder::tell_finished() {
    while (!pending_.empty() && pending_.front()->done) {
        const std::shared_ptr<Job> job = pending_.front();
        pending_.erase(pending_.begin());
        tell(*job);
    }
}

void StrikingRecorder::finish() {
    const auto busy = [this] { return std::any_of(pending_.begin(), pending_.end(), [](const auto& j) { return !j->done; }); };
    for (int waited = 0; threads_ && busy() && waited < kFinishWaitMs; ++waited) threads_->sleep_ms(1);
    tell_finished();
}

void StrikingRecorder::tell(const Job& job) {
    if (job.report->blows < kMinReportBlows) return;
    last_ = job.report;
    observers_.touch_striking(last_);
}

}  // namespace qn
