#include "platform/posix/desktop/desktop.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/desktop/uinput.h"
#include "platform/posix/desktop/x11_desktop.h"

#include <X11/extensions/XTest.h>

namespace qn::platform::posix {

namespace {

std::string env_or_empty(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

std::string shown(const std::string& value) {
    return value.empty() ? "not set" : value;
}

// ---- X11 ---------------------------------------------------------------------

class X11Desktop : public Desktop {
public:
    X11Desktop(std::unique_ptr<X11Connection> x, DesktopInfo info)
        : x_(std::move(x)), keyboard_(*x_), windows_(*x_, with_setup(std::move(info), keyboard_)) {}
    Keyboard& keyboard() override { return keyboard_; }
    Windows& windows() override { return windows_; }
    void close() override { keyboard_.restore(); }

private:
    // The keyboard's set-up (spare keycodes) belongs in the run log too.
    static DesktopInfo with_setup(DesktopInfo info, const X11Keyboard& k) {
        for (const std::string& line : k.setup()) info.choice.push_back(line);
        return info;
    }

    std::unique_ptr<X11Connection> x_;
    X11Keyboard keyboard_;
    X11Windows windows_;
};

// ---- a keyboard alone: Wayland, or nothing -----------------------------------

// Other programs' windows cannot be seen: every question about them has the
// answer "none", and the list says why.
class BlindWindows : public Windows {
public:
    explicit BlindWindows(DesktopInfo info) : info_(std::move(info)) {}
    const DesktopInfo& desktop() const override { return info_; }
    WindowHandle foreground() override { return 0; }
    bool set_foreground(WindowHandle) override { return false; }
    WindowHandle set_active(WindowHandle) override { return 0; }
    Result<void> enum_windows(const std::function<bool(WindowHandle)>&) override {
        return fail("enum_windows: other programs' windows cannot be seen in this session");
    }
    std::string window_text(WindowHandle, int) override { return {}; }
    std::string class_name(WindowHandle, int) override { return {}; }
    WindowHandle desktop_window() override { return 0; }
    WindowHandle top_window(WindowHandle) override { return 0; }
    WindowHandle next_window(WindowHandle, std::uint32_t) override { return 0; }
    std::uint32_t thread_process_id(WindowHandle, std::uint32_t* pid) override {
        if (pid != nullptr) *pid = 0;
        return 0;
    }
    WindowHandle find_window(const char*, const char*) override { return 0; }
    WindowHandle find_window_ex(WindowHandle, WindowHandle, const char*, const char*) override { return 0; }
    bool show_window(WindowHandle, int) override { return false; }
    std::intptr_t send_message(WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) override {
        return 0;
    }
    Result<std::vector<ProcessEntry>> processes() override {
        return fail("processes: other programs cannot be seen in this session");
    }

private:
    DesktopInfo info_;
};

class NoKeyboard : public Keyboard {
public:
    Result<std::uint32_t> send_input(const KeyInput*, std::uint32_t) override {
        return fail("send_input: no keys can be sent in this session (the start of the run log says why)");
    }
};

class KeyboardOnlyDesktop : public Desktop {
public:
    KeyboardOnlyDesktop(std::unique_ptr<Keyboard> k, DesktopInfo info, void (*closer)(Keyboard&))
        : keyboard_(std::move(k)), windows_(std::move(info)), closer_(closer) {}
    Keyboard& keyboard() override { return *keyboard_; }
    Windows& windows() override { return windows_; }
    void close() override {
        if (closer_ != nullptr) closer_(*keyboard_);
    }

private:
    std::unique_ptr<Keyboard> keyboard_;
    BlindWindows windows_;
    void (*closer_)(Keyboard&);
};

std::int64_t monotonic_ns() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// ---- the three choices -------------------------------------------------------

std::unique_ptr<Desktop> try_x11(const DesktopEnv& env, const std::string& why,
                                 std::vector<std::string> notices, std::vector<std::string>& tried) {
    std::string error;
    auto x = X11Connection::open(env.display, &error);
    if (!x) {
        tried.push_back(error);
        return nullptr;
    }
    int event = 0, reply = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(x->display(), &event, &reply, &major, &minor)) {
        tried.push_back("XTestQueryExtension(" + x->name() + "): the X server has no XTEST extension");
        return nullptr;
    }
    DesktopInfo info;
    info.reach = DesktopReach::TopLevel;
    const auto& m = x->manager();
    info.choice.push_back("Keys by XTest and windows by EWMH on X11 display " + x->name() + " (" + why + ")");
    if (m.present)
        info.choice.push_back("Window manager: " + (m.name.empty() ? std::string("unnamed") : m.name) +
                              (m.active_window
                                   ? ", which activates windows asked for by _NET_ACTIVE_WINDOW"
                                   : ", without _NET_ACTIVE_WINDOW: windows are raised and focused "
                                     "directly"));
    else
        info.choice.push_back("No window manager: windows are raised and given the focus directly");
    info.notices = std::move(notices);
    return std::make_unique<X11Desktop>(std::move(x), std::move(info));
}

std::unique_ptr<Desktop> try_uinput(const DesktopEnv& env, const std::string& why,
                                    std::vector<std::string>& tried) {
    std::vector<std::string> notices;
    std::string layout_name = env.layout.empty() ? "us" : env.layout;
    auto layout = KeyLayout::named(layout_name);
    if (!layout) {
        notices.push_back("QUENNICK_LAYOUT=" + env.layout + " is not known (" + KeyLayout::names() +
                          "): us is used");
        layout = KeyLayout::named("us");
    }
    auto fd = create_uinput_device(env.uinput_path);
    if (!fd.ok()) {
        tried.push_back(fd.error());
        return nullptr;
    }
    DesktopInfo info;
    info.reach = DesktopReach::FocusedOnly;
    info.choice.push_back("Keys through a virtual keyboard on " + env.uinput_path + " (" + why + ")");
    info.choice.push_back("Keyboard layout for the keys: " + layout->name());
    notices.push_back("Wayland: keys go to whichever window has the focus, which Quennick cannot");
    notices.push_back("check here: keep the ringing program's window in front.");
    notices.push_back("Keys are typed as key positions of a " + layout->name() +
                      " keyboard: if they come out wrong,");
    notices.push_back("start Quennick with QUENNICK_LAYOUT set (" + KeyLayout::names() + ").");
    info.notices = std::move(notices);
    auto k = std::make_unique<UinputKeyboard>(fd.value(), *layout, monotonic_ns() + 1000000000);
    return std::make_unique<KeyboardOnlyDesktop>(
        std::move(k), std::move(info), [](Keyboard& kb) { static_cast<UinputKeyboard&>(kb).close(); });
}

std::string uinput_state(const std::string& path) {
    if (::access(path.c_str(), F_OK) != 0) return path + " missing (the uinput module is not loaded)";
    if (::access(path.c_str(), W_OK) != 0) return path + " present but not writable by this user";
    return path + " present and writable";
}

std::unique_ptr<Desktop> no_desktop(const DesktopEnv& env, const std::vector<std::string>& tried) {
    DesktopInfo info;
    info.reach = DesktopReach::NoKeys;
    info.choice.push_back("No keys: neither X11 nor a usable " + env.uinput_path + " in this session");
    for (const std::string& t : tried) info.choice.push_back(t);
    info.notices = {
        "No keys can be sent to other programs in this session (the row counter works):",
        "session type " + shown(env.session_type) + ", DISPLAY " + shown(env.display) + ", WAYLAND_DISPLAY " +
            shown(env.wayland_display) + ",",
        uinput_state(env.uinput_path) + ".",
        "On an X11 desktop, start Quennick from a terminal there.",
        "On Wayland, set up a virtual keyboard once (as root), then log in again:",
        "  modprobe uinput && echo uinput > /etc/modules-load.d/uinput.conf",
        "  echo 'KERNEL==\"uinput\", SUBSYSTEM==\"misc\", TAG+=\"uaccess\"' \\",
        "      > /etc/udev/rules.d/60-uinput.rules",
        "  udevadm control --reload-rules && udevadm trigger",
    };
    return std::make_unique<KeyboardOnlyDesktop>(std::make_unique<NoKeyboard>(), std::move(info), nullptr);
}

// Installed in place of the platform's process service.
class ClosingProcess : public Process {
public:
    ClosingProcess(Process& inner, Desktop& desktop) : inner_(inner), desktop_(desktop) {}
    [[noreturn]] void exit(int code) override {
        desktop_.close();
        inner_.exit(code);
        std::abort();  // exit does not come back
    }

private:
    Process& inner_;
    Desktop& desktop_;
};

}  // namespace

DesktopEnv DesktopEnv::from_environment() {
    DesktopEnv e;
    e.display = env_or_empty("DISPLAY");
    e.wayland_display = env_or_empty("WAYLAND_DISPLAY");
    e.session_type = env_or_empty("XDG_SESSION_TYPE");
    e.forced = env_or_empty("QUENNICK_DESKTOP");
    e.layout = env_or_empty("QUENNICK_LAYOUT");
    return e;
}

std::unique_ptr<Desktop> open_desktop(const DesktopEnv& env) {
    std::vector<std::string> tried;
    const bool wayland = !env.wayland_display.empty() || env.session_type == "wayland";
    if (!env.forced.empty()) {
        const std::string why = "QUENNICK_DESKTOP=" + env.forced;
        std::unique_ptr<Desktop> d;
        if (env.forced == "x11")
            d = try_x11(env, why, {}, tried);
        else if (env.forced == "uinput")
            d = try_uinput(env, why, tried);
        else if (env.forced != "none")
            tried.push_back(why + " is not one of x11, uinput, none");
        else
            tried.push_back(why);
        return d ? std::move(d) : no_desktop(env, tried);
    }
    if (!wayland) {
        if (env.display.empty()) {
            tried.push_back("DISPLAY is not set: no X11 session");
        } else if (auto d = try_x11(env, "X11 session, DISPLAY=" + env.display, {}, tried)) {
            return d;
        }
        // Without a graphical session the keys of a virtual keyboard would
        // land in the text console, maybe this program's own: none are sent.
        return no_desktop(env, tried);
    }
    const std::string session = "Wayland session, WAYLAND_DISPLAY=" + shown(env.wayland_display);
    if (auto d = try_uinput(env, session, tried)) return d;
    if (!env.display.empty()) {
        std::vector<std::string> notices = {
            "Wayland without a usable " + env.uinput_path + ": keys go through Xwayland and reach X11",
            "windows only (programs under Wine, browsers run as X11 programs). For others, see",
            "\"On Linux\" in the README to set up " + env.uinput_path + " once.",
        };
        if (auto d = try_x11(env, session + ", through Xwayland", notices, tried)) return d;
    }
    return no_desktop(env, tried);
}

void install_desktop(Platform& p, const DesktopEnv& env) {
    // Never destroyed, like the platform: the process ends with _exit.
    static Desktop* desktop = open_desktop(env).release();
    p.keyboard = &desktop->keyboard();
    p.windows = &desktop->windows();
    p.process = new ClosingProcess(*p.process, *desktop);
}

}  // namespace qn::platform::posix
