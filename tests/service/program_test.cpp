// The program from start to quit on fake platform services.
#include <gtest/gtest.h>

#include "config/configfile.h"
#include "service/program.h"
#include "fakes/fake_platform.h"
#include "keyout/targets.h"

namespace qn::test {
namespace {

const std::string kSettings = std::string(PROGRAM_VERSION) + ".ini";

// A settings file for a data-mode bell on COM3 sending 'a', keys to "Open".
std::string data_mode_settings() {
    Harness h;
    Context& c = h.c();
    c.core.FNAMEFI = PROGRAM_VERSION;
    c.cfg.COMPORTNAME = "\\\\.\\COM3";
    c.cfg.BAGLEYMODE = true;
    c.cfg.USEDATINPUTCHAR = 'a';
    c.cfg.SENSORNUM = 1;
    SETTARGETPROGRAMDEFAULTPARAMETERS(c);
    c.cfg.TARGETPROGRAM = "Open";
    EXPECT_TRUE(WRITECONFIGFILE(c));
    return h.fp.files.files[kSettings];
}

struct ProgramRun {
    Harness h;
    int exit_code = -1;
    std::string log() {
        auto it = h.fp.files.files.find(h.c().strokes.ERRORFILENAMESTR + ".log");
        return it == h.fp.files.files.end() ? std::string() : it->second;
    }
    // Types q once the clock has passed quit_at_us.
    void run(std::vector<std::string> args, std::int64_t quit_at_us) {
        h.fp.threads.on_sleep = [this, quit_at_us](std::int32_t) {
            if (h.fp.clock.now_us() > quit_at_us && h.fp.console.keys.empty()) h.fp.console.type("q");
        };
        try {
            (void)quennick_main(h.c(), args);
        } catch (const ProgramExit& e) {
            exit_code = e.code;
        }
    }
};

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
    for (std::size_t i = 0; i < 5; ++i) {
        // Due 380 ms after the character was read; sent on the next pass.
        EXPECT_GE(sent[i].time_us, strikes[i] + 380000) << i;
        EXPECT_LE(sent[i].time_us, strikes[i] + 380000 + 3000) << i;
    }
    EXPECT_EQ(r.h.fp.keyboard.typed(), "JJJJJ");
    const std::string log = r.log();
    EXPECT_NE(log.find("Read configuration file " + kSettings), std::string::npos);
    EXPECT_NE(log.find(" the following calibration is assumed on entry to main cycle\r\n"), std::string::npos);
    EXPECT_NE(log.find("Other program options are "), std::string::npos);
    EXPECT_EQ(count_of(log, "Processed sensor data"), 1);  // the 8 s pause wrote the first touch's log
    EXPECT_NE(log.find("Interface terminated by User - closing..."), std::string::npos);
    // The service screen.
    EXPECT_TRUE(ScreenHas(r.h.c().screen, 1, 1, "Quennick v0.8.2d3 (04 Jan 2021)"));
    EXPECT_TRUE(ScreenHas(r.h.c().screen, 2, 1, "[C] PERMANENT Changes to program configuration."));
}

TEST(Program, OnlyAnUpperCaseSlashATurnsOffTheSimpleScreens) {
    for (auto [arg, easy] : {std::pair{"/A", false}, std::pair{"/a", true}, std::pair{"x", true}}) {
        ProgramRun r;
        r.h.fp.files.files[kSettings] = data_mode_settings();
        r.h.fp.serial.add_port("COM3");
        r.run({arg}, 100000);
        EXPECT_EQ(r.h.c().core.EASYMODE, easy) << arg;
    }
}

TEST(Program, AMissingPortOffersRetryNewConfigurationOrQuit) {
    ProgramRun r;
    r.h.fp.files.files[kSettings] = data_mode_settings();
    int prompts = 0;
    r.h.fp.console.on_idle = [&] {
        if (!r.h.fp.console.keys.empty()) return;
        std::string screen;
        for (int l = 1; l <= 25; ++l) screen += r.h.c().screen.line_text(l);
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
        std::string line = r.h.c().screen.line_text(5);
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
    EXPECT_EQ(r.h.c().cfg.SLEEPNUM, -1);
    EXPECT_NE(r.log().find("bespoke settings read\r\n"), std::string::npos);
    EXPECT_NE(r.log().find("**ADD Bespoke.ini configuration modification: sleepnum=-1"), std::string::npos);
}

TEST(Program, TheMainLoopSleepsAsToldInSignalsMode) {
    for (int sleepnum : {5, 0, -1}) {
        ProgramRun r;
        std::string settings = data_mode_settings();
        auto swap = [&](const std::string& from, const std::string& to) {
            settings.replace(settings.find(from), from.size(), to);
        };
        swap("\nbagleymode=1", "\nbagleymode=0");
        swap("\nusects=0", "\nusects=1");
        swap("\nsignalsmode=0", "\nsignalsmode=1");
        swap("\nsleepnum=5", "\nsleepnum=" + std::to_string(sleepnum));
        r.h.fp.files.files[kSettings] = settings;
        r.h.fp.serial.add_port("COM3");
        int passes = 0;
        r.h.fp.console.on_idle = [&] {
            if (++passes == 1) r.h.fp.threads.sleeps.clear();  // start-up's own sleeps do not count
            if (passes == 50) r.h.fp.console.type("q");
        };
        r.run({}, 1000 * 1000000LL);
        std::map<int, int> counts;
        for (int ms : r.h.fp.threads.sleeps) ++counts[ms];
        EXPECT_EQ(r.exit_code, 0) << r.log();
        if (sleepnum >= 0)
            EXPECT_GE(counts[sleepnum], 40) << sleepnum;
        else
            EXPECT_EQ(counts[5] + counts[0], 0) << "no pause at all with -1";
    }
}

}  // namespace
}  // namespace qn::test
