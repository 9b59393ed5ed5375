// Whole simulated runs for the tests: virtual time, a fresh folder of their
// own, and nobody at a terminal.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "sim/run.h"

namespace qn::sim::test {

// A scratch folder that is the current directory while it lives.
class ScratchDir {
public:
    ScratchDir() : old_(std::filesystem::current_path()) {
        static std::atomic<int> n{0};
        dir_ = std::filesystem::temp_directory_path() /
               ("quennick-sim-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                std::to_string(n++) + "-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);
    }
    ~ScratchDir() {
        std::filesystem::current_path(old_);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::filesystem::path& path() const { return dir_; }

    bool has(const std::string& name) const { return std::filesystem::exists(dir_ / name); }
    std::string read(const std::filesystem::path& p) const {
        std::ifstream in(dir_ / p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The text of every run log, oldest first.
    std::string logs() const {
        std::string all;
        std::vector<std::filesystem::path> files;
        if (std::filesystem::exists(dir_ / "logs"))
            for (auto& e : std::filesystem::directory_iterator(dir_ / "logs")) files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (auto& f : files) all += read(f);
        return all;
    }

private:
    std::filesystem::path old_;
    std::filesystem::path dir_;
};

inline SimOptions virtual_run() {
    SimOptions o;
    o.virtual_time = true;
    o.status_line = false;
    o.quit_after_s = 20000;  // a run that loses its way still ends
    return o;
}

inline SimEnvironment embedded() {
    SimEnvironment env;
    env.embedded = true;
    env.keep_stderr = true;
    return env;
}

inline int occurrences(const std::string& hay, const std::string& needle) {
    int n = 0;
    for (std::size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
    return n;
}

inline std::string settings_file() { return std::string(kProgramVersion) + ".ini"; }

}  // namespace qn::sim::test
