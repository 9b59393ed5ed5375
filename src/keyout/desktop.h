// The desktops of Linux: what the session offers, said once at start-up,
// and how the targets reach their programs there. On the Windows desktop
// (and the simulated one) none of this applies.
#pragma once

#include <cstdint>

#include "config/current_target.h"
#include "keyout/target_window.h"
#include "platform/platform.h"

namespace qn {

// Where the focus cannot be seen (Wayland) or no key can be sent, a target
// neither seeks its window nor guards its focus: keys go to the focused
// window. Applied whenever a target's parameters are taken.
void fit_target_to_desktop(CurrentTarget& target, platform::Windows& windows);

bool keys_go_to_focused_window(platform::Windows& windows);
bool reaches_toplevel_windows(platform::Windows& windows);

// The target program's own top-level window on X11: browsers and the
// programs under Wine by their WM_CLASS and title. 0 when it is not open.
platform::WindowHandle find_toplevel_target(TargetWindow& window, std::int32_t target_index);

}  // namespace qn
