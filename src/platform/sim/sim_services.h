// Files and the end of the process in a simulated run: the real files, with
// the settings file hidden until it is written when the run is to start
// without one; and an exit that reports first, then ends the process (or,
// for tests and benchmarks, returns to whoever started the run).
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>

#include "platform/files.h"
#include "platform/process.h"

namespace qn::platform::sim {

class SimFiles : public Files {
public:
    explicit SimFiles(Files& real) : real_(real) {}

    // The file of this name, in whichever folder the program keeps it, reads
    // as absent until the program writes it.
    void hide(const std::string& name) { hidden_.insert(name); }
    // The file of this name reads with these lines after its own (or as only these).
    void add_lines(const std::string& name, const std::string& lines) { added_[name] += lines; }
    // Standard error stays where it is (a test's output), not in the run log.
    void keep_stderr(bool keep) { keep_stderr_ = keep; }

    Result<void> make_dir(const std::string& path) override { return real_.make_dir(path); }
    bool exists(const std::string& path) override;
    Result<std::unique_ptr<OutFile>> create(const std::string& path) override;
    Result<std::unique_ptr<OutFile>> create_text(const std::string& path) override;
    Result<std::string> read_all(const std::string& path) override;
    Result<void> replace(const std::string& from, const std::string& to) override;
    Result<void> remove(const std::string& path) override;
    Result<void> redirect_stderr(const std::string& path) override;
    LocalDateTime now() override { return real_.now(); }
    UserDirs user_dirs() override { return real_.user_dirs(); }
    std::string shown_path(const std::string& path) override { return real_.shown_path(path); }

private:
    bool hidden(const std::string& path) const;

    Files& real_;
    std::set<std::string> hidden_;
    std::map<std::string, std::string> added_;
    bool keep_stderr_ = false;
};

// Thrown by an embedded run's exit, caught where the run was started.
struct SimExit {
    int code;
};

class SimProcess : public Process {
public:
    // real null: exit throws SimExit instead of ending the process.
    explicit SimProcess(Process* real) : real_(real) {}
    // Runs first on every exit, with the code.
    void on_exit(std::function<void(int)> hook) { hook_ = std::move(hook); }
    [[noreturn]] void exit(int code) override;

private:
    Process* real_;
    std::function<void(int)> hook_;
};

}  // namespace qn::platform::sim
