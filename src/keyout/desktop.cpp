#include "keyout/desktop.h"

#include <array>
#include <string>

#include "core/text.h"

namespace qn {

namespace {

using platform::DesktopReach;

DesktopReach reach(const Context& c) {
    return c.plat.windows->desktop().reach;
}

// A target's window on X11: a title fragment, and the WM_CLASS classes of
// the programs that show it (a part of the class, in lower case). The
// programs under Wine carry their exe name as the class.
struct ToplevelTarget {
    std::int32_t first, last;
    const char* title;
    std::array<const char*, 2> classes;
    bool whole_class;  // the class is the whole WM_CLASS, not a part
};

// The em dash of code page 1252, in which titles are read.
constexpr ToplevelTarget kToplevelTargets[] = {
    {2, 2, "\x97 Ringing Room ", {"firefox", nullptr}, false},
    {3, 3, "\x97 Ringing Room ", {"chrom", "microsoft-edge"}, false},
    {4, 5, "Muster", {"muster.exe", nullptr}, true},
    {6, 7, "Ding", {"ding.exe", nullptr}, true},
    {8, 8, "Abel", {"abel3.exe", nullptr}, true},
    {9, 9, "BELTOWER", {"beltow95.exe", nullptr}, true},
};

const ToplevelTarget* toplevel_target(std::int32_t index) {
    for (const ToplevelTarget& t : kToplevelTargets)
        if (index >= t.first && index <= t.last) return &t;
    return nullptr;
}

bool is_target_window(Context& c, const ToplevelTarget& t, WindowHandle w) {
    platform::Windows& win = *c.plat.windows;
    if (win.window_text(w, 256).find(t.title) == std::string::npos) return false;
    const std::string cls = lower(win.class_name(w, 256));
    for (const char* want : t.classes) {
        if (want == nullptr) continue;
        if (t.whole_class ? cls == want : cls.find(want) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

void report_desktop(Context& c) {
    const platform::DesktopInfo& d = c.plat.windows->desktop();
    if (d.reach == DesktopReach::Messages) return;
    for (const std::string& line : d.choice) c.run_log.write_line("Desktop: " + line);
    for (const std::string& line : d.notices) c.run_log.write_line(line);
}

bool show_desktop_notices(Context& c) {
    const platform::DesktopInfo& d = c.plat.windows->desktop();
    if (d.notices.empty()) return false;
    c.screen.text_colour(kYellow);
    for (const std::string& line : d.notices) c.screen.write_line(line);
    c.screen.text_colour(kWhite);
    return true;
}

void fit_target_to_desktop(Context& c) {
    if (!keys_go_to_focused_window(c)) return;
    c.keyout.find_window = false;
    c.keyout.restricted = false;
}

bool keys_go_to_focused_window(const Context& c) {
    const DesktopReach r = reach(c);
    return r == DesktopReach::FocusedOnly || r == DesktopReach::NoKeys;
}

bool reaches_toplevel_windows(const Context& c) {
    return reach(c) == DesktopReach::TopLevel;
}

WindowHandle find_toplevel_target(Context& c, std::int32_t target_index) {
    const ToplevelTarget* t = toplevel_target(target_index);
    if (t == nullptr) return 0;
    KeyoutState& k = c.keyout;
    // The window of the last key, while it is still the target's: a search
    // asks the server about every window.
    if (k.found_window != 0 && is_target_window(c, *t, k.found_window)) return k.found_window;
    WindowHandle found = 0;
    (void)c.plat.windows->enum_windows([&](WindowHandle w) {
        if (!is_target_window(c, *t, w)) return true;
        found = w;
        return false;
    });
    k.found_window = found;
    return found;
}

}  // namespace qn
