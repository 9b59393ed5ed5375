#include "keyout/desktop.h"

#include <string>

#include "core/text.h"
#include "keyout/targets.h"

namespace qn {

namespace {

using platform::DesktopReach;

DesktopReach reach(const Context& c) {
    return c.plat.windows->desktop().reach;
}

// A target's window on X11: a title fragment, and the WM_CLASS classes of
// the programs that show it. The programs under Wine carry their exe name
// as the class.
bool is_target_window(Context& c, const TargetDriver& t, WindowHandle w) {
    platform::Windows& win = *c.plat.windows;
    if (win.window_text(w, 256).find(t.toplevel_title) == std::string::npos) return false;
    const std::string cls = lower(win.class_name(w, 256));
    for (const char* want : t.toplevel_classes) {
        if (want == nullptr) continue;
        if (t.whole_class ? cls == want : cls.find(want) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

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
    const TargetDriver* t = &target_driver(target_index);
    if (t->toplevel_title == nullptr) return 0;
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
