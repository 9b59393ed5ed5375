// The delay to the tower, from round trips the server answers at once (a
// state request, a ring's own broadcast): the one-way delay is half the
// least round trip of the last few, as NTP clients filter theirs, so a
// sample held up by a busy line or server does not count; the spread is
// how far the window's middle lies above that least. And the lead a ring
// is sent ahead by, which follows the delay gradually: a figure that jumps
// must not pull two rings of one bell past each other.
#pragma once

#include <array>
#include <cstdint>

namespace qn::link {

class DelayEstimate {
public:
    static constexpr int kWindow = 8;
    // A sample older than this is dropped, so a line that got slower for
    // good is followed within this time.
    static constexpr std::int64_t kMaxAgeUs = 60'000'000;

    void add_round_trip(std::int64_t now_us, std::int64_t round_trip_us);
    void clear() { count_ = 0; }
    bool known() const { return count_ > 0; }
    std::int64_t one_way_us() const;  // 0 while not known
    std::int64_t spread_us() const;
    // Drops samples past their age.
    void age(std::int64_t now_us);

private:
    struct Sample {
        std::int64_t at_us = 0;
        std::int64_t round_trip_us = 0;
    };
    std::array<Sample, kWindow> samples_{};
    int count_ = 0;  // the newest last
};

// The lead moves towards the wanted one by at most kSlewPerSecond of the
// time passed (a millisecond a tenth of a second), starting where it is set.
class Lead {
public:
    static constexpr std::int64_t kSlewUsPerS = 10'000;

    void set(std::int64_t lead_us, std::int64_t now_us) {
        lead_us_ = lead_us;
        at_us_ = now_us;
    }
    std::int64_t follow(std::int64_t wanted_us, std::int64_t now_us);
    std::int64_t lead_us() const { return lead_us_; }

private:
    std::int64_t lead_us_ = 0;
    std::int64_t at_us_ = 0;
};

}  // namespace qn::link
