// The X11 desktop on an X server of the tests' own: keys arrive as XTest
// events in a window that records them, a key not on the keyboard map goes
// through a spare keycode that is given back, windows are found with their
// titles in code page 1252, and the focus is read and moved with and
// without a window manager.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/posix/desktop/desktop.h"
// Xlib's last: its macros (None, Bool) break other headers.
#include "xtest_util.h"
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace qn {
namespace {

using platform::DesktopReach;
using platform::KeyInput;
using platform::WindowHandle;
using platform::posix::Desktop;
using platform::posix::DesktopEnv;
using platform::posix::open_desktop;
using xtest::KeyRecord;
using xtest::now_us;
using xtest::TestClient;
using xtest::XServer;

const std::string kDash = "\xE2\x80\x94";  // the em dash in UTF-8

DesktopEnv x11_env(const std::string& display) {
    DesktopEnv e;
    e.display = display;
    e.session_type = "x11";
    e.uinput_path = "/nonexistent/uinput";
    return e;
}

// The two records of one key, as the program's key sending makes them.
std::vector<KeyInput> key_records(std::uint16_t vk) {
    KeyInput down;
    down.vk = vk;
    KeyInput up = down;
    up.flags = platform::kKeyUp;
    return {down, up};
}

std::string typed(const std::vector<KeyRecord>& keys) {
    std::string out;
    for (const KeyRecord& k : keys)
        if (k.press) out += static_cast<char>(k.keysym);
    return out;
}

struct Session {
    explicit Session(bool window_manager) : x(window_manager) {
        if (!x.ok()) return;
        client = std::make_unique<TestClient>(x.display());
        desktop = open_desktop(x11_env(x.display()));
    }
    bool skip() const { return !x.ok(); }
    XServer x;
    std::unique_ptr<TestClient> client;
    std::unique_ptr<Desktop> desktop;
};

#define skip_without_x(s)                                \
    if ((s).skip()) GTEST_SKIP() << (s).x.why(); \
    ASSERT_NE((s).client->display(), nullptr)

TEST(X11Keys, EveryKeyArrivesAsAnXTestEventInTheFocusedWindowAtOnce) {
    Session s(false);
    skip_without_x(s);
    ASSERT_EQ(s.desktop->windows().desktop().reach, DesktopReach::TopLevel);
    const Window target = s.client->make_window("Recorder", "recorder", 1);
    ASSERT_TRUE(s.client->focus(target));
    const std::string keys = "jh1-=Z0";
    std::vector<std::int64_t> sent_at;
    for (char ch : keys) {
        const std::uint16_t vk = ch == '-'   ? 0xBD
                                 : ch == '=' ? 0xBB
                                             : static_cast<std::uint16_t>(std::toupper(ch));
        auto rec = key_records(vk);
        sent_at.push_back(now_us());
        auto r = s.desktop->keyboard().send_input(rec.data(), 2);
        ASSERT_TRUE(r.ok()) << r.error();
        EXPECT_EQ(r.value(), 2u);
    }
    ASSERT_TRUE(s.client->wait_keys(2 * keys.size(), 3000)) << s.client->keys().size();
    const auto got = s.client->keys();
    EXPECT_EQ(typed(got), "jh1-=z0");  // a letter goes as its key, without Shift
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].window, target);
        EXPECT_FALSE(got[i].synthetic) << "key " << i << " came by XSendEvent";
        EXPECT_EQ(got[i].press, i % 2 == 0);
        const std::int64_t late_ms = (got[i].at_us - sent_at[i / 2]) / 1000;
        std::printf("key %zu %s after %.2f ms\n", i / 2, got[i].press ? "down" : "up",
                    static_cast<double>(got[i].at_us - sent_at[i / 2]) / 1000.0);
        EXPECT_LT(late_ms, 150);
    }
}

TEST(X11Keys, AKeyNotOnTheMapGetsASpareKeycodeUntilTheDesktopCloses) {
    XServer x(false);
    if (!x.ok()) GTEST_SKIP() << x.why();
    TestClient client(x.display());
    Display* d = client.display();
    ASSERT_NE(d, nullptr);
    // Take 'j' off the keyboard, as a layout without it would be.
    const KeyCode j = XKeysymToKeycode(d, XK_j);
    ASSERT_NE(j, 0);
    int per = 0;
    KeySym* old = XGetKeyboardMapping(d, j, 1, &per);
    std::vector<KeySym> saved(old, old + per);
    XFree(old);
    std::vector<KeySym> none(static_cast<std::size_t>(per), NoSymbol);
    XChangeKeyboardMapping(d, j, per, none.data(), 1);
    XSync(d, False);

    auto desktop = open_desktop(x11_env(x.display()));
    const auto& choice = desktop->windows().desktop().choice;
    const auto line = std::find_if(choice.begin(), choice.end(), [](const std::string& l) {
        return l.find("spare keycodes") != std::string::npos;
    });
    ASSERT_NE(line, choice.end());
    EXPECT_NE(line->find("=j"), std::string::npos) << *line;
    EXPECT_EQ(line->find("=h"), std::string::npos) << "only what is missing is mapped: " << *line;

    const Window target = client.make_window("Recorder", "recorder", 1);
    ASSERT_TRUE(client.focus(target));
    auto rec = key_records('J');
    ASSERT_TRUE(desktop->keyboard().send_input(rec.data(), 2).ok());
    ASSERT_TRUE(client.wait_keys(2, 3000));
    const auto got = client.keys();
    EXPECT_EQ(typed(got), "j");
    const unsigned spare = got[0].keycode;
    EXPECT_NE(spare, j);
    EXPECT_FALSE(got[0].synthetic);

    desktop->close();
    KeySym* after = XGetKeyboardMapping(d, static_cast<KeyCode>(spare), 1, &per);
    EXPECT_EQ(after[0], static_cast<KeySym>(NoSymbol)) << "the spare keycode was not given back";
    XFree(after);
    desktop.reset();  // a second give-back finds nothing of its own
    XChangeKeyboardMapping(d, j, per, saved.data(), 1);
    XSync(d, False);
}

// Windows as a browser and a program under Wine show them, found by the
// list the window manager keeps or, without one, by the X server's tree.
void expect_windows_found(bool window_manager) {
    Session s(window_manager);
    skip_without_x(s);
    platform::Windows& win = s.desktop->windows();
    const Window rr = s.client->make_window("Tower " + kDash + " Ringing Room - Chromium", "Chromium", 4242);
    const Window abel = s.client->make_window("Abel - [Untitled]", "abel3.exe", 4343);
    const Window old = s.client->make_window("Caf\xE9 bells", "xterm", 0, true);

    std::vector<WindowHandle> listed;
    ASSERT_TRUE(win.enum_windows([&](WindowHandle w) {
                       listed.push_back(w);
                       return true;
                   })
                    .ok());
    for (Window w : {rr, abel, old}) EXPECT_NE(std::find(listed.begin(), listed.end(), w), listed.end()) << w;
    EXPECT_EQ(win.window_text(rr, 256), "Tower \x97 Ringing Room - Chromium");
    EXPECT_EQ(win.window_text(rr, 6), "Tower");             // at most max_chars - 1, as Windows gives them
    EXPECT_EQ(win.window_text(old, 256), "Caf\xE9 bells");  // WM_NAME alone, ISO 8859-1
    EXPECT_EQ(win.class_name(rr, 256), "Chromium");
    EXPECT_EQ(win.class_name(abel, 256), "abel3.exe");
    std::uint32_t pid = 0;
    win.thread_process_id(abel, &pid);
    EXPECT_EQ(pid, 4343u);

    // Listing stops when the visitor says so.
    int visits = 0;
    ASSERT_TRUE(win.enum_windows([&](WindowHandle) { return ++visits < 2; }).ok());
    EXPECT_EQ(visits, 2);
    // The Z-order walk finds them too.
    std::vector<WindowHandle> walked;
    for (WindowHandle w = win.top_window(win.desktop_window()); w != 0;
         w = win.next_window(w, platform::kNextWindow))
        walked.push_back(w);
    EXPECT_NE(std::find(walked.begin(), walked.end(), abel), walked.end());

    // The focus, moved by the program and by the person.
    EXPECT_TRUE(win.set_foreground(rr));
    EXPECT_EQ(win.foreground(), rr);
    EXPECT_EQ(s.client->focused(), rr);
    ASSERT_TRUE(s.client->focus(abel));
    EXPECT_EQ(win.foreground(), abel);
    EXPECT_TRUE(win.set_foreground(rr));
    EXPECT_EQ(win.foreground(), rr);
    EXPECT_FALSE(win.set_foreground(0));

    // A window that has gone is no error, just nothing.
    XDestroyWindow(s.client->display(), old);
    XSync(s.client->display(), False);
    EXPECT_EQ(win.window_text(old, 256), "");
    EXPECT_EQ(win.class_name(old, 256), "");
    EXPECT_FALSE(win.set_foreground(old));
    EXPECT_EQ(win.foreground(), rr);
}

TEST(X11Windows, FoundAndFocusedWithoutAWindowManager) {
    expect_windows_found(false);
}
TEST(X11Windows, FoundAndFocusedUnderAnEwmhWindowManager) {
    expect_windows_found(true);
}

// ---- the choice of desktop ---------------------------------------------------

bool has_line(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

TEST(DesktopChoice, X11SessionTakesX11AndNamesTheWindowManager) {
    XServer x(true);
    if (!x.ok()) GTEST_SKIP() << x.why();
    auto d = open_desktop(x11_env(x.display()));
    const auto& info = d->windows().desktop();
    EXPECT_EQ(info.reach, DesktopReach::TopLevel);
    EXPECT_TRUE(has_line(info.choice, "X11 session, DISPLAY=" + x.display())) << info.choice[0];
    EXPECT_TRUE(has_line(info.choice,
                         "Window manager: Openbox, which activates windows asked for by _NET_ACTIVE_WINDOW"));
    EXPECT_TRUE(info.notices.empty());
}

TEST(DesktopChoice, WaylandWithoutUinputFallsBackToXwaylandAndSaysWhatItCannotReach) {
    XServer x(false);
    if (!x.ok()) GTEST_SKIP() << x.why();
    DesktopEnv e = x11_env(x.display());
    e.session_type = "wayland";
    e.wayland_display = "wayland-0";
    e.uinput_path = "/dev/null";  // opens, but is no uinput device
    auto d = open_desktop(e);
    const auto& info = d->windows().desktop();
    EXPECT_EQ(info.reach, DesktopReach::TopLevel);
    EXPECT_TRUE(has_line(info.choice, "through Xwayland"));
    EXPECT_TRUE(has_line(info.notices, "reach X11"));
}

TEST(DesktopChoice, NeitherSaysWhatTheSessionLacksAndHowToSetUpUinput) {
    DesktopEnv e;
    e.session_type = "tty";
    e.uinput_path = "/nonexistent/uinput";
    auto d = open_desktop(e);
    const auto& info = d->windows().desktop();
    EXPECT_EQ(info.reach, DesktopReach::NoKeys);
    EXPECT_TRUE(has_line(info.notices, "session type tty, DISPLAY not set, WAYLAND_DISPLAY not set"));
    EXPECT_TRUE(has_line(info.notices, "/nonexistent/uinput missing (the uinput module is not loaded)"));
    EXPECT_TRUE(has_line(info.notices, "KERNEL==\"uinput\", SUBSYSTEM==\"misc\", TAG+=\"uaccess\""));
    EXPECT_TRUE(has_line(info.notices, "modprobe uinput"));
    for (const auto& l : info.notices) EXPECT_LE(l.size(), 80u) << l;  // one screen line each
    auto rec = key_records('J');
    auto r = d->keyboard().send_input(rec.data(), 2);
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.error().find("no keys can be sent"), std::string::npos) << r.error();
    EXPECT_EQ(d->windows().foreground(), 0u);
    EXPECT_FALSE(d->windows().enum_windows([](WindowHandle) { return true; }).ok());

    // A display that is not there is named with the call that failed.
    e.display = ":32767";
    e.session_type = "x11";
    d = open_desktop(e);
    EXPECT_EQ(d->windows().desktop().reach, DesktopReach::NoKeys);
    EXPECT_TRUE(has_line(d->windows().desktop().choice, "XOpenDisplay(:32767) failed"));
    EXPECT_TRUE(has_line(d->windows().desktop().notices, "DISPLAY :32767"));

    // Asked for by name.
    e.forced = "none";
    EXPECT_EQ(open_desktop(e)->windows().desktop().reach, DesktopReach::NoKeys);
    e.forced = "mir";
    EXPECT_TRUE(has_line(open_desktop(e)->windows().desktop().choice, "QUENNICK_DESKTOP=mir is not one of"));
}

}  // namespace
}  // namespace qn
