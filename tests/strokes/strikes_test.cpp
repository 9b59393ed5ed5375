// Strikes from the sensor to the pending key: the serial thread's per-event
// step on a scripted port, the watch loop and the output scheduler together.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "core/timing.h"
#include "autoring/automatic_ringing.h"
#include "fakes/fake_platform.h"
#include "keyout/dispatch.h"
#include "keyout/targets.h"
#include "service/loop.h"
#include "serial/sensing.h"
#include "serial/serial_thread.h"
#include "service/band.h"
#include "service/keycheck.h"
#include "strokes/band.h"
#include "strokes/watchports.h"

namespace qn::test {
namespace {

using platform::kLineCts;

constexpr std::int64_t kSecond = 1000000;

// A bell on CTS of COM3, one sensing point per sensor, target "Open".
struct Bell {
    Harness h;
    ScriptedPort& port;
    Program& program;

    explicit Bell(int sensors = 1, int delay_ms = 300) : port(h.fp.serial.add_port("COM3")), program(h.program()) {
        program.cfg.use_line[ModemLine::Cts] = true;
        program.cfg.sensor_count = sensors;
        program.cfg.switch_bounce_ms = 40;
        program.cfg.transient_ms = 0;
        program.cfg.target_program = "Open";
        set_target_defaults(program.target, program.cfg.sensor_count);
        load_target_parameters(program.target, *program.plat.windows, "Open");
        program.target.point(0).hand_delay_ms = delay_ms;
        program.target.point(0).back_delay_ms = delay_ms;
        program.screen.background_colour(kBlue);
    }
    void start() {
        program.sensing.make_thread(h.fp.serial.open("COM3").value(), program.cfg.use_line).start_watching();
    }
    // One line change, recorded by the thread and taken by the watch loop.
    void edge(std::int64_t t, bool on) {
        port.status.push_back({t, on ? kLineCts : 0u});
        ASSERT_TRUE(program.sensing.thread()->take_event());
        program.port_watch->watch_once();
    }
    void pulse(std::int64_t t, std::int64_t len = 80000) {
        edge(t, true);
        edge(t + len, false);
    }
    int signals() const { return keys().output_count(); }
    const WatchLoop& watch() const { return program.strikes->watch(); }
    const SpacingJudge& judge() const { return program.strikes->judge(); }
    KeyQueue& keys() const { return program.strikes->keys(); }
    int rows() const { return program.strikes->rows().rows(); }
};

constexpr int kCts = 0, kDsr = 1;

TEST(Bounce, AReleaseInsideTheWindowIsRejectedAndOneJustOutsideAccepted) {
    Bell b;
    b.start();
    b.edge(kSecond, true);
    EXPECT_EQ(b.signals(), 1);
    b.edge(kSecond + 40000, false);  // exactly the window: rejected
    EXPECT_TRUE(b.watch().line_was_on(kCts));
    EXPECT_EQ(b.watch().last_event_us(), kSecond);
    // A press after the rejected release is a signal again (asserted -> asserted).
    b.edge(2 * kSecond, true);
    EXPECT_EQ(b.signals(), 2);
    b.edge(2 * kSecond + 40001, false);  // one microsecond more: accepted
    EXPECT_FALSE(b.watch().line_was_on(kCts));
    EXPECT_EQ(b.watch().last_event_us(), 2 * kSecond + 40001);
    EXPECT_EQ(b.signals(), 2);  // a release is no signal for a line resting off
}

TEST(Bounce, AReleaseBouncingLongerThanTheRecheckGivesNoSecondStrike) {
    Bell b;
    b.program.cfg.signal_starts_off = true;
    b.program.cfg.off_and_on_are_signals = false;
    b.start();
    b.edge(kSecond, true);
    b.edge(kSecond + 80000, false);   // the release, accepted
    b.edge(kSecond + 84000, true);    // bounce back on, 4 ms later
    b.edge(kSecond + 86000, false);
    EXPECT_EQ(b.signals(), 1);
    EXPECT_FALSE(b.watch().line_was_on(kCts));
    b.edge(2 * kSecond, true);  // the next real strike
    EXPECT_EQ(b.signals(), 2);
}

TEST(Polarity, WhichEdgesAreSignals) {
    struct Case {
        bool starts_off, on_and_off;
        bool before, after;
        bool signal;
    } cases[] = {
        {true, false, false, true, true},   {true, false, true, true, true},   {true, false, false, false, true},
        {true, false, true, false, false},  {true, true, true, false, true},   {false, false, true, false, true},
        {false, false, false, true, false}, {false, true, false, true, true},  {false, false, true, true, false},
        {false, false, false, false, false},
    };
    for (const Case& k : cases) {
        Bell b;
        b.program.cfg.signal_starts_off = k.starts_off;
        b.program.cfg.off_and_on_are_signals = k.on_and_off;
        record_events(b.program.event_ring, k.before ? kLineCts : 0, {{5 * kSecond, k.after ? kLineCts : 0u}});
        b.program.port_watch->watch_once();
        EXPECT_EQ(b.signals(), k.signal ? 1 : 0)
            << "starts_off=" << k.starts_off << " on_and_off=" << k.on_and_off << " " << k.before << "->" << k.after;
        EXPECT_EQ(b.watch().event_us(), kNoEventTime);
    }
}

TEST(Polarity, OnAndOffBothSignalAndNoWaitingEventChangesNothing) {
    Bell b;
    b.program.cfg.off_and_on_are_signals = true;
    b.start();
    EXPECT_TRUE(b.program.port_watch->watch_once());  // nothing waiting
    EXPECT_EQ(b.signals(), 0);
    b.pulse(kSecond);
    EXPECT_EQ(b.signals(), 2);
}

TEST(TwoLines, ASecondLineDroppingInTheSameEventIsTakenAsBounce) {
    Bell b;
    b.program.cfg.use_line[ModemLine::Dsr] = true;
    record_events(b.program.event_ring, platform::kLineDsr, {{5 * kSecond, kLineCts}});  // CTS rises, DSR drops
    b.program.port_watch->watch_once();
    EXPECT_EQ(b.signals(), 1);
    EXPECT_TRUE(b.watch().line_was_on(kDsr));  // the drop was rejected
}

// Another bell's character 30 ms before this bell's once started the bounce
// window and cost this bell its strike.
TEST(DataMode, ForeignCharactersNeitherCountNorStartTheBounceWindow) {
    Bell b;
    b.program.cfg.rest_on_mode = true;
    b.program.cfg.data_char = 'a';
    b.program.ports.set_service(b.h.fp.serial.open("COM3").value());
    b.port.bytes = {{1 * kSecond, 'b'}, {1 * kSecond + 30000, 'a'}, {2 * kSecond, 'a'}, {2 * kSecond + 10000, 'a'}};
    prepare_service_loop(b.program);
    ring_rows(b.program, 5);  // a touch under way: passes at most loop_sleep_ms apart
    // The loop's wait sees each byte arrive; the pass that reads it comes
    // 3 ms later, and the byte keeps its arrival time.
    auto pass_until = [&](std::int64_t t) {
        while (b.h.fp.clock.now_us() < t) {
            wait_for_next_pass(b.program);
            if (b.watch().byte_arrival_us() >= 0) b.h.fp.clock.advance_us(3000);
            b.program.port_watch->watch_once();
        }
    };
    pass_until(kSecond + 35000);
    EXPECT_EQ(b.signals(), 1);  // 'b' is another bell; 'a' came 30 ms after it
    EXPECT_EQ(b.watch().last_event_us(), kSecond + 30000);
    pass_until(2 * kSecond + 20000);
    EXPECT_EQ(b.signals(), 2);  // the doubled 'a' 10 ms later is bounce
    EXPECT_EQ(b.keys().outputs()[0].event_us, kSecond + 30000);
    EXPECT_EQ(b.keys().outputs()[1].event_us, 2 * kSecond);
    for (const FakeWait::Call& w : b.h.fp.wait.calls) EXPECT_TRUE(w.sources & platform::kWakePort);
}

// Band mode: each character to its bell's path, a bell's window its own,
// the band's rows counted a row per band's worth of blows. The first start
// finds the bells by ear: a bell that never speaks is left out.
TEST(DataMode, ABandFindsItsBellsAndEachBellKeepsItsOwnStrikes) {
    Bell b;
    b.program.cfg.rest_on_mode = true;
    b.program.cfg.band.on = true;
    b.program.ports.set_service(b.h.fp.serial.open("COM3").value());
    b.port.bytes = {{0, '1'}, {0, '1'}, {0, '3'}, {0, '3'}, {0, '4'}};
    b.h.fp.console.type(" ");
    set_up_band(b.program);
    ASSERT_EQ(b.program.band->size(), 3u);
    EXPECT_NE(b.h.log().find("Band mode: bells 1 3 4 heard; bells 2 never spoke and are left out"), std::string::npos);
    const std::int64_t t = b.h.fp.clock.now_us() + kSecond;
    b.port.bytes = {{t, '1'}, {t + 1000, '3'}, {t + 2000, '1'}, {t + 300000, '4'}, {t + 600000, '1'}};
    prepare_service_loop(b.program);
    while (b.h.fp.clock.now_us() < t + 700000) {
        wait_for_next_pass(b.program);
        b.program.port_watch->watch_once();
    }
    auto outputs = [&](std::size_t i) { return b.program.band->bell(i).path.keys().output_count(); };
    EXPECT_EQ(outputs(0), 2);  // the second '1' 2 ms after the first is bounce
    EXPECT_EQ(outputs(1), 1);  // 1 ms after bell 1's
    EXPECT_EQ(outputs(2), 1);
    EXPECT_EQ(b.rows(), 2);    // four blows of a band of three
    EXPECT_EQ(b.signals(), 0);
}

// A pulled adapter: every read fails at once. A failure now and then is
// not a lost port; a second of nothing but failures is, and the touch rung so
// far goes into the log before the program ends.
TEST(DataMode, ReadsFailingForASecondAreAPortLostAndTheTouchIsLogged) {
    Bell b;
    b.program.cfg.rest_on_mode = true;
    b.program.cfg.data_char = 'a';
    b.program.ports.set_service(b.h.fp.serial.open("COM3").value());
    b.port.bytes = {{1 * kSecond, 'a'}, {2 * kSecond, 'a'}, {3 * kSecond, 'a'}};
    prepare_service_loop(b.program);
    auto pass = [&] {
        wait_for_next_pass(b.program);
        b.program.port_watch->watch_once();
    };
    auto pass_until = [&](std::int64_t t) {
        while (b.h.fp.clock.now_us() < t) pass();
    };
    pass_until(kSecond + 500000);
    b.port.fail_read = true;  // a glitch: one failed read
    pass();
    b.port.fail_read = false;
    pass_until(3 * kSecond + 500000);
    EXPECT_EQ(b.signals(), 3);
    EXPECT_EQ(b.program.sensing.port_lost_at(), 0);

    b.port.fail_read = true;  // pulled out
    const std::int64_t pulled = b.h.fp.clock.now_us();
    int passes = 0;
    try {
        for (; passes < 5000; ++passes) pass();
        FAIL() << "the port was never given up";
    } catch (const ProgramExit& e) {
        EXPECT_EQ(e.code, 0);
    }
    // A millisecond's nap a failure, whatever the wait does with a port in
    // error: about a second of passes, no spin, and the failures logged
    // about once a second.
    EXPECT_GT(passes, 150);
    EXPECT_GE(b.h.fp.clock.now_us() - pulled, kSecond);
    EXPECT_EQ(b.program.sensing.port_lost_at(), 7);
    const std::string log = b.h.log();
    EXPECT_LE(count_of(log, "serial port read failed\r\n"), 3);
    EXPECT_NE(log.find("ReadFile: The device is not connected."), std::string::npos);
    EXPECT_NE(log.find("Serial port  lost (locn 7) - writing the event log of the touch so far"), std::string::npos);
    ASSERT_NE(log.find("Processed sensor data"), std::string::npos);
    EXPECT_NE(log.find("3\t    2.0000"), std::string::npos) << log;  // the third strike, 2 s after the first
    EXPECT_TRUE(ScreenHas(b.program.screen, 11, 1, "Serial port not responding locn 7 - terminating"));
}

TEST(SensingPoints, WithTwoSensorsOnlyTheMatchingSignalSchedulesAndRowsCountPerCycle) {
    Bell b(2, 80);
    b.start();
    for (int i = 0; i < 4; ++i) b.pulse((i + 1) * kSecond);
    EXPECT_EQ(b.signals(), 2);  // entry 0 triggers on the second sensor of each cycle
    EXPECT_EQ(b.keys().outputs()[0].event_us, 2 * kSecond);
    EXPECT_EQ(b.rows(), 2);  // one row per cycle of two signals
    // Two sensing points, one on each sensor.
    Bell d(2, 0);
    d.program.target.set_sensors_active(2);
    d.program.target.point(0) = {1, 'j', 100, 'j', 100};
    d.program.target.point(1) = {2, 'k', 200, 'k', 200};
    d.start();
    d.pulse(1 * kSecond);
    d.pulse(2 * kSecond);
    d.pulse(3 * kSecond);
    EXPECT_EQ(d.signals(), 3);
    EXPECT_EQ(d.keys().outputs()[1].point, 1);  // the second point
    EXPECT_EQ(d.rows(), 2);  // point 1 fired twice
    EXPECT_EQ(d.keys().due_us(1), 2 * kSecond + 200000);
    EXPECT_EQ(d.keys().due_us(0), 3 * kSecond + 100000);
}

TEST(Scheduling, DueTimeIsProcessingTimePlusDelayPlusHalfTheSignalLength) {
    Bell b(1, 300);
    b.program.cfg.mean_signal_ms = 90;
    b.program.target.point(0).back_delay_ms = 500;
    b.start();
    b.keys().set_handstroke(true);
    b.edge(kSecond, true);
    EXPECT_TRUE(b.keys().pending(0));
    EXPECT_EQ(b.keys().due_us(0), kSecond + 300000 + 45000);
    b.keys().set_handstroke(false);
    b.edge(2 * kSecond, false);
    b.edge(3 * kSecond, true);
    EXPECT_EQ(b.keys().due_us(0), 3 * kSecond + 500000 + 45000);
    EXPECT_EQ(b.program.strikes->last_signal_us(), 3 * kSecond);
}

TEST(Scheduling, NoDelayDeliversTheKeyInsideTheSchedulerItself) {
    Bell b(1, 0);
    b.program.cfg.mean_signal_ms = 0;
    b.start();
    b.edge(kSecond, true);
    EXPECT_FALSE(b.keys().pending(0));
    ASSERT_EQ(b.h.fp.keyboard.sent.size(), 1u);
    EXPECT_EQ(b.h.fp.keyboard.sent[0].time_us, kSecond);
    EXPECT_EQ(b.h.fp.keyboard.typed(), "J");
}

// Eight strikes a second apart (history built), then one more.
static void eight_then(Bell& b, std::int64_t gap_us, std::int64_t interval = kSecond) {
    b.start();
    for (int i = 1; i <= 8; ++i) b.pulse(i * interval, 50000);
    b.pulse(8 * interval + gap_us, 50000);
}

// The judge alone: strikes gaps_ms apart after one at 0, the last judged.
TEST(RogueStrikes, TheJudgeOnItsOwn) {
    auto gaps = [](std::vector<std::pair<int, int>> runs) {  // (count, gap)
        std::vector<int> g;
        for (auto [n, gap] : runs) g.insert(g.end(), static_cast<std::size_t>(n), gap);
        return g;
    };
    const struct Case {
        const char* what;
        std::vector<int> gaps_ms;
        bool corrected;
        bool judged;
        Spacing spacing;
        double ratio;
        int strikes_after;  // the history's length once judged
    } cases[] = {
        {"eight strikes: none judged yet", gaps({{7, 1000}}), true, false, Spacing::Normal, 0, 8},
        {"the ninth is judged", gaps({{8, 1000}}), true, true, Spacing::Normal, 1.0, 9},
        {"a spurious strike is dropped when corrected", gaps({{7, 1000}, {1, 599}}), true, true, Spacing::Spurious, 0.599, 8},
        {"and kept when not", gaps({{7, 1000}, {1, 500}}), false, true, Spacing::Spurious, 0.5, 9},
        {"the lower bound is normal", gaps({{7, 1000}, {1, 600}}), true, true, Spacing::Normal, 0.6, 9},
        {"a missed strike takes two places", gaps({{7, 1000}, {1, 2000}}), false, true, Spacing::Missed, 2.0, 10},
        {"no time between strikes is no ratio", gaps({{8, 0}}), true, true, Spacing::Normal, 1.0, 9},
        {"the pause bound is still a missed strike", gaps({{7, 1000}, {1, 2400}}), true, true, Spacing::Missed, 2.4, 10},
        {"beyond it a pause: no place made up", gaps({{7, 1000}, {1, 2401}}), true, true, Spacing::Paused, 2.401, 9},
        {"and left out of the average", gaps({{7, 1000}, {1, 4000}, {1, 1000}}), true, true, Spacing::Normal, 1.0, 10},
        // A full history keeps its recent half: the touch's slower start
        // no longer weighs on the average.
        {"a full history", gaps({{2999, 2000}, {3001, 1000}}), false, true, Spacing::Normal, 1.0, 3001},
    };
    for (const Case& k : cases) {
        Harness h;
        SpacingJudge judge(h.program().cfg);
        std::int32_t t = 0;
        std::optional<SpacingJudged> last = judge.judge(t, k.corrected);
        for (int gap : k.gaps_ms) last = judge.judge(t += gap, k.corrected);
        ASSERT_EQ(last.has_value(), k.judged) << k.what;
        EXPECT_EQ(judge.strikes(), k.strikes_after) << k.what;
        if (!last) continue;
        EXPECT_EQ(last->spacing, k.spacing) << k.what;
        EXPECT_DOUBLE_EQ(last->ratio, k.ratio) << k.what;
        EXPECT_EQ(last->corrected, k.corrected) << k.what;
    }
}

TEST(RogueStrikes, TheNinthSignalIsTheFirstJudgedAndHalfAnIntervalIsSpurious) {
    Bell b;
    b.program.target.set_use_doubled_send(true);
    eight_then(b, kSecond / 2);
    EXPECT_DOUBLE_EQ(b.judge().ratio(), 0.5);
    EXPECT_EQ(b.judge().spurious(), 1);
    EXPECT_EQ(b.judge().strikes(), 8);  // left out of the history
    EXPECT_TRUE(ScreenHas(b.program.screen, 23, 28, "   1", kYellow));
    EXPECT_TRUE(ScreenHas(b.program.screen, 23, 32, " 0.500", kYellow));
    EXPECT_NE(b.h.log().find("Row9 Spurious backstroke strike at 8800000 ratio= 0.500\r\nRow9 Spurious strike ignored\r\n"),
              std::string::npos);
    EXPECT_EQ(b.signals(), 9);  // its key is still scheduled
}

// A pause (ratio 4) keeps the stroke; a key replaced before it was due is told.
TEST(RogueStrikes, APauseKeepsTheStrokeAndALostKeyIsTold) {
    Bell b(1, 300);
    b.program.target.set_use_doubled_send(true);
    b.start();
    for (int i = 1; i <= 8; ++i) b.pulse(i * kSecond, 50000);
    const bool hand_before = b.keys().handstroke();
    b.pulse(12 * kSecond, 50000);
    EXPECT_EQ(b.judge().missed(), 0);
    EXPECT_FALSE(b.keys().doubled_due());
    b.pulse(12 * kSecond + 250000, 50000);
    EXPECT_NE(b.h.log().find("Row8 pause before the strike at 12300000, ratio= 4.000"), std::string::npos);
    EXPECT_NE(b.program.screen.line_text(9).find("Keys lost (1): blows 250 ms apart, closer than the key delay of 300 ms"),
              std::string::npos);
    EXPECT_EQ(b.keys().handstroke(), hand_before);
}

TEST(RogueStrikes, ARatioEqualToTheBoundIsNormalAndJustAboveIsMissed) {
    {
        Bell b;
        eight_then(b, 17000 * 1000LL, 10 * kSecond);
        EXPECT_DOUBLE_EQ(b.judge().ratio(), 1.7);
        EXPECT_EQ(b.judge().missed(), 0);
        EXPECT_TRUE(ScreenHas(b.program.screen, 25, 28, "   9", kWhite));
        EXPECT_TRUE(ScreenHas(b.program.screen, 25, 32, " 1.700", kLightGray));
        EXPECT_TRUE(ScreenHas(b.program.screen, 22, 39, "10000"));
    }
    {
        Bell b;
        eight_then(b, 17001 * 1000LL, 10 * kSecond);
        EXPECT_DOUBLE_EQ(b.judge().ratio(), 1.7001);
        EXPECT_EQ(b.judge().missed(), 1);
        EXPECT_TRUE(ScreenHas(b.program.screen, 24, 28, "   1", kYellow));
        EXPECT_TRUE(ScreenHas(b.program.screen, 24, 32, "  1.700", kYellow));
        EXPECT_TRUE(ScreenHas(b.program.screen, 22, 72, "1.700"));
    }
}

TEST(RogueStrikes, AMissedStrikeIsMadeUpWithADoubledKeyOnlyWhenDoubledSendIsOn) {
    for (bool doubled : {true, false}) {
        Bell b(1, 300);
        b.program.target.set_use_doubled_send(doubled);
        b.program.target.set_double_strike_delay_ms(350);
        b.start();
        for (int i = 1; i <= 8; ++i) {
            b.pulse(i * kSecond, 50000);
            b.h.fp.clock.set_us(i * kSecond + 400000);
            b.program.key_sender->send_due_keys();
        }
        const bool hand_before = b.keys().handstroke();
        b.pulse(10 * kSecond, 50000);  // the strike at 9 s never came
        EXPECT_EQ(b.judge().missed(), 1);
        EXPECT_TRUE(b.keys().doubled_due());
        EXPECT_EQ(b.keys().handstroke(), doubled ? !hand_before : hand_before) << doubled;
        EXPECT_EQ(b.judge().strikes(), 10);  // the missed strike has its place in the history
        EXPECT_EQ(b.h.log().find("Row8 Missed keystroke inserted") != std::string::npos, doubled);
        std::size_t keys_before = b.h.fp.keyboard.sent.size();
        b.h.fp.clock.set_us(10 * kSecond + 300000);
        b.program.key_sender->send_due_keys();
        ASSERT_EQ(b.h.fp.keyboard.sent.size() - keys_before, doubled ? 2u : 1u);
        if (doubled) {
            EXPECT_EQ(b.h.fp.keyboard.sent.back().time_us - b.h.fp.keyboard.sent[keys_before].time_us, 350000);
            EXPECT_TRUE(b.keys().outputs().back().doubled);
        }
        EXPECT_FALSE(b.keys().doubled_due());
    }
}

// The counter shows rows rung. With the correction on, a spurious strike
// is no row and a missed one made up is; with it off, every signal is a row.
TEST(Counters, RogueStrikesCountAsTheRowsTheCorrectionMakesOfThem) {
    for (bool corrected : {true, false}) {
        Bell spurious;
        spurious.program.target.set_use_doubled_send(corrected);
        eight_then(spurious, kSecond / 2);
        EXPECT_EQ(spurious.judge().spurious(), 1);
        EXPECT_EQ(spurious.rows(), corrected ? 8 : 9) << corrected;
        Bell missed;
        missed.program.target.set_use_doubled_send(corrected);
        eight_then(missed, 2 * kSecond);
        EXPECT_EQ(missed.judge().missed(), 1);
        EXPECT_EQ(missed.rows(), corrected ? 10 : 9) << corrected;
    }
}

TEST(Counters, ARowCountedFirstStampsTheTouchStart) {
    Bell b;
    b.start();
    b.pulse(3 * kSecond);
    EXPECT_EQ(b.rows(), 1);
    EXPECT_EQ(b.program.strikes->rows().first_ms(), 3000);
    b.pulse(4 * kSecond);
    EXPECT_EQ(b.rows(), 2);
    EXPECT_EQ(b.program.strikes->rows().first_ms(), 3000);
}

TEST(Counters, APauseRestartsTheTouchAndWritesItsEventLogOnce) {
    Bell b;
    b.start();
    for (int i = 1; i <= 3; ++i) b.pulse(i * kSecond);
    end_touch(b.program, true);
    EXPECT_EQ(b.rows(), 0);
    EXPECT_EQ(b.signals(), 0);
    EXPECT_EQ(b.program.strikes->cycle_position(), 0);
    EXPECT_EQ(b.judge().strikes(), 0);
    EXPECT_EQ(b.watch().last_event_us(), b.program.strikes->last_signal_us());
    EXPECT_TRUE(ScreenHas(b.program.screen, 20, 1, "Ringing ceased  - writing event log - completed"));
    end_touch(b.program, true);  // nothing rung since: no second log
    EXPECT_EQ(count_of(b.h.log(), "Processed sensor data"), 1);
}

TEST(Counters, AFullListWithoutAPauseIsWrittenAndEmptiedButTheTouchGoesOn) {
    Bell b(2);
    b.start();
    for (int i = 1; i <= 81; ++i) b.pulse(i * kSecond);  // 40 strikes of the second sensor, then the first's
    ring_rows(b.program, 3000 - b.rows());
    for (int i = b.signals(); i < kMaxRows; ++i) b.keys().record(0, 0);
    end_touch(b.program, false);
    EXPECT_EQ(b.signals(), 0);
    EXPECT_EQ(b.rows(), 3000);
    EXPECT_EQ(b.judge().strikes(), 40);
    EXPECT_EQ(b.program.strikes->cycle_position(), 1);
    EXPECT_NE(b.h.log().find("6000\t"), std::string::npos);
}

TEST(Counters, AutomaticRingingNeitherWritesNorRestarts) {
    Bell b;
    ring_rows(b.program, 5);
    b.program.autoring->ringer().toggle();
    end_touch(b.program, true);
    EXPECT_EQ(b.rows(), 5);
    EXPECT_EQ(count_of(b.h.log(), "Processed sensor data"), 0);
}

TEST(FullTables, RingingThatNeverPausesNeverWritesPastTheLists) {
    Bell b(1, 300);
    b.program.autoring->ringer().toggle();  // the pause dump is skipped
    b.start();
    for (int i = 1; i <= 6100; ++i) {
        b.pulse(i * kSecond / 2, 50000);
        if (i % 100 == 0) {
            b.h.fp.clock.set_us(i * kSecond / 2 + 400000);
            b.program.key_sender->send_due_keys();
        }
    }
    EXPECT_EQ(b.signals(), kMaxRows);
    EXPECT_EQ(count_of(b.h.log(), "Output record list full"), 1);
    EXPECT_LE(b.judge().strikes(), kMaxRows);
    EXPECT_EQ(b.judge().spurious() + b.judge().missed(), 0);
}

TEST(Clash, AnEventTimeNeverClearedIsReportedAndTheEventStillGoesAhead) {
    Bell b;
    record_events(b.program.event_ring, 0, {{5 * kSecond, kLineCts}});
    b.program.strikes->watch().begin_event(4 * kSecond);  // an event time left set
    b.program.port_watch->watch_once();
    EXPECT_EQ(b.watch().clashes(), 1);
    EXPECT_EQ(b.signals(), 1);
    EXPECT_NE(b.h.log().find("***ERROR- thiseventimemicro clash - bell send will be skipped =4000000"),
              std::string::npos);
    EXPECT_TRUE(ScreenHas(b.program.screen, 9, 1, "A keysend was skipped due to delays"));
    EXPECT_TRUE(ScreenHas(b.program.screen, 25, 8, "SendMiss=1"));
}

}  // namespace
}  // namespace qn::test
