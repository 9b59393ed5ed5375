// The clock and the threads through the real calls.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

#include "platform/posix/posix_services.h"
#include "posix_test_util.h"
#include "timing_figures.h"

namespace {

using namespace qn::platform;
using qn::posixtest::now_us;

TEST(PosixClock, CountsNanosecondsAtTheRateOfTheSteadyClock) {
    posix::PosixClock clock;
    ASSERT_EQ(clock.frequency(), 1000000000);
    // Each counter reading between two steady-clock readings: the counted
    // time lies between the shortest and the longest span they allow, however
    // long a busy machine holds this thread up between two of them.
    using Steady = std::chrono::steady_clock;
    auto a0 = Steady::now();
    std::int64_t c0 = clock.counter();
    auto b0 = Steady::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto a1 = Steady::now();
    std::int64_t c1 = clock.counter();
    auto b1 = Steady::now();
    auto seconds = [](Steady::duration d) { return std::chrono::duration<double>(d).count(); };
    double counted = static_cast<double>(c1 - c0) / static_cast<double>(clock.frequency());
    double shortest = seconds(a1 - b0), longest = seconds(b1 - a0);
    double steady = seconds((a1 - a0) / 2 + (b1 - b0) / 2);
    qn::timing::print_figure("counter rate / steady clock rate", counted / steady, "");
    EXPECT_GE(counted, shortest * 0.999) << shortest << ".." << longest << " s";
    EXPECT_LE(counted, longest * 1.001) << shortest << ".." << longest << " s";
    if (qn::timing::precision_run()) {
        EXPECT_NEAR(counted / steady, 1.0, 0.001);
    }

    std::int64_t last = clock.counter();
    for (int i = 0; i < 100000; ++i) {
        std::int64_t c = clock.counter();
        ASSERT_GE(c, last);
        last = c;
    }
    if (clock.tsc_available()) {
        std::int64_t t0 = clock.tsc();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_GT(clock.tsc(), t0);
    }
}

class PosixThreadsTest : public ::testing::Test {
protected:
    posix::PosixThreads threads;
};

TEST_F(PosixThreadsTest, CreateRunsTheBodyOnItsOwnThreadAndReportsItsId) {
    std::atomic<pid_t> seen{0};
    auto info = threads.create([&] { seen = gettid(); });
    ASSERT_TRUE(info.ok()) << info.error();
    while (seen.load() == 0) std::this_thread::yield();
    EXPECT_EQ(info.value().id, static_cast<std::uint32_t>(seen.load()));
    EXPECT_NE(seen.load(), gettid());
}

// State the threads share with a test outlives the test: the interface has
// no join, so a body may still be running when the test returns.
struct Shared {
    std::atomic<long> progress{0};
    std::atomic<bool> stop{false};
};

TEST_F(PosixThreadsTest, SuspendedThreadMakesNoProgressUntilResumed) {
    auto shared = std::make_shared<Shared>();
    auto info = threads.create([shared] {
        while (!shared->stop) shared->progress.fetch_add(1);
    });
    ASSERT_TRUE(info.ok());
    ThreadHandle h = info.value().handle;
    std::atomic<long>& progress = shared->progress;
    while (progress.load() == 0) std::this_thread::yield();

    ASSERT_TRUE(threads.suspend(h).ok());
    long frozen = progress.load();
    threads.sleep_ms(50);
    EXPECT_EQ(progress.load(), frozen);

    // Suspensions count, as SuspendThread's do.
    ASSERT_TRUE(threads.suspend(h).ok());
    ASSERT_TRUE(threads.resume(h).ok());
    threads.sleep_ms(20);
    EXPECT_EQ(progress.load(), frozen);

    ASSERT_TRUE(threads.resume(h).ok());
    // Running again, as soon as a processor is free for it.
    std::int64_t give_up = now_us() + 2000000;
    while (progress.load() == frozen && now_us() < give_up) threads.sleep_ms(5);
    EXPECT_GT(progress.load(), frozen);
    EXPECT_TRUE(threads.resume(h).ok());  // not suspended: nothing to do

    shared->stop = true;
}

TEST_F(PosixThreadsTest, SuspendingAThreadThatHasEndedFails) {
    auto ran = std::make_shared<std::atomic<bool>>(false);
    auto info = threads.create([ran] { *ran = true; });
    ASSERT_TRUE(info.ok());
    // Its body has run; the thread ends a moment later, which a busy machine
    // can put off by some milliseconds.
    while (!ran->load()) threads.sleep_ms(1);
    threads.sleep_ms(200);
    auto r = threads.suspend(info.value().handle);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().find("pthread_sigqueue"), std::string::npos) << r.error();
}

// Real-time scheduling needs CAP_SYS_NICE or an RLIMIT_RTPRIO; without it the
// call fails and says which call it was.
TEST_F(PosixThreadsTest, TimeCriticalPriorityIsSetOrTheFailureNamesTheCall) {
    auto shared = std::make_shared<Shared>();
    auto info = threads.create([shared] {
        while (!shared->stop) usleep(1000);
    });
    ASSERT_TRUE(info.ok());
    ThreadHandle h = info.value().handle;
    auto set = threads.set_priority(h, kPriorityTimeCritical);
    if (set.ok()) {
        EXPECT_EQ(threads.get_priority(h).value_or(-1), kPriorityTimeCritical);
    } else {
        EXPECT_EQ(set.error().rfind("pthread_setschedparam: ", 0), 0u) << set.error();
        EXPECT_EQ(threads.get_priority(h).value_or(-1), kPriorityNormal);
    }
    ASSERT_TRUE(threads.set_priority(h, kPriorityNormal).ok());
    EXPECT_EQ(threads.get_priority(h).value_or(-1), kPriorityNormal);
    auto other = threads.set_priority(h, 2);
    ASSERT_FALSE(other.ok());
    EXPECT_NE(other.error().find(kNotSupported), std::string::npos);
    shared->stop = true;
}

TEST_F(PosixThreadsTest, SleepLastsAtLeastItsTimeEvenWhenSuspendedMeanwhile) {
    std::atomic<std::int64_t> slept{0};
    auto info = threads.create([&] {
        std::int64_t t0 = now_us();
        threads.sleep_ms(100);
        slept = now_us() - t0;
    });
    ASSERT_TRUE(info.ok());
    threads.sleep_ms(20);
    ASSERT_TRUE(threads.suspend(info.value().handle).ok());
    ASSERT_TRUE(threads.resume(info.value().handle).ok());
    while (slept.load() == 0) threads.sleep_ms(5);
    EXPECT_GE(slept.load(), 100000);
    EXPECT_TRUE(threads.raise_timer_resolution().ok());
}

}  // namespace
