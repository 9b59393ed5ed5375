// Windows, window messages, processes and key synthesis against the real
// Win32 calls, on a window of the test's own (under Wine: on Xvfb).
#include "wine_support.h"

#include <algorithm>
#include <vector>

namespace qn::wine_test {
namespace {

constexpr const wchar_t* kClass = L"QnWineTestWindow";
constexpr const wchar_t* kChildClass = L"QnWineTestChild";
// A browser-like title: the em dash must come back as the byte 0x97.
constexpr const wchar_t* kTitle = L"Practice \u2014 Ringing Room test";
const std::string kTitle1252 = "Practice \x97 Ringing Room test";

struct Seen {
    UINT msg;
    WPARAM wparam;
};
std::vector<Seen> g_seen;

LRESULT CALLBACK record(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CHAR:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_IME_KEYDOWN:
        g_seen.push_back({msg, wp});
        return msg == WM_CHAR ? 42 : 0;
    default:
        return DefWindowProcW(w, msg, wp, lp);
    }
}

// One window for the whole suite: under Wine without a window manager,
// taking a window down waits seconds for a manager that never answers.
class Win32Windows : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = record;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClass;
        RegisterClassW(&wc);
        wc.lpszClassName = kChildClass;
        RegisterClassW(&wc);
        top_ = CreateWindowExW(0, kClass, kTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (top_)
            child_ = CreateWindowExW(0, kChildClass, L"inner", WS_CHILD | WS_VISIBLE, 0, 0, 100, 50, top_,
                                     nullptr, GetModuleHandleW(nullptr), nullptr);
        pump_until([] { return false; }, 50);
    }
    static void TearDownTestSuite() {
        if (top_) DestroyWindow(top_);
        top_ = child_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(top_, nullptr) << "CreateWindowEx failed (is there a display?)";
        ASSERT_NE(child_, nullptr);
        pump_until([] { return false; }, 10);
        g_seen.clear();
    }

    static platform::Windows& windows() { return *plat().windows; }
    platform::WindowHandle top() const { return reinterpret_cast<platform::WindowHandle>(top_); }
    platform::WindowHandle child() const { return reinterpret_cast<platform::WindowHandle>(child_); }

    static inline HWND top_ = nullptr;
    static inline HWND child_ = nullptr;
};

TEST_F(Win32Windows, EnumerationFindsOurWindowAndStopsWhenAsked) {
    bool found = false;
    int visited = 0;
    ASSERT_TRUE(windows().enum_windows([&](platform::WindowHandle w) {
        ++visited;
        found = found || w == top();
        return true;
    }).ok());
    EXPECT_TRUE(found);
    EXPECT_GE(visited, 1);

    int calls = 0;
    // Stopping is not a failure.
    EXPECT_TRUE(windows().enum_windows([&](platform::WindowHandle) { return ++calls < 1; }).ok());
    EXPECT_EQ(calls, 1);
}

TEST_F(Win32Windows, TitleAndClassComeAsCodePage1252) {
    EXPECT_EQ(windows().window_text(top(), 256), kTitle1252);
    EXPECT_EQ(windows().window_text(top(), 5), "Prac");  // at most max_chars - 1
    EXPECT_EQ(windows().window_text(top(), 11), "Practice \x97");
    EXPECT_EQ(windows().class_name(top(), 256), "QnWineTestWindow");
    EXPECT_EQ(windows().class_name(top(), 3), "Qn");
    EXPECT_EQ(windows().window_text(0, 256), "");
}

TEST_F(Win32Windows, FindWindowTellsNullFromEmpty) {
    EXPECT_EQ(windows().find_window("QnWineTestWindow", nullptr), top());
    EXPECT_EQ(windows().find_window(nullptr, kTitle1252.c_str()), top());
    EXPECT_EQ(windows().find_window("QnWineTestWindow", kTitle1252.c_str()), top());
    // An empty class name is a name no window has; children are never found.
    EXPECT_EQ(windows().find_window("", nullptr), 0u);
    EXPECT_EQ(windows().find_window("QnWineTestChild", nullptr), 0u);
    // The child lookup of the per-program searches: FindWindowEx after the
    // (missing) window of a class only children have gives the first child.
    platform::WindowHandle after = windows().find_window("QnWineTestChild", nullptr);
    EXPECT_EQ(windows().find_window_ex(top(), after, nullptr, nullptr), child());
    EXPECT_EQ(windows().find_window_ex(top(), child(), nullptr, nullptr), 0u);
    EXPECT_EQ(windows().find_window_ex(top(), 0, "QnWineTestChild", "inner"), child());
}

TEST_F(Win32Windows, ZOrderWalkFromTheDesktopReachesOurWindow) {
    platform::WindowHandle w = windows().top_window(windows().desktop_window());
    bool found = false;
    for (int i = 0; w != 0 && i < 100000 && !found; ++i) {
        found = w == top();
        w = windows().next_window(w, GW_HWNDNEXT);
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(windows().top_window(top()), child());
}

TEST_F(Win32Windows, OwnerThreadAndProcess) {
    std::uint32_t pid = 0;
    EXPECT_EQ(windows().thread_process_id(top(), &pid), GetCurrentThreadId());
    EXPECT_EQ(pid, GetCurrentProcessId());
    EXPECT_EQ(windows().thread_process_id(top(), nullptr), GetCurrentThreadId());
}

TEST_F(Win32Windows, SendMessageDeliversAndReturnsTheAnswer) {
    EXPECT_EQ(windows().send_message(top(), WM_CHAR, 'J', 0), 42);
    EXPECT_EQ(windows().send_message(top(), WM_IME_KEYDOWN, 'J', 0), 0);
    ASSERT_EQ(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[0].msg, static_cast<UINT>(WM_CHAR));
    EXPECT_EQ(g_seen[0].wparam, static_cast<WPARAM>('J'));
    EXPECT_EQ(g_seen[1].msg, static_cast<UINT>(WM_IME_KEYDOWN));
}

TEST_F(Win32Windows, ShowWindowRestoresAMinimisedWindow) {
    windows().show_window(top(), SW_MINIMIZE);
    pump_until([&] { return IsIconic(top_) != FALSE; }, 2000);
    ASSERT_TRUE(IsIconic(top_));
    EXPECT_TRUE(windows().show_window(top(), SW_RESTORE));  // it was visible
    EXPECT_TRUE(pump_until([&] { return !IsIconic(top_); }, 2000));
}

TEST_F(Win32Windows, ForegroundAndActiveWindow) {
    EXPECT_TRUE(windows().set_foreground(top()));
    EXPECT_TRUE(pump_until([&] { return windows().foreground() == top(); }, 2000));
    windows().set_active(top());
    EXPECT_EQ(reinterpret_cast<platform::WindowHandle>(GetActiveWindow()), top());
}

TEST_F(Win32Windows, SendInputTypesIntoTheForegroundWindow) {
    ASSERT_TRUE(windows().set_foreground(top()));
    ASSERT_TRUE(pump_until([&] { return windows().foreground() == top(); }, 2000));
    SetFocus(top_);
    // The key j as the program sends it: virtual key and scan code, no Shift.
    platform::KeyInput keys[2];
    keys[0].vk = 0x4A;
    keys[0].scan = 0x24;
    keys[1] = keys[0];
    keys[1].flags = KEYEVENTF_KEYUP;
    auto sent = plat().keyboard->send_input(keys, 2);
    ASSERT_TRUE(sent.ok()) << sent.error();
    EXPECT_EQ(sent.value(), 2u);
    auto has = [](UINT msg, WPARAM wp) {
        return std::any_of(g_seen.begin(), g_seen.end(),
                           [&](const Seen& s) { return s.msg == msg && s.wparam == wp; });
    };
    EXPECT_TRUE(pump_until([&] { return has(WM_KEYUP, 0x4A); }, 3000));
    EXPECT_TRUE(has(WM_KEYDOWN, 0x4A));
    EXPECT_TRUE(has(WM_CHAR, 'j'));
    EXPECT_EQ(plat().keyboard->send_input(keys, 0).value_or(99), 0u);
}

TEST(Win32Processes, TheSnapshotListsThisProgram) {
    auto list = plat().windows->processes();
    ASSERT_TRUE(list.ok()) << list.error();
    auto me = std::find_if(list.value().begin(), list.value().end(), [](const platform::ProcessEntry& e) {
        return e.pid == GetCurrentProcessId();
    });
    ASSERT_NE(me, list.value().end());
    EXPECT_EQ(me->exe, "qn_win32_tests.exe");
    EXPECT_GT(list.value().size(), 1u);
}

}  // namespace
}  // namespace qn::wine_test
