#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "serial/serialthread_shorts_xz.h"

namespace qn::test {
namespace {

using platform::MS_CTS_ON;
using platform::MS_DSR_ON;
using platform::MS_RLSD_ON;

// A port on COM3 whose lines follow the script; the thread's start steps run.
struct ThreadRig {
    Harness h;
    ScriptedPort& port;
    explicit ThreadRig(std::int32_t transient, bool cts = true) : port(h.fp.serial.add_port("COM3")) {
        h.c().cfg.USECTS = cts;
        h.c().cfg.TRANSIENTSIGNALSDELAY = transient;
    }
    void start() {
        h.c().serial.SERHANDLE = h.fp.serial.open("COM3").value();
        serial_thread_start(h.c());
        h.fp.clock.set_auto_step(50);  // every clock read moves 50 us: busy waits end
    }
    SerialState& s() { return h.c().serial; }
    int high() { return s().IHIGHBUFFERPLUSONE.load(); }
};

TEST(RingIndex, WrapsAfter512) {
    EXPECT_EQ(INDEXWRAP(1), 1);
    EXPECT_EQ(INDEXWRAP(512), 512);
    EXPECT_EQ(INDEXWRAP(513), 1);
    EXPECT_EQ(INDEXWRAP(1025), 1);
}

TEST(ThreadStart, WatchesTheLastLiveLineAndRecordsTheStartWord) {
    ThreadRig r(2);
    r.h.c().cfg.USECD = true;  // CTS and CD: CD wins
    r.port.initial_status = MS_CTS_ON;
    r.start();
    EXPECT_EQ(r.s().DWEVENTMASK, platform::EV_RLSD);
    EXPECT_EQ(r.s().DFLAG, MS_RLSD_ON);
    EXPECT_EQ(r.h.fp.serial.masks[r.s().SERHANDLE], platform::EV_RLSD);
    EXPECT_EQ(r.s().COMMBUFFER[0], MS_CTS_ON);
    EXPECT_EQ(r.s().SHSIG[0], SIG_STARTUP);
    EXPECT_TRUE(r.s().SERIALTHREADON);
    EXPECT_TRUE(r.h.c().timing.SERIALTIMERISON);
}

TEST(ThreadStart, WithCtsAndCdSelectedOnlyCdChangesAreEvents) {
    ThreadRig r(0);
    r.h.c().cfg.USECD = true;
    r.port.status = {{1000, MS_CTS_ON}, {2000, MS_CTS_ON | MS_RLSD_ON}, {3000, MS_RLSD_ON}};
    r.start();
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 1);
    EXPECT_EQ(r.s().COMMTIME[1], 2000);
    EXPECT_EQ(r.s().COMMBUFFER[1], MS_CTS_ON | MS_RLSD_ON);  // CTS is seen only inside the CD event
}

TEST(Filters, ARealPulseIsRecordedOnBothEdges) {
    ThreadRig r(2);
    r.port.status = {{10000, MS_CTS_ON}, {90000, 0}};
    r.start();
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 2);
    EXPECT_EQ(r.s().COMMTIME[1], 10000);  // the notification time, not the re-check time
    EXPECT_EQ(r.s().COMMBUFFER[1], MS_CTS_ON);
    EXPECT_EQ(r.s().SHSIG[1], SIG_NORMAL);
    EXPECT_EQ(r.s().COMMTIME[2], 90000);
    EXPECT_EQ(r.s().COMMBUFFER[2], 0u);
    EXPECT_EQ(r.s().OMITBUFFER.load(), 0);
}

TEST(Filters, ATransientFromRestIsOmittedAndItsReturnSwallowed) {
    ThreadRig r(2);
    r.port.status = {{10000, MS_CTS_ON}, {11000, 0}, {50000, MS_CTS_ON}};
    r.start();
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 0);
    EXPECT_EQ(r.s().OMITBUFFER.load(), 1);
    EXPECT_EQ(r.s().OMITSHSIG[1], SIG_INTERFERENCE);
    EXPECT_EQ(r.s().OMITCOMMBUFFER[1], MS_CTS_ON);  // the watched bit
    EXPECT_EQ(r.s().OMITCOMMTIME[1], 10000);
    // The return edge at 11 ms was consumed; the next event is the 50 ms press.
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 1);
    EXPECT_EQ(r.s().COMMTIME[1], 50000);
}

TEST(Filters, WithoutTheRecheckAPulseAlreadyGoneIsRecordedAsTheActiveState) {
    for (std::uint32_t start : {0u, MS_CTS_ON}) {
        ThreadRig r(0);
        r.port.initial_status = start;
        // The line changes and is back before the status is read.
        r.port.status = {{10000, start ^ MS_CTS_ON}, {10000, start}};
        r.start();
        ASSERT_TRUE(serial_thread_event(r.h.c()));
        EXPECT_EQ(r.high(), 1) << start;
        EXPECT_EQ(r.s().SHSIG[1], SIG_SHORT);
        EXPECT_EQ(r.s().COMMBUFFER[1], start ^ MS_CTS_ON) << start;
        EXPECT_EQ(r.s().LASTTRUESTATUS, start ^ MS_CTS_ON);
    }
}

TEST(Filters, TheSameNonRestWordAgainIsADropout) {
    ThreadRig r(0);
    r.port.status = {{10000, MS_CTS_ON}, {20000, 0}, {20000, MS_CTS_ON}};
    r.start();
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 1);
    EXPECT_EQ(r.s().OMITBUFFER.load(), 1);
    EXPECT_EQ(r.s().OMITSHSIG[1], SIG_DROPOUT);
    EXPECT_EQ(r.s().OMITCOMMTIME[1], 20000);
    EXPECT_EQ(WR(SIG_DROPOUT), "shortsignal dropout OMITTED");
}

TEST(Ring, Event512InSlot512AndEvent513InSlot1SlotZeroKept) {
    ThreadRig r(0);
    for (int k = 1; k <= 513; ++k) r.port.status.push_back({1000 * k, (k % 2) ? MS_CTS_ON : 0u});
    r.start();
    for (int k = 1; k <= 513; ++k) ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 513);
    EXPECT_EQ(r.s().COMMTIME[512], 512000);
    EXPECT_EQ(r.s().COMMTIME[1], 513000);
    EXPECT_EQ(r.s().SHSIG[0], SIG_STARTUP);
    EXPECT_EQ(r.s().COMMTIME[0], 0);
}

TEST(Ring, The513thOmissionOverwritesEntry512) {
    Harness h;
    SerialState& s = h.c().serial;
    for (int k = 1; k <= 513; ++k) {
        s.COMMTIME[1] = k;
        s.SHSIG[1] = SIG_DROPOUT;
        UPDATEOMITBUFFER(h.c(), 1);
    }
    EXPECT_EQ(s.OMITBUFFER.load(), 512);
    EXPECT_EQ(s.OMITCOMMTIME[511], 511);
    EXPECT_EQ(s.OMITCOMMTIME[512], 513);
}

TEST(Ring, ResetEmptiesTheIndicesWithTheThreadSuspended) {
    ThreadRig r(0);
    r.port.status = {{1000, MS_CTS_ON}};
    r.start();
    r.s().COMM_THREADHANDLE = 7;
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    r.s().OMITBUFFER = 3;
    r.s().LASTILOWBUFFER = r.s().ILOWBUFFER = 1;
    RESETSERIALTHREAD(r.h.c());
    EXPECT_EQ(r.h.fp.threads.calls, (std::vector<std::string>{"suspend", "resume"}));
    EXPECT_EQ(r.high(), 0);
    EXPECT_EQ(r.s().LASTILOWBUFFER, 0);
    EXPECT_EQ(r.s().ILOWBUFFER, 0);
    EXPECT_EQ(r.s().OMITBUFFER.load(), 3);
    EXPECT_EQ(r.s().SHSIG[0], SIG_STARTUP);
}

TEST(Ring, AReaderTooFarBehindSkipsToTheOldestIntactEvent) {
    Harness h;
    SerialState& s = h.c().serial;
    s.IHIGHBUFFERPLUSONE = 700;
    s.LASTILOWBUFFER = s.ILOWBUFFER = 10;
    EXPECT_EQ(skip_overwritten_events(h.c()), 179);
    EXPECT_EQ(s.LASTILOWBUFFER, 189);
    EXPECT_EQ(s.ILOWBUFFER, 189);
    EXPECT_NE(h.log().find("Sensor events lost: 179"), std::string::npos);
    EXPECT_EQ(skip_overwritten_events(h.c()), 0);  // now within reach
}

TEST(NoLineSelected, WatchesAllFourAndTakesTheFirstChangedLine) {
    ThreadRig r(0, false);
    r.port.status = {{1000, MS_DSR_ON}, {2000, 0}};
    r.start();
    EXPECT_EQ(r.s().DWEVENTMASK, 0x138u);
    EXPECT_NE(r.h.log().find("No sensor line selected"), std::string::npos);
    ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.s().DFLAG, MS_DSR_ON);
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
    EXPECT_EQ(r.s().PORTLOSTLOCN.load(), 2);
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
    r.port.status = {{5000, MS_CTS_ON}, {9000, 0}};
    r.start();
    r.port.fail_wait = true;
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(serial_thread_event(r.h.c()));
    EXPECT_EQ(r.high(), 2);  // the two real changes, nothing made up
    EXPECT_EQ(r.s().COMMBUFFER[1], MS_CTS_ON);
    EXPECT_EQ(r.s().COMMBUFFER[2], 0u);
    EXPECT_EQ(r.s().PORTLOSTLOCN.load(), 0);
    EXPECT_EQ(count_of(r.h.log(), "waitcommevent call failed\r\n"), 1);
}

TEST(PortFailure, AWaitThatFailsOnceStillRecordsTheChange) {
    ThreadRig r(0);
    r.port.status = {{500, MS_CTS_ON}};
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
    for (int k = 1; k <= 20; ++k) port.status.push_back({100000 * k, (k % 2) ? MS_CTS_ON : 0u});
    h.c().cfg.USECTS = true;
    h.c().cfg.TRANSIENTSIGNALSDELAY = 0;
    PortHandle p = h.fp.serial.open("COM3").value();
    start_serial_thread(h.c(), p);
    EXPECT_NE(h.log().find("Start comm thread "), std::string::npos);
    EXPECT_NE(h.log().find(" priority=15\r\n"), std::string::npos);
    // The script runs out after 20 changes; then the status reads fail too
    // and the thread gives the port up.
    while (h.c().serial.IHIGHBUFFERPLUSONE.load() < 20) std::this_thread::yield();
    port.fail_status = true;
    h.fp.threads.join_all();
    EXPECT_EQ(h.c().serial.IHIGHBUFFERPLUSONE.load(), 20);
    for (int k = 1; k <= 20; ++k) EXPECT_EQ(h.c().serial.COMMTIME[k], 100000 * k);
    EXPECT_EQ(h.c().serial.PORTLOSTLOCN.load(), 2);
    // The thread asked for its own scheduling (MMCSS registers the caller).
    EXPECT_EQ(h.fp.scheduling.calls.front(), "realtime critical");
}

}  // namespace
}  // namespace qn::test
