// The POSIX (Linux) services. Private to the backend and its own tests: the
// rest of the program reaches them only through native_platform().
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ansi.h"
#include "platform/platform.h"

namespace qn::platform::posix {

// "call: strerror(err)", the form of every error this backend reports.
std::string errno_text(const std::string& call, int err);

class PosixClock : public Clock {
public:
    std::int64_t counter() override;
    std::int64_t frequency() override { return 1000000000; }
    bool tsc_available() override;
    std::int64_t tsc() override;
};

struct ThreadRecord;

class PosixThreads : public Threads {
public:
    Result<ThreadInfo> create(std::function<void()> body) override;
    Result<void> set_priority(ThreadHandle h, int priority) override;
    Result<int> get_priority(ThreadHandle h) override;
    Result<void> suspend(ThreadHandle h) override;
    Result<void> resume(ThreadHandle h) override;
    void sleep_ms(std::int32_t ms) override;
    Result<void> raise_timer_resolution() override;
};

// The serial thread's SCHED_FIFO priority: below the kernel's interrupt
// threads (priority 50 on PREEMPT_RT), so the interrupt that reports a line
// change is never held up by the thread that waits for it, and above every
// ordinary (SCHED_OTHER) thread.
inline constexpr int kFifoPriority = 45;

// SCHED_FIFO within RLIMIT_RTPRIO, RealtimeKit over the system bus, a nice
// value, mlockall (scheduling.cpp).
class PosixScheduling : public Scheduling {
public:
    Result<std::string> realtime(Urgency u) override;
    Result<std::string> realtime_by_broker(Urgency u) override;
    Result<std::string> raise(Urgency u) override;
    Result<std::string> lock_memory() override;
    std::string how_to_allow() override;

private:
    std::mutex broker_mu_;
    std::string broker_unusable_;  // set once the bus or the broker has failed: not asked again
};

class PosixFiles : public Files {
public:
    Result<void> make_dir(const std::string& path) override;
    bool exists(const std::string& path) override;
    Result<std::unique_ptr<OutFile>> create(const std::string& path) override;
    Result<std::string> read_all(const std::string& path) override;
    Result<void> replace(const std::string& from, const std::string& to) override;
    Result<void> remove(const std::string& path) override;
    Result<void> redirect_stderr(const std::string& path) override;
    LocalDateTime now() override;
    Result<std::unique_ptr<OutFile>> create_text(const std::string& path) override;
    UserDirs user_dirs() override;
    std::string shown_path(const std::string& path) override { return ansi::utf8_to_cp1252(path); }
};

class PosixKeyboard : public Keyboard {
public:
    Result<std::uint32_t> send_input(const KeyInput* records, std::uint32_t count) override;
};

// The Linux program replaces these two with the desktop's own
// (platform/posix/desktop), which need libraries the others do not.
class PosixWindows : public Windows {
public:
    const DesktopInfo& desktop() const override;
    WindowHandle foreground() override { return 0; }
    bool set_foreground(WindowHandle) override { return false; }
    WindowHandle set_active(WindowHandle) override { return 0; }
    Result<void> enum_windows(const std::function<bool(WindowHandle)>& visit) override;
    std::string window_text(WindowHandle, int) override { return {}; }
    std::string class_name(WindowHandle, int) override { return {}; }
    WindowHandle desktop_window() override { return 0; }
    WindowHandle top_window(WindowHandle) override { return 0; }
    WindowHandle next_window(WindowHandle, std::uint32_t) override { return 0; }
    std::uint32_t thread_process_id(WindowHandle, std::uint32_t* pid) override;
    WindowHandle find_window(const char*, const char*) override { return 0; }
    WindowHandle find_window_ex(WindowHandle, WindowHandle, const char*, const char*) override {
        return 0;
    }
    bool show_window(WindowHandle, int) override { return false; }
    std::intptr_t send_message(WindowHandle, std::uint32_t, std::uintptr_t,
                               std::intptr_t) override {
        return 0;
    }
    Result<std::vector<ProcessEntry>> processes() override;
};

// The network service (network.cpp). It is a library of its own, linked
// only into the programs that ring over a tower link: the declaration is
// weak, so elsewhere it is null and native_platform() has no network.
Network* network_service() __attribute__((weak));
// A service of its own, which reads the certificate store afresh (tests).
std::unique_ptr<Network> make_network();

// SIGINT, SIGTERM and SIGHUP as requests to end (ending.cpp).
class PosixEnding : public Ending {
public:
    Result<void> take_requests() override;
    EndRequest requested() override;
};

class PosixProcess : public Process {
public:
    [[noreturn]] void exit(int code) override;
};

}  // namespace qn::platform::posix
