// Shared pieces of the Win32 backend tests. They run under Wine (see
// scripts/wine-tests) or on Windows, against the real system calls.
//
// The platform headers come before <windows.h>: they declare names that
// <windows.h> defines as macros.
#pragma once

#include "platform/platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace qn::wine_test {

inline platform::Platform& plat() { return platform::native_platform(); }

// An environment variable the driver script sets; empty when absent.
inline std::string env(const char* name) {
    char buf[1024];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

inline bool running_under_wine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

inline double seconds_between(std::int64_t from, std::int64_t to) {
    return static_cast<double>(to - from) / static_cast<double>(plat().clock->frequency());
}

// Dispatches this thread's window messages until done() holds or the time
// is up; returns done().
inline bool pump_until(const std::function<bool()>& done, DWORD timeout_ms = 5000) {
    ULONGLONG end = GetTickCount64() + timeout_ms;
    while (!done()) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) break;
        if (GetTickCount64() > end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

// True when the error text names the call that failed and says why.
inline ::testing::AssertionResult names_call(const std::string& error, const std::string& call) {
    std::string prefix = call + ": ";
    if (error.rfind(prefix, 0) == 0 && error.size() > prefix.size())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "error \"" << error << "\" does not start with \"" << prefix
                                         << "\" and a reason";
}

}  // namespace qn::wine_test
