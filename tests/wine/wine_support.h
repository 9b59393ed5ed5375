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

// A test named DISABLED_... run by itself in a child process (this same
// test program), its output going to a file: a statement that ends the
// process is tried there. The child is waited for with a time limit, so one
// that hangs fails the calling test alone, never the suite.
struct ChildRun {
    bool ended = false;
    DWORD exit_code = 0;
    std::string output;
};

inline ChildRun run_disabled_test_in_child(const std::string& full_name, DWORD timeout_ms = 120000) {
    ChildRun run;
    char exe[MAX_PATH];
    if (GetModuleFileNameA(nullptr, exe, MAX_PATH) == 0) return run;
    const std::string out_path = "qn-child-" + std::to_string(GetCurrentProcessId()) + ".txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(out_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return run;
    std::string cmd = "\"" + std::string(exe) + "\" --gtest_also_run_disabled_tests --gtest_filter=" + full_name;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi{};
    BOOL started = CreateProcessA(exe, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(out);
    if (started) {
        run.ended = WaitForSingleObject(pi.hProcess, timeout_ms) == WAIT_OBJECT_0;
        if (!run.ended) TerminateProcess(pi.hProcess, 99);
        GetExitCodeProcess(pi.hProcess, &run.exit_code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    HANDLE in = CreateFileA(out_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in != INVALID_HANDLE_VALUE) {
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(in, chunk, sizeof chunk, &got, nullptr) && got > 0) run.output.append(chunk, got);
        CloseHandle(in);
    }
    DeleteFileA(out_path.c_str());
    return run;
}

}  // namespace qn::wine_test
