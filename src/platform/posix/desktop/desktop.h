// The Linux desktop's keyboard and window services, chosen from the session
// the program runs in: X11 (keys with XTest, windows by EWMH), Wayland
// (a virtual keyboard through /dev/uinput, the focus unknown), or neither
// (no keys, with what to set up). Linked into the Linux program only.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace qn::platform::posix {

// What the choice looks at.
struct DesktopEnv {
    std::string display;          // DISPLAY
    std::string wayland_display;  // WAYLAND_DISPLAY
    std::string session_type;     // XDG_SESSION_TYPE
    std::string forced;           // QUENNICK_DESKTOP: x11, uinput or none
    std::string layout;           // QUENNICK_LAYOUT: the keyboard layout for uinput
    std::string uinput_path = "/dev/uinput";
    static DesktopEnv from_environment();
};

class Desktop {
public:
    virtual ~Desktop() = default;
    virtual Keyboard& keyboard() = 0;
    virtual Windows& windows() = 0;
    // Gives back what the desktop changed: the spare keycodes, the virtual
    // keyboard. At exit; again is harmless.
    virtual void close() = 0;
};

std::unique_ptr<Desktop> open_desktop(const DesktopEnv& env);

// The chosen desktop's services in p for the rest of the process; p's
// process service closes the desktop before the process ends.
void install_desktop(Platform& p, const DesktopEnv& env);

}  // namespace qn::platform::posix
