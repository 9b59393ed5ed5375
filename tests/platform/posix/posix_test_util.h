// Helpers for the backend tests: temporary folders, pty pairs, and child
// processes that run one named routine of this test binary (for the modem
// shim, which must be preloaded, and for the console's exit paths, which end
// the process).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qn::posixtest {

std::int64_t now_us();  // CLOCK_MONOTONIC, the time base of the shim's timeline

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Both ends close on exec; the child gets the slave by dup2 only.
struct PtyPair {
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    int master = -1;
    int slave = -1;
    std::string slave_path;
};

// Registers a routine that runs instead of the tests when this binary is
// started with QN_POSIX_CHILD=name; its return value is the exit code and it
// reports through stdout, as "key=value" lines.
struct ChildRoutine {
    ChildRoutine(const char* name, int (*fn)());
};

struct ChildOptions {
    std::vector<std::string> env;  // "NAME=value", added to this process's
    int stdin_fd = -1;             // default: inherited
    int stdout_fd = -1;            // default: captured into ChildResult::out
    int timeout_ms = 10000;
};

struct ChildResult {
    int status = -1;  // as waitpid gives it
    bool timed_out = false;
    std::string out;
    std::map<std::string, std::string> values;  // the key=value lines of out
};

ChildResult run_child(const std::string& name, const ChildOptions& options);

// Reads what the master side of a pty has to give within timeout_ms.
std::string drain(int fd, int timeout_ms);

}  // namespace qn::posixtest
