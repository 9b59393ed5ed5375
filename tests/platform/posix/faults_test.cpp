// The faults a ringer meets, on the real calls: the USB adapter pulled out
// in the middle of a touch (the modem-line shim fails the port's calls with
// EIO from that moment), pulled at the missing-port prompt and plugged back,
// a port whose modem lines cannot be read during calibration's survey, a log
// folder that refuses the log, and a disk that fills while it is written.
// Each runs the program in a child process (faults_rig.h) and judges what a
// ringer would see: the screen, the keys, the files and the exit code.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <fstream>
#include <sstream>
#include <thread>

#include "faults_rig.h"

namespace qn::faulttest {
namespace {

using posixtest::now_us;

constexpr const char* kServiceOpen = "[Q] Quit. WARNING \"Open\" setting sends keys to **ANY foreground window!**";

bool wait_keys(ProgramRun& run, std::size_t n, int timeout_ms = 10000) {
    const std::int64_t end = now_us() + timeout_ms * 1000LL;
    while (run.keys().size() < n && now_us() < end) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return run.keys().size() >= n;
}

// The rows of the last "Processed sensor data" section of the log, or -1.
int processed_rows(const std::string& log) {
    std::size_t at = log.rfind("Processed sensor data\n");
    if (at == std::string::npos) return -1;
    std::istringstream lines(log.substr(at));
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line);  // the column heads
    int rows = 0;
    while (std::getline(lines, line) && !line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) ++rows;
    return rows;
}

int count(const std::string& hay, const std::string& needle) {
    int n = 0;
    for (std::size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
    return n;
}

std::string device(const std::string& path) { return "\\\\.\\" + path; }

// Screen rows joined: a long port name runs on to the next row.
std::string flat(std::string screen) {
    std::erase(screen, '\n');
    return screen;
}

// ---- the adapter pulled out in the middle of a touch -----------------------------------

// The CPU time the program takes in the second after the pull: a loop that
// spins on the failing port would take the whole second.
constexpr double kLostSecondCpuLimit = 0.3;

struct PulledRun {
    std::string log, out;
    int code = -1;
    double lost_cpu = -1;
};

// The CPU a second of service takes, then the pull (unplug does it) and the
// second after it; the program then ends by itself.
PulledRun pull_and_finish(ProgramRun& run, const std::function<void()>& unplug) {
    PulledRun r;
    auto cpu_over_a_second = [&run] {
        const double before = cpu_seconds(run.pid());
        std::this_thread::sleep_for(std::chrono::seconds(1));
        return cpu_seconds(run.pid()) - before;
    };
    const double quiet = cpu_over_a_second();
    unplug();
    r.lost_cpu = cpu_over_a_second();
    r.code = run.wait_exit(15000);
    r.log = run.log();
    r.out = run.out();
    std::printf("  CPU seconds: %.2f in a quiet second of service, %.2f in the second after the pull\n", quiet,
                r.lost_cpu);
    return r;
}

void expect_lost_port_told(const PulledRun& r, const std::string& port, int locn, int strokes) {
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_LT(r.lost_cpu, kLostSecondCpuLimit);
    EXPECT_NE(flat(r.out).find("The serial port " + device(port) + " has stopped responding: is the adapter unplugged?"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("The touch rung so far is written to the run log."), std::string::npos);
    EXPECT_NE(r.out.find("Serial port not responding locn " + std::to_string(locn) + " - terminating"),
              std::string::npos);
    EXPECT_NE(r.log.find("Serial port " + device(port) + " lost (locn " + std::to_string(locn) +
                         ") - writing the event log of the touch so far"),
              std::string::npos)
        << r.log;
    EXPECT_EQ(processed_rows(r.log), strokes) << r.log;
    EXPECT_NE(r.log.find("Input/output error"), std::string::npos);  // the failing call's own words
    // The log ends with the reason, so the event log before it was written whole.
    const std::string last = "Serial port not responding locn " + std::to_string(locn) + "\n";
    EXPECT_EQ(r.log.substr(r.log.size() - std::min(r.log.size(), last.size())), last);
}

TEST(PulledAdapter, MidTouchInSignalsModeTheTouchIsKeptAndTheProgramEnds) {
    ProgramRun run;
    const std::string port = run.add_port();
    run.write(settings_name(), fixture("signals_mode.ini", {{"comport", device(port)}, {"program", "Open"}}));
    run.start();
    ASSERT_TRUE(run.wait_for(kServiceOpen)) << run.screen() << run.out();
    run.ring_strokes(6, 600);
    ASSERT_TRUE(wait_keys(run, 6)) << run.keys();
    const PulledRun r = pull_and_finish(run, [&run] { run.lines("+0 gone\n"); });
    expect_lost_port_told(r, port, 2, 6);
    EXPECT_EQ(run.keys(), "jjjjjj");
    EXPECT_NE(r.log.find("waitcommevent call failed"), std::string::npos);
    EXPECT_LE(count(r.log, "waitcommevent call failed"), 3);  // once a second, not once a call
}

TEST(PulledAdapter, MidTouchInDataModeTheTouchIsKeptAndTheProgramEnds) {
    ProgramRun run;
    const std::string port = run.add_port();
    run.write(settings_name(), fixture("data_mode.ini", {{"comport", device(port)}, {"program", "Open"}}));
    run.start();
    ASSERT_TRUE(run.wait_for(kServiceOpen)) << run.screen() << run.out();
    run.ring_box('7', 6, 500);
    ASSERT_TRUE(wait_keys(run, 6)) << run.keys();
    const PulledRun r = pull_and_finish(run, [&run] { run.lines("+0 gone\n"); });
    expect_lost_port_told(r, port, 7, 6);
    EXPECT_EQ(run.keys(), "jjjjjj");
    EXPECT_LE(count(r.log, "serial port read failed"), 3);
}

// The kernel's own way: the far end of the pty goes, and the program's end
// is hung up (reads fail, a wait for data ends at once), as a tty is when
// its USB adapter is unplugged.
TEST(PulledAdapter, MidTouchInDataModeOnAHungUpPortTheTouchIsKeptAndTheProgramEnds) {
    ProgramRun run;
    const std::string port = run.add_port();
    run.write(settings_name(), fixture("data_mode.ini", {{"comport", device(port)}, {"program", "Open"}}));
    run.start();
    ASSERT_TRUE(run.wait_for(kServiceOpen)) << run.screen() << run.out();
    run.ring_box('7', 4, 500);
    ASSERT_TRUE(wait_keys(run, 4)) << run.keys();
    const PulledRun r = pull_and_finish(run, [&run] { run.hang_up(0); });
    expect_lost_port_told(r, port, 7, 4);
    EXPECT_EQ(run.keys(), "jjjj");
}

// ---- the ways a run ends, in the middle of a touch ----------------------------------------

// Each way keeps the touch rung so far (its event list in the log), says how
// the run ended in the log's last line, gives its exit code and leaves the
// settings file as it was.
TEST(RunEnds, EveryWayKeepsTheTouchAndSaysHowTheRunEnded) {
    struct Way {
        const char* name;
        int signal;        // sent, or
        const char* keys;  // typed, or the keyboard ends
        std::string last_line;
        int code;
    };
    const Way ways[] = {
        {"Q", 0, "q", "Interface terminated by User - closing...", 0},
        {"SIGINT", SIGINT, nullptr, "Run ended: interrupted (SIGINT)", 130},
        {"SIGTERM", SIGTERM, nullptr, "Run ended: asked to end by another program or the system (SIGTERM)", 143},
        {"SIGHUP", SIGHUP, nullptr, "Run ended: its terminal was closed (SIGHUP)", 129},
        {"end of file", 0, nullptr, "Run ended: the keyboard's input ended (end of file)", 0},
    };
    for (const Way& w : ways) {
        ProgramRun run;
        const std::string port = run.add_port();
        const std::string settings = fixture("data_mode.ini", {{"comport", device(port)}, {"program", "Open"}});
        run.write(settings_name(), settings);
        run.start();
        ASSERT_TRUE(run.wait_for(kServiceOpen)) << w.name << run.screen() << run.out();
        run.ring_box('7', 4, 600);  // well apart: a key pending 380 ms is not overwritten by the next
        ASSERT_TRUE(wait_keys(run, 4)) << w.name << run.keys();
        if (w.signal != 0)
            ::kill(run.pid(), w.signal);
        else if (w.keys)
            run.type(w.keys);
        else
            run.end_keys();
        EXPECT_EQ(run.wait_exit(), w.code) << w.name << run.out();
        const std::string log = run.log();
        EXPECT_EQ(processed_rows(log), 4) << w.name << log;
        EXPECT_EQ(log.substr(log.size() - std::min(log.size(), w.last_line.size() + 1)), w.last_line + "\n")
            << w.name << log;
        EXPECT_EQ(run.read(settings_name()), settings) << w.name;
    }
}

// ---- pulled before the start, plugged back at the prompt ---------------------------------

TEST(PulledAdapter, AtTheMissingPortPromptAndPluggedBackItIsFoundOnRetry) {
    ProgramRun run;
    const std::string port = run.add_port();
    run.write(settings_name(), fixture("data_mode.ini", {{"comport", device(port)}, {"program", "Open"}}));
    run.unplug(0);
    run.start();
    const std::string prompt = "Retry (R) or do completely new configuration (c) or Quit (Q)? (R/c/q)";
    ASSERT_TRUE(run.wait_for(prompt)) << run.screen();
    EXPECT_NE(flat(run.screen()).find("the specifified port " + device(port) + " is NOT available"), std::string::npos);
    run.type("r");  // still out: asked again
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(run.wait_for(prompt)) << run.screen();
    EXPECT_EQ(count(run.log(), "Comport " + device(port) + " not available"), 2);
    run.plug(0);
    run.type("r");
    ASSERT_TRUE(run.wait_for(kServiceOpen)) << run.screen();
    run.ring_box('7', 3, 500);
    EXPECT_TRUE(wait_keys(run, 3)) << run.keys();
    run.type("q");
    EXPECT_EQ(run.wait_exit(), 0);
    EXPECT_EQ(count(run.log(), "not available"), 2);
    EXPECT_EQ(run.keys(), "jjj");
}

// ---- calibration's survey meets a port without readable modem lines -----------------------

// A plain pty refuses the modem-line requests, as some virtual and Bluetooth
// ports do, and a pty under Wine. It is listed first, and the interface box
// is on it: the survey keeps it for data, and the box is found there. The
// ringer answers calibration as asked: a key, the pull, a key, the pull once
// more, a key, and the target (0: Open).
TEST(PortSurveyOnAPty, ABoxOnAPortWithoutModemLinesIsFound) {
    ProgramRun run;
    const std::string box = run.add_port(false);
    run.add_port(true);
    run.start();
    ASSERT_TRUE(run.wait_for("then press any key [or Q to exit]")) << run.screen() << run.out();
    const std::string kept =
        "1 " + device(box) + " serviceable for data only - its modem lines cannot be read";
    EXPECT_NE(flat(run.screen()).find(kept), std::string::npos) << run.screen();
    run.type("x");
    ASSERT_TRUE(run.wait_for("NOW ring the bell *Hand* and *Back*")) << run.screen();
    run.ring_box('5', 2, 1000, 100, 0);
    run.type("x");
    ASSERT_TRUE(run.wait_for("Then press any key, for the results, Q to terminate")) << run.screen();
    run.ring_box('5', 2, 1000, 100, 0);
    run.type("x");
    ASSERT_TRUE(run.wait_for("Which program window to send the key to?")) << run.screen();
    run.type("0\n");
    ASSERT_TRUE(run.wait_for(kServiceOpen)) << run.screen();
    run.ring_box('5', 3, 600, 100, 0);
    EXPECT_TRUE(wait_keys(run, 3)) << run.keys();
    run.type("q");
    EXPECT_EQ(run.wait_exit(), 0);
    EXPECT_EQ(run.keys(), "jjj");
    const std::string log = run.log();
    EXPECT_NE(log.find(kept), std::string::npos);
    EXPECT_NE(log.find("ioctl(TIOCMGET): Inappropriate ioctl for device"), std::string::npos);
    const std::string ini = run.read(settings_name());
    EXPECT_NE(ini.find("comport=" + device(box) + "\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("bagleymode=1\r\n"), std::string::npos);
}

// ---- the run log's folder: not writable, and a disk that fills ---------------------------

// A folder mounted for the test: a tmpfs of the given size, read-only if
// asked. Root passes permission bits, so a read-only folder is a read-only
// mount where the test may mount (CI runs as root); elsewhere, the bits.
class Mounted {
public:
    Mounted(const std::string& path, bool read_only, const char* size) : path_(path) {
        ::mkdir(path.c_str(), 0777);
        mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", read_only ? MS_RDONLY : 0, size) == 0;
        if (!mounted_ && read_only) chmodded_ = ::chmod(path.c_str(), 0555) == 0 && ::geteuid() != 0;
    }
    ~Mounted() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
        if (chmodded_) ::chmod(path_.c_str(), 0755);
    }
    bool ok() const { return mounted_ || chmodded_; }

private:
    std::string path_;
    bool mounted_ = false;
    bool chmodded_ = false;
};

// What the ringer sees on the notice line under the menu: one line, yellow.
std::string notice_line(const std::string& screen) {
    std::istringstream rows(screen);
    std::string row;
    for (int i = 1; i <= 8 && std::getline(rows, row); ++i) {
    }
    return row;
}

TEST(RunLogFaults, AFolderThatRefusesTheLogLeavesServiceGoingWithOneNotice) {
    ProgramRun run;
    const std::string port = run.add_port();
    run.write(settings_name(), fixture("data_mode.ini", {{"comport", device(port)}, {"program", "Open"}}));
    Mounted logs(run.file("logs"), true, "size=64k");
    if (!logs.ok()) GTEST_SKIP() << "cannot make a read-only folder here";
    run.start();
    ASSERT_TRUE(run.wait_for(kServiceOpen)) << run.screen() << run.out();
    EXPECT_EQ(notice_line(run.screen()).rfind("No run log this time: ", 0), 0u) << run.screen();
    run.ring_box('7', 4, 500);
    EXPECT_TRUE(wait_keys(run, 4)) << run.keys();
    run.type("q");
    EXPECT_EQ(run.wait_exit(), 0);
    EXPECT_EQ(run.keys(), "jjjj");
    EXPECT_EQ(count(run.out(), "run log"), 1) << run.out();  // one notice, not one per line
}

// tmpfs hands out whole pages: once another program has taken every free
// one, the log still has the rest of its last page. With the monitor output
// on, a strike logs some 200 bytes, so twenty-odd strikes fill that page.
TEST(RunLogFaults, ADiskThatFillsStopsTheLogWithOneNoticeAndKeysGoOn) {
    ProgramRun run;
    const std::string port = run.add_port();
    run.write(settings_name(), fixture("data_mode.ini", {{"comport", device(port)},
                                                         {"program", "Open"},
                                                         {"monitoroutput", "1"},
                                                         {"keydelayhand_0_1", "100"},
                                                         {"keydelayback_0_1", "100"}}));
    Mounted logs(run.file("logs"), false, "size=64k");
    if (!logs.ok()) GTEST_SKIP() << "mounting a small tmpfs needs root";
    run.start();
    ASSERT_TRUE(run.wait_for(kServiceOpen)) << run.screen() << run.out();
    run.ring_box('7', 2, 500);
    ASSERT_TRUE(wait_keys(run, 2)) << run.keys();
    const std::size_t logged = run.log().size();
    // Another program fills the disk; the next lines of the log find no room.
    {
        std::ofstream filler(run.file("logs/filler.bin"), std::ios::binary);
        const std::string block(4096, 'x');
        for (int i = 0; i < 64 && filler; ++i) filler << block << std::flush;
    }
    run.ring_box('7', 30, 250);
    EXPECT_TRUE(wait_keys(run, 32)) << run.keys();
    EXPECT_EQ(notice_line(run.screen()).rfind("Run log stopped, ringing goes on: No space left on device", 0), 0u)
        << run.screen();
    run.type("q");
    EXPECT_EQ(run.wait_exit(), 0);
    EXPECT_EQ(run.keys(), std::string(32, 'j'));
    EXPECT_EQ(count(run.out(), "Run log stopped"), 1) << run.out();
    const std::string log = run.log();
    EXPECT_GE(log.size(), logged);  // what was written before stays
    EXPECT_NE(log.find("Error log run date and time"), std::string::npos);
}

}  // namespace
}  // namespace qn::faulttest
