#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "config/configfile.h"
#include "service/program.h"
#include "fakes/fake_platform.h"
#include "keyout/targets.h"

namespace qn::test {
namespace {

const std::string kMain = std::string(kProgramVersion) + ".ini";
const std::string kBespoke = "bespoke.ini";  // read with no lines made up for what it lacks
const std::string kVersionLine = std::string("interfaceversion=") + kProgramVersion + "\r\n";
// The version and the calibration's findings: a main file without them is
// calibrated afresh.
const std::string kHead = kVersionLine +
                          "comport=COM1\r\nsignalsmode=1\r\nusects=1\r\nusedsr=0\r\nusecd=0\r\nuseri=0\r\n"
                          "bagleymode=0\r\nusedatinputchar=0\r\nsignalstartsOFF=1\r\nsensornum=1\r\n"
                          "meansignallength=40\r\nusinghandbells=0\r\noffandonaresignals=0\r\n";

// Everything on the screen, row after row, so text that wrapped is still whole.
std::string screen_text(Program& program) {
    std::string all;
    for (int line = 1; line <= Screen::kRows; ++line) all += program.screen.line_text(line);
    return all;
}

bool has(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

struct ConfigRead : ::testing::Test {
    Harness h;
    Program& program = h.program();
    bool read(const std::string& text, const std::string& name = kMain) {
        h.fp.files.files[name] = text;
        return load_settings(program, name);
    }
};

TEST_F(ConfigRead, MissingFileIsFalseWithOnlyTheLogLine) {
    EXPECT_FALSE(load_settings(program, kMain));
    EXPECT_EQ(h.log(), "Read configuration file " + kMain + "\r\n");
    EXPECT_EQ(screen_text(program), std::string(80 * 25, ' '));
}

TEST_F(ConfigRead, AcceptedFileSelectsItsProgramAndLogsTheCalibration) {
    ASSERT_TRUE(read(kHead + "targetprogram_8=Abel\r\nsensorsactive_8=1\r\nwhichsensor_8_1=1\r\n"
                             "keytosendhand_8_1=x\r\nkeydelayhand_8_1=123\r\nprogram=Abel\r\n"));
    EXPECT_EQ(program.target.index(), 8);
    EXPECT_EQ(program.target.sensors_active(), 1);
    EXPECT_EQ(program.target.point(0).hand_key, 'x');
    EXPECT_EQ(program.target.point(0).hand_delay_ms, 123);
    EXPECT_TRUE(has(h.log(), "Current calibration: Bell Sensor parameters"));
    EXPECT_TRUE(has(h.log(), "Other program options are \r\n"));
    EXPECT_FALSE(program.cfg.bespoke);
}

// A whole file as the program writes it: Abel selected, one sensor.
std::string good_file() {
    Harness w;
    Program& program = w.program();
    program.settings_file->set_base_name(kProgramVersion);
    program.cfg.port_name = "\\\\.\\COM3";
    program.cfg.sensor_count = 1;
    set_target_defaults(program.target, program.cfg.sensor_count);
    program.cfg.target_program = "Abel";
    EXPECT_TRUE(program.settings_file->write(program.cfg, program.target.table()));
    return w.fp.files.files[kMain];
}

// What editors add is read as meant: a byte-order mark, blanks round "="
// and after values, LF line ends; written again, the file is as it was. A
// window title keeps its last blank, and a key may be the blank itself.
TEST_F(ConfigRead, WhatEditorsAddIsReadAsMeant) {
    const std::string good = good_file();
    std::string edited = "\xEF\xBB\xBF";
    for (std::size_t at = 0, end; at < good.size(); at = end + 2) {
        end = good.find("\r\n", at);
        std::string line = good.substr(at, end - at);
        if (const std::size_t eq = line.find('='); eq != std::string::npos && line[0] != ';') {
            line.replace(eq, 1, " = ");
            if (line.rfind("targetprogram", 0) != 0) line += "  ";
        }
        edited += line + (at % 2 ? "\n" : "\r\n");
    }
    ASSERT_TRUE(read(edited));
    EXPECT_EQ(program.settings_file->problems(), 0) << h.log();
    EXPECT_EQ(program.target.table()[3].window_name, "Ringing Room ");
    program.settings_file->set_base_name(kProgramVersion);
    ASSERT_TRUE(program.settings_file->write(program.cfg, program.target.table()));
    EXPECT_EQ(h.fp.files.files[kMain], good);

    ASSERT_TRUE(read(kHead + "bignumbers=1\r\nbignumbers=true\r\nkeytosendback_0_1= \r\ntargetprogram2_2=Ring=ing \r\n"));
    EXPECT_FALSE(program.cfg.big_numbers);                                            // only "1" is true
    EXPECT_EQ(program.cfg.transient_ms, kDefaultTransientMs);  // no line: the default, not 0
    EXPECT_EQ(program.target.table()[0].points[0].back_key, ' ');
    EXPECT_EQ(program.target.table()[2].window_name, "Ring=ing ");
}

TEST_F(ConfigRead, LfOnlyLinesAndTrailingBlankOrCommentLines) {
    EXPECT_TRUE(read(kHead + "\nsleepnum=3\n\n;end\n\n"));
    EXPECT_EQ(program.cfg.loop_sleep_ms, 3);
    EXPECT_TRUE(read(kHead + "sleepnum=4\r\n\r\n;comment\r\n;x=1\r\n"));
    EXPECT_EQ(program.cfg.loop_sleep_ms, 4);
    EXPECT_TRUE(read(kHead + "sleepnum=6"));  // no line end at all
    EXPECT_EQ(program.cfg.loop_sleep_ms, 6);
}

TEST_F(ConfigRead, ProgramKeysWithoutAUsableIndexAreIgnoredSilently) {
    ASSERT_TRUE(read(kHead + "targetprogram_12=Twelve\r\ntargetprogram=None\r\ngotowindow_-1=1\r\n"
                             "sensorsactive_10=3\r\ntargetprogram_2_7=Two\r\n",
                     kBespoke));
    for (int i = 0; i <= kMaxTargetPrograms; ++i) {
        EXPECT_EQ(program.target.table()[i].name, i == 2 ? "Two" : "");
        EXPECT_EQ(program.target.table()[i].sensors_active, 0);
    }
    EXPECT_FALSE(has(h.log(), "ignored"));
}

TEST_F(ConfigRead, PerSensorLinesCountOnlyAfterTheirSensorsActiveLine) {
    ASSERT_TRUE(read(kHead + "sensornum=16\r\n" +
                         "whichsensor_3_2=5\r\n"  // before: the program has no sensing point 2 yet
                         "sensorsactive_3=2\r\n"
                         "keytosendback_3_2=k\r\n"
                         "keydelayback_3_3=9\r\n"  // beyond its sensorsactive
                         "sensorsactive_4=16\r\n"
                         "whichsensor_4_16=4\r\n"
                         "whichsensor_4_17=4\r\n"
                         "whichsensor_4=4\r\n",
                     kBespoke));
    const auto& p3 = program.target.table()[3];
    EXPECT_EQ(p3.points[1].sensor, 16);  // not 5: the default's sensor, as no sensor was named
    EXPECT_EQ(p3.points[1].back_key, 'k');
    EXPECT_EQ(p3.points[2].back_delay_ms, 0);
    EXPECT_EQ(program.target.table()[4].points[15].sensor, 4);

    ASSERT_TRUE(
        read(kHead + "sensornum=16\r\n" + "whichsensor_3_2=5\r\n", kBespoke));  // now program 3 has two
    EXPECT_EQ(p3.points[1].sensor, 5);
}

// Lines that would store outside the tables are dropped with a log line; the
// rest of the file still counts.
TEST_F(ConfigRead, LinesOutsideTheTablesAreIgnoredWithALogLine) {
    program.target.table()[1].sensors_active = 2;
    program.cfg.signal_count = 5;
    ASSERT_TRUE(read(kHead + "signaltime_0=1.0\r\nsignalgap_257=1.0\r\nsensorgap=1.0\r\n"
                             "sensorsactive_1=17\r\nsensorsactive_2=-1\r\nsignalnum=257\r\n"
                             "signaltime_256=2.5\r\nsleepnum=8\r\n",
                     kBespoke));
    EXPECT_EQ(program.target.table()[1].sensors_active, 2);
    EXPECT_EQ(program.target.table()[2].sensors_active, 0);
    EXPECT_EQ(program.cfg.signal_count, 5);
    EXPECT_EQ(program.cfg.results[255].signal_time_s, 2.5);
    EXPECT_EQ(program.cfg.loop_sleep_ms, 8);
    const std::string log = h.log();
    EXPECT_TRUE(has(log, "Configuration file entry ignored (index not in 1..256): signaltime_0=1.0\r\n"));
    EXPECT_TRUE(has(log, "Configuration file entry ignored (index not in 1..256): signalgap_257=1.0\r\n"));
    EXPECT_TRUE(has(log, "Configuration file entry ignored (index not in 1..256): sensorgap=1.0\r\n"));
    EXPECT_TRUE(has(log, "Configuration file entry ignored (value not in 0..16): sensorsactive_1=17\r\n"));
    EXPECT_TRUE(has(log, "Configuration file entry ignored (value not in 0..16): sensorsactive_2=-1\r\n"));
    EXPECT_TRUE(has(log, "Configuration file entry ignored (value not in 0..256): signalnum=257\r\n"));
}

// No line stops the program: each unusable one is named with its file and
// line and what to do, and the rest of the file counts. A line with no
// usable value for the calibration's findings leads to calibration afresh.
TEST(ConfigReadBadLines, EachIsNamedWithWhatHappens) {
    const std::string left_out = "; the line is left out: mend it or delete it";
    struct BadLine {
        std::string replaces;  // the key of the good line it stands for; empty: added at the end
        std::string line;
        std::string says;
        bool usable;
        std::function<bool(Program&)> then = [](Program&) { return true; };
    };
    auto point = [](Program& program) -> SensingPoint& { return program.target.point(0); };
    const std::vector<BadLine> cases = {
        {"comport", "comport COM3", "it is no setting (name=value)" + left_out, false},
        {"", "signalstartsoff=1",
         "there is no setting \"signalstartsoff\" (names are exact, in these letters)" + left_out, true},
        {"sleepnum", "sleepnum=5x", "\"5x\" is not a whole number" + left_out, true,
         [](Program& program) { return program.cfg.loop_sleep_ms == kDefaultLoopSleepMs; }},
        {"sleepnum", "sleepnum=99999999999999", "sleepnum must be in -1..50" + left_out, true},
        {"keydelayhand_8_1", "keydelayhand_8_1=2000000000",
         "keydelayhand must be in 0..1000; 1000 is used - mend the line to keep it so", true,
         [&](Program& program) { return point(program).hand_delay_ms == 1000; }},
        {"keydelayback_8_1", "keydelayback_8_1=-500",
         "keydelayback must be in 0..1000; 0 is used - mend the line to keep it so", true,
         [&](Program& program) { return point(program).back_delay_ms == 0; }},
        {"switchbouncedelay", "switchbouncedelay=2147483647",
         "switchbouncedelay must be in 0..500" + left_out, true,
         [](Program& program) { return program.cfg.switch_bounce_ms == kDefaultSwitchBounceMs; }},
        {"meansignallength", "meansignallength=2147483647", "meansignallength must be in 0..30000" + left_out,
         false},
        {"sensornum", "sensornum=-1", "sensornum must be in 1..16" + left_out, false},
        {"whichsensor_8_1", "whichsensor_8_1=99", "whichsensor must be in 1..1" + left_out, true,
         [&](Program& program) { return point(program).sensor == 1; }},
        {"spaceratioupperbound", "spaceratioupperbound=-1e308",
         "spaceratioupperbound must be in 1.01..10" + left_out, true,
         [](Program& program) { return program.cfg.space_ratio_high == 1.7; }},
        {"", "whichsensor_a_1=1", "\"a\" is not a number" + left_out, true},
        {"", "sensorgap_2=abc", "\"abc\" is not a number" + left_out, true},
        {"", "signalgap_3=6.6e121", "signalgap must be in 0..86400" + left_out, true,
         [](Program& program) { return program.cfg.results[2].signal_gap_s == 0; }},
        {"", "bandhanddelay_3=5000", "bandhanddelay must be in 0..1000; 1000 is used - mend the line to keep it so",
         true, [](Program& program) { return program.cfg.band.bell(3).hand_delay_ms == 1000; }},
        {"", "bandbell_x=1", "\"x\" is not a number" + left_out, true,
         [](Program& program) { return !program.cfg.band.on && program.cfg.band.bell_of('3') == 3; }},
        {"program", "program=Ringing R", "no target program is called \"Ringing R\"" + left_out, true,
         [](Program& program) { return program.settings_file->target_unknown(); }},
        // A sensor line that is not 0 or 1 is calibrated afresh: which line
        // the sensor is on is calibration's to find.
        {"usects", "usects=2", "usects must be in 0..1" + left_out, false},
        {"usects", "usects=1x", "usects must be in 0..1" + left_out, false},
        {"usedsr", "usedsr=-1", "usedsr must be in 0..1" + left_out, false},
    };
    const std::string good = good_file();
    for (const BadLine& b : cases) {
        SCOPED_TRACE(b.line);
        std::string text = good;
        std::size_t at = text.size();
        if (!b.replaces.empty()) {
            at = text.find("\r\n" + b.replaces + "=") + 2;
            text.erase(at, text.find("\r\n", at) - at);
        }
        text.insert(at, b.line + (b.replaces.empty() ? "\r\n" : ""));
        const auto line_no = std::count(text.begin(), text.begin() + at, '\n') + 1;
        Harness h;
        h.fp.files.files[kMain] = text;
        EXPECT_EQ(load_settings(h.program(), kMain), b.usable);
        const std::string message =
            kMain + " line " + std::to_string(line_no) + ": \"" + b.line + "\" - " + b.says;
        EXPECT_TRUE(has(screen_text(h.program()), message)) << screen_text(h.program());
        EXPECT_TRUE(has(h.log(), message + "\r\n"));
        EXPECT_EQ(has(h.log(), " - calibrating afresh, which writes a new file\r\n"), !b.usable);
        EXPECT_TRUE(b.then(h.program()));
    }
    // Each line good, but none on with the sensors on the lines: nothing
    // would be watched.
    std::string text = good;
    text.replace(text.find("signalsmode=0"), 13, "signalsmode=1");
    const std::size_t at = text.find("\r\nusects=0") + 2;
    const auto line_no = std::count(text.begin(), text.begin() + static_cast<long>(at), '\n') + 1;
    Harness h;
    h.fp.files.files[kMain] = text;
    EXPECT_FALSE(load_settings(h.program(), kMain));
    EXPECT_TRUE(has(h.log(), kMain + " lines " + std::to_string(line_no) + ", " + std::to_string(line_no + 1) +
                                 ", " + std::to_string(line_no + 2) + ", " + std::to_string(line_no + 3) +
                                 ": usects, usedsr, usecd and useri are all 0, so no sensor line would be watched"
                                 " - calibrating afresh, which writes a new file\r\n"))
        << h.log();
}

// A file cut short keeps what it has: the table entries it lost get their
// defaults and the target is asked for. One cut before the calibration's
// findings, an empty one or one saved as UTF-16 is calibrated afresh.
TEST(ConfigReadBadLines, AFileCutShortSaysWhatItLacks) {
    const std::string good = good_file();
    auto first_lines = [&good](int count) {
        std::size_t cut = 0;
        for (int n = 0; n < count; ++n) cut = good.find('\n', cut) + 1;
        return good.substr(0, cut);
    };
    Harness h;
    Program& program = h.program();
    h.fp.files.files[kMain] = first_lines(150);
    ASSERT_TRUE(load_settings(program, kMain));
    for (int i = 7; i <= kMaxTargetPrograms; ++i)
        EXPECT_EQ(program.target.table()[i].name,
                  target_name(program.target, static_cast<std::uint8_t>(i)));
    EXPECT_EQ(program.target.table()[9].points[0].hand_key, 'j');
    EXPECT_TRUE(program.settings_file->target_unknown());
    EXPECT_TRUE(has(h.log(), kMain + " has no usable line for program, "));
    EXPECT_TRUE(has(h.log(), " more - the defaults are used, and the target program is asked for\r\n"));

    std::string junk;  // a file of anything but settings: twenty lines are named, the rest counted
    for (int n = 0; n < 30; ++n) junk += "x\r\n";
    for (const std::string& text : {std::string(), first_lines(12), "\xFF\xFE" + good, junk}) {
        Harness f;
        f.fp.files.files[kMain] = text;
        EXPECT_FALSE(load_settings(f.program(), kMain));
        EXPECT_FALSE(has(f.log(), "is not right for program version"));
        EXPECT_TRUE(has(f.log(), " - calibrating afresh, which writes a new file\r\n")) << f.log();
        EXPECT_EQ(has(f.log(), kMain + ": 10 more lines cannot be used either and are left out\r\n"),
                  text == junk);
    }
}

// Here or in the settings folder (the XDG folder, --folder).
TEST_F(ConfigRead, BespokeNeedsNoVersionAndLogsEachSettingLine) {
    for (const std::string name : {"Bespoke.INI", "/home/r/.config/quennick/bespoke.ini"}) {
        Harness f;
        f.fp.files.files[name] = "sleepnum=9\r\n;comment\r\nprogram=Abel\r\n";
        ASSERT_TRUE(load_settings(f.program(), name)) << name;
        EXPECT_TRUE(f.program().cfg.bespoke);
        EXPECT_EQ(f.program().cfg.loop_sleep_ms, 9);
        EXPECT_EQ(f.program().target.index(), 8);
        const std::string log = f.log();
        EXPECT_TRUE(has(log, "**ADD Bespoke.ini configuration modification: sleepnum=9\r\n"));
        EXPECT_TRUE(has(log, "**ADD Bespoke.ini configuration modification: program=Abel\r\n"));
        EXPECT_FALSE(has(log, "modification: ;comment"));
        EXPECT_FALSE(has(log, "interfaceversion")) << name;
    }
}

TEST_F(ConfigRead, WrongOrMissingVersionFailsButKeepsTheValues) {
    EXPECT_FALSE(read("interfaceversion=Quennick_v0.7_\r\nsleepnum=9\r\nprogram=Abel\r\n"));
    EXPECT_EQ(program.cfg.loop_sleep_ms, 9);
    EXPECT_EQ(program.cfg.target_program, "Abel");
    EXPECT_EQ(program.target.index(), 0);  // not selected
    const std::string msg =
        "Current configuration file Quennick v0.8.2d3 (04 Jan 2021) .ini is not right for program version "
        "Quennick v0.8.2d3 (04 Jan 2021) ";
    EXPECT_TRUE(has(screen_text(program), msg));
    EXPECT_TRUE(has(h.log(), msg + "\r\n"));
    EXPECT_FALSE(has(h.log(), "Current calibration:"));

    EXPECT_FALSE(read("sleepnum=11\r\n"));
    EXPECT_EQ(program.cfg.loop_sleep_ms, 11);
}

}  // namespace
}  // namespace qn::test
