#include "platform/posix/desktop/x11_desktop.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <time.h>

#include <algorithm>
#include <deque>

#include "platform/posix/desktop/text1252.h"

namespace qn::platform::posix {

namespace {

void sleep_ms(int ms) {
    timespec t{0, static_cast<long>(ms) * 1000000};
    nanosleep(&t, nullptr);
}

std::int64_t monotonic_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

std::string clip(std::string text, int max_chars) {
    if (max_chars <= 0) return {};
    if (text.size() > static_cast<std::size_t>(max_chars - 1))
        text.resize(static_cast<std::size_t>(max_chars - 1));
    return text;
}

}  // namespace

bool X11Windows::has_wm_state(Window w) {
    return x_.longs(w, x_.atoms().wm_state, x_.atoms().wm_state).has_value();
}

// Top-level windows, the one in front first, as Windows lists them: the
// window manager's list where there is one (in stacking order if it keeps
// that), else the mapped children of the root.
std::vector<Window> X11Windows::toplevels() {
    std::vector<Window> list;
    if (x_.manager().present) {
        auto stacking = x_.longs(x_.root(), x_.atoms().client_list_stacking, XA_WINDOW);
        if (stacking) {
            list.assign(stacking->rbegin(), stacking->rend());
            return list;
        }
        if (auto clients = x_.longs(x_.root(), x_.atoms().client_list, XA_WINDOW)) {
            list.assign(clients->begin(), clients->end());
            return list;
        }
    }
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(x_.display(), x_.root(), &root, &parent, &children, &n)) return list;
    for (unsigned int i = n; i-- > 0;) {
        XWindowAttributes a{};
        // A window that has gone meanwhile fails here and is left out.
        if (!XGetWindowAttributes(x_.display(), children[i], &a)) continue;
        if (a.map_state != IsViewable || a.override_redirect || a.c_class != InputOutput) continue;
        list.push_back(children[i]);
    }
    if (children != nullptr) XFree(children);
    return list;
}

// Read from the input focus, which is where XTest keys go, even under a
// window manager that names the active window: it names it a moment after
// moving the focus (after the FocusIn comes back to it), and a key sent in
// that moment on the word of _NET_ACTIVE_WINDOW would go to the window the
// ringer has just clicked.
WindowHandle X11Windows::foreground() {
    if (x_.lost()) return 0;
    return focus_toplevel();
}

// The input focus walked up to the client window (the one with WM_STATE)
// or, where no manager sets WM_STATE, to the top-level window itself.
WindowHandle X11Windows::focus_toplevel() {
    Display* d = x_.display();
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    if (focus == None) return 0;
    if (focus == PointerRoot) {  // the focus follows the pointer
        Window root = 0, child = 0;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned int mask = 0;
        if (!XQueryPointer(d, x_.root(), &root, &child, &rx, &ry, &wx, &wy, &mask) || child == None) return 0;
        focus = child;
    }
    for (Window w = focus; w != 0 && w != x_.root();) {
        if (has_wm_state(w)) return w;
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int n = 0;
        if (!XQueryTree(d, w, &root, &parent, &children, &n)) return 0;
        if (children != nullptr) XFree(children);
        if (parent == x_.root()) {
            const Window client = client_below(w, 4);
            return client != 0 ? client : w;
        }
        w = parent;
    }
    return 0;
}

// The window with WM_STATE inside a frame, breadth first.
Window X11Windows::client_below(Window frame, int depth) {
    std::deque<std::pair<Window, int>> todo{{frame, 0}};
    while (!todo.empty()) {
        auto [w, level] = todo.front();
        todo.pop_front();
        if (has_wm_state(w)) return w;
        if (level >= depth) continue;
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int n = 0;
        if (!XQueryTree(x_.display(), w, &root, &parent, &children, &n)) continue;
        for (unsigned int i = 0; i < n; ++i) todo.emplace_back(children[i], level + 1);
        if (children != nullptr) XFree(children);
    }
    return 0;
}

void X11Windows::activate(Window w) {
    Display* d = x_.display();
    const auto& m = x_.manager();
    if (m.present && m.active_window) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = x_.atoms().active_window;
        e.xclient.format = 32;
        e.xclient.data.l[0] =
            2;  // from a pager: the user's own choice, which focus-stealing rules let through
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(d, x_.root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
        XFlush(d);
        return;
    }
    // Nobody manages the windows: do it ourselves. Unmapped, the window
    // cannot take the focus (BadMatch), which the trap swallows.
    x_.begin_trap();
    XRaiseWindow(d, w);
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    (void)x_.end_trap();
}

bool X11Windows::set_foreground(WindowHandle w) {
    if (w == 0 || x_.lost()) return false;
    if (foreground() == w) return true;
    activate(static_cast<Window>(w));
    // The manager acts when it gets to the request.
    const std::int64_t end = monotonic_ms() + activation_wait_ms;
    for (;;) {
        if (foreground() == w) return true;
        if (monotonic_ms() >= end || x_.lost()) return false;
        sleep_ms(1);
    }
}

Result<void> X11Windows::enum_windows(const std::function<bool(WindowHandle)>& visit) {
    if (x_.lost()) return fail("XQueryTree: the connection to X server " + x_.name() + " was lost");
    for (Window w : toplevels())
        if (!visit(w)) break;
    return {};
}

std::string X11Windows::window_text(WindowHandle w, int max_chars) {
    if (w == 0 || x_.lost()) return {};
    Atom type = 0;
    if (auto name = x_.bytes(w, x_.atoms().net_wm_name, &type); name && type == x_.atoms().utf8_string)
        return clip(utf8_to_cp1252(*name), max_chars);
    XTextProperty p{};
    if (!XGetWMName(x_.display(), w, &p) || p.value == nullptr) return {};
    std::string text;
    if (p.encoding == XA_STRING) {
        text = latin1_to_cp1252(std::string(reinterpret_cast<const char*>(p.value), p.nitems));
    } else {
        char** list = nullptr;
        int n = 0;
        if (Xutf8TextPropertyToTextList(x_.display(), &p, &list, &n) >= Success && list != nullptr) {
            if (n > 0) text = utf8_to_cp1252(list[0]);
            XFreeStringList(list);
        }
    }
    XFree(p.value);
    return clip(text, max_chars);
}

std::string X11Windows::class_name(WindowHandle w, int max_chars) {
    if (w == 0 || x_.lost()) return {};
    XClassHint hint{};
    if (!XGetClassHint(x_.display(), w, &hint)) return {};
    std::string cls = hint.res_class != nullptr ? hint.res_class : "";
    if (hint.res_name != nullptr) XFree(hint.res_name);
    if (hint.res_class != nullptr) XFree(hint.res_class);
    return clip(latin1_to_cp1252(cls), max_chars);
}

WindowHandle X11Windows::top_window(WindowHandle parent) {
    stacking_.clear();
    if (parent != x_.root() || x_.lost()) return 0;
    stacking_ = toplevels();
    return stacking_.empty() ? 0 : stacking_.front();
}

WindowHandle X11Windows::next_window(WindowHandle w, std::uint32_t cmd) {
    if (cmd != kNextWindow) return 0;
    auto it = std::find(stacking_.begin(), stacking_.end(), static_cast<Window>(w));
    if (it == stacking_.end() || ++it == stacking_.end()) return 0;
    return *it;
}

std::uint32_t X11Windows::thread_process_id(WindowHandle w, std::uint32_t* pid) {
    if (pid != nullptr) {
        auto v = x_.longs(w, x_.atoms().wm_pid, XA_CARDINAL);
        *pid = v && !v->empty() ? static_cast<std::uint32_t>(v->front()) : 0;
    }
    return 0;
}

Result<std::vector<ProcessEntry>> X11Windows::processes() {
    return fail("processes: " + std::string(kNotSupported) +
                " on X11, where programs are found by their windows");
}

}  // namespace qn::platform::posix
