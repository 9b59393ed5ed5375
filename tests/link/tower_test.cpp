// The tower link in the program: the target menu's questions and the
// settings file, a due key becoming a ring (the doubled key too) at the
// tower's stroke, automatic ringing's bells and calls, and the service
// screen's line.
#include <gtest/gtest.h>

#include "autoring/automatic_ringing.h"
#include "config/configfile.h"
#include "service/program.h"
#include "core/timing.h"
#include "fake_network.h"
#include "fakes/fake_platform.h"
#include "keyout/dispatch.h"
#include "keyout/keysending.h"
#include "keyout/targets.h"
#include "link/session.h"
#include "link/tower.h"
#include "ui/tower_line.h"

namespace qn::test {
namespace {

using namespace linktest;

struct Linked {
    Harness h;
    Program& program;
    FakeNetwork net;

    explicit Linked(int target = 1) : program(h.program()) {
        h.fp.plat.network = &net;
        program.cfg.sensor_count = 1;
        set_target_defaults(program.target, program.cfg.sensor_count);
        program.cfg.target_program = target_name(program.target, static_cast<std::uint8_t>(target));
        load_target_parameters(program.target, *program.plat.windows, program.cfg.target_program);
        program.cfg.tower_id = 123456789;
        program.cfg.tower_bell_j = 6;
        program.cfg.tower_site = "https://rr.example";
        program.strikes->keys().set_handstroke(true);
        ring_rows(program, 10);
        for (int i = 0; i < 3; ++i) program.strikes->keys().record(0, 0);
    }
    ~Linked() { program.tower->stop(); }

    // Starts the link and serves its join.
    std::shared_ptr<FarEnd> joined() {
        program.tower->start();
        auto end = net.connection(0);
        if (!end || !serve_join(*end)) return nullptr;
        if (!eventually([&] { return program.tower->session()->status().phase == link::Phase::Joined; })) return nullptr;
        return end;
    }
    void strike(int I = 1) {
        program.strikes->keys().queue(I - 1, program.clock.elapsed_us());
        program.key_sender->send_due_keys();
    }
};

TEST(TowerKeys, RingingRoomsKeysAreItsBells) {
    Settings cfg;
    cfg.tower_bell_j = 7;
    cfg.tower_bell_f = 8;
    const char* keys = "1234567890-=";
    for (int b = 1; b <= 12; ++b) EXPECT_EQ(bell_for_key(cfg, keys[b - 1]), b) << keys[b - 1];
    EXPECT_EQ(bell_for_key(cfg, 'j'), 7);
    EXPECT_EQ(bell_for_key(cfg, 'J'), 7);
    EXPECT_EQ(bell_for_key(cfg, 'f'), 8);
    cfg.tower_bell_f = 0;
    EXPECT_EQ(bell_for_key(cfg, 'f'), 0);
    EXPECT_EQ(bell_for_key(cfg, 'h'), 0);
    EXPECT_EQ(bell_for_key(cfg, ' '), 0);
}

TEST(TowerMenu, ARingingRoomTargetAsksForTheTowerAndTheFileKeepsIt) {
    Harness h;
    Program& program = h.program();
    program.cfg.sensor_count = 1;
    set_target_defaults(program.target, program.cfg.sensor_count);
    program.settings_file->set_base_name(kProgramVersion);
    const std::string file = std::string(kProgramVersion) + ".ini";
    ASSERT_TRUE(program.settings_file->write(program.cfg, program.target.table()));
    const std::string before = h.fp.files.files[file];
    EXPECT_EQ(before.find("towerid"), std::string::npos);  // a file without the link stays as it was

    for (const char* a : {"3", "123456789", "17", "5", "6", "not-an-address", "ringer@example.org"}) h.fp.console.type_line(a);
    h.fp.console.type("pw\r");
    choose_target(program.cfg, program.target, *program.plat.windows, program.dialog, program.delivery_report, *program.tower_ring);
    EXPECT_EQ(program.target.index(), 3);
    EXPECT_EQ(program.cfg.tower_id, 123456789);
    EXPECT_EQ(program.cfg.tower_bell_j, 5);  // 17 was asked again
    EXPECT_EQ(program.cfg.tower_bell_f, 6);
    EXPECT_EQ(program.cfg.tower_email, "ringer@example.org");
    EXPECT_EQ(program.tower->password(), "pw");
    EXPECT_TRUE(h.fp.console.keys.empty());
    EXPECT_EQ(h.log().find("pw\n"), std::string::npos);
    bool masked = false;
    for (int n = 1; n <= Screen::kRows; ++n) {
        EXPECT_EQ(program.screen.line_text(n).find(": pw"), std::string::npos);
        masked |= program.screen.line_text(n).find("([ENTER]: ring anonymously): **") != std::string::npos;
    }
    EXPECT_TRUE(masked);

    ASSERT_TRUE(program.settings_file->write(program.cfg, program.target.table()));
    const std::string after = h.fp.files.files[file];
    for (const char* line : {"\r\ntowerid=123456789\r\n", "\r\ntowerbellj=5\r\n", "\r\ntowerbellf=6\r\n",
                             "\r\ntowersite=https://ringingroom.com\r\n", "\r\ntoweremail=ringer@example.org\r\n"})
        EXPECT_NE(after.find(line), std::string::npos) << line;
    EXPECT_EQ(after.find("pw"), std::string::npos);
    EXPECT_EQ(after.substr(0, before.size() - std::string("program=Open\r\n").size()),
              before.substr(0, before.size() - std::string("program=Open\r\n").size()));

    Harness again;
    again.fp.files.files[file] = after;
    ASSERT_TRUE(load_settings(again.program(), file));
    EXPECT_EQ(again.program().cfg.tower_id, 123456789);
    EXPECT_EQ(again.program().cfg.tower_bell_j, 5);
    EXPECT_EQ(again.program().cfg.tower_bell_f, 6);
    EXPECT_EQ(again.program().cfg.tower_email, "ringer@example.org");

    // An empty answer keeps the keys going to the browser.
    h.fp.console.type_line("1");
    h.fp.console.type_line("");
    choose_target(program.cfg, program.target, *program.plat.windows, program.dialog, program.delivery_report, *program.tower_ring);
    EXPECT_EQ(program.cfg.tower_id, 0);
    EXPECT_FALSE(program.tower->in_use());
}

// A ring goes at the tower's stroke for the bell, whatever the program's:
// the tower turns a bell only for a ring at its own stroke. The tower's
// answers keep that stroke in step.
TEST(TowerRings, ADueKeyRingsItsBellAtTheTowersStrokeAndTypesNothing) {
    Linked l;
    auto end = l.joined();
    ASSERT_TRUE(end);
    l.program.strikes->keys().set_handstroke(false);  // as the program starts, before H
    auto rung = [&end](bool hand) {
        return end->expect("42[\"c_bell_rung\"") == std::string(R"(42["c_bell_rung",{"bell":6,"stroke":)") +
                                                        (hand ? "true" : "false") +
                                                        R"(,"tower_id":123456789}])";
    };
    l.strike();
    EXPECT_TRUE(rung(true));
    l.strike();
    EXPECT_TRUE(rung(false));
    EXPECT_TRUE(l.h.fp.keyboard.sent.empty());
    EXPECT_TRUE(l.h.fp.windows.calls.empty());
    EXPECT_FALSE(l.program.strikes->keys().pending(0));

    // A missed strike: the bell twice, at the two strokes in turn, the
    // doubled ring the doubling delay after the first.
    l.program.strikes->keys().set_doubled_due(true);
    const std::int64_t t0 = l.h.fp.clock.now_us();
    l.strike();
    EXPECT_TRUE(rung(true));
    EXPECT_TRUE(rung(false));
    EXPECT_EQ(l.h.fp.clock.now_us() - t0, std::int64_t{l.program.target.double_strike_delay_ms()} * 1000);
    EXPECT_TRUE(l.program.strikes->keys().outputs()[2].doubled);
    EXPECT_EQ(l.program.tower->session()->counters().rings_sent, 4);

    // The tower answers the four rings; by the last it holds the bell at
    // backstroke (someone else rang it meanwhile), and the next ring follows.
    const std::string answer = R"(42["s_bell_rung",{"global_bell_state":[true,true,true,true,true,)";
    for (int n = 0; n < 3; ++n) end->push(answer + R"(true,true,true],"who_rang":6,"disagree":false}])");
    end->push(answer + R"(false,true,true],"who_rang":6,"disagree":true}])");
    ASSERT_TRUE(eventually([&] { return !l.program.tower->session()->tower_stroke(6); }));
    l.strike();
    EXPECT_TRUE(rung(false));
}

TEST(TowerRings, RingsWhileTheLinkIsDownAreCountedAndTheStrikePathGoesOn) {
    Linked l;
    l.net.refuse_connects = 1000;
    l.program.tower->start();
    for (int i = 0; i < 3; ++i) l.strike();
    EXPECT_EQ(l.program.tower->session()->counters().rings_lost, 3);
    EXPECT_FALSE(l.program.strikes->keys().handstroke());  // turned three times, as for keys
    EXPECT_TRUE(l.h.fp.keyboard.sent.empty());
    l.program.tower_line->show();
    const std::string line = l.program.screen.line_text(kScratchFirstLine - 1);
    EXPECT_EQ(line.rfind("Tower 123456789: ", 0), 0u) << line;
    EXPECT_NE(line.find("lost 3"), std::string::npos) << line;
}

TEST(TowerRings, AKeyThatIsNoBellIsLoggedOnceAndNotSent) {
    Linked l;
    auto end = l.joined();
    ASSERT_TRUE(end);
    l.program.target.point(0).hand_key = 'k';
    l.program.target.point(0).back_key = 'k';
    l.strike();
    l.strike();
    EXPECT_EQ(count_of(l.h.log(), "Tower link: key k rings no bell"), 1);
    EXPECT_EQ(l.program.tower->session()->counters().rings_sent, 0);
}

TEST(TowerAutoring, BellsAndCallsGoToTheTowerAtTheTowersStroke) {
    Linked l(2);
    auto end = l.joined();
    ASSERT_TRUE(end);
    end->push(R"(42["s_bell_rung",{"global_bell_state":[true,true,true,true,true,true,true,true,true,true,false,true],"who_rang":11,"disagree":false}])");
    ASSERT_TRUE(eventually([&] { return !l.program.tower->session()->tower_stroke(11); }));
    l.program.autoring->ringer().export_key('b');
    l.program.autoring->ringer().export_key('E');
    l.program.autoring->ringer().export_key('3');
    l.program.autoring->ringer().export_key('h');
    EXPECT_EQ(end->expect("42[\"c_call\""), R"(42["c_call",{"call":"Bob","tower_id":123456789}])");
    EXPECT_EQ(end->expect("42[\"c_bell_rung\""), R"(42["c_bell_rung",{"bell":11,"stroke":false,"tower_id":123456789}])");
    EXPECT_EQ(end->expect("42[\"c_bell_rung\""), R"(42["c_bell_rung",{"bell":3,"stroke":true,"tower_id":123456789}])");
    EXPECT_EQ(end->expect("42[\"c_call\""), R"(42["c_call",{"call":"That's all","tower_id":123456789}])");
    EXPECT_TRUE(l.h.fp.keyboard.sent.empty());
    EXPECT_NE(l.h.log().find("sent=E"), std::string::npos);
}

TEST(TowerScreen, TheLineSaysJoinedAndComesBackAfterAClear) {
    Linked l;
    auto end = l.joined();
    ASSERT_TRUE(end);
    const int row = kScratchFirstLine - 1;
    l.program.tower_line->show();
    EXPECT_TRUE(ScreenHas(l.program.screen, row, 1, "Tower 123456789: joined | bells j=6 | rung 0 lost 0", kLightGreen));
    l.program.screen.clear_window();
    l.program.tower_line->show();
    EXPECT_TRUE(ScreenHas(l.program.screen, row, 1, "Tower 123456789: joined", kLightGreen));
    end->drop("WebSocket read: End of file");
    ASSERT_TRUE(eventually([&] { return l.program.tower->session()->status().phase == link::Phase::Waiting; }));
    l.program.tower_line->show();
    EXPECT_TRUE(ScreenHas(l.program.screen, row, 1, "Tower 123456789: NOT CONNECTED, next try in ", kYellow))
        << l.program.screen.line_text(row);
    l.program.cfg.big_numbers = true;
    l.program.tower_line->show();
    EXPECT_TRUE(ScreenHas(l.program.screen, kScratchLastLine, 1, "Tower 123456789: NOT CONNECTED", kYellow));
}

TEST(TowerScreen, ABandRingsEachBellAsItselfAndTheLineSaysWhatTheTowerRefuses) {
    Linked l;
    l.program.tower->set_band({5, 6, 9});
    auto end = l.joined();
    ASSERT_TRUE(end);
    ASSERT_TRUE(eventually([&] { return !l.program.tower->session()->status().refused.empty(); }));
    l.program.tower->ring_bell(9, true);
    l.program.tower->ring_bell(6, false);  // the program's stroke; the tower's goes
    EXPECT_EQ(end->expect("42[\"c_bell_rung\""), R"(42["c_bell_rung",{"bell":6,"stroke":true,"tower_id":123456789}])");
    const int row = kScratchFirstLine - 1;
    l.program.tower_line->show();
    EXPECT_TRUE(ScreenHas(l.program.screen, row, 1,
                          "Tower 123456789: joined - REFUSED bell 9 beyond the tower's 8 | rung 1 lost 1",
                          kYellow))
        << l.program.screen.line_text(row);
    EXPECT_NE(l.h.log().find("Tower link: the tower refuses bell 9 beyond the tower's 8: their rings are not sent"),
              std::string::npos)
        << l.h.log();
}

}  // namespace
}  // namespace qn::test
