// The program's key dispatch on the X11 desktop: the focus guard of
// "Ringing Room - any browser with focus" with another window raised and the
// target raised again, and the targets with a program of their own (a
// browser, a program under Wine), whose window is brought to the front for
// each key. Every key is judged where it arrived, by a window of the tests.
#include <gtest/gtest.h>
#include <unistd.h>

#include "core/timing.h"
#include "fakes/fake_platform.h"
#include "keyout/dispatch.h"
#include "keyout/keysending.h"
#include "keyout/targets.h"
#include "platform/posix/desktop/desktop.h"
// Xlib's last: its macros (None, Bool) break other headers.
#include "xtest_util.h"

namespace qn::test {
namespace {

using platform::posix::DesktopEnv;
using xtest::TestClient;
using xtest::XServer;

const std::string kDash = "\xE2\x80\x94";

struct X11Service {
    XServer x;
    std::unique_ptr<TestClient> client;
    std::unique_ptr<platform::posix::Desktop> desktop;
    Harness h;

    X11Service(bool window_manager, int target) : x(window_manager) {
        if (!x.ok()) return;
        client = std::make_unique<TestClient>(x.display());
        DesktopEnv e;
        e.display = x.display();
        e.session_type = "x11";
        desktop = platform::posix::open_desktop(e);
        h.fp.plat.keyboard = &desktop->keyboard();
        h.fp.plat.windows = &desktop->windows();
        h.remake();
        Program& program = h.program();
        program.cfg.sensor_count = 1;
        set_target_defaults(program.target, program.cfg.sensor_count);
        program.cfg.target_program = target_name(program.target, static_cast<std::uint8_t>(target));
        load_target_parameters(program.target, *program.plat.windows, program.cfg.target_program);
        ring_rows(program, 10);
        program.strikes->keys().set_handstroke(true);
        h.fp.clock.set_us(1000000);
    }
    Program& program() { return h.program(); }
    void strike() {
        program().strikes->keys().queue(0, program().clock.elapsed_us());
        program().key_sender->send_due_keys();
    }
    // The keys pressed in w so far.
    std::string pressed(Window w) {
        std::string out;
        for (const auto& k : client->keys_of(w)) {
            EXPECT_FALSE(k.synthetic);
            if (k.press) out += static_cast<char>(k.keysym);
        }
        return out;
    }
    // Waits for n presses in w, and a little longer for keys that should not come.
    std::string pressed_after_wait(Window w, std::size_t n) {
        const std::int64_t end = xtest::now_us() + 3000000;
        while (pressed(w).size() < n && xtest::now_us() < end) usleep(2000);
        usleep(100000);
        return pressed(w);
    }
};

#define skip_without_x(s) \
    if (!(s).x.ok()) GTEST_SKIP() << (s).x.why()

void focus_guard(bool window_manager) {
    X11Service s(window_manager, 1);
    skip_without_x(s);
    const Window rr = s.client->make_window("Tower " + kDash + " Ringing Room " + kDash + " Mozilla Firefox",
                                            "firefox-esr", 10);
    const Window other = s.client->make_window("Untitled - Notepad", "notepad.exe", 11);
    ASSERT_TRUE(s.client->focus(other));

    // Start-up finds the browser by its title and brings it to the front.
    EXPECT_EQ(s.program().target_window.seek(s.program().tower_ring->in_use()), 0);
    ASSERT_TRUE(s.program().target_window.found());
    EXPECT_EQ(s.program().target_window.handle(), rr);
    EXPECT_EQ(s.client->focused(), rr);

    s.strike();
    EXPECT_EQ(s.pressed_after_wait(rr, 1), "j");

    // The ringer clicks another window: the key due meanwhile is dropped
    // with a notice, and none reaches either window.
    ASSERT_TRUE(s.client->focus(other));
    s.strike();
    EXPECT_FALSE(s.program().strikes->keys().pending(0));
    EXPECT_FALSE(s.program().key_sender->has_focus());
    EXPECT_NE(s.h.log().find("is not the focus window - Key sending suspended"), std::string::npos)
        << s.h.log();
    EXPECT_TRUE(
        ScreenHas(s.program().screen, kBigNumberLastLine + 2, 1, "Keystrokes will be sent when focus is resumed"));
    s.strike();
    EXPECT_EQ(s.pressed_after_wait(rr, 2), "j");
    EXPECT_EQ(s.pressed(other), "");
    EXPECT_EQ(s.client->focused(), other) << "the guard must not take the focus back itself";

    // The browser in front again: the next key goes, and the notice goes.
    ASSERT_TRUE(s.client->focus(rr));
    s.strike();
    EXPECT_EQ(s.pressed_after_wait(rr, 2), "jj");
    EXPECT_TRUE(s.program().key_sender->has_focus());
    EXPECT_NE(s.h.log().find("Recovered from loss of focus"), std::string::npos);
    EXPECT_EQ(s.pressed(other), "");
}

TEST(X11FocusGuard, KeysStopWhileAnotherWindowIsInFrontWithoutAWindowManager) {
    focus_guard(false);
}
TEST(X11FocusGuard, KeysStopWhileAnotherWindowIsInFrontUnderAWindowManager) {
    focus_guard(true);
}

TEST(X11Targets, TheBrowserOfTheTargetIsBroughtToTheFrontForEachKey) {
    X11Service s(true, 3);
    skip_without_x(s);
    // A Firefox window with the same page is not Chrome's.
    const Window ff = s.client->make_window("Tower " + kDash + " Ringing Room " + kDash + " Mozilla Firefox",
                                            "firefox", 20);
    const Window chrome =
        s.client->make_window("Tower " + kDash + " Ringing Room - Chromium", "Chromium", 21);
    const Window other = s.client->make_window("bash", "xterm", 22);
    ASSERT_TRUE(s.client->focus(other));
    for (int i = 0; i < 3; ++i) {
        s.strike();
        EXPECT_EQ(s.client->focused(), chrome);
        ASSERT_TRUE(s.client->focus(i == 0 ? ff : other));
    }
    EXPECT_EQ(s.pressed_after_wait(chrome, 3), "jjj");
    EXPECT_EQ(s.pressed(ff), "");
    EXPECT_EQ(s.pressed(other), "");
    EXPECT_TRUE(s.program().key_sender->has_focus());
}

TEST(X11Targets, AProgramUnderWineIsFoundByItsExeName) {
    X11Service s(false, 8);
    skip_without_x(s);
    // A window that only has "Abel" in its title is not Abel.
    const Window notes = s.client->make_window("Abel practice notes", "gedit", 30);
    ASSERT_TRUE(s.client->focus(notes));
    // Not running: the program pauses with a notice until a key is pressed,
    // and the key waits.
    s.h.fp.console.type("x");
    s.strike();
    EXPECT_TRUE(s.program().strikes->keys().pending(0));
    EXPECT_TRUE(
        ScreenHas(s.program().screen, kScratchFirstLine, 1, "Abel window not found - program paused"));
    EXPECT_EQ(s.pressed(notes), "");

    const Window abel = s.client->make_window("Abel - [Untitled]", "abel3.exe", 31);
    ASSERT_TRUE(s.client->focus(notes));
    s.program().key_sender->send_due_keys();  // the key still due goes now
    EXPECT_FALSE(s.program().strikes->keys().pending(0));
    EXPECT_EQ(s.pressed_after_wait(abel, 1), "j");
    EXPECT_EQ(s.pressed(notes), "");
}

}  // namespace
}  // namespace qn::test
