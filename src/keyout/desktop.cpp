#include "keyout/desktop.h"

#include <string>

#include "core/text.h"
#include "keyout/targets.h"

namespace qn {

namespace {

using platform::DesktopReach;

DesktopReach reach(platform::Windows& windows) { return windows.desktop().reach; }

// A target's window on X11: a title fragment, and the WM_CLASS classes of
// the programs that show it. The programs under Wine carry their exe name
// as the class.
bool is_target_window(platform::Windows& win, const TargetDriver& t, platform::WindowHandle w) {
    if (win.window_text(w, 256).find(t.toplevel_title) == std::string::npos) return false;
    const std::string cls = lower(win.class_name(w, 256));
    for (const char* want : t.toplevel_classes) {
        if (want == nullptr) continue;
        if (t.whole_class ? cls == want : cls.find(want) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

void fit_target_to_desktop(CurrentTarget& target, platform::Windows& windows) {
    if (keys_go_to_focused_window(windows)) target.free_of_window();
}

bool keys_go_to_focused_window(platform::Windows& windows) {
    const DesktopReach r = reach(windows);
    return r == DesktopReach::FocusedOnly || r == DesktopReach::NoKeys;
}

bool reaches_toplevel_windows(platform::Windows& windows) {
    return reach(windows) == DesktopReach::TopLevel;
}

platform::WindowHandle find_toplevel_target(TargetWindow& window, std::int32_t target_index) {
    const TargetDriver& t = target_driver(target_index);
    if (t.toplevel_title == nullptr) return 0;
    platform::Windows& win = window.windows();
    // The window of the last key, while it is still the target's: a search
    // asks the server about every window.
    const platform::WindowHandle last = window.key_window();
    if (last != 0 && is_target_window(win, t, last)) return last;
    platform::WindowHandle found = 0;
    (void)win.enum_windows([&](platform::WindowHandle w) {
        if (!is_target_window(win, t, w)) return true;
        found = w;
        return false;
    });
    window.set_key_window(found);
    return found;
}

}  // namespace qn
