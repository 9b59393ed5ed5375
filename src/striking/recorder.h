// The striking report's ear on the strike path: it keeps the first sensing
// point's blows and automatic ringing's beats for the ringer's bell as they
// are told (nothing more per strike than that), and when a touch ends it
// tells its observers what it makes of them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/strike_records.h"
#include "striking/records.h"

namespace qn {

class StrikingRecorder : public StrikeReport {
public:
    StrikingRecorder();

    // Those told of each touch's striking.
    bool add(StrikingReport& observer) { return observers_.add(observer); }

    void blow_timed(const BlowTimed& r) override;
    void ringer_beat(const RingerBeat& r) override;
    void bell_heard(const BellHeard& r) override;
    void touch_ended(const TouchEnded& r) override;

    // The last report made; null before the first.
    const TouchStriking* last() const { return last_.get(); }

private:
    StrikingFanOut observers_;
    std::vector<BlowTimed> blows_;
    std::vector<RingerBeat> beats_;
    std::vector<BellHeard> heard_;
    std::int32_t touches_ = 0;
    std::unique_ptr<TouchStriking> last_;
};

}  // namespace qn
