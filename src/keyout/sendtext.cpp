#include "keyout/sendtext.h"

namespace qn {

// Make codes of scan code set 1, US layout.
const std::array<std::uint16_t, 10> kDigits = {0x0B, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A};
const std::array<std::uint16_t, 2> kMinusEquals = {0x0C, 0x0D};
const std::array<std::uint16_t, 26> kAlphabet = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23,
                                                0x17, 0x24, 0x25, 0x26, 0x32, 0x31, 0x18, 0x19, 0x10,
                                                0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};

static bool sendable(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || ch == '-' ||
           ch == '=';
}

std::uint16_t virtual_key_code(char ch) {
    if ((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z')) return static_cast<std::uint16_t>(ch);
    if (ch >= 'a' && ch <= 'z') return static_cast<std::uint16_t>(ch - 32);
    if (ch == '-') return 0xBD;  // VK_OEM_MINUS
    if (ch == '=') return 0xBB;  // VK_OEM_PLUS
    return 0;
}

std::uint16_t scan_code(char ch) {
    if (ch >= '0' && ch <= '9') return kDigits[static_cast<std::size_t>(ch - '0')];
    if (ch >= 'A' && ch <= 'Z') return kAlphabet[static_cast<std::size_t>(ch - 'A')];
    if (ch >= 'a' && ch <= 'z') return kAlphabet[static_cast<std::size_t>(ch - 'a')];
    if (ch == '-') return kMinusEquals[0];
    if (ch == '=') return kMinusEquals[1];
    return 0;
}

// On the timing path of every strike: one platform call per character,
// nothing else. The scan code travels with the virtual-key code but the
// platform acts on the virtual key (no scan-code flag), and no Shift is sent.
void KeyTyper::type(std::string_view value) {
    for (char ch : value) {
        if (!sendable(ch)) continue;
        platform::KeyInput rec[2];
        rec[0].vk = virtual_key_code(ch);
        rec[0].scan = scan_code(ch);
        rec[0].flags = 0;
        rec[1] = rec[0];
        rec[1].flags = platform::kKeyUp;
        auto r = keyboard_.send_input(rec, 2);
        // A refused key (another desktop, a window of higher integrity, or
        // an OS without key synthesis) is told once in the run log; the
        // focus checks of key dispatch are what catch a lost target.
        if ((!r.ok() || r.value() < 2) && !failure_reported_) {
            failure_reported_ = true;
            if (r.ok())
                report_.key_refused({false, {}, static_cast<std::int32_t>(r.value()), 2});
            else
                report_.key_refused({true, r.error(), 0, 2});
        }
    }
}

}  // namespace qn
