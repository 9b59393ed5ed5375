// The simulated target matches each key with the blow it stands for and
// keeps the figures: keys missing or unexplained, strokes turned round,
// delivery error.
#include <gtest/gtest.h>

#include "sim/target.h"

namespace qn::sim {
namespace {

using platform::sim::Strike;
using platform::sim::StrikeKind;

constexpr std::int64_t kDelayUs = 405000;
constexpr std::int64_t kDoubledUs = 350000;

struct TargetWorld {
    explicit TargetWorld(platform::sim::Faults faults, std::int64_t hand_delay_us = kDelayUs)
        : hand_delay(hand_delay_us), bell(time, config(faults)), target(time, bell, rule(hand_delay_us)) {
        time.adopt_current_thread();
        std::lock_guard<std::mutex> g(time.mutex());
        platform::sim::ServicePlan plan;
        plan.rows = 200;
        plan.touch_min = plan.touch_max = 100;
        bell.start_service(0, plan);
        bell.service_end();
        strikes = bell.strikes_until(0);
    }
    static platform::sim::BellConfig config(platform::sim::Faults f) {
        platform::sim::BellConfig c;
        c.faults = f;
        return c;
    }
    static DueRule rule(std::int64_t hand_delay_us) {
        DueRule r;
        r.due = [hand_delay_us](const Strike& s, bool hand) {
            return s.signal_us[0] < 0 ? -1 : s.signal_us[0] + (hand ? hand_delay_us : kDelayUs);
        };
        r.doubled_delay_us = [] { return kDoubledUs; };
        r.ringer_key = [](char key) { return key == 'J'; };
        return r;
    }
    // The keys a program that keeps the rules sends, `late` after due; one
    // that has the strokes the other way round delays a handstroke by the
    // backstroke's delay. With automatic bells, two other bells and a call
    // between each of the ringer's keys.
    void ring_all(std::int64_t late, long skip_strike = -1, bool strokes_turned = false, bool automatic = false) {
        for (std::size_t i = 0; i < strikes.size(); ++i) {
            const Strike& s = strikes[i];
            if (s.kind == StrikeKind::Missed || static_cast<long>(i) == skip_strike) continue;
            const std::int64_t t = s.signal_us[0] + (s.hand != strokes_turned ? hand_delay : kDelayUs) + late;
            target.key(t, 'J', "Ringing Room");
            if (s.after_missed) target.key(t + kDoubledUs + 200, 'J', "Ringing Room");
            if (automatic)
                for (const auto& [other, after_us] : {std::pair{'2', 100000}, {'3', 200000}, {'B', 300000}})
                    target.key(t + after_us, other, "Ringing Room");
        }
        time.sleep_us(strikes.back().time_us + 10000000);
    }
    long count(StrikeKind k) const {
        long n = 0;
        for (const Strike& s : strikes) n += s.kind == k;
        return n;
    }

    ~TargetWorld() { time.stop(); }

    std::int64_t hand_delay;

    platform::sim::VirtualTime time;  // keys carry their own times; the clock tells what is overdue
    platform::sim::SimBell bell;
    SimTarget target;
    std::vector<Strike> strikes;
};

TEST(SimTarget, KeysOfAProgramThatKeepsTheRulesAreAllAccountedFor) {
    TargetWorld w(platform::sim::Faults{0, 0, 0.02, 0, 0});
    ASSERT_GT(w.count(StrikeKind::Missed), 1);
    w.ring_all(3000);
    const TargetFigures f = w.target.figures();
    EXPECT_EQ(f.blows, 200);
    EXPECT_EQ(f.strike_keys, 200 - f.missed);
    EXPECT_EQ(f.doubled_keys, f.missed);
    EXPECT_EQ(f.extra_keys, 0);
    EXPECT_EQ(f.strikes_without_key, 0);
    EXPECT_EQ(f.alternation_errors, 0);  // each made-up key puts the stroke right
    EXPECT_DOUBLE_EQ(f.median_ms, 3.0);
    EXPECT_DOUBLE_EQ(f.worst_ms, 3.0);
}

// Hand 1000 ms, back 380: each key is on time whichever stroke the program
// counts, and the automatic bells' keys neither explain nor turn anything.
TEST(SimTarget, UnequalDelaysAndAutomaticBellsLeaveEveryKeyAccountedFor) {
    for (const bool turned : {false, true}) {
        TargetWorld w(platform::sim::Faults{0, 0, 0.02, 0, 0}, 1000000);
        w.ring_all(2000, -1, turned, true);
        const TargetFigures f = w.target.figures();
        EXPECT_EQ(f.keys, 200);
        EXPECT_EQ(f.strike_keys, 200 - f.missed) << turned;
        EXPECT_EQ(f.doubled_keys, f.missed);
        EXPECT_EQ(f.automatic_keys, 3 * (200 - f.missed));
        EXPECT_EQ(f.extra_keys, 0);
        EXPECT_EQ(f.strikes_without_key, 0);
        EXPECT_EQ(f.alternation_errors, 0);
        EXPECT_DOUBLE_EQ(f.worst_ms, 2.0);
        EXPECT_NE(w.target.report().find("besides " + std::to_string(f.automatic_keys) + " keys of the automatic"),
                  std::string::npos);
    }
}

TEST(SimTarget, SpuriousKeysTurnTheSimulatorsStrokeRound) {
    TargetWorld w(platform::sim::Faults{0, 0, 0, 0.02, 0});
    const long spurious = w.count(StrikeKind::Spurious);
    ASSERT_GT(spurious, 1);
    long first_spurious = -1;
    for (std::size_t i = 0; i < w.strikes.size() && first_spurious < 0; ++i)
        if (w.strikes[i].kind == StrikeKind::Spurious) first_spurious = static_cast<long>(i);
    w.ring_all(-2000);
    const TargetFigures f = w.target.figures();
    EXPECT_EQ(f.spurious_keys, spurious);
    EXPECT_DOUBLE_EQ(f.worst_ms, -2.0);
    // The keys after the first spurious one are a stroke out until the next.
    const std::vector<KeyRecord> keys = w.target.keys();
    bool seen_spurious = false;
    for (const KeyRecord& k : keys) {
        if (k.cls == KeyClass::Spurious) seen_spurious = !seen_spurious;
        if (k.cls == KeyClass::Strike) {
            EXPECT_EQ(k.alternation_error, seen_spurious) << "strike " << k.strike;
        }
    }
    EXPECT_GT(f.alternation_errors, 0);
}

TEST(SimTarget, CountsBlowsWithoutAKeyAndKeysWithoutABlow) {
    TargetWorld w(platform::sim::Faults{});
    w.ring_all(1000, /*skip_strike=*/3);
    w.target.key(w.strikes.back().time_us + 900000, 'J', "Ringing Room");  // nowhere near a due time
    const TargetFigures f = w.target.figures();
    EXPECT_EQ(f.strikes_without_key, 1);
    EXPECT_EQ(f.extra_keys, 1);
    EXPECT_EQ(f.strike_keys, 199);
}

}  // namespace
}  // namespace qn::sim
