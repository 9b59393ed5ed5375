#include <gtest/gtest.h>

#include "core/text.h"
#include "core/timing.h"
#include "fakes/fake_platform.h"
#include "service/run_end.h"

namespace qn::test {
namespace {

TEST(ConsoleWindows, GeometryOfEveryWindow) {
    Harness h;
    Program& program = h.program();
    struct Case {
        Area area;
        int top, bottom;
    } cases[] = {
        {Area::Header, 1, 8},      {Area::LongScratch, 9, 25}, {Area::Scratch, 9, 20},
        {Area::Monitor, 10, 25},   {Area::BigNumber, 1, 18},   {Area::LowScratch, 19, 20},
        {Area::Full, 1, 25},
    };
    for (const Case& k : cases) {
        program.console.clear(k.area);
        EXPECT_EQ(program.console.first_line(k.area), k.top);
        EXPECT_EQ(program.screen.win_top(), k.top);
        EXPECT_EQ(program.screen.win_bottom(), k.bottom);
        EXPECT_EQ(program.screen.win_left(), 1);
        EXPECT_EQ(program.screen.win_right(), 80);
    }
}

TEST(ConsoleWindows, LongScratchLeavesCursorOnLine9AndLowScratchClearsOnly19And20) {
    Harness h;
    Program& program = h.program();
    program.screen.background_colour(kBlue);
    program.console.select(Area::Full);
    for (int line = 1; line <= 25; ++line) {
        program.screen.move_to(1, line);
        program.screen.write("x");
    }
    program.console.clear(Area::LowScratch);
    EXPECT_EQ(program.screen.text(18, 1, 1), "x");
    EXPECT_EQ(program.screen.text(19, 1, 1), " ");
    EXPECT_EQ(program.screen.text(20, 1, 1), " ");
    EXPECT_EQ(program.screen.text(21, 1, 1), "x");
    EXPECT_EQ(program.screen.at(19, 80).bg, kBlue);
    program.console.clear(Area::LongScratch);
    EXPECT_EQ(program.screen.cursor_line(), 9);
    EXPECT_EQ(program.screen.cursor_col(), 1);
    EXPECT_EQ(program.screen.text(8, 1, 1), "x");
}

class QuitKeys : public ::testing::TestWithParam<int> {};

TEST_P(QuitKeys, EndTheProgramAfterTwoSecondsWithCodeZero) {
    Harness h;
    Program& program = h.program();
    program.clock.start();
    h.fp.console.type_key(GetParam());
    h.fp.console.type("x");
    try {
        (void)program.console.wait_key();
        FAIL() << "the program should have ended";
    } catch (const ProgramExit& e) {
        EXPECT_EQ(e.code, 0);
    }
    EXPECT_TRUE(ScreenHas(program.screen, 9, 1, "Interface terminated by User - closing...", kYellow));
    EXPECT_NE(h.log().find("Interface terminated by User - closing...\r\n"), std::string::npos);
    EXPECT_EQ(h.fp.threads.slept_ms(), 2000);
    EXPECT_TRUE(h.fp.console.closed);
}

INSTANTIATE_TEST_SUITE_P(AllOfThem, QuitKeys, ::testing::Values('q', 'Q', 27, 3));

// A pause (a message left 4 s on the screen) hears a request to end at its
// next look; Q's own closing pause is not ended a second time by a
// keyboard that ends meanwhile.
TEST(QuitKeys, AnEndAskedDuringAPauseIsHeardAtTheNextLook) {
    struct Case {
        const char* what;
        bool quit_first;
        bool asks;  // SIGTERM, else the keyboard ends
        int code;
        std::int64_t ended_by_us;
        const char* last_line;
    } cases[] = {
        {"SIGTERM in a pause", false, true, 143, 1100000,
         "Run ended: asked to end by another program or the system (SIGTERM)"},
        {"keyboard ends in a pause", false, false, 0, 1100000, "Run ended: the keyboard's input ended (end of file)"},
        {"keyboard ends in Q's pause", true, false, 0, 2000000, "Interface terminated by User - closing..."},
    };
    for (const Case& k : cases) {
        Harness h;
        Program& program = h.program();
        h.fp.threads.on_sleep = [&](std::int32_t) {
            if (h.fp.clock.now_us() < 1000000) return;
            h.fp.ending.taken = true;
            if (k.asks) h.fp.ending.ask = [] { return platform::EndRequest{platform::EndReason::Terminate, "SIGTERM"}; };
            h.fp.console.input_closed = !k.asks;
        };
        try {
            if (k.quit_first) program.ending->quit();
            program.console.pause_ms(4000);
            ADD_FAILURE() << k.what << ": the pause ran to its end";
        } catch (const ProgramExit& e) {
            EXPECT_EQ(e.code, k.code) << k.what;
        }
        EXPECT_LE(h.fp.clock.now_us(), k.ended_by_us) << k.what;
        EXPECT_EQ(h.log().substr(h.log().rfind('\n', h.log().size() - 3) + 1), std::string(k.last_line) + "\r\n")
            << k.what;
    }
}

TEST(KeyReads, OtherKeysComeBackAsTypedAndExtendedKeysAsZero) {
    Harness h;
    Program& program = h.program();
    EXPECT_EQ(program.console.key_if_any(), 0);  // nothing waiting
    h.fp.console.type("a");
    h.fp.console.type_key(0);
    h.fp.console.type_key(72);  // cursor up: two codes
    h.fp.console.type("B");
    EXPECT_EQ(program.console.key_if_any(), 'a');
    EXPECT_EQ(program.console.key_if_any(), 0);
    EXPECT_EQ(program.console.key_if_any(), 'B');
}

// A prompt waits for the key itself: a key typed during a wait ends it.
TEST(KeyReads, APromptWaitsForTheKeyNotForAFixedTime) {
    Harness h;
    Program& program = h.program();
    int waits = 0;
    h.fp.wait.on_wait = [&](const FakeWait::Call& w) {
        EXPECT_EQ(w.sources, platform::kWakeConsole);
        if (++waits == 3) {
            h.fp.clock.advance_us(20000);
            h.fp.console.type("k");
        }
    };
    EXPECT_EQ(program.console.wait_key(), 'k');
    EXPECT_EQ(waits, 3);
    EXPECT_EQ(h.fp.clock.now_us(), 220000);  // two whole waits, then the key 20 ms into the third
    EXPECT_TRUE(h.fp.threads.sleeps.empty());
}

TEST(KeyReads, ClearingTheBufferStillHonoursAQuitKey) {
    Harness h;
    Program& program = h.program();
    h.fp.console.type("abc");
    program.console.flush_keys();
    EXPECT_TRUE(h.fp.console.keys.empty());
    h.fp.console.type("aQb");
    EXPECT_THROW(program.console.flush_keys(), ProgramExit);
}

TEST(IntegerPrompt, AnswersAndRetries) {
    Harness h;
    Program& program = h.program();
    program.screen.move_to(1, 5);
    h.fp.console.type_line("");
    EXPECT_EQ(program.console.read_int(), 0);
    h.fp.console.type_line("  42");
    EXPECT_EQ(program.console.read_int(), 42);
    h.fp.console.type_line("-20");
    EXPECT_EQ(program.console.read_int(), -20);
    h.fp.console.type_line("12x");
    h.fp.console.type_line("7");
    EXPECT_EQ(program.console.read_int(), 7);
    // The retry message stands on the line after the bad answer, and the
    // next answer is typed right after it.
    EXPECT_EQ(program.screen.text(9, 1, 48), "Input was 12x Bad integer value try again7      ");
    EXPECT_EQ(program.screen.at(9, 1).fg, kYellow);
}

TEST(IntegerPrompt, BackspaceEditsTheAnswer) {
    Harness h;
    h.fp.console.type("19");
    h.fp.console.type_key(8);
    h.fp.console.type_line("5");
    EXPECT_EQ(h.program().console.read_int(), 15);
}

TEST(IntegerPrompt, AQAtTheFirstUnusablePlaceQuits) {
    for (const char* answer : {"q", "12q", "Q7"}) {
        Harness h;
        h.fp.console.type_line(answer);
        try {
            (void)h.program().console.read_int();
            ADD_FAILURE() << answer;
        } catch (const ProgramExit& e) {
            EXPECT_EQ(e.code, 0) << answer;
        }
    }
}

TEST(FatalStop, CodesMessagesAndThePort) {
    struct Case {
        int code;
        const char* message;
        int exit_code;
        bool port_closed;
        bool keyboard_closed = false;  // no Enter can come: the stop goes on without it
    } cases[] = {
        {95, "Open \\\\.\\COM3 failed - check COM port connection", 95, true},
        {96, "z", 96, true, true},
        {10, "", 10, false},
        {0, "x", 0, false},
        {-5, "y", 0, false},
    };
    for (const Case& k : cases) {
        Harness h;
        Program& program = h.program();
        h.fp.serial.add_port("COM3");
        program.ports.set_service(h.fp.serial.open("\\\\.\\COM3").value());
        program.clock.start();
        h.fp.console.input_closed = k.keyboard_closed;
        if (!k.keyboard_closed) h.fp.console.type_line("");
        try {
            program.ending->halt(k.code, k.message);
            ADD_FAILURE();
        } catch (const ProgramExit& e) {
            EXPECT_EQ(e.code, k.exit_code);
        }
        std::string shown = *k.message ? k.message : "Terminated by User";
        EXPECT_TRUE(ScreenHas(program.screen, 1, 1, shown, kYellow));
        EXPECT_NE(h.log().find(shown + "\r\n"), std::string::npos);
        bool closed = false;
        for (auto& call : h.fp.serial.calls) closed |= call == "close COM3";
        EXPECT_EQ(closed, k.port_closed) << k.code;
        EXPECT_FALSE(program.clock.running());
    }
}

TEST(Text, UnderscoresShownAsBlanks) {
    EXPECT_EQ(underscores_to_spaces("Quennick_v0.8.2d3_(04_Jan_2021)_"), "Quennick v0.8.2d3 (04 Jan 2021) ");
}

}  // namespace
}  // namespace qn::test
