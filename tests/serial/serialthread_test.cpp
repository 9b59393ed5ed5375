#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "serial/serial_thread.h"

namespace qn::test {
namespace {

using platform::kLineCts;
using platform::kLineDsr;
using platform::kLineCd;

// A port on COM3 whose lines follow the script; the thread's start steps run.
struct ThreadRig {
    Harness h;
    ScriptedPort& port;
    explicit ThreadRig(std::int32_t transient, bool cts = true) : port(h.fp.serial.add_port("COM3")) {
        h.c().cfg.use_cts = cts;
        h.c().cfg.transient_ms = transient;
    }
    void start() {
        h.c().serial.thread_port = h.fp.serial.open("COM3").value();
        serial_thread_start(h.c());
        h.fp.clock.set_auto_step(50);  // every clock read moves 50 us: busy waits end
    }
    SerialState& s() { return h.c().serial; }
    int high() { return s().ring_head.load(); }
};

TEST(RingIndex, WrapsAfter512) {
    EXPECT_EQ(wrap_index(1), 1);
    EXPECT_EQ(wrap_index(512), 512);
    EXPECT_EQ(wrap_index(513), 1);
    EXPECT_EQ(wrap_index(1025), 1);
}

TEST(ThreadStart, WatchesTheLastLiveLineAndRecordsTheStartWord) {
    ThreadRig r(2);
    r.h.c().cfg.use_cd = true;  // CTS and CD: CD wins
    r.port.initial_status = kLineCts;
    r.start();
    EXPECT_EQ(r.s().event_mask, platform::kEventCd);
    EXPECT_EQ(r.s().watched_line, kLineCd);
    EXPECT_EQ(r.h.fp.serial.masks[r.s().thread_port], platform::kEventCd);
    EXPECT_EQ(r.s().event_status[0], kLineCts);
    EXPECT_EQ(r.s().event_shape[0], kShapeStartup);
    EXPECT_TRUE(r.s().thread_running);
    EXPECT_TRUE(r.h.c().timing.serial_stopwatch_running);
}

TEST(ThreadStart, WithCtsAndCdSelectedOnlyCdChangesAreEvents) {
    ThreadRig r(0);
    r.h.c().cfg.use_cd = true;
    r.port.status = {{1000, kLineCts}, {2000, kLineCts | kLineCd}, {3000, kLineCd}};
    r.start();
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 1);
    EXPECT_EQ(r.s().event_time_us[1], 2000);
    EXPECT_EQ(r.s().event_status[1], kLineCts | kLineCd);  // CTS is seen only inside the CD event
}

TEST(Filters, ARealPulseIsRecordedOnBothEdges) {
    ThreadRig r(2);
    r.port.status = {{10000, kLineCts}, {90000, 0}};
    r.start();
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 2);
    EXPECT_EQ(r.s().event_time_us[1], 10000);  // the notification time, not the re-check time
    EXPECT_EQ(r.s().event_status[1], kLineCts);
    EXPECT_EQ(r.s().event_shape[1], kShapeNormal);
    EXPECT_EQ(r.s().event_time_us[2], 90000);
    EXPECT_EQ(r.s().event_status[2], 0u);
    EXPECT_EQ(r.s().omitted_count.load(), 0);
}

TEST(Filters, ATransientFromRestIsOmittedAndItsReturnSwallowed) {
    ThreadRig r(2);
    r.port.status = {{10000, kLineCts}, {11000, 0}, {50000, kLineCts}};
    r.start();
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 0);
    EXPECT_EQ(r.s().omitted_count.load(), 1);
    EXPECT_EQ(r.s().omitted_shape[1], kShapeInterference);
    EXPECT_EQ(r.s().omitted_status[1], kLineCts);  // the watched bit
    EXPECT_EQ(r.s().omitted_time_us[1], 10000);
    // The return edge at 11 ms was consumed; the next event is the 50 ms press.
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 1);
    EXPECT_EQ(r.s().event_time_us[1], 50000);
}

TEST(Filters, WithoutTheRecheckAPulseAlreadyGoneIsRecordedAsTheActiveState) {
    for (std::uint32_t start : {0u, kLineCts}) {
        ThreadRig r(0);
        r.port.initial_status = start;
        // The line changes and is back before the status is read.
        r.port.status = {{10000, start ^ kLineCts}, {10000, start}};
        r.start();
        ASSERT_TRUE(serial_thread_event(r.h.c()));
        EXPECT_EQ(r.high(), 1) << start;
        EXPECT_EQ(r.s().event_shape[1], kShapeShort);
        EXPECT_EQ(r.s().event_status[1], start ^ kLineCts) << start;
        EXPECT_EQ(r.s().last_status, start ^ kLineCts);
    }
}

TEST(Filters, TheSameNonRestWordAgainIsADropout) {
    ThreadRig r(0);
    r.port.status = {{10000, kLineCts}, {20000, 0}, {20000, kLineCts}};
    r.start();
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 1);
    EXPECT_EQ(r.s().omitted_count.load(), 1);
    EXPECT_EQ(r.s().omitted_shape[1], kShapeDropout);
    EXPECT_EQ(r.s().omitted_time_us[1], 20000);
    EXPECT_EQ(WR(kShapeDropout), "shortsignal dropout OMITTED");
}

TEST(Ring, Event512InSlot512AndEvent513InSlot1SlotZeroKept) {
    ThreadRig r(0);
    for (int k = 1; k <= 513; ++k) r.port.status.push_back({1000 * k, (k % 2) ? kLineCts : 0u});
    r.start();
    for (int k = 1; k <= 513; ++k) ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 513);
    EXPECT_EQ(r.s().event_time_us[512], 512000);
    EXPECT_EQ(r.s().event_time_us[1], 513000);
    EXPECT_EQ(r.s().event_shape[0], kShapeStartup);
    EXPECT_EQ(r.s().event_time_us[0], 0);
}

TEST(Ring, The513thOmissionOverwritesEntry512) {
    Harness h;
    SerialState& s = h.c().serial;
    for (int k = 1; k <= 513; ++k) {
        s.event_time_us[1] = k;
        s.event_shape[1] = kShapeDropout;
        record_omitted_event(h.c(), 1);
    }
    EXPECT_EQ(s.omitted_count.load(), 512);
    EXPECT_EQ(s.omitted_time_us[511], 511);
    EXPECT_EQ(s.omitted_time_us[512], 513);
}

TEST(Ring, ResetEmptiesTheIndicesWithTheThreadSuspended) {
    ThreadRig r(0);
    r.port.status = {{1000, kLineCts}};
    r.start();
    r.s().thread = 7;
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    r.s().omitted_count = 3;
    r.s().last_ring_tail = r.s().ring_tail = 1;
    reset_serial_thread(r.h.c());
    EXPECT_EQ(r.h.fp.threads.calls, (std::vector<std::string>{"suspend", "resume"}));
    EXPECT_EQ(r.high(), 0);
    EXPECT_EQ(r.s().last_ring_tail, 0);
    EXPECT_EQ(r.s().ring_tail, 0);
    EXPECT_EQ(r.s().omitted_count.load(), 3);
    EXPECT_EQ(r.s().event_shape[0], kShapeStartup);
}

TEST(Ring, AReaderTooFarBehindSkipsToTheOldestIntactEvent) {
    Harness h;
    SerialState& s = h.c().serial;
    s.ring_head = 700;
    s.last_ring_tail = s.ring_tail = 10;
    EXPECT_EQ(skip_overwritten_events(h.c()), 179);
    EXPECT_EQ(s.last_ring_tail, 189);
    EXPECT_EQ(s.ring_tail, 189);
    EXPECT_NE(h.log().find("Sensor events lost: 179"), std::string::npos);
    EXPECT_EQ(skip_overwritten_events(h.c()), 0);  // now within reach
}

TEST(NoLineSelected, WatchesAllFourAndTakesTheFirstChangedLine) {
    ThreadRig r(0, false);
    r.port.status = {{1000, kLineDsr}, {2000, 0}};
    r.start();
    EXPECT_EQ(r.s().event_mask, 0x138u);
    EXPECT_NE(r.h.log().find("No sensor line selected"), std::string::npos);
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.s().watched_line, kLineDsr);
    EXPECT_EQ(r.high(), 1);
}

TEST(PortFailure, FailedWaitsAreLoggedSparinglyAndThePortIsGivenUpAfterASecond) {
    ThreadRig r(0);
    r.start();
    r.port.fail_wait = true;
    r.port.fail_status = true;
    int events = 0;
    while (serial_thread_event(r.h.c())) ASSERT_LT(++events, 5000);
    EXPECT_GT(events, 300);  // about a second of 1 ms naps, not a spin
    EXPECT_EQ(r.s().port_lost_at.load(), 2);
    EXPECT_LE(count_of(r.h.log(), "waitcommevent call failed\r\n"), 3);
    EXPECT_GE(count_of(r.h.log(), "waitcommevent call failed\r\n"), 1);
    EXPECT_EQ(r.high(), 0);
    try {
        take_lost_port(r.h.c());
        FAIL();
    } catch (const ProgramExit& e) {
        EXPECT_EQ(e.code, 0);
    }
    // In the scratch area: which port went, that the touch is kept, the
    // location.
    EXPECT_TRUE(ScreenHas(r.h.c().screen, 9, 1, "The serial port  has stopped responding: is the adapter unplugged?"));
    EXPECT_TRUE(ScreenHas(r.h.c().screen, 10, 1, "The touch rung so far is written to the run log."));
    EXPECT_TRUE(ScreenHas(r.h.c().screen, 11, 1, "Serial port not responding locn 2 - terminating"));
    EXPECT_NE(r.h.log().find("Processed sensor data"), std::string::npos);
}

TEST(PortFailure, WaitsThatFailWhileTheStatusReadsWellPollTheLines) {
    ThreadRig r(0);
    r.port.status = {{5000, kLineCts}, {9000, 0}};
    r.start();
    r.port.fail_wait = true;
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 2);  // the two real changes, nothing made up
    EXPECT_EQ(r.s().event_status[1], kLineCts);
    EXPECT_EQ(r.s().event_status[2], 0u);
    EXPECT_EQ(r.s().port_lost_at.load(), 0);
    EXPECT_EQ(count_of(r.h.log(), "waitcommevent call failed\r\n"), 1);
}

TEST(PortFailure, AWaitThatFailsOnceStillRecordsTheChange) {
    ThreadRig r(0);
    r.port.status = {{500, kLineCts}};
    r.start();
    r.port.fail_wait = true;
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 1);
    EXPECT_EQ(count_of(r.h.log(), "waitcommevent call failed\r\n"), 1);
}

TEST(RealThread, RecordsAScriptedTimelineAndEndsWhenThePortIsGone) {
    Harness h;
    h.fp.threads.run_created = true;
    auto& port = h.fp.serial.add_port("COM3");
    for (int k = 1; k <= 20; ++k) port.status.push_back({100000 * k, (k % 2) ? kLineCts : 0u});
    h.c().cfg.use_cts = true;
    h.c().cfg.transient_ms = 0;
    PortHandle p = h.fp.serial.open("COM3").value();
    start_serial_thread(h.c(), p);
    EXPECT_NE(h.log().find("Start comm thread "), std::string::npos);
    EXPECT_NE(h.log().find(" priority=15\r\n"), std::string::npos);
    // The script runs out after 20 changes; then the status reads fail too
    // and the thread gives the port up.
    while (h.c().serial.ring_head.load() < 20) std::this_thread::yield();
    port.fail_status = true;
    h.fp.threads.join_all();
    EXPECT_EQ(h.c().serial.ring_head.load(), 20);
    for (int k = 1; k <= 20; ++k) EXPECT_EQ(h.c().serial.event_time_us[k], 100000 * k);
    EXPECT_EQ(h.c().serial.port_lost_at.load(), 2);
}

}  // namespace
}  // namespace qn::test
