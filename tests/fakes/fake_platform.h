// Test doubles for every platform service: a clock the test advances, a
// scripted serial port, a scripted keyboard and a recording console, a
// recording keyboard synthesiser and window system, in-memory files, and a
// process whose exit throws so a test can see the exit code.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "service/program.h"
#include "keyout/dispatch.h"
#include "keyout/menus.h"
#include "platform/platform.h"
#include "strokes/strike_path.h"

namespace qn::test {

// ---- process ---------------------------------------------------------------

struct ProgramExit {
    int code;
};

class FakeProcess : public platform::Process {
public:
    [[noreturn]] void exit(int code) override { throw ProgramExit{code}; }
};

// A request to end comes when the test says: ask returns it (checked at
// each look once requests are taken).
class FakeEnding : public platform::Ending {
public:
    platform::Result<void> take_requests() override {
        taken = true;
        return {};
    }
    platform::EndRequest requested() override { return taken && ask ? ask() : platform::EndRequest{}; }
    std::string unheard() const override { return unheard_text; }
    bool taken = false;
    std::string unheard_text;
    std::function<platform::EndRequest()> ask;
};

// ---- clock and threads -----------------------------------------------------

// Counts microseconds (frequency 1 MHz unless told otherwise).
class FakeClock : public platform::Clock {
public:
    explicit FakeClock(std::int64_t frequency = 1000000) : freq_(frequency) {}
    std::int64_t counter() override { return ticks_.fetch_add(auto_step_) ; }
    std::int64_t frequency() override { return freq_; }
    bool tsc_available() override { return false; }
    std::int64_t tsc() override { return 0; }

    std::int64_t now_us() const { return ticks_.load() * 1000000 / freq_; }
    std::int64_t ticks() const { return ticks_.load(); }  // the counter, without stepping it
    void set_ticks(std::int64_t t) { ticks_.store(t); }
    void set_us(std::int64_t us) { ticks_.store(us * freq_ / 1000000); }
    void advance_us(std::int64_t us) { ticks_.fetch_add(us * freq_ / 1000000); }
    void advance_ms(std::int64_t ms) { advance_us(ms * 1000); }
    // Every read moves the clock on by this many ticks (for busy waits).
    void set_auto_step(std::int64_t ticks) { auto_step_ = ticks; }

private:
    std::int64_t freq_;
    std::atomic<std::int64_t> ticks_{0};
    std::int64_t auto_step_ = 0;
};

class FakeThreads : public platform::Threads {
public:
    explicit FakeThreads(FakeClock& clock) : clock_(clock) {}
    ~FakeThreads() override;

    // Created threads are kept, not run, unless run_created is on; a test can
    // run a body itself with run(i).
    platform::Result<platform::ThreadInfo> create(std::function<void()> body) override;
    platform::Result<void> set_priority(platform::ThreadHandle h, int priority) override;
    platform::Result<int> get_priority(platform::ThreadHandle h) override;
    platform::Result<void> suspend(platform::ThreadHandle h) override;
    platform::Result<void> resume(platform::ThreadHandle h) override;
    void sleep_ms(std::int32_t ms) override;
    platform::Result<void> raise_timer_resolution() override { return {}; }

    void run(std::size_t i) { bodies.at(i)(); }
    void join_all();

    bool run_created = false;  // start a real std::thread for each body
    bool fail_priority = false;
    std::vector<std::function<void()>> bodies;
    std::map<platform::ThreadHandle, int> priorities;
    std::vector<std::string> calls;  // "suspend", "resume" in order
    std::vector<std::int32_t> sleeps;
    // A pause is slept in steps (an end asked for meanwhile is heard at the
    // next): the time slept, in all.
    std::int32_t slept_ms() const {
        std::int32_t ms = 0;
        for (std::int32_t s : sleeps) ms += s;
        return ms;
    }
    std::function<void(std::int32_t)> on_sleep;  // called after the clock moved

private:
    FakeClock& clock_;
    std::vector<std::thread> real_;
};

// Each way answers as set (refused unless told); the ways asked are recorded
// in order ("realtime critical", "broker high", "raise high", "lock").
class FakeScheduling : public platform::Scheduling {
public:
    platform::Result<std::string> realtime(platform::Urgency u) override { return ask("realtime", u, realtime_answer); }
    platform::Result<std::string> realtime_by_broker(platform::Urgency u) override { return ask("broker", u, broker_answer); }
    platform::Result<std::string> raise(platform::Urgency u) override { return ask("raise", u, raise_answer); }
    platform::Result<std::string> lock_memory() override { return ask("lock", std::nullopt, lock_answer); }
    std::string how_to_allow() override { return "ask the fake"; }

    platform::Result<std::string> realtime_answer = platform::not_supported("realtime");
    platform::Result<std::string> broker_answer = platform::not_supported("broker");
    platform::Result<std::string> raise_answer = platform::not_supported("raise");
    platform::Result<std::string> lock_answer = platform::not_supported("lock");
    std::vector<std::string> calls;

private:
    platform::Result<std::string> ask(const char* way, std::optional<platform::Urgency> u,
                                      const platform::Result<std::string>& answer) {
        std::lock_guard<std::mutex> g(mu_);
        calls.push_back(std::string(way) + (!u ? "" : *u == platform::Urgency::Critical ? " critical" : " high"));
        return answer;
    }
    std::mutex mu_;
};

// ---- serial ----------------------------------------------------------------

// One port's script: modem-status words that hold from a time on, and bytes
// that arrive at a time.
struct ScriptedPort {
    std::string name;                    // as listed, e.g. "COM3"
    bool openable = true;
    std::uint32_t initial_status = 0;
    std::vector<std::pair<std::int64_t, std::uint32_t>> status;  // (time us, word), in time order
    std::deque<std::pair<std::int64_t, char>> bytes;             // (time us, byte), in time order
    bool fail_status = false;
    bool fail_wait = false;
    bool fail_read = false;
    bool fail_set_state = false;
    platform::PortLatency latency;  // what tune_latency finds
};

class ScriptedSerial : public platform::SerialPorts {
public:
    explicit ScriptedSerial(FakeClock& clock) : clock_(clock) {}

    ScriptedPort& add_port(const std::string& name);
    ScriptedPort& port(const std::string& name);
    // The port a handle belongs to; nullptr when not open.
    ScriptedPort* by_handle(platform::PortHandle h);

    platform::Result<std::vector<std::string>> list_port_names() override;
    platform::Result<platform::PortHandle> open(const std::string& device) override;
    void close(platform::PortHandle h) override;
    platform::Result<platform::LineSettings> get_state(platform::PortHandle h) override;
    platform::Result<void> set_state(platform::PortHandle h, const platform::LineSettings& s) override;
    platform::Result<platform::Timeouts> get_timeouts(platform::PortHandle h) override;
    platform::Result<void> set_timeouts(platform::PortHandle h, const platform::Timeouts& t) override;
    platform::Result<void> set_mask(platform::PortHandle h, std::uint32_t mask) override;
    // Moves the clock to the next change of a masked line and returns its bits.
    platform::Result<std::uint32_t> wait_event(platform::PortHandle h) override;
    platform::Result<std::uint32_t> modem_status(platform::PortHandle h) override;
    // With a total time-out, waits (moving the clock) up to it for a byte.
    platform::Result<std::uint32_t> read(platform::PortHandle h, char* buf, std::uint32_t max) override;
    platform::Result<void> purge(platform::PortHandle h, std::uint32_t flags) override;
    platform::Result<void> flush(platform::PortHandle h) override;
    platform::PortLatency tune_latency(platform::PortHandle h) override;

    bool list_fails = false;
    std::vector<std::string> calls;  // "open COM3", "set_state 2400", "close COM3", ...
    std::map<platform::PortHandle, platform::LineSettings> states;
    std::map<platform::PortHandle, platform::Timeouts> timeouts;
    std::map<platform::PortHandle, std::uint32_t> masks;

    std::uint32_t status_at(const ScriptedPort& p, std::int64_t us) const;

private:
    FakeClock& clock_;
    std::vector<std::unique_ptr<ScriptedPort>> ports_;
    std::map<platform::PortHandle, ScriptedPort*> open_;
    std::map<platform::PortHandle, std::int64_t> reported_until_;
    platform::PortHandle next_handle_ = 100;
};

// ---- console ---------------------------------------------------------------

// Keys typed by the test. When the program looks for a key and none is
// queued, on_idle runs (it may type something); a program that keeps waiting
// with nothing to come is stopped with StalledInput.
struct StalledInput {};

class FakeConsole : public platform::Console {
public:
    platform::Result<void> open(int, int) override { opened = true; return {}; }
    void close() override { closed = true; }
    void write_cells(int, int, const platform::ConsoleCell*, int count) override { cells_written += count; }
    void set_cursor(int, int, bool) override {}
    void present() override {}
    bool key_waiting() override;
    int read_key() override;
    bool input_ended() override { return input_closed && keys.empty(); }

    void type(const std::string& keys);       // each byte is a key
    void type_line(const std::string& line);  // the line, then Enter
    void type_key(int code) { keys.push_back(code); }

    std::deque<int> keys;
    std::function<void()> on_idle;
    long idle_limit = 200000;  // empty polls in a row before StalledInput
    bool input_closed = false;  // no key comes after those in keys
    bool opened = false, closed = false;
    long cells_written = 0;

private:
    long idle_polls_ = 0;
};

// ---- keyboard and windows --------------------------------------------------

struct SentInput {
    std::int64_t time_us;
    platform::WindowHandle foreground;
    std::vector<platform::KeyInput> records;
};

class FakeWindows;

class RecordingKeyboard : public platform::Keyboard {
public:
    RecordingKeyboard(FakeClock& clock, FakeWindows* windows) : clock_(clock), windows_(windows) {}
    platform::Result<std::uint32_t> send_input(const platform::KeyInput* records, std::uint32_t count) override;
    // The characters typed, as the keys' virtual-key codes.
    std::string typed() const;
    std::vector<SentInput> sent;
    bool unsupported = false;

private:
    FakeClock& clock_;
    FakeWindows* windows_;
};

struct FakeWindow {
    platform::WindowHandle handle = 0;
    platform::WindowHandle parent = 0;  // 0: top level
    std::string title;
    std::string cls;
    std::uint32_t pid = 0;
    std::uint32_t tid = 0;
};

struct SentMessage {
    std::int64_t time_us;
    platform::WindowHandle window;
    std::uint32_t msg;
    std::uintptr_t wparam;
    std::intptr_t lparam;
};

class FakeWindows : public platform::Windows {
public:
    explicit FakeWindows(FakeClock& clock) : clock_(clock) {}

    // Windows are kept in Z order, first = topmost.
    platform::WindowHandle add_window(const std::string& title, const std::string& cls,
                                      std::uint32_t pid = 0, platform::WindowHandle parent = 0);
    void add_process(std::uint32_t pid, const std::string& exe);
    void remove_window(platform::WindowHandle w);

    platform::WindowHandle foreground() override { return foreground_window; }
    bool set_foreground(platform::WindowHandle w) override;
    platform::WindowHandle set_active(platform::WindowHandle w) override;
    platform::Result<void> enum_windows(const std::function<bool(platform::WindowHandle)>& visit) override;
    std::string window_text(platform::WindowHandle w, int max_chars) override;
    std::string class_name(platform::WindowHandle w, int max_chars) override;
    platform::WindowHandle desktop_window() override { return kDesktop; }
    platform::WindowHandle top_window(platform::WindowHandle parent) override;
    platform::WindowHandle next_window(platform::WindowHandle w, std::uint32_t cmd) override;
    std::uint32_t thread_process_id(platform::WindowHandle w, std::uint32_t* pid) override;
    platform::WindowHandle find_window(const char* cls, const char* title) override;
    platform::WindowHandle find_window_ex(platform::WindowHandle parent, platform::WindowHandle after,
                                          const char* cls, const char* title) override;
    bool show_window(platform::WindowHandle w, int cmd) override;
    std::intptr_t send_message(platform::WindowHandle w, std::uint32_t msg, std::uintptr_t wparam,
                               std::intptr_t lparam) override;
    platform::Result<std::vector<platform::ProcessEntry>> processes() override;

    static constexpr platform::WindowHandle kDesktop = 1;
    platform::WindowHandle foreground_window = 0;
    bool unsupported = false;
    bool foreground_follows_set = true;  // set_foreground really moves the focus
    std::vector<FakeWindow> windows;     // Z order
    std::vector<platform::ProcessEntry> procs;
    std::vector<SentMessage> messages;
    std::vector<std::string> calls;  // "set_foreground 7", "show_window 7 9", ...

private:
    const FakeWindow* find(platform::WindowHandle w) const;
    FakeClock& clock_;
    platform::WindowHandle next_ = 0x100;
};

// ---- waiting ---------------------------------------------------------------

// Waits move the fake clock: to the deadline, or to the arrival of the next
// scripted byte on the watched port when that comes first. A signal, or a
// key typed by the test, ends a wait at once. on_wait runs first, with the
// wait's deadline in microseconds; it may signal, type or move the clock.
class FakeWait : public platform::Wait {
public:
    FakeWait(FakeClock& clock, FakeConsole& console, ScriptedSerial& serial)
        : clock_(clock), console_(console), serial_(serial) {}

    void signal() override { ++signals; signalled = true; }
    void watch_port(platform::PortHandle h) override { port = h; }
    platform::Result<platform::Wake> wait_until(std::int64_t deadline, std::uint32_t sources, bool precise) override;
    void sleep_until(std::int64_t deadline) override;

    struct Call {
        std::int64_t deadline_us;
        std::uint32_t sources;
        bool precise;
    };
    std::vector<Call> calls;
    std::vector<std::int64_t> sleeps_until_us;
    std::function<void(const Call&)> on_wait;
    std::atomic<bool> signalled{false};
    std::atomic<int> signals{0};
    platform::PortHandle port = 0;
    bool fail = false;

private:
    std::int64_t to_us(std::int64_t ticks) const { return ticks * 1000000 / clock_.frequency(); }
    FakeClock& clock_;
    FakeConsole& console_;
    ScriptedSerial& serial_;
};

// ---- files -----------------------------------------------------------------

class FakeFiles : public platform::Files {
public:
    platform::Result<void> make_dir(const std::string& path) override;
    bool exists(const std::string& path) override;
    platform::Result<std::unique_ptr<platform::OutFile>> create(const std::string& path) override;
    platform::Result<std::string> read_all(const std::string& path) override;
    platform::Result<void> replace(const std::string& from, const std::string& to) override;
    platform::Result<void> remove(const std::string& path) override;
    platform::Result<void> redirect_stderr(const std::string& path) override;
    platform::LocalDateTime now() override { return date_time; }

    // Paths are kept as given ('/' separated, no leading "./").
    std::map<std::string, std::string> files;
    std::set<std::string> dirs;
    std::set<std::string> read_only_dirs;  // creating a file in them fails
    std::set<std::string> unreadable;
    long fail_writes_after = -1;  // bytes a created file takes before writes fail (-1: never)
    platform::LocalDateTime date_time{"2026-12-08", "04:45:00"};
    std::string stderr_path;
    std::vector<std::string> calls;

    static std::string norm(const std::string& path);
};

// ---- all of them -----------------------------------------------------------

struct FakePlatform {
    FakePlatform();
    FakeClock clock;
    FakeThreads threads{clock};
    ScriptedSerial serial{clock};
    FakeConsole console;
    FakeWindows windows{clock};
    RecordingKeyboard keyboard{clock, &windows};
    FakeFiles files;
    FakeProcess process;
    FakeEnding ending;
    FakeWait wait{clock, console, serial};
    FakeScheduling scheduling;
    platform::Platform plat;
};

// A fresh program on fake services, with its stopwatch started at 0 and a
// run log kept in the fake files as "logs/test.log".
struct Harness {
    Harness();
    ~Harness();
    // The program's state made afresh on fp, once a service has been swapped.
    void remake();
    FakePlatform fp;
    std::unique_ptr<Program> program_;
    Program& program() { return *program_; }
    // Everything the run log holds so far.
    std::string log() const;
};

// The serial thread's part done by hand: the lines at its start, then events.
void record_events(EventRing& ring, std::uint32_t start_status, std::initializer_list<LineEvent> events);

// A touch under way: n more rows counted, as normal strikes.
void ring_rows(Program& program, int n);

// The screen shows text at line/col (from 1), optionally all in one colour.
::testing::AssertionResult ScreenHas(const Screen& s, int line, int col, const std::string& text, int fg = -1);
// Number of times needle occurs in hay.
int count_of(const std::string& hay, const std::string& needle);

}  // namespace qn::test
