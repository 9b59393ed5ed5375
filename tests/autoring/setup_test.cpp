#include <gtest/gtest.h>

#include <algorithm>

#include "autoring/automatic_ringing.h"
#include "autoring/setup.h"
#include "autoring/touch_rows.h"
#include "service/program.h"
#include "fakes/fake_platform.h"
#include "service/keycheck.h"
#include "keyout/targets.h"

namespace qn {
namespace {

using test::Harness;
using test::lines;
using test::plain_bob_touch;
using test::ring;

std::string rounds_file(int n, int rows = 12) {
    return lines(std::vector<std::string>(static_cast<std::size_t>(rows), std::string("1234567890ET").substr(0, n)));
}

// The set-up with answers typed one line at a time when the program asks;
// the scratch area is recorded before each answer, because the set-up clears
// it when it is done.
struct Dialogue {
    explicit Dialogue(const std::string& target) {
        Program& program = h.program();
        program.cfg.sensor_count = 1;
        set_target_defaults(program.target, program.cfg.sensor_count);
        program.cfg.target_program = target;
        h.fp.console.idle_limit = 20;
        h.fp.console.on_idle = [this] {
            if (next >= answers.size()) return;
            std::vector<std::string> shot;
            for (int line = kScratchFirstLine; line <= kScratchLastLine; ++line) {
                std::string t = h.program().screen.line_text(line);
                t.erase(t.find_last_not_of(' ') + 1);
                shot.push_back(t);
            }
            shots.push_back(shot);
            h.fp.console.type_line(answers[next++]);
        };
    }
    bool run(std::vector<std::string> a) {
        answers = std::move(a);
        return set_up_autoring(h.program());
    }
    // The scratch line (from 9) as it stood before answer k (from 0).
    const std::string& shown(std::size_t k, int line) const {
        return shots.at(k).at(static_cast<std::size_t>(line - kScratchFirstLine));
    }
    // Lines run on into the next at the right edge.
    bool screen_has(const std::string& text) {
        std::string all;
        for (int line = 1; line <= Screen::kRows; ++line) all += h.program().screen.line_text(line);
        return all.find(text) != std::string::npos;
    }

    Harness h;
    std::vector<std::string> answers;
    std::size_t next = 0;
    std::vector<std::vector<std::string>> shots;
};

const char* kFirefox = "Ringing Room - Firefox";
const char* kAbel = "Abel";

// ---- the questions ------------------------------------------------------------

TEST(AutoringSetUp, AsksUntilTheNumberOfBellsIsInRangeThenForTheBellsToRing) {
    Dialogue d(kFirefox);
    d.h.fp.files.files["composition_library/rounds8"] = rounds_file(8);
    ASSERT_TRUE(d.run({"3", "13", "8", "2345et", "", "180"}));
    EXPECT_EQ(d.shown(3, 9), "Give number of bells being rung3");
    EXPECT_EQ(d.shown(3, 10), "13");
    EXPECT_EQ(d.shown(3, 11), "8");
    EXPECT_EQ(d.shown(3, 12), "Ringing 8 bells");
    EXPECT_EQ(d.shown(3, 13), "NB Automated ringing is controlled solely from this interface, NOT ringing room");
    EXPECT_EQ(d.shown(3, 14), "Give numbers of bells to ring e.g 1456ET & press [ENTER]:");
    EXPECT_EQ(d.shown(4, 15), "Bells to ring are=2345ET");
    EXPECT_EQ(d.shown(4, 16), "Give the name of the method/touch file (null entry means do rounds)");
    EXPECT_EQ(d.shown(5, 18), "method file loaded");
    EXPECT_EQ(d.shown(5, 19), "Give peal speed in *Minutes*");

    const AutoRinger& a = d.h.program().autoring->ringer();
    EXPECT_EQ(a.bells(), 8);
    EXPECT_EQ(a.keys(), " 2345     ET");
    EXPECT_EQ(a.peal_minutes(), 180);
    EXPECT_EQ(a.interval_ms(), 252);
    EXPECT_EQ(a.key_count(), 0);
    EXPECT_NE(d.h.log().find("method file loaded\r\n"), std::string::npos);
}

TEST(AutoringSetUp, PromptsAreYellowAndAnswersAndRepliesWhite) {
    Dialogue d(kFirefox);
    // No file: "T" stops at the file question, before the screen is cleared.
    EXPECT_FALSE(d.run({"6", "1", "T"}));
    const Screen& s = d.h.program().screen;
    EXPECT_EQ(s.at(9, 1).fg, kYellow);
    EXPECT_EQ(s.at(9, 32).fg, kWhite);  // the answer after the prompt
    EXPECT_EQ(s.at(10, 1).fg, kWhite);  // "Ringing 6 bells"
    EXPECT_EQ(s.at(11, 1).fg, kWhite);  // "NB ..."
    EXPECT_EQ(s.at(12, 1).fg, kYellow);
    EXPECT_EQ(s.at(9, 1).bg, s.at(20, 80).bg);
}

TEST(AutoringSetUp, LettersOfBellsBeyondTwelveAreIgnored) {
    Dialogue d(kFirefox);
    d.h.fp.files.files["composition_library/rounds6"] = rounds_file(6);
    ASSERT_TRUE(d.run({"6", "12ABCDet#", "", "180"}));
    EXPECT_EQ(d.shown(2, 13), "Bells to ring are=12ET");
    EXPECT_EQ(d.h.program().autoring->ringer().keys(), "12        ET");
}

TEST(AutoringSetUp, OtherTargetsRingOnlyTheFirstBellAndAreNotAsked) {
    Dialogue d(kAbel);
    d.h.fp.files.files["composition_library/rounds6"] = rounds_file(6);
    ASSERT_TRUE(d.run({"6", "", "180"}));
    EXPECT_EQ(d.h.program().autoring->ringer().keys(), "j     ");
    EXPECT_EQ(d.shown(1, 11), "Give the name of the method/touch file (null entry means do rounds)");
}

TEST(AutoringSetUp, SpeedsOutsideTheRangeAreAskedAgainSilently) {
    Dialogue d(kAbel);
    d.h.fp.files.files["composition_library/rounds8"] = rounds_file(8);
    ASSERT_TRUE(d.run({"8", "", "59", "301", "200"}));
    EXPECT_EQ(d.h.program().autoring->ringer().peal_minutes(), 200);
    EXPECT_EQ(d.h.program().autoring->ringer().interval_ms(), 280);
    EXPECT_EQ(d.shown(4, 14), "Give peal speed in *Minutes*59");
    EXPECT_EQ(d.shown(4, 15), "301");
    EXPECT_EQ(d.shown(4, 16), "");
}

TEST(AutoringSetUp, TheBeatIsThatOfAPealOfFiveThousandAndForty) {
    struct Case {
        int bells, speed;
        std::int64_t interval;
    };
    for (Case k : {Case{8, 180, 252}, Case{12, 60, 57}, Case{4, 300, 793}, Case{6, 180, 329}}) {
        Dialogue d(kAbel);
        d.h.fp.files.files["composition_library/rounds" + std::to_string(k.bells)] = rounds_file(k.bells);
        ASSERT_TRUE(d.run({std::to_string(k.bells), "", std::to_string(k.speed)})) << k.bells;
        EXPECT_EQ(d.h.program().autoring->ringer().interval_ms(), k.interval) << k.bells << " at " << k.speed;
        // Done: the scratch area is cleared and the whole screen selected.
        EXPECT_EQ(d.h.program().screen.win_top(), 1);
        EXPECT_EQ(d.h.program().screen.win_bottom(), Screen::kRows);
        EXPECT_EQ(d.h.program().screen.line_text(9), std::string(80, ' '));
    }
}

TEST(AutoringSetUp, ADoublesFileLowersTheBellsBeforeTheBeatIsWorkedOut) {
    Dialogue d(kAbel);
    auto doubles = ring("12345", {"5", "1", "5", "1", "5", "1", "5", "1", "5", "125"});
    d.h.fp.files.files["doubles"] = lines(doubles);
    ASSERT_TRUE(d.run({"8", "doubles", "180"}));
    EXPECT_EQ(d.h.program().autoring->ringer().bells(), 6);
    EXPECT_EQ(d.h.program().autoring->ringer().interval_ms(), 329);
}

// ---- finding the file ------------------------------------------------------------

TEST(AutoringSetUpFile, NoNameMeansRoundsHereBeforeTheLibrary) {
    Dialogue d(kAbel);
    d.h.fp.files.files["rounds8"] = rounds_file(8, 6);
    d.h.fp.files.files["composition_library/rounds8"] = rounds_file(8, 12);
    ASSERT_TRUE(d.run({"8", "", "180"}));
    EXPECT_EQ(d.h.program().autoring->touch().row_count, 6 + kRoundsAtEnd);
    const auto& calls = d.h.fp.files.calls;
    EXPECT_NE(std::find(calls.begin(), calls.end(), "make_dir composition_library"), calls.end());

    Dialogue lib(kAbel);
    lib.h.fp.files.files["composition_library/rounds8"] = rounds_file(8, 12);
    ASSERT_TRUE(lib.run({"8", "", "180"}));
    EXPECT_EQ(lib.h.program().autoring->touch().row_count, 12 + kRoundsAtEnd);
}

TEST(AutoringSetUpFile, AMissingFileIsNamedInTheLibraryAndTAbandons) {
    Dialogue d(kAbel);
    EXPECT_FALSE(d.run({"8", "", "t"}));
    EXPECT_TRUE(d.screen_has("file=.\\composition_library\\rounds8 not found, try again [or T to quit configuration]"));
    EXPECT_TRUE(d.screen_has("file=.\\composition_library\\t not found, try again [or T to quit configuration]"));
    EXPECT_TRUE(d.screen_has("terminating setting up automatic ringing"));
    EXPECT_EQ(d.next, 3u);
}

TEST(AutoringSetUpFile, ANameBeginningWithTThatExistsIsLoaded) {
    Dialogue d(kAbel);
    d.h.fp.files.files["composition_library/Touch"] = lines(ring("123456", plain_bob_touch(6, "bsp")));
    ASSERT_TRUE(d.run({"6", "Touch", "180"}));
    EXPECT_EQ(d.h.program().autoring->touch().row_count, 37 + kRoundsAtEnd);
}

TEST(AutoringSetUpFile, AnUnusableFileIsReportedAndAnotherAskedFor) {
    Dialogue d(kAbel);
    d.h.fp.files.files["thin"] = "12\n21\n";
    d.h.fp.files.files["composition_library/rounds6"] = rounds_file(6);
    ASSERT_TRUE(d.run({"6", "thin", "", "180"}));
    const std::string log = d.h.log();
    const auto bad = log.find("method did not load\r\n");
    ASSERT_NE(bad, std::string::npos);
    EXPECT_NE(log.find("method file loaded\r\n", bad), std::string::npos);
    EXPECT_EQ(d.shown(2, 14), "method did not load");
}

}  // namespace
}  // namespace qn
