#include "posix_test_util.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace qn::posixtest {

std::int64_t now_us() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

TempDir::TempDir() {
    char templ[] = "/tmp/qn_posix_XXXXXX";
    if (mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    nftw(
        path_.c_str(),
        [](const char* p, const struct stat*, int, FTW*) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

PtyPair::PtyPair() {
    char name[256];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    slave_path = name;
}

PtyPair::~PtyPair() {
    if (slave >= 0) ::close(slave);
    if (master >= 0) ::close(master);
}

ChildRoutine::ChildRoutine(const char* name, int (*fn)()) {
    const char* wanted = std::getenv("QN_POSIX_CHILD");
    if (wanted == nullptr || std::strcmp(wanted, name) != 0) return;
    unsetenv("QN_POSIX_CHILD");
    int code = fn();
    std::fflush(stdout);
    std::exit(code);
}

namespace {

std::vector<std::string> child_environment(const std::string& name,
                                           const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    auto overridden = [&](const std::string& entry) {
        auto key = entry.substr(0, entry.find('=') + 1);
        if (key == "QN_POSIX_CHILD=" || key == "ASAN_OPTIONS=") return true;
        for (const auto& e : extra)
            if (e.compare(0, key.size(), key) == 0) return true;
        return false;
    };
    for (char** e = environ; *e != nullptr; ++e)
        if (!overridden(*e)) env.emplace_back(*e);
    env.insert(env.end(), extra.begin(), extra.end());
    env.push_back("QN_POSIX_CHILD=" + name);
    // For sanitizer builds: the children die of their own signals, and the
    // shim comes before the sanitizer runtime.
    env.push_back("ASAN_OPTIONS=handle_segv=0:handle_abort=0:verify_asan_link_order=0");
    return env;
}

std::map<std::string, std::string> parse_values(const std::string& out) {
    std::map<std::string, std::string> values;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(start, end - start);
        auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return values;
}

}  // namespace

ChildResult run_child(const std::string& name, const ChildOptions& options) {
    ChildResult result;
    int out_pipe[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.stdin_fd >= 0) posix_spawn_file_actions_adddup2(&actions, options.stdin_fd, 0);
    if (options.stdout_fd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, options.stdout_fd, 1);
    } else {
        if (pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
        posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    }
    std::vector<std::string> env = child_environment(name, options.env);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    // A name no routine knows must not run the whole suite again.
    std::string exe = "/proc/self/exe", filter = "--gtest_filter=NoSuchTest.ForChildProcess";
    char* argv[] = {exe.data(), filter.data(), nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (out_pipe[1] >= 0) ::close(out_pipe[1]);
    if (rc != 0) {
        if (out_pipe[0] >= 0) ::close(out_pipe[0]);
        throw std::runtime_error("posix_spawn failed");
    }
    std::int64_t deadline = now_us() + std::int64_t{options.timeout_ms} * 1000;
    if (out_pipe[0] >= 0) {
        for (;;) {
            int left = static_cast<int>((deadline - now_us()) / 1000);
            if (left <= 0) break;
            pollfd pfd{out_pipe[0], POLLIN, 0};
            if (::poll(&pfd, 1, left) <= 0) continue;
            char buf[4096];
            ssize_t n = ::read(out_pipe[0], buf, sizeof buf);
            if (n <= 0) break;
            result.out.append(buf, static_cast<std::size_t>(n));
        }
        ::close(out_pipe[0]);
    }
    for (;;) {
        pid_t done = waitpid(pid, &result.status, WNOHANG);
        if (done == pid) break;
        if (now_us() > deadline) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            waitpid(pid, &result.status, 0);
            break;
        }
        usleep(1000);
    }
    result.values = parse_values(result.out);
    return result;
}

std::string drain(int fd, int timeout_ms) {
    std::string out;
    std::int64_t deadline = now_us() + std::int64_t{timeout_ms} * 1000;
    for (;;) {
        int left = static_cast<int>((deadline - now_us()) / 1000);
        if (left < 0) left = 0;
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, left) <= 0) break;
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
        // Keep reading while it flows: a pty hands output over on a kernel
        // worker, which a busy machine can hold up between two pieces.
        deadline = std::min(deadline, now_us() + 100000);
    }
    return out;
}

}  // namespace qn::posixtest
