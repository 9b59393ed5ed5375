// The keys' state: the current target's sensing points and delays, its
// window, and the focus.
#pragma once

#include <cstdint>
#include <string>

#include "config/settings.h"
#include "core/arr.h"
#include "platform/platform.h"

namespace qn {

inline constexpr int kMaxProcesses = 100;

struct KeyoutState {
    TargetTable targets;
    std::int32_t target_index = 0;
    std::int32_t sensors_active = 0;
    bool restricted = false;
    bool find_window = false;
    bool use_doubled_send = false;
    std::int32_t double_strike_delay_ms = 0;
    Arr<SensingPoint, 1, kMaxSensors> points;

    // Window discovery.
    std::string search_text;
    bool window_found = false;
    std::string window_title;
    std::string title;
    platform::WindowHandle target_window = 0;
    Arr<platform::ProcessEntry, 1, kMaxProcesses> processes;
    std::int32_t process_count = 0;
    std::string child_window, grandchild_window;
    platform::WindowHandle found_window = 0;

    // Key dispatch.
    bool window_focus = true;
    std::string focus_title;
    std::int64_t last_key_us = 0;
    bool send_input_failure_logged = false;

    // Configuration menus.
    bool diagnostics = false;
};

}  // namespace qn
