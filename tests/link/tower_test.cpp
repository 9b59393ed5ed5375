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
    Program& c;
    FakeNetwork net;

    explicit Linked(int target = 1) : c(h.c()) {
        h.fp.plat.network = &net;
        c.cfg.sensor_count = 1;
        set_target_defaults(c.target, c.cfg.sensor_count);
        c.cfg.target_program = target_name(c.target, static_cast<std::uint8_t>(target));
        load_target_parameters(c.target, *c.plat.windows, c.cfg.target_program);
        c.cfg.tower_id = 123456789;
        c.cfg.tower_bell_j = 6;
        c.cfg.tower_site = "https://rr.example";
        c.strikes->keys().set_handstroke(true);
        ring_rows(c, 10);
        for (int i = 0; i < 3; ++i) c.strikes->keys().record(0, 0);
    }
    ~Linked() { c.tower->stop(); }

    // Starts the link and serves its join.
    std::shared_ptr<FarEnd> joined() {
        c.tower->start();
        auto end = net.connection(0);
        if (!end || !serve_join(*end)) return nullptr;
        if (!eventually([&] { return c.tower->session()->status().phase == link::Phase::Joined; })) return nullptr;
        return end;
    }
    void strike(int I = 1) {
        c.strikes->keys().queue(I - 1, c.clock.elapsed_us());
        c.key_sender->send_due_keys();
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
    Program& c = h.c();
    c.cfg.sensor_count = 1;
    set_target_defaults(c.target, c.cfg.sensor_count);
    c.settings_file->set_base_name(kProgramVersion);
    const std::string file = std::string(kProgramVersion) + ".ini";
    ASSERT_TRUE(c.settings_file->write(c.cfg, c.target.table()));
    const std::string before = h.fp.files.files[file];
    EXPECT_EQ(before.find("towerid"), std::string::npos);  // a file without the link stays as it was

    for (const char* a : {"3", "123456789", "17", "5", "6", "not-an-address", "ringer@example.org"}) h.fp.console.type_line(a);
    h.fp.console.type("pw\r");
    choose_target(c.cfg, c.target, *c.plat.windows, c.dialog, c.delivery_report, *c.tower_ring);
    EXPECT_EQ(c.target.index(), 3);
    EXPECT_EQ(c.cfg.tower_id, 123456789);
    EXPECT_EQ(c.cfg.tower_bell_j, 5);  // 17 was asked again
    EXPECT_EQ(c.cfg.tower_bell_f, 6);
    EXPECT_EQ(c.cfg.tower_email, "ringer@example.org");
    EXPECT_EQ(c.tower->password(), "pw");
    EXPECT_TRUE(h.fp.console.keys.empty());
    EXPECT_EQ(h.log().find("pw\n"), std::string::npos);
    bool masked = false;
    for (int n = 1; n <= Screen::kRows; ++n) {
        EXPECT_EQ(c.screen.line_text(n).find(": pw"), std::string::npos);
        masked |= c.screen.line_text(n).find("([ENTER]: ring anonymously): **") != std::string::npos;
    }
    EXPECT_TRUE(masked);

    ASSERT_TRUE(c.settings_file->write(c.cfg, c.target.table()));
    const std::string after = h.fp.files.files[file];
    for (const char* line : {"\r\ntowerid=123456789\r\n", "\r\ntowerbellj=5\r\n", "\r\ntowerbellf=6\r\n",
                             "\r\ntowersite=https://ringingroom.com\r\n", "\r\ntoweremail=ringer@example.org\r\n"})
        EXPECT_NE(after.find(line), std::string::npos) << line;
    EXPECT_EQ(after.find("pw"), std::string::npos);
    EXPECT_EQ(after.substr(0, before.size() - std::string("program=Open\r\n").size()),
              before.substr(0, before.size() - std::string("program=Open\r\n").size()));

    Harness again;
    again.fp.files.files[file] = after;
    ASSERT_TRUE(load_settings(again.c(), file));
    EXPECT_EQ(again.c().cfg.tower_id, 123456789);
    EXPECT_EQ(again.c().cfg.tower_bell_j, 5);
    EXPECT_EQ(again.c().cfg.tower_bell_f, 6);
    EXPECT_EQ(again.c().cfg.tower_email, "ringer@example.org");

    // An empty answer keeps the keys going to the browser.
    h.fp.console.type_line("1");
    h.fp.console.type_line("");
    choose_target(c.cfg, c.target, *c.plat.windows, c.dialog, c.delivery_report, *c.tower_ring);
    EXPECT_EQ(c.cfg.tower_id, 0);
    EXPECT_FALSE(c.tower->in_use());
}

// A ring goes at the tower's stroke for the bell, whatever the program's:
// the tower turns a bell only for a ring at its own stroke. The tower's
// answers keep that stroke in step.
TEST(TowerRings, ADueKeyRingsItsBellAtTheTowersStrokeAndTypesNothing) {
    Linked l;
    auto end = l.joined();
    ASSERT_TRUE(end);
    l.c.strikes->keys().set_handstroke(false);  // as the program starts, before H
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
    EXPECT_FALSE(l.c.strikes->keys().pending(0));

    // A missed strike: the bell twice, at the two strokes in turn, the
    // doubled ring the doubling delay after the first.
    l.c.strikes->keys().set_doubled_due(true);
    const std::int64_t t0 = l.h.fp.clock.now_us();
    l.strike();
    EXPECT_TRUE(rung(true));
    EXPECT_TRUE(rung(false));
    EXPECT_EQ(l.h.fp.clock.now_us() - t0, std::int64_t{l.c.target.double_strike_delay_ms()} * 1000);
    EXPECT_TRUE(l.c.strikes->keys().outputs()[2].doubled);
    EXPECT_EQ(l.c.tower->session()->counters().rings_sent, 4);

    // The tower answers the four rings; by the last it holds the bell at
    // backstroke (someone else rang it meanwhile), and the next ring follows.
    const std::string answer = R"(42["s_bell_rung",{"global_bell_state":[true,true,true,true,true,)";
    for (int n = 0; n < 3; ++n) end->push(answer + R"(true,true,true],"who_rang":6,"disagree":false}])");
    end->push(answer + R"(false,true,true],"who_rang":6,"disagree":true}])");
    ASSERT_TRUE(eventually([&] { return !l.c.tower->session()->tower_stroke(6); }));
    l.strike();
    EXPECT_TRUE(rung(false));
}

TEST(TowerRings, RingsWhileTheLinkIsDownAreCountedAndTheStrikePathGoesOn) {
    Linked l;
    l.net.refuse_connects = 1000;
    l.c.tower->start();
    for (int i = 0; i < 3; ++i) l.strike();
    EXPECT_EQ(l.c.tower->session()->counters().rings_lost, 3);
    EXPECT_FALSE(l.c.strikes->keys().handstroke());  // turned three times, as for keys
    EXPECT_TRUE(l.h.fp.keyboard.sent.empty());
    l.c.tower_line->show();
    const std::string line = l.c.screen.line_text(kScratchFirstLine - 1);
    EXPECT_EQ(line.rfind("Tower 123456789: ", 0), 0u) << line;
    EXPECT_NE(line.find("lost 3"), std::string::npos) << line;
}

TEST(TowerRings, AKeyThatIsNoBellIsLoggedOnceAndNotSent) {
    Linked l;
    auto end = l.joined();
    ASSERT_TRUE(end);
    l.c.target.point(0).hand_key = 'k';
    l.c.target.point(0).back_key = 'k';
    l.strike();
    l.strike();
    EXPECT_EQ(count_of(l.h.log(), "Tower link: key k rings no bell"), 1);
    EXPECT_EQ(l.c.tower->session()->counters().rings_sent, 0);
}

TEST(TowerAutoring, BellsAndCallsGoToTheTowerAtTheTowersStroke) {
    Linked l(2);
    auto end = l.joined();
    ASSERT_TRUE(end);
    end->push(R"(42["s_bell_rung",{"global_bell_state":[true,true,true,true,true,true,true,true,true,true,false,true],"who_rang":11,"disagree":false}])");
    ASSERT_TRUE(eventually([&] { return !l.c.tower->session()->tower_stroke(11); }));
    l.c.autoring->ringer().export_key('b');
    l.c.autoring->ringer().export_key('E');
    l.c.autoring->ringer().export_key('3');
    l.c.autoring->ringer().export_key('h');
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
    l.c.tower_line->show();
    EXPECT_TRUE(ScreenHas(l.c.screen, row, 1, "Tower 123456789: joined | bells j=6 | rung 0 lost 0", kLightGreen));
    l.c.screen.clear_window();
    l.c.tower_line->show();
    EXPECT_TRUE(ScreenHas(l.c.screen, row, 1, "Tower 123456789: joined", kLightGreen));
    end->drop("WebSocket read: End of file");
    ASSERT_TRUE(eventually([&] { return l.c.tower->session()->status().phase == link::Phase::Waiting; }));
    l.c.tower_line->show();
    EXPECT_TRUE(ScreenHas(l.c.screen, row, 1, "Tower 123456789: NOT CONNECTED, next try in ", kYellow))
        << l.c.screen.line_text(row);
    l.c.cfg.big_numbers = true;
    l.c.tower_line->show();
    EXPECT_TRUE(ScreenHas(l.c.screen, kScratchLastLine, 1, "Tower 123456789: NOT CONNECTED", kYellow));
}

}  // namespace
}  // namespace qn::test
