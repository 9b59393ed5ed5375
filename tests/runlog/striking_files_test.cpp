// The striking report's files beside the run log: named after it and the
// touch, filled on their own thread, and a folder or disk that takes them
// not told as if they had been written.
#include "runlog/striking_files.h"

#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "runlog/run_log.h"

namespace qn::test {
namespace {

TouchStrikingPtr three_blows() {
    auto t = std::make_shared<TouchStriking>();
    t->touch = 2;
    t->blows = t->timed = 3;
    t->blow_ms = 250;
    for (int i = 1; i <= 3; ++i) {
        BlowFigures b;
        b.blow = i;
        b.handstroke = i % 2 == 1;
        b.timed = true;
        b.error_ms = 10.0 * i;
        t->blow_list.push_back(b);
    }
    t->histogram[12] = 3;
    return t;
}

// Two bells in two places each, bell 2 a missed blow short.
TouchStrikingPtr band() {
    auto t = std::make_shared<TouchStriking>();
    t->touch = 1;
    t->reference = StrikingReference::BandOwnRhythm;
    t->blow_ms = 250;
    t->rows = 4;
    for (int bell = 1; bell <= 2; ++bell) {
        BellStriking s;
        s.bell = bell;
        s.blows = 4;
        s.timed = s.all.blows = bell == 2 ? 3 : 4;
        s.missed = bell == 2 ? 1 : 0;
        s.by_place = {{1, {2, 5, 1}, {1, 5, 0}, {1, 5, 0}}, {2, {2, -5, 1}, {1, -5, 0}, {1, -5, 0}}};
        t->band_bells.push_back(s);
        for (int row = 1; row <= 4; ++row) {
            if (bell == 2 && row == 3) continue;
            BlowFigures b;
            b.bell = bell;
            b.blow = row;
            b.row = row;
            b.place = 1 + (bell + row) % 2;
            b.handstroke = row % 2 == 1;
            b.timed = true;
            t->blow_list.push_back(b);
        }
    }
    return t;
}

struct Files {
    FakeClock clock;
    FakeThreads threads{clock};
    FakeFiles fs;
    RunLog log;
    StrikingFiles files{log, fs, threads};
    Files() {
        fs.dirs.insert("logs");
        log.set_name("logs/run&1");
        log.adopt(std::move(fs.create("logs/run&1.log").value()));
    }
    std::string run_log() {
        log.flush();
        return fs.files["logs/run&1.log"];
    }
};

TEST(StrikingFiles, APageAndEveryBlowBesideTheRunLogFilledOnTheirOwnThread) {
    Files f;
    f.files.touch_striking(three_blows());
    EXPECT_EQ(f.files.files_line(), "Report: run&1_touch2.html");
    ASSERT_EQ(f.threads.bodies.size(), 1u);
    EXPECT_EQ(f.fs.files["logs/run&1_touch2.html"], "");  // not yet: the thread fills it
    f.threads.run(0);
    const std::string page = f.fs.files["logs/run&1_touch2.html"];
    EXPECT_NE(page.find("<title>Striking report, touch 2</title>"), std::string::npos);
    EXPECT_NE(page.find("From the run log run&amp;1.log."), std::string::npos);
    int bars = 0;
    for (std::size_t at = page.find("class=\"bar\""); at != std::string::npos; at = page.find("class=\"bar\"", at + 1)) ++bars;
    EXPECT_EQ(bars, kHistogramBins);
    for (const char* fetching : {"src=", "href=", "<script", "<link", "url("}) EXPECT_EQ(page.find(fetching), std::string::npos) << fetching;
    EXPECT_EQ(f.fs.files["logs/run&1_touch2.csv"].substr(0, 16), "blow,stroke,time");
    EXPECT_NE(f.fs.files["logs/run&1_touch2.csv"].find("\r\n3,hand,yes,,"), std::string::npos);
    EXPECT_NE(f.run_log().find("Striking report written: logs/run&1_touch2.html, every blow in logs/run&1_touch2.csv"),
              std::string::npos);
}

TEST(StrikingFiles, ABandsPageTablesAndDrawsEachBellAndItsFileAndLogNameThem) {
    Files f;
    f.files.touch_striking(band());
    f.threads.run(0);
    const std::string page = f.fs.files["logs/run&1_touch1.html"];
    for (const char* each : {"<caption>Bell 1</caption>", "<caption>Bell 2</caption>", "id=\"band-blows\"",
                             "<tr><th>2</th><td>4</td><td>3</td><td>1</td>"})
        EXPECT_NE(page.find(each), std::string::npos) << each;
    int dots = 0;
    for (std::size_t at = page.find("class=\"dots\""); at != std::string::npos; at = page.find("class=\"dots\"", at + 1)) {
        const std::string d = page.substr(at, page.find("/>", at) - at);
        for (std::size_t h = d.find("h0"); h != std::string::npos; h = d.find("h0", h + 1)) ++dots;
    }
    EXPECT_EQ(dots, 7);
    const std::string csv = f.fs.files["logs/run&1_touch1.csv"];
    EXPECT_NE(csv.find(",bell_followed,bell\r\n"), std::string::npos);
    EXPECT_NE(csv.find(",4,1,0,2\r\n"), std::string::npos) << csv;  // row 4, leading, bell 2
    EXPECT_NE(f.run_log().find(" Bell 2: 4 blows, 3 timed, 1 missed"), std::string::npos);
}

TEST(StrikingFiles, AFolderOrADiskThatTakesNoneSaysSo) {
    Files readonly;
    readonly.fs.read_only_dirs.insert("logs");
    readonly.files.touch_striking(three_blows());
    EXPECT_EQ(readonly.files.files_line().rfind("Report not written: ", 0), 0u) << readonly.files.files_line();
    EXPECT_TRUE(readonly.threads.bodies.empty());
    EXPECT_NE(readonly.run_log().find("Striking report of touch 2 not written: "), std::string::npos);

    Files full;
    full.fs.fail_writes_after = 3000;  // more than the log's lines, less than the page
    full.files.touch_striking(three_blows());
    ASSERT_EQ(full.threads.bodies.size(), 1u);
    full.threads.run(0);
    EXPECT_NE(full.run_log().find("Striking report of touch 2 not written: "), std::string::npos);
    EXPECT_EQ(full.run_log().find("Striking report written"), std::string::npos);
}

}  // namespace
}  // namespace qn::test
