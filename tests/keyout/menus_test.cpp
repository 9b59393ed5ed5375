// The configuration menu and the target-entry editor on the screen model,
// answered by a user who types when the program waits.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "config/configfile.h"
#include "ui/service_screen.h"
#include "fakes/fake_platform.h"
#include "keyout/menus.h"
#include "keyout/targets.h"

namespace qn::test {
namespace {

struct User {
    Harness h;
    Program& program;
    std::deque<std::string> answers;
    std::vector<std::vector<std::string>> seen;  // the screen at each answer
    std::uint64_t seen_version = ~0ull;

    User() : program(h.program()) {
        program.settings_file->set_base_name(kProgramVersion);
        program.cfg.sensor_count = 2;
        set_target_defaults(program.target, program.cfg.sensor_count);
        program.screen.clear_window();
        // An answer is typed only when the program looks for a key twice
        // without drawing in between: it is waiting, not emptying the buffer.
        h.fp.console.on_idle = [this] {
            const bool waiting = program.screen.version() == seen_version;
            seen_version = program.screen.version();
            if (!waiting || answers.empty()) return;
            std::vector<std::string> lines;
            for (int l = 1; l <= Screen::kRows; ++l) lines.push_back(program.screen.line_text(l));
            seen.push_back(lines);
            h.fp.console.type(answers.front());
            answers.pop_front();
        };
    }
    TargetProgram& entry(int i) { return program.target.table()[i]; }
    // Screen line l (from 1) as it was when answer k (from 0) was typed.
    std::string at(std::size_t k, int l) const { return seen.at(k).at(static_cast<std::size_t>(l - 1)); }
    bool ever_shown(const std::string& text) const {
        for (auto& screen : seen)
            for (auto& line : screen)
                if (line.find(text) != std::string::npos) return true;
        return false;
    }
    bool saved() const { return h.fp.files.files.count(std::string(kProgramVersion) + ".ini") == 1; }
};

std::string padded(const std::string& s) { return s + std::string(Screen::kCols - s.size(), ' '); }

TEST(EntryEditor, WithTwoSensingPointsTheSecondIsOptions6To10) {
    User u;
    u.entry(8).sensors_active = 2;
    u.entry(8).points[1] = SensingPoint{2, 'k', 80, 'l', 90};
    u.answers = {"7\r", "m", "0\r"};
    u.program.configuration_menu->change_target_parameters(8);
    EXPECT_EQ(u.at(0, 1), padded("Program target=Abel Active sensing points=2"));
    const std::string first = u.at(0, 2) + u.at(0, 3);
    const std::string second = u.at(0, 4) + u.at(0, 5);
    EXPECT_EQ(first.rfind("[1] Sensing point 1,[2] handstroke key=j,[3] & delay ms=80,[4] backstroke key=j,[5] & delay ms=80", 0), 0u)
        << first;
    EXPECT_EQ(second.rfind("[6] Sensing point 2,[7] handstroke key=k,[8] & delay ms=80,[9] backstroke key=l,[10] & delay ms=90", 0), 0u)
        << second;
    EXPECT_EQ(u.at(0, 6), padded("Press number of option to change, or 0 (zero) to finish here"));
    EXPECT_TRUE(u.ever_shown("Input new handstroke key to send"));
    EXPECT_TRUE(u.ever_shown("Now sensing point=2 handstrokekey=m & delay=80 backstrokekey=l & delay=90"));
    EXPECT_EQ(u.entry(8).points[1].hand_key, 'm');
    EXPECT_EQ(u.entry(8).points[0].hand_key, 'j');
    EXPECT_TRUE(u.saved());
}

// Delays and sensors keep to their ranges: a number beyond is asked for
// again, the range named, and Enter keeps the value.
TEST(EntryEditor, NumbersBeyondTheirRangeAreAskedAgainAndEnterKeeps) {
    User u;
    u.answers = {"3\r", "-20\r", "1001\r", "150\r", "5\r", "\r", "0\r"};
    u.program.configuration_menu->change_target_parameters(5);
    EXPECT_TRUE(u.answers.empty());
    EXPECT_TRUE(u.ever_shown("Give a whole number in 0..1000, Enter keeps 0"));
    EXPECT_EQ(u.entry(5).points[0].hand_delay_ms, 150);
    EXPECT_EQ(u.entry(5).points[0].back_delay_ms, 0);

    User v;
    v.entry(4).points[0].sensor = 5;
    // 81 is past the last option; 3 is past the bell's two sensors.
    v.answers = {"81\r", "1\r", "3\r", "2\r", "0\r"};
    v.program.configuration_menu->change_target_parameters(4);
    EXPECT_TRUE(v.answers.empty());
    EXPECT_EQ(v.entry(4).points[0].sensor, 2);
    EXPECT_TRUE(v.ever_shown("Input new sensing point to use (1.. 2)"));
    EXPECT_TRUE(v.ever_shown("(1..2)"));  // 5 is no sensor: Enter cannot keep it
    // Options above the active points change fields not in use.
    User w;
    w.answers = {"12\r", "X", "0\r"};  // point 3, field 2: the key is stored as typed
    w.program.configuration_menu->change_target_parameters(4);
    EXPECT_EQ(w.entry(4).points[2].hand_key, 'X');
}

TEST(SwitchBounce, ChangedOnYesKeptOtherwiseAndNotInDataMode) {
    User u;
    u.answers = {"y", "-100\r", "25\r"};
    u.program.configuration_menu->set_switch_bounce();
    EXPECT_EQ(u.at(0, 1), padded("To stop switch bounce, intervals below 40ms are ignored, change value? (y/N)"));
    EXPECT_TRUE(ScreenHas(u.program.screen, 1, 57, " change value? (y/N)", kYellow));
    EXPECT_TRUE(ScreenHas(u.program.screen, 2, 1, "Enter new value integer>=0", kYellow));
    EXPECT_EQ(u.program.cfg.switch_bounce_ms, 25);
    EXPECT_NE(u.h.log().find("Switch calibration changes to 25\r\n"), std::string::npos);

    EXPECT_TRUE(ScreenHas(u.program.screen, 3, 1, "(0..500, Enter keeps 40)", kYellow));
    EXPECT_TRUE(ScreenHas(u.program.screen, 5, 1, "Give a whole number in 0..500, Enter keeps 40", kYellow));

    for (const char* no : {"n", "y\r"}) {  // an empty answer keeps it too
        User n;
        n.answers = {std::string(1, no[0]), no + 1};
        n.program.configuration_menu->set_switch_bounce();
        EXPECT_EQ(n.program.cfg.switch_bounce_ms, 40);
    }

    User d;
    d.program.cfg.rest_on_mode = true;
    d.program.configuration_menu->set_switch_bounce();
    EXPECT_TRUE(ScreenHas(d.program.screen, 1, 1, "Switchbouncedelay not adjustable for Bagley interface"));
    d.answers = {"B", "X"};
    d.program.configuration_menu->run();
    EXPECT_EQ(d.program.cfg.switch_bounce_ms, 40);
    EXPECT_TRUE(d.saved());
}

TEST(ConfigMenu, DrawnInTheLongScratchWindowAndLeftWithARepaint) {
    User u;
    u.program.cfg.switch_bounce_ms = 35;
    u.answers = {"D", "D", "D", "X"};
    u.program.configuration_menu->run();
    const int top = kScratchFirstLine;
    EXPECT_EQ(u.at(0, top), padded("Configuration Modification Options:"));
    EXPECT_EQ(u.at(0, top + 1), padded("Press the emphasised [L]etter corresponding to the action, & X to finish"));
    EXPECT_EQ(u.at(0, top + 2), padded("[P] Change default Program target"));
    EXPECT_EQ(u.at(0, top + 3), padded("[B] Set Switch bounce delay ms, current value=35"));
    EXPECT_EQ(u.at(0, top + 4), padded("[T] Change options for a target program"));
    EXPECT_EQ(u.at(0, top + 5), padded("[X] finish configurations"));
    EXPECT_TRUE(u.program.configuration_menu->diagnostics());  // D is a toggle: three presses leave it on
    EXPECT_TRUE(u.program.service_screen->stale());
    EXPECT_EQ(u.program.screen.win_top(), 1);
    EXPECT_EQ(u.program.screen.win_bottom(), Screen::kRows);
    EXPECT_FALSE(u.saved());  // nothing was changed

    User v;
    v.answers = {"d", "d", "x"};
    v.program.configuration_menu->run();
    EXPECT_FALSE(v.program.configuration_menu->diagnostics());
}

TEST(ConfigMenu, TheTargetListingClearsTheFocusFlagsAndANumberOutsideTheTableIsAskedAgain) {
    User u;
    u.program.target.set_window_rules(true, true);
    u.answers = {"T", "12\r", "3\r", "0\r", "X"};
    u.program.configuration_menu->run();
    EXPECT_FALSE(u.program.target.restricted());
    EXPECT_FALSE(u.program.target.seeks_window());
    const int top = kScratchFirstLine;
    // The listing follows the menu; its last line scrolls the window by one.
    EXPECT_EQ(u.at(1, top), padded("Press the emphasised [L]etter corresponding to the action, & X to finish"));
    EXPECT_EQ(u.at(1, top + 5), padded("Which target program? - give number: (0..9)"));
    EXPECT_EQ(u.at(1, top + 6), padded("[0] Open"));
    EXPECT_EQ(u.at(1, top + 7), padded("[1] Ringing Room - any browser with focus"));
    EXPECT_EQ(u.at(1, top + 15), padded("[9] Beltower"));
    EXPECT_TRUE(u.ever_shown("Give a number in 0..9"));
    EXPECT_TRUE(u.ever_shown("Program target=Ringing Room - Chrome or Edge Active sensing points=1"));
    EXPECT_TRUE(u.saved());
}

// From the configuration menu too, a number naming no entry is asked for
// again: never "Open".
TEST(ConfigMenu, PChoosesTheDefaultTargetAndSaves) {
    User u;
    u.answers = {"p", "12\r", "9\r", "X"};
    u.program.configuration_menu->run();
    EXPECT_TRUE(u.ever_shown("Modify Default program setting"));
    EXPECT_TRUE(u.ever_shown("4: \"Muster - moving ropes\"; 5: \"Muster - no delay\";"));
    EXPECT_TRUE(u.ever_shown("There is no program 12: give a number in [0 ..9]"));
    EXPECT_EQ(u.program.cfg.target_program, "Beltower");
    EXPECT_TRUE(u.saved());
}

// A ringer may answer the moment the menu's last line appears, before the
// program is back waiting: that key is the answer, not type-ahead to drop.
TEST(ConfigMenu, AKeyTypedAsSoonAsTheMenuShowsIsTaken) {
    for (int entry_editor = 0; entry_editor < 2; ++entry_editor) {
        User u;
        const std::string last = entry_editor ? ",[4] backstroke key=" : "[X] finish configurations";
        bool typed = false;
        u.h.fp.console.on_idle = [&] {
            for (int l = 1; l <= Screen::kRows && !typed; ++l) {
                typed = u.program.screen.line_text(l).find(last) == 0;
                if (typed) u.h.fp.console.type(entry_editor ? "0\r" : "X");
            }
        };
        u.h.fp.console.idle_limit = 1000;
        EXPECT_NO_THROW(entry_editor ? u.program.configuration_menu->change_target_parameters(8) : u.program.configuration_menu->run()) << last;
    }
}

TEST(ConfigMenu, QEndsTheProgram) {
    User u;
    u.answers = {"q"};
    try {
        u.program.configuration_menu->run();
        FAIL() << "Q must end the program";
    } catch (const ProgramExit& e) {
        EXPECT_EQ(e.code, 0);
    }
    EXPECT_NE(u.h.log().find("Interface terminated by User - closing..."), std::string::npos);
}

}  // namespace
}  // namespace qn::test
