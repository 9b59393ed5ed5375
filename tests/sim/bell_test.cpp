// The simulated bell: the rhythm of rounds, the shapes of the sensor
// signals, and faults placed where the program can judge them.
#include <map>

#include <gtest/gtest.h>

#include "platform/serial.h"
#include "platform/sim/bell.h"

namespace qn::platform::sim {
namespace {

std::vector<Strike> service(BellConfig cfg, ServicePlan plan) {
    RealTime time;
    SimBell bell(time, cfg);
    std::lock_guard<std::mutex> g(time.mutex());
    bell.start_service(0, plan);
    bell.service_end();
    return bell.strikes_until(0);
}

// The line's changes as (time, word) from the start.
std::vector<std::pair<std::int64_t, std::uint32_t>> changes(SimBell& bell) {
    std::vector<std::pair<std::int64_t, std::uint32_t>> out;
    for (std::int64_t t = bell.next_change_after(0); t != kNever; t = bell.next_change_after(t))
        out.emplace_back(t, bell.word_at(t));
    return out;
}

TEST(SimBell, RingsRoundsWithTheHandstrokeGapAndPausesBetweenTouches) {
    ServicePlan plan;
    plan.rows = 300;
    plan.touch_min = 100;
    plan.touch_max = 100;
    const std::int64_t b = plan.rhythm.blow_us();
    EXPECT_EQ(b, 252100);  // 180 minutes: 2520 whole pulls of 17 blows
    const std::vector<Strike> s = service(BellConfig{}, plan);
    ASSERT_EQ(s.size(), 300u);
    for (std::size_t i = 1; i < s.size(); ++i) {
        const std::int64_t gap = s[i].time_us - s[i - 1].time_us;
        EXPECT_EQ(s[i].hand, i % 2 == 0);
        if (s[i].touch != s[i - 1].touch)
            EXPECT_GT(gap, 8000000);  // the pause ends the touch
        else
            EXPECT_EQ(gap, s[i].hand ? 9 * b : 8 * b) << "row " << s[i].row;
    }
    EXPECT_EQ(s.back().touch, 3);
    EXPECT_EQ(s.back().row, 300);
}

TEST(SimBell, PutsMissedAndSpuriousStrikesWhereTheyCanBeJudged) {
    BellConfig cfg;
    cfg.faults.missed = 0.02;
    cfg.faults.spurious = 0.02;
    ServicePlan plan;
    plan.rows = 1000;
    plan.touch_min = 60;
    plan.touch_max = 120;
    const std::vector<Strike> s = service(cfg, plan);
    std::map<int, long> first_row, last_row;
    for (const Strike& x : s) {
        if (!first_row.count(x.touch)) first_row[x.touch] = x.row;
        last_row[x.touch] = x.row;
    }
    long missed = 0, spurious = 0, last_fault = -100;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i].kind == StrikeKind::Real) continue;
        // Not among the first blows of a touch, which are not judged, nor
        // at its end, and not on top of another fault.
        EXPECT_GE(s[i].row - first_row[s[i].touch], 12);
        EXPECT_LE(s[i].row, last_row[s[i].touch] - 3);
        EXPECT_GE(s[i].row - last_fault, 10);
        last_fault = s[i].row;
        if (s[i].kind == StrikeKind::Missed) {
            ++missed;
            EXPECT_EQ(s[i].signal_us[0], -1);
            ASSERT_LT(i + 1, s.size());
            EXPECT_TRUE(s[i + 1].after_missed);
        } else {
            ++spurious;
            // Between its row's blow and the next, well short of the spacing.
            const double part = static_cast<double>(s[i].time_us - s[i - 1].time_us) /
                                static_cast<double>(s[i + 1].time_us - s[i - 1].time_us);
            EXPECT_GE(part, 0.3);
            EXPECT_LE(part, 0.45);
        }
    }
    EXPECT_GE(missed, 15);  // one in each 50 rows, where the touch allows
    EXPECT_LE(missed, 20);
    EXPECT_GE(spurious, 12);
    EXPECT_LE(spurious, 20);
}

TEST(SimBell, TheSameSeedRingsTheSameBlows) {
    BellConfig cfg;
    cfg.faults = Faults{0.3, 0.2, 0.01, 0.01, 0};
    cfg.seed = 7;
    ServicePlan plan;
    plan.rows = 400;
    plan.rhythm.jitter_ms = 10;
    auto times = [&](std::uint64_t seed) {
        cfg.seed = seed;
        std::vector<std::int64_t> t;
        for (const Strike& s : service(cfg, plan)) t.push_back(s.time_us);
        return t;
    };
    EXPECT_EQ(times(7), times(7));
    EXPECT_NE(times(7), times(8));
}

TEST(SimBell, SensorsGiveTheirShapeOfSignal) {
    RealTime time;
    auto pull = [&](BellConfig cfg) {
        auto bell = std::make_unique<SimBell>(time, cfg);
        std::lock_guard<std::mutex> g(time.mutex());
        bell->ring_pull(0, Rhythm{});
        return changes(*bell);
    };
    BellConfig two;
    two.sensors = 2;
    two.line = kLineDsr;
    auto c = pull(two);
    ASSERT_EQ(c.size(), 8u);  // two pulses a stroke
    for (std::size_t i = 0; i < c.size(); ++i) EXPECT_EQ(c[i].second, i % 2 == 0 ? kLineDsr : 0u);
    EXPECT_NEAR(static_cast<double>(c[1].first - c[0].first), 50000, 2500);   // the pulse
    EXPECT_NEAR(static_cast<double>(c[2].first - c[0].first), 150000, 2500);  // the next sensor

    BellConfig rest_on;
    rest_on.style = SensorStyle::RestOn;
    c = pull(rest_on);
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].second, 0u);
    EXPECT_EQ(c[1].second, kLineCts);

    BellConfig handbell;
    handbell.style = SensorStyle::OnOff;
    c = pull(handbell);
    ASSERT_EQ(c.size(), 2u);  // ON at handstroke, OFF at backstroke
    EXPECT_EQ(c[0].second, kLineCts);
    EXPECT_EQ(c[1].second, 0u);
    EXPECT_EQ(c[1].first - c[0].first, 8 * Rhythm{}.blow_us());

    // Held ON from the start, freed at the end of the ringer's second pull.
    BellConfig stuck;
    stuck.faults.on_at_start = 2;
    auto bell = std::make_unique<SimBell>(time, stuck);
    std::lock_guard<std::mutex> g(time.mutex());
    EXPECT_EQ(bell->word_at(0), kLineCts);
    bell->ring_pull(0, Rhythm{});
    const std::int64_t end = bell->ring_pull(0, Rhythm{});
    c = changes(*bell);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].second, 0u);
    EXPECT_EQ(c[0].first, end);
    bell->ring_pull(0, Rhythm{});
    EXPECT_EQ(changes(*bell).size(), 5u);
}

TEST(SimBell, TheBoxSendsACharacterPerSensorEventOneAfterAnother) {
    RealTime time;
    BellConfig cfg;
    cfg.mode = InputMode::Data;
    cfg.sensors = 2;
    cfg.sensor_gap_ms = 1;  // closer than a character takes
    cfg.data_char = 'k';
    SimBell bell(time, cfg);
    std::lock_guard<std::mutex> g(time.mutex());
    bell.ring_pull(0, Rhythm{});
    EXPECT_EQ(bell.next_change_after(0), kNever);
    EXPECT_EQ(bell.word_at(5000000), 0u);
    const std::vector<DataByte>& bytes = bell.bytes_until(0);
    ASSERT_EQ(bytes.size(), 4u);
    EXPECT_EQ(bytes[0].ch, 'k');
    EXPECT_GE(bytes[1].arrival_us - bytes[0].arrival_us, 4167);
    const Strike& hand = bell.strikes_until(0)[0];
    EXPECT_EQ(hand.signal_us[0], bytes[0].arrival_us);
    EXPECT_EQ(hand.signal_us[1], bytes[1].arrival_us);
}

}  // namespace
}  // namespace qn::platform::sim
