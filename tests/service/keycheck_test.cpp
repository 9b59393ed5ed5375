// The in-service command keys and the pause check, on the screen model.
#include "service/keycheck.h"

#include <gtest/gtest.h>

#include <limits>

#include "core/timing.h"
#include "autoring/automatic_ringing.h"
#include "config/configfile.h"
#include "ui/service_screen.h"
#include "fakes/fake_platform.h"
#include "keyout/targets.h"
#include "striking/recorder.h"

namespace qn::test {
namespace {

struct Service {
    Harness h;
    Program& program;
    explicit Service(const std::string& target = "Open") : program(h.program()) {
        program.cfg.sensor_count = 1;
        set_target_defaults(program.target, program.cfg.sensor_count);
        program.cfg.target_program = target;
        load_target_parameters(program.target, *program.plat.windows, target);
        program.screen.background_colour(kBlue);
    }
    void key(const std::string& k) {
        h.fp.console.type(k);
        check_keys(program);
    }
    bool shows(int line, const std::string& text) { return ScreenHas(program.screen, line, 1, text); }
};

TEST(CommandKeys, StrokeSetting) {
    Service s;
    s.key("h");
    EXPECT_TRUE(s.program.strikes->keys().handstroke());
    EXPECT_TRUE(s.shows(9, "Now Set at handstroke"));
    s.key("B");
    EXPECT_FALSE(s.program.strikes->keys().handstroke());
    EXPECT_TRUE(s.shows(9, "Now Set at backstroke"));
}

TEST(CommandKeys, DelayKeysWorkOnEveryActiveSensorAndShowTheLast) {
    Service s;
    s.program.target.set_sensors_active(3);
    for (int i = 1; i <= 3; ++i) s.program.target.point(i - 1) = {i, 'j', 10, 'j', 30};
    s.key("-");
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(s.program.target.point(i - 1).hand_delay_ms, 0);
        EXPECT_EQ(s.program.target.point(i - 1).back_delay_ms, 10);
    }
    EXPECT_TRUE(s.shows(9, "Handstroke key delay now 0"));
    EXPECT_TRUE(s.shows(10, "Backstroke key delay now 10"));
    EXPECT_TRUE(s.shows(11, "Key delays stay within 0..1000 ms"));
    s.key("+");
    EXPECT_EQ(s.program.target.point(1).hand_delay_ms, 20);
    EXPECT_EQ(s.program.target.point(1).back_delay_ms, 30);
    EXPECT_TRUE(s.shows(11, "   "));
    s.key("<");
    s.key(">");
    EXPECT_EQ(s.program.target.point(2).hand_delay_ms, 20);  // never touched by < or >
    EXPECT_EQ(s.program.target.point(2).back_delay_ms, 30);
    s.program.target.point(0) = {1, 'j', 990, 'j', std::numeric_limits<std::int32_t>::max()};
    s.key("+");  // no further than the top, and no overflow on the way
    EXPECT_EQ(s.program.target.point(0).hand_delay_ms, 1000);
    EXPECT_EQ(s.program.target.point(0).back_delay_ms, 1000);
}

TEST(CommandKeys, WithNoActiveSensorTheDelayKeysDoNothing) {
    Service s;
    s.program.target.set_sensors_active(0);
    s.program.target.point(0).hand_delay_ms = 100;
    s.key("+");
    EXPECT_EQ(s.program.target.point(0).hand_delay_ms, 100);
    EXPECT_TRUE(s.shows(9, std::string(80, ' ')));
}

TEST(CommandKeys, BigNumbersToggleZerosTheCounterAndZeroOnlyZeros) {
    Service s;
    ring_rows(s.program, 57);
    s.key("N");
    EXPECT_TRUE(s.program.cfg.big_numbers);
    EXPECT_EQ(s.program.strikes->rows().rows(), 0);
    EXPECT_TRUE(s.program.service_screen->stale());
    EXPECT_TRUE(s.shows(9, "big counter numbers ON"));
    ring_rows(s.program, 12);
    s.key("0");
    EXPECT_EQ(s.program.strikes->rows().rows(), 0);
    EXPECT_TRUE(s.program.cfg.big_numbers);
    EXPECT_TRUE(s.shows(9, "Counter set to zero"));
    // With big numbers on, any command redraws the menu over them.
    EXPECT_TRUE(s.shows(1, "Quennick v0.8.2d3 (04 Jan 2021)"));
}

TEST(CommandKeys, ChoosingAnotherTarget) {
    Service s;
    s.h.fp.console.type("P");
    s.h.fp.console.type_line("8");
    check_keys(s.program);
    EXPECT_EQ(s.program.cfg.target_program, "Abel");
    EXPECT_EQ(s.program.target.index(), 8);
    EXPECT_TRUE(s.shows(9, "Program Abel selected"));
}

// A touch of 60 blows against automatic bells: handstrokes 30 ms late,
// backstrokes 10 ms late.
void ring_a_late_touch(Program& program) {
    for (int blow = 0; blow < 60; ++blow) {
        const bool hand = blow % 2 == 0;
        const std::int64_t ideal = 1000000 + blow * 2000000;
        program.striking->ringer_beat(RingerBeat{blow - 6, hand, 6, 1, 1, 0, ideal, 300000});
        program.striking->blow_timed(BlowTimed{0, ideal - 400000, ideal + (hand ? 30000 : 10000), 380, hand, Spacing::Normal});
    }
    program.striking->touch_ended(TouchEnded{TouchEnd::Pause, {}, false, false});
}

// The analysis runs on a thread of its own: the fake keeps it until asked.
void analyse_last_touch(Harness& h) { h.fp.threads.run(h.fp.threads.bodies.size() - 1); }

TEST(CommandKeys, KTakesTheSuggestedDelaysForEveryPointAndKeepsThem) {
    Service s;
    s.key("K");  // nothing suggested yet
    EXPECT_TRUE(s.shows(9, "No delay to take: only a touch rung with automatic ringing suggests one"));
    EXPECT_EQ(s.program.target.point(0).hand_delay_ms, 380);

    s.program.target.set_sensors_active(2);
    s.program.target.point(0) = {1, 'j', 380, 'j', 380};
    s.program.target.point(1) = {2, 'f', 15, 'f', 500};
    ring_a_late_touch(s.program);
    s.key("K");  // not analysed yet
    EXPECT_EQ(s.program.target.point(0).hand_delay_ms, 380);
    analyse_last_touch(s.h);
    s.key("k");
    EXPECT_EQ(s.program.target.point(0).hand_delay_ms, 350);
    EXPECT_EQ(s.program.target.point(0).back_delay_ms, 370);
    EXPECT_EQ(s.program.target.point(1).hand_delay_ms, 0);  // moved as the delay keys move it: not below 0
    EXPECT_EQ(s.program.target.point(1).back_delay_ms, 490);
    EXPECT_EQ(s.program.target.table()[s.program.target.index()].points[0].hand_delay_ms, 350);
    EXPECT_TRUE(s.shows(9, "Handstroke key delay now 0"));  // the last point's, as + and - show it
    EXPECT_NE(s.h.fp.files.files[s.program.settings_file->path()].find("keydelayhand_0_1=350"), std::string::npos);
    s.key("K");  // taken already: nothing moves
    EXPECT_EQ(s.program.target.point(0).hand_delay_ms, 350);
}

TEST(CommandKeys, QuitAndEscapeEndTheProgram) {
    for (const char* k : {"q", "\x1b"}) {
        Service s;
        try {
            s.key(k);
            FAIL();
        } catch (const ProgramExit& e) {
            EXPECT_EQ(e.code, 0);
        }
    }
}

// Rounds on six for the automatic ringing set-up.
void add_rounds6(Service& s) {
    s.h.fp.files.dirs.insert("composition_library");
    std::string text;
    for (int i = 0; i < 12; ++i) text += "123456\r\n";
    s.h.fp.files.files["composition_library/rounds6"] = text;
}

void answer_setup(Service& s) {
    s.h.fp.console.type_line("6");    // bells
    s.h.fp.console.type_line("2345"); // bells to ring (Ringing Room target)
    s.h.fp.console.type_line("");     // rounds
    s.h.fp.console.type_line("180");  // speed
}

TEST(AutomaticRinging, AWithoutSetUpSetsUpFirstThenStartsAndAStops) {
    Service s("Ringing Room - any browser with focus");
    add_rounds6(s);
    s.h.fp.windows.foreground_window = s.h.fp.windows.add_window("Tower - Ringing Room", "Browser");
    s.h.fp.console.type("A");
    answer_setup(s);
    check_keys(s.program);
    EXPECT_TRUE(s.program.autoring->ringer().is_set_up());
    EXPECT_TRUE(s.program.autoring->ringer().running());
    EXPECT_NE(s.h.log().find("method file loaded"), std::string::npos);
    EXPECT_EQ(s.h.fp.keyboard.typed(), "L");  // the start key
    EXPECT_EQ(s.h.fp.threads.slept_ms(), 4000);
    s.key("A");
    EXPECT_FALSE(s.program.autoring->ringer().running());
    EXPECT_TRUE(s.shows(9, "Automated ringing ended"));
    EXPECT_EQ(s.program.autoring->ringer().row(), -6);
    EXPECT_EQ(s.program.autoring->ringer().due_ms(), 0);
    // Again: no set-up questions this time.
    s.key("A");
    EXPECT_TRUE(s.program.autoring->ringer().running());
    EXPECT_TRUE(s.shows(9, "Automated ringing started"));
}

TEST(AutomaticRinging, ZSetsUpWithoutStarting) {
    Service s("Ringing Room - any browser with focus");
    add_rounds6(s);
    s.h.fp.console.type("Z");
    answer_setup(s);
    check_keys(s.program);
    EXPECT_TRUE(s.program.autoring->ringer().is_set_up());
    EXPECT_FALSE(s.program.autoring->ringer().running());
    EXPECT_TRUE(s.program.autoring->ringer().first_ring());
    EXPECT_EQ(s.h.fp.keyboard.sent.size(), 0u);
}

// "A" is typed in the console, so the console is in front: whatever the last
// key found, the start waits until the browser is.
TEST(AutomaticRinging, TheStartWaitsForTheTargetsFocusAndCanBeGivenUp) {
    Service s("Ringing Room - any browser with focus");
    add_rounds6(s);
    s.program.autoring->ringer().set_up(kDefaultAutoBells, "", kDefaultPealMinutes);
    ASSERT_TRUE(s.program.key_sender->has_focus());
    auto other = s.h.fp.windows.add_window("Notes", "Edit");
    auto rr = s.h.fp.windows.add_window("Practice - Ringing Room - Browser", "Browser");
    s.h.fp.windows.foreground_window = other;
    int polls = 0;
    s.h.fp.wait.on_wait = [&](const FakeWait::Call& w) {
        if (w.deadline_us - s.h.fp.clock.now_us() == 100000 && ++polls == 3) s.h.fp.windows.foreground_window = rr;
    };
    s.key("A");
    EXPECT_TRUE(s.program.autoring->ringer().running());
    EXPECT_TRUE(s.program.key_sender->has_focus());
    EXPECT_EQ(s.program.target_window.handle(), rr);
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(s.h.fp.keyboard.typed(), "L");

    Service t("Ringing Room - any browser with focus");
    t.program.autoring->ringer().set_up(kDefaultAutoBells, "", kDefaultPealMinutes);
    t.h.fp.wait.on_wait = [&](const FakeWait::Call& w) {
        if (w.sources == platform::kWakeConsole) t.h.fp.console.type("x");
    };
    t.key("A");
    EXPECT_FALSE(t.program.autoring->ringer().running());
    EXPECT_EQ(t.h.fp.keyboard.sent.size(), 0u);
    EXPECT_NE(t.program.screen.line_text(11).find("Automated ringing not started"), std::string::npos);
}

TEST(PauseCheck, JustOverSixSecondsRestartsTheCountersAndOtherKeysSkipTheCheck) {
    Service s;
    ring_rows(s.program, 10);
    for (int i = 0; i < 3; ++i) s.program.strikes->keys().record(0, 0);
    s.h.fp.clock.set_us(6000000);
    check_keys(s.program);
    EXPECT_EQ(s.program.strikes->rows().rows(), 10);  // exactly 6 s: not yet
    s.h.fp.clock.set_us(6000001);
    s.key("x");  // not a command: no pause check on this pass
    EXPECT_EQ(s.program.strikes->rows().rows(), 10);
    check_keys(s.program);
    EXPECT_EQ(s.program.strikes->rows().rows(), 0);
    EXPECT_EQ(s.program.strikes->keys().output_count(), 0);
    EXPECT_EQ(count_of(s.h.log(), "Processed sensor data"), 1);
}

}  // namespace
}  // namespace qn::test
