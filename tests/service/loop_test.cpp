// What the service loop waits for after a pass.
#include <gtest/gtest.h>

#include "autoring/automatic_ringing.h"
#include "fakes/fake_platform.h"
#include "serial/sensing.h"
#include "serial/serial_thread.h"
#include "service/loop.h"

namespace qn::test {
namespace {

using platform::kWakeConsole;
using platform::kWakeEvent;
using platform::kWakePort;

constexpr std::int64_t kNow = 50000000;

struct Loop {
    Harness h;
    Program& program = h.program();
    Loop() {
        program.cfg.loop_sleep_ms = 5;
        program.target.set_sensors_active(2);
        ring_rows(program, 12);  // a touch is being rung
    }
    PassWait plan() const { return plan_pass_wait(program, kNow); }
    void pending(int I, std::int64_t due) {
        program.strikes->keys().queue(I - 1, due);
    }
};

TEST(LoopWait, WhileRingingSleepnumIsTheLongestWaitAndADueKeyOrBeatIsKeptPrecisely) {
    Loop l;
    PassWait w = l.plan();
    EXPECT_TRUE(w.wait);
    EXPECT_EQ(w.until_us, kNow + 5000);
    EXPECT_FALSE(w.precise);
    EXPECT_EQ(w.sources, kWakeEvent | kWakeConsole);

    // The earlier of two pending keys sets the deadline, to the microsecond.
    l.pending(1, kNow + 3200);
    l.pending(2, kNow + 1700);
    w = l.plan();
    EXPECT_EQ(w.until_us, kNow + 1700);
    EXPECT_TRUE(w.precise);
    // A key due later than loop_sleep_ms: the ceiling first.
    l.program.strikes->keys().settle(1);
    l.program.strikes->keys().queue(0, kNow + 9000);
    w = l.plan();
    EXPECT_EQ(w.until_us, kNow + 5000);
    EXPECT_FALSE(w.precise);
    // A key still pending past its due time (its window was not in front)
    // is retried after the ceiling, not spun on.
    l.program.strikes->keys().queue(0, kNow - 100);
    EXPECT_EQ(l.plan().until_us, kNow + 5000);

    // Automatic ringing: the beat fires once the millisecond clock is past
    // the beat's time.
    Loop a;
    a.program.autoring->ringer().set_up(6, "", 165);  // a beat of 302 ms
    a.program.autoring->ringer().toggle();
    a.h.fp.clock.set_us(kNow - 300000);
    a.program.autoring->ringer().step(true);  // the beat clock starts 300 ms before now
    w = a.plan();
    EXPECT_EQ(w.until_us, kNow + 3000);
    EXPECT_TRUE(w.precise);
}

TEST(LoopWait, AtRestOnlyTheSourcesWakeTheLoop) {
    Loop l;
    l.program.strikes->rows().zero();
    PassWait w = l.plan();
    EXPECT_EQ(w.until_us, kNow + 1000000);
    EXPECT_FALSE(w.precise);
    l.pending(1, kNow + 380000);  // a strike's key waits: no longer at rest
    EXPECT_EQ(l.plan().until_us, kNow + 5000);
}

TEST(LoopWait, EventsAlreadyWaitingZeroMinusOneAndDataMode) {
    Loop l;
    l.h.fp.serial.add_port("COM3");
    l.program.sensing.make_thread(l.h.fp.serial.open("COM3").value(), l.program.cfg.use_line).start_watching();
    for (int k = 0; k < 3; ++k) l.program.event_ring.publish();
    (void)l.program.event_ring.take();
    (void)l.program.event_ring.take();
    EXPECT_FALSE(l.plan().wait);  // one more event to take first
    (void)l.program.event_ring.take();
    EXPECT_TRUE(l.plan().wait);

    l.program.cfg.loop_sleep_ms = 0;
    EXPECT_TRUE(l.plan().yield);
    l.program.cfg.loop_sleep_ms = -1;
    EXPECT_FALSE(l.plan().wait);
    EXPECT_FALSE(l.plan().yield);

    // Data mode waits for the port's bytes, and never less than the
    // millisecond it always waited.
    l.program.cfg.rest_on_mode = true;
    PassWait w = l.plan();
    EXPECT_EQ(w.until_us, kNow + 1000);
    EXPECT_EQ(w.sources, kWakePort | kWakeConsole);
    l.program.cfg.loop_sleep_ms = 5;
    EXPECT_EQ(l.plan().until_us, kNow + 5000);
}

TEST(LoopWait, AFailingWaitIsToldOnceAndTheLoopSleepsInstead) {
    Loop l;
    l.h.fp.wait.fail = true;
    wait_for_next_pass(l.program);
    wait_for_next_pass(l.program);
    EXPECT_EQ(count_of(l.h.log(), "Waiting for events failed"), 1);
    EXPECT_EQ(l.h.fp.threads.sleeps, (std::vector<std::int32_t>{5, 5}));
}

}  // namespace
}  // namespace qn::test
