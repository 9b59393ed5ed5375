// The live suite's rig: the tests' tower server and its listener as child
// processes (Debian's python3-socketio, run with /usr/bin/python3), a test
// certificate authority from scripts/lib/throwaway-ca.sh, and the JSON lines they
// write.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace qn::livetest {

using Json = nlohmann::json;
using namespace std::chrono_literals;

inline std::string source(const std::string& rel) { return std::string(QN_SOURCE_DIR) + "/" + rel; }

inline std::int64_t mono_us() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/qn-link-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { (void)std::system(("rm -rf '" + path + "'").c_str()); }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

// A child process whose standard output is read line by line.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
          const std::string& err = "/dev/null") {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (e >= 0) dup2(e, 2);
            close(fds[0]);
            close(fds[1]);
            for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
            std::vector<char*> args;
            for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        close(fds[1]);
        out_ = fdopen(fds[0], "r");
    }
    ~Child() { kill(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line of output (without its end); empty at its end.
    std::string line() {
        char buf[4096];
        if (!out_ || !fgets(buf, sizeof buf, out_)) return {};
        std::string s = buf;
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        return s;
    }
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        if (out_) {
            fclose(out_);
            out_ = nullptr;
        }
    }
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
};

struct ServerOptions {
    std::string towers = "123456789:8";
    std::vector<std::string> users;  // "email:password"
    double ping_interval_s = 25, ping_timeout_s = 20;
    std::string cert, key;  // TLS when set
    std::string events;     // event log file
    std::string hostile;    // frames file
    int delay_ms = 0;       // each way
    std::vector<std::int64_t> host_mode;  // towers in host mode, a host in each
    int port = 0;
};

class TowerServer {
public:
    explicit TowerServer(const ServerOptions& o) {
        std::vector<std::string> argv{"/usr/bin/python3", source("tests/link/tower_server.py"), "--port",
                                      std::to_string(o.port), "--towers", o.towers, "--ping-interval",
                                      std::to_string(o.ping_interval_s), "--ping-timeout",
                                      std::to_string(o.ping_timeout_s)};
        for (const std::string& u : o.users) argv.insert(argv.end(), {"--user", u});
        if (!o.cert.empty()) argv.insert(argv.end(), {"--cert", o.cert, "--key", o.key});
        if (!o.events.empty()) argv.insert(argv.end(), {"--events", o.events});
        if (!o.hostile.empty()) argv.insert(argv.end(), {"--hostile", o.hostile});
        if (o.delay_ms > 0) argv.insert(argv.end(), {"--delay-ms", std::to_string(o.delay_ms)});
        for (std::int64_t t : o.host_mode) argv.insert(argv.end(), {"--host-mode", std::to_string(t)});
        child_ = std::make_unique<Child>(argv, std::vector<std::string>{},
                                         o.events.empty() ? "/dev/null" : o.events + ".stderr");
        const std::string first = child_->line();
        if (first.rfind("PORT=", 0) == 0) port = std::stoi(first.substr(5));
        tls = !o.cert.empty();
    }
    std::string site() const { return std::string(tls ? "https" : "http") + "://localhost:" + std::to_string(port); }
    void kill() { child_->kill(); }

    int port = 0;
    bool tls = false;

private:
    std::unique_ptr<Child> child_;
};

// A listener in the tower; ready once it has joined.
class Observer {
public:
    Observer(const std::string& site, std::int64_t tower, const std::string& out, const std::string& cert_file) {
        std::vector<std::string> env;
        if (!cert_file.empty()) env.push_back("SSL_CERT_FILE=" + cert_file);
        child_ = std::make_unique<Child>(std::vector<std::string>{"/usr/bin/python3",
                                                                  source("tests/link/tower_observer.py"), "--url", site,
                                                                  "--tower", std::to_string(tower), "--out", out},
                                         env);
        ready = child_->line() == "READY";
    }
    bool ready = false;

private:
    std::unique_ptr<Child> child_;
};

inline std::vector<Json> json_lines(const std::string& path) {
    std::vector<Json> out;
    std::ifstream f(path);
    std::string line;
    while (std::getline(f, line)) {
        Json j = Json::parse(line, nullptr, false);
        if (!j.is_discarded()) out.push_back(j);
    }
    return out;
}

inline std::vector<Json> events_named(const std::string& path, const std::string& name) {
    std::vector<Json> out;
    for (const Json& j : json_lines(path))
        if (j.value("event", "") == name) out.push_back(j);
    return out;
}

template <typename F>
bool eventually(F done, std::chrono::milliseconds timeout = 10000ms) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

}  // namespace qn::livetest
