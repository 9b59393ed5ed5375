#include "link/delay.h"

#include <algorithm>

namespace qn::link {

void DelayEstimate::add_round_trip(std::int64_t now_us, std::int64_t round_trip_us) {
    if (round_trip_us < 0) return;
    if (count_ == kWindow) {
        std::move(samples_.begin() + 1, samples_.end(), samples_.begin());
        --count_;
    }
    samples_[static_cast<std::size_t>(count_++)] = {now_us, round_trip_us};
}

void DelayEstimate::age(std::int64_t now_us) {
    int kept = 0;
    for (int i = 0; i < count_; ++i)
        if (now_us - samples_[static_cast<std::size_t>(i)].at_us <= kMaxAgeUs)
            samples_[static_cast<std::size_t>(kept++)] = samples_[static_cast<std::size_t>(i)];
    count_ = kept;
}

std::int64_t DelayEstimate::one_way_us() const {
    if (count_ == 0) return 0;
    std::int64_t least = samples_[0].round_trip_us;
    for (int i = 1; i < count_; ++i) least = std::min(least, samples_[static_cast<std::size_t>(i)].round_trip_us);
    return least / 2;
}

std::int64_t DelayEstimate::spread_us() const {
    if (count_ == 0) return 0;
    std::array<std::int64_t, kWindow> rt{};
    for (int i = 0; i < count_; ++i) rt[static_cast<std::size_t>(i)] = samples_[static_cast<std::size_t>(i)].round_trip_us;
    const auto end = rt.begin() + count_;
    const auto mid = rt.begin() + count_ / 2;
    std::nth_element(rt.begin(), mid, end);
    return *mid / 2 - one_way_us();
}

std::int64_t Lead::follow(std::int64_t wanted_us, std::int64_t now_us) {
    const std::int64_t step = std::max<std::int64_t>(now_us - at_us_, 0) * kSlewUsPerS / 1'000'000;
    at_us_ = now_us;
    lead_us_ = std::clamp(wanted_us, lead_us_ - step, lead_us_ + step);
    return lead_us_;
}

}  // namespace qn::link
