#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "autoring/methodfile.h"
#include "autoring/touch_rows.h"
#include "autoring/automatic_ringing.h"
#include "service/program.h"
#include "fakes/fake_platform.h"

namespace qn {
namespace {

using test::Harness;
using test::lines;
using test::plain_bob_touch;
using test::ring;

std::int32_t bells_after = 0;  // what the last load left to be rung

bool load(Harness& h, const std::string& text, std::int32_t n) {
    TouchReader reader(h.program().autoring->touch(), h.program().run_log, h.program().dialog, n);
    const bool loaded = reader.load_method_file(text);
    bells_after = reader.bells();
    return loaded;
}

bool screen_has(const Program& program, const std::string& text) {
    for (int line = 1; line <= Screen::kRows; ++line)
        if (program.screen.line_text(line).find(text) != std::string::npos) return true;
    return false;
}

// Rows 2..last of the file that carry a call key or a "P".
std::string marks(const Touch& a, std::int32_t from, std::int32_t to) {
    std::string out;
    for (std::int32_t r = from; r <= to; ++r)
        if (a.call_at(r) != ' ') out += std::to_string(r) + a.call_at(r) + " ";
    return out;
}

// ---- block length and calls ---------------------------------------------------

TEST(MethodFileBlocks, PlainCourseOfMinorHasALeadOfTwelveAndNoCallKeys) {
    Harness h;
    auto rows = ring("123456", plain_bob_touch(6, "ppppp"));
    ASSERT_EQ(rows.back(), "123456");
    ASSERT_TRUE(load(h, lines(rows), 6));
    const Touch& a = h.program().autoring->touch();
    EXPECT_EQ(a.base_length, 12);
    EXPECT_EQ(a.row_count, 61 + kRoundsAtEnd);
    // Only the plain lead end where it first differs from row 1's blank.
    EXPECT_EQ(marks(a, 3, 61), "13P ");
    EXPECT_EQ(a.call_at(2), 'g');
    EXPECT_EQ(a.call_at(62), 'h');
    EXPECT_EQ(a.call_at(65), 't');
    for (std::int32_t r = kFirstRow; r <= 1; ++r) EXPECT_EQ(a.bells_at(r), "123456") << r;
    for (std::int32_t r = 62; r <= 65; ++r) EXPECT_EQ(a.notation_at(r), " ") << r;
    EXPECT_EQ(a.notation_at(2), "x");
    EXPECT_EQ(a.notation_at(3), "16");
    EXPECT_EQ(a.notation_at(13), "12");
    EXPECT_EQ(a.bells_at(13), "135264");  // the first lead end
    EXPECT_EQ(bells_after, 6);
}

TEST(MethodFileBlocks, PlainCourseOfMajorHasALeadOfSixteen) {
    Harness h;
    ASSERT_TRUE(load(h, lines(ring("12345678", plain_bob_touch(8, "ppppppp"))), 8));
    EXPECT_EQ(h.program().autoring->touch().base_length, 16);
}

TEST(MethodFileBlocks, BobsAndSinglesOnEightAreLittleBAndN) {
    Harness h;
    ASSERT_TRUE(load(h, lines(ring("12345678", plain_bob_touch(8, "pbpsp"))), 8));
    const Touch& a = h.program().autoring->touch();
    EXPECT_EQ(a.base_length, 16);
    // Lead ends fall on rows 17, 33, 49, 65, 81: plain, bob, plain, single, plain.
    EXPECT_EQ(marks(a, 3, 81), "17P 33b 49P 65n 81P ");
    EXPECT_EQ(a.plain_count, 1);
    EXPECT_NE(h.log().find("Call 2Placenotation=(14) callname=b\r\n"), std::string::npos);
    EXPECT_TRUE(screen_has(h.program(), "Call 3Placenotation=(1234) callname=n"));
}

TEST(MethodFileBlocks, OnSixBellsFourteenIsTheBigB) {
    Harness h;
    ASSERT_TRUE(load(h, lines(ring("123456", plain_bob_touch(6, "bsp"))), 6));
    EXPECT_EQ(marks(h.program().autoring->touch(), 3, 37), "13B 25n 37P ");
}

TEST(MethodFileBlocks, OnlyAChangeOfNotationIsSeenSoARepeatedCallGetsNoKey) {
    Harness h;
    ASSERT_TRUE(load(h, lines(ring("12345678", plain_bob_touch(8, "pbbp"))), 8));
    EXPECT_EQ(marks(h.program().autoring->touch(), 3, 65), "17P 33b 65P ");
}

TEST(MethodFileBlocks, DifferencesAtTwoPlacesInTheLeadAreRefused) {
    Harness h;
    auto changes = plain_bob_touch(6, "pbpbpb");
    changes[3 * 12 + 5] = "1236";  // the half lead of lead 4: row 43, position 7 of the lead
    ASSERT_FALSE(load(h, lines(ring("123456", changes)), 6));
    EXPECT_EQ(h.program().autoring->touch().base_length, 12);
    EXPECT_EQ(h.program().autoring->touch().lead_heads.size(), 2u);
    const std::string log = h.log();
    EXPECT_NE(log.find("This composition is unsuitable - has varying blocklengths\r\n1\r\n7\r\n"), std::string::npos);
    EXPECT_NE(log.find("seekrepeatpatternsfailed\r\n"), std::string::npos);
    EXPECT_TRUE(screen_has(h.program(), "This composition is unsuitable - has varying blocklengths"));
}

TEST(MethodFileBlocks, MoreThanOneUnknownCallIsRefusedWithTheCount) {
    Harness h;
    auto changes = plain_bob_touch(6, "pppppp");
    changes[2 * 12 - 1] = "1256";
    changes[4 * 12 - 1] = "1236";
    ASSERT_FALSE(load(h, lines(ring("123456", changes)), 6));
    EXPECT_EQ(h.program().autoring->touch().plain_count, 3);
    EXPECT_TRUE(screen_has(h.program(), "Composition is unsuitable - 2 call types unaccounted for!"));
    const std::string log = h.log();
    EXPECT_NE(log.find("This composition is unsuitable - 2 call types unaccounted for!\r\n"), std::string::npos);
    EXPECT_NE(log.find("check calltypes was ok=FALSE\r\n"), std::string::npos);
    EXPECT_NE(log.find("list of call locations\r\n"), std::string::npos);  // still written
}

TEST(MethodFileBlocks, WithoutSymmetryEveryRowMatchesItselfAndNoCallIsFound) {
    Harness h;
    ASSERT_TRUE(load(h, "1234\n2134\n", 4));
    EXPECT_EQ(h.program().autoring->touch().base_length, 0);
    EXPECT_EQ(marks(h.program().autoring->touch(), 3, h.program().autoring->touch().row_count - 1), "3h ");
}

// ---- reading the file -----------------------------------------------------------

// Answered with eight bells or with its own five, it rings six and says so.
TEST(MethodFileReading, DoublesWithEightBellsRingsSixWithACover) {
  for (const std::int32_t asked : {8, 5}) {
    Harness h;
    std::vector<std::string> course;  // the plain course: long enough for five bells' block analysis
    for (int lead = 0; lead < 4; ++lead) course.insert(course.end(), {"5", "1", "5", "1", "5", "1", "5", "1", "5", "125"});
    ASSERT_TRUE(load(h, lines(ring("12345", course)), asked)) << asked;
    const Touch& a = h.program().autoring->touch();
    EXPECT_EQ(bells_after, 6);
    EXPECT_NE(h.log().find("Rows of 5 bells are rung with a cover: ringing 6 bells\r\n"), std::string::npos);
    EXPECT_EQ(a.working_bells, 5);
    for (std::int32_t r = kFirstRow; r <= a.row_count; ++r) {
        ASSERT_EQ(a.bells_at(r).size(), 6u) << r;
        EXPECT_EQ(a.bells_at(r).back(), '6') << r;
        EXPECT_EQ(a.notation_at(r).back(), '6') << r;
    }
    EXPECT_NE(h.log().find("pad 6 12345~123456  6\r\n"), std::string::npos);
  }
}

TEST(MethodFileReading, NumberOfBellsIsOnlyEverLowered) {
    Harness h;
    ASSERT_TRUE(load(h, lines(ring("123456", plain_bob_touch(6, "ppppp"))), 12));
    EXPECT_EQ(bells_after, 6);
    ASSERT_TRUE(load(h, lines(ring("123456", plain_bob_touch(6, "ppppp"))), 5));
    EXPECT_EQ(bells_after, 5);  // rows longer than N: the driver says so
}

TEST(MethodFileReading, ShortNumberFirstLineIsSkippedButARowIsKept) {
    Harness h;
    ASSERT_TRUE(load(h, "16\n1234\n2143\n", 4));
    EXPECT_EQ(h.program().autoring->touch().bells_at(1), "1234");
    EXPECT_EQ(h.program().autoring->touch().bells_at(2), "2143");
    ASSERT_TRUE(load(h, "1234\n2143\n", 4));
    EXPECT_EQ(h.program().autoring->touch().bells_at(1), "1234");
    EXPECT_EQ(h.program().autoring->touch().bells_at(2), "2143");
    // Rounds on three bells is a row, not a lead length.
    ASSERT_TRUE(load(h, "123\n213\n", 4));
    EXPECT_EQ(h.program().autoring->touch().bells_at(kFirstRow), "1234");
    EXPECT_EQ(h.program().autoring->touch().bells_at(2), "2134");
}

TEST(MethodFileReading, LineEndsMayBeCrLfAndBlanksAfterTheRowsAreDropped) {
    Harness h;
    ASSERT_TRUE(load(h, "1234 \r\n2143\t\r\n1234", 4));
    EXPECT_EQ(h.program().autoring->touch().bells_at(2), "2143");
    EXPECT_EQ(h.program().autoring->touch().bells_at(3), "1234");  // no line end after the last row
    EXPECT_EQ(h.program().autoring->touch().row_count, 3 + kRoundsAtEnd);
    ASSERT_TRUE(load(h, "1234\n2143\n\n  \n", 4));
    EXPECT_EQ(h.program().autoring->touch().row_count, 2 + kRoundsAtEnd);
}

// A row is each bell of the first row once: the first line that is not
// is named, with its number in the file, and nothing is rung.
TEST(MethodFileReading, ABlankLineIsNotARowNorIsAnythingButTheBellsEachOnce) {
    const struct {
        const char* text;
        const char* told;
        const char* row;
    } rows[] = {
        {"1234\n\n2143\n", "touch.txt line 2 is not a row", "\"\" - a row holds each of the bells 1234 once"},
        {"abcdef\n214365\n", "touch.txt line 1 is", "\"abcdef\" - a row holds each of the bells 123456 once"},
        {"16\n123456\n112233\n", "touch.txt line 3 is", "\"112233\" - a row holds each of the bells 123456"},
        {"123456\n21436\n", "touch.txt line 2 is", "\"21436\" - a row"},
        {"123456\n2143657\n", "touch.txt line 2 is", "\"2143657\" - a row"},
        {"123456\n214375\n", "touch.txt line 2 is", "\"214375\" - a row"},
        {"1234\r\n2143658709TEBADCYXZW\r\n", "touch.txt line 2 is", "\"2143658709TEBADCYXZW\" - a row"},
        {"1234567890et\n", "touch.txt line 1 is", "\"1234567890et\" - a row holds each of the bells 1234567890ET"},
    };
    for (const auto& r : rows) {
        Harness h;
        TouchReader reader(h.program().autoring->touch(), h.program().run_log, h.program().dialog, 6);
        reader.set_file_name("touch.txt");
        EXPECT_FALSE(reader.load_method_file(r.text)) << r.text;
        EXPECT_TRUE(screen_has(h.program(), std::string("This composition is unsuitable - ") + r.told)) << r.told;
        EXPECT_TRUE(screen_has(h.program(), r.row)) << r.row;
        EXPECT_EQ(h.program().autoring->touch().row_count, 0) << r.text;
    }
}

TEST(MethodFileReading, AShorterTouchLeavesNothingOfTheLongerOneBehindIt) {
    Harness h;
    ASSERT_TRUE(load(h, lines(ring("123456", plain_bob_touch(6, "ppppp"))), 6));
    ASSERT_TRUE(load(h, "123456\n214365\n", 6));
    const Touch& a = h.program().autoring->touch();
    EXPECT_EQ(a.row_count, 2 + kRoundsAtEnd);
    EXPECT_EQ(a.rows.size(), Touch::index_of(a.row_count) + 1);
    EXPECT_EQ(a.call_at(13), ' ');
}

// Rows by the numbers the log shows: the file's first row is row 1, rung
// seven times before it; nothing before the first or past the last.
TEST(MethodFileReading, RowsAreReachedByTheNumbersTheLogShows) {
    Harness h;
    ASSERT_TRUE(load(h, "1234\n2143\n", 4));
    const Touch& a = h.program().autoring->touch();
    EXPECT_EQ(a.rows.size(), 8u + 1 + kRoundsAtEnd);
    const struct {
        long number;
        const char* bells;
        const char* notation;
        char call;
    } rows[] = {{kFirstRow - 1, "", "", ' '}, {kFirstRow, "1234", " ", ' '}, {-5, "1234", "", ' '},
                {1, "1234", " ", ' '},        {2, "2143", "x", 'g'},         {3, "2143", " ", 'h'},
                {6, "2143", " ", 't'},        {7, "", "", ' '},              {kMaxRows + 1, "", "", ' '}};
    for (const auto& r : rows) {
        EXPECT_EQ(a.bells_at(r.number), r.bells) << r.number;
        EXPECT_EQ(a.notation_at(r.number), r.notation) << r.number;
        EXPECT_EQ(a.call_at(r.number), r.call) << r.number;
    }
}

// ---- what the tables cannot hold ----------------------------------------------

TEST(MethodFileLimits, ThePlacesOfTheRowsDecideWhatCanBeRung) {
    Harness h;
    EXPECT_FALSE(load(h, "", 6));
    EXPECT_TRUE(screen_has(h.program(), "This composition is unsuitable - rows of fewer than 3 bells"));
    EXPECT_FALSE(load(h, "8\n12\n21\n", 6));
    EXPECT_FALSE(load(h, "1234567890ETA\n", 12));
    EXPECT_TRUE(screen_has(h.program(), "This composition is unsuitable - rows of more than 12 bells cannot be rung"));
    EXPECT_NE(h.log().find("This composition is unsuitable - rows of more than 12 bells cannot be rung\r\n"),
              std::string::npos);
}

TEST(MethodFileLimits, AFileThatFillsTheTableLoadsAndOneRowMoreIsRefused) {
    Harness h;
    // A plain course rung over and over: the lead is found near the end, so
    // the look-ahead of the last rows reaches past row 6000.
    std::vector<std::string> changes;
    while (changes.size() < 5995) {
        auto lead = plain_bob_touch(8, "p");
        changes.insert(changes.end(), lead.begin(), lead.end());
    }
    changes.resize(5995);
    auto rows = ring("12345678", changes);
    ASSERT_EQ(rows.size(), 5996u);
    ASSERT_TRUE(load(h, lines(rows), 8));
    EXPECT_EQ(h.program().autoring->touch().row_count, kMaxRows);
    EXPECT_EQ(h.program().autoring->touch().base_length, 16);
    EXPECT_NE(h.log().find("seekpattern5996\t16\tx\t\tTRUE"), std::string::npos);

    rows.push_back(rows[1]);
    EXPECT_FALSE(load(h, lines(rows), 8));
    EXPECT_TRUE(screen_has(h.program(), "This composition is unsuitable - more than 5996 rows"));
}

// Block positions and notations beyond the tables: the scan itself, on tables
// set up by hand.
TEST(MethodFileLimits, MoreKindsOfChangeThanTheListHoldsAreRefused) {
    Harness h;
    Touch& a = h.program().autoring->touch();
    a.row_count = 60;
    a.base_length = 2;
    a.working_bells = 8;
    a.rows.resize(Touch::index_of(a.row_count) + 1);
    for (std::int32_t r = 1; r <= a.row_count; ++r) a.row(r).notation = r % 2 ? std::to_string(r) : "x";
    EXPECT_FALSE(TouchReader(a, h.program().run_log, h.program().dialog, 6).seek_repeating_patterns());
    EXPECT_EQ(a.call_types.size(), std::size_t{kMaxPlaceNotations});
    EXPECT_TRUE(screen_has(h.program(), "This composition is unsuitable - more than 20 kinds of change at call positions"));
}

TEST(MethodFileLimits, DifferencesAtMorePlacesThanTheTableHoldsAreRefused) {
    Harness h;
    Touch& a = h.program().autoring->touch();
    a.base_length = 200;
    a.row_count = 500;
    a.working_bells = 8;
    a.rows.resize(Touch::index_of(a.row_count) + 1);
    for (std::int32_t r = 1; r <= a.row_count; ++r) a.row(r).notation = r > 200 && r <= 400 ? "14" : "12";
    EXPECT_FALSE(TouchReader(a, h.program().run_log, h.program().dialog, 6).seek_repeating_patterns());
    EXPECT_EQ(a.lead_heads.size(), std::size_t{kMaxLeadHeads});
    EXPECT_NE(h.log().find("This composition is unsuitable - differences at more than 100 places in the block\r\n"),
              std::string::npos);
}

// ---- the generated library ------------------------------------------------------

std::string read_text(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::filesystem::path library_dir() {
    return std::filesystem::path(QN_SOURCE_DIR) / "composition_library";
}

TEST(MethodFileLibrary, EveryTouchOfTheLibraryLoads) {
    const auto dir = library_dir();
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        Harness h;
        const std::string name = entry.path().filename().string();
        std::int32_t n = 8;
        if (name.rfind("rounds", 0) == 0) n = std::stoi(name.substr(6));
        EXPECT_TRUE(load(h, read_text(entry.path()), n)) << name;
        ++files;
    }
    EXPECT_GE(files, 17);
}

TEST(MethodFileLibrary, TheMajorTouchCallsBobsAndSinglesWhereTheyAre) {
    Harness h;
    ASSERT_TRUE(load(h, read_text(library_dir() / "plain_bob_major_touch"), 8));
    const Touch& a = h.program().autoring->touch();
    EXPECT_EQ(a.base_length, 16);
    // Calling b s p, over and over: lead ends on rows 17, 33, 49, ...
    for (std::int32_t lead = 0; 1 + 16 * (lead + 1) <= a.row_count - kRoundsAtEnd; ++lead)
        EXPECT_EQ(a.call_at(1 + 16 * (lead + 1)), "bnP"[lead % 3]) << lead;
}

}  // namespace
}  // namespace qn
