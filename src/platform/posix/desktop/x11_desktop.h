// The X11 desktop: keys with XTest, windows by EWMH. Private to the desktop
// library and its tests.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The program's headers before Xlib's, whose macros (None, Bool) would
// break them.
#include "platform/keyboard.h"
#include "platform/posix/desktop/keychars.h"
#include "platform/windows.h"
#include "platform/posix/desktop/x11_connection.h"

namespace qn::platform::posix {

// Keys go in as XTest events, which the server treats as typed on its
// keyboard (XSendEvent's synthetic events are ignored by browsers). A
// character whose keysym is not on the keyboard map is given a spare
// keycode once, here, and the map is given back by restore(): every change
// of the map is broadcast to all clients, so none is made per key.
class X11Keyboard : public Keyboard {
public:
    explicit X11Keyboard(X11Connection& x);
    ~X11Keyboard() override;
    Result<std::uint32_t> send_input(const KeyInput* records, std::uint32_t count) override;
    void restore();
    // For the run log: the spare keycodes and what they carry.
    const std::vector<std::string>& setup() const { return setup_; }
    KeyCode keycode_of(char ch) const { return codes_[static_cast<unsigned char>(ch) & 0x7F]; }

private:
    void read_map();
    void map_spare_keycodes();
    void take_events();

    X11Connection& x_;
    std::array<KeyCode, 128> codes_{};
    std::vector<std::pair<KeyCode, KeySym>> spare_;  // ours until restore()
    std::vector<std::string> setup_;
};

class X11Windows : public Windows {
public:
    X11Windows(X11Connection& x, DesktopInfo info) : x_(x), info_(std::move(info)) {}

    const DesktopInfo& desktop() const override { return info_; }
    WindowHandle foreground() override;
    // Asks the window manager to activate w (without one, raises it and
    // gives it the input focus) and waits up to activation_wait_ms for it
    // to be in front.
    bool set_foreground(WindowHandle w) override;
    // X11 has no active window apart from the focus: nothing to do.
    WindowHandle set_active(WindowHandle) override { return 0; }
    Result<void> enum_windows(const std::function<bool(WindowHandle)>& visit) override;
    std::string window_text(WindowHandle w, int max_chars) override;
    // The class part of WM_CLASS ("Chromium", "firefox-esr"; under Wine the
    // exe name, "abel3.exe").
    std::string class_name(WindowHandle w, int max_chars) override;
    WindowHandle desktop_window() override { return x_.root(); }
    WindowHandle top_window(WindowHandle parent) override;
    WindowHandle next_window(WindowHandle w, std::uint32_t cmd) override;
    // The process from _NET_WM_PID; X11 knows no threads (0).
    std::uint32_t thread_process_id(WindowHandle w, std::uint32_t* pid) override;
    // Child windows and window messages are the Windows desktop's: none here.
    WindowHandle find_window(const char*, const char*) override { return 0; }
    WindowHandle find_window_ex(WindowHandle, WindowHandle, const char*, const char*) override { return 0; }
    bool show_window(WindowHandle, int) override { return false; }
    std::intptr_t send_message(WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) override {
        return 0;
    }
    Result<std::vector<ProcessEntry>> processes() override;

    int activation_wait_ms = 250;

private:
    std::vector<Window> toplevels();
    WindowHandle focus_toplevel();
    Window client_below(Window frame, int depth);
    bool has_wm_state(Window w);
    void activate(Window w);

    X11Connection& x_;
    DesktopInfo info_;
    std::vector<Window> stacking_;  // of the last top_window(), for next_window()
};

}  // namespace qn::platform::posix
