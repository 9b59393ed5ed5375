// A virtual keyboard through /dev/uinput, for Wayland, where no client may
// send keys to another. The device types key positions and the user's
// keyboard layout makes characters of them, so the position of each
// character comes from a layout named in a setting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/keyboard.h"
#include "platform/result.h"

namespace qn::platform::posix {

struct KeyPosition {
    std::uint16_t code = 0;  // KEY_ code (evdev); 0: the layout lacks the character
    bool shift = false;
};

class KeyLayout {
public:
    // "us", "gb", "de", "fr", "es", "it", "dvorak"; nullopt for others.
    static std::optional<KeyLayout> named(const std::string& name);
    static std::string names();  // the list above, for messages
    const std::string& name() const { return name_; }
    KeyPosition position(char ch) const;

private:
    std::string name_;
    const char* rows_[8] = {};  // four rows plain, then the same four with Shift
};

// Makes a keyboard device on path (the ioctls of uinput) and returns its
// descriptor; the device lives until the descriptor is closed.
Result<int> create_uinput_device(const std::string& path);

// Writes the events of each key to fd: a key press or release and its
// report, with Shift around a character that needs it.
class UinputKeyboard : public Keyboard {
public:
    // Takes fd over. Keys wait until ready_at_ns (CLOCK_MONOTONIC): a new
    // device is ignored by the compositor for about a second.
    UinputKeyboard(int fd, KeyLayout layout, std::int64_t ready_at_ns);
    ~UinputKeyboard() override;
    Result<std::uint32_t> send_input(const KeyInput* records, std::uint32_t count) override;
    void close();

private:
    int fd_;
    KeyLayout layout_;
    std::int64_t ready_at_ns_;
};

}  // namespace qn::platform::posix
