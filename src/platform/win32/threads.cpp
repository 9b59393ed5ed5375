#include "platform/win32/win32.h"

#include <mmsystem.h>

#include <mutex>

namespace qn::platform::win32 {

namespace {

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
    Result<void> raise_timer_resolution() override {
        std::call_once(once_, [this] { result_ = timeBeginPeriod(1); });
        if (result_ != TIMERR_NOERROR)
            return fail("timeBeginPeriod: error " + std::to_string(result_));
        return {};
    }

private:
    std::once_flag once_;
    MMRESULT result_ = TIMERR_NOERROR;
};

}  // namespace

std::unique_ptr<Threads> make_threads() { return std::make_unique<Win32Threads>(); }

}  // namespace qn::platform::win32
