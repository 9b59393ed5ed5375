#include "strokes/spacing_judge.h"

#include <algorithm>

namespace qn {

// The history holds 6000 times. Ringing that never pauses (hours of
// automatic ringing) would fill it: the older half is then dropped, so the
// average interval becomes the average of the recent half.
void SpacingJudge::push(std::int32_t time_ms) {
    const std::int32_t capacity = static_cast<std::int32_t>(times_ms_.size());
    if (count_ >= capacity) {
        const std::int32_t keep = capacity / 2;
        std::copy(times_ms_.end() - keep, times_ms_.end(), times_ms_.begin());
        count_ = keep;
    }
    times_ms_[count_++] = time_ms;
}

std::optional<SpacingJudged> SpacingJudge::judge(std::int32_t time_ms, bool corrected) {
    push(time_ms);
    if (count_ < kFirstJudged) return std::nullopt;

    const std::int32_t n = count_;
    const std::int32_t last = times_ms_[n - 1], before = times_ms_[n - 2];
    const std::int32_t average = (before - times_ms_[0]) / (n - 2);
    // All times equal would leave the ratio undefined: such a strike is
    // taken as a normal one.
    ratio_ = average > 0 ? static_cast<double>(last - before) / average : 1.0;
    min_ratio_ = std::min(min_ratio_, ratio_);
    max_ratio_ = std::max(max_ratio_, ratio_);

    SpacingJudged r;
    r.strikes = n;
    r.ratio = ratio_;
    r.average_ms = average;
    r.corrected = corrected;
    if (ratio_ < settings_.space_ratio_low) {
        r.spacing = Spacing::Spurious;
        ++spurious_;
        if (corrected) --count_;
    } else if (ratio_ > std::max(kPausedRatio, settings_.space_ratio_high + kPausedBeyondMissed)) {
        // The pause is left out of the average: the strikes before it move
        // up to one average interval before this one.
        r.spacing = Spacing::Paused;
        const std::int32_t excess = last - before - average;
        for (std::int32_t i = 0; i < n - 1; ++i) times_ms_[i] += excess;
    } else if (ratio_ > settings_.space_ratio_high) {
        r.spacing = Spacing::Missed;
        ++missed_;
        push(time_ms);
    }
    r.min_ratio = min_ratio_;
    r.max_ratio = max_ratio_;
    r.spurious = spurious_;
    r.missed = missed_;
    return r;
}

void SpacingJudge::restart() {
    count_ = 0;
    max_ratio_ = 1.0;
    min_ratio_ = 1.0;
    missed_ = 0;
    spurious_ = 0;
}

}  // namespace qn
