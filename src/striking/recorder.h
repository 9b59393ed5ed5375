// The striking report's ear on the strike path: it keeps the first sensing
// point's blows, automatic ringing's beats for the ringer's bell and the
// other bells heard over a tower link as they are told (nothing more per
// strike than that). When a touch ends at a pause, what it kept goes to a
// thread of its own to be analysed (a peal's figures take milliseconds to
// make, and the next strike must not wait for them); the service loop then
// has it told to the observers. A touch that ends with the run is analysed
// at once, and waited for.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/strike_records.h"
#include "striking/records.h"

namespace qn {

namespace platform {
class Threads;
}

class StrikingRecorder : public StrikeReport {
public:
    // threads: where a touch is analysed (null: at once, on the caller's).
    explicit StrikingRecorder(platform::Threads* threads = nullptr);

    // Those told of each touch's striking.
    bool add(StrikingReport& observer) { return observers_.add(observer); }

    void blow_timed(const BlowTimed& r) override;
    void ringer_beat(const RingerBeat& r) override;
    void bell_heard(const BellHeard& r) override;
    void touch_ended(const TouchEnded& r) override;

    // The reports analysed since the last call, told to the observers in
    // the order of their touches (once per pass of the service loop).
    void tell_finished();
    // Waits, a few seconds at most, for the touches being analysed, and
    // tells them: before the program ends.
    void finish();

    // The last report told; null before the first.
    const TouchStriking* last() const { return last_.get(); }

    struct Job;

private:
    void tell(const Job& job);

    platform::Threads* threads_;
    StrikingFanOut observers_;
    std::vector<BlowTimed> blows_;
    std::vector<RingerBeat> beats_;
    std::vector<BellHeard> heard_;
    std::int32_t touches_ = 0;
    std::vector<std::shared_ptr<Job>> pending_;
    TouchStrikingPtr last_;
};

}  // namespace qn
