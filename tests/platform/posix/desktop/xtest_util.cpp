#include "xtest_util.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace qn::xtest {

std::int64_t now_us() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

namespace {

// Output goes nowhere; the descriptors without close-on-exec are inherited.
int spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    std::vector<char*> a, e;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    for (const auto& s : env) e.push_back(const_cast<char*>(s.c_str()));
    e.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, a[0], &fa, nullptr, a.data(), e.data());
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
}

void stop(int& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

bool manager_running(const std::string& display) {
    Display* d = XOpenDisplay(display.c_str());
    if (d == nullptr) return false;
    Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    bool ok = XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, XA_WINDOW, &type, &format, &n,
                                 &after, &data) == Success &&
              data != nullptr && n == 1;
    if (data != nullptr) XFree(data);
    XCloseDisplay(d);
    return ok;
}

}  // namespace

XServer::XServer(bool window_manager) {
    int fds[2];
    if (pipe(fds) != 0) {
        error_ = "pipe failed";
        return;
    }
    // -displayfd: the server picks a free display and writes its number.
    // -noreset: the server would start afresh (refusing clients meanwhile)
    // each time its last client leaves.
    xvfb_ = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-noreset", "-nolisten", "tcp", "-screen",
                   "0", "1024x768x24"},
                  {});
    ::close(fds[1]);
    if (xvfb_ < 0) {
        ::close(fds[0]);
        error_ = "Xvfb cannot be started (apt-get install xvfb)";
        return;
    }
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const std::int64_t end = now_us() + 15000000;
    while (now_us() < end && number.find('\n') == std::string::npos) {
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[32];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        number.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        error_ = "Xvfb gave no display number";
        return;
    }
    display_ = ":" + number.substr(0, number.find('\n'));
    // The number comes a moment before the server takes clients.
    for (int i = 0;; ++i) {
        if (Display* d = XOpenDisplay(display_.c_str())) {
            XCloseDisplay(d);
            break;
        }
        if (i == 500) {
            error_ = "Xvfb on " + display_ + " takes no clients";
            return;
        }
        usleep(10000);
    }
    if (!window_manager) return;
    wm_ = spawn({"openbox", "--sm-disable"}, {"DISPLAY=" + display_});
    if (wm_ < 0) {
        error_ = "openbox cannot be started (apt-get install openbox)";
        return;
    }
    const std::int64_t wm_end = now_us() + 15000000;
    while (!manager_running(display_)) {
        if (now_us() > wm_end) {
            error_ = "openbox did not take the display";
            return;
        }
        usleep(20000);
    }
}

XServer::~XServer() {
    stop(wm_);
    stop(xvfb_);
}

TestClient::TestClient(const std::string& display) {
    dpy_ = XOpenDisplay(display.c_str());
    if (dpy_ == nullptr) return;
    thread_ = std::thread([this] { pump(); });
}

TestClient::~TestClient() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
}

void TestClient::pump() {
    pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
    while (!stop_) {
        (void)poll(&p, 1, 50);
        while (XPending(dpy_) > 0) {
            XEvent e;
            XNextEvent(dpy_, &e);
            const std::int64_t at = now_us();
            if (e.type == MappingNotify) {
                XRefreshKeyboardMapping(&e.xmapping);
                continue;
            }
            if (e.type != KeyPress && e.type != KeyRelease) continue;
            KeyRecord r;
            r.window = e.xkey.window;
            r.keycode = e.xkey.keycode;
            r.keysym = XLookupKeysym(&e.xkey, 0);
            r.press = e.type == KeyPress;
            r.synthetic = e.xkey.send_event != 0;
            r.at_us = at;
            std::lock_guard<std::mutex> hold(lock_);
            keys_.push_back(r);
        }
    }
}

Window TestClient::make_window(const std::string& utf8_title, const std::string& wm_class, std::uint32_t pid,
                               bool latin1_only) {
    const Window root = DefaultRootWindow(dpy_);
    XSetWindowAttributes a{};
    a.event_mask = KeyPressMask | KeyReleaseMask | FocusChangeMask;
    const Window w = XCreateWindow(dpy_, root, 20 + 40 * static_cast<int>(windows_.size()),
                                   20 + 40 * static_cast<int>(windows_.size()), 400, 300, 0, CopyFromParent,
                                   InputOutput, CopyFromParent, CWEventMask, &a);
    if (latin1_only) {
        XChangeProperty(dpy_, w, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(utf8_title.data()),
                        static_cast<int>(utf8_title.size()));
    } else {
        const Atom net_wm_name = XInternAtom(dpy_, "_NET_WM_NAME", False);
        const Atom utf8 = XInternAtom(dpy_, "UTF8_STRING", False);
        XChangeProperty(dpy_, w, net_wm_name, utf8, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(utf8_title.data()),
                        static_cast<int>(utf8_title.size()));
    }
    XClassHint hint{};
    std::string name = wm_class, cls = wm_class;
    hint.res_name = name.data();
    hint.res_class = cls.data();
    XSetClassHint(dpy_, w, &hint);
    const long p = pid;
    XChangeProperty(dpy_, w, XInternAtom(dpy_, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&p), 1);
    XWMHints hints{};
    hints.flags = InputHint;
    hints.input = True;
    XSetWMHints(dpy_, w, &hints);
    XMapWindow(dpy_, w);
    XSync(dpy_, False);
    windows_.push_back(w);
    // Mapped once the server (and a window manager) has done so.
    for (int i = 0; i < 500; ++i) {
        XWindowAttributes wa{};
        if (XGetWindowAttributes(dpy_, w, &wa) && wa.map_state == IsViewable) break;
        usleep(5000);
    }
    return w;
}

Window TestClient::focused() {
    Window f = 0;
    int revert = 0;
    XGetInputFocus(dpy_, &f, &revert);
    return f;
}

bool TestClient::focus(Window w) {
    const Atom active = XInternAtom(dpy_, "_NET_ACTIVE_WINDOW", False);
    const Window root = DefaultRootWindow(dpy_);
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    const bool managed =
        XGetWindowProperty(dpy_, root, XInternAtom(dpy_, "_NET_SUPPORTING_WM_CHECK", False), 0, 1, False,
                           XA_WINDOW, &type, &format, &n, &after, &data) == Success &&
        n == 1;
    if (data != nullptr) XFree(data);
    if (managed) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = active;
        e.xclient.format = 32;
        e.xclient.data.l[0] = 2;
        XSendEvent(dpy_, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    } else {
        XRaiseWindow(dpy_, w);
        XSetInputFocus(dpy_, w, RevertToParent, CurrentTime);
    }
    XSync(dpy_, False);
    for (int i = 0; i < 400; ++i) {
        if (focused() == w) return true;
        usleep(5000);
    }
    return false;
}

std::vector<KeyRecord> TestClient::keys() {
    std::lock_guard<std::mutex> hold(lock_);
    return keys_;
}

std::vector<KeyRecord> TestClient::keys_of(Window w) {
    std::vector<KeyRecord> out;
    for (const KeyRecord& r : keys())
        if (r.window == w) out.push_back(r);
    return out;
}

bool TestClient::wait_keys(std::size_t n, int timeout_ms) {
    const std::int64_t end = now_us() + static_cast<std::int64_t>(timeout_ms) * 1000;
    while (now_us() < end) {
        if (keys().size() >= n) return true;
        usleep(2000);
    }
    return keys().size() >= n;
}

void TestClient::clear_keys() {
    std::lock_guard<std::mutex> hold(lock_);
    keys_.clear();
}

}  // namespace qn::xtest
