#include "platform/sim/sim_desktop.h"

namespace qn::platform::sim {

namespace {

const std::string kDash = "\x97";  // the em dash of code page 1252

bool matches(const SimWindow& w, const char* cls, const char* title) {
    if (cls && w.cls != cls) return false;
    if (title && w.title != title) return false;
    return true;
}

std::string clipped(const std::string& s, int max_chars) {
    if (max_chars <= 0) return {};
    return s.substr(0, static_cast<std::size_t>(max_chars - 1));
}

}  // namespace

// Every target the program knows is running, each as its discovery expects
// to find it; the browser with the ringing simulator has the focus.
SimDesktop::SimDesktop(SimTime& time, KeySink* sink) : time_(time), sink_(sink) {
    procs_ = {{4100, "firefox.exe"}, {4200, "Muster.exe"}, {4300, "ding.exe"}, {4400, "Abel3.exe"},
              {4500, "Beltow95.exe"}};
    browser_ = add(0, "Quennick Tower " + kDash + " Ringing Room " + kDash + " Mozilla Firefox", "MozillaWindowClass",
                   4100);
    add(browser_, "Chrome Legacy Window", "Chrome_RenderWidgetHostHWND", 4100);
    const WindowHandle muster = add(0, "Muster - Quennick practice", "WindowsForms10.Window.8.app", 4200);
    add(muster, "", "WindowsForms10.Window.8.app.DataGridView", 4200);
    add(0, "Ding", "UnityWndClass", 4300);
    const WindowHandle abel = add(0, "Abel - [Quennick]", "Afx:00400000:b", 4400);
    const WindowHandle frame = add(abel, "", "AfxMDIFrame140s", 4400);
    add(frame, "Quennick", "AfxFrameOrView140s", 4400);
    const WindowHandle beltower = add(0, "BELTOWER - Quennick", "ThunderRT6MDIForm", 4500);
    const WindowHandle client = add(beltower, "", "MDIClient", 4500);
    add(client, "Ringing", "ThunderRT6FormDC", 4500);
    foreground_ = browser_;
    active_ = browser_;
}

WindowHandle SimDesktop::add(WindowHandle parent, const std::string& title, const std::string& cls,
                             std::uint32_t pid) {
    SimWindow w;
    w.handle = next_;
    next_ += 0x10;
    w.parent = parent;
    w.title = title;
    w.cls = cls;
    w.pid = pid;
    w.tid = pid + 1;
    windows_.push_back(w);
    return w.handle;
}

const SimWindow* SimDesktop::find(WindowHandle w) const {
    for (const SimWindow& x : windows_)
        if (x.handle == w) return &x;
    return nullptr;
}

WindowHandle SimDesktop::top_level_of(WindowHandle w) const {
    const SimWindow* x = find(w);
    while (x && x->parent != 0) x = find(x->parent);
    return x ? x->handle : 0;
}

void SimDesktop::deliver(char ch, WindowHandle w) {
    const SimWindow* x = find(w);
    if (!x || !sink_) return;
    const SimWindow* top = find(top_level_of(w));
    std::int64_t now = time_.now_locked();
    sink_->key(now, ch, top ? top->title : x->title);
}

// ---- keyboard -------------------------------------------------------------------

// The key goes to the window with the focus; a key-up is only the end of it.
Result<std::uint32_t> SimDesktop::send_input(const KeyInput* records, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const KeyInput& r = records[i];
        if (r.flags & kKeyUp) continue;
        const bool printable = (r.vk >= '0' && r.vk <= '9') || (r.vk >= 'A' && r.vk <= 'Z');
        char ch = printable ? static_cast<char>(r.vk) : r.vk == 0xBD ? '-' : r.vk == 0xBB ? '=' : '\0';
        if (ch != '\0') deliver(ch, foreground_);
    }
    return count;
}

// ---- windows --------------------------------------------------------------------

WindowHandle SimDesktop::foreground() { return foreground_; }

bool SimDesktop::set_foreground(WindowHandle w) {
    WindowHandle top = top_level_of(w);
    if (top == 0) return false;
    foreground_ = top;
    return true;
}

WindowHandle SimDesktop::set_active(WindowHandle w) {
    WindowHandle before = active_;
    if (find(w)) active_ = w;
    return before;
}

Result<void> SimDesktop::enum_windows(const std::function<bool(WindowHandle)>& visit) {
    std::vector<WindowHandle> top;
    for (const SimWindow& w : windows_)
        if (w.parent == 0) top.push_back(w.handle);
    for (WindowHandle h : top)
        if (!visit(h)) break;
    return {};
}

std::string SimDesktop::window_text(WindowHandle w, int max_chars) {
    const SimWindow* x = find(w);
    return x ? clipped(x->title, max_chars) : std::string();
}

std::string SimDesktop::class_name(WindowHandle w, int max_chars) {
    const SimWindow* x = find(w);
    return x ? clipped(x->cls, max_chars) : std::string();
}

WindowHandle SimDesktop::top_window(WindowHandle parent) {
    const WindowHandle want = parent == kDesktop ? 0 : parent;
    for (const SimWindow& w : windows_)
        if (w.parent == want) return w.handle;
    return 0;
}

WindowHandle SimDesktop::next_window(WindowHandle w, std::uint32_t cmd) {
    const SimWindow* cur = find(w);
    if (!cur || cmd != kNextWindow) return 0;
    bool seen = false;
    for (const SimWindow& x : windows_) {
        if (seen && x.parent == cur->parent) return x.handle;
        if (x.handle == w) seen = true;
    }
    return 0;
}

std::uint32_t SimDesktop::thread_process_id(WindowHandle w, std::uint32_t* pid) {
    const SimWindow* x = find(w);
    if (pid) *pid = x ? x->pid : 0;
    return x ? x->tid : 0;
}

WindowHandle SimDesktop::find_window(const char* cls, const char* title) {
    for (const SimWindow& w : windows_)
        if (w.parent == 0 && matches(w, cls, title)) return w.handle;
    return 0;
}

WindowHandle SimDesktop::find_window_ex(WindowHandle parent, WindowHandle child_after, const char* cls,
                                        const char* title) {
    const WindowHandle want = (parent == 0 || parent == kDesktop) ? 0 : parent;
    bool started = child_after == 0;
    for (const SimWindow& w : windows_) {
        if (w.parent != want) continue;
        if (!started) {
            started = w.handle == child_after;
            continue;
        }
        if (matches(w, cls, title)) return w.handle;
    }
    return 0;
}

bool SimDesktop::show_window(WindowHandle w, int) { return find(w) != nullptr; }

// A character message types the key; so does the IME key-down the ringing
// programs are sent (its key-up only ends it).
std::intptr_t SimDesktop::send_message(WindowHandle w, std::uint32_t msg, std::uintptr_t wparam, std::intptr_t) {
    if (msg == kMsgChar || msg == kMsgImeKeyDown) {
        char ch = static_cast<char>(wparam & 0xFF);
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
        deliver(ch, w);
    }
    return 0;
}

Result<std::vector<ProcessEntry>> SimDesktop::processes() { return procs_; }

}  // namespace qn::platform::sim
