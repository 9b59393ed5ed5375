// Keyboard input synthesis (SendInput).
#pragma once

#include <cstdint>

#include "platform/result.h"

namespace qn::platform {

inline constexpr std::uint32_t kInputKeyboard = 1;
inline constexpr std::uint32_t kKeyUp = 2;

struct KeyInput {  // the KEYBDINPUT part of an INPUT record
    std::uint16_t vk = 0;
    std::uint16_t scan = 0;
    std::uint32_t flags = 0;
    std::uint32_t time = 0;
    std::uintptr_t extra = 0;
};

class Keyboard {
public:
    virtual ~Keyboard() = default;
    // One platform call for all records; returns the number of events inserted.
    virtual Result<std::uint32_t> send_input(const KeyInput* records, std::uint32_t count) = 0;
};

}  // namespace qn::platform
