#include "platform/posix/desktop/uinput.h"

#include <fcntl.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/desktop/keychars.h"
#include "platform/posix/posix_services.h"

namespace qn::platform::posix {

namespace {

// The four rows of a keyboard's main block, as KEY_ codes from their first key.
constexpr std::uint16_t kRowStart[4] = {KEY_1, KEY_Q, KEY_A, KEY_Z};

struct LayoutRows {
    const char* name;
    const char* rows[8];  // characters on each key, left to right; ' ' for those not sent
};

// Only the characters the program sends matter (letters, digits, '-', '=').
constexpr LayoutRows kLayouts[] = {
    {"us",
     {"1234567890-=", "qwertyuiop[]", "asdfghjkl;'", "zxcvbnm,./",  //
      "!@#$%^&*()_+", "QWERTYUIOP{}", "ASDFGHJKL:\"", "ZXCVBNM<>?"}},
    {"gb",
     {"1234567890-=", "qwertyuiop[]", "asdfghjkl;'", "zxcvbnm,./",  //
      "!\" $%^&*()_+", "QWERTYUIOP{}", "ASDFGHJKL:@", "ZXCVBNM<>?"}},
    {"de",
     {"1234567890  ", "qwertzuiop +", "asdfghjkl  ", "yxcvbnm,.-",  //
      "!\" $%&/()=?`", "QWERTZUIOP *", "ASDFGHJKL  ", "YXCVBNM;:_"}},
    {"fr",
     {"& \"'(- _  )=", "azertyuiop $", "qsdfghjklm ", "wxcvbn,;:!",  //
      "1234567890 +", "AZERTYUIOP  ", "QSDFGHJKLM%", "WXCVBN?./ "}},
    {"es",
     {"1234567890' ", "qwertyuiop`+", "asdfghjkl  ", "zxcvbnm,.-",  //
      "!\" $%&/()=? ", "QWERTYUIOP^*", "ASDFGHJKL  ", "ZXCVBNM;:_"}},
    {"it",
     {"1234567890' ", "qwertyuiop +", "asdfghjkl  ", "zxcvbnm,.-",  //
      "!\" $%&/()=?^", "QWERTYUIOP *", "ASDFGHJKL  ", "ZXCVBNM;:_"}},
    {"dvorak",
     {"1234567890[]", "',.pyfgcrl/=", "aoeuidhtns-", ";qjkxbmwvz",  //
      "!@#$%^&*(){}", "\"<>PYFGCRL?+", "AOEUIDHTNS_", ":QJKXBMWVZ"}},
};

std::int64_t monotonic_ns() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

input_event event(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    input_event e{};
    e.type = type;
    e.code = code;
    e.value = value;
    return e;
}

}  // namespace

std::optional<KeyLayout> KeyLayout::named(const std::string& name) {
    const std::string key = name == "uk" ? "gb" : name;
    for (const LayoutRows& l : kLayouts) {
        if (key != l.name) continue;
        KeyLayout out;
        out.name_ = l.name;
        for (int i = 0; i < 8; ++i) out.rows_[i] = l.rows[i];
        return out;
    }
    return std::nullopt;
}

std::string KeyLayout::names() {
    std::string out;
    for (const LayoutRows& l : kLayouts) out += (out.empty() ? "" : ", ") + std::string(l.name);
    return out;
}

KeyPosition KeyLayout::position(char ch) const {
    if (ch == ' ') return {};
    for (int i = 0; i < 8; ++i) {
        const char* p = std::strchr(rows_[i], ch);
        if (p == nullptr) continue;
        return {static_cast<std::uint16_t>(kRowStart[i % 4] + (p - rows_[i])), i >= 4};
    }
    return {};
}

Result<int> create_uinput_device(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(errno_text("open(" + path + ")", errno));
    auto bad = [fd](const char* call) {
        const int err = errno;
        ::close(fd);
        return fail(errno_text(call, err));
    };
    if (::ioctl(fd, UI_SET_EVBIT, EV_KEY) != 0) return bad("ioctl(UI_SET_EVBIT)");
    if (::ioctl(fd, UI_SET_EVBIT, EV_SYN) != 0) return bad("ioctl(UI_SET_EVBIT)");
    // The keys of a whole main block, Escape to kF12: what the desktop's
    // input stack looks for before it takes a device for a keyboard.
    for (int key = KEY_ESC; key <= KEY_F12; ++key)
        if (::ioctl(fd, UI_SET_KEYBIT, key) != 0) return bad("ioctl(UI_SET_KEYBIT)");
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x1209;  // the open-source vendor id
    setup.id.product = 0x5155;
    setup.id.version = 1;
    std::strncpy(setup.name, "Quennick virtual keyboard", UINPUT_MAX_NAME_SIZE - 1);
    if (::ioctl(fd, UI_DEV_SETUP, &setup) != 0) return bad("ioctl(UI_DEV_SETUP)");
    if (::ioctl(fd, UI_DEV_CREATE) != 0) return bad("ioctl(UI_DEV_CREATE)");
    return fd;
}

UinputKeyboard::UinputKeyboard(int fd, KeyLayout layout, std::int64_t ready_at_ns)
    : fd_(fd), layout_(std::move(layout)), ready_at_ns_(ready_at_ns) {}

UinputKeyboard::~UinputKeyboard() {
    close();
}

void UinputKeyboard::close() {
    if (fd_ < 0) return;
    (void)::ioctl(fd_, UI_DEV_DESTROY);  // a pipe in the tests says ENOTTY: nothing to undo
    ::close(fd_);
    fd_ = -1;
}

Result<std::uint32_t> UinputKeyboard::send_input(const KeyInput* records, std::uint32_t count) {
    if (fd_ < 0) return fail("write(/dev/uinput): the virtual keyboard is closed");
    const std::int64_t wait = ready_at_ns_ - monotonic_ns();
    if (wait > 0) {
        timespec t{static_cast<time_t>(wait / 1000000000), static_cast<long>(wait % 1000000000)};
        nanosleep(&t, nullptr);
    }
    std::uint32_t sent = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const char ch = key_char(records[i].vk);
        const KeyPosition pos = ch != 0 ? layout_.position(ch) : KeyPosition{};
        if (pos.code == 0) {
            if (sent > 0) return sent;
            return fail("write(/dev/uinput): the " + layout_.name() + " layout has no key for virtual key " +
                        std::to_string(records[i].vk));
        }
        const bool down = (records[i].flags & kKeyUp) == 0;
        input_event ev[4];
        int n = 0;
        if (pos.shift && down) {
            ev[n++] = event(EV_KEY, KEY_LEFTSHIFT, 1);
            ev[n++] = event(EV_SYN, SYN_REPORT, 0);
        }
        ev[n++] = event(EV_KEY, pos.code, down ? 1 : 0);
        ev[n++] = event(EV_SYN, SYN_REPORT, 0);
        if (pos.shift && !down) {
            ev[n++] = event(EV_KEY, KEY_LEFTSHIFT, 0);
            ev[n++] = event(EV_SYN, SYN_REPORT, 0);
        }
        const auto size = static_cast<std::size_t>(n) * sizeof(input_event);
        const ssize_t w = ::write(fd_, ev, size);
        if (w != static_cast<ssize_t>(size)) {
            if (sent > 0) return sent;
            return fail(errno_text("write(/dev/uinput)", w < 0 ? errno : EIO));
        }
        ++sent;
    }
    return sent;
}

}  // namespace qn::platform::posix
