#include "platform/posix/desktop/x11_desktop.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <string>

namespace qn::platform::posix {

namespace {

// The characters the program sends; their keysyms are their ASCII codes.
// The targets' own keys come first: spare keycodes may not go round (a
// layout without Latin letters lacks 26 of them; Xvfb has 19 spare).
constexpr const char kSendable[] = "jhabcdefgiklmnopqrstuvwxyz0123456789-=";

}  // namespace

char key_char(std::uint16_t vk) {
    if (vk >= 'A' && vk <= 'Z') return static_cast<char>(vk - 'A' + 'a');
    if (vk >= '0' && vk <= '9') return static_cast<char>(vk);
    if (vk == 0xBD) return '-';  // VK_OEM_MINUS
    if (vk == 0xBB) return '=';  // VK_OEM_PLUS, the key of '='
    return 0;
}

X11Keyboard::X11Keyboard(X11Connection& x) : x_(x) {
    read_map();
    map_spare_keycodes();
}

X11Keyboard::~X11Keyboard() {
    restore();
}

// A character is typed by the keycode whose first keysym it is: that one
// needs no Shift and no other group. Anything else counts as not on the map.
void X11Keyboard::read_map() {
    codes_.fill(0);
    Display* d = x_.display();
    int min = 0, max = 0, per = 0;
    XDisplayKeycodes(d, &min, &max);
    KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(min), max - min + 1, &per);
    if (syms == nullptr) return;
    for (const char* p = kSendable; *p != '\0'; ++p) {
        const auto sym = static_cast<KeySym>(static_cast<unsigned char>(*p));
        for (int kc = min; kc <= max; ++kc) {
            if (syms[(kc - min) * per] != sym) continue;
            codes_[static_cast<unsigned char>(*p)] = static_cast<KeyCode>(kc);
            break;
        }
    }
    XFree(syms);
}

void X11Keyboard::map_spare_keycodes() {
    std::string missing;
    for (const char* p = kSendable; *p != '\0'; ++p)
        if (keycode_of(*p) == 0) missing += *p;
    if (missing.empty()) return;

    Display* d = x_.display();
    int min = 0, max = 0, per = 0;
    XDisplayKeycodes(d, &min, &max);
    KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(min), max - min + 1, &per);
    if (syms == nullptr) return;
    std::vector<KeyCode> spare;
    // From the top down: the low keycodes are the ones keyboards have.
    for (int kc = max; kc >= min && spare.size() < missing.size(); --kc) {
        bool empty = true;
        for (int i = 0; i < per; ++i) empty = empty && syms[(kc - min) * per + i] == NoSymbol;
        if (empty) spare.push_back(static_cast<KeyCode>(kc));
    }
    XFree(syms);

    x_.begin_trap();
    std::string mapped, unmapped;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i >= spare.size()) {
            unmapped += missing[i];
            continue;
        }
        KeySym sym = static_cast<unsigned char>(missing[i]);
        XChangeKeyboardMapping(d, spare[i], 1, &sym, 1);
        spare_.emplace_back(spare[i], sym);
        mapped += " " + std::to_string(spare[i]) + "=" + missing[i];
    }
    const int err = x_.end_trap();
    if (err != 0) {
        setup_.push_back("XChangeKeyboardMapping failed (X error " + std::to_string(err) +
                         "): keys not on the keyboard map cannot be typed: " + missing);
        restore();
        read_map();
        return;
    }
    read_map();
    setup_.push_back("Keys not on the keyboard map got spare keycodes until exit:" + mapped);
    if (!unmapped.empty()) setup_.push_back("No spare keycode left for: " + unmapped);
}

void X11Keyboard::restore() {
    if (spare_.empty() || x_.lost()) return;
    x_.begin_trap();
    for (const auto& [kc, sym] : spare_) {
        // Only what is still ours: another program may have taken the keycode since.
        int per = 0;
        KeySym* now = XGetKeyboardMapping(x_.display(), kc, 1, &per);
        const bool ours = now != nullptr && per > 0 && now[0] == sym;
        if (now != nullptr) XFree(now);
        if (!ours) continue;
        KeySym none = NoSymbol;
        XChangeKeyboardMapping(x_.display(), kc, 1, &none, 1);
    }
    (void)x_.end_trap();
    spare_.clear();
}

// The map may change while the program runs (another layout chosen): the
// server says so with MappingNotify, which every client gets.
void X11Keyboard::take_events() {
    Display* d = x_.display();
    bool remap = false;
    while (XPending(d) > 0) {
        XEvent e;
        XNextEvent(d, &e);
        if (e.type != MappingNotify) continue;
        XRefreshKeyboardMapping(&e.xmapping);
        remap = remap || e.xmapping.request == MappingKeyboard;
    }
    if (remap) read_map();
}

Result<std::uint32_t> X11Keyboard::send_input(const KeyInput* records, std::uint32_t count) {
    if (x_.lost()) return fail("XTestFakeKeyEvent: the connection to X server " + x_.name() + " was lost");
    take_events();
    Display* d = x_.display();
    std::uint32_t sent = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const char ch = key_char(records[i].vk);
        const KeyCode kc = ch != 0 ? keycode_of(ch) : 0;
        if (kc == 0) {
            XFlush(d);
            if (sent > 0) return sent;
            return fail("XTestFakeKeyEvent: no keycode for virtual key " + std::to_string(records[i].vk) +
                        (ch != 0 ? std::string(" ('") + ch + "')" : std::string()) + " on this keyboard map");
        }
        const bool down = (records[i].flags & kKeyUp) == 0;
        if (!XTestFakeKeyEvent(d, kc, down ? True : False, CurrentTime)) break;
        ++sent;
    }
    XFlush(d);
    if (x_.lost()) return fail("XTestFakeKeyEvent: the connection to X server " + x_.name() + " was lost");
    return sent;
}

}  // namespace qn::platform::posix
