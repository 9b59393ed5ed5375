// The target program's window: found by its title before ringing (the
// window the focus is checked against), and found again for each key by
// the target's driver (its process, its window and the child that takes
// the keys).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/settings.h"
#include "core/delivery_records.h"
#include "core/dialog.h"
#include "config/current_target.h"
#include "platform/platform.h"

namespace qn {

enum class Browser;

inline constexpr int kMaxProcesses = 100;

class TargetWindow {
public:
    TargetWindow(platform::Windows& windows, Dialog& dialog, DeliveryReport& report, const Settings& settings,
                 const CurrentTarget& target)
        : windows_(windows), dialog_(dialog), report_(report), settings_(settings), target_(target) {}

    // ---- before ringing: the window whose title matches the target entry's
    // window name ("*" joins two parts). link_in_use: the keys ring a tower,
    // no window is sought. 'P' when the ringer asks for another target.
    char seek(bool link_in_use);
    // One window of the search: false (the search stops) when it matches.
    bool match(platform::WindowHandle wnd);
    void set_search_text(std::string text) { search_text_ = std::move(text); }
    bool found() const { return found_; }

    // The window the focus belongs to, and the title last read.
    platform::WindowHandle handle() const { return handle_; }
    void set_handle(platform::WindowHandle w) { handle_ = w; }
    const std::string& title() const { return title_; }
    void set_title(std::string title) { title_ = std::move(title); }

    // ---- for each key: the processes of the target's program, and the
    // window its driver found.
    std::int32_t find_processes(const std::string& exe);
    void check_single_process();
    bool find_by_title(const std::string& title_part, const std::string& window_class,
                       platform::WindowHandle& found);
    platform::WindowHandle key_window() const { return key_window_; }
    void set_key_window(platform::WindowHandle w) { key_window_ = w; }
    // The class names an Abel driver found its frames under.
    void set_frame_classes(std::string child, std::string grandchild) {
        child_class_ = std::move(child);
        grandchild_class_ = std::move(grandchild);
    }
    const std::string& child_class() const { return child_class_; }
    const std::string& grandchild_class() const { return grandchild_class_; }

    // What the drivers use.
    platform::Windows& windows() { return windows_; }
    DeliveryReport& report() { return report_; }
    Browser browser() const;
    // A step of the search, told when the monitor output is on.
    void trace(const std::string& line);
    void pause_ms(std::int32_t ms) { dialog_.pause_ms(ms); }

private:
    void finish_search(platform::WindowHandle wnd);

    platform::Windows& windows_;
    Dialog& dialog_;
    DeliveryReport& report_;
    const Settings& settings_;
    const CurrentTarget& target_;

    std::string search_text_;
    bool found_ = false;
    std::string found_title_;  // the title of the window the search found
    std::string title_;
    platform::WindowHandle handle_ = 0;
    std::vector<platform::ProcessEntry> processes_;
    std::string child_class_, grandchild_class_;
    platform::WindowHandle key_window_ = 0;
};

}  // namespace qn
