// The simulated desktop: the windows of the ringing programs the program
// can send keys to, with the titles, classes, child windows and processes
// its window discovery looks for, and the keys that reach them, whether
// typed into the foreground window or posted as window messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/keyboard.h"
#include "platform/sim/sim_time.h"
#include "platform/windows.h"

namespace qn::platform::sim {

// Where the keys go. Called on the thread that sends them, lock not held.
class KeySink {
public:
    virtual ~KeySink() = default;
    virtual void key(std::int64_t time_us, char ch, std::string_view window) = 0;
};

struct SimWindow {
    WindowHandle handle = 0;
    WindowHandle parent = 0;  // 0: top level
    std::string title;        // code page 1252 (the em dash is 0x97)
    std::string cls;
    std::uint32_t pid = 0;
    std::uint32_t tid = 0;
};

class SimDesktop : public Windows, public Keyboard {
public:
    SimDesktop(SimTime& time, KeySink* sink);

    // ---- Keyboard ----
    Result<std::uint32_t> send_input(const KeyInput* records, std::uint32_t count) override;

    // ---- Windows ----
    WindowHandle foreground() override;
    bool set_foreground(WindowHandle w) override;
    WindowHandle set_active(WindowHandle w) override;
    Result<void> enum_windows(const std::function<bool(WindowHandle)>& visit) override;
    std::string window_text(WindowHandle w, int max_chars) override;
    std::string class_name(WindowHandle w, int max_chars) override;
    WindowHandle desktop_window() override { return kDesktop; }
    WindowHandle top_window(WindowHandle parent) override;
    WindowHandle next_window(WindowHandle w, std::uint32_t cmd) override;
    std::uint32_t thread_process_id(WindowHandle w, std::uint32_t* pid) override;
    WindowHandle find_window(const char* cls, const char* title) override;
    WindowHandle find_window_ex(WindowHandle parent, WindowHandle child_after, const char* cls,
                                const char* title) override;
    bool show_window(WindowHandle w, int cmd) override;
    std::intptr_t send_message(WindowHandle w, std::uint32_t msg, std::uintptr_t wparam,
                               std::intptr_t lparam) override;
    Result<std::vector<ProcessEntry>> processes() override;

    static constexpr WindowHandle kDesktop = 1;
    const std::vector<SimWindow>& windows() const { return windows_; }
    // The top-level window of the ringing simulator in a browser, the
    // foreground at the start.
    WindowHandle browser() const { return browser_; }

private:
    const SimWindow* find(WindowHandle w) const;
    WindowHandle top_level_of(WindowHandle w) const;
    WindowHandle add(WindowHandle parent, const std::string& title, const std::string& cls, std::uint32_t pid);
    void deliver(char ch, WindowHandle w);

    SimTime& time_;
    KeySink* sink_;
    std::vector<SimWindow> windows_;  // Z order within each parent: first = top
    std::vector<ProcessEntry> procs_;
    WindowHandle foreground_ = 0;
    WindowHandle active_ = 0;
    WindowHandle browser_ = 0;
    WindowHandle next_ = 0x1000;
};

}  // namespace qn::platform::sim
