#include <gtest/gtest.h>

#include <vector>

#include "core/stopwatch.h"
#include "core/timing.h"
#include "fakes/fake_platform.h"
#include "platform/timer_margin.h"

namespace qn::test {
namespace {

// A clock whose reported rate can differ from the rate the timed sleep sees.
class RateClock : public platform::Clock {
public:
    explicit RateClock(std::int64_t reported) : reported_(reported) {}
    std::int64_t counter() override { return ticks; }
    std::int64_t frequency() override { return reported_; }
    bool tsc_available() override { return false; }
    std::int64_t tsc() override { return 0; }
    std::int64_t ticks = 0;

private:
    std::int64_t reported_;
};

class SleepyThreads : public FakeThreads {
public:
    SleepyThreads(FakeClock& fc, RateClock& rc, std::int64_t ticks_per_ms) : FakeThreads(fc), rc_(rc), tpm_(ticks_per_ms) {}
    void sleep_ms(std::int32_t ms) override { rc_.ticks += ms * tpm_; }

private:
    RateClock& rc_;
    std::int64_t tpm_;
};

TEST(StopwatchTest, UsesReportedFrequencyEvenWhenTheTimedSleepOvershoots) {
    // 10 MHz counter; the 100 ms gate sleep really lasts 115.6 ms.
    FakeClock fc;
    RateClock rc(10000000);
    SleepyThreads th(fc, rc, 11560);
    Stopwatch t(rc, th);
    EXPECT_EQ(t.system_ticks.ticks_per_second, 10000000);
    EXPECT_EQ(t.system_ticks.measured_frequency, 11560000);
    t.start();
    rc.ticks += 2500000;  // a quarter of a second
    EXPECT_EQ(t.elapsed_us(), 250000);
    EXPECT_EQ(t.elapsed_ms(), 250);
}

TEST(StopwatchTest, SnapsANearMegahertzRateToExactlyOneMegahertz) {
    FakeClock fc;
    for (auto [reported, used, flag] : {std::tuple{1050000LL, 1000000LL, true},
                                       std::tuple{1100000LL, 1100000LL, false},
                                       std::tuple{900000LL, 900000LL, false},
                                       std::tuple{900001LL, 1000000LL, true}}) {
        RateClock rc(reported);
        SleepyThreads th(fc, rc, reported / 1000);
        Stopwatch t(rc, th);
        EXPECT_EQ(t.system_ticks.ticks_per_second, used) << reported;
        EXPECT_EQ(t.microsecond_clock_available, flag) << reported;
    }
}

TEST(StopwatchTest, StopAndStartKeepTheElapsedCount) {
    FakeClock fc;
    RateClock rc(1000000);
    SleepyThreads th(fc, rc, 1000);
    Stopwatch t(rc, th);
    t.clear();
    t.start();
    rc.ticks += 1500;
    t.stop();
    rc.ticks += 99999;  // stopped: not counted
    EXPECT_EQ(t.elapsed_us(), 1500);
    t.start();
    rc.ticks += 500;
    EXPECT_EQ(t.elapsed_us(), 2000);
}

TEST(StopwatchTest, ReadsExactMicrosecondsAfterWeeksAtHighRates) {
    FakeClock fc;
    RateClock rc(3579545);  // the old ACPI PM timer rate
    SleepyThreads th(fc, rc, 3580);
    Stopwatch t(rc, th);
    t.start();
    std::int64_t four_weeks_ticks = 3579545LL * 86400 * 28 + 3579544;  // just under one more second
    rc.ticks += four_weeks_ticks;
    EXPECT_EQ(t.elapsed_us(), 86400LL * 28 * 1000000 + 999999);
}

TEST(Timing, MultInt64IsExact) {
    EXPECT_EQ(multiply_int64(2147483647, 1000), 2147483647000LL);
    EXPECT_EQ(multiply_int64(-40, 1000), -40000);
}

TEST(Timing, HarnessStopwatchFollowsTheFakeClock) {
    Harness h;
    h.fp.clock.advance_us(123456);
    EXPECT_EQ(h.program().clock.elapsed_us(), 123456);
    EXPECT_EQ(h.program().clock.elapsed_ms(), 123);
    h.program().clock.stop();
    EXPECT_FALSE(h.program().clock.running());
    EXPECT_EQ(h.program().clock.elapsed_us(), 0);
}

// The margin a precise wait's timer is armed early by: each row is the
// lateness of a run of wakes, and the margin after them.
TEST(TimerMargin, FollowsTheLatenessTheTimerShows) {
    struct Row {
        const char* what;
        std::vector<std::int64_t> late_ns;
        std::int64_t least_ns, most_ns;
    };
    const std::vector<Row> rows = {
        {"nothing seen yet: the ceiling", {}, 1000000, 1000000},
        {"a timer on time comes down to the floor", std::vector<std::int64_t>(200, 0), 100000, 100000},
        {"a steady 40 us wake-up", std::vector<std::int64_t>(200, 40000), 100000, 110000},
        {"one slow wake after quiet ones lifts it at once",
         [] { auto v = std::vector<std::int64_t>(200, 0); v.push_back(600000); return v; }(), 750000, 800000},
        {"and quiet wakes bring it down again",
         [] { auto v = std::vector<std::int64_t>(200, 0); v.push_back(600000); v.resize(401, 20000); return v; }(),
         100000, 100000},
        {"never above the ceiling", {5000000, 5000000}, 1000000, 1000000},
        {"an early wake counts as on time", std::vector<std::int64_t>(200, -300000), 100000, 100000},
    };
    for (const Row& r : rows) {
        platform::TimerMargin m(100000, 1000000);
        for (std::int64_t late : r.late_ns) m.woke_late_by(late);
        EXPECT_GE(m.margin_ns(), r.least_ns) << r.what;
        EXPECT_LE(m.margin_ns(), r.most_ns) << r.what;
    }
}

}  // namespace
}  // namespace qn::test
