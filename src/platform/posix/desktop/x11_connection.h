// One connection to an X server, shared by the X11 keyboard and window
// services: the atoms they use, property reads, errors trapped instead of
// ending the process, and what the window manager offers.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qn::platform::posix {

class X11Connection {
public:
    // nullptr with *error set ("XOpenDisplay(:0) failed") when there is no server.
    static std::unique_ptr<X11Connection> open(const std::string& name, std::string* error);
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    Display* display() const { return dpy_; }
    Window root() const { return root_; }
    const std::string& name() const { return name_; }
    // The server went away (logged out, killed): every call is then refused.
    bool lost() const { return lost_; }

    struct Atoms {
        Atom active_window, client_list, client_list_stacking, supporting_wm_check, supported, net_wm_name,
            utf8_string, wm_state, wm_pid;
    };
    const Atoms& atoms() const { return atoms_; }

    // Errors of the requests between begin_trap and end_trap: end_trap waits
    // for the server and returns the first error code (0: none).
    void begin_trap();
    int end_trap();

    // A property of 32-bit items (windows, atoms, cardinals); nullopt when
    // the window or the property is missing or of another type.
    std::optional<std::vector<unsigned long>> longs(Window w, Atom property, Atom type);
    std::optional<Window> window_property(Window w, Atom property);
    // The bytes of an 8-bit property and its type.
    std::optional<std::string> bytes(Window w, Atom property, Atom* type);

    // A window manager that follows EWMH, and whether it keeps
    // _NET_ACTIVE_WINDOW; asked again at most once a second.
    struct Manager {
        bool present = false;
        bool active_window = false;
        std::string name;
    };
    const Manager& manager();

private:
    X11Connection() = default;
    friend int on_x_error(Display*, XErrorEvent*);
    friend void on_io_exit(Display*, void*);

    Display* dpy_ = nullptr;
    Window root_ = 0;
    std::string name_;
    Atoms atoms_{};
    bool lost_ = false;
    bool trapping_ = false;
    int trapped_ = 0;
    Manager manager_;
    std::int64_t manager_checked_ns_ = -1;
};

}  // namespace qn::platform::posix
