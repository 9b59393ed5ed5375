// The console against the real Win32 calls. It needs a console window of
// its own, so scripts/wine-tests runs this suite in wineconsole (with
// QN_TEST_CONSOLE=1) and the rest under plain wine.
#include "wine_support.h"

#include <thread>
#include <vector>

namespace qn::wine_test {
namespace {

using platform::ConsoleCell;

INPUT_RECORD key(bool down, WORD vk, WORD scan, wchar_t ch, WORD repeat = 1) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = down;
    r.Event.KeyEvent.wRepeatCount = repeat;
    r.Event.KeyEvent.wVirtualKeyCode = vk;
    r.Event.KeyEvent.wVirtualScanCode = scan;
    r.Event.KeyEvent.uChar.UnicodeChar = ch;
    return r;
}

class Win32Console : public ::testing::Test {
protected:
    void SetUp() override {
        if (env("QN_TEST_CONSOLE").empty())
            GTEST_SKIP() << "needs a console window: scripts/wine-tests runs it in wineconsole";
        in_ = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr);
        out_ = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(in_, INVALID_HANDLE_VALUE);
        ASSERT_NE(out_, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(GetConsoleMode(in_, &mode_before_));
        ASSERT_TRUE(GetConsoleCursorInfo(out_, &cursor_before_));
        FlushConsoleInputBuffer(in_);
        auto r = console().open(25, 80);
        ASSERT_TRUE(r.ok()) << r.error();
    }
    void TearDown() override {
        console().close();
        if (in_ != INVALID_HANDLE_VALUE) CloseHandle(in_);
        if (out_ != INVALID_HANDLE_VALUE) CloseHandle(out_);
    }

    static platform::Console& console() { return *plat().console; }

    std::vector<CHAR_INFO> read_back(int row, int col, int count) {
        std::vector<CHAR_INFO> cells(static_cast<std::size_t>(count));
        SMALL_RECT area{static_cast<SHORT>(col), static_cast<SHORT>(row), static_cast<SHORT>(col + count - 1),
                        static_cast<SHORT>(row)};
        EXPECT_TRUE(ReadConsoleOutputW(out_, cells.data(), COORD{static_cast<SHORT>(count), 1}, COORD{0, 0},
                                       &area));
        return cells;
    }

    void inject(const std::vector<INPUT_RECORD>& recs) {
        DWORD n = 0;
        ASSERT_TRUE(WriteConsoleInputW(in_, recs.data(), static_cast<DWORD>(recs.size()), &n));
        ASSERT_EQ(n, recs.size());
    }

    // Every key waiting now, as read_key gives them.
    std::vector<int> drain() {
        std::vector<int> keys;
        while (console().key_waiting()) keys.push_back(console().read_key());
        return keys;
    }

    HANDLE in_ = INVALID_HANDLE_VALUE;
    HANDLE out_ = INVALID_HANDLE_VALUE;
    DWORD mode_before_ = 0;
    CONSOLE_CURSOR_INFO cursor_before_{};
};

TEST_F(Win32Console, OpenTakesTheKeyboardRawAndCloseGivesItBack) {
    DWORD mode = 0;
    ASSERT_TRUE(GetConsoleMode(in_, &mode));
    EXPECT_EQ(mode & (ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT), 0u);
    CONSOLE_CURSOR_INFO cur{};
    ASSERT_TRUE(GetConsoleCursorInfo(out_, &cur));
    EXPECT_FALSE(cur.bVisible);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(out_, &info));
    EXPECT_EQ(info.dwSize.X, 80);
    EXPECT_EQ(info.dwSize.Y, 25);
    EXPECT_EQ(info.srWindow.Right - info.srWindow.Left + 1, 80);
    EXPECT_EQ(info.srWindow.Bottom - info.srWindow.Top + 1, 25);

    console().close();
    console().close();  // a second close (a fatal path after a normal one) is harmless
    ASSERT_TRUE(GetConsoleMode(in_, &mode));
    EXPECT_EQ(mode, mode_before_);
    ASSERT_TRUE(GetConsoleCursorInfo(out_, &cur));
    EXPECT_EQ(cur.bVisible, cursor_before_.bVisible);
}

TEST_F(Win32Console, CellsShowWithTheirColours) {
    const ConsoleCell cells[] = {{'H', 0x1F}, {'i', 0x1E}, {0x97, 0x4F}, {0x80, 0x12}, {0x07, 0x1F}};
    console().write_cells(3, 10, cells, 5);
    console().present();
    auto got = read_back(3, 10, 5);
    const wchar_t want_ch[] = {L'H', L'i', 0x2014, 0x20AC, L' '};  // em dash, euro; a bell shows blank
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(got[i].Char.UnicodeChar, want_ch[i]) << "cell " << i;
        EXPECT_EQ(got[i].Attributes, cells[i].attr) << "cell " << i;
    }
}

TEST_F(Win32Console, ARunPastTheRightEdgeGoesOnAtTheNextLine) {
    std::vector<ConsoleCell> cells;
    for (char c : std::string("abcde")) cells.push_back({static_cast<std::uint8_t>(c), 0x1E});
    console().write_cells(2, 78, cells.data(), 5);
    auto end_of_row = read_back(2, 78, 2);
    auto next_row = read_back(3, 0, 3);
    EXPECT_EQ(end_of_row[0].Char.UnicodeChar, L'a');
    EXPECT_EQ(end_of_row[1].Char.UnicodeChar, L'b');
    EXPECT_EQ(next_row[0].Char.UnicodeChar, L'c');
    EXPECT_EQ(next_row[2].Char.UnicodeChar, L'e');
    // Past the last line nothing is written (and nothing breaks).
    console().write_cells(24, 79, cells.data(), 5);
    EXPECT_EQ(read_back(24, 79, 1)[0].Char.UnicodeChar, L'a');
}

TEST_F(Win32Console, CursorMovesAndHides) {
    console().set_cursor(5, 7, true);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(out_, &info));
    EXPECT_EQ(info.dwCursorPosition.X, 7);
    EXPECT_EQ(info.dwCursorPosition.Y, 5);
    CONSOLE_CURSOR_INFO cur{};
    ASSERT_TRUE(GetConsoleCursorInfo(out_, &cur));
    EXPECT_TRUE(cur.bVisible);
    console().set_cursor(0, 0, false);
    ASSERT_TRUE(GetConsoleCursorInfo(out_, &cur));
    EXPECT_FALSE(cur.bVisible);
}

TEST_F(Win32Console, KeysArriveOneAtATimeAndExtendedKeysAsTwoCodes) {
    inject({
        key(false, 'X', 0x2D, L'x'),              // a release alone is no key
        key(true, VK_SHIFT, 0x2A, 0),             // nor is a modifier
        key(true, 'A', 0x1E, L'a'),
        key(false, 'A', 0x1E, L'a'),
        key(true, VK_UP, 0x48, 0),                // cursor key: 0, then its code
        key(true, VK_F1, 0x3B, 0),
        key(true, 'C', 0x2E, 3),                  // Ctrl-C is just the key 3
        key(true, VK_RETURN, 0x1C, L'\r'),
        key(true, 'Z', 0x2C, L'z', 3),            // an auto-repeated key, three times
        key(true, 0, 0, 0x00E9),                  // e acute, in code page 1252
        key(true, 0, 0, 0x20AC),                  // the euro sign is 0x80 there
        key(true, 0, 0, 0x0416),                  // no 1252 form
    });
    std::vector<int> want{'a', 0, 0x48, 0, 0x3B, 3, '\r', 'z', 'z', 'z', 0xE9, 0x80, '?'};
    EXPECT_EQ(drain(), want);
}

TEST_F(Win32Console, EventsThatAreNoKeysLeaveNothingWaiting) {
    INPUT_RECORD focus{};
    focus.EventType = FOCUS_EVENT;
    focus.Event.FocusEvent.bSetFocus = TRUE;
    inject({key(false, 'Q', 0x10, L'q'), key(true, VK_CONTROL, 0x1D, 0), focus});
    EXPECT_FALSE(console().key_waiting());
    DWORD left = 99;
    ASSERT_TRUE(GetNumberOfConsoleInputEvents(in_, &left));
    EXPECT_EQ(left, 0u);  // consumed, so they cannot pile up
    // A key behind them is still found, and read_key blocks only until it.
    inject({key(false, 'Q', 0x10, L'q'), key(true, 'Q', 0x10, L'q')});
    EXPECT_EQ(console().read_key(), 'q');
}

// The service loop's wait: a key wakes it; records that are not keys are
// dropped without waking it, and do not leave the input handle signalled
// (the wait would spin).
TEST_F(Win32Console, AKeyWakesTheLoopsWaitAndOtherRecordsDoNot) {
    ASSERT_NE(plat().wait, nullptr);
    auto& wait = *plat().wait;
    auto& clock = *plat().clock;
    const std::int64_t second = clock.frequency();
    INPUT_RECORD focus{};
    focus.EventType = FOCUS_EVENT;
    focus.Event.FocusEvent.bSetFocus = TRUE;
    inject({focus, key(false, 'Q', 0x10, L'q'), key(true, VK_SHIFT, 0x2A, 0)});
    FILETIME t0, t1, k0, u0, k1, u1;
    ASSERT_TRUE(GetThreadTimes(GetCurrentThread(), &t0, &t1, &k0, &u0));
    const std::int64_t start = clock.counter();
    auto quiet = wait.wait_until(start + second / 5, platform::kWakeConsole, false);
    ASSERT_TRUE(quiet.ok()) << quiet.error();
    EXPECT_EQ(quiet.value().sources, 0u);
    EXPECT_GE(quiet.value().at, start + second / 5);
    EXPECT_EQ(WaitForSingleObject(in_, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the input handle stays signalled";
    ASSERT_TRUE(GetThreadTimes(GetCurrentThread(), &t0, &t1, &k1, &u1));
    auto ms = [](const FILETIME& f) {
        return static_cast<double>((static_cast<std::uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e4;
    };
    EXPECT_LT(ms(k1) + ms(u1) - ms(k0) - ms(u0), 100.0) << "CPU time over a 200 ms wait";

    std::thread typist([this] {
        Sleep(50);
        INPUT_RECORD k = key(true, 'K', 0x25, L'k');
        DWORD n = 0;
        WriteConsoleInputW(in_, &k, 1, &n);
    });
    auto woken = wait.wait_until(clock.counter() + 5 * second, platform::kWakeConsole, true);
    typist.join();
    ASSERT_TRUE(woken.ok()) << woken.error();
    EXPECT_EQ(woken.value().sources, platform::kWakeConsole);
    EXPECT_EQ(console().read_key(), 'k');

    // Keys already taken from the input but not read wake every wait.
    inject({key(true, 'A', 0x1E, L'a'), key(true, 'B', 0x30, L'b')});
    for (int want : {'a', 'b'}) {
        auto w = wait.wait_until(clock.counter() + second, platform::kWakeConsole, false);
        ASSERT_TRUE(w.ok()) << w.error();
        EXPECT_EQ(w.value().sources, platform::kWakeConsole);
        EXPECT_EQ(console().read_key(), want);
    }
    auto after = wait.wait_until(clock.counter() + second / 20, platform::kWakeConsole, false);
    ASSERT_TRUE(after.ok()) << after.error();
    EXPECT_EQ(after.value().sources, 0u);
}

// Real key presses through the console window, from SendInput: the
// keyboard service and the raw console mode together.
TEST_F(Win32Console, TypedKeysArriveAndCtrlCDoesNotStopTheProgram) {
    HWND w = GetConsoleWindow();
    if (!w) GTEST_SKIP() << "this console has no window to type into";
    SetForegroundWindow(w);
    pump_until([&] { return GetForegroundWindow() == w; }, 2000);
    auto press = [](WORD vk, DWORD flags) {
        platform::KeyInput k;
        k.vk = vk;
        k.scan = static_cast<std::uint16_t>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
        k.flags = flags;
        return k;
    };
    platform::KeyInput keys[] = {press('J', 0),         press('J', KEYEVENTF_KEYUP),
                                 press(VK_CONTROL, 0),  press('C', 0),
                                 press('C', KEYEVENTF_KEYUP), press(VK_CONTROL, KEYEVENTF_KEYUP)};
    auto sent = plat().keyboard->send_input(keys, 6);
    ASSERT_TRUE(sent.ok()) << sent.error();
    std::vector<int> got;
    pump_until([&] {
        while (console().key_waiting()) got.push_back(console().read_key());
        return got.size() >= 2;
    }, 5000);
    EXPECT_EQ(got, (std::vector<int>{'j', 3}));
}

// Standard input redirected from a pipe or a file ("quennick.exe < keys.txt"):
// its bytes are the keys (CR LF one Enter), they wake the loop's wait, an
// empty pipe lets the wait sleep, and the input's end is the keys' end.
TEST_F(Win32Console, ARedirectedInputGivesItsKeysThenEnds) {
    auto& wait = *plat().wait;
    auto& clock = *plat().clock;
    const std::int64_t second = clock.frequency();
    const HANDLE std_in = GetStdHandle(STD_INPUT_HANDLE);
    for (bool pipe : {true, false}) {
        HANDLE r = nullptr, w = nullptr;
        if (pipe)
            ASSERT_TRUE(CreatePipe(&r, &w, nullptr, 0));
        else
            r = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
        SetStdHandle(STD_INPUT_HANDLE, r);
        console().close();
        ASSERT_TRUE(console().open(25, 80).ok());
        std::vector<int> got;
        if (pipe) {
            const std::int64_t start = clock.counter();
            auto quiet = wait.wait_until(start + second / 5, platform::kWakeConsole, false);
            ASSERT_TRUE(quiet.ok()) << quiet.error();
            EXPECT_EQ(quiet.value().sources, 0u);
            EXPECT_GE(quiet.value().at, start + second / 5) << "a wait on an empty pipe did not sleep";
            EXPECT_FALSE(console().input_ended());
            std::thread writer([w] {
                Sleep(50);
                DWORD n = 0;
                WriteFile(w, "ab\r\n", 4, &n, nullptr);
            });
            auto woken = wait.wait_until(clock.counter() + 5 * second, platform::kWakeConsole, false);
            writer.join();
            ASSERT_TRUE(woken.ok()) << woken.error();
            EXPECT_EQ(woken.value().sources, platform::kWakeConsole);
            got = drain();
            CloseHandle(w);
        }
        EXPECT_TRUE(pump_until([] { return console().input_ended(); }, 5000)) << (pipe ? "pipe" : "NUL");
        EXPECT_EQ(got, pipe ? std::vector<int>({'a', 'b', '\r'}) : std::vector<int>());
        console().close();
        SetStdHandle(STD_INPUT_HANDLE, std_in);
        CloseHandle(r);
    }
}

}  // namespace
}  // namespace qn::wine_test
