// The analysis of a touch on made-up touches whose every blow is known:
// rounds with the ringer's keys late as asked, against automatic bells,
// against a band heard over a tower link, and on its own.
#include "striking/analysis.h"
#include "ui/striking_summary.h"

#include <cmath>
#include <functional>

#include <gtest/gtest.h>

namespace qn {
namespace {

constexpr std::int64_t kBeatUs = 250000;

struct Made {
    int bells = 6, place = 2, rows = 120;
    double hand_ms = 0, back_ms = 0, spread_ms = 0;
    bool beats = false, band = false;
    double network_ms = 0;  // the band's rings arrive this late
    bool turned = true;     // the program takes handstrokes for backstrokes, as it starts
    int missed_at = -1, spurious_at = -1;  // rows
};

struct Touch {
    std::vector<BlowTimed> blows;
    std::vector<RingerBeat> beats;
    std::vector<BellHeard> heard;
};

// Rounds, a handstroke gap of one beat before each handstroke row; the
// spread is an even scatter of five steps whose deviation is spread_ms.
Touch make(const Made& m) {
    Touch t;
    for (int r = 0; r < m.rows; ++r) {
        const bool hand = r % 2 == 0;
        const std::int64_t start = (r / 2) * (2 * m.bells + 1) * kBeatUs + (hand ? 1 : m.bells + 1) * kBeatUs;
        for (int p = 1; p <= m.bells; ++p) {
            const std::int64_t at = start + (p - 1) * kBeatUs;
            if (p != m.place) {
                if (m.band) t.heard.push_back({p, hand, at + static_cast<std::int64_t>(m.network_ms * 1000)});
                continue;
            }
            if (m.beats) t.beats.push_back({r - 6, hand, m.bells, p, p, p - 1, at, kBeatUs});
            if (r == m.missed_at) continue;
            const double scatter = m.spread_ms * ((r * 7919) % 5 - 2) / std::sqrt(2.0);
            const auto due = at + static_cast<std::int64_t>(std::llround(((hand ? m.hand_ms : m.back_ms) + scatter) * 1000));
            const Spacing spacing = m.missed_at >= 0 && r == m.missed_at + 1 ? Spacing::Missed : Spacing::Normal;
            t.blows.push_back({0, due - 400000, due, 380, hand != m.turned, spacing});
            if (r == m.spurious_at) t.blows.push_back({0, due + 400000, due + 800000, 380, hand, Spacing::Spurious});
        }
    }
    return t;
}

TouchStriking analyse(const Touch& t) { return analyse_touch({t.blows, t.beats, t.heard, 1, TouchEnd::Pause}); }

struct Case {
    const char* name;
    Made made;
    std::function<void(const TouchStriking&)> check;
};

const Case kCases[] = {
    {"AutomaticBellsGiveEachStrokeItsOwnLatenessAndTheDelayByTheProgramsStrokes",
     {.hand_ms = 20, .back_ms = 4, .beats = true},
     [](const TouchStriking& r) {
         EXPECT_EQ(r.reference, StrikingReference::AutomaticBells);
         EXPECT_NEAR(r.hand.mean_ms, 20, 0.01);
         EXPECT_NEAR(r.back.mean_ms, 4, 0.01);
         EXPECT_TRUE(r.strokes_turned);
         EXPECT_EQ(r.delay.back_change_ms, -20);  // the program's backstroke delay was on the handstrokes
         EXPECT_EQ(r.delay.hand_change_ms, -4);
         EXPECT_EQ(r.by_place.size(), 1u);
         EXPECT_NEAR(r.back_to_hand_ms - r.hand_to_back_ms, 250 + 2 * 16, 0.01);
         EXPECT_NEAR(r.peal_minutes, 0.25 * 13 * 2520 / 60, 0.01);
     }},
    {"ABandOverTheLinkCarriesItsNetworkDelayAndSuggestsNoDelay",
     {.hand_ms = 20, .spread_ms = 5, .band = true, .network_ms = 30},
     [](const TouchStriking& r) {
         EXPECT_EQ(r.reference, StrikingReference::Band);
         EXPECT_EQ(r.timed, 120);
         EXPECT_NEAR(r.hand.mean_ms, -10, 1);
         EXPECT_NEAR(r.back.mean_ms, -30, 1);
         EXPECT_NEAR(r.all.sd_ms, std::sqrt(25.0 + 100), 1);
         EXPECT_FALSE(r.delay.offered);
         ASSERT_EQ(r.by_followed.size(), 1u);
         EXPECT_EQ(r.by_followed[0].key, 1);
         EXPECT_EQ(r.bells, 6);
         EXPECT_NEAR(r.blow_ms, 250, 0.5);
     }},
    // With no beat the rhythm gives the strokes (the longer interval comes
    // before a handstroke) and the spread, but no lateness.
    {"OnItsOwnTheRhythmTurnsTheStrokesRoundAndFindsTheSpread",
     {.rows = 400, .hand_ms = 20, .spread_ms = 8},
     [](const TouchStriking& r) {
         EXPECT_EQ(r.reference, StrikingReference::OwnRhythm);
         EXPECT_TRUE(r.strokes_turned);
         EXPECT_NEAR(r.back_to_hand_ms - r.hand_to_back_ms, 250 + 40, 1);
         EXPECT_NEAR(r.hand.sd_ms, 8, 0.8);
         EXPECT_NEAR(r.back.sd_ms, 8, 0.8);
         EXPECT_NEAR(r.all.mean_ms, 0, 1);
         EXPECT_FALSE(r.delay.offered);
     }},
    {"AMissedBlowIsCountedAndASpuriousStrikeIsNotTimed",
     {.hand_ms = 10, .back_ms = 10, .beats = true, .missed_at = 50, .spurious_at = 70},
     [](const TouchStriking& r) {
         EXPECT_EQ(r.blows, 120);
         EXPECT_EQ(r.missed, 1);
         EXPECT_EQ(r.spurious, 1);
         EXPECT_EQ(r.timed, 119);
         EXPECT_NEAR(r.all.mean_ms, 10, 0.01);
         EXPECT_EQ(r.blow_list[static_cast<std::size_t>(r.worst[0])].error_ms, 10);
     }},
};

class StrikingAnalysis : public ::testing::TestWithParam<Case> {};

TEST_P(StrikingAnalysis, MadeUpTouch) { GetParam().check(analyse(make(GetParam().made))); }

// A line too long for the screen goes on under it, none of it lost.
TEST(StrikingSummaryLines, ALongLineIsWrappedNotCut) {
    TouchStriking t = analyse(make({.hand_ms = -478, .back_ms = -478, .beats = true}));
    t.delay.hand_delay_ms = t.delay.back_delay_ms = 291;
    std::string all;
    for (const std::string& line : striking_summary_lines(t)) {
        EXPECT_LE(line.size(), 79u) << line;
        all += line.substr(line.find_first_not_of(' ')) + " ";
    }
    EXPECT_NE(all.find("press + 24 times, or K for "), std::string::npos) << all;
    EXPECT_NE(all.find(" ms (hand/back)"), std::string::npos) << all;
}

INSTANTIATE_TEST_SUITE_P(Touches, StrikingAnalysis, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace qn
