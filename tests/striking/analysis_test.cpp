// The analysis of a touch on made-up touches whose every blow is known:
// rounds with the ringer's keys late as asked, against automatic bells,
// against a band heard over a tower link, and on its own; and a whole band
// on one box, each bell with its own lateness and spread.
#include "striking/analysis.h"
#include "striking/recorder.h"
#include "runlog/striking_summary_lines.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <random>

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

// A band on one box ringing rounds or plain hunt, each bell late at each
// stroke and scattered as drawn from a seeded generator.
struct BandMade {
    const char* name;
    int bells = 8, rows = 360;
    bool hunt = false;
    int heard = 0;  // bells rung over the link besides
    int missed_bell = 0, missed_row = -1, spurious_bell = 0;
};

struct Truth {
    std::map<int, std::array<std::vector<double>, 2>> errors;  // by bell: [hand, back]
};

double mean(const std::vector<double>& v) {
    double s = 0;
    for (double x : v) s += x;
    return s / static_cast<double>(v.size());
}

double sd(const std::vector<double>& v) {
    const double m = mean(v);
    double s = 0;
    for (double x : v) s += (x - m) * (x - m);
    return std::sqrt(s / static_cast<double>(v.size() - 1));
}

Touch make_band(const BandMade& m, Truth& truth) {
    std::mt19937 gen(static_cast<unsigned>(m.bells * 1000 + m.rows));
    std::uniform_real_distribution<double> bias(-25, 25), spread(4, 16);
    std::map<int, std::array<double, 3>> ringer;  // hand bias, back bias, spread
    for (int b = 1; b <= m.bells; ++b) ringer[b] = {bias(gen), bias(gen), spread(gen)};
    const int all = m.bells + m.heard;
    std::vector<int> order(static_cast<std::size_t>(all));
    for (int p = 0; p < all; ++p) order[static_cast<std::size_t>(p)] = p + 1;
    Touch t;
    for (int r = 0; r < m.rows; ++r) {
        const bool hand = r % 2 == 0;
        if (m.hunt && r > 0)
            for (int p = (r % 2 == 1 ? 0 : 1); p + 1 < all; p += 2) std::swap(order[static_cast<std::size_t>(p)], order[static_cast<std::size_t>(p + 1)]);
        const std::int64_t start = (r / 2) * (2 * all + 1) * kBeatUs + (hand ? 1 : all + 1) * kBeatUs;
        for (int p = 0; p < all; ++p) {
            const int bell = order[static_cast<std::size_t>(p)];
            const std::int64_t at = start + p * kBeatUs;
            if (bell > m.bells) {
                t.heard.push_back({bell, hand, at});
                continue;
            }
            if (bell == m.missed_bell && r == m.missed_row) continue;
            const auto& [h, b, spread] = ringer[bell];
            const double error = (hand ? h : b) + std::normal_distribution<double>(0, spread)(gen);
            truth.errors[bell][hand ? 0 : 1].push_back(error);
            const std::int64_t due = at + std::llround(error * 1000);
            const Spacing spacing = bell == m.missed_bell && r == m.missed_row + 1 ? Spacing::Missed : Spacing::Normal;
            t.blows.push_back({0, due - 400000, due, 380, hand, spacing, bell});
            if (bell == m.spurious_bell && r == 101) t.blows.push_back({0, due + 60000, due + 60000, 380, !hand, Spacing::Spurious, bell});
        }
    }
    return t;
}

const BandMade kBands[] = {
    {"SixInRounds", 6},
    {"EightPlainHunt", 8, 360, true},
    {"TwelvePlainHunt", 12, 240, true},
    {"TheTrebleMissesABlowAndTheFifthStrikesTwice", 8, 360, false, 0, 1, 100, 5},
    {"AMissedBlowInTheMethod", 6, 360, true, 0, 4, 150},
    {"OverTheLinkWithTwoMoreRingers", 6, 360, true, 2},
};

class BandStriking : public ::testing::TestWithParam<BandMade> {};

// Only the bells' lateness against each other is known: the figures are
// the drawn ones less the middle bell's mean.
TEST_P(BandStriking, EachBellAsDrawn) {
    const BandMade& m = GetParam();
    Truth truth;
    const Touch touch = make_band(m, truth);
    const TouchStriking r = analyse(touch);
    EXPECT_EQ(r.reference, m.heard ? StrikingReference::Tower : StrikingReference::BandOwnRhythm);
    EXPECT_EQ(r.bells, m.bells + m.heard);
    EXPECT_NEAR(r.blow_ms, 250, 1);
    EXPECT_EQ(r.spurious, m.spurious_bell ? 1 : 0);
    EXPECT_EQ(r.blows, m.bells * m.rows);
    std::vector<double> means;
    for (const auto& [bell, e] : truth.errors) {
        std::vector<double> both = e[0];
        both.insert(both.end(), e[1].begin(), e[1].end());
        means.push_back(mean(both));
    }
    std::sort(means.begin(), means.end());
    const double middle = means.size() % 2 ? means[means.size() / 2] : (means[means.size() / 2 - 1] + means[means.size() / 2]) / 2;
    ASSERT_EQ(r.band_bells.size(), static_cast<std::size_t>(m.bells));
    int in_place_rows = 0;
    for (const BellStriking& b : r.band_bells) {
        SCOPED_TRACE("bell " + std::to_string(b.bell));
        const auto& e = truth.errors[b.bell];
        EXPECT_EQ(b.blows, m.rows);
        EXPECT_EQ(b.timed, static_cast<std::int32_t>(e[0].size() + e[1].size()));  // a fault costs no other bell
        EXPECT_EQ(b.missed, b.bell == m.missed_bell ? 1 : 0);
        EXPECT_NEAR(b.hand.sd_ms, sd(e[0]), 0.1 * sd(e[0]));
        EXPECT_NEAR(b.back.sd_ms, sd(e[1]), 0.1 * sd(e[1]));
        ASSERT_TRUE(b.delay.offered);
        EXPECT_NEAR(b.delay.hand_change_ms, -(mean(e[0]) - middle), 1.5);
        EXPECT_NEAR(b.delay.back_change_ms, -(mean(e[1]) - middle), 1.5);
        in_place_rows += static_cast<int>(b.by_place.size());
        if (m.heard) continue;  // against the whole tower, as heard
        EXPECT_NEAR(b.hand.mean_ms, mean(e[0]) - middle, 1);
        EXPECT_NEAR(b.back.mean_ms, mean(e[1]) - middle, 1);
    }
    EXPECT_EQ(in_place_rows, m.bells * (m.hunt ? m.bells + m.heard : 1));
    for (const BlowFigures& f : r.blow_list) {
        EXPECT_GT(f.bell, 0);
        if (f.timed) {
            EXPECT_LT(std::fabs(f.error_ms), 100) << "bell " << f.bell << " row " << f.row;
        }
    }
}

// The recorder keeps every bell's blows, whatever their sensing point, and
// a touch longer than one bell's room.
TEST(BandStriking, TheRecorderKeepsEveryBellsBlows) {
    Truth truth;
    Touch touch = make_band({"", 8, 1600}, truth);
    StrikingRecorder recorder;
    for (BlowTimed b : touch.blows) {
        b.point = b.bell % 2;
        recorder.blow_timed(b);
    }
    recorder.touch_ended({});
    ASSERT_NE(recorder.last(), nullptr);
    EXPECT_EQ(recorder.last()->band_bells.size(), 8u);
    EXPECT_EQ(recorder.last()->timed, 8 * 1600);
}

INSTANTIATE_TEST_SUITE_P(Bands, BandStriking, ::testing::ValuesIn(kBands),
                         [](const ::testing::TestParamInfo<BandMade>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace qn
