// Typing characters into the window that has the keyboard focus.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "core/delivery_records.h"
#include "platform/keyboard.h"

namespace qn {

extern const std::array<std::uint16_t, 10> kDigits;
extern const std::array<std::uint16_t, 2> kMinusEquals;
extern const std::array<std::uint16_t, 26> kAlphabet;  // A..Z

// Types into the window that has the focus; a key the OS refuses is
// reported once a run.
class KeyTyper {
public:
    KeyTyper(platform::Keyboard& keyboard, DeliveryReport& report) : keyboard_(keyboard), report_(report) {}
    void type(std::string_view value);

private:
    platform::Keyboard& keyboard_;
    DeliveryReport& report_;
    bool failure_reported_ = false;
};

std::uint16_t virtual_key_code(char ch);
std::uint16_t scan_code(char ch);

}  // namespace qn
