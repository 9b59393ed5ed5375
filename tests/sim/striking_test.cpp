// The striking report against the simulated ringer's truth, in virtual time:
// the ringer strikes with the bias and spread asked for, and the report of
// each touch must find them again.
#include <cmath>
#include <map>

#include "sim_test_util.h"
#include "striking/analysis.h"
#include "striking/recorder.h"

namespace qn::sim::test {
namespace {

struct Kept : StrikingReport {
    std::vector<TouchStriking> touches;
    void touch_striking(const TouchStrikingPtr& t) override { touches.push_back(*t); }
};

struct Spread {
    double mean = 0, sd = 0;
};

Spread spread_of(const std::vector<double>& v) {
    Spread s;
    for (double x : v) s.mean += x / static_cast<double>(v.size());
    for (double x : v) s.sd += (x - s.mean) * (x - s.mean) / static_cast<double>(v.size() - 1);
    s.sd = std::sqrt(s.sd);
    return s;
}

// What the ringing program heard in a touch: each blow's key against where
// the blow belonged. That is the ringer's bias and spread, and the few
// milliseconds the program takes to turn a signal into a key.
struct Truth {
    Spread hand, back;
    std::map<int, Spread> by_place;
    double latency_ms = 0;  // key less blow
};

// touch 0: every touch of the ringer's.
Truth truth_of(SimRun& run, int touch) {
    std::vector<double> hand, back, latency;
    std::map<int, std::vector<double>> places;
    const std::vector<KeyRecord> keys = run.target().keys();
    std::lock_guard<std::mutex> g(run.time().mutex());
    const std::vector<platform::sim::Strike>& strikes = run.bell().strikes_until(0);
    for (const KeyRecord& k : keys) {
        if (k.cls != KeyClass::Strike) continue;
        const platform::sim::Strike& s = strikes[static_cast<std::size_t>(k.strike)];
        if ((touch > 0 && s.touch != touch) || s.row <= 0) continue;
        const double error = static_cast<double>(k.time_us - s.ideal_us) / 1000.0;
        (s.hand ? hand : back).push_back(error);
        places[s.place].push_back(error);
        latency.push_back(static_cast<double>(k.time_us - s.time_us) / 1000.0);
    }
    Truth t{spread_of(hand), spread_of(back), {}, spread_of(latency).mean};
    for (const auto& [p, v] : places) t.by_place[p] = spread_of(v);
    return t;
}

// A course from the library `times` over, ending with its last row: Plain
// Bob Minor's twelve times is 720 rows.
void write_courses(const ScratchDir& dir, const char* source, int bells, int times, const char* name) {
    std::ifstream in(std::string(QN_SOURCE_DIR) + "/composition_library/" + source);
    std::vector<std::string> rows;
    for (std::string line; std::getline(in, line);)
        if (static_cast<int>(line.size()) == bells) rows.push_back(line);
    std::ofstream out(dir.path() / name);
    for (int lead = 0; lead < times; ++lead)
        for (std::size_t r = 0; r + 1 < rows.size(); ++r) out << rows[r] << "\n";
    out << rows.back() << "\n";
}

void write_minor_720(const ScratchDir& dir) { write_courses(dir, "plain_bob_minor", 6, 12, "minor720"); }

struct Ringer {
    const char* name;
    bool automatic_bells;
    void (*bias)(platform::sim::RingerBias&);
    // The report against the truth of the same touch.
    void (*judge)(const TouchStriking&, const Truth&);
    // Beyond six bells the beat is within the target's match window of a
    // blow; pause_s: the ringer stops that long every 100 rows, too short
    // a time to end the touch.
    int bells = 6, place = 2, rows = 720;
    const char* source = "plain_bob_minor";
    int courses = 12;
    double pause_s = 0;
};

// sampled_ms: how far the mean of the ringer's draws may be from its bias.
void near_truth(const StrokeFigures& got, const Spread& truth, const Truth& t, double bias_ms, double spread_ms,
                double sampled_ms = 1.0) {
    EXPECT_NEAR(got.mean_ms, truth.mean, 0.3);
    EXPECT_NEAR(got.mean_ms, bias_ms + t.latency_ms, sampled_ms);
    EXPECT_NEAR(got.sd_ms, spread_ms, 0.1 * spread_ms);
}

void biased(platform::sim::RingerBias& b) {
    b.late_ms = 15;
    b.hand_ms = 20;
    b.spread_ms = 10;
}

void near_the_bias(const TouchStriking& r, const Truth& t) {
    EXPECT_EQ(r.reference, StrikingReference::AutomaticBells);
    near_truth(r.hand, t.hand, t, 35, 10, 2.0);
    near_truth(r.back, t.back, t, 15, 10, 2.0);
    EXPECT_FALSE(r.strokes_turned);
    EXPECT_EQ(r.missed + r.spurious, 0);
}

const Ringer kRingers[] = {
    {"LateAtHandstrokeAgainstTheAutomaticBells", true,
     [](platform::sim::RingerBias& b) {
         b.hand_ms = 20;
         b.spread_ms = 10;
     },
     [](const TouchStriking& r, const Truth& t) {
         EXPECT_EQ(r.reference, StrikingReference::AutomaticBells);
         near_truth(r.hand, t.hand, t, 20, 10);
         near_truth(r.back, t.back, t, 0, 10);
         EXPECT_LT(t.latency_ms, 5);
         EXPECT_FALSE(r.strokes_turned);  // the ringer pressed H
         ASSERT_TRUE(r.delay.offered);
         EXPECT_NEAR(r.delay.hand_change_ms, -std::lround(r.hand.mean_ms), 1);
         EXPECT_NEAR(r.delay.back_change_ms, -std::lround(r.back.mean_ms), 1);
     }},
    {"LateOnlyInSecondsPlace", true,
     [](platform::sim::RingerBias& b) {
         b.place_ms[2] = 30;
         b.spread_ms = 5;
     },
     [](const TouchStriking& r, const Truth& t) {
         ASSERT_EQ(r.by_place.size(), 6u);
         for (const GroupFigures& g : r.by_place) {
             EXPECT_NEAR(g.all.mean_ms, t.by_place.at(g.key).mean, 0.5) << "place " << g.key;
             EXPECT_NEAR(g.all.mean_ms - r.by_place[0].all.mean_ms, g.key == 2 ? 30 : 0, 2.0) << "place " << g.key;
         }
     }},
    // Without a beat only the spread and the odd striking show: a
    // handstroke 20 ms late makes the handstroke gap 40 ms longer than a blow.
    {"LateAtHandstrokeInRoundsOnItsOwn", false,
     [](platform::sim::RingerBias& b) {
         b.hand_ms = 20;
         b.spread_ms = 10;
     },
     [](const TouchStriking& r, const Truth& t) {
         EXPECT_EQ(r.reference, StrikingReference::OwnRhythm);
         EXPECT_NEAR(r.hand.sd_ms, t.hand.sd, 0.1 * t.hand.sd);
         EXPECT_NEAR(r.back.sd_ms, t.back.sd, 0.1 * t.back.sd);
         const double blow_ms = 180.0 * 60000 / (2520 * 13);
         EXPECT_NEAR(r.back_to_hand_ms - r.hand_to_back_ms, blow_ms + 2 * (t.hand.mean - t.back.mean), 1.0);
         EXPECT_FALSE(r.delay.offered);
     }},
    {"BiasedOnEightBellsWithTheAutomaticBells", true, biased, near_the_bias, 8, 5, 560, "plain_bob_major", 5},
    {"BiasedOnTwelveBellsWithTheAutomaticBells", true, biased, near_the_bias, 12, 7, 540, "rounds12", 50},
    // A pause mid-touch is neither a missed blow nor a change of stroke.
    {"PausingMidTouchOnItsOwn", false,
     [](platform::sim::RingerBias& b) { b.spread_ms = 10; },
     [](const TouchStriking& r, const Truth& t) {
         EXPECT_EQ(r.missed, 0);
         EXPECT_NEAR(r.hand.sd_ms, t.hand.sd, 0.2 * t.hand.sd);
         EXPECT_NEAR(r.back.sd_ms, t.back.sd, 0.2 * t.back.sd);
         const double blow_ms = 180.0 * 60000 / (2520 * 17);
         EXPECT_NEAR(r.back_to_hand_ms - r.hand_to_back_ms, blow_ms, 20.0);
     },
     8, 5, 400, "plain_bob_major", 1, 4},
};

class StrikingReportTruth : public ::testing::TestWithParam<Ringer> {};

TEST_P(StrikingReportTruth, AReportOfALongTouchFindsTheRingersBiasAndSpread) {
    const Ringer& p = GetParam();
    ScratchDir dir;
    write_courses(dir, p.source, p.bells, p.courses, "touch");
    SimOptions o = virtual_run();
    o.plan.rhythm.bells = p.bells;
    o.plan.rhythm.place = p.place;
    o.plan.rhythm.peal_minutes = 180;
    o.plan.rows = p.rows;
    o.plan.touch_min = o.plan.touch_max = p.pause_s > 0 ? 100 : p.rows;
    if (p.pause_s > 0) o.plan.pause_s = p.pause_s;
    if (p.automatic_bells) o.automatic_bells = "touch";
    p.bias(o.plan.rhythm.bias);
    SimRun run(o, embedded());
    Kept kept;
    run.program().striking->add(kept);
    ASSERT_EQ(run.run(), 0);
    ASSERT_EQ(kept.touches.size(), 1u);
    EXPECT_GE(kept.touches[0].timed, p.rows - 20);
    // Each blow's key, and no key made up or turned round.
    const TargetFigures f = run.target().figures();
    EXPECT_EQ(f.strikes_without_key + f.doubled_keys + f.alternation_errors, 0);
    p.judge(kept.touches[0], truth_of(run, 0));
}

// K between two touches: the second is centred on the beat at each stroke,
// and the settings file keeps the delays for the next run.
TEST(StrikingReportDelay, TakenWithKItCentresTheNextTouch) {
    ScratchDir dir;
    write_minor_720(dir);
    SimOptions o = virtual_run();
    o.plan.rhythm.bells = 6;
    o.plan.rhythm.place = 3;
    o.plan.rows = 1440;
    o.automatic_bells = "minor720";
    o.take_delay = true;
    o.plan.rhythm.bias.late_ms = 30;
    o.plan.rhythm.bias.hand_ms = -20;
    o.plan.rhythm.bias.spread_ms = 10;
    SimRun run(o, embedded());
    Kept kept;
    run.program().striking->add(kept);
    ASSERT_EQ(run.run(), 0);
    ASSERT_EQ(kept.touches.size(), 2u);
    const TouchStriking &first = kept.touches[0], &second = kept.touches[1];
    EXPECT_GT(first.all.mean_ms, 15);
    ASSERT_TRUE(first.delay.offered);
    EXPECT_NEAR(second.all.mean_ms, 0, 2);
    EXPECT_NEAR(second.hand.mean_ms, 0, 2);
    EXPECT_NEAR(second.back.mean_ms, 0, 2);
    // Each key came at the time the program meant it to, the new delays too.
    for (const KeyRecord& k : run.target().keys()) {
        if (k.cls != KeyClass::Strike) continue;
        EXPECT_NEAR(k.error_ms, 2, 1.5) << "key at " << k.time_us << " us";
    }
    const std::string ini = dir.read(settings_file());
    EXPECT_NE(ini.find("keydelayhand_1_1=" + std::to_string(suggested_hand_delay(first.delay))), std::string::npos);
    EXPECT_NE(ini.find("keydelayback_1_1=" + std::to_string(suggested_back_delay(first.delay))), std::string::npos);
    EXPECT_NE(dir.logs().find("Key delays taken from the striking report of touch 1"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Ringers, StrikingReportTruth, ::testing::ValuesIn(kRingers),
                         [](const ::testing::TestParamInfo<Ringer>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace qn::sim::test
