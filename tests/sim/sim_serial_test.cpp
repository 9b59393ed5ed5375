// The simulated serial port and the virtual time it runs in: the driver's
// habits the program relies on, and threads kept in lock-step.
#include <gtest/gtest.h>

#include "platform/sim/bell.h"
#include "platform/sim/sim_serial.h"
#include "platform/sim/sim_threads.h"

namespace qn::platform::sim {
namespace {

struct World {
    explicit World(BellConfig cfg = {}) : bell(time, cfg), serial(time, {{"SIM1", &bell}, {"SIM2", nullptr}}) {
        time.adopt_current_thread();
    }
    ~World() { time.stop(); }

    // One pull from now + 1 s; the times of its line changes.
    std::vector<std::int64_t> pull() {
        std::lock_guard<std::mutex> g(time.mutex());
        bell.ring_pull(time.now_us() + 1000000, Rhythm{});
        std::vector<std::int64_t> changes;
        for (std::int64_t t = bell.next_change_after(time.now_us()); t != kNever; t = bell.next_change_after(t))
            changes.push_back(t);
        return changes;
    }
    void sleep_until(std::int64_t t) { time.sleep_us(t - time.now_locked()); }
    std::int64_t now() { return time.now_locked(); }

    VirtualTime time;
    SimBell bell;
    SimSerial serial;
};

TEST(SimSerial, ListsItsPortsAndOpensEachToOneHandleAtATime) {
    World w;
    EXPECT_EQ(w.serial.list_port_names().value(), (std::vector<std::string>{"SIM1", "SIM2"}));
    auto h = w.serial.open("\\\\.\\SIM1");
    ASSERT_TRUE(h.ok());
    auto again = w.serial.open("\\\\.\\SIM1");
    ASSERT_FALSE(again.ok());
    EXPECT_NE(again.error().find("CreateFile \\\\.\\SIM1: Access is denied"), std::string::npos);
    EXPECT_NE(w.serial.open("\\\\.\\COM9").error().find("cannot find"), std::string::npos);
    EXPECT_TRUE(w.serial.open("\\\\.\\SIM2").ok());

    w.serial.close(h.value());
    EXPECT_NE(w.serial.modem_status(h.value()).error().find("GetCommModemStatus: The handle is invalid"),
              std::string::npos);
    EXPECT_TRUE(w.serial.open("\\\\.\\SIM1").ok());
}

TEST(SimSerial, AWaitEndsAtTheChangeAndChangesBetweenWaitsAreReportedAtOnce) {
    World w;
    PortHandle h = w.serial.open("\\\\.\\SIM1").value();
    ASSERT_TRUE(w.serial.wait_event(h).error().find("The parameter is incorrect") != std::string::npos);
    ASSERT_TRUE(w.serial.set_mask(h, kEventCts).ok());
    const std::vector<std::int64_t> c = w.pull();
    ASSERT_EQ(c.size(), 4u);  // hand ON, OFF; back ON, OFF

    EXPECT_EQ(w.serial.wait_event(h).value(), kEventCts);
    EXPECT_EQ(w.now(), c[0]);
    EXPECT_EQ(w.serial.modem_status(h).value(), kLineCts);

    // The pulse ends while nobody waits: the next wait returns at once.
    w.sleep_until(c[1] + 10000);
    const std::int64_t before = w.now();
    EXPECT_EQ(w.serial.wait_event(h).value(), kEventCts);
    EXPECT_EQ(w.now(), before);
    EXPECT_EQ(w.serial.modem_status(h).value(), 0u);

    // Setting the mask forgets what happened before it.
    w.sleep_until(c[3] + 10000);
    ASSERT_TRUE(w.serial.set_mask(h, kEventCts).ok());
    ASSERT_TRUE(w.serial.set_mask(h, kEventDsr | kEventCts).ok());
    const std::vector<std::int64_t> next = w.pull();
    EXPECT_EQ(w.serial.wait_event(h).value(), kEventCts);
    EXPECT_EQ(w.now(), next[0]);
}

// A short pulse over before the waiting thread gets to run: the wait ends
// with its first edge, and the return edge is there for the next wait, as
// the serial thread's transient filter expects.
TEST(SimSerial, ALateWaiterGetsAShortPulseAsTwoEvents) {
    BellConfig cfg;
    cfg.faults.transients = 1;
    World w(cfg);
    VirtualThreads threads(w.time);
    PortHandle h = w.serial.open("\\\\.\\SIM1").value();
    const std::vector<std::int64_t> c = w.pull();
    ASSERT_EQ(c.size(), 6u);  // hand pulse, transient, back pulse
    const std::int64_t on = c[2], off = c[3];
    ASSERT_LT(off - on, 2000);

    w.sleep_until(on - 100);
    ASSERT_TRUE(w.serial.set_mask(h, kEventCts).ok());
    std::vector<std::pair<std::int64_t, std::uint32_t>> seen;
    threads.create([&] {
        for (int i = 0; i < 2; ++i) {
            auto ev = w.serial.wait_event(h);
            seen.emplace_back(w.now(), ev.value_or(0));
        }
    });
    w.time.sleep_us(50);  // the thread starts and waits for the pulse
    // The main thread keeps the turn past the whole pulse.
    while (w.time.read_clock() < off + 100) {
    }
    const std::int64_t late = w.now();
    w.time.sleep_us(1000);
    threads.join_all();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(late, kEventCts));
    EXPECT_EQ(seen[1], std::make_pair(late, kEventCts));
}

// The program's two threads in lock-step: the serial thread wakes at each
// change exactly while the main thread sleeps in 5 ms steps; suspended, it
// does not run until resumed.
TEST(VirtualTime, TheWaitingThreadWakesExactlyAtEachChangeWhileTheMainThreadSleeps) {
    World w;
    VirtualThreads threads(w.time);
    PortHandle h = w.serial.open("\\\\.\\SIM1").value();
    ASSERT_TRUE(w.serial.set_mask(h, kEventCts).ok());
    std::vector<std::int64_t> woke;
    auto info = threads.create([&] {
        for (int i = 0; i < 8; ++i)
            if (w.serial.wait_event(h).ok()) woke.push_back(w.now());
    });
    ASSERT_TRUE(info.ok());
    const std::vector<std::int64_t> first = w.pull();
    std::int64_t last_step = 0;
    while (w.now() < first.back() + 100000) {
        const std::int64_t before = w.now();
        w.time.sleep_us(5000);
        last_step = w.now() - before;
    }
    EXPECT_EQ(last_step, 5000);
    EXPECT_EQ(woke, first);

    ASSERT_TRUE(threads.suspend(info.value().handle).ok());
    const std::vector<std::int64_t> second = w.pull();
    w.sleep_until(second.back() + 100000);
    EXPECT_EQ(woke.size(), 4u);
    ASSERT_TRUE(threads.resume(info.value().handle).ok());
    const std::int64_t resumed = w.now();
    w.time.sleep_us(5000);
    // The wait it was in ended with the first change; the rest were
    // waiting for the next one.
    ASSERT_EQ(woke.size(), 6u);
    EXPECT_EQ(woke[4], resumed);
    EXPECT_EQ(woke[5], resumed);
    w.time.stop();
    threads.join_all();
}

TEST(SimSerial, ReadsFollowTheReadTimeOuts) {
    BellConfig cfg;
    cfg.mode = InputMode::Data;
    cfg.data_char = '5';
    cfg.faults.bounce = 1;  // the box sends every character twice
    World w(cfg);
    PortHandle h = w.serial.open("\\\\.\\SIM1").value();
    w.pull();
    std::vector<DataByte> bytes;
    {
        std::lock_guard<std::mutex> g(w.time.mutex());
        bytes = w.bell.bytes_until(w.time.now_us());
    }
    ASSERT_EQ(bytes.size(), 4u);
    EXPECT_EQ(bytes[1].arrival_us - bytes[0].arrival_us, 4167);  // 10 bits at 2400 bit/s
    char buf[4] = {};

    // Interval MAXDWORD, no totals: what is there, at once.
    ASSERT_TRUE(w.serial.set_timeouts(h, Timeouts{kTimeoutMax, 0, 0, 0, 0}).ok());
    w.sleep_until(bytes[0].arrival_us - 500);
    EXPECT_EQ(w.serial.read(h, buf, 1).value(), 0u);
    EXPECT_EQ(w.now(), bytes[0].arrival_us - 500);

    // A total time-out of 1 ms: waits for the byte that comes within it.
    ASSERT_TRUE(w.serial.set_timeouts(h, Timeouts{0, 0, 1, 0, 0}).ok());
    EXPECT_EQ(w.serial.read(h, buf, 1).value(), 1u);
    EXPECT_EQ(buf[0], '5');
    EXPECT_EQ(w.now(), bytes[0].arrival_us);
    // Purging drops what has arrived, not what is still on the wire.
    w.sleep_until(bytes[1].arrival_us);
    ASSERT_TRUE(w.serial.purge(h, kPurgeRxClear).ok());
    const std::int64_t t0 = w.now();
    EXPECT_EQ(w.serial.read(h, buf, 1).value(), 0u);
    EXPECT_EQ(w.now(), t0 + 1000);

    // Interval and multiplier MAXDWORD with a constant: the first byte only,
    // waited for up to the constant.
    ASSERT_TRUE(w.serial.set_timeouts(h, Timeouts{kTimeoutMax, kTimeoutMax, 5000, 0, 0}).ok());
    EXPECT_EQ(w.serial.read(h, buf, 4).value(), 1u);
    EXPECT_EQ(w.now(), bytes[2].arrival_us);
    // A total for several bytes ends with the last one in time.
    ASSERT_TRUE(w.serial.set_timeouts(h, Timeouts{0, 10, 0, 0, 0}).ok());
    EXPECT_EQ(w.serial.read(h, buf, 4).value(), 1u);
    EXPECT_EQ(w.now(), bytes[2].arrival_us + 40000);

    // What came before the port was opened is not there.
    w.serial.close(h);
    w.pull();
    w.time.sleep_us(5000000);
    h = w.serial.open("\\\\.\\SIM1").value();
    ASSERT_TRUE(w.serial.set_timeouts(h, Timeouts{kTimeoutMax, 0, 0, 0, 0}).ok());
    EXPECT_EQ(w.serial.read(h, buf, 4).value(), 0u);
}

}  // namespace
}  // namespace qn::platform::sim
