// The program's serial status thread on the real POSIX calls: a pty whose
// CTS line the modem shim (libqnmodemshim.so) plays from a timeline. The
// shim must be in the process from the start, so the thread runs in a child
// process of this binary that reports the ring it left; the test judges it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "posix_test_util.h"
#include "shim/serialthread_timeline.h"

namespace {

using namespace qn;
using qn::posixtest::ChildOptions;
using qn::posixtest::ChildRoutine;
using qn::posixtest::PtyPair;
using qn::posixtest::run_child;
using qn::posixtest::TempDir;
using qn::shimtest::RingEvent;
using qn::shimtest::RingRecord;

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void append(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::app);
    f << text;  // one write, on close: the shim never sees half of it
}

void print_event(const char* key, std::size_t i, const RingEvent& e) {
    std::printf("%s%zu=%u %d %lld\n", key, i, e.word, e.code, static_cast<long long>(e.time_us));
}

RingEvent parse_event(const std::string& text) {
    RingEvent e;
    long long t = 0;
    std::istringstream(text) >> e.word >> e.code >> t;
    e.time_us = t;
    return e;
}

int serialthread_child() {
    auto& rig = shimtest::leaked_program();
    Program& program = *rig.program;
    const std::string timeline = std::getenv("QN_SHIM_TIMELINE");
    auto port = rig.plat.serial->open(std::string("\\\\.\\") + std::getenv("QN_TEST_PORT"));
    if (!port.ok()) {
        std::printf("error=%s\n", port.error().c_str());
        return 3;
    }
    program.cfg.use_line[ModemLine::Cts] = true;
    program.cfg.transient_ms = 2;
    program.sensing.start_thread(port.value(), program.cfg.use_line);
    if (!wait_until([&] { return program.sensing.thread_running(); }, 5000)) return 4;
    auto got = rig.plat.threads->get_priority(program.sensing.thread()->os_thread());
    std::printf("fifo=%d\n", got.ok() && got.value() == platform::kPriorityTimeCritical ? 1 : 0);

    const auto changes = shimtest::cts_timeline();
    append(timeline, shimtest::relative_entries(changes));
    wait_until([&] { return program.event_ring.recorded() >= 10 && program.event_ring.omitted_count() >= 1; }, 5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // room for events that should not come
    RingRecord ring = shimtest::read_ring(program);

    // The thread has no stop: the flag ends its loop at the next line change.
    program.sensing.thread()->end();
    append(timeline, shimtest::relative_entry(10000, shimtest::kTiocmCts));

    std::printf("high=%d\nomitted=%zu\n", ring.high, ring.omitted.size());
    for (std::size_t i = 0; i < ring.events.size(); ++i) print_event("event", i, ring.events[i]);
    for (std::size_t i = 0; i < ring.omitted.size(); ++i) print_event("omit", i, ring.omitted[i]);
    std::printf("--- run log\n%s", rig.log().c_str());
    return 0;
}
const ChildRoutine serialthread("serialthread_shim", serialthread_child);

TEST(SerialThreadShim, PulsesAreRecordedAndATransientIsOmitted) {
    PtyPair pty;
    TempDir dir;
    std::string timeline = dir.file("timeline");
    append(timeline, "");  // lines off until the child adds the pulses
    ChildOptions o;
    o.env = {std::string("LD_PRELOAD=") + QN_SHIM_PATH, "QN_SHIM_DEV=" + pty.slave_path,
             "QN_SHIM_TIMELINE=" + timeline, "QN_TEST_PORT=" + pty.slave_path};
    auto r = run_child("serialthread_shim", o);
    ASSERT_FALSE(r.timed_out) << r.out;
    ASSERT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.out;
    ASSERT_TRUE(r.values.count("high")) << r.out;
    RingRecord ring;
    ring.high = std::stoi(r.values["high"]);
    for (int i = 0; r.values.count("event" + std::to_string(i)); ++i)
        ring.events.push_back(parse_event(r.values["event" + std::to_string(i)]));
    for (int i = 0; r.values.count("omit" + std::to_string(i)); ++i)
        ring.omitted.push_back(parse_event(r.values["omit" + std::to_string(i)]));
    // Precisely: 2 ms with real-time scheduling, 20 ms without.
    shimtest::expect_ring_follows(ring, shimtest::cts_timeline(), r.values["fifo"] == "1" ? 2000 : 20000);
    if (::testing::Test::HasFailure()) ADD_FAILURE() << r.out;
}

// ---- the latch, for readers that poll (Wine) ---------------------------------------

int latch_child() {
    auto& serial = *platform::native_platform().serial;
    auto port = serial.open(std::string("\\\\.\\") + std::getenv("QN_TEST_PORT"));
    if (!port.ok()) return 3;
    // A 1 ms pulse and, later, a change that holds.
    append(std::getenv("QN_SHIM_TIMELINE"), shimtest::relative_entries({{20000, shimtest::kTiocmCts},
                                                                        {21000, 0},
                                                                        {60000, shimtest::kTiocmCts}}));
    serial.modem_status(port.value());  // the shim takes the entries in
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int i = 1; i <= 4; ++i) std::printf("status%d=%u\n", i, serial.modem_status(port.value()).value_or(99));
    return 0;
}
const ChildRoutine latch("shim_latch", latch_child);

TEST(ShimLatch, EveryChangeIsReadOnceHoweverLateTheReader) {
    PtyPair pty;
    TempDir dir;
    std::string timeline = dir.file("timeline");
    append(timeline, "");
    ChildOptions o;
    o.env = {std::string("LD_PRELOAD=") + QN_SHIM_PATH, "QN_SHIM_DEV=" + pty.slave_path,
             "QN_SHIM_TIMELINE=" + timeline, "QN_TEST_PORT=" + pty.slave_path, "QN_SHIM_LATCH=1"};
    auto r = run_child("shim_latch", o);
    ASSERT_FALSE(r.timed_out) << r.out;
    ASSERT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.out;
    const std::string on = std::to_string(platform::kLineCts);
    // The pulse, its end, the change that holds, and that again.
    EXPECT_EQ(r.values["status1"], on);
    EXPECT_EQ(r.values["status2"], "0");
    EXPECT_EQ(r.values["status3"], on);
    EXPECT_EQ(r.values["status4"], on);
}

}  // namespace
