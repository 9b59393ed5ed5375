#include "link/delay.h"

#include <gtest/gtest.h>

#include <vector>

namespace qn::link {
namespace {

// Round trips a second apart (-1: a request never answered, no sample).
struct DelayRow {
    const char* what;
    std::vector<int> round_trips_ms;
    bool known;
    int one_way_ms;
    int spread_ms;
};

TEST(LinkDelay, HalfTheLeastRecentRoundTripAndHowFarTheMiddleLiesAbove) {
    const std::vector<DelayRow> rows{
        {"steady", {80, 80, 80, 80}, true, 40, 0},
        {"jittery", {80, 86, 82, 90, 81, 84, 88, 83}, true, 40, 2},
        {"outliers are never the least", {80, 500, 81, 82, 900, 80, 83, 81}, true, 40, 1},
        {"a step down is followed at once", {120, 120, 120, 120, 80}, true, 40, 20},
        {"a step up once the window has only the new", {80, 80, 80, 80, 80, 80, 80, 80, 120, 120, 120, 120, 120, 120, 120, 120},
         true, 60, 0},
        {"a step up is not followed by one late answer", {80, 80, 80, 80, 120}, true, 40, 0},
        {"a server that never answers", {-1, -1, -1}, false, 0, 0},
        {"answers after silence", {-1, -1, 76}, true, 38, 0},
    };
    for (const DelayRow& r : rows) {
        DelayEstimate d;
        std::int64_t now = 0;
        for (int rt : r.round_trips_ms) {
            now += 1'000'000;
            if (rt >= 0) d.add_round_trip(now, std::int64_t{rt} * 1000);
        }
        EXPECT_EQ(d.known(), r.known) << r.what;
        EXPECT_EQ(d.one_way_us() / 1000, r.one_way_ms) << r.what;
        EXPECT_EQ(d.spread_us() / 1000, r.spread_ms) << r.what;
    }
}

TEST(LinkDelay, OldSamplesAgeOutSoALineThatGotSlowerIsFollowed) {
    DelayEstimate d;
    d.add_round_trip(0, 40'000);
    d.add_round_trip(50'000'000, 100'000);
    d.age(70'000'000);
    EXPECT_EQ(d.one_way_us(), 50'000);
    d.age(200'000'000);
    EXPECT_FALSE(d.known());
}

// The lead moves 10 ms a second towards what is wanted, either way, and
// never past it.
TEST(LinkDelay, TheLeadFollowsAJumpGradually) {
    struct Step {
        std::int64_t at_ms, wanted_ms, lead_ms;
    };
    const std::vector<Step> steps{{0, 40, 40},     {500, 100, 45},  {1500, 100, 55}, {10000, 100, 100},
                                  {10100, 20, 99}, {20000, 20, 20}, {20001, 20, 20}};
    Lead lead;
    lead.set(40'000, 0);
    for (const Step& s : steps)
        EXPECT_EQ(lead.follow(s.wanted_ms * 1000, s.at_ms * 1000) / 1000, s.lead_ms) << s.at_ms;
}

}  // namespace
}  // namespace qn::link
