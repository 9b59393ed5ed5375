#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/configfile.h"
#include "core/context.h"
#include "fakes/fake_platform.h"

namespace qn::test {
namespace {

const std::string kMain = std::string(kProgramVersion) + ".ini";
const std::string kVersionLine = std::string("interfaceversion=") + kProgramVersion + "\r\n";

// Everything on the screen, row after row, so text that wrapped is still whole.
std::string screen_text(Context& c) {
    std::string all;
    for (int line = 1; line <= Screen::kRows; ++line) all += c.screen.line_text(line);
    return all;
}

bool has(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

struct ConfigRead : ::testing::Test {
    Harness h;
    Context& c = h.c();
    bool read(const std::string& text, const std::string& name = kMain) {
        h.fp.files.files[name] = text;
        return read_settings(c, name);
    }
};

TEST_F(ConfigRead, MissingFileIsFalseWithOnlyTheLogLine) {
    EXPECT_FALSE(read_settings(c, kMain));
    EXPECT_EQ(h.log(), "Read configuration file " + kMain + "\r\n");
    EXPECT_EQ(screen_text(c), std::string(80 * 25, ' '));
}

TEST_F(ConfigRead, AcceptedFileSelectsItsProgramAndLogsTheCalibration) {
    ASSERT_TRUE(read(kVersionLine +
                     "targetprogram_8=Abel\r\nsensorsactive_8=1\r\nwhichsensor_8_1=1\r\n"
                     "keytosendhand_8_1=x\r\nkeydelayhand_8_1=123\r\nprogram=Abel\r\n"));
    EXPECT_EQ(c.keyout.target_index, 8);
    EXPECT_EQ(c.keyout.sensors_active, 1);
    EXPECT_EQ(c.keyout.points[1].hand_key, 'x');
    EXPECT_EQ(c.keyout.points[1].hand_delay_ms, 123);
    EXPECT_TRUE(has(h.log(), "Current calibration: Bell Sensor parameters"));
    EXPECT_TRUE(has(h.log(), "Other program options are \r\n"));
    EXPECT_FALSE(c.cfg.bespoke);
}

TEST_F(ConfigRead, ValueFormsAreTakenVerbatim) {
    c.cfg.use_cd = true;
    c.cfg.data_char = 'q';
    ASSERT_TRUE(read(kVersionLine +
                     "signalsmode=1\r\n"
                     "usects=true\r\n"     // only "1" is true
                     "usedsr= 1\r\n"
                     "usecd=\r\n"
                     "comport= \\\\.\\COM3\r\n"  // the blank stays: the name then matches no port
                     "program=Ring=ing\r\n"
                     "sleepnum=  7\r\n"
                     "usedatinputchar=\r\n"
                     "spaceratiolowerbound= 0.25\r\n"
                     "spaceratioupperbound=1.25E+00\r\n"
                     "signalnum=1\r\n"
                     "signaltime_1= 0.1234\r\n"));
    EXPECT_TRUE(c.cfg.signals_mode);
    EXPECT_FALSE(c.cfg.use_cts);
    EXPECT_FALSE(c.cfg.use_dsr);
    EXPECT_FALSE(c.cfg.use_cd);
    EXPECT_EQ(c.cfg.port_name, " \\\\.\\COM3");
    EXPECT_EQ(c.cfg.target_program, "Ring=ing");
    EXPECT_EQ(c.cfg.loop_sleep_ms, 7);
    EXPECT_EQ(c.cfg.data_char, '\0');
    EXPECT_EQ(c.cfg.space_ratio_low, 0.25);
    EXPECT_EQ(c.cfg.space_ratio_high, 1.25);
    EXPECT_EQ(c.cfg.results[1].signal_ms, 0.1234);
    EXPECT_EQ(to_char("xyz"), 'x');
}

TEST_F(ConfigRead, LfOnlyLinesAndTrailingBlankOrCommentLines) {
    EXPECT_TRUE(read(std::string("interfaceversion=") + kProgramVersion + "\nsleepnum=3\n\n;end\n\n"));
    EXPECT_EQ(c.cfg.loop_sleep_ms, 3);
    EXPECT_TRUE(read(kVersionLine + "sleepnum=4\r\n\r\n;comment\r\n;x=1\r\n"));
    EXPECT_EQ(c.cfg.loop_sleep_ms, 4);
    EXPECT_TRUE(read(kVersionLine + "sleepnum=6"));  // no line end at all
    EXPECT_EQ(c.cfg.loop_sleep_ms, 6);
}

TEST_F(ConfigRead, ProgramKeysWithoutAUsableIndexAreIgnoredSilently) {
    ASSERT_TRUE(read(kVersionLine + "targetprogram_12=Twelve\r\ntargetprogram=None\r\ngotowindow_-1=1\r\n"
                                    "sensorsactive_10=3\r\ntargetprogram_2_7=Two\r\n"));
    for (int i = 0; i <= kMaxTargetPrograms; ++i) {
        EXPECT_EQ(c.keyout.targets[i].name, i == 2 ? "Two" : "");
        EXPECT_EQ(c.keyout.targets[i].sensors_active, 0);
    }
    EXPECT_FALSE(has(h.log(), "ignored"));
}

TEST_F(ConfigRead, PerSensorLinesCountOnlyAfterTheirSensorsActiveLine) {
    ASSERT_TRUE(read(kVersionLine +
                     "whichsensor_3_2=5\r\n"   // before: the program has no sensing point 2 yet
                     "sensorsactive_3=2\r\n"
                     "keytosendback_3_2=k\r\n"
                     "keydelayback_3_3=9\r\n"  // beyond its sensorsactive
                     "sensorsactive_4=16\r\n"
                     "whichsensor_4_16=4\r\n"
                     "whichsensor_4_17=4\r\n"
                     "whichsensor_4=4\r\n"));
    const auto& p3 = c.keyout.targets[3];
    EXPECT_EQ(p3.points[2].sensor, 0);
    EXPECT_EQ(p3.points[2].back_key, 'k');
    EXPECT_EQ(p3.points[3].back_delay_ms, 0);
    EXPECT_EQ(c.keyout.targets[4].points[16].sensor, 4);

    ASSERT_TRUE(read(kVersionLine + "whichsensor_3_2=5\r\n"));  // now program 3 has two
    EXPECT_EQ(p3.points[2].sensor, 5);
}

// Lines that would store outside the tables are dropped with a log line; the
// rest of the file still counts.
TEST_F(ConfigRead, LinesOutsideTheTablesAreIgnoredWithALogLine) {
    c.keyout.targets[1].sensors_active = 2;
    c.cfg.signal_count = 5;
    ASSERT_TRUE(read(kVersionLine +
                     "signaltime_0=1.0\r\nsignalgap_257=1.0\r\nsensorgap=1.0\r\n"
                     "sensorsactive_1=17\r\nsensorsactive_2=-1\r\nsignalnum=257\r\n"
                     "signaltime_256=2.5\r\nsleepnum=8\r\n"));
    EXPECT_EQ(c.keyout.targets[1].sensors_active, 2);
    EXPECT_EQ(c.keyout.targets[2].sensors_active, 0);
    EXPECT_EQ(c.cfg.signal_count, 5);
    EXPECT_EQ(c.cfg.results[256].signal_ms, 2.5);
    EXPECT_EQ(c.cfg.loop_sleep_ms, 8);
    const std::string log = h.log();
    EXPECT_TRUE(has(log, "Configuration file entry ignored (index not in 1..256): signaltime_0=1.0\r\n"));
    EXPECT_TRUE(has(log, "Configuration file entry ignored (index not in 1..256): signalgap_257=1.0\r\n"));
    EXPECT_TRUE(has(log, "Configuration file entry ignored (index not in 1..256): sensorgap=1.0\r\n"));
    EXPECT_TRUE(has(log, "Configuration file entry ignored (value not in 0..16): sensorsactive_1=17\r\n"));
    EXPECT_TRUE(has(log, "Configuration file entry ignored (value not in 0..16): sensorsactive_2=-1\r\n"));
    EXPECT_TRUE(has(log, "Configuration file entry ignored (value not in 0..256): signalnum=257\r\n"));
}

struct BadLine {
    std::string line;
    int code;
    std::string console;  // the line before the stop message
    std::string log;
    std::string message;
};

TEST(ConfigReadStops, BadLinesStopWithTheirCodeAndTexts) {
    const std::string recal = "Bad configuration file entry - recalibrate press [ENTER] to quit";
    const std::vector<BadLine> cases = {
        {"comport COM3", 96, "string Read:@@@comport COM3@@@", "string Read:@@@comport COM3@@@", recal},
        {"signalstartsoff=1", 96, "Read:signalstartsoff=1 Found:signalstartsoff value:1 actionparam=actionparam2=",
         "Read:signalstartsoff=1 Found:signalstartsoff value:1actionparam=actionparam2=",
         "Bad configuration file entry - press [ENTER] to quit"},
        {"colour_1_2=x", 96, "Read:colour_1_2=x Found:colour value:x actionparam=1actionparam2=2",
         "Read:colour_1_2=x Found:colour value:xactionparam=1actionparam2=2",
         "Bad configuration file entry - press [ENTER] to quit"},
        {"sensorgap_2=abc", 60, "Read:abc found:sensorgap", "Read:abc found:sensorgap", recal},
        {"spaceratiolowerbound=1e999", 60, "Read:1e999 found:spaceratiolowerbound",
         "Read:1e999 found:spaceratiolowerbound", recal},
        {"whichsensor_a_1=1", 96, "Read:a found:whichsensor", "Read:a found:whichsensor",
         "Bad line in configuration file - recalibrate press [ENTER] to quit"},
        {"sleepnum=5x", 96, "Read:5x found:sleepnum", "Read:5x found:sleepnum", recal},
    };
    for (const BadLine& b : cases) {
        SCOPED_TRACE(b.line);
        Harness h;
        h.fp.files.files[kMain] = kVersionLine + "sleepnum=9\r\n" + b.line + "\r\nsleepnum=10\r\n";
        h.fp.console.type_line("");  // Enter for the stop
        int code = -1;
        try {
            read_settings(h.c(), kMain);
        } catch (const ProgramExit& e) {
            code = e.code;
        }
        EXPECT_EQ(code, b.code);
        EXPECT_EQ(h.c().cfg.loop_sleep_ms, 9);  // the lines after it were not read
        EXPECT_TRUE(has(screen_text(h.c()), b.console + std::string(80 - b.console.size() % 80, ' ') + b.message));
        EXPECT_TRUE(has(h.log(), b.log + "\r\n" + b.message + "\r\n"));
    }
}

TEST_F(ConfigRead, BespokeNeedsNoVersionAndLogsEachSettingLine) {
    ASSERT_TRUE(read("sleepnum=9\r\n;comment\r\nprogram=Abel\r\n", "Bespoke.INI"));
    EXPECT_TRUE(c.cfg.bespoke);
    EXPECT_EQ(c.cfg.loop_sleep_ms, 9);
    EXPECT_EQ(c.keyout.target_index, 8);
    const std::string log = h.log();
    EXPECT_TRUE(has(log, "**ADD Bespoke.ini configuration modification: sleepnum=9\r\n"));
    EXPECT_TRUE(has(log, "**ADD Bespoke.ini configuration modification: program=Abel\r\n"));
    EXPECT_FALSE(has(log, "modification: ;comment"));
}

TEST_F(ConfigRead, WrongOrMissingVersionFailsButKeepsTheValues) {
    EXPECT_FALSE(read("interfaceversion=Quennick_v0.7_\r\nsleepnum=9\r\nprogram=Abel\r\n"));
    EXPECT_EQ(c.cfg.loop_sleep_ms, 9);
    EXPECT_EQ(c.cfg.target_program, "Abel");
    EXPECT_EQ(c.keyout.target_index, 0);  // not selected
    const std::string msg =
        "Current configuration file Quennick v0.8.2d3 (04 Jan 2021) .ini is not right for program version "
        "Quennick v0.8.2d3 (04 Jan 2021) ";
    EXPECT_TRUE(has(screen_text(c), msg));
    EXPECT_TRUE(has(h.log(), msg + "\r\n"));
    EXPECT_FALSE(has(h.log(), "Current calibration:"));

    EXPECT_FALSE(read("sleepnum=11\r\n"));
    EXPECT_EQ(c.cfg.loop_sleep_ms, 11);
}

}  // namespace
}  // namespace qn::test
