// Top-level windows, window messages and running processes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/result.h"

namespace qn::platform {

using WindowHandle = std::uintptr_t;

inline constexpr std::uint32_t kMsgSetFocus = 0x0007;
inline constexpr std::uint32_t kMsgGetText = 0x000D;
inline constexpr std::uint32_t kMsgChar = 0x0102;
inline constexpr std::uint32_t kMsgImeKeyDown = 0x0290;
inline constexpr std::uint32_t kMsgImeKeyUp = 0x0291;
inline constexpr std::uint32_t kMsgDoubleClick = 0x0203;
inline constexpr std::uint32_t kNextWindow = 2;
inline constexpr int kRestore = 9;

// How far a desktop lets the program reach other programs.
enum class DesktopReach : std::uint8_t {
    Messages,     // windows, child windows and window messages (Windows, and the simulated desktop)
    TopLevel,     // top-level windows by title and class, the focus read and moved; keys go to
                  // the window with the focus (X11)
    FocusedOnly,  // keys go to the window with the focus, which cannot be read or moved (Wayland)
    NoKeys,       // no keys at all
};

struct DesktopInfo {
    DesktopReach reach = DesktopReach::Messages;
    std::vector<std::string> choice;   // run log: which backend, why, and its set-up
    std::vector<std::string> notices;  // what the ringer must know: screen and run log, once
};

struct ProcessEntry {
    std::uint32_t pid = 0;
    std::string exe;  // executable file name, code page 1252
};

class Windows {
public:
    virtual ~Windows() = default;

    // What this desktop offers; the default is the Windows desktop.
    virtual const DesktopInfo& desktop() const {
        static const DesktopInfo messages;
        return messages;
    }

    virtual WindowHandle foreground() = 0;
    virtual bool set_foreground(WindowHandle w) = 0;
    virtual WindowHandle set_active(WindowHandle w) = 0;

    // Calls visit for each top-level window until it returns false.
    virtual Result<void> enum_windows(const std::function<bool(WindowHandle)>& visit) = 0;
    // Texts are bytes of code page 1252 (the em dash is 0x97), at most
    // max_chars - 1 of them, as GetWindowTextA/GetClassNameA give them.
    virtual std::string window_text(WindowHandle w, int max_chars) = 0;
    virtual std::string class_name(WindowHandle w, int max_chars) = 0;

    virtual WindowHandle desktop_window() = 0;
    virtual WindowHandle top_window(WindowHandle parent) = 0;
    virtual WindowHandle next_window(WindowHandle w, std::uint32_t cmd) = 0;
    // Returns the thread id; the process id goes to *pid.
    virtual std::uint32_t thread_process_id(WindowHandle w, std::uint32_t* pid) = 0;

    // A null pointer stands for a NULL argument; an empty string is "".
    virtual WindowHandle find_window(const char* class_name, const char* title) = 0;
    virtual WindowHandle find_window_ex(WindowHandle parent, WindowHandle child_after,
                                        const char* class_name, const char* title) = 0;
    virtual bool show_window(WindowHandle w, int cmd) = 0;
    virtual std::intptr_t send_message(WindowHandle w, std::uint32_t msg, std::uintptr_t wparam,
                                       std::intptr_t lparam) = 0;

    virtual Result<std::vector<ProcessEntry>> processes() = 0;
};

}  // namespace qn::platform
