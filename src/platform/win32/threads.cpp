#include "platform/win32/win32.h"

#include <mmsystem.h>

#include <mutex>

namespace qn::platform::win32 {

namespace {

// SetProcessInformation(ProcessPowerThrottling): Windows 8 and later, so
// looked up at run time; the state and its flags as in processthreadsapi.h.
struct PowerThrottlingState {
    ULONG version;
    ULONG control_mask;
    ULONG state_mask;
};
constexpr int kProcessPowerThrottling = 4;
constexpr ULONG kThrottlingVersion = 1;
constexpr ULONG kThrottleExecutionSpeed = 0x1;
constexpr ULONG kThrottleIgnoreTimerResolution = 0x4;
using SetProcessInformationFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);

// Windows 11 lets the timer resolution a process asked for lapse while its
// windows are hidden or minimised, and may slow a program it thinks is in
// the background; a ringer's console is often minimised behind the
// simulator. Asked not to do either (the flags in control_mask, none set in
// state_mask). Earlier versions may not know the timer flag (Windows 7
// has no such call at all, Wine refuses it) and keep the resolution
// anyway. Empty when granted, else why not.
std::string keep_resolution_in_background() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC proc = kernel ? GetProcAddress(kernel, "SetProcessInformation") : nullptr;
    if (!proc) return "SetProcessInformation: not in this version of Windows";
    auto set_info = reinterpret_cast<SetProcessInformationFn>(reinterpret_cast<void*>(proc));
    PowerThrottlingState state{kThrottlingVersion, kThrottleExecutionSpeed | kThrottleIgnoreTimerResolution, 0};
    if (set_info(GetCurrentProcess(), kProcessPowerThrottling, &state, sizeof state)) return {};
    return last_error("SetProcessInformation");
}

// The body is owned by the new thread from the moment CreateThread succeeds.
DWORD WINAPI run_body(LPVOID arg) noexcept {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    (*body)();
    return 0;
}

class Win32Threads final : public Threads {
public:
    Result<ThreadInfo> create(std::function<void()> body) override {
        auto owned = std::make_unique<std::function<void()>>(std::move(body));
        DWORD id = 0;
        HANDLE h = CreateThread(nullptr, 0, run_body, owned.get(), 0, &id);
        if (!h) return fail(last_error("CreateThread"));
        owned.release();
        // The handle is kept for the life of the process: callers hold it to
        // change priority and to suspend the thread.
        return ThreadInfo{from_handle(h), static_cast<std::uint32_t>(id)};
    }

    Result<void> set_priority(ThreadHandle h, int priority) override {
        if (!SetThreadPriority(to_handle(h), priority)) return fail(last_error("SetThreadPriority"));
        return {};
    }

    Result<int> get_priority(ThreadHandle h) override {
        int p = GetThreadPriority(to_handle(h));
        if (p == THREAD_PRIORITY_ERROR_RETURN) return fail(last_error("GetThreadPriority"));
        return p;
    }

    Result<void> suspend(ThreadHandle h) override {
        if (SuspendThread(to_handle(h)) == static_cast<DWORD>(-1)) return fail(last_error("SuspendThread"));
        return {};
    }

    Result<void> resume(ThreadHandle h) override {
        if (ResumeThread(to_handle(h)) == static_cast<DWORD>(-1)) return fail(last_error("ResumeThread"));
        return {};
    }

    void sleep_ms(std::int32_t ms) override { Sleep(ms > 0 ? static_cast<DWORD>(ms) : 0); }

    // timeBeginPeriod counts its calls; one for the whole process is enough
    // and is never undone (the system drops it when the process ends).
    // What Windows 11 was asked to keep comes back as the error text when
    // it said no, so the run log tells, once, whether the program's timers
    // hold while its console is hidden.
    Result<void> raise_timer_resolution() override {
        std::call_once(once_, [this] {
            const MMRESULT r = timeBeginPeriod(1);
            if (r != TIMERR_NOERROR) problem_ = "timeBeginPeriod: error " + std::to_string(r);
            const std::string kept = keep_resolution_in_background();
            if (kept.empty()) return;
            if (!problem_.empty()) problem_ += "; ";
            problem_ += kept + " (asked so that Windows 11 keeps 1 ms timers while the console is hidden;"
                               " earlier versions keep them anyway)";
        });
        if (!problem_.empty()) return fail(problem_);
        return {};
    }

private:
    std::once_flag once_;
    std::string problem_;
};

}  // namespace

std::unique_ptr<Threads> make_threads() { return std::make_unique<Win32Threads>(); }

}  // namespace qn::platform::win32
