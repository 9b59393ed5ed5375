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
    explicit TargetWorld(platform::sim::Faults faults) : bell(time, config(faults)), target(time, bell, rule()) {
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
    static DueRule rule() {
        DueRule r;
        r.due = [](const Strike& s, bool) { return s.signal_us[0] < 0 ? -1 : s.signal_us[0] + kDelayUs; };
        r.doubled_delay_us = [] { return kDoubledUs; };
        r.ringer_key = [](char key) { return key == 'J'; };
        return r;
    }
    // The keys a program that keeps the rules sends, `late` after due.
    void ring_all(std::int64_t late, long skip_strike = -1) {
        for (std::size_t i = 0; i < strikes.size(); ++i) {
            const Strike& s = strikes[i];
            if (s.kind == StrikeKind::Missed || static_cast<long>(i) == skip_strike) continue;
            const std::int64_t t = s.signal_us[0] + kDelayUs + late;
            target.key(t, 'J', "Ringing Room");
            if (s.after_missed) target.key(t + kDoubledUs + 200, 'J', "Ringing Room");
        }
        time.sleep_us(strikes.back().time_us + 10000000);
    }
    long count(StrikeKind k) const {
        long n = 0;
        for (const Strike& s : strikes) n += s.kind == k;
        return n;
    }

    ~TargetWorld() { time.stop(); }

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
    w.target.key(w.strikes[5].signal_us[0] + kDelayUs, '2', "Ringing Room");  // another bell's, on the blow
    const TargetFigures f = w.target.figures();
    EXPECT_EQ(f.strikes_without_key, 1);
    EXPECT_EQ(f.extra_keys, 1);
    EXPECT_EQ(f.automatic_keys, 1);
    EXPECT_EQ(f.strike_keys, 199);
}

}  // namespace
}  // namespace qn::sim
