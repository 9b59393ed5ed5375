// Requests to end on Windows. The console's handler runs on a thread of its
// own and only notes the first event; the main thread sees it at its next
// look and ends the run, process and all. A close, log-off or shutdown ends
// the process as soon as the handler returns, so the handler holds it for
// a while first (Windows itself allows some 5 s).
//
// A program that uses user32, as this one does, is not sent the console's
// log-off and shutdown events: a hidden window of its own hears the end of
// the session (WM_ENDSESSION) instead.
#include "platform/win32/win32.h"

#include <atomic>

namespace qn::platform::win32 {

namespace {

constexpr DWORD kGraceMs = 4500;

struct Kind {
    EndReason reason;
    const char* name;
};
constexpr Kind kKinds[] = {
    {EndReason::None, ""},
    {EndReason::Interrupt, "CTRL_C_EVENT"},
    {EndReason::Interrupt, "CTRL_BREAK_EVENT"},
    {EndReason::ConsoleClosed, "CTRL_CLOSE_EVENT"},
    {EndReason::LogOff, "CTRL_LOGOFF_EVENT"},
    {EndReason::Shutdown, "CTRL_SHUTDOWN_EVENT"},
    {EndReason::LogOff, "WM_ENDSESSION"},
    {EndReason::Shutdown, "WM_ENDSESSION"},
};
enum : int { kCtrlC = 1, kBreak, kClose, kLogOff, kShutdown, kSessionLogOff, kSessionShutdown };

std::atomic<int> g_kind{0};

bool note(int kind) {
    int none = 0;
    return g_kind.compare_exchange_strong(none, kind);
}

BOOL WINAPI on_console_event(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        // A second one is left to the default handler, which ends the
        // process: a program that does not end can still be ended.
        return note(type == CTRL_C_EVENT ? kCtrlC : kBreak) ? TRUE : FALSE;
    case CTRL_CLOSE_EVENT: note(kClose); break;
    case CTRL_LOGOFF_EVENT: note(kLogOff); break;
    case CTRL_SHUTDOWN_EVENT: note(kShutdown); break;
    default: return FALSE;
    }
    Sleep(kGraceMs);
    return TRUE;
}

LRESULT CALLBACK on_session_message(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_QUERYENDSESSION) return TRUE;
    if (msg == WM_ENDSESSION) {
        if (wp) {
            note((lp & ENDSESSION_LOGOFF) ? kSessionLogOff : kSessionShutdown);
            Sleep(kGraceMs);
        }
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

struct SessionStart {
    HANDLE ready = nullptr;
    std::string error;
};

DWORD WINAPI session_thread(void* arg) {
    auto* start = static_cast<SessionStart*>(arg);
    WNDCLASSW wc{};
    wc.lpfnWndProc = on_session_message;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuennickSessionEnd";
    HWND w = nullptr;
    if (!RegisterClassW(&wc))
        start->error = last_error("RegisterClass");
    else if (!(w = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr)))
        start->error = last_error("CreateWindowEx");
    SetEvent(start->ready);  // start is not to be touched after this
    if (!w) return 1;
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    return 0;
}

class Win32Ending final : public Ending {
public:
    Result<void> take_requests() override {
        if (taken_) return {};
        if (!SetConsoleCtrlHandler(on_console_event, TRUE)) return fail(last_error("SetConsoleCtrlHandler"));
        taken_ = true;
        SessionStart start;
        start.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!start.ready) return fail(last_error("CreateEvent"));
        HANDLE t = CreateThread(nullptr, 0, session_thread, &start, 0, nullptr);
        if (!t) {
            CloseHandle(start.ready);
            return fail(last_error("CreateThread"));
        }
        WaitForSingleObject(start.ready, INFINITE);
        CloseHandle(start.ready);
        CloseHandle(t);
        // The console's events are heard all the same.
        if (!start.error.empty()) unheard_ = "the end of a Windows session is not heard (" + start.error + ")";
        return {};
    }

    std::string unheard() const override { return unheard_; }

    EndRequest requested() override {
        const Kind& k = kKinds[g_kind.load()];
        return {k.reason, k.name};
    }

private:
    bool taken_ = false;
    std::string unheard_;
};

}  // namespace

std::unique_ptr<Ending> make_ending() { return std::make_unique<Win32Ending>(); }

}  // namespace qn::platform::win32
