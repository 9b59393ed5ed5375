// The test side of the stand-ins (Win32 only): starting and ending them and
// Notepad, reading what a stand-in recorded, and a program context whose
// windows, keyboard, clock and threads are the real ones while its console,
// files and process are the fakes.
//
// The platform headers come before <windows.h>: they declare names that
// <windows.h> defines as macros.
#pragma once

#include "fakes/fake_platform.h"
#include "platform/platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "service/program.h"
#include "core/timing.h"

namespace qn::standin {

// QueryPerformanceCounter in microseconds, computed as the stand-ins do, so
// that times taken here and there compare.
inline long long qpc_us() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<long long>(c.QuadPart / f.QuadPart * 1000000 + c.QuadPart % f.QuadPart * 1000000 / f.QuadPart);
}

inline std::wstring exe_dir() {
    wchar_t buf[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
    std::wstring path(buf, n);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

inline std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Polls until done() holds or the time is up; returns done().
inline bool wait_until(const std::function<bool()>& done, DWORD timeout_ms = 5000) {
    ULONGLONG end = GetTickCount64() + timeout_ms;
    while (!done()) {
        if (GetTickCount64() > end) return false;
        Sleep(10);
    }
    return true;
}

// A process this test started; ended with it.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { end(); }

    // application may be empty (then the command line's first word is searched for).
    bool start(const std::wstring& application, const std::wstring& command_line) {
        end();
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring cmd = command_line;
        if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), cmd.data(), nullptr, nullptr,
                            FALSE, 0, nullptr, nullptr, &si, &pi_)) {
            error_ = "CreateProcess failed, error " + std::to_string(GetLastError());
            pi_ = {};
            return false;
        }
        return true;
    }
    void end() {
        if (!pi_.hProcess) return;
        TerminateProcess(pi_.hProcess, 0);
        WaitForSingleObject(pi_.hProcess, 5000);
        CloseHandle(pi_.hProcess);
        CloseHandle(pi_.hThread);
        pi_ = {};
    }
    bool running() const { return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
    std::uint32_t pid() const { return pi_.dwProcessId; }
    const std::string& error() const { return error_; }

private:
    PROCESS_INFORMATION pi_{};
    std::string error_;
};

// One line of a stand-in's record.
struct Rec {
    long long us = 0;
    std::string cls, name, msg;
    unsigned long long wparam = 0;  // LAYOUT: depth; READY: process id
    std::string how;                // LAYOUT, READY: the window handle
};

inline std::ostream& operator<<(std::ostream& o, const Rec& r) {
    return o << r.us << " " << r.cls << " " << r.name << " " << r.msg << " " << r.wparam << " " << r.how;
}

class StandIn {
public:
    // mode: abel, beltower, muster, ding, firefox, chrome; exe: its file
    // name; variant: "", or for Abel "decoy" or "bare".
    bool start(const std::string& mode, const std::string& exe, const std::string& variant = "") {
        mode_ = mode;
        variant_ = variant;
        record_ = exe_dir() + widen(mode) + (variant.empty() ? L"" : L"-" + widen(variant)) + L"-" +
                  std::to_wstring(++serial_) + L".rec";
        DeleteFileW(record_.c_str());
        std::wstring app = exe_dir() + widen(exe);
        if (GetFileAttributesW(app.c_str()) == INVALID_FILE_ATTRIBUTES) {
            error_ = "stand-in " + exe + " is missing beside the test program";
            return false;
        }
        if (!child_.start(app, L"\"" + app + L"\" " + widen(mode) + L" \"" + record_ + L"\" " + widen(variant))) {
            error_ = child_.error();
            return false;
        }
        if (!wait_until([&] { return ready() != nullptr; })) {
            error_ = "stand-in " + exe + " did not get ready";
            return false;
        }
        return true;
    }
    void end() { child_.end(); }
    bool running() const { return child_.running(); }
    const std::string& mode() const { return mode_; }
    const std::string& variant() const { return variant_; }
    std::uint32_t pid() const { return child_.pid(); }
    const std::string& error() const { return error_; }

    std::vector<Rec> records() const {
        std::vector<Rec> out;
        HANDLE f = CreateFileW(record_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return out;
        std::string text;
        char buf[4096];
        DWORD n = 0;
        while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
        CloseHandle(f);
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            Rec r;
            if (fields >> r.us >> r.cls >> r.name >> r.msg >> r.wparam >> r.how) out.push_back(r);
        }
        return out;
    }
    // The key messages (no layout lines) recorded at or after a time.
    std::vector<Rec> since(long long us) const {
        std::vector<Rec> all = records(), out;
        for (const Rec& r : all)
            if (r.us >= us && r.msg != "LAYOUT" && r.msg != "READY") out.push_back(r);
        return out;
    }
    platform::WindowHandle top() const {
        auto r = ready();
        return r ? static_cast<platform::WindowHandle>(std::stoull(r->how)) : 0;
    }
    // Handle of one of its windows by name (as recorded, blanks as "_").
    platform::WindowHandle window(const std::string& name) const {
        for (const Rec& r : records())
            if (r.msg == "LAYOUT" && r.name == name) return static_cast<platform::WindowHandle>(std::stoull(r.how));
        return 0;
    }

private:
    std::unique_ptr<Rec> ready() const {
        for (const Rec& r : records())
            if (r.msg == "READY") return std::make_unique<Rec>(r);
        return nullptr;
    }
    static inline int serial_ = 0;
    Child child_;
    std::string mode_;
    std::string variant_;
    std::wstring record_;
    std::string error_;
};

// Wine's (or Windows') Notepad, for a window that is no target.
class Notepad {
public:
    bool start() {
        if (!child_.start(L"", L"notepad.exe")) return false;
        return wait_until([&] {
            top_ = find_top();
            if (top_) edit_ = FindWindowExW(top_, nullptr, L"Edit", nullptr);
            return top_ && edit_;
        });
    }
    void end() { child_.end(); }
    platform::WindowHandle top() const { return reinterpret_cast<platform::WindowHandle>(top_); }
    std::string text() const {
        char buf[256] = {};
        SendMessageA(edit_, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf));
        return buf;
    }
    void clear() const { SendMessageA(edit_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("")); }

private:
    struct Search {
        DWORD pid;
        HWND found;
    };
    HWND find_top() const {
        Search s{child_.pid(), nullptr};
        EnumWindows(visit, reinterpret_cast<LPARAM>(&s));
        return s.found;
    }
    // A named function, not a lambda: a 32-bit callback must be stdcall.
    static BOOL CALLBACK visit(HWND w, LPARAM arg) {
        auto* s = reinterpret_cast<Search*>(arg);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid != s->pid || !IsWindowVisible(w)) return TRUE;
        s->found = w;
        return FALSE;
    }
    Child child_;
    HWND top_ = nullptr, edit_ = nullptr;
};

// Brings a window to the front and waits until it is there. Under Wine
// with no window manager, SetForegroundWindow on another program's window
// activates it but leaves it where it was in Z order, where the searches
// that walk the Z order would not find it first: it is raised as well.
inline bool bring_to_front(platform::WindowHandle w) {
    platform::Windows& win = *platform::native_platform().windows;
    BringWindowToTop(reinterpret_cast<HWND>(w));
    win.set_foreground(w);
    return wait_until([&] { return win.foreground() == w; }, 3000);
}

// A program on the real windows, keyboard, clock and threads; console,
// files and process are the fakes, so its screen and log can be read.
struct WineProgram {
    test::FakeConsole console;
    test::FakeFiles files;
    test::FakeProcess process;
    platform::Platform plat;
    std::unique_ptr<Program> program_;

    WineProgram() {
        platform::Platform& native = platform::native_platform();
        plat = native;
        plat.console = &console;
        plat.files = &files;
        plat.process = &process;
        program_ = make_program(plat);
        program_->clock.start();
        files.dirs.insert("logs");
        program_->run_log.adopt(std::move(files.create("logs/test.log").value()));
    }
    Program& program() { return *program_; }
    std::string log() const {
        auto it = files.files.find("logs/test.log");
        return it == files.files.end() ? std::string() : it->second;
    }
};

}  // namespace qn::standin
