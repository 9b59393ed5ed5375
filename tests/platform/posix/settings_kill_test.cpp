// The settings file when the program dies while writing it (the power cut
// of a PC in a tower): a writer in a child process rewrites the file over
// and over, on the real files of this machine, and is killed (SIGKILL) at
// random moments. Afterwards the file must always be one whole settings
// file, the one before or the one after, never a mix of the two or empty.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "config/configfile.h"
#include "core/text_sink.h"
#include "service/program.h"
#include "fakes/fake_platform.h"
#include "platform/platform.h"
#include "posix_test_util.h"

extern char** environ;

namespace qn {
namespace {

// Two settings files that differ in their lines and in their length: one
// after calibration of a bell with one sensor, one with two.
void settings_variant(Program& program, int which) {
    Settings& s = program.cfg;
    s.port_name = "\\\\.\\/dev/ttyUSB0";
    s.signals_mode = true;
    s.use_line[ModemLine::Cts] = true;
    s.switch_bounce_ms = which == 0 ? 40 : 55;
    s.sensor_count = which == 0 ? 1 : 2;
    s.signal_count = which == 0 ? 4 : 40;
    for (std::int32_t n = 1; n <= s.signal_count; ++n) {
        s.results[n - 1].signal_time_s = 0.1 * n;
        s.results[n - 1].signal_gap_s = n % 2 ? 0.05 : 0.7;
        s.results[n - 1].sensor_gap_s = n % 2 ? 0.05 : 0.7;
    }
    s.target_program = "Open";
}

class Text : public TextSink {
public:
    void write(std::string_view s) override { text.append(s); }
    void newline() override { text.append("\r\n"); }
    std::string text;
};

std::string expected_text(int which) {
    test::Harness h;
    settings_variant(h.program(), which);
    Text t;
    write_settings_to(h.program().cfg, h.program().target.table(), t);
    return t.text;
}

// The writer: says when it starts, then writes the two files in turn for
// ever, the way the program saves its settings.
int writer_child() {
    if (::chdir(std::getenv("QN_TEST_DIR")) != 0) return 90;
    Program* program = make_program(platform::native_platform()).release();
    program->settings_file->set_base_name("settings");
    std::printf("ready\n");
    std::fflush(stdout);
    for (int i = 1;; ++i) {
        settings_variant(*program, i % 2);
        if (!program->settings_file->write(program->cfg, program->target.table())) return 91;
    }
}
const posixtest::ChildRoutine writer("settings_writer", writer_child);

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Starts the writer, waits for it to begin, lets it write for delay_us and
// kills it. False when it did not start.
bool write_and_kill(const std::string& dir, std::int64_t delay_us) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string(*e).rfind("QN_", 0) != 0) env.emplace_back(*e);
    env.push_back("QN_POSIX_CHILD=settings_writer");
    env.push_back("QN_TEST_DIR=" + dir);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string exe = "/proc/self/exe", filter = "--gtest_filter=NoSuchTest.ForChildProcess";
    char* argv[] = {exe.data(), filter.data(), nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        return false;
    }
    char buf[16] = {};
    bool ready = ::read(out[0], buf, sizeof buf - 1) > 0;
    ::close(out[0]);
    if (ready) std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return ready && WIFSIGNALED(status);
}

TEST(SettingsFile, KilledAtRandomMomentsOfAWriteItIsAlwaysTheWholeOldOrNewFile) {
    posixtest::TempDir dir;
    const std::string before = expected_text(0), after = expected_text(1);
    ASSERT_NE(before.size(), after.size());
    {
        std::ofstream f(dir.file("settings.ini"), std::ios::binary);
        f << before;
    }
    std::mt19937 rng(std::random_device{}());
    // Up to 30 ms: past the first few writes, each of which waits for the
    // disk twice (the file, then the folder).
    std::uniform_int_distribution<std::int64_t> delay(0, 30000);
    constexpr int kKills = 120;
    int as_before = 0, as_after = 0, mid_write = 0;
    for (int k = 0; k < kKills; ++k) {
        const std::int64_t d = delay(rng);
        ASSERT_TRUE(write_and_kill(dir.path(), d)) << "kill " << k;
        // A temporary file left behind means the kill came in the middle of a write.
        if (::access(dir.file("settings.ini.new").c_str(), F_OK) == 0) ++mid_write;
        const std::string now = slurp(dir.file("settings.ini"));
        if (now == before) {
            ++as_before;
        } else if (now == after) {
            ++as_after;
        } else {
            FAIL() << "after a kill " << d << " us into the writing the file is neither whole file ("
                   << now.size() << " bytes):\n"
                   << now.substr(0, 400);
        }
    }
    std::printf("  %d kills: %d left the one file, %d the other; %d came in the middle of a write\n", kKills,
                as_before, as_after, mid_write);
    EXPECT_GT(mid_write, kKills / 10);  // the moments did fall inside writes
    EXPECT_GT(as_before, 0);
    EXPECT_GT(as_after, 0);
}

}  // namespace
}  // namespace qn
