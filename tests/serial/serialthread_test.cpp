#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "serial/sensing.h"
#include "serial/serial_thread.h"
#include "strokes/watchports.h"

namespace qn::test {
namespace {

using platform::kLineCts;
using platform::kLineDsr;
using platform::kLineCd;

// A port on COM3 whose lines follow the script; the thread's start steps run.
struct ThreadRig {
    Harness h;
    ScriptedPort& port;
    PerModemLine<bool> lines;
    explicit ThreadRig(std::int32_t transient, bool cts = true) : port(h.fp.serial.add_port("COM3")) {
        lines[ModemLine::Cts] = cts;
        h.program().cfg.transient_ms = transient;
    }
    void start() {
        h.program().sensing.make_thread(h.fp.serial.open("COM3").value(), lines).start_watching();
        h.fp.clock.set_auto_step(50);  // every clock read moves 50 us: busy waits end
    }
    SerialThread& t() { return *h.program().sensing.thread(); }
    bool event() { return t().take_event(); }
    EventRing& ring() { return h.program().event_ring; }
    const LineEvent& e(int n) { return ring().event(n); }
    int high() { return ring().recorded(); }
};

TEST(RingIndex, EventsWrapAfter512AndTheStartIsKept) {
    EventRing ring;
    ring.begin({5, 0, EventShape::Startup});
    for (int k = 1; k <= 1025; ++k) {
        ring.next() = {k, 0, EventShape::Normal};
        ring.publish();
    }
    EXPECT_EQ(ring.event(0).time_us, 5);
    EXPECT_EQ(ring.event(1025).time_us, 1025);
    EXPECT_EQ(ring.event(512).time_us, 1024);  // event 1024 took event 512's slot
    EXPECT_EQ(ring.event(513).time_us, 1025);
}

TEST(ThreadStart, WatchesTheLastLiveLineAndRecordsTheStartWord) {
    ThreadRig r(2);
    r.lines[ModemLine::Cd] = true;  // CTS and CD: CD wins
    r.port.initial_status = kLineCts;
    r.start();
    EXPECT_EQ(r.t().event_mask(), platform::kEventCd);
    EXPECT_EQ(r.t().watched_line(), kLineCd);
    EXPECT_EQ(r.h.fp.serial.masks[r.t().port()], platform::kEventCd);
    EXPECT_EQ(r.e(0).status, kLineCts);
    EXPECT_EQ(r.e(0).shape, EventShape::Startup);
    EXPECT_TRUE(r.t().running());
    EXPECT_TRUE(r.h.program().clock.running());
}

TEST(ThreadStart, WithCtsAndCdSelectedOnlyCdChangesAreEvents) {
    ThreadRig r(0);
    r.lines[ModemLine::Cd] = true;
    r.port.status = {{1000, kLineCts}, {2000, kLineCts | kLineCd}, {3000, kLineCd}};
    r.start();
    ASSERT_TRUE(r.event());
    EXPECT_EQ(r.high(), 1);
    EXPECT_EQ(r.e(1).time_us, 2000);
    EXPECT_EQ(r.e(1).status, kLineCts | kLineCd);  // CTS is seen only inside the CD event
}

TEST(Filters, ARealPulseIsRecordedOnBothEdges) {
    ThreadRig r(2);
    r.port.status = {{10000, kLineCts}, {90000, 0}};
    r.start();
    ASSERT_TRUE(r.event());
    ASSERT_TRUE(r.event());
    EXPECT_EQ(r.high(), 2);
    EXPECT_EQ(r.e(1).time_us, 10000);  // the notification time, not the re-check time
    EXPECT_EQ(r.e(1).status, kLineCts);
    EXPECT_EQ(r.e(1).shape, EventShape::Normal);
    EXPECT_EQ(r.e(2).time_us, 90000);
    EXPECT_EQ(r.e(2).status, 0u);
    EXPECT_EQ(r.ring().omitted_count(), 0);
}

TEST(Filters, ATransientFromRestIsOmittedAndItsReturnSwallowed) {
    ThreadRig r(2);
    r.port.status = {{10000, kLineCts}, {11000, 0}, {50000, kLineCts}};
    r.start();
    ASSERT_TRUE(r.event());
    EXPECT_EQ(r.high(), 0);
    EXPECT_EQ(r.ring().omitted_count(), 1);
    EXPECT_EQ(r.ring().omitted(0).shape, EventShape::Interference);
    EXPECT_EQ(r.ring().omitted(0).status, kLineCts);  // the watched bit
    EXPECT_EQ(r.ring().omitted(0).time_us, 10000);
    // The return edge at 11 ms was consumed; the next event is the 50 ms press.
    ASSERT_TRUE(r.event());
    EXPECT_EQ(r.high(), 1);
    EXPECT_EQ(r.e(1).time_us, 50000);
}

TEST(Filters, WithoutTheRecheckAPulseAlreadyGoneIsRecordedAsTheActiveState) {
    for (std::uint32_t start : {0u, kLineCts}) {
        ThreadRig r(0);
        r.port.initial_status = start;
        // The line changes and is back before the status is read.
        r.port.status = {{10000, start ^ kLineCts}, {10000, start}};
        r.start();
        ASSERT_TRUE(r.event());
        EXPECT_EQ(r.high(), 1) << start;
        EXPECT_EQ(r.e(1).shape, EventShape::Short);
        EXPECT_EQ(r.e(1).status, start ^ kLineCts) << start;
        EXPECT_EQ(r.t().last_status(), start ^ kLineCts);
    }
}

TEST(Filters, TheSameNonRestWordAgainIsADropout) {
    ThreadRig r(0);
    r.port.status = {{10000, kLineCts}, {20000, 0}, {20000, kLineCts}};
    r.start();
    ASSERT_TRUE(r.event());
    ASSERT_TRUE(r.event());
    EXPECT_EQ(r.high(), 1);
    EXPECT_EQ(r.ring().omitted_count(), 1);
    EXPECT_EQ(r.ring().omitted(0).shape, EventShape::Dropout);
    EXPECT_EQ(r.ring().omitted(0).time_us, 20000);
    EXPECT_STREQ(shape_comment(EventShape::Dropout), "shortsignal dropout OMITTED");
}

TEST(Ring, Event512InSlot512AndEvent513InSlot1SlotZeroKept) {
    ThreadRig r(0);
    for (int k = 1; k <= 513; ++k) r.port.status.push_back({1000 * k, (k % 2) ? kLineCts : 0u});
    r.start();
    for (int k = 1; k <= 513; ++k) ASSERT_TRUE(r.event());
    EXPECT_EQ(r.high(), 513);
    EXPECT_EQ(r.e(512).time_us, 512000);
    EXPECT_EQ(r.e(1).time_us, 513000);
    EXPECT_EQ(r.e(0).shape, EventShape::Startup);
    EXPECT_EQ(r.e(0).time_us, 0);
}

TEST(Ring, The513thOmissionOverwritesEntry512) {
    EventRing ring;
    for (int k = 1; k <= 513; ++k) ring.omit({k, 0, EventShape::Dropout});
    EXPECT_EQ(ring.omitted_count(), 512);
    EXPECT_EQ(ring.omitted(510).time_us, 511);
    EXPECT_EQ(ring.omitted(511).time_us, 513);
}

TEST(Ring, ResetEmptiesTheIndicesWithTheThreadSuspended) {
    ThreadRig r(0);
    r.port.status = {{1000, kLineCts}};
    r.start();
    r.t().set_os_thread({7, 0});
    ASSERT_TRUE(r.event());
    for (int k = 0; k < 3; ++k) r.ring().omit({});
    (void)r.ring().take();
    r.h.program().sensing.reset_ring();
    EXPECT_EQ(r.h.fp.threads.calls, (std::vector<std::string>{"suspend", "resume"}));
    EXPECT_EQ(r.high(), 0);
    EXPECT_EQ(r.ring().taken(), 0);
    EXPECT_EQ(r.ring().omitted_count(), 3);
    EXPECT_EQ(r.e(0).shape, EventShape::Startup);
}

TEST(Ring, AReaderTooFarBehindSkipsToTheOldestIntactEvent) {
    Harness h;
    EventRing& ring = h.program().event_ring;
    for (int k = 1; k <= 700; ++k) ring.publish();
    while (ring.taken() < 10) (void)ring.take();
    EXPECT_EQ(skip_overwritten_events(ring, h.program().run_log), 179);
    EXPECT_EQ(ring.taken(), 189);
    EXPECT_NE(h.log().find("Sensor events lost: 179"), std::string::npos);
    EXPECT_EQ(skip_overwritten_events(ring, h.program().run_log), 0);  // now within reach
}

TEST(NoLineSelected, WatchesAllFourAndTakesTheFirstChangedLine) {
    ThreadRig r(0, false);
    r.port.status = {{1000, kLineDsr}, {2000, 0}};
    r.start();
    EXPECT_EQ(r.t().event_mask(), 0x138u);
    EXPECT_NE(r.h.log().find("No sensor line selected"), std::string::npos);
    ASSERT_TRUE(r.event());
    EXPECT_EQ(r.t().watched_line(), kLineDsr);
    EXPECT_EQ(r.high(), 1);
}

TEST(PortFailure, FailedWaitsAreLoggedSparinglyAndThePortIsGivenUpAfterASecond) {
    ThreadRig r(0);
    r.start();
    r.port.fail_wait = true;
    r.port.fail_status = true;
    int events = 0;
    while (r.event()) ASSERT_LT(++events, 5000);
    EXPECT_GT(events, 300);  // about a second of 1 ms naps, not a spin
    EXPECT_EQ(r.t().lost_at(), 2);
    EXPECT_LE(count_of(r.h.log(), "waitcommevent call failed\r\n"), 3);
    EXPECT_GE(count_of(r.h.log(), "waitcommevent call failed\r\n"), 1);
    EXPECT_EQ(r.high(), 0);
    try {
        r.h.program().port_watch->watch_once();
        FAIL();
    } catch (const ProgramExit& e) {
        EXPECT_EQ(e.code, 0);
    }
    // In the scratch area: which port went, that the touch is kept, the
    // location.
    EXPECT_TRUE(ScreenHas(r.h.program().screen, 9, 1, "The serial port  has stopped responding: is the adapter unplugged?"));
    EXPECT_TRUE(ScreenHas(r.h.program().screen, 10, 1, "The touch rung so far is written to the run log."));
    EXPECT_TRUE(ScreenHas(r.h.program().screen, 11, 1, "Serial port not responding locn 2 - terminating"));
    EXPECT_NE(r.h.log().find("Processed sensor data"), std::string::npos);
}

TEST(PortFailure, WaitsThatFailWhileTheStatusReadsWellPollTheLines) {
    ThreadRig r(0);
    r.port.status = {{5000, kLineCts}, {9000, 0}};
    r.start();
    r.port.fail_wait = true;
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(r.event());
    EXPECT_EQ(r.high(), 2);  // the two real changes, nothing made up
    EXPECT_EQ(r.e(1).status, kLineCts);
    EXPECT_EQ(r.e(2).status, 0u);
    EXPECT_EQ(r.t().lost_at(), 0);
    EXPECT_EQ(count_of(r.h.log(), "waitcommevent call failed\r\n"), 1);
}

TEST(PortFailure, AWaitThatFailsOnceStillRecordsTheChange) {
    ThreadRig r(0);
    r.port.status = {{500, kLineCts}};
    r.start();
    r.port.fail_wait = true;
    ASSERT_TRUE(r.event());
    EXPECT_EQ(r.high(), 1);
    EXPECT_EQ(count_of(r.h.log(), "waitcommevent call failed\r\n"), 1);
}

TEST(RealThread, RecordsAScriptedTimelineAndEndsWhenThePortIsGone) {
    Harness h;
    h.fp.threads.run_created = true;
    auto& port = h.fp.serial.add_port("COM3");
    for (int k = 1; k <= 20; ++k) port.status.push_back({100000 * k, (k % 2) ? kLineCts : 0u});
    h.program().cfg.transient_ms = 0;
    PortHandle p = h.fp.serial.open("COM3").value();
    PerModemLine<bool> cts;
    cts[ModemLine::Cts] = true;
    h.program().sensing.start_thread(p, cts);
    EXPECT_NE(h.log().find("Start comm thread "), std::string::npos);
    EXPECT_NE(h.log().find(" priority=15\r\n"), std::string::npos);
    // The script runs out after 20 changes; then the status reads fail too
    // and the thread gives the port up.
    while (h.program().event_ring.recorded() < 20) std::this_thread::yield();
    port.fail_status = true;
    h.fp.threads.join_all();
    EXPECT_EQ(h.program().event_ring.recorded(), 20);
    for (int k = 1; k <= 20; ++k) EXPECT_EQ(h.program().event_ring.event(k).time_us, 100000 * k);
    EXPECT_EQ(h.program().sensing.thread()->lost_at(), 2);
    // The thread asked for its own scheduling (MMCSS registers the caller).
    EXPECT_EQ(h.fp.scheduling.calls.front(), "realtime critical");
}

}  // namespace
}  // namespace qn::test
