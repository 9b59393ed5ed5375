#include "platform/win32/win32.h"

#include <tlhelp32.h>

#include <optional>
#include <vector>

namespace qn::platform::win32 {

namespace {

struct EnumState {
    const std::function<bool(WindowHandle)>* visit;
    bool stopped = false;
};

BOOL CALLBACK enum_one(HWND w, LPARAM arg) {
    auto* st = reinterpret_cast<EnumState*>(arg);
    if ((*st->visit)(from_handle(w))) return TRUE;
    st->stopped = true;
    return FALSE;
}

// A null pointer must stay NULL (any window); "" is a real, empty name.
std::optional<std::wstring> wide_or_null(const char* text) {
    if (!text) return std::nullopt;
    return widen(text);
}

const wchar_t* ptr(const std::optional<std::wstring>& w) { return w ? w->c_str() : nullptr; }

// Titles and class names come through the W calls and are turned into code
// page 1252 here, so that the em dash of a browser title is the byte 0x97
// whatever code page the system runs with.
template <typename Fn>
std::string read_text(Fn fn, WindowHandle w, int max_chars) {
    if (max_chars <= 0) return {};
    std::vector<wchar_t> buf(static_cast<std::size_t>(max_chars) + 1, L'\0');
    int n = fn(to_hwnd(w), buf.data(), max_chars);
    if (n <= 0) return {};
    std::string text = narrow(buf.data(), n);
    if (text.size() > static_cast<std::size_t>(max_chars - 1)) text.resize(max_chars - 1);
    return text;
}

class Win32Windows final : public Windows {
public:
    WindowHandle foreground() override { return from_handle(GetForegroundWindow()); }
    bool set_foreground(WindowHandle w) override { return SetForegroundWindow(to_hwnd(w)) != FALSE; }
    WindowHandle set_active(WindowHandle w) override { return from_handle(SetActiveWindow(to_hwnd(w))); }

    Result<void> enum_windows(const std::function<bool(WindowHandle)>& visit) override {
        EnumState st{&visit};
        if (!EnumWindows(enum_one, reinterpret_cast<LPARAM>(&st)) && !st.stopped)
            return fail(last_error("EnumWindows"));
        return {};
    }

    std::string window_text(WindowHandle w, int max_chars) override {
        return read_text(GetWindowTextW, w, max_chars);
    }
    std::string class_name(WindowHandle w, int max_chars) override {
        return read_text(GetClassNameW, w, max_chars);
    }

    WindowHandle desktop_window() override { return from_handle(GetDesktopWindow()); }
    WindowHandle top_window(WindowHandle parent) override { return from_handle(GetTopWindow(to_hwnd(parent))); }
    WindowHandle next_window(WindowHandle w, std::uint32_t cmd) override {
        return from_handle(GetWindow(to_hwnd(w), cmd));  // GetNextWindow is this, as a macro
    }

    std::uint32_t thread_process_id(WindowHandle w, std::uint32_t* pid) override {
        DWORD p = 0;
        DWORD tid = GetWindowThreadProcessId(to_hwnd(w), &p);
        if (pid) *pid = p;
        return tid;
    }

    WindowHandle find_window(const char* class_name, const char* title) override {
        auto c = wide_or_null(class_name), t = wide_or_null(title);
        return from_handle(FindWindowW(ptr(c), ptr(t)));
    }

    WindowHandle find_window_ex(WindowHandle parent, WindowHandle child_after, const char* class_name,
                                const char* title) override {
        auto c = wide_or_null(class_name), t = wide_or_null(title);
        return from_handle(FindWindowExW(to_hwnd(parent), to_hwnd(child_after), ptr(c), ptr(t)));
    }

    bool show_window(WindowHandle w, int cmd) override { return ShowWindow(to_hwnd(w), cmd) != FALSE; }

    std::intptr_t send_message(WindowHandle w, std::uint32_t msg, std::uintptr_t wparam,
                               std::intptr_t lparam) override {
        return SendMessageA(to_hwnd(w), msg, wparam, lparam);
    }

    Result<std::vector<ProcessEntry>> processes() override {
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snap == INVALID_HANDLE_VALUE) return fail(last_error("CreateToolhelp32Snapshot"));
        std::vector<ProcessEntry> list;
        PROCESSENTRY32W e{};
        e.dwSize = sizeof e;
        BOOL more = Process32FirstW(snap, &e);
        if (!more && GetLastError() != ERROR_NO_MORE_FILES) {
            Error err = fail(last_error("Process32First"));
            CloseHandle(snap);
            return err;
        }
        for (; more; more = Process32NextW(snap, &e))
            list.push_back(ProcessEntry{static_cast<std::uint32_t>(e.th32ProcessID), narrow(e.szExeFile, -1)});
        CloseHandle(snap);
        return list;
    }
};

}  // namespace

std::unique_ptr<Windows> make_windows() { return std::make_unique<Win32Windows>(); }

}  // namespace qn::platform::win32
