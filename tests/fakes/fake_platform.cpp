#include "fakes/fake_platform.h"

#include <algorithm>
#include <stdexcept>

#include "core/timing.h"

namespace qn::test {

using platform::Result;

// ---- threads ---------------------------------------------------------------

FakeThreads::~FakeThreads() { join_all(); }

void FakeThreads::join_all() {
    for (auto& t : real_)
        if (t.joinable()) t.join();
}

Result<platform::ThreadInfo> FakeThreads::create(std::function<void()> body) {
    bodies.push_back(body);
    platform::ThreadInfo info{bodies.size(), static_cast<std::uint32_t>(1000 + bodies.size())};
    priorities[info.handle] = platform::kPriorityNormal;
    if (run_created) real_.emplace_back(std::move(body));
    return info;
}

Result<void> FakeThreads::set_priority(platform::ThreadHandle h, int priority) {
    if (fail_priority) return platform::fail("SetThreadPriority: Operation not permitted");
    priorities[h] = priority;
    return {};
}

Result<int> FakeThreads::get_priority(platform::ThreadHandle h) { return priorities[h]; }

Result<void> FakeThreads::suspend(platform::ThreadHandle) {
    calls.push_back("suspend");
    return {};
}

Result<void> FakeThreads::resume(platform::ThreadHandle) {
    calls.push_back("resume");
    return {};
}

void FakeThreads::sleep_ms(std::int32_t ms) {
    sleeps.push_back(ms);
    if (ms > 0) clock_.advance_ms(ms);
    if (on_sleep) on_sleep(ms);
}

// ---- serial ----------------------------------------------------------------

static std::string strip_device(const std::string& device) {
    const std::string prefix = "\\\\.\\";
    if (device.rfind(prefix, 0) == 0) return device.substr(prefix.size());
    return device;
}

ScriptedPort& ScriptedSerial::add_port(const std::string& name) {
    ports_.push_back(std::make_unique<ScriptedPort>());
    ports_.back()->name = name;
    return *ports_.back();
}

ScriptedPort& ScriptedSerial::port(const std::string& name) {
    for (auto& p : ports_)
        if (p->name == name) return *p;
    throw std::logic_error("no scripted port " + name);
}

ScriptedPort* ScriptedSerial::by_handle(platform::PortHandle h) {
    auto it = open_.find(h);
    return it == open_.end() ? nullptr : it->second;
}

Result<std::vector<std::string>> ScriptedSerial::list_port_names() {
    if (list_fails) return platform::fail("RegOpenKeyEx: The system cannot find the file specified");
    std::vector<std::string> names;
    for (auto& p : ports_) names.push_back(p->name);
    return names;
}

Result<platform::PortHandle> ScriptedSerial::open(const std::string& device) {
    std::string name = strip_device(device);
    calls.push_back("open " + name);
    for (auto& p : ports_) {
        if (p->name != name) continue;
        if (!p->openable) return platform::fail("CreateFile " + device + ": Access is denied");
        for (auto& [h, q] : open_)
            if (q == p.get()) return platform::fail("CreateFile " + device + ": Access is denied");
        platform::PortHandle h = next_handle_++;
        open_[h] = p.get();
        return h;
    }
    return platform::fail("CreateFile " + device + ": The system cannot find the file specified");
}

void ScriptedSerial::close(platform::PortHandle h) {
    if (auto* p = by_handle(h)) calls.push_back("close " + p->name);
    open_.erase(h);
}

Result<platform::LineSettings> ScriptedSerial::get_state(platform::PortHandle h) {
    if (!by_handle(h)) return platform::fail("GetCommState: The handle is invalid");
    return states[h];
}

Result<void> ScriptedSerial::set_state(platform::PortHandle h, const platform::LineSettings& s) {
    auto* p = by_handle(h);
    if (!p) return platform::fail("SetCommState: The handle is invalid");
    if (p->fail_set_state) return platform::fail("SetCommState: The parameter is incorrect");
    states[h] = s;
    calls.push_back("set_state " + p->name + " " + std::to_string(s.baud));
    return {};
}

Result<platform::Timeouts> ScriptedSerial::get_timeouts(platform::PortHandle h) {
    if (!by_handle(h)) return platform::fail("GetCommTimeouts: The handle is invalid");
    return timeouts[h];
}

Result<void> ScriptedSerial::set_timeouts(platform::PortHandle h, const platform::Timeouts& t) {
    if (!by_handle(h)) return platform::fail("SetCommTimeouts: The handle is invalid");
    timeouts[h] = t;
    return {};
}

Result<void> ScriptedSerial::set_mask(platform::PortHandle h, std::uint32_t mask) {
    if (!by_handle(h)) return platform::fail("SetCommMask: The handle is invalid");
    masks[h] = mask;
    reported_until_[h] = clock_.now_us();  // setting the mask clears the history
    return {};
}

std::uint32_t ScriptedSerial::status_at(const ScriptedPort& p, std::int64_t us) const {
    std::uint32_t w = p.initial_status;
    for (auto& [t, word] : p.status) {
        if (t > us) break;
        w = word;
    }
    return w;
}

static std::uint32_t events_between(std::uint32_t before, std::uint32_t after, std::uint32_t mask) {
    std::uint32_t diff = before ^ after, ev = 0;
    if ((diff & platform::kLineCts) && (mask & platform::kEventCts)) ev |= platform::kEventCts;
    if ((diff & platform::kLineDsr) && (mask & platform::kEventDsr)) ev |= platform::kEventDsr;
    if ((diff & platform::kLineCd) && (mask & platform::kEventCd)) ev |= platform::kEventCd;
    if ((diff & platform::kLineRi) && (mask & platform::kEventRi)) ev |= platform::kEventRi;
    return ev;
}

// Like the Windows serial driver, changes that happened while no wait was
// pending are remembered: a wait returns at once with them.
Result<std::uint32_t> ScriptedSerial::wait_event(platform::PortHandle h) {
    auto* p = by_handle(h);
    if (!p) return platform::fail("WaitCommEvent: The handle is invalid");
    if (p->fail_wait) return platform::fail("WaitCommEvent: The device does not recognize the command");
    std::int64_t now = clock_.now_us();
    std::uint32_t mask = masks[h];
    std::int64_t from = reported_until_.count(h) ? reported_until_[h] : now;
    std::uint32_t prev = status_at(*p, from);
    std::uint32_t pending = 0;
    for (auto& [t, word] : p->status) {
        if (t <= from) continue;
        std::uint32_t ev = events_between(prev, word, mask);
        prev = word;
        if (t <= now) {
            pending |= ev;
            continue;
        }
        if (pending) break;
        if (ev) {
            clock_.set_us(t);
            reported_until_[h] = t;
            return ev;
        }
    }
    if (pending) {
        reported_until_[h] = now;
        return pending;
    }
    return platform::fail("WaitCommEvent: script has no more line changes");
}

Result<std::uint32_t> ScriptedSerial::modem_status(platform::PortHandle h) {
    auto* p = by_handle(h);
    if (!p) return platform::fail("GetCommModemStatus: The handle is invalid");
    if (p->fail_status) return platform::fail("GetCommModemStatus: The device is not ready");
    return status_at(*p, clock_.now_us());
}

Result<std::uint32_t> ScriptedSerial::read(platform::PortHandle h, char* buf, std::uint32_t max) {
    auto* p = by_handle(h);
    if (!p) return platform::fail("ReadFile: The handle is invalid");
    if (p->fail_read) return platform::fail("ReadFile: The device is not connected.");
    if (max == 0) return 0u;
    std::int64_t now = clock_.now_us();
    const platform::Timeouts& t = timeouts[h];
    bool immediate = t.read_interval == platform::kTimeoutMax && t.read_total_constant == 0 &&
                     t.read_total_multiplier == 0;
    std::int64_t limit = immediate ? now : now + static_cast<std::int64_t>(t.read_total_constant) * 1000;
    if (!p->bytes.empty() && p->bytes.front().first <= limit) {
        if (p->bytes.front().first > now) clock_.set_us(p->bytes.front().first);
        buf[0] = p->bytes.front().second;
        p->bytes.pop_front();
        return 1u;
    }
    if (limit > now) clock_.set_us(limit);
    return 0u;
}

Result<void> ScriptedSerial::purge(platform::PortHandle h, std::uint32_t flags) {
    auto* p = by_handle(h);
    if (!p) return platform::fail("PurgeComm: The handle is invalid");
    calls.push_back("purge " + p->name + " " + std::to_string(flags));
    if (flags & platform::kPurgeRxClear) {
        std::int64_t now = clock_.now_us();
        while (!p->bytes.empty() && p->bytes.front().first <= now) p->bytes.pop_front();
    }
    return {};
}

platform::PortLatency ScriptedSerial::tune_latency(platform::PortHandle h) {
    auto* p = by_handle(h);
    return p ? p->latency : platform::PortLatency{};
}

Result<void> ScriptedSerial::flush(platform::PortHandle h) {
    auto* p = by_handle(h);
    if (!p) return platform::fail("FlushFileBuffers: The handle is invalid");
    calls.push_back("flush " + p->name);
    return {};
}

// ---- console ---------------------------------------------------------------

bool FakeConsole::key_waiting() {
    if (keys.empty() && on_idle) on_idle();
    if (!keys.empty()) {
        idle_polls_ = 0;
        return true;
    }
    if (++idle_polls_ > idle_limit) throw StalledInput{};
    return false;
}

int FakeConsole::read_key() {
    while (keys.empty()) {
        if (on_idle) on_idle();
        if (keys.empty() && ++idle_polls_ > idle_limit) throw StalledInput{};
    }
    idle_polls_ = 0;
    int k = keys.front();
    keys.pop_front();
    return k;
}

void FakeConsole::type(const std::string& s) {
    for (unsigned char ch : s) keys.push_back(ch);
}

void FakeConsole::type_line(const std::string& line) {
    type(line);
    keys.push_back('\r');
}

// ---- keyboard --------------------------------------------------------------

Result<std::uint32_t> RecordingKeyboard::send_input(const platform::KeyInput* records, std::uint32_t count) {
    if (unsupported) return platform::not_supported("SendInput");
    SentInput s{clock_.now_us(), windows_ ? windows_->foreground_window : 0,
                std::vector<platform::KeyInput>(records, records + count)};
    sent.push_back(std::move(s));
    return count;
}

std::string RecordingKeyboard::typed() const {
    std::string out;
    for (auto& s : sent)
        for (auto& r : s.records)
            if (!(r.flags & platform::kKeyUp)) {
                if (r.vk == 0xBD) out.push_back('-');
                else if (r.vk == 0xBB) out.push_back('=');
                else out.push_back(static_cast<char>(r.vk));
            }
    return out;
}

// ---- windows ---------------------------------------------------------------

platform::WindowHandle FakeWindows::add_window(const std::string& title, const std::string& cls,
                                               std::uint32_t pid, platform::WindowHandle parent) {
    FakeWindow w;
    w.handle = next_++;
    w.parent = parent;
    w.title = title;
    w.cls = cls;
    w.pid = pid;
    w.tid = pid ? pid + 1 : 0;
    windows.push_back(w);
    return w.handle;
}

void FakeWindows::add_process(std::uint32_t pid, const std::string& exe) { procs.push_back({pid, exe}); }

void FakeWindows::remove_window(platform::WindowHandle h) {
    windows.erase(std::remove_if(windows.begin(), windows.end(),
                                 [&](const FakeWindow& w) { return w.handle == h; }),
                  windows.end());
}

const FakeWindow* FakeWindows::find(platform::WindowHandle h) const {
    for (auto& w : windows)
        if (w.handle == h) return &w;
    return nullptr;
}

bool FakeWindows::set_foreground(platform::WindowHandle w) {
    calls.push_back("set_foreground " + std::to_string(w));
    if (!find(w)) return false;
    if (foreground_follows_set) foreground_window = w;
    return true;
}

platform::WindowHandle FakeWindows::set_active(platform::WindowHandle w) {
    calls.push_back("set_active " + std::to_string(w));
    return 0;
}

Result<void> FakeWindows::enum_windows(const std::function<bool(platform::WindowHandle)>& visit) {
    if (unsupported) return platform::not_supported("EnumWindows");
    std::vector<platform::WindowHandle> top;
    for (auto& w : windows)
        if (w.parent == 0) top.push_back(w.handle);
    for (auto h : top)
        if (!visit(h)) break;
    return {};
}

std::string FakeWindows::window_text(platform::WindowHandle h, int max_chars) {
    const FakeWindow* w = find(h);
    if (!w || max_chars <= 0) return {};
    return w->title.substr(0, static_cast<std::size_t>(max_chars - 1));
}

std::string FakeWindows::class_name(platform::WindowHandle h, int max_chars) {
    const FakeWindow* w = find(h);
    if (!w || max_chars <= 0) return {};
    return w->cls.substr(0, static_cast<std::size_t>(max_chars - 1));
}

platform::WindowHandle FakeWindows::top_window(platform::WindowHandle parent) {
    platform::WindowHandle want = parent == kDesktop ? 0 : parent;
    for (auto& w : windows)
        if (w.parent == want) return w.handle;
    return 0;
}

platform::WindowHandle FakeWindows::next_window(platform::WindowHandle h, std::uint32_t) {
    const FakeWindow* cur = find(h);
    if (!cur) return 0;
    bool seen = false;
    for (auto& w : windows) {
        if (seen && w.parent == cur->parent) return w.handle;
        if (w.handle == h) seen = true;
    }
    return 0;
}

std::uint32_t FakeWindows::thread_process_id(platform::WindowHandle h, std::uint32_t* pid) {
    const FakeWindow* w = find(h);
    if (pid) *pid = w ? w->pid : 0;
    return w ? w->tid : 0;
}

// A class name, even an empty one, must match exactly: FindWindow("", NULL)
// finds no window (a NULL class is the one that stands for any class).
platform::WindowHandle FakeWindows::find_window(const char* cls, const char* title) {
    for (auto& w : windows) {
        if (w.parent != 0) continue;
        if (cls && w.cls != cls) continue;
        if (title && w.title != title) continue;
        return w.handle;
    }
    return 0;
}

platform::WindowHandle FakeWindows::find_window_ex(platform::WindowHandle parent, platform::WindowHandle after,
                                                   const char* cls, const char* title) {
    platform::WindowHandle want = (parent == 0 || parent == kDesktop) ? 0 : parent;
    bool started = after == 0;
    for (auto& w : windows) {
        if (w.parent != want) continue;
        if (!started) {
            if (w.handle == after) started = true;
            continue;
        }
        if (cls && w.cls != cls) continue;
        if (title && w.title != title) continue;
        return w.handle;
    }
    return 0;
}

bool FakeWindows::show_window(platform::WindowHandle w, int cmd) {
    calls.push_back("show_window " + std::to_string(w) + " " + std::to_string(cmd));
    return find(w) != nullptr;
}

std::intptr_t FakeWindows::send_message(platform::WindowHandle w, std::uint32_t msg, std::uintptr_t wparam,
                                        std::intptr_t lparam) {
    messages.push_back({clock_.now_us(), w, msg, wparam, lparam});
    return 0;
}

Result<std::vector<platform::ProcessEntry>> FakeWindows::processes() {
    if (unsupported) return platform::not_supported("CreateToolhelp32Snapshot");
    return procs;
}

// ---- files -----------------------------------------------------------------

std::string FakeFiles::norm(const std::string& path) {
    std::string p = path;
    std::replace(p.begin(), p.end(), '\\', '/');
    while (p.rfind("./", 0) == 0) p = p.substr(2);
    return p;
}

static std::string dir_of(const std::string& p) {
    auto pos = p.rfind('/');
    return pos == std::string::npos ? "" : p.substr(0, pos);
}

namespace {
class FakeOutFile : public platform::OutFile {
public:
    FakeOutFile(FakeFiles& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
    Result<void> write(std::string_view bytes) override {
        if (closed_) return platform::fail("WriteFile: file closed");
        if (fs_.fail_writes_after >= 0) {
            if (static_cast<long>(written_ + bytes.size()) > fs_.fail_writes_after)
                return platform::fail("WriteFile " + path_ + ": There is not enough space on the disk");
        }
        fs_.files[path_].append(bytes);
        written_ += bytes.size();
        return {};
    }
    Result<void> flush() override { return {}; }
    Result<void> sync() override { return {}; }
    Result<void> close() override {
        closed_ = true;
        return {};
    }

private:
    FakeFiles& fs_;
    std::string path_;
    std::size_t written_ = 0;
    bool closed_ = false;
};
}  // namespace

Result<void> FakeFiles::make_dir(const std::string& path) {
    calls.push_back("make_dir " + norm(path));
    dirs.insert(norm(path));
    return {};
}

bool FakeFiles::exists(const std::string& path) {
    std::string p = norm(path);
    return files.count(p) || dirs.count(p);
}

Result<std::unique_ptr<platform::OutFile>> FakeFiles::create(const std::string& path) {
    std::string p = norm(path);
    calls.push_back("create " + p);
    if (read_only_dirs.count(dir_of(p))) return platform::fail("CreateFile " + path + ": Access is denied");
    std::string d = dir_of(p);
    if (!d.empty() && !dirs.count(d)) return platform::fail("CreateFile " + path + ": The system cannot find the path specified");
    files[p].clear();
    return std::unique_ptr<platform::OutFile>(new FakeOutFile(*this, p));
}

Result<std::string> FakeFiles::read_all(const std::string& path) {
    std::string p = norm(path);
    if (unreadable.count(p)) return platform::fail("CreateFile " + path + ": Access is denied");
    auto it = files.find(p);
    if (it == files.end()) return platform::fail("CreateFile " + path + ": The system cannot find the file specified");
    return it->second;
}

Result<void> FakeFiles::replace(const std::string& from, const std::string& to) {
    std::string f = norm(from), t = norm(to);
    calls.push_back("replace " + f + " " + t);
    auto it = files.find(f);
    if (it == files.end()) return platform::fail("MoveFileEx " + from + ": The system cannot find the file specified");
    files[t] = it->second;
    files.erase(f);
    return {};
}

Result<void> FakeFiles::remove(const std::string& path) {
    calls.push_back("remove " + norm(path));
    files.erase(norm(path));
    return {};
}

Result<void> FakeFiles::redirect_stderr(const std::string& path) {
    stderr_path = norm(path);
    return {};
}

// ---- platform and harness ---------------------------------------------------

// ---- waiting ---------------------------------------------------------------

Result<platform::Wake> FakeWait::wait_until(std::int64_t deadline, std::uint32_t sources, bool precise) {
    const Call call{to_us(deadline), sources, precise};
    calls.push_back(call);
    if (on_wait) on_wait(call);
    if (fail) return platform::fail("ppoll: Bad file descriptor");
    const std::int64_t now = clock_.ticks();
    if ((sources & platform::kWakeEvent) && signalled.exchange(false)) return platform::Wake{platform::kWakeEvent, now};
    if ((sources & platform::kWakeConsole) && !console_.keys.empty()) return platform::Wake{platform::kWakeConsole, now};
    // A port this fake cannot see into, or one whose reads fail (pulled
    // out: a real wait leaves a descriptor in error out), is to be looked at
    // whenever the wait ends.
    bool blind = false;
    if (sources & platform::kWakePort) {
        ScriptedPort* p = port != 0 ? serial_.by_handle(port) : nullptr;
        blind = !p || p->fail_read;
        if (!blind && !p->bytes.empty()) {
            const std::int64_t arrival = p->bytes.front().first * clock_.frequency() / 1000000;
            if (arrival <= deadline) {
                if (arrival > now) clock_.set_ticks(arrival);
                return platform::Wake{platform::kWakePort, clock_.ticks()};
            }
        }
    }
    if (deadline > now) clock_.set_ticks(deadline);
    return platform::Wake{blind ? platform::kWakePort : 0u, clock_.ticks()};
}

void FakeWait::sleep_until(std::int64_t deadline) {
    sleeps_until_us.push_back(to_us(deadline));
    if (deadline > clock_.ticks()) clock_.set_ticks(deadline);
}

FakePlatform::FakePlatform() {
    plat.wait = &wait;
    plat.clock = &clock;
    plat.threads = &threads;
    plat.serial = &serial;
    plat.console = &console;
    plat.keyboard = &keyboard;
    plat.windows = &windows;
    plat.files = &files;
    plat.process = &process;
    plat.scheduling = &scheduling;
    plat.ending = &ending;
}

Harness::Harness() { remake(); }

void Harness::remake() {
    program_ = make_program(fp.plat);
    program_->clock.start();
    // Make the stopwatch read exactly the fake clock's microseconds.
    program_->clock.stopwatch()->clear();
    fp.clock.set_us(0);
    program_->clock.stopwatch()->start();
    fp.files.dirs.insert("logs");
    auto f = fp.files.create("logs/test.log");
    program_->run_log.adopt(std::move(f.value()));
    fp.threads.sleeps.clear();
}

Harness::~Harness() = default;

void record_events(EventRing& ring, std::uint32_t start_status, std::initializer_list<LineEvent> events) {
    ring.begin({0, start_status, EventShape::Startup});
    for (const LineEvent& e : events) {
        ring.next() = e;
        ring.publish();
    }
}

std::string Harness::log() const {
    auto it = fp.files.files.find("logs/test.log");
    return it == fp.files.files.end() ? std::string() : it->second;
}

void ring_rows(Program& program, int n) {
    for (int i = 0; i < n; ++i) program.strikes->rows().count(Spacing::Normal, false);
}

::testing::AssertionResult ScreenHas(const Screen& s, int line, int col, const std::string& text, int fg) {
    std::string got = s.text(line, col, static_cast<int>(text.size()));
    if (got != text)
        return ::testing::AssertionFailure() << "line " << line << " col " << col << " shows \"" << got
                                             << "\", expected \"" << text << "\"; the line is \""
                                             << s.line_text(line) << "\"";
    if (fg >= 0)
        for (int i = 0; i < static_cast<int>(text.size()); ++i)
            if (s.at(line, col + i).fg != fg)
                return ::testing::AssertionFailure() << "colour " << int(s.at(line, col + i).fg) << " at col "
                                                     << col + i << ", expected " << fg;
    return ::testing::AssertionSuccess();
}

int count_of(const std::string& hay, const std::string& needle) {
    int n = 0;
    for (std::size_t pos = hay.find(needle); pos != std::string::npos; pos = hay.find(needle, pos + needle.size())) ++n;
    return n;
}

}  // namespace qn::test
