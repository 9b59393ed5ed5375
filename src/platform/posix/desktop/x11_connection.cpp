#include "platform/posix/desktop/x11_connection.h"

#include <X11/Xatom.h>
#include <time.h>

#include <algorithm>
#include <mutex>

namespace qn::platform::posix {

namespace {

// Xlib's handlers are per process: the connections they may report on.
std::mutex g_lock;
std::vector<X11Connection*> g_connections;

std::int64_t monotonic_ns() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The default handler prints and ends the process; a window that closes
// between two requests gives BadWindow, which is an ordinary answer here.
int on_io_error(Display*) {
    return 0;
}

}  // namespace

int on_x_error(Display* d, XErrorEvent* e) {
    std::lock_guard<std::mutex> hold(g_lock);
    for (X11Connection* x : g_connections) {
        if (x->dpy_ != d) continue;
        if (x->trapping_ && x->trapped_ == 0) x->trapped_ = e->error_code;
    }
    return 0;
}

void on_io_exit(Display* d, void*) {
    // Returning (rather than exiting, Xlib's default) leaves the display
    // marked dead: later calls on it return at once.
    std::lock_guard<std::mutex> hold(g_lock);
    for (X11Connection* x : g_connections)
        if (x->dpy_ == d) x->lost_ = true;
}

std::unique_ptr<X11Connection> X11Connection::open(const std::string& name, std::string* error) {
    Display* d = XOpenDisplay(name.c_str());
    if (d == nullptr) {
        *error = "XOpenDisplay(" + name + ") failed: no X server there, or it refused this user";
        return nullptr;
    }
    std::unique_ptr<X11Connection> x(new X11Connection);
    x->dpy_ = d;
    x->root_ = DefaultRootWindow(d);
    x->name_ = DisplayString(d);
    {
        std::lock_guard<std::mutex> hold(g_lock);
        g_connections.push_back(x.get());
    }
    XSetErrorHandler(on_x_error);
    XSetIOErrorHandler(on_io_error);
    XSetIOErrorExitHandler(d, on_io_exit, nullptr);

    const char* names[] = {"_NET_ACTIVE_WINDOW",
                           "_NET_CLIENT_LIST",
                           "_NET_CLIENT_LIST_STACKING",
                           "_NET_SUPPORTING_WM_CHECK",
                           "_NET_SUPPORTED",
                           "_NET_WM_NAME",
                           "UTF8_STRING",
                           "WM_STATE",
                           "_NET_WM_PID"};
    Atom got[9] = {};
    XInternAtoms(d, const_cast<char**>(names), 9, False, got);
    x->atoms_ = Atoms{got[0], got[1], got[2], got[3], got[4], got[5], got[6], got[7], got[8]};
    return x;
}

X11Connection::~X11Connection() {
    {
        std::lock_guard<std::mutex> hold(g_lock);
        g_connections.erase(std::remove(g_connections.begin(), g_connections.end(), this),
                            g_connections.end());
    }
    if (!lost_) XCloseDisplay(dpy_);
}

void X11Connection::begin_trap() {
    std::lock_guard<std::mutex> hold(g_lock);
    trapping_ = true;
    trapped_ = 0;
}

int X11Connection::end_trap() {
    XSync(dpy_, False);
    std::lock_guard<std::mutex> hold(g_lock);
    trapping_ = false;
    return lost_ ? BadImplementation : trapped_;
}

std::optional<std::vector<unsigned long>> X11Connection::longs(Window w, Atom property, Atom type) {
    if (lost_ || w == 0) return std::nullopt;
    Atom actual = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    // A request with a reply: an error (a window that has gone) comes back
    // as the status, without a trap.
    if (XGetWindowProperty(dpy_, w, property, 0, 4096, False, type, &actual, &format, &count, &after,
                           &data) != Success)
        return std::nullopt;
    std::optional<std::vector<unsigned long>> out;
    // Format 32 items come as longs, whatever the size of a long.
    if (data != nullptr && actual == type && format == 32) {
        const auto* items = reinterpret_cast<const unsigned long*>(data);
        out.emplace(items, items + count);
    }
    if (data != nullptr) XFree(data);
    return out;
}

std::optional<Window> X11Connection::window_property(Window w, Atom property) {
    auto v = longs(w, property, XA_WINDOW);
    if (!v || v->empty()) return std::nullopt;
    return static_cast<Window>(v->front());
}

std::optional<std::string> X11Connection::bytes(Window w, Atom property, Atom* type) {
    if (lost_ || w == 0) return std::nullopt;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy_, w, property, 0, 1024, False, AnyPropertyType, type, &format, &count, &after,
                           &data) != Success)
        return std::nullopt;
    std::optional<std::string> out;
    if (data != nullptr && format == 8) out.emplace(reinterpret_cast<const char*>(data), count);
    if (data != nullptr) XFree(data);
    return out;
}

const X11Connection::Manager& X11Connection::manager() {
    const std::int64_t now = monotonic_ns();
    if (manager_checked_ns_ >= 0 && now - manager_checked_ns_ < 1000000000) return manager_;
    manager_checked_ns_ = now;
    manager_ = Manager{};
    // The check window names itself: a property left behind by a manager
    // that has gone points to a window that no longer does.
    auto check = window_property(root_, atoms_.supporting_wm_check);
    if (!check || window_property(*check, atoms_.supporting_wm_check) != check) return manager_;
    manager_.present = true;
    Atom type = 0;
    manager_.name = bytes(*check, atoms_.net_wm_name, &type).value_or("");
    if (auto supported = longs(root_, atoms_.supported, XA_ATOM))
        manager_.active_window =
            std::find(supported->begin(), supported->end(), atoms_.active_window) != supported->end();
    return manager_;
}

}  // namespace qn::platform::posix
