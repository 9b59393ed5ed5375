// The program from start to quit on fake platform services.
#include "service/program.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "config/configfile.h"
#include "fakes/fake_platform.h"
#include "fakes/program_run.h"
#include "keyout/targets.h"
#include "serial/serial_thread.h"

namespace qn::test {
namespace {

const std::string kSettings = std::string(kProgramVersion) + ".ini";

// A settings file for a data-mode bell on COM3 sending 'a', keys to "Open".
std::string data_mode_settings() {
    Harness h;
    Program& program = h.program();
    program.settings_file->set_base_name(kProgramVersion);
    program.cfg.port_name = "\\\\.\\COM3";
    program.cfg.rest_on_mode = true;
    program.cfg.data_char = 'a';
    program.cfg.sensor_count = 1;
    set_target_defaults(program.target, program.cfg.sensor_count);
    program.cfg.target_program = "Open";
    EXPECT_TRUE(program.settings_file->write(program.cfg, program.target.table()));
    return h.fp.files.files[kSettings];
}

TEST(Program, RunsFromAStoredSettingsFileToQuitAndTurnsCharactersIntoKeys) {
    ProgramRun r;
    r.h.fp.files.files[kSettings] = data_mode_settings();
    auto& port = r.h.fp.serial.add_port("COM3");
    const std::int64_t s = 1000000;
    // Four strikes, another bell's character, then a 7 s silence and one more.
    port.bytes = {{10 * s, 'a'}, {12 * s, 'a'}, {12 * s + 500000, 'b'}, {14 * s, 'a'}, {16 * s, 'a'}, {24 * s, 'a'}};
    r.run({}, 26 * s);
    EXPECT_EQ(r.exit_code, 0);
    const auto& sent = r.h.fp.keyboard.sent;
    ASSERT_EQ(sent.size(), 5u);
    const std::int64_t strikes[] = {10 * s, 12 * s, 14 * s, 16 * s, 24 * s};
    // Each character wakes the loop as it arrives, and its key is sent by a
    // wait that ends at its due time, 380 ms later.
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(sent[i].time_us, strikes[i] + 380000) << i;
    EXPECT_EQ(r.h.fp.keyboard.typed(), "JJJJJ");
    const std::string log = r.log();
    EXPECT_NE(log.find("Read configuration file " + kSettings), std::string::npos);
    EXPECT_NE(log.find(" the following calibration is assumed on entry to main cycle\r\n"), std::string::npos);
    EXPECT_NE(log.find("Other program options are "), std::string::npos);
    // The 8 s pause wrote the first touch's log, the quit the second's.
    EXPECT_EQ(count_of(log, "Processed sensor data"), 2);
    EXPECT_NE(log.find("Interface terminated by User - closing..."), std::string::npos);
    EXPECT_NE(log.find("Main loop scheduling: not real-time, normal priority; ask the fake"), std::string::npos);
    // The service screen.
    EXPECT_TRUE(ScreenHas(r.h.program().screen, 1, 1, "Quennick v0.8.2d3 (04 Jan 2021)"));
    EXPECT_TRUE(ScreenHas(r.h.program().screen, 2, 1, "[C] PERMANENT Changes to program configuration."));
}

// A USB adapter that holds the box's characters back is told in data mode,
// with how to change it; one already set to low latency, or the modem lines
// (which it sends on at once), only get the log line.
TEST(Program, AnAdapterThatHoldsCharactersBackIsToldInDataMode) {
    const platform::PortLatency slow{16, "/sys/dev/char/188:0/device/latency_timer", false, "TIOCSSERIAL: refused",
                                     "as root: echo 1 > it"};
    for (bool low : {false, true}) {
        ProgramRun r;
        r.h.fp.files.files[kSettings] = data_mode_settings();
        r.h.fp.serial.add_port("COM3").latency = slow;
        r.h.fp.serial.port("COM3").latency.low_latency = low;
        std::string shown;  // the first scratch line when service began
        r.h.fp.wait.on_wait = [&](const FakeWait::Call&) {
            if (shown.empty()) shown = r.h.program().screen.line_text(kScratchFirstLine);
        };
        r.run({}, 100000);
        const std::string log = r.log();
        EXPECT_NE(log.find("Port latency: TIOCSSERIAL: refused; adapter latency timer 16 ms "
                           "(/sys/dev/char/188:0/device/latency_timer)"),
                  std::string::npos);
        const std::string warning = "The USB serial adapter holds characters back up to 16 ms";
        EXPECT_EQ(count_of(log, warning), low ? 0 : 1) << low;
        EXPECT_EQ(count_of(log, "To change it: as root: echo 1 > it"), low ? 0 : 1) << low;
        EXPECT_EQ(shown.rfind(warning, 0) == 0, !low) << shown;
    }
}

TEST(Program, OnlyAnUpperCaseSlashATurnsOffTheSimpleScreens) {
    for (auto [arg, easy] : {std::pair{"/A", false}, std::pair{"/a", true}, std::pair{"x", true}}) {
        ProgramRun r;
        r.h.fp.files.files[kSettings] = data_mode_settings();
        r.h.fp.serial.add_port("COM3");
        r.run({arg}, 100000);
        EXPECT_EQ(r.h.program().core.easy_mode, easy) << arg;
    }
}

TEST(Program, AMissingPortOffersRetryNewConfigurationOrQuit) {
    ProgramRun r;
    r.h.fp.files.files[kSettings] = data_mode_settings();
    int prompts = 0;
    r.h.fp.console.on_idle = [&] {
        if (!r.h.fp.console.keys.empty()) return;
        std::string screen;
        for (int l = 1; l <= 25; ++l) screen += r.h.program().screen.line_text(l);
        if (screen.find("(R/c/q)") != std::string::npos && prompts < 2) {
            ++prompts;
            if (prompts == 1) {
                r.h.fp.serial.add_port("COM7");  // plugged in, but not the stored one
                r.h.fp.console.type("r");
            } else {
                r.h.fp.console.type("c");
            }
        } else if (screen.find("[or Q to exit]") != std::string::npos) {
            r.h.fp.console.type("q");
        }
    };
    r.run({}, 1000 * 1000000LL);
    EXPECT_EQ(prompts, 2);
    EXPECT_EQ(r.exit_code, 0);
    const std::string log = r.log();
    EXPECT_EQ(count_of(log, "Comport \\\\.\\COM3 not available"), 2);
    // "c" started a new calibration, which found COM7 and nothing on it.
    EXPECT_NE(log.find("Doing  complete basic calibration"), std::string::npos);
    EXPECT_NE(log.find("\\\\.\\COM7 found and serviceable"), std::string::npos);
}

TEST(Program, APortPluggedInAtThePromptIsFoundOnRetry) {
    ProgramRun r;
    r.h.fp.files.files[kSettings] = data_mode_settings();
    bool retried = false;
    r.h.fp.console.on_idle = [&] {
        std::string line = r.h.program().screen.line_text(5);
        if (!retried && line.find("(R/c/q)") != std::string::npos) {
            retried = true;
            r.h.fp.serial.add_port("COM3");
            r.h.fp.console.type("R");
        }
    };
    r.run({}, 2000000);
    EXPECT_TRUE(retried);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.log().find(" the following calibration is assumed on entry to main cycle"), std::string::npos);
}

TEST(Program, BespokeSettingsAreReadAfterTheMainFile) {
    ProgramRun r;
    r.h.fp.files.files[kSettings] = data_mode_settings();
    r.h.fp.files.files["bespoke.ini"] = "sleepnum=-1\r\n";
    r.h.fp.serial.add_port("COM3");
    r.run({}, 100000);
    EXPECT_EQ(r.h.program().cfg.loop_sleep_ms, -1);
    EXPECT_NE(r.log().find("bespoke settings read\r\n"), std::string::npos);
    EXPECT_NE(r.log().find("**ADD Bespoke.ini configuration modification: sleepnum=-1"), std::string::npos);
}

// What the settings reader named stays on the screen until a key, and a
// file without a usable program line has the target asked for and saved.
// With the keyboard closed the pause goes on, but the question ends the
// program instead of waiting for ever.
TEST(Program, NamedSettingsWaitForAKeyAndAMissingTargetIsAsked) {
    std::string settings = data_mode_settings();
    settings.replace(settings.find("sleepnum=5"), 10, "sleepnum=5x");
    settings.erase(settings.find("program=Open"));
    for (bool closed : {false, true}) {
        ProgramRun r;
        r.h.fp.files.files[kSettings] = settings;
        r.h.fp.serial.add_port("COM3");
        r.h.fp.console.input_closed = closed;
        int answers = 0;  // the pause's key, then the target
        r.h.fp.console.on_idle = [&] {
            const std::string row = r.h.program().screen.line_text(std::max(1, r.h.program().screen.cursor_line() - 1));
            if (closed || !r.h.fp.console.keys.empty()) return;
            if (row.find("Press any key to go on with these settings") == 0 && answers++ == 0)
                r.h.fp.console.type("x");
            if (row.find("NB If bell does not sound") == 0 && answers++ == 1) r.h.fp.console.type_line("8");
        };
        r.run({}, 100000);
        const std::string log = r.log();
        EXPECT_NE(log.find(kSettings + " has no usable line for sleepnum, program - the defaults are used"),
                  std::string::npos);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(log.find("Run ended: the keyboard's input ended (end of file)") != std::string::npos, closed);
        EXPECT_EQ(answers, closed ? 0 : 2);
        EXPECT_EQ(r.h.fp.files.files[kSettings].find("\r\nprogram=Abel\r\n") != std::string::npos, !closed);
    }
}

// A signals-mode program on COM3 with the given loop_sleep_ms, run until q.
struct SignalsRun : ProgramRun {
    explicit SignalsRun(int sleepnum) {
        std::string settings = data_mode_settings();
        auto swap = [&](const std::string& from, const std::string& to) {
            settings.replace(settings.find(from), from.size(), to);
        };
        swap("\nbagleymode=1", "\nbagleymode=0");
        swap("\nusects=0", "\nusects=1");
        swap("\nsignalsmode=0", "\nsignalsmode=1");
        swap("\nsleepnum=5", "\nsleepnum=" + std::to_string(sleepnum));
        h.fp.files.files[kSettings] = settings;
        h.fp.serial.add_port("COM3");
    }
};

TEST(Program, ZeroAndMinusOneKeepTheirMeaningAndAtRestTheLoopWaitsForItsSources) {
    for (int sleepnum : {5, 0, -1}) {
        SignalsRun r(sleepnum);
        int passes = 0;
        r.h.fp.console.on_idle = [&] {
            if (++passes == 1) {  // start-up's own waits do not count
                r.h.fp.threads.sleeps.clear();
                r.h.fp.wait.calls.clear();
            }
            if (passes == 50) r.h.fp.console.type("q");
        };
        std::vector<std::int64_t> lengths;
        r.h.fp.wait.on_wait = [&](const FakeWait::Call& w) { lengths.push_back(w.deadline_us - r.h.fp.clock.now_us()); };
        r.run({}, 1000 * 1000000LL);
        EXPECT_EQ(r.exit_code, 0) << r.log();
        std::map<int, int> sleeps;
        for (int ms : r.h.fp.threads.sleeps) ++sleeps[ms];
        if (sleepnum == 5) {
            // Nothing rung yet: the loop is at rest and waits for its sources.
            ASSERT_GE(r.h.fp.wait.calls.size(), 40u);
            ASSERT_GE(lengths.size(), r.h.fp.wait.calls.size());
            for (std::size_t i = 0; i < r.h.fp.wait.calls.size(); ++i) {
                const FakeWait::Call& w = r.h.fp.wait.calls[i];
                EXPECT_EQ(lengths[lengths.size() - r.h.fp.wait.calls.size() + i], 1000000);
                EXPECT_FALSE(w.precise);
                EXPECT_EQ(w.sources, platform::kWakeEvent | platform::kWakeConsole);
            }
            EXPECT_EQ(sleeps[5], 0);
        } else if (sleepnum == 0) {
            EXPECT_GE(sleeps[0], 40) << "0 gives up the time slice on every pass";
            EXPECT_TRUE(r.h.fp.wait.calls.empty());
        } else {
            EXPECT_EQ(sleeps[5] + sleeps[0], 0) << "no pause at all with -1";
            EXPECT_TRUE(r.h.fp.wait.calls.empty());
        }
    }
}

// The loop waits for what it waits for: an event the serial thread
// publishes ends the wait at once, the key it schedules is sent by a wait
// whose deadline is its due time, and a console key ends a wait too.
TEST(Program, TheLoopWakesForAnEventSendsTheKeyAtItsDueTimeAndWakesForAKey) {
    SignalsRun r(5);
    const std::int64_t s = 1000000;
    r.h.fp.serial.port("COM3").status = {{10 * s, platform::kLineCts}, {10 * s + 80000, 0}};
    bool published = false;
    std::vector<FakeWait::Call> after_event;
    r.h.fp.wait.on_wait = [&](const FakeWait::Call& w) {
        Program& program = r.h.program();
        const std::int64_t now = r.h.fp.clock.now_us();
        if (!published && program.sensing.thread() && program.sensing.thread()->os_thread() != 0 && w.deadline_us >= 10 * s) {
            // The serial thread (its steps run here) records the edge at 10 s
            // and signals.
            published = true;
            program.sensing.thread()->start_watching();
            r.h.fp.clock.set_us(10 * s);
            ASSERT_TRUE(program.sensing.thread()->take_event());
            return;
        }
        if (published) after_event.push_back(w);
        if (now > 12 * s && r.h.fp.console.keys.empty()) r.h.fp.console.type("q");
    };
    r.h.fp.threads.run_created = false;
    r.run({}, 1000 * s);
    EXPECT_EQ(r.exit_code, 0) << r.log();
    ASSERT_TRUE(published);
    ASSERT_EQ(r.h.fp.keyboard.sent.size(), 1u);
    // Woken by the event at 10 s and processed then: due 380 ms later (the
    // default delay of a single sensor), sent exactly then.
    EXPECT_EQ(r.h.program().strikes->keys().outputs()[0].event_us, 10 * s);
    EXPECT_EQ(r.h.fp.keyboard.sent[0].time_us, 10 * s + 380000);
    bool precise_wait_for_key = false;
    for (const FakeWait::Call& w : after_event) precise_wait_for_key |= w.precise && w.deadline_us == 10 * s + 380000;
    EXPECT_TRUE(precise_wait_for_key);
    // q was typed during a wait and ended it: the program quit at once (its
    // goodbye stands on the screen for 2 s).
    EXPECT_LT(r.h.fp.clock.now_us(), 14 * s + 6000);
}

// Every way a run can end, in the middle of a touch (four strikes, the
// touch still open) or at the missing-port prompt: the touch's event list,
// then the line saying how the run ended as the log's last, the exit code,
// and the settings file as it was.
TEST(Program, EveryWayARunEndsKeepsTheOpenTouchAndSaysHowItEnded) {
    using platform::EndReason;
    struct Way {
        const char* name;
        std::string keys;           // typed at the moment, or
        platform::EndRequest asks;  // asked for from outside, or
        bool keyboard_ends;         // the keyboard ends
        bool at_prompt;
        std::string last_line;
        int code;
        std::string unheard = {};  // what the platform cannot hear
    };
    const std::string by_user = "Interface terminated by User - closing...";
    const Way ways[] = {
        {"Q", "q", {}, false, false, by_user, 0},
        {"Ctrl-C", "\x03", {}, false, false, by_user, 0},
        {"SIGINT", "", {EndReason::Interrupt, "SIGINT"}, false, false, "Run ended: interrupted (SIGINT)", 130},
        {"SIGTERM", "", {EndReason::Terminate, "SIGTERM"}, false, false,
         "Run ended: asked to end by another program or the system (SIGTERM)", 143},
        {"SIGHUP", "", {EndReason::HangUp, "SIGHUP"}, false, false, "Run ended: its terminal was closed (SIGHUP)", 129},
        {"close", "", {EndReason::ConsoleClosed, "CTRL_CLOSE_EVENT"}, false, false,
         "Run ended: its console window was closed (CTRL_CLOSE_EVENT)", 129,
         "the end of a Windows session is not heard (CreateWindowEx: failed without saying why)"},
        {"log-off", "", {EndReason::LogOff, "CTRL_LOGOFF_EVENT"}, false, false,
         "Run ended: the user is logging off (CTRL_LOGOFF_EVENT)", 143},
        {"shutdown", "", {EndReason::Shutdown, "CTRL_SHUTDOWN_EVENT"}, false, false,
         "Run ended: the system is shutting down (CTRL_SHUTDOWN_EVENT)", 143},
        {"end of file", "", {}, true, false, "Run ended: the keyboard's input ended (end of file)", 0},
        {"end of file at a prompt", "", {}, true, true, "Run ended: the keyboard's input ended (end of file)", 0},
        {"SIGTERM at a prompt", "", {EndReason::Terminate, "SIGTERM"}, false, true,
         "Run ended: asked to end by another program or the system (SIGTERM)", 143},
    };
    const std::int64_t s = 1000000;
    for (const Way& w : ways) {
        ProgramRun r;
        const std::string settings = data_mode_settings();
        r.h.fp.files.files[kSettings] = settings;
        if (!w.at_prompt) r.h.fp.serial.add_port("COM3").bytes = {{10 * s, 'a'}, {12 * s, 'a'}, {14 * s, 'a'}, {16 * s, 'a'}};
        bool now = false;
        r.h.fp.ending.ask = [&] { return now ? w.asks : platform::EndRequest{}; };
        r.h.fp.ending.unheard_text = w.unheard;
        auto at_the_moment = [&] {
            if (now || r.h.fp.clock.now_us() < 17 * s) return;
            now = true;
            r.h.fp.console.type(w.keys);
            r.h.fp.console.input_closed = w.keyboard_ends;
        };
        r.h.fp.console.on_idle = at_the_moment;
        r.h.fp.wait.on_wait = [&](const FakeWait::Call&) { at_the_moment(); };
        r.run({}, 1000 * s);
        EXPECT_EQ(r.exit_code, w.code) << w.name;
        EXPECT_EQ(r.h.fp.files.files[kSettings], settings) << w.name;
        EXPECT_TRUE(r.h.fp.console.closed) << w.name;
        const std::string log = r.log();
        EXPECT_EQ(log.find("left to the system"), std::string::npos) << w.name;
        EXPECT_EQ(count_of(log, "Requests to end the program: " + w.unheard + "\r\n"), w.unheard.empty() ? 0 : 1)
            << w.name;
        const std::size_t list = log.rfind("Processed sensor data\r\n");
        if (w.at_prompt) {
            EXPECT_EQ(list, std::string::npos) << w.name;
        } else {
            ASSERT_NE(list, std::string::npos) << w.name << "\n" << log;
            const std::string rows = log.substr(list);
            EXPECT_NE(rows.find("\r\n4\t"), std::string::npos) << w.name << rows;
            EXPECT_EQ(rows.find("\r\n5\t"), std::string::npos) << w.name << rows;
            EXPECT_EQ(count_of(log, "Processed sensor data"), 1) << w.name;
        }
        EXPECT_EQ(log.substr(log.size() - std::min(log.size(), w.last_line.size() + 2)), w.last_line + "\r\n")
            << w.name << "\n" << log.substr(log.size() - std::min<std::size_t>(log.size(), 300));
    }
}

}  // namespace
}  // namespace qn::test
