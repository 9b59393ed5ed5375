#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "touchgen/touchgen.h"

namespace {

using touchgen::Change;
using touchgen::Touch;
using touchgen::TouchPlan;

Touch make(int stage, const std::string& notation, const std::string& calling = "p") {
    TouchPlan plan;
    plan.stage = stage;
    plan.notation = notation;
    plan.calling = calling;
    Touch t;
    std::string error;
    EXPECT_TRUE(touchgen::generate(plan, &t, &error)) << error;
    return t;
}

std::string sorted(std::string s) {
    std::sort(s.begin(), s.end());
    return s;
}

// Every row holds each bell once and no bell moves more than one place.
void expect_rows_are_changes(const Touch& t, int stage) {
    const std::string bells = sorted(touchgen::rounds(stage));
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
        ASSERT_EQ(sorted(t.rows[i]), bells) << "row " << i;
        if (i == 0) continue;
        for (std::size_t p = 0; p < t.rows[i].size(); ++p) {
            const auto from = t.rows[i - 1].find(t.rows[i][p]);
            ASSERT_LE(from > p ? from - p : p - from, 1u) << "row " << i;
        }
    }
}

std::vector<std::string> names(const std::vector<Change>& changes) {
    std::vector<std::string> out;
    for (const Change& ch : changes) {
        std::string s;
        for (int p : ch) s += touchgen::symbol(p);
        out.push_back(s.empty() ? "x" : s);
    }
    return out;
}

// ---- place notation ------------------------------------------------------------

TEST(TouchgenNotation, CommaPartsArePalindromesAndCrossesMayBeMinus) {
    std::vector<Change> ch;
    std::string error;
    ASSERT_TRUE(touchgen::parse_notation("x16x16x16,12", 6, &ch, &error));
    EXPECT_EQ(names(ch), (std::vector<std::string>{"x", "16", "x", "16", "x", "16", "x", "16", "x", "16", "x", "12"}));
    std::vector<Change> minus;
    ASSERT_TRUE(touchgen::parse_notation("-16-16-16,12", 6, &minus, &error));
    EXPECT_EQ(minus, ch);
    ASSERT_TRUE(touchgen::parse_notation("3,1.5.1.5.1", 5, &ch, &error));
    EXPECT_EQ(names(ch), (std::vector<std::string>{"3", "1", "5", "1", "5", "1", "5", "1", "5", "1"}));
    // Without a comma, or marked, a part is taken as written.
    ASSERT_TRUE(touchgen::parse_notation("3.1", 5, &ch, &error));
    EXPECT_EQ(names(ch), (std::vector<std::string>{"3", "1"}));
    ASSERT_TRUE(touchgen::parse_notation("&x16x16x16,+12.14", 6, &ch, &error));
    EXPECT_EQ(ch.size(), 13u);
    EXPECT_EQ(names(ch).back(), "14");
}

TEST(TouchgenNotation, ExternalPlacesAreImpliedAndImpossibleChangesRefused) {
    std::vector<Change> ch;
    std::string error;
    ASSERT_TRUE(touchgen::parse_notation("14.1", 5, &ch, &error));
    EXPECT_EQ(names(ch), (std::vector<std::string>{"145", "1"}));
    ASSERT_TRUE(touchgen::parse_notation("1", 6, &ch, &error));
    EXPECT_EQ(names(ch), (std::vector<std::string>{"16"}));
    EXPECT_FALSE(touchgen::parse_notation("x1", 5, &ch, &error));  // no cross on odd numbers
    EXPECT_FALSE(touchgen::parse_notation("13", 6, &ch, &error));  // second's bell has no partner
    EXPECT_FALSE(touchgen::parse_notation("17", 6, &ch, &error));
    EXPECT_FALSE(touchgen::parse_notation("x16,", 6, &ch, &error));
    EXPECT_NE(error, "");
}

// ---- plain courses and touches ---------------------------------------------------

TEST(TouchgenCourses, PlainCoursesComeRoundAfterTheirLength) {
    struct Case {
        int stage;
        const char* notation;
        std::size_t changes;
        std::size_t lead_end;
        const char* lead_end_row;
    };
    for (Case k : {Case{5, "5.1.5.1.5,125", 40, 10, "13524"}, Case{6, "x16x16x16,12", 60, 12, "135264"},
                   Case{7, "7.1.7.1.7.1.7,127", 84, 14, "1352746"}, Case{8, "x18x18x18x18,12", 112, 16, "13527486"},
                   Case{5, "3,1.5.1.5.1", 30, 10, "12534"}, Case{7, "3,1.7.1.7.1.7.1", 70, 14, "1253746"}}) {
        SCOPED_TRACE(k.notation);
        Touch t = make(k.stage, k.notation);
        ASSERT_EQ(t.rows.size(), k.changes + 1);
        EXPECT_EQ(t.rows.front(), touchgen::rounds(k.stage));
        EXPECT_EQ(t.rows.back(), touchgen::rounds(k.stage));
        EXPECT_EQ(t.rows[k.lead_end], k.lead_end_row);
        EXPECT_EQ(touchgen::first_repeated_row(t.rows), "");
        expect_rows_are_changes(t, k.stage);
    }
}

TEST(TouchgenCourses, ACallChangesOnlyTheLeadEndAndIsRecorded) {
    Touch plain = make(8, "x18x18x18x18,12", "p");
    Touch touch = make(8, "x18x18x18x18,12", "bsp");
    expect_rows_are_changes(touch, 8);
    EXPECT_EQ(touch.rows.size(), 289u);
    EXPECT_EQ(touchgen::first_repeated_row(touch.rows), "");
    for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(touch.rows[i], plain.rows[i]) << i;
    // A bob keeps the bell in fourth place there; a single those in 1-4.
    EXPECT_EQ(touch.rows[16].substr(0, 1), touch.rows[15].substr(0, 1));
    EXPECT_EQ(touch.rows[16][3], touch.rows[15][3]);
    EXPECT_NE(touch.rows[16], plain.rows[16]);
    EXPECT_EQ(touch.rows[32].substr(0, 4), touch.rows[31].substr(0, 4));
    EXPECT_EQ(touch.call_rows.front(), 16);
    EXPECT_EQ(touch.call_rows[1], 32);
    EXPECT_EQ(touch.call_rows[2], 64);
}

TEST(TouchgenCourses, AFalseTouchOrOneThatNeverComesRoundIsRefused) {
    std::string out, err;
    EXPECT_EQ(touchgen::run({"6", "x16x16x16,12", "--calling", "bs"}, &out, &err), 1);
    EXPECT_NE(err.find("false"), std::string::npos);
    EXPECT_EQ(touchgen::run({"6", "x16x16x16,12", "--calling", "bs", "--allow-false"}, &out, &err), 0);
    err.clear();
    EXPECT_EQ(touchgen::run({"6", "x16x16x16,12", "--max-rows", "30"}, &out, &err), 1);
    EXPECT_NE(err.find("does not come round within 30 rows"), std::string::npos);
}

// ---- the command line ------------------------------------------------------------------

TEST(TouchgenCommandLine, WritesRowsWithAnOptionalLeadLengthAndLineEnds) {
    std::string out, err;
    ASSERT_EQ(touchgen::run({"8", "--rounds", "3", "--crlf"}, &out, &err), 0);
    EXPECT_EQ(out, "12345678\r\n12345678\r\n12345678\r\n");
    ASSERT_EQ(touchgen::run({"6", "x16x16x16,12", "--lead-length"}, &out, &err), 0);
    EXPECT_EQ(out.substr(0, 17), "12\n123456\n214365\n");
    EXPECT_EQ(touchgen::run({"20", "--rounds", "3"}, &out, &err), 2);
    EXPECT_EQ(touchgen::run({"6"}, &out, &err), 2);
    EXPECT_EQ(touchgen::run({"6", "x16x16x16,12", "--colour"}, &out, &err), 2);
    EXPECT_EQ(touchgen::run({"6", "x16x16x16,12", "--calling", "pq"}, &out, &err), 1);
}

TEST(TouchgenCommandLine, WritesTheFileItIsGiven) {
    const std::string path = ::testing::TempDir() + "touchgen_out_test";
    std::string out, err;
    ASSERT_EQ(touchgen::run({"4", "--rounds", "2", "--out", path}, &out, &err), 0) << err;
    EXPECT_EQ(out, "");
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    EXPECT_EQ(s.str(), "1234\n1234\n");
    std::remove(path.c_str());
    EXPECT_EQ(touchgen::run({"4", "--rounds", "2", "--out", "/nonexistent-dir/x"}, &out, &err), 1);
}

// ---- the library ------------------------------------------------------------------------

// Every file of composition_library is what the manifest's arguments make
// now: nothing in it was edited by hand or left behind by an older tool.
TEST(TouchgenLibrary, TheLibraryIsWhatTheManifestMakes) {
    std::ifstream manifest(TOUCHGEN_MANIFEST);
    ASSERT_TRUE(manifest) << TOUCHGEN_MANIFEST;
    std::string line;
    int files = 0;
    while (std::getline(manifest, line)) {
        std::istringstream words(line);
        std::string name, w;
        if (!(words >> name) || name[0] == '#') continue;
        std::vector<std::string> args;
        while (words >> w) args.push_back(w);
        std::string out, err;
        ASSERT_EQ(touchgen::run(args, &out, &err), 0) << name << ": " << err;
        std::ifstream f(std::string(TOUCHGEN_LIBRARY_DIR) + "/" + name, std::ios::binary);
        std::stringstream text;
        text << f.rdbuf();
        EXPECT_EQ(text.str(), out) << name;
        ++files;
    }
    EXPECT_GE(files, 17);
}

}  // namespace
