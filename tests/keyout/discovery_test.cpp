// Finding the target program: the target menu, the title patterns of the
// search before ringing, the per-key search with its process count and child
// lookups, and what each per-program sender puts on the wire.
#include <gtest/gtest.h>

#include "core/timing.h"
#include "fakes/fake_platform.h"
#include "keyout/dispatch.h"
#include "keyout/keysending.h"
#include "keyout/targets.h"

namespace qn::test {
namespace {

using platform::WindowHandle;

constexpr std::int64_t kSecond = 1000000;
const std::string kDash = "\x97";  // the em dash of code page 1252

// A program in service with one sensor, the given target selected.
struct Target {
    Harness h;
    Program& program;
    FakeWindows& win;

    explicit Target(int index) : program(h.program()), win(h.fp.windows) {
        program.cfg.sensor_count = 1;
        set_target_defaults(program.target, program.cfg.sensor_count);
        program.cfg.target_program = target_name(program.target, static_cast<std::uint8_t>(index));
        load_target_parameters(program.target, *program.plat.windows, program.cfg.target_program);
        ring_rows(program, 10);  // ringing: the key refreshes only the figures
        program.strikes->keys().set_handstroke(true);
        h.fp.clock.set_us(kSecond);
    }
    // Sensing point 1's key is due now and is sent.
    void strike() {
        program.strikes->keys().queue(0, program.clock.elapsed_us());
        program.key_sender->send_due_keys();
    }
    std::vector<SentMessage> messages_to(WindowHandle w) const {
        std::vector<SentMessage> out;
        for (const SentMessage& m : win.messages)
            if (m.window == w) out.push_back(m);
        return out;
    }
    std::string line(int n) const { return program.screen.line_text(n); }
};

void expect_ime_key(const std::vector<SentMessage>& got, std::uintptr_t code, std::size_t at = 0) {
    ASSERT_GE(got.size(), at + 2);
    EXPECT_EQ(got[at].msg, platform::kMsgImeKeyDown);
    EXPECT_EQ(got[at].wparam, code);
    EXPECT_EQ(got[at + 1].msg, platform::kMsgImeKeyUp);
    EXPECT_EQ(got[at + 1].wparam, code);
    EXPECT_EQ(got[at + 1].time_us - got[at].time_us, 20000);
    EXPECT_EQ(got[at].lparam, 0);
}

// ---- the target menu --------------------------------------------------------

TEST(TargetMenu, FiveAndSevenAreListedAndNumbersOutsideTheMenuAreAskedAgainWithItsRange) {
    Target t(0);
    for (const char* answer : {"256", "12", "5"}) t.h.fp.console.type_line(answer);
    choose_target(t.program.cfg, t.program.target, *t.program.plat.windows, t.program.dialog, t.program.delivery_report, *t.program.tower_ring);
    EXPECT_EQ(t.program.cfg.target_program, "Muster - no delay");
    EXPECT_EQ(t.program.target.index(), 5);
    EXPECT_TRUE(t.program.target.restricted());
    EXPECT_NE(t.h.log().find("Program chosen to use=Muster - no delay "), std::string::npos);
    EXPECT_TRUE(t.h.fp.console.keys.empty());
    std::string screen;
    for (int n = 1; n <= 25; ++n) screen += t.line(n) + "\n";
    for (const char* shown : {"6: \"Ding (Unity) - direct\"; 7: \"Ding - moving ropes\";",
                              "There is no program 256: give a number in [0 ..9]",
                              "There is no program 12: give a number in [0 ..9]"})
        EXPECT_NE(screen.find(shown), std::string::npos) << shown << "\n" << screen;
}

// An empty answer is 0: "Open" is chosen only when asked for.
TEST(TargetMenu, AnEmptyAnswerChoosesOpen) {
    Target t(9);
    t.h.fp.console.type_line("");
    choose_target(t.program.cfg, t.program.target, *t.program.plat.windows, t.program.dialog, t.program.delivery_report, *t.program.tower_ring);
    EXPECT_EQ(t.program.cfg.target_program, "Open");
    EXPECT_EQ(t.program.target.index(), 0);
    EXPECT_FALSE(t.program.target.restricted());
    EXPECT_FALSE(t.program.target.seeks_window());
    EXPECT_NE(t.h.log().find("Open - Uses any program window that has focus"), std::string::npos);
}

// ---- the search before ringing -----------------------------------------------

TEST(TitlePattern, StarSplitsThePatternAndTheTrailingBlankCounts) {
    struct Case {
        const char* pattern;
        std::string title;
        bool match;
    } cases[] = {
        {"Ringing Room * Mozilla Firefox", "Ringing Room Tower " + kDash + " Mozilla Firefox", true},
        {"Ringing Room * Mozilla Firefox", "Ringing Room  Mozilla Firefox", true},
        {"Ringing Room * Mozilla Firefox", "Mozilla Firefox", false},
        {"Ringing Room * Mozilla Firefox", "Ringing Room only", false},
        {"Ringing Room * Mozilla Firefox", "ringing room x Mozilla Firefox", false},
        // The second part is searched from the first part's length on,
        // counted from the title's start: it may come before the first part.
        {"Ringing Room * Mozilla Firefox", "Practice tower Mozilla Firefox Ringing Room x", true},
        {"Ringing Room * Mozilla Firefox", "x Mozilla Firefox Ringing Room x", false},
        {"Ringing Room ", "Tower " + kDash + " Ringing Room " + kDash + " Google Chrome", true},
        {"Ringing Room ", "Tower " + kDash + " Ringing Room", false},
        {"Ringing Room", "Tower " + kDash + " Ringing Room", true},
        {"BELTOWER -", "Beltower - tower", false},
    };
    for (const Case& k : cases) {
        Target t(0);
        WindowHandle w = t.win.add_window(k.title, "Any");
        t.program.target_window.set_search_text(k.pattern);
        EXPECT_EQ(t.program.target_window.match(w), !k.match) << k.pattern << " / " << k.title;
        EXPECT_EQ(t.program.target_window.found(), k.match) << k.pattern << " / " << k.title;
        if (k.match) {
            EXPECT_EQ(t.program.target_window.handle(), w);
        }
    }
}

TEST(PreRingingSearch, TheFirstMatchingWindowIsBroughtToTheFront) {
    Target t(3);
    t.win.add_window("Tower " + kDash + " Ringing Room", "Chrome_WidgetWin_1");
    WindowHandle rr = t.win.add_window("Tower " + kDash + " Ringing Room " + kDash + " Google Chrome", "Chrome_WidgetWin_1");
    t.win.add_window("Other " + kDash + " Ringing Room " + kDash + " Google Chrome", "Chrome_WidgetWin_1");
    EXPECT_EQ(t.program.target_window.seek(t.program.tower_ring->in_use()), '\0');
    EXPECT_TRUE(t.program.target_window.found());
    EXPECT_EQ(t.program.target_window.handle(), rr);
    EXPECT_EQ(t.win.foreground_window, rr);
    EXPECT_NE(t.h.log().find("Target window Tower " + kDash + " Ringing Room " + kDash + " Google Chrome found"),
              std::string::npos);
}

TEST(PreRingingSearch, AMissingWindowIsAskedForUntilPIsPressed) {
    Target t(2);
    t.win.add_window("Mozilla Firefox", "MozillaWindowClass");
    int polls = 0;
    t.h.fp.console.on_idle = [&] {
        if (++polls == 3) t.h.fp.console.type("p");
    };
    EXPECT_EQ(t.program.target_window.seek(t.program.tower_ring->in_use()), 'P');
    EXPECT_FALSE(t.program.target_window.found());
    EXPECT_EQ(count_of(t.h.log(), "The required target window (Ringing Room - Firefox) NOT FOUND"), 1);
    // Looked for again and again, a key ending each wait at once.
    ASSERT_GE(t.h.fp.wait.calls.size(), 2u);
    for (const FakeWait::Call& w : t.h.fp.wait.calls) EXPECT_EQ(w.sources, platform::kWakeConsole);
}

TEST(PreRingingSearch, OpenSearchesNothing) {
    Target t(0);
    t.win.add_window("Open", "Any");
    EXPECT_EQ(t.program.target_window.seek(t.program.tower_ring->in_use()), '\0');
    EXPECT_FALSE(t.program.target_window.found());
    EXPECT_TRUE(t.win.calls.empty());
}

// ---- the per-key search and the senders ----------------------------------------

TEST(MusterKeys, JGoesAsImeDownAndUpToTheFirstChildAndADigitIsRefused) {
    Target t(4);
    t.win.add_process(40, "Muster.exe");
    WindowHandle top = t.win.add_window("Muster", "WindowsForms10.Window.8.app", 40);
    WindowHandle grid = t.win.add_window("", "WindowsForms10.Window.8.app.grid", 40, top);
    t.win.add_window("", "DataGridView", 40, top);
    t.strike();
    expect_ime_key(t.messages_to(grid), 74);
    EXPECT_EQ(t.win.messages.size(), 2u);
    EXPECT_TRUE(t.win.calls.empty()) << "no change of foreground for Muster";
    EXPECT_FALSE(t.program.strikes->keys().pending(0));

    t.win.messages.clear();
    t.program.target.point(0).back_key = '1';
    t.strike();
    EXPECT_TRUE(t.win.messages.empty());
    EXPECT_NE(t.line(9).find("key for 1 out of range A..Z"), std::string::npos) << t.line(9);
    EXPECT_NE(t.h.log().find("key for 1 out of range A..Z"), std::string::npos);
    // The refused key still counts as sent.
    EXPECT_FALSE(t.program.strikes->keys().pending(0));
    EXPECT_TRUE(t.program.strikes->keys().handstroke());
}

TEST(MusterKeys, TwoInstancesAreReportedBeforeEveryKey) {
    Target t(5);
    t.win.add_process(40, "Muster.exe");
    t.win.add_process(41, "muster.exe");  // the name test is case-sensitive
    t.win.add_process(42, "Muster.exe");
    WindowHandle top = t.win.add_window("Muster", "WindowsForms10.Window.8.app", 40);
    WindowHandle grid = t.win.add_window("", "DataGridView", 40, top);
    t.win.add_window("Muster", "WindowsForms10.Window.8.app", 42);
    for (int key = 0; key < 2; ++key) {
        t.program.screen.window(1, 9, 80, 20);
        t.program.screen.clear_window();
        t.strike();
        EXPECT_TRUE(ScreenHas(t.program.screen, 9, 1, "Warning: There are 2 instances of the target program running"));
        EXPECT_TRUE(ScreenHas(t.program.screen, 10, 1, "1 processid=40; 2 processid=42; "));
    }
    EXPECT_EQ(count_of(t.h.log(), "Warning: There are 2 instances of the target program running\r\n"
                                  "1 processid=40\r\n2 processid=42\r\n"),
              2);
    EXPECT_EQ(t.messages_to(grid).size(), 4u);
}

TEST(DingKeys, OnlyAWindowOfTheUnityClassIsUsed) {
    Target t(6);
    t.win.add_process(60, "ding.exe");
    WindowHandle tab = t.win.add_window("Ding - web page", "MozillaWindowClass", 61);
    t.strike();
    EXPECT_TRUE(t.messages_to(tab).empty());
    EXPECT_NE(t.line(9).find("Ding not found "), std::string::npos);
    EXPECT_NE(t.h.log().find("Ding not found "), std::string::npos);

    WindowHandle ding = t.win.add_window("Ding", "UnityWndClass", 60);
    t.win.messages.clear();
    t.strike();
    expect_ime_key(t.messages_to(ding), 'H');
    EXPECT_EQ(t.win.messages.size(), 2u);

    t.program.target.point(0).hand_key = ';';
    t.win.messages.clear();
    t.strike();
    EXPECT_TRUE(t.win.messages.empty());
    EXPECT_NE(t.line(9).find("key for ; out of range 0..9,-,=,A..Z"), std::string::npos) << t.line(9);
}

TEST(BeltowerKeys, TheTitleMustHoldBeltowerInCapitals) {
    Target t(9);
    t.win.add_process(90, "Beltow95.exe");
    WindowHandle mixed = t.win.add_window("Beltower - tower", "ThunderRT6MDIForm", 90);
    t.win.add_window("", "MDIClient", 90, mixed);
    t.strike();
    EXPECT_NE(t.line(9).find("Beltower not found "), std::string::npos);
    EXPECT_NE(t.h.log().find("Beltower not found "), std::string::npos);
    for (const SentMessage& m : t.win.messages) EXPECT_EQ(m.window, 0u) << "a key reached a window";
    EXPECT_FALSE(t.program.strikes->keys().pending(0)) << "the key is lost, not kept";
}

TEST(BeltowerKeys, WmCharGoesToTheFirstChildOfTheFirstChild) {
    Target t(9);
    t.win.add_process(90, "Beltow95.exe");
    WindowHandle top = t.win.add_window("BELTOWER - tower", "ThunderRT6MDIForm", 90);
    WindowHandle mdi = t.win.add_window("", "MDIClient", 90, top);
    t.win.add_window("", "ThunderRT6PictureBoxDC", 90, top);
    WindowHandle form = t.win.add_window("", "ThunderRT6FormDC", 90, mdi);
    t.win.add_window("", "ThunderRT6FormDC", 90, mdi);
    t.strike();
    auto got = t.messages_to(form);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].msg, platform::kMsgChar);
    EXPECT_EQ(got[0].wparam, static_cast<std::uintptr_t>('J'));  // upper-cased before the sender
    EXPECT_EQ(t.win.calls, std::vector<std::string>{"set_foreground " + std::to_string(form)});
}

TEST(AbelKeys, UpperCaseWmCharToTheFirstViewOfTheFirstFrame) {
    Target t(8);
    t.program.cfg.monitor_output = true;
    t.win.add_process(80, "Abel3.exe");
    WindowHandle top = t.win.add_window("Abel3 - tower", "Afx:Abel3:Main", 80);
    WindowHandle frame = t.win.add_window("", "AfxMDIFrame140s", 80, top);
    t.win.add_window("", "AfxControlBar140s", 80, top);
    WindowHandle view = t.win.add_window("", "AfxFrameOrView140s", 80, frame);
    t.win.add_window("", "AfxFrameOrView140s", 80, frame);
    t.strike();
    auto got = t.messages_to(view);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].msg, platform::kMsgChar);
    EXPECT_EQ(got[0].wparam, static_cast<std::uintptr_t>('J'));
    const std::string log = t.h.log();
    EXPECT_NE(log.find("Abel main handle=" + std::to_string(top) + "\r\n"), std::string::npos);
    EXPECT_NE(log.find("Abel child handle=" + std::to_string(frame) + "\r\n"), std::string::npos);
    EXPECT_NE(log.find("Abel grandchild handle=" + std::to_string(view) + "\r\n"), std::string::npos);
}

// The child lookup takes the first child whatever its class, so an older
// Abel's frame (class ...080s) is reached as the current one is, and the
// warning meant for it does not come up.
TEST(AbelKeys, AnOlderAbelIsReachedTheSameWay) {
    Target t(8);
    t.win.add_process(80, "Abel3.exe");
    WindowHandle top = t.win.add_window("Abel - tower", "Afx:Abel:Main", 80);
    WindowHandle frame = t.win.add_window("", "AfxMDIFrame080s", 80, top);
    WindowHandle view = t.win.add_window("", "AfxFrameOrView080s", 80, frame);
    t.strike();
    EXPECT_EQ(t.messages_to(view).size(), 1u);
    EXPECT_EQ(t.program.target_window.grandchild_class(), "AfxFrameOrView140s");
    EXPECT_EQ(t.h.log().find("This Abel version"), std::string::npos);
}

// While the program's main window has no child yet (starting, or an MDI
// frame closed), the second lookup runs with no parent, which means the
// top-level windows: the key would be typed into whichever window is first
// in Z order. No window but the target's may get it.
TEST(TwoLevelLookup, AMissingFirstLevelSendsTheKeyNowhere) {
    for (int index : {8, 9}) {
        Target t(index);
        t.win.add_process(80, index == 8 ? "Abel3.exe" : "Beltow95.exe");
        WindowHandle other = t.win.add_window("Untitled - Notepad", "Notepad", 99);
        t.win.add_window(index == 8 ? "Abel - tower" : "BELTOWER - tower", "Main", 80);
        t.strike();
        for (const SentMessage& m : t.win.messages) EXPECT_EQ(m.window, 0u) << "target " << index;
        EXPECT_NE(t.win.foreground_window, other) << "target " << index;
    }
}

TEST(RingingRoomKeys, FirefoxGetsTheKeyOnItsOwnWindowChromeOnItsFirstChild) {
    Target ff(2);
    ff.program.cfg.monitor_output = true;
    WindowHandle page = ff.win.add_window("Tower " + kDash + " Ringing Room " + kDash + " Mozilla Firefox",
                                          "MozillaWindowClass");
    ff.win.add_window("", "MozillaCompositorWindowClass", 0, page);
    ff.strike();
    expect_ime_key(ff.messages_to(page), 'J');
    EXPECT_EQ(ff.win.messages.size(), 2u);
    EXPECT_EQ(ff.win.calls, (std::vector<std::string>{"show_window " + std::to_string(page) + " 9",
                                                      "set_foreground " + std::to_string(page)}));
    char hex[32];
    std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(page));
    EXPECT_NE(ff.h.log().find("RR View handle=" + std::to_string(page) + " " + hex + "\r\n"), std::string::npos);

    Target ch(3);
    WindowHandle top = ch.win.add_window("Tower " + kDash + " Ringing Room " + kDash + " Google Chrome",
                                         "Chrome_WidgetWin_1");
    WindowHandle render = ch.win.add_window("", "Chrome_RenderWidgetHostHWND", 0, top);
    ch.win.add_window("", "Intermediate D3D Window", 0, top);
    ch.strike();
    auto got = ch.messages_to(render);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(ch.win.messages.size(), 4u);
    EXPECT_EQ(got[0].msg, platform::kMsgSetFocus);
    EXPECT_EQ(got[1].msg, platform::kMsgDoubleClick);
    EXPECT_EQ(got[0].wparam, 0u);
    EXPECT_EQ(got[1].wparam, 0u);
    EXPECT_EQ(got[2].time_us - got[1].time_us, 20000);
    expect_ime_key(got, 'J', 2);
}

TEST(RingingRoomKeys, TheTitleNeedsTheDashBeforeRingingRoomAndTheKeyMustBeSendable) {
    Target t(2);
    WindowHandle plain = t.win.add_window("Ringing Room - Mozilla Firefox", "MozillaWindowClass");
    t.strike();
    EXPECT_TRUE(t.messages_to(plain).empty());
    EXPECT_NE(t.line(9).find("Ringing Room not found "), std::string::npos);

    WindowHandle page = t.win.add_window("Tower " + kDash + " Ringing Room " + kDash + " Mozilla Firefox",
                                         "MozillaWindowClass");
    t.program.target.point(0).back_key = ';';
    t.win.messages.clear();
    t.strike();
    EXPECT_TRUE(t.messages_to(page).empty());
    EXPECT_NE(t.line(9).find("key for ; out of range 0..9,-,=,A..Z,l"), std::string::npos) << t.line(9);
}

}  // namespace
}  // namespace qn::test
