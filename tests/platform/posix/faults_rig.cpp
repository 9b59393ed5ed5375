#include "faults_rig.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "service/program.h"
#include "service/run_end.h"
#include "platform/platform.h"

extern char** environ;

namespace qn::faulttest {

namespace {

using posixtest::now_us;

std::string env_or(const char* name, const char* fallback = "") {
    const char* v = std::getenv(name);
    return v ? v : fallback;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// ---- the child: the program on the real services --------------------------------

// The console's cells as text, written to a file by a thread of its own a
// few times a second (and when the program ends), so that the test can look
// at the screen as a person does without slowing the program down.
class MirroredConsole : public platform::Console {
public:
    explicit MirroredConsole(std::string path) : path_(std::move(path)) {
        for (auto& row : rows_) row.assign(Screen::kCols, ' ');
        std::thread([this] {
            for (;;) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                dump();
            }
        }).detach();
    }
    platform::Result<void> open(int, int) override { return {}; }
    void close() override { dump(); }
    void write_cells(int row, int col, const platform::ConsoleCell* cells, int count) override {
        std::lock_guard<std::mutex> g(mu_);
        for (int i = 0; i < count && col + i < Screen::kCols; ++i)
            rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col + i)] = static_cast<char>(cells[i].ch);
        dirty_ = true;
    }
    void set_cursor(int, int, bool) override {}
    void present() override {}
    bool key_waiting() override {
        pollfd p{0, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
    }
    bool input_ended() override {  // the test closed its end of the key pipe
        pollfd p{0, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN);
    }
    int read_key() override {
        unsigned char ch = 0;
        for (;;) {
            ssize_t n = ::read(0, &ch, 1);
            if (n == 1) return ch;
            if (n == 0) std::this_thread::sleep_for(std::chrono::hours(1));  // nobody types any more
        }
    }
    std::string text() {
        std::lock_guard<std::mutex> g(mu_);
        std::string all;
        for (const auto& r : rows_) all += r + "\n";
        return all;
    }
    void dump() {
        std::string all;
        {
            std::lock_guard<std::mutex> g(mu_);
            if (!dirty_) return;
            dirty_ = false;
            for (const auto& r : rows_) all += r + "\n";
        }
        const std::string tmp = path_ + ".tmp";
        {
            std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
            out << all;
        }
        std::rename(tmp.c_str(), path_.c_str());
    }

private:
    std::string path_;
    std::mutex mu_;
    std::array<std::string, Screen::kRows> rows_;
    bool dirty_ = true;
};

// Each key sent becomes its character in a file, at once.
class RecordedKeyboard : public platform::Keyboard {
public:
    explicit RecordedKeyboard(const std::string& path)
        : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)) {}
    platform::Result<std::uint32_t> send_input(const platform::KeyInput* records, std::uint32_t count) override {
        for (std::uint32_t i = 0; i < count; ++i) {
            if (records[i].flags & platform::kKeyUp) continue;
            char ch = static_cast<char>(records[i].vk);
            if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
            (void)!::write(fd_, &ch, 1);
        }
        return count;
    }

private:
    int fd_;
};

// The real serial ports, with the test's pty links listed while they exist.
class ListedSerial : public platform::SerialPorts {
public:
    ListedSerial(platform::SerialPorts& real, std::vector<std::string> extra) : real_(real), extra_(std::move(extra)) {}
    platform::Result<std::vector<std::string>> list_port_names() override {
        std::vector<std::string> names;
        for (const std::string& p : extra_) {
            struct stat st {};
            if (::stat(p.c_str(), &st) == 0) names.push_back(p);
        }
        return names;
    }
    platform::Result<platform::PortHandle> open(const std::string& d) override { return real_.open(d); }
    void close(platform::PortHandle h) override { real_.close(h); }
    platform::Result<platform::LineSettings> get_state(platform::PortHandle h) override { return real_.get_state(h); }
    platform::Result<void> set_state(platform::PortHandle h, const platform::LineSettings& s) override {
        return real_.set_state(h, s);
    }
    platform::Result<platform::Timeouts> get_timeouts(platform::PortHandle h) override {
        return real_.get_timeouts(h);
    }
    platform::Result<void> set_timeouts(platform::PortHandle h, const platform::Timeouts& t) override {
        return real_.set_timeouts(h, t);
    }
    platform::Result<void> set_mask(platform::PortHandle h, std::uint32_t m) override { return real_.set_mask(h, m); }
    platform::Result<std::uint32_t> wait_event(platform::PortHandle h) override { return real_.wait_event(h); }
    platform::Result<std::uint32_t> modem_status(platform::PortHandle h) override { return real_.modem_status(h); }
    platform::Result<std::uint32_t> read(platform::PortHandle h, char* b, std::uint32_t n) override {
        return real_.read(h, b, n);
    }
    platform::Result<void> purge(platform::PortHandle h, std::uint32_t f) override { return real_.purge(h, f); }
    platform::Result<void> flush(platform::PortHandle h) override { return real_.flush(h); }

private:
    platform::SerialPorts& real_;
    std::vector<std::string> extra_;
};

MirroredConsole* g_console = nullptr;

// The last screen goes to standard output, then the process ends as the
// program's own exit does.
class ReportingProcess : public platform::Process {
public:
    [[noreturn]] void exit(int code) override {
        std::printf("--- screen\n%s--- exit=%d\n", g_console ? g_console->text().c_str() : "", code);
        std::fflush(nullptr);
        ::_exit(code);
    }
};

std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char ch : text) {
        if (ch == sep) {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += ch;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

int program_child() {
    const std::string dir = env_or("QN_TEST_DIR");
    if (::chdir(dir.c_str()) != 0) return 90;
    platform::Platform& native = platform::native_platform();
    // Never freed: the serial thread runs until the process ends.
    g_console = new MirroredConsole(dir + "/screen.txt");
    auto* plat = new platform::Platform(native);
    plat->console = g_console;
    plat->keyboard = new RecordedKeyboard(dir + "/keys.txt");
    plat->serial = new ListedSerial(*native.serial, split(env_or("QN_TEST_PORTS"), ','));
    plat->process = new ReportingProcess;
    Program* program = make_program(*plat).release();
    int code = quennick_main(*program, ProgramOptions{true, "."});
    program->ending->exit(code);
}

const posixtest::ChildRoutine program_routine("faults_program", program_child);

}  // namespace

// ---- the test's side ---------------------------------------------------------------

std::string settings_name() { return std::string(kProgramVersion) + ".ini"; }

std::string fixture(const std::string& name, const std::vector<std::pair<std::string, std::string>>& changes) {
    std::string text = slurp(std::string(QN_SOURCE_DIR) + "/tests/e2e/fixtures/" + name);
    if (text.empty()) throw std::runtime_error("no fixture " + name);
    for (const auto& [key, value] : changes) {
        const std::string head = "\r\n" + key + "=";
        std::size_t at = text.find(head);
        if (at == std::string::npos) throw std::runtime_error("fixture " + name + " has no line " + key);
        std::size_t end = text.find("\r\n", at + head.size());
        text.replace(at + head.size(), end - at - head.size(), value);
    }
    return text;
}

double cpu_seconds(pid_t pid) {
    std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
    std::size_t close = stat.rfind(") ");
    if (close == std::string::npos) return -1;
    std::istringstream fields(stat.substr(close + 2));
    std::string f;
    long long utime = 0, stime = 0;
    for (int i = 0; fields >> f; ++i) {  // field 3 (the state) is i = 0
        if (i == 11) utime = std::stoll(f);
        if (i == 12) {
            stime = std::stoll(f);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

ProgramRun::ProgramRun() {
    write("timeline", "# the shim's timeline\n");
    write("keys.txt", "");
}

ProgramRun::~ProgramRun() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
    }
    if (keys_in_ >= 0) ::close(keys_in_);
}

void ProgramRun::write(const std::string& name, const std::string& text) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out << text;
}

std::string ProgramRun::read(const std::string& name) const { return slurp(file(name)); }

std::string ProgramRun::add_port(bool bell) {
    if (bell) bell_ = ptys_.size();
    ptys_.push_back(std::make_unique<posixtest::PtyPair>());
    links_.push_back(file("ttyQN" + std::to_string(links_.size())));
    plug(links_.size() - 1);
    return links_.back();
}

void ProgramRun::hang_up(std::size_t i) {
    ::close(ptys_.at(i)->master);
    ptys_.at(i)->master = -1;
}

void ProgramRun::unplug(std::size_t i) const { ::unlink(links_.at(i).c_str()); }

void ProgramRun::plug(std::size_t i) const {
    if (::symlink(ptys_.at(i)->slave_path.c_str(), links_.at(i).c_str()) != 0)
        throw std::runtime_error("symlink " + links_.at(i));
}

void ProgramRun::lines(const std::string& entries) const {
    std::ofstream f(file("timeline"), std::ios::app);
    f << entries;  // one write, on close: the shim never sees half of it
}

void ProgramRun::ring_strokes(int strokes, int interval_ms, int lead_ms) const {
    std::string e;
    for (int i = 0; i < strokes; ++i) {
        for (int sensor = 0; sensor < 2; ++sensor) {
            long long on = (lead_ms + i * interval_ms + sensor * 150) * 1000LL;
            e += "+" + std::to_string(on) + " 32\n+" + std::to_string(on + 50000) + " 0\n";
        }
    }
    lines(e);
}

void ProgramRun::ring_box(char ch, int strikes, int interval_ms, int lead_ms, int port) const {
    const std::int64_t start = now_us() + lead_ms * 1000LL;
    for (int i = 0; i < strikes; ++i) {
        std::int64_t left = start + i * interval_ms * 1000LL - now_us();
        if (left > 0) std::this_thread::sleep_for(std::chrono::microseconds(left));
        (void)!::write(peer(port < 0 ? bell_ : static_cast<std::size_t>(port)), &ch, 1);
    }
}

void ProgramRun::start() {
    int keys[2];
    if (::pipe2(keys, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
    keys_in_ = keys[1];
    int out = ::open(file("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::string ports;
    for (const std::string& l : links_) ports += l + ",";
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        if (entry.rfind("QN_", 0) == 0 || entry.rfind("LD_PRELOAD=", 0) == 0 || entry.rfind("ASAN_OPTIONS=", 0) == 0)
            continue;
        env.push_back(entry);
    }
    env.push_back("QN_POSIX_CHILD=faults_program");
    env.push_back("QN_TEST_DIR=" + folder());
    env.push_back("QN_TEST_PORTS=" + ports);
    env.push_back(std::string("LD_PRELOAD=") + QN_SHIM_PATH);
    env.push_back("QN_SHIM_TIMELINE=" + file("timeline"));
    if (!ptys_.empty()) env.push_back("QN_SHIM_DEV=" + ptys_.at(bell_)->slave_path);
    env.push_back("ASAN_OPTIONS=handle_segv=0:handle_abort=0:verify_asan_link_order=0");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, keys[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, out, 2);
    std::string exe = "/proc/self/exe", filter = "--gtest_filter=NoSuchTest.ForChildProcess";
    char* argv[] = {exe.data(), filter.data(), nullptr};
    int rc = posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(keys[0]);
    ::close(out);
    if (rc != 0) throw std::runtime_error("posix_spawn");
}

bool ProgramRun::running() {
    if (reaped_) return false;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return !reaped_;
}

std::string ProgramRun::screen() const { return read("screen.txt"); }

bool ProgramRun::wait_for(const std::string& text, int timeout_ms) {
    const std::int64_t end = now_us() + timeout_ms * 1000LL;
    while (now_us() < end) {
        if (screen().find(text) != std::string::npos) return true;
        if (!running()) return screen().find(text) != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    return false;
}

void ProgramRun::type(const std::string& keys) const {
    for (char ch : keys) {
        (void)!::write(keys_in_, &ch, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
}

std::string ProgramRun::keys() const { return read("keys.txt"); }

void ProgramRun::end_keys() {
    ::close(keys_in_);
    keys_in_ = -1;
}

int ProgramRun::wait_exit(int timeout_ms) {
    const std::int64_t end = now_us() + timeout_ms * 1000LL;
    while (running()) {
        if (now_us() > end) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
            reaped_ = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

std::string ProgramRun::log() const {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path newest;
    for (const auto& e : fs::directory_iterator(file("logs"), ec)) {
        if (e.path().extension() != ".log") continue;
        if (newest.empty() || e.last_write_time() > fs::last_write_time(newest)) newest = e.path();
    }
    if (newest.empty()) return {};
    const std::string text = slurp(newest.string());
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

}  // namespace qn::faulttest
