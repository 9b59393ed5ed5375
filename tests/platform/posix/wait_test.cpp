// The POSIX wait on the real calls: what ends a wait, deadlines kept, no
// spinning, and descriptors in error left out. Lateness is printed; only
// gross bounds are asserted, as a loaded machine can wake anyone late.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

#include "platform/posix/posix_console.h"
#include "platform/posix/posix_serial.h"
#include "platform/posix/posix_services.h"
#include "platform/posix/posix_wait.h"
#include "posix_test_util.h"

namespace qn {
namespace {

using platform::kWakeConsole;
using platform::kWakeEvent;
using platform::kWakePort;
using posixtest::PtyPair;

constexpr std::int64_t kMs = 1000000;  // the counter is in nanoseconds

std::int64_t now_ns() { return platform::posix::PosixClock().counter(); }

double thread_cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

TEST(PosixWait, ASignalFromAnotherThreadEndsTheWaitAndIsTakenOnce) {
    platform::posix::PosixWait w(nullptr);
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        w.signal();
        w.signal();  // two signals before the wait looks: one wake
    });
    const std::int64_t start = now_ns();
    auto r = w.wait_until(start + 5000 * kMs, kWakeEvent | kWakeConsole, false);
    t.join();
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(r.value().sources, kWakeEvent);
    EXPECT_LT(r.value().at - start, 2000 * kMs);
    // Taken: the next wait runs to its deadline. Without kWakeEvent in the
    // sources a signal does not end a wait either.
    w.signal();
    auto again = w.wait_until(now_ns() + 20 * kMs, kWakeConsole, false);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.value().sources, 0u);
    EXPECT_EQ(w.wait_until(now_ns() + 20 * kMs, kWakeEvent, false).value().sources, kWakeEvent);
}

TEST(PosixWait, AByteOnTheWatchedPortAndAKeyOnTheKeyboardEndTheWait) {
    PtyPair port_pty, keys_pty;
    platform::posix::PosixSerial serial;
    auto h = serial.open(port_pty.slave_path);
    ASSERT_TRUE(h.ok()) << h.error();
    platform::posix::PosixConsole console(keys_pty.slave, keys_pty.slave);
    ASSERT_TRUE(console.open(25, 80).ok());  // raw: a key is there without Enter
    platform::posix::PosixWait w(&console);
    w.watch_port(h.value());

    ASSERT_EQ(::write(port_pty.master, "a", 1), 1);
    auto r = w.wait_until(now_ns() + 5000 * kMs, kWakePort | kWakeConsole, false);
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(r.value().sources, kWakePort);
    char ch = 0;
    ASSERT_TRUE(serial.set_timeouts(h.value(), {platform::kTimeoutMax, 0, 0, 0, 0}).ok());
    EXPECT_EQ(serial.read(h.value(), &ch, 1).value(), 1u);
    EXPECT_EQ(ch, 'a');

    ASSERT_EQ(::write(keys_pty.master, "q", 1), 1);
    r = w.wait_until(now_ns() + 5000 * kMs, kWakePort | kWakeConsole, false);
    EXPECT_EQ(r.value().sources, kWakeConsole);
    ASSERT_TRUE(console.key_waiting());
    EXPECT_EQ(console.read_key(), 'q');
    console.close();
    // A port no longer watched does not end a wait early, and the wait
    // says to look at it, as it could not.
    w.watch_port(0);
    ASSERT_EQ(::write(port_pty.master, "b", 1), 1);
    const std::int64_t from = now_ns();
    EXPECT_EQ(w.wait_until(from + 20 * kMs, kWakePort, false).value().sources, kWakePort);
    EXPECT_GE(now_ns() - from, 15 * kMs);
    serial.close(h.value());
}

TEST(PosixWait, DeadlinesAreKeptAndAnImpreciseWaitDoesNotSpin) {
    platform::posix::PosixWait w(nullptr);
    std::vector<double> late_us;
    for (int i = 0; i < 200; ++i) {
        const std::int64_t due = now_ns() + 3 * kMs;
        auto r = w.wait_until(due, kWakeEvent, true);
        ASSERT_TRUE(r.ok()) << r.error();
        const std::int64_t back = now_ns();
        EXPECT_EQ(r.value().sources, 0u);
        EXPECT_GE(back, due) << "a precise wait never ends early";
        EXPECT_LT(back - due, 100 * kMs);
        late_us.push_back((back - due) / 1000.0);
    }
    std::sort(late_us.begin(), late_us.end());
    std::printf("precise waits: late by median %.1f us, p99 %.1f us, worst %.1f us\n", late_us[100], late_us[197],
                late_us.back());

    // Fifty 5 ms waits take a quarter of a second and almost no CPU.
    const double cpu0 = thread_cpu_ms();
    const std::int64_t start = now_ns();
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(w.wait_until(now_ns() + 5 * kMs, kWakeEvent, false).ok());
    const double cpu = thread_cpu_ms() - cpu0;
    std::printf("50 imprecise 5 ms waits: %.1f ms, CPU %.2f ms\n", (now_ns() - start) / 1e6, cpu);
    EXPECT_GE(now_ns() - start, 250 * kMs);
    EXPECT_LT(cpu, 100.0);

    // sleep_until, from any thread.
    std::int64_t woke = 0, due = 0;
    std::thread t([&] {
        due = now_ns() + 10 * kMs;
        w.sleep_until(due);
        woke = now_ns();
    });
    t.join();
    EXPECT_GE(woke, due);
    EXPECT_LT(woke - due, 100 * kMs);
}

// A pulled adapter or a closed terminal leaves a descriptor that polls as
// ready for ever: it must end one wait, not every wait after it (which then
// run their time and say to look at the port, whose reads tell the reader).
TEST(PosixWait, ADescriptorThatHungUpEndsOneWaitOnly) {
    auto* port_pty = new PtyPair;
    platform::posix::PosixSerial serial;
    auto h = serial.open(port_pty->slave_path);
    ASSERT_TRUE(h.ok()) << h.error();
    platform::posix::PosixWait w(nullptr);
    w.watch_port(h.value());
    ::close(port_pty->master);  // the other end is gone: POLLHUP
    port_pty->master = -1;
    auto r = w.wait_until(now_ns() + 5000 * kMs, kWakePort, false);
    EXPECT_EQ(r.value().sources, kWakePort);
    const std::int64_t start = now_ns();
    r = w.wait_until(start + 50 * kMs, kWakePort, false);
    EXPECT_EQ(r.value().sources, kWakePort);
    EXPECT_GE(now_ns() - start, 40 * kMs);
    serial.close(h.value());
    delete port_pty;
}

TEST(PosixSerialLatency, APortWithoutAnAdapterSaysWhyAndHasNoTimer) {
    PtyPair pty;
    platform::posix::PosixSerial serial;
    auto h = serial.open(pty.slave_path);
    ASSERT_TRUE(h.ok()) << h.error();
    const platform::PortLatency l = serial.tune_latency(h.value());
    EXPECT_EQ(l.timer_ms, -1);
    EXPECT_FALSE(l.low_latency);
    EXPECT_EQ(l.note.rfind("TIOCGSERIAL: ", 0), 0u) << l.note;
    serial.close(h.value());
    EXPECT_EQ(serial.tune_latency(h.value()).note.rfind("TIOCGSERIAL: ", 0), 0u);
}

}  // namespace
}  // namespace qn
