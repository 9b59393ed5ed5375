// The wait service against the real Win32 calls: the serial thread's
// signal, bytes on a port (COM5, a pty pair: see scripts/wine-tests), and
// deadlines. Judged on what woke a wait and that no deadline came early;
// how late they were is printed, with only gross bounds held (a loaded
// machine is slow, not wrong). The console source is tried in the console
// suite, which runs in wineconsole.
#include "wine_support.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace qn::wine_test {
namespace {

using platform::PortHandle;
using platform::kWakeConsole;
using platform::kWakeEvent;
using platform::kWakePort;

platform::Wait& waits() { return *plat().wait; }
std::int64_t now() { return plat().clock->counter(); }
std::int64_t ticks(double ms) { return static_cast<std::int64_t>(ms * plat().clock->frequency() / 1000.0); }
double ms_between(std::int64_t from, std::int64_t to) { return seconds_between(from, to) * 1000.0; }

// Lateness figures of a run, printed.
void print_figures(const char* what, std::vector<double> late_ms) {
    std::sort(late_ms.begin(), late_ms.end());
    const std::size_t n = late_ms.size();
    std::printf("[ figures  ] %s: %zu waits, late median %.3f ms, p99 %.3f ms, worst %.3f ms\n", what, n,
                late_ms[n / 2], late_ms[std::min(n - 1, n * 99 / 100)], late_ms[n - 1]);
}

// CPU time of the calling thread, in ms.
double thread_cpu_ms() {
    FILETIME created, ended, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) return -1;
    auto ms = [](const FILETIME& f) {
        return static_cast<double>((static_cast<std::uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

// CPU time of the whole process, in ms: under Wine this counts the threads
// Wine itself runs in the process too.
double process_cpu_ms() {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return -1;
    auto ms = [](const FILETIME& f) {
        return static_cast<double>((static_cast<std::uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

TEST(Win32Wait, ASignalFromAnotherThreadEndsTheWaitOnce) {
    ASSERT_NE(plat().wait, nullptr);
    std::int64_t sent = 0;
    std::thread serial([&] {
        Sleep(50);
        sent = now();
        waits().signal();
    });
    const std::int64_t start = now();
    auto w = waits().wait_until(start + ticks(5000), kWakeEvent | kWakeConsole, false);
    serial.join();
    ASSERT_TRUE(w.ok()) << w.error();
    EXPECT_EQ(w.value().sources, kWakeEvent);
    EXPECT_GE(w.value().at, sent);
    EXPECT_LT(ms_between(sent, w.value().at), 100.0);
    std::printf("[ figures  ] woken %.3f ms after the signal\n", ms_between(sent, w.value().at));

    // The signal was used up: the next wait lasts to its deadline.
    auto again = waits().wait_until(now() + ticks(30), kWakeEvent, false);
    ASSERT_TRUE(again.ok()) << again.error();
    EXPECT_EQ(again.value().sources, 0u);

    // A signal given before the wait is not lost, and only the sources
    // asked for wake it.
    waits().signal();
    auto early = waits().wait_until(now() + ticks(5000), kWakeEvent, true);
    ASSERT_TRUE(early.ok()) << early.error();
    EXPECT_EQ(early.value().sources, kWakeEvent);
    waits().signal();
    const std::int64_t deaf_start = now();
    auto deaf = waits().wait_until(deaf_start + ticks(30), kWakeConsole, false);
    ASSERT_TRUE(deaf.ok()) << deaf.error();
    EXPECT_EQ(deaf.value().sources, 0u);
    EXPECT_GE(deaf.value().at, deaf_start + ticks(30));
    // A deadline already past still reports a source that is ready.
    waits().signal();
    auto past = waits().wait_until(now() - ticks(5), kWakeEvent, false);
    ASSERT_TRUE(past.ok()) << past.error();
    EXPECT_EQ(past.value().sources, kWakeEvent);
}

TEST(Win32Wait, DeadlinesAreNeverEarly) {
    std::vector<double> precise, imprecise;
    for (int i = 0; i < 300; ++i) {
        const bool exact = i % 3 != 0;
        const std::int64_t deadline = now() + ticks(0.5 + (i % 8));
        auto w = waits().wait_until(deadline, kWakeEvent, exact);
        ASSERT_TRUE(w.ok()) << w.error();
        ASSERT_EQ(w.value().sources, 0u) << "wait " << i;
        const double late = ms_between(deadline, w.value().at);
        ASSERT_GE(w.value().at, deadline) << "wait " << i << " ended " << -late << " ms early";
        EXPECT_LT(late, 100.0) << "wait " << i;
        (exact ? precise : imprecise).push_back(late);
    }
    print_figures("precise deadlines", precise);
    print_figures("longest waits (no spin)", imprecise);

    // A deadline already past ends the wait at once.
    const std::int64_t start = now();
    auto past = waits().wait_until(start - ticks(5), kWakeEvent, true);
    ASSERT_TRUE(past.ok()) << past.error();
    EXPECT_EQ(past.value().sources, 0u);
    EXPECT_LT(ms_between(start, past.value().at), 50.0);
}

TEST(Win32Wait, LongestWaitsSleepRatherThanSpin) {
    const double cpu_before = thread_cpu_ms();
    ASSERT_GE(cpu_before, 0.0) << "GetThreadTimes failed";
    const std::int64_t start = now();
    for (int i = 0; i < 200; ++i) {
        auto w = waits().wait_until(now() + ticks(5), kWakeEvent, false);
        ASSERT_TRUE(w.ok()) << w.error();
    }
    const double wall = ms_between(start, now());
    const double cpu = thread_cpu_ms() - cpu_before;
    std::printf("[ figures  ] 200 waits of 5 ms: %.0f ms, %.1f ms of CPU\n", wall, cpu);
    // A spin would take the whole second.
    EXPECT_LT(cpu, wall * 0.3);
}

// A precise wait ended by a source leaves its timer armed; when the timer
// fires later, the next precise wait must not take that for its own and
// spin all the way to its deadline.
TEST(Win32Wait, ATimerLeftFromAnEarlierWaitDoesNotEndTheNext) {
    const double cpu_before = thread_cpu_ms();
    const std::int64_t start = now();
    for (int i = 0; i < 10; ++i) {
        waits().signal();
        auto cut = waits().wait_until(now() + ticks(20), kWakeEvent, true);
        ASSERT_TRUE(cut.ok()) << cut.error();
        ASSERT_EQ(cut.value().sources, kWakeEvent);
        Sleep(40);  // the timer fires meanwhile
        auto w = waits().wait_until(now() + ticks(30), kWakeEvent, true);
        ASSERT_TRUE(w.ok()) << w.error();
        ASSERT_EQ(w.value().sources, 0u);
    }
    const double wall = ms_between(start, now());
    const double cpu = thread_cpu_ms() - cpu_before;
    std::printf("[ figures  ] 10 precise waits of 30 ms after a stale timer: %.0f ms, %.1f ms of CPU\n", wall, cpu);
    EXPECT_LT(cpu, wall * 0.25);
}

TEST(Win32Wait, SleepUntilFromAnotherThread) {
    std::vector<double> late;
    std::atomic<bool> early{false};
    std::thread serial([&] {
        for (int i = 0; i < 200; ++i) {
            const std::int64_t deadline = now() + ticks(2.0);
            waits().sleep_until(deadline);
            const std::int64_t at = now();
            if (at < deadline) early = true;
            late.push_back(ms_between(deadline, at));
        }
    });
    // The main thread waits meanwhile, on its own timer.
    auto w = waits().wait_until(now() + ticks(100), kWakeEvent, true);
    serial.join();
    ASSERT_TRUE(w.ok()) << w.error();
    EXPECT_FALSE(early);
    EXPECT_LT(*std::max_element(late.begin(), late.end()), 100.0);
    print_figures("sleep_until 2 ms on a second thread", late);
}

// ---- bytes on the port --------------------------------------------------------

class Win32WaitPort : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string name = env("QN_TEST_COM");
        const std::string peer = env("QN_TEST_COM_PEER");
        if (name.empty() || peer.empty())
            GTEST_SKIP() << "needs QN_TEST_COM and QN_TEST_COM_PEER (scripts/wine-tests sets them)";
        auto& s = *plat().serial;
        auto h = s.open("\\\\.\\" + name);
        ASSERT_TRUE(h.ok()) << h.error();
        port_ = h.value();
        platform::LineSettings ls;
        ls.baud = 2400;
        ASSERT_TRUE(s.set_state(port_, ls).ok());
        // As the service loop reads: whatever is there, at once.
        ASSERT_TRUE(s.set_timeouts(port_, platform::Timeouts{platform::kTimeoutMax, 0, 0, 0, 30000}).ok());
        ASSERT_TRUE(s.purge(port_, PURGE_RXCLEAR | PURGE_RXABORT).ok());
        peer_ = CreateFileA(peer.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(peer_, INVALID_HANDLE_VALUE) << "cannot open " << peer;
        waits().watch_port(port_);
    }
    void TearDown() override {
        waits().watch_port(0);
        if (port_) plat().serial->close(port_);
        if (peer_ != INVALID_HANDLE_VALUE) CloseHandle(peer_);
    }

    void send(const char* bytes) {
        DWORD n = 0;
        const DWORD len = static_cast<DWORD>(std::strlen(bytes));
        ASSERT_TRUE(WriteFile(peer_, bytes, len, &n, nullptr));
        ASSERT_EQ(n, len);
    }
    // One byte as the loop reads it; -1 when none is there.
    int read_one() {
        char ch = 0;
        auto r = plat().serial->read(port_, &ch, 1);
        EXPECT_TRUE(r.ok()) << r.error();
        return r.ok() && r.value() == 1 ? static_cast<unsigned char>(ch) : -1;
    }
    platform::Wake wait_ms(double ms) {
        auto w = waits().wait_until(now() + ticks(ms), kWakePort, false);
        EXPECT_TRUE(w.ok()) << w.error();
        return w.ok() ? w.value() : platform::Wake{};
    }

    PortHandle port_ = 0;
    HANDLE peer_ = INVALID_HANDLE_VALUE;
};

TEST_F(Win32WaitPort, AByteEndsTheWaitAndIsThenRead) {
    // Nothing yet, and waiting for it costs no CPU (as the loop waits:
    // a pass, a read, a wait).
    const double cpu_before = thread_cpu_ms();
    const double all_before = process_cpu_ms();
    const std::int64_t start = now();
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(wait_ms(5).sources, 0u);
        ASSERT_EQ(read_one(), -1);
    }
    const double wall = ms_between(start, now());
    const double cpu = thread_cpu_ms() - cpu_before;
    const double all = process_cpu_ms() - all_before;
    std::printf("[ figures  ] 100 waits of 5 ms on an idle port: %.0f ms, %.1f ms of CPU (%.1f ms in the whole process)\n",
                wall, cpu, all);
    EXPECT_LT(cpu, wall * 0.3);
    // Wine's emulation of WaitCommEvent polls the port on a thread of its
    // own, which took 0.4 of the time.
    EXPECT_LT(all, wall * 0.25);
    std::int64_t sent = 0;
    std::thread bell([&] {
        Sleep(50);
        sent = now();
        send("A");
    });
    const platform::Wake w = wait_ms(5000);
    bell.join();
    ASSERT_EQ(w.sources, kWakePort);
    EXPECT_LT(ms_between(sent, w.at), 100.0);
    std::printf("[ figures  ] woken %.3f ms after the byte was written\n", ms_between(sent, w.at));
    EXPECT_EQ(read_one(), 'A');
    // Read: the port has nothing more to say.
    EXPECT_EQ(wait_ms(50).sources, 0u);
}

// The loop reads every pass, whatever woke it: beside a wait still under
// way, a read returns at once, with nothing or with the byte.
TEST_F(Win32WaitPort, ReadsBesideAWaitUnderWayReturnAtOnce) {
    std::int64_t start = now();
    EXPECT_EQ(read_one(), -1);
    EXPECT_LT(ms_between(start, now()), 100.0);
    EXPECT_EQ(wait_ms(20).sources, 0u);
    start = now();
    EXPECT_EQ(read_one(), -1);
    EXPECT_LT(ms_between(start, now()), 100.0);
    // A byte taken by the reads alone, while the wait is still under way,
    // wakes no later wait.
    send("r");
    int got = -1;
    start = now();
    while (got < 0 && ms_between(start, now()) < 2000) got = read_one();
    EXPECT_EQ(got, 'r');
    std::printf("[ figures  ] read %.3f ms after it was written, beside the wait's call\n", ms_between(start, now()));
    EXPECT_EQ(wait_ms(50).sources, 0u);
}

TEST_F(Win32WaitPort, BytesAlreadyWaitingWakeEveryWaitUntilRead) {
    send("xyz");
    std::string got;
    for (int i = 0; i < 3; ++i) {
        const platform::Wake w = wait_ms(2000);
        ASSERT_EQ(w.sources, kWakePort) << "byte " << i;
        const int b = read_one();
        ASSERT_GE(b, 0) << "byte " << i;
        got += static_cast<char>(b);
    }
    EXPECT_EQ(got, "xyz");
    EXPECT_EQ(wait_ms(50).sources, 0u);
}

TEST_F(Win32WaitPort, PurgedBytesDoNotWake) {
    send("p");
    ASSERT_EQ(wait_ms(2000).sources, kWakePort);
    // The wait for the next byte is under way beside the purge.
    ASSERT_TRUE(plat().serial->purge(port_, PURGE_RXCLEAR | PURGE_RXABORT).ok());
    EXPECT_EQ(wait_ms(50).sources, 0u);
    send("q");
    ASSERT_EQ(wait_ms(2000).sources, kWakePort);
    EXPECT_EQ(read_one(), 'q');
}

// Under Wine the wait's call on the port is a read, and the byte it brings
// is held for the program's next read: it must come first, once, and go
// with a purge of the input or with the port.
TEST_F(Win32WaitPort, AByteTheWaitBroughtIsReadFirstOnce) {
    send("h");
    ASSERT_EQ(wait_ms(2000).sources, kWakePort);
    send("ij");
    Sleep(50);  // in the queue behind it
    EXPECT_EQ(read_one(), 'h');
    EXPECT_EQ(read_one(), 'i');
    ASSERT_EQ(wait_ms(2000).sources, kWakePort);
    EXPECT_EQ(read_one(), 'j');
    EXPECT_EQ(read_one(), -1);
    EXPECT_EQ(wait_ms(50).sources, 0u);

    // A read that may wait (as calibration reads) takes it too, at once.
    send("k");
    ASSERT_EQ(wait_ms(2000).sources, kWakePort);
    auto& s = *plat().serial;
    ASSERT_TRUE(s.set_timeouts(port_, platform::Timeouts{0, 0, 1000, 0, 30000}).ok());
    char ch = 0;
    const std::int64_t start = now();
    auto r = s.read(port_, &ch, 1);
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(r.value(), 1u);
    EXPECT_EQ(ch, 'k');
    EXPECT_LT(ms_between(start, now()), 500.0);
}

TEST_F(Win32WaitPort, APurgeOfTheInputDropsAByteTheWaitBrought) {
    auto& s = *plat().serial;
    send("d");
    ASSERT_EQ(wait_ms(2000).sources, kWakePort);
    send("e");
    Sleep(50);
    ASSERT_TRUE(s.purge(port_, PURGE_RXCLEAR).ok());
    EXPECT_EQ(read_one(), -1);
    EXPECT_EQ(wait_ms(50).sources, 0u);
    // Purging the output keeps it.
    send("f");
    ASSERT_EQ(wait_ms(2000).sources, kWakePort);
    ASSERT_TRUE(s.purge(port_, PURGE_TXCLEAR | PURGE_TXABORT).ok());
    EXPECT_EQ(read_one(), 'f');
}

TEST_F(Win32WaitPort, AByteTheWaitBroughtGoesWithThePort) {
    auto& s = *plat().serial;
    send("c");
    ASSERT_EQ(wait_ms(2000).sources, kWakePort);
    s.close(port_);
    // Windows hands out a closed handle's value again: the new port must
    // not read the old one's byte.
    auto h = s.open("\\\\.\\" + env("QN_TEST_COM"));
    ASSERT_TRUE(h.ok()) << h.error();
    port_ = h.value();
    ASSERT_TRUE(s.set_timeouts(port_, platform::Timeouts{platform::kTimeoutMax, 0, 0, 0, 30000}).ok());
    waits().watch_port(port_);
    EXPECT_EQ(read_one(), -1);
    EXPECT_EQ(wait_ms(50).sources, 0u);
    send("o");
    ASSERT_EQ(wait_ms(2000).sources, kWakePort);
    EXPECT_EQ(read_one(), 'o');
}

// A read that may wait, beside the wait's call under way: it gets the byte
// that comes, and the next wait watches the port again.
TEST_F(Win32WaitPort, AReadThatMayWaitGoesBesideTheWatch) {
    auto& s = *plat().serial;
    EXPECT_EQ(wait_ms(20).sources, 0u);  // the call is under way
    ASSERT_TRUE(s.set_timeouts(port_, platform::Timeouts{0, 0, 2000, 0, 30000}).ok());
    std::thread bell([&] {
        Sleep(50);
        send("w");
    });
    char ch = 0;
    auto r = s.read(port_, &ch, 1);
    bell.join();
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(r.value(), 1u);
    EXPECT_EQ(ch, 'w');
    ASSERT_TRUE(s.set_timeouts(port_, platform::Timeouts{platform::kTimeoutMax, 0, 0, 0, 30000}).ok());
    EXPECT_EQ(wait_ms(50).sources, 0u);
    send("v");
    ASSERT_EQ(wait_ms(2000).sources, kWakePort);
    EXPECT_EQ(read_one(), 'v');
}

// A port not watched does not end a wait early; the wait then says to look
// at the port, as it could not.
TEST_F(Win32WaitPort, OnlyTheWatchedPortWakes) {
    waits().watch_port(0);
    send("n");
    const std::int64_t start = now();
    const platform::Wake blind = wait_ms(50);
    EXPECT_EQ(blind.sources, kWakePort);
    EXPECT_GE(ms_between(start, blind.at), 50.0);
    waits().watch_port(port_);
    EXPECT_EQ(wait_ms(2000).sources, kWakePort);
    EXPECT_EQ(read_one(), 'n');
}

TEST_F(Win32WaitPort, AClosedPortWakesOnceAndIsThenLeftOut) {
    EXPECT_EQ(wait_ms(20).sources, 0u);  // a wait on it is under way
    plat().serial->close(port_);
    port_ = 0;
    EXPECT_EQ(wait_ms(2000).sources, kWakePort);  // the reader finds out why
    const double cpu_before = thread_cpu_ms();
    const std::int64_t start = now();
    const platform::Wake quiet = wait_ms(200);
    EXPECT_EQ(quiet.sources, kWakePort);  // at its deadline: look at the port
    EXPECT_GE(ms_between(start, quiet.at), 200.0);
    EXPECT_LT(thread_cpu_ms() - cpu_before, 100.0);
}

// ---- the latency timer of an FTDI adapter ------------------------------------

class Win32SerialLatency : public Win32WaitPort {
protected:
    static constexpr const char* kBus = "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";
    static constexpr const char* kDevice = "VID_0403+PID_6001+QNTEST1A";

    void TearDown() override {
        HKEY bus = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBus, 0, KEY_ALL_ACCESS, &bus) == ERROR_SUCCESS) {
            RegDeleteTreeA(bus, kDevice);
            RegCloseKey(bus);
        }
        if (made_bus_) RegDeleteKeyA(HKEY_LOCAL_MACHINE, kBus);
        Win32WaitPort::TearDown();
    }

    // The key FTDI's driver makes for a device on port_name.
    void add_device(const std::string& port_name, DWORD latency) {
        HKEY probe = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBus, 0, KEY_READ, &probe) == ERROR_SUCCESS)
            RegCloseKey(probe);
        else
            made_bus_ = true;
        const std::string path = std::string(kBus) + "\\" + kDevice + "\\0000\\Device Parameters";
        HKEY key = nullptr;
        LSTATUS rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                     &key, nullptr);
        if (rc == ERROR_ACCESS_DENIED) GTEST_SKIP() << "writing under HKLM needs an administrator";
        ASSERT_EQ(rc, ERROR_SUCCESS);
        RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(port_name.c_str()),
                       static_cast<DWORD>(port_name.size() + 1));
        RegSetValueExA(key, "LatencyTimer", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&latency), sizeof latency);
        RegCloseKey(key);
    }

    bool made_bus_ = false;
};

TEST_F(Win32SerialLatency, TheDriversTimerIsReadForThePortItServes) {
    auto& s = *plat().serial;
    const std::string name = env("QN_TEST_COM");
    const platform::PortLatency none = s.tune_latency(port_);
    EXPECT_EQ(none.timer_ms, -1);  // not an FTDI port
    EXPECT_FALSE(none.low_latency);

    add_device("COM77", 16);  // another port
    EXPECT_EQ(s.tune_latency(port_).timer_ms, -1);

    add_device(name, 16);
    const platform::PortLatency high = s.tune_latency(port_);
    EXPECT_EQ(high.timer_ms, 16);
    EXPECT_FALSE(high.low_latency);  // Windows has no such request
    EXPECT_NE(high.where.find(std::string("FTDIBUS\\") + kDevice + "\\0000\\Device Parameters"), std::string::npos)
        << high.where;
    EXPECT_NE(high.advice.find("Latency Timer"), std::string::npos) << high.advice;

    add_device(name, 1);
    const platform::PortLatency low = s.tune_latency(port_);
    EXPECT_EQ(low.timer_ms, 1);
    EXPECT_TRUE(low.advice.empty()) << low.advice;

    EXPECT_EQ(s.tune_latency(0).timer_ms, -1);  // no port at all
}

}  // namespace
}  // namespace qn::wine_test
