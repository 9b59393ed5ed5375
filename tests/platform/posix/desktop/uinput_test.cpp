// The Wayland keyboard: the events it writes for each key, for the layouts
// it knows, judged on a pipe; the live device only where /dev/uinput can be
// opened. And the titles of X11 windows in code page 1252.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/desktop/text1252.h"
#include "platform/posix/desktop/uinput.h"

namespace qn {
namespace {

using platform::KeyInput;
using platform::posix::KeyLayout;
using platform::posix::UinputKeyboard;

std::int64_t now_ns() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

std::vector<KeyInput> keys(const std::string& chars) {
    std::vector<KeyInput> out;
    for (char ch : chars) {
        KeyInput k;
        k.vk = ch == '-' ? 0xBD : ch == '=' ? 0xBB : static_cast<std::uint16_t>(std::toupper(ch));
        out.push_back(k);
        k.flags = platform::kKeyUp;
        out.push_back(k);
    }
    return out;
}

// "S+ 36+ 36- S-" for Shift down, KEY_J down, KEY_J up, Shift up; each
// change must be followed by its report.
std::string written(int fd) {
    std::string out;
    input_event e{};
    bool reported = true;
    while (::read(fd, &e, sizeof e) == static_cast<ssize_t>(sizeof e)) {
        if (e.type == EV_SYN) {
            EXPECT_EQ(e.code, SYN_REPORT);
            reported = true;
            continue;
        }
        EXPECT_TRUE(reported) << "two key changes in one report";
        reported = false;
        EXPECT_EQ(e.type, EV_KEY);
        if (!out.empty()) out += ' ';
        out += (e.code == KEY_LEFTSHIFT ? std::string("S") : std::to_string(e.code)) + (e.value ? "+" : "-");
    }
    EXPECT_TRUE(reported) << "the last change had no report";
    return out;
}

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe2(fds, O_NONBLOCK), 0); }
    ~Pipe() {
        if (fds[0] >= 0) ::close(fds[0]);
    }
};

std::string typed(const std::string& layout, const std::string& chars) {
    Pipe p;
    {
        UinputKeyboard kb(p.fds[1], *KeyLayout::named(layout), 0);
        auto recs = keys(chars);
        auto r = kb.send_input(recs.data(), static_cast<std::uint32_t>(recs.size()));
        EXPECT_TRUE(r.ok()) << r.error();
        if (r.ok()) {
            EXPECT_EQ(r.value(), recs.size());
        }
    }  // closes its end
    return written(p.fds[0]);
}

TEST(UinputKeys, EachKeyIsAPressAndAReleaseWithTheirReports) {
    EXPECT_EQ(typed("us", "j"), "36+ 36-");
    EXPECT_EQ(typed("us", "h1-="), "35+ 35- 2+ 2- 12+ 12- 13+ 13-");
}

TEST(UinputKeys, TheLayoutMovesKeysAndAddsShiftWhereTheCharacterNeedsIt) {
    EXPECT_EQ(typed("de", "zy-="), "21+ 21- 44+ 44- 53+ 53- S+ 11+ 11- S-");       // QWERTZ; '=' is Shift+0
    EXPECT_EQ(typed("fr", "aqm1-"), "16+ 16- 30+ 30- 39+ 39- S+ 2+ 2- S- 7+ 7-");  // AZERTY: digits shifted
    EXPECT_EQ(typed("dvorak", "jh"), "46+ 46- 36+ 36-");
    EXPECT_EQ(typed("uk", "j"), "36+ 36-");
    EXPECT_FALSE(KeyLayout::named("klingon").has_value());
    EXPECT_NE(KeyLayout::names().find("dvorak"), std::string::npos);
    // Every layout has every character the program sends.
    for (const char* name : {"us", "gb", "de", "fr", "es", "it", "dvorak"}) {
        for (char ch : std::string("abcdefghijklmnopqrstuvwxyz0123456789-="))
            EXPECT_NE(KeyLayout::named(name)->position(ch).code, 0) << name << " " << ch;
    }
}

TEST(UinputKeys, KeysWaitUntilANewDeviceIsTakenAndFailuresAreNamed) {
    Pipe p;
    UinputKeyboard kb(p.fds[1], *KeyLayout::named("us"), now_ns() + 300000000);
    auto recs = keys("j");
    const std::int64_t start = now_ns();
    ASSERT_TRUE(kb.send_input(recs.data(), 2).ok());
    EXPECT_GE(now_ns() - start, 250000000);  // the compositor would have dropped it

    KeyInput odd;
    odd.vk = 0x70;  // F1: not a key the program sends
    auto r = kb.send_input(&odd, 1);
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().find("the us layout has no key for virtual key 112"), std::string::npos) << r.error();

    kb.close();
    EXPECT_FALSE(kb.send_input(recs.data(), 2).ok());

    // A device that takes no writes: the call that failed is named.
    UinputKeyboard refused(::open("/dev/null", O_RDONLY), *KeyLayout::named("us"), 0);
    r = refused.send_input(recs.data(), 2);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), "write(/dev/uinput): Bad file descriptor");
}

// Only where this machine lets us make a device (not on CI): it must show
// up as a keyboard and type what we send.
TEST(UinputKeys, LiveDeviceTypesTheKeys) {
    if (::access("/dev/uinput", W_OK) != 0) GTEST_SKIP() << "/dev/uinput is not writable here";
    auto fd = platform::posix::create_uinput_device("/dev/uinput");
    ASSERT_TRUE(fd.ok()) << fd.error();
    UinputKeyboard kb(fd.value(), *KeyLayout::named("us"), 0);
    std::ifstream devices("/proc/bus/input/devices");
    std::stringstream all;
    all << devices.rdbuf();
    const std::string text = all.str();
    const auto at = text.find("Quennick virtual keyboard");
    ASSERT_NE(at, std::string::npos);
    const auto handlers = text.find("Handlers=", at);
    const auto event = text.find("event", handlers);
    ASSERT_NE(event, std::string::npos);
    std::string node = "/dev/input/" + text.substr(event, text.find_first_of(" \n", event) - event);
    const int in = ::open(node.c_str(), O_RDONLY | O_NONBLOCK);
    if (in < 0) GTEST_SKIP() << node << " is not readable here";
    auto recs = keys("j");
    ASSERT_TRUE(kb.send_input(recs.data(), 2).ok());
    usleep(50000);
    std::string got;
    input_event e{};
    while (::read(in, &e, sizeof e) == static_cast<ssize_t>(sizeof e))
        if (e.type == EV_KEY) got += std::to_string(e.code) + (e.value ? "+" : "-") + " ";
    ::close(in);
    EXPECT_EQ(got, "36+ 36- ");
}

// ---- titles ------------------------------------------------------------------

TEST(Cp1252Titles, Utf8TitlesBecomeCodePage1252) {
    using platform::posix::latin1_to_cp1252;
    using platform::posix::utf8_to_cp1252;
    EXPECT_EQ(utf8_to_cp1252("Tower \xE2\x80\x94 Ringing Room"), "Tower \x97 Ringing Room");
    EXPECT_EQ(utf8_to_cp1252("Caf\xC3\xA9 \xE2\x82\xAC"
                             "5 \xE2\x80\x9Cx\xE2\x80\x9D"),
              "Caf\xE9 \x80"
              "5 \x93x\x94");
    EXPECT_EQ(utf8_to_cp1252("\xE6\x97\xA5 \xF0\x9F\x94\x94"), "? ?");  // not in 1252: one '?' each
    EXPECT_EQ(utf8_to_cp1252("a\xFF"
                             "b\xC3"),
              "a?b?");                                           // not UTF-8 at all
    EXPECT_EQ(utf8_to_cp1252("\xC0\xAF\xED\xA0\x80"), "?????");  // overlong, surrogate
    EXPECT_EQ(latin1_to_cp1252("Caf\xE9 \x85"), "Caf\xE9 ?");
}

}  // namespace
}  // namespace qn
