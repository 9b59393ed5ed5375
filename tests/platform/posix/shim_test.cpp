// Modem lines on a pty through the preloaded shim (libqnmodemshim.so). The
// shim must be in the process from the start, so each case runs a child
// process of this binary with LD_PRELOAD set; the child reports what it saw
// and the test judges it against the timeline it wrote.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "platform/posix/posix_serial.h"
#include "platform/posix/posix_services.h"
#include "posix_test_util.h"
#include "timing_figures.h"

namespace {

using namespace qn::platform;
using qn::posixtest::ChildOptions;
using qn::posixtest::ChildResult;
using qn::posixtest::ChildRoutine;
using qn::posixtest::now_us;
using qn::posixtest::PtyPair;
using qn::posixtest::run_child;
using qn::posixtest::TempDir;

// TIOCM_ bits, as the timeline holds them.
constexpr int kCts = 0x020, kCd = 0x040, kRi = 0x080, kDsr = 0x100;
constexpr std::int64_t kMs = 1000;

void sleep_until_us(std::int64_t t) {
    std::int64_t left = t - now_us();
    if (left > 0) std::this_thread::sleep_for(std::chrono::microseconds(left));
}

// The program's serial thread runs time-critical, and so do the children's
// waits here, so that a busy machine does not blur the wake-up times. Says
// whether real-time scheduling was granted.
bool run_time_critical(posix::PosixThreads& threads, const std::function<void()>& body) {
    std::atomic<bool> go{false}, done{false};
    auto info = threads.create([&] {
        while (!go) threads.sleep_ms(0);
        body();
        done = true;
    });
    if (!info.ok()) std::exit(8);
    bool fifo = threads.set_priority(info.value().handle, kPriorityTimeCritical).ok();
    go = true;
    while (!done) threads.sleep_ms(1);
    std::printf("fifo=%d\n", fifo ? 1 : 0);
    return fifo;
}

PortHandle open_port(posix::PosixSerial& serial) {
    auto h = serial.open(std::string("\\\\.\\") + std::getenv("QN_TEST_PORT"));
    if (!h.ok()) {
        std::printf("error=%s\n", h.error().c_str());
        std::exit(3);
    }
    return h.value();
}

// The timeline is written by the child once it runs, timed from a t0 of its
// own, which it reports: how long a busy machine takes to start it does not
// matter.
std::int64_t write_timeline() {
    const std::int64_t t0 = now_us() + 200 * kMs;
    std::ofstream f(std::getenv("QN_SHIM_TIMELINE"), std::ios::app);
    std::istringstream entries(std::getenv("QN_TEST_ENTRIES"));
    std::int64_t offset = 0;
    int word = 0;
    while (entries >> offset >> word) f << t0 + offset << ' ' << word << '\n';
    std::printf("t0=%lld\n", static_cast<long long>(t0));
    return t0;
}

class ShimTest : public ::testing::Test {
protected:
    void SetUp() override { at(0, 0); }
    // An entry for the child to write: word from t0 + offset_us on.
    void at(std::int64_t offset_us, int word) {
        entries += std::to_string(offset_us) + ' ' + std::to_string(word) + ' ';
    }
    ChildResult run(const char* routine, std::vector<std::string> extra = {}) {
        ChildOptions o;
        o.env = {std::string("LD_PRELOAD=") + QN_SHIM_PATH, "QN_SHIM_DEV=" + pty.slave_path,
                 "QN_SHIM_TIMELINE=" + timeline, "QN_TEST_PORT=" + pty.slave_path, "QN_TEST_ENTRIES=" + entries};
        o.env.insert(o.env.end(), extra.begin(), extra.end());
        ChildResult r = run_child(routine, o);
        if (r.values.count("t0")) t0 = std::stoll(r.values["t0"]);
        return r;
    }
    static void expect_clean_exit(const ChildResult& r) {
        ASSERT_FALSE(r.timed_out) << r.out;
        ASSERT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.out;
    }
    // Woken by the entry at t0 + offset, never before it and within 100 ms
    // of it: a wait that misses the change ends at the next one, 100 ms or
    // more later, or never. Precisely (a precision run), within 2 ms, or
    // 20 ms where the child could not have real-time scheduling.
    void expect_woken(const ChildResult& r, const std::string& key, std::int64_t offset) {
        ASSERT_TRUE(r.values.count(key)) << key << "\n" << r.out;
        expect_latency(r, key, std::stoll(r.values.at(key)) - (t0 + offset));
    }
    static void expect_latency(const ChildResult& r, const std::string& what, std::int64_t late) {
        qn::timing::print_figure(what + ": woken after the change", static_cast<double>(late) / 1000.0, "ms");
        EXPECT_GE(late, 0) << what;
        EXPECT_LE(late, 100 * kMs) << what;
        if (qn::timing::precision_run()) {
            EXPECT_LE(late, precise_latency(r)) << what << " (precision)";
        }
    }
    static std::int64_t precise_latency(const ChildResult& r) {
        return r.values.count("fifo") && r.values.at("fifo") == "1" ? 2000 : 20000;
    }

    PtyPair pty;
    TempDir dir;
    std::string timeline = dir.file("timeline");
    std::string entries;
    std::int64_t t0 = 0;  // the child's
};

// ---- modem status and the output lines -------------------------------------------

int lines_child() {
    posix::PosixSerial serial;
    PortHandle port = open_port(serial);
    LineSettings s;
    s.baud = 2400;
    s.dtr_control = LineControl::Enable;
    s.rts_control = LineControl::Disable;
    if (!serial.set_state(port, s).ok()) return 4;
    auto st = serial.get_state(port).value();
    std::printf("dtr=%d\nrts=%d\n", static_cast<int>(st.dtr_control), static_cast<int>(st.rts_control));
    const std::int64_t t0 = write_timeline();
    // Each read 100 ms from the changes either side of it.
    for (int i = 1; i <= 3; ++i) {
        sleep_until_us(t0 + (200 * i - 100) * kMs);
        auto ms = serial.modem_status(port);
        if (!ms.ok()) std::printf("error=%s\n", ms.error().c_str());
        std::printf("status%d=%u\n", i, ms.value_or(999));
    }
    return 0;
}
const ChildRoutine lines("shim_lines", lines_child);

TEST_F(ShimTest, ModemStatusFollowsTheTimeline) {
    at(200 * kMs, kCts);
    at(400 * kMs, kCts | kDsr | kCd | kRi);
    auto r = run("shim_lines");
    expect_clean_exit(r);
    EXPECT_EQ(r.values["dtr"], std::to_string(static_cast<int>(LineControl::Enable)));
    EXPECT_EQ(r.values["rts"], std::to_string(static_cast<int>(LineControl::Disable)));
    EXPECT_EQ(r.values["status1"], "0");
    EXPECT_EQ(r.values["status2"], std::to_string(kLineCts));
    EXPECT_EQ(r.values["status3"], std::to_string(kLineCts | kLineDsr | kLineCd | kLineRi));
}

// ---- waiting for a line to change ---------------------------------------------------

int wait_child() {
    posix::PosixSerial serial;
    posix::PosixThreads threads;
    PortHandle port = open_port(serial);
    write_timeline();
    const std::uint32_t masks[] = {kEventCts, kEventCts | kEventDsr, kEventDsr, kEventCts};
    int n = std::getenv("QN_SHIM_NO_ICOUNT") ? 3 : 4;
    run_time_critical(threads, [&] {
        for (int i = 0; i < n; ++i) {
            serial.set_mask(port, masks[i]);
            auto ev = serial.wait_event(port);
            std::int64_t woke = now_us();
            if (!ev.ok()) std::printf("error%d=%s\n", i, ev.error().c_str());
            std::printf("ev%d=%u\nwoke%d=%lld\n", i, ev.value_or(0), i, static_cast<long long>(woke));
        }
    });
    return 0;
}
const ChildRoutine waits("shim_wait", wait_child);

// The changes are 150 ms apart or more: setting the mask forgets earlier
// changes, so a child woken late must still have set its next mask before
// the next change comes.
TEST_F(ShimTest, WaitEventWakesOnTheWatchedLineOnly) {
    at(50 * kMs, kDsr);            // not watched: no wake
    at(200 * kMs, kDsr | kCts);    // wait 0 (CTS)
    at(400 * kMs, kDsr);           // wait 1 (CTS or DSR): CTS went off
    at(600 * kMs, 0);              // wait 2 (DSR)
    at(800 * kMs, kCts);           // wait 3 (CTS): a pulse of 50 us,
    at(800 * kMs + 50, 0);         // over before anyone can read it
    auto r = run("shim_wait");
    expect_clean_exit(r);
    EXPECT_EQ(r.values["ev0"], std::to_string(kEventCts));
    expect_woken(r, "woke0", 200 * kMs);
    EXPECT_EQ(r.values["ev1"], std::to_string(kEventCts));
    expect_woken(r, "woke1", 400 * kMs);
    EXPECT_EQ(r.values["ev2"], std::to_string(kEventDsr));
    expect_woken(r, "woke2", 600 * kMs);
    // The change counts tell which line it was although it is back already.
    EXPECT_EQ(r.values["ev3"], std::to_string(kEventCts));
    expect_woken(r, "woke3", 800 * kMs);
}

// Drivers without change counts: the status before and after tells.
TEST_F(ShimTest, WaitEventWorksWithoutChangeCounts) {
    at(200 * kMs, kDsr | kCts);
    at(400 * kMs, kDsr);
    at(600 * kMs, 0);
    auto r = run("shim_wait", {"QN_SHIM_NO_ICOUNT=1"});
    expect_clean_exit(r);
    EXPECT_EQ(r.values["ev0"], std::to_string(kEventCts));
    expect_woken(r, "woke0", 200 * kMs);
    EXPECT_EQ(r.values["ev1"], std::to_string(kEventCts));
    expect_woken(r, "woke1", 400 * kMs);
    EXPECT_EQ(r.values["ev2"], std::to_string(kEventDsr));
    expect_woken(r, "woke2", 600 * kMs);
}

// ---- suspending the thread that waits -------------------------------------------------

int suspend_child() {
    posix::PosixSerial serial;
    posix::PosixThreads threads;
    PortHandle port = open_port(serial);
    serial.set_mask(port, kEventCts);
    const std::int64_t t0 = write_timeline();
    std::atomic<std::int64_t> woke[2] = {0, 0};
    std::atomic<std::uint32_t> ev[2] = {0, 0};
    auto waiter = threads.create([&] {
        for (int i = 0; i < 2; ++i) {
            ev[i] = serial.wait_event(port).value_or(0);
            woke[i] = now_us();
        }
    });
    if (!waiter.ok()) return 5;
    ThreadHandle h = waiter.value().handle;
    threads.set_priority(h, kPriorityTimeCritical);
    int failed = 0;
    std::int64_t resumed = 0;
    bool woke_while_parked = false;
    run_time_critical(threads, [&] {
        // Round 1: parked and let go while waiting; the change comes afterwards.
        sleep_until_us(t0 + 50 * kMs);
        if (!threads.suspend(h).ok()) failed = 6;
        sleep_until_us(t0 + 100 * kMs);
        threads.resume(h);
        // Round 2: the change comes while the thread is parked. Each step is
        // 100 ms or more from the next change, for a busy machine.
        sleep_until_us(t0 + 400 * kMs);
        if (!threads.suspend(h).ok()) failed = 7;
        sleep_until_us(t0 + 600 * kMs);
        woke_while_parked = woke[1].load() != 0;
        resumed = now_us();
        threads.resume(h);
    });
    if (failed) return failed;
    while (woke[1].load() == 0) threads.sleep_ms(1);
    std::printf("woke_while_parked=%d\nev0=%u\nwoke0=%lld\nev1=%u\nwoke1=%lld\nresumed=%lld\n",
                woke_while_parked ? 1 : 0, ev[0].load(), static_cast<long long>(woke[0].load()),
                ev[1].load(), static_cast<long long>(woke[1].load()),
                static_cast<long long>(resumed));
    return 0;
}
const ChildRoutine suspends("shim_suspend", suspend_child);

TEST_F(ShimTest, ASuspendedWaitCarriesOnAfterResume) {
    at(200 * kMs, kCts);
    at(500 * kMs, 0);
    auto r = run("shim_suspend");
    expect_clean_exit(r);
    EXPECT_EQ(r.values["ev0"], std::to_string(kEventCts));
    expect_woken(r, "woke0", 200 * kMs);
    EXPECT_EQ(r.values["woke_while_parked"], "0");
    EXPECT_EQ(r.values["ev1"], std::to_string(kEventCts));
    expect_latency(r, "woke1 after the resume", std::stoll(r.values["woke1"]) - std::stoll(r.values["resumed"]));
}

// ---- the shell helpers, with socat's ptys ------------------------------------------------

int sample_child() {
    posix::PosixSerial serial;
    PortHandle port = open_port(serial);
    std::string seen;
    std::uint32_t last = 999;
    for (std::int64_t end = now_us() + 2000 * kMs; now_us() < end;) {
        std::uint32_t ms = serial.modem_status(port).value_or(999);
        if (ms != last) seen += (seen.empty() ? "" : ",") + std::to_string(ms);
        last = ms;
        usleep(2000);
    }
    std::printf("seen=%s\n", seen.c_str());
    return 0;
}
const ChildRoutine samples("shim_sample", sample_child);

// The pulses start a second after the timeline is written: the child must
// be sampling by then, however busy the machine.
TEST(ShimScript, PtyPairAndTimelineFromTheShellHelpers) {
    if (std::system("command -v socat >/dev/null 2>&1") != 0) GTEST_SKIP() << "socat not installed";
    TempDir dir;
    std::string script = dir.file("run.sh");
    {
        std::ofstream f(script);
        f << "set -e\n"
             "source \"$QN_SOURCE_DIR/scripts/lib/modemshim.sh\"\n"
             "qn_shim_pty_pair \"$DIR\"\n"
             "trap qn_shim_stop_pair EXIT\n"
             "dev=$(qn_shim_device \"$QN_SHIM_PORT\")\n"
             "qn_shim_timeline \"$DIR/timeline\"\n"
             "qn_shim_pulses \"$DIR/timeline\" 1000 300 100 2 \"$QN_TIOCM_CTS\"\n"
             "env $(qn_shim_env \"$dev\" \"$DIR/timeline\") QN_POSIX_CHILD=shim_sample \\\n"
             "    QN_TEST_PORT=\"$QN_SHIM_PORT\" \"$EXE\" --gtest_filter=NoSuch.Test\n";
    }
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = '\0';
    std::string cmd = "QN_SOURCE_DIR='" QN_SOURCE_DIR "' QN_SHIM_LIB='" QN_SHIM_PATH "' DIR='" +
                      dir.path() + "' EXE='" + exe + "' bash " + script;
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    int status = pclose(p);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_NE(out.find("seen=0,16,0,16,0\n"), std::string::npos) << out;
}

}  // namespace
