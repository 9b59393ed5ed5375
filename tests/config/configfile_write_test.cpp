#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cstdint>
#include <string>

#include "config/configfile.h"
#include "service/program.h"
#include "fakes/fake_platform.h"
#include "keyout/targets.h"

namespace qn::test {
namespace {

const std::string kMain = std::string(kProgramVersion) + ".ini";
const std::string kTemp = kMain + ".new";

bool has(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

std::string crlf(const std::string& lf_text) {
    std::string out;
    for (char ch : lf_text) {
        if (ch == '\n') out += '\r';
        out += ch;
    }
    return out;
}

void name_the_file(Program& program) { program.settings_file->set_base_name(kProgramVersion); }

// Every setting and table field gets its own value; `odd` flips every flag so
// two fills together catch a flag read into the wrong place.
void fill_everything(Program& program, bool odd) {
    Settings& s = program.cfg;
    s.port_name = "\\\\.\\COM17";
    s.signals_mode = odd;
    s.rest_on_mode = true;  // so the input character is written
    s.use_line[ModemLine::Cts] = !odd;
    s.use_line[ModemLine::Dsr] = odd;
    s.use_line[ModemLine::Cd] = !odd;
    s.use_line[ModemLine::Ri] = odd;
    s.data_char = 'Z';
    s.signal_count = kMaxCalibrationEvents;
    for (int n = 1; n <= kMaxCalibrationEvents; ++n) {
        // k / 10000 is the double that its 4-decimal text reads back as.
        s.results[n - 1].signal_time_s = (n * 391) / 10000.0;
        s.results[n - 1].signal_gap_s = (n * 7 + 1) / 10000.0;
        s.results[n - 1].sensor_gap_s = (n % 3 == 0) ? 0.0 : (n * 13 + 2) / 10000.0;
    }
    s.loop_sleep_ms = -1;
    s.big_numbers = !odd;
    s.monitor_output = odd;
    s.switch_bounce_ms = 41;
    s.transient_ms = 3;
    s.signal_starts_off = odd;
    s.sensor_count = kMaxSensors;
    s.mean_signal_ms = 27;
    s.handbells = false;
    s.off_and_on_are_signals = !odd;
    s.space_ratio_low = 0.1 + 0.2;
    s.space_ratio_high = 1.0 / 3.0 + 1.0;
    s.target_program = "Ding - moving ropes";
    s.band.on = odd;
    for (int n = 1; n <= kMaxBandBells; ++n) {
        BandBellSetting& b = s.band.bell(n);
        b.rung = (n % 3 == 0) != odd;
        b.box_char = static_cast<char>('a' + n);
        b.hand_delay_ms = n * 50;
        b.back_delay_ms = 1000 - n * 7;
    }
    for (int i = 0; i <= kMaxTargetPrograms; ++i) {
        TargetProgram& e = program.target.table()[i];
        e.name = "Name_" + std::to_string(i) + " with blanks";
        e.window_name = "Window " + std::to_string(i) + " ";
        e.sensors_active = i + 7;
        e.find_window = (i % 2 == 0) == odd;
        e.restricted = (i % 2 == 1) == odd;
        e.use_doubled_send = (i % 3 == 0) == odd;
        e.double_strike_delay_ms = 300 + i;
        for (int j = 1; j <= e.sensors_active; ++j) {
            SensingPoint& p = e.points[j - 1];
            p.sensor = (i * 7 + j) % kMaxSensors + 1;
            p.hand_key = static_cast<char>('a' + j);
            p.hand_delay_ms = i * 100 + j;
            p.back_key = static_cast<char>('A' + j);
            p.back_delay_ms = 1000 - (i * 100 + j);
        }
    }
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

void expect_same_settings(Program& a, Program& b) {
    const Settings& x = a.cfg;
    const Settings& y = b.cfg;
    EXPECT_EQ(x.port_name, y.port_name);
    EXPECT_EQ(x.signals_mode, y.signals_mode);
    EXPECT_EQ(x.rest_on_mode, y.rest_on_mode);
    EXPECT_EQ(x.use_line[ModemLine::Cts], y.use_line[ModemLine::Cts]);
    EXPECT_EQ(x.use_line[ModemLine::Dsr], y.use_line[ModemLine::Dsr]);
    EXPECT_EQ(x.use_line[ModemLine::Cd], y.use_line[ModemLine::Cd]);
    EXPECT_EQ(x.use_line[ModemLine::Ri], y.use_line[ModemLine::Ri]);
    EXPECT_EQ(x.data_char, y.data_char);
    EXPECT_EQ(x.signal_count, y.signal_count);
    for (int n = 1; n <= kMaxCalibrationEvents; ++n) {
        EXPECT_EQ(bits(x.results[n - 1].signal_time_s), bits(y.results[n - 1].signal_time_s)) << n;
        EXPECT_EQ(bits(x.results[n - 1].signal_gap_s), bits(y.results[n - 1].signal_gap_s)) << n;
        EXPECT_EQ(bits(x.results[n - 1].sensor_gap_s), bits(y.results[n - 1].sensor_gap_s)) << n;
    }
    EXPECT_EQ(x.loop_sleep_ms, y.loop_sleep_ms);
    EXPECT_EQ(x.big_numbers, y.big_numbers);
    EXPECT_EQ(x.monitor_output, y.monitor_output);
    EXPECT_EQ(x.switch_bounce_ms, y.switch_bounce_ms);
    EXPECT_EQ(x.transient_ms.load(), y.transient_ms.load());
    EXPECT_EQ(x.signal_starts_off, y.signal_starts_off);
    EXPECT_EQ(x.sensor_count, y.sensor_count);
    EXPECT_EQ(x.mean_signal_ms, y.mean_signal_ms);
    EXPECT_EQ(x.handbells, y.handbells);
    EXPECT_EQ(x.off_and_on_are_signals, y.off_and_on_are_signals);
    EXPECT_EQ(bits(x.space_ratio_low), bits(y.space_ratio_low));
    EXPECT_EQ(bits(x.space_ratio_high), bits(y.space_ratio_high));
    EXPECT_EQ(x.target_program, y.target_program);
    EXPECT_EQ(x.band.on, y.band.on);
    for (int n = 1; n <= kMaxBandBells; ++n) {
        EXPECT_EQ(x.band.bell(n).rung, y.band.bell(n).rung) << n;
        EXPECT_EQ(x.band.bell(n).box_char, y.band.bell(n).box_char) << n;
        EXPECT_EQ(x.band.bell(n).hand_delay_ms, y.band.bell(n).hand_delay_ms) << n;
        EXPECT_EQ(x.band.bell(n).back_delay_ms, y.band.bell(n).back_delay_ms) << n;
    }
    for (int i = 0; i <= kMaxTargetPrograms; ++i) {
        SCOPED_TRACE(i);
        const TargetProgram& e = a.target.table()[i];
        const TargetProgram& f = b.target.table()[i];
        EXPECT_EQ(e.name, f.name);
        EXPECT_EQ(e.window_name, f.window_name);
        EXPECT_EQ(e.sensors_active, f.sensors_active);
        EXPECT_EQ(e.find_window, f.find_window);
        EXPECT_EQ(e.restricted, f.restricted);
        EXPECT_EQ(e.use_doubled_send, f.use_doubled_send);
        EXPECT_EQ(e.double_strike_delay_ms, f.double_strike_delay_ms);
        for (int j = 1; j <= kMaxSensors; ++j) {
            const SensingPoint& p = e.points[j - 1];
            const SensingPoint& q = f.points[j - 1];
            EXPECT_EQ(p.sensor, q.sensor) << j;
            EXPECT_EQ(p.hand_key, q.hand_key) << j;
            EXPECT_EQ(p.hand_delay_ms, q.hand_delay_ms) << j;
            EXPECT_EQ(p.back_key, q.back_key) << j;
            EXPECT_EQ(p.back_delay_ms, q.back_delay_ms) << j;
        }
    }
}

TEST(ConfigWrite, EverySettingReadsBackUnchanged) {
    for (bool odd : {false, true}) {
        SCOPED_TRACE(odd);
        Harness w;
        name_the_file(w.program());
        fill_everything(w.program(), odd);
        ASSERT_TRUE(w.program().settings_file->write(w.program().cfg, w.program().target.table()));

        Harness r;
        r.fp.files.files[kMain] = w.fp.files.files[kMain];
        ASSERT_TRUE(load_settings(r.program(), kMain));
        expect_same_settings(w.program(), r.program());
        EXPECT_EQ(r.program().target.index(), 7);
    }
}

TEST(ConfigWrite, SpaceRatioBoundsReadBackBitForBit) {
    Harness h;
    name_the_file(h.program());
    h.program().cfg.sensor_count = 1;
    for (double v : {0.6, 0.99, 1.0 / 3.0, DBL_TRUE_MIN, 1e-310, DBL_MIN, -0.0, 0.0}) {
        SCOPED_TRACE(v);
        h.program().cfg.space_ratio_low = v;
        h.program().cfg.space_ratio_high = 10 - v * 9;
        ASSERT_TRUE(h.program().settings_file->write(h.program().cfg, h.program().target.table()));
        h.program().cfg.space_ratio_low = 99;
        h.program().cfg.space_ratio_high = 99;
        ASSERT_TRUE(load_settings(h.program(), kMain));
        EXPECT_EQ(bits(h.program().cfg.space_ratio_low), bits(v));
        EXPECT_EQ(bits(h.program().cfg.space_ratio_high), bits(10 - v * 9));
    }
}

// The whole text for a small set-up: one calibrated program, the other nine
// empty.
TEST(ConfigWrite, TextIsExactWithCrLfLineEnds) {
    Harness h;
    Program& program = h.program();
    name_the_file(program);
    Settings& s = program.cfg;
    s.port_name = "\\\\.\\COM3";
    s.signals_mode = true;
    s.use_line[ModemLine::Cts] = true;
    s.data_char = 'x';  // not written outside Bagley mode
    s.signal_count = 4;
    s.results[0] = {0.0, 0.0, 0.0};
    s.results[1] = {0.2345, 0.2345, 0.0305};
    s.results[2] = {1.5, 1.2655, 0.0};
    s.results[3] = {12.34564, 10.8456, 10.8456};
    s.transient_ms = 2;
    s.sensor_count = 2;
    s.mean_signal_ms = 31;
    s.target_program = "Open";
    TargetProgram& e = program.target.table()[0];
    e.name = "Open";
    e.window_name = "Open";
    e.sensors_active = 2;
    e.use_doubled_send = true;
    e.double_strike_delay_ms = 350;
    e.points[0] = {2, 'j', 80, 'k', 81};
    e.points[1] = {1, 'h', 0, 'g', 5};
    ASSERT_TRUE(program.settings_file->write(program.cfg, program.target.table()));

    std::string expected = crlf(std::string(R"(;program name=Quennick
;With care you can edit the entries directly.
;Empty lines and lines starting with ; are ignored
;No spaces in action lines after =
;interface version:
interfaceversion=Quennick_v0.8.2d3_(04_Jan_2021)_
;Parameters relevant to event detection
comport=\\.\COM3
signalsmode=1
usects=1
usedsr=0
usecd=0
useri=0
; bagleymode=1 cannot be used with signals (signalsmode=1)
bagleymode=0
usedatinputchar=0
; the raw calibration data from the dumbbell - so it can be reviewed
signalnum=4
signaltime_1= 0.0000
signalgap_1= 0.0000
sensorgap_1= 0.0000
signaltime_2= 0.2345
signalgap_2= 0.2345
sensorgap_2= 0.0305
;WARNING sensorgap_2=   30.5 < 40ms: signal may not always be detected
signaltime_3= 1.5000
signalgap_3= 1.2655
; sensor currently ignored:
sensorgap_3= 0.0000
signaltime_4=12.3456
signalgap_4=10.8456
sensorgap_4=10.8456
;end of raw calibration data from the dumbbell
; sleepnum puts the routine briefly to sleep - no effect in Bagley mode
; sleepnum 0 or 1 uses less computer power, but may risk lost strokes if the signal is very short. do not change default unless advised
; sleepnum default is 5 (-1 means OFF)
sleepnum=5
; bignumbers turns on (1) or off (0) (default) On slow computers should be off
bignumbers=0
; monitoroutput default=0 - Do not change unless advised: makes a lot of log file output *while running* 
; good for detail, but may cause missed keys on slow computers
; When it is OFF, a summary log is written when ringing finishes
monitoroutput=0
; switchbouncedelay >0 eliminates switch bounce trouble (rapid on-off switching during ON and OFF phases rather than clean ON/OFF) units:millsecs, default=40
switchbouncedelay=40
;transientsignalsdelay = time threshold (in millisecs) for omitting transient signals: 0 mneans switched off = max sensitivity)
;>0 can eliminate transients from electrical interference, but will drop detection of true very short signals
;default=2 (but may be set 0 during calibration if short signals not found
transientsignalsdelay=2
;signalstartsOFF=1 means the control signal state is normally low and goes high when the sensor is activated
signalstartsOFF=1
; for two sensor installations (ONLY), if switching is clean setting this zero reduces risk of missed first pulses
; sensor timing and action
sensornum=2
;meansignallength is the mean length of the signal impulses as recorded on calibration - do not alter this
meansignallength=31
usinghandbells=0
;offandonaresignals=1 is for installations where on is one stroke and off the other, only works with single sensor point
offandonaresignals=0
;less than spaceratiolowerbound between blows => signal regarded as spurious, above spaceratioupperbound that a blow was missed.  If usedoubledsend is 1, program ignores spurious blows and makes a double strike if one was missed.
spaceratiolowerbound=5.99999999999999978E-01
spaceratioupperbound=1.69999999999999996E+00
;program specific settings:
;In use parameters for:Open
targetprogram_0=Open
targetprogram2_0=Open
gotowindow_0=0
restricted_0=0
sensorsactive_0=2
usedoubledsend_0=1
doublestrikedelay_0=350
whichsensor_0_1=2
keytosendhand_0_1=j
keydelayhand_0_1=80
keytosendback_0_1=k
keydelayback_0_1=81
whichsensor_0_2=1
keytosendhand_0_2=h
keydelayhand_0_2=0
keytosendback_0_2=g
keydelayback_0_2=5
)"));
    for (int i = 1; i <= 9; ++i) {
        const std::string n = std::to_string(i);
        expected += crlf(";In use parameters for:\ntargetprogram_" + n + "=\ntargetprogram2_" + n + "=\ngotowindow_" + n +
                         "=0\nrestricted_" + n + "=0\nsensorsactive_" + n + "=0\nusedoubledsend_" + n +
                         "=0\ndoublestrikedelay_" + n + "=0\n");
    }
    expected += crlf(";currentprogram selection (\"Open\" means any program window with focus):\nprogram=Open\n");
    EXPECT_EQ(h.fp.files.files[kMain], expected);

    // The same text goes into the run log between its two marker lines.
    EXPECT_TRUE(has(h.log(), "Write configuration file for Open\r\n" + expected + "End write configuration file for Open\r\n"));
}

TEST(ConfigWrite, NoCalibrationEventsMeansNoDataLines) {
    Harness h;
    name_the_file(h.program());
    h.program().cfg.signal_count = 0;
    h.program().cfg.results[0].signal_time_s = 1.0;
    ASSERT_TRUE(h.program().settings_file->write(h.program().cfg, h.program().target.table()));
    const std::string& text = h.fp.files.files[kMain];
    EXPECT_TRUE(has(text, "signalnum=0\r\n;end of raw calibration data from the dumbbell\r\n"));
    EXPECT_FALSE(has(text, "signaltime_"));
    EXPECT_FALSE(has(text, "signalgap_"));
    EXPECT_FALSE(has(text, "sensorgap_"));
}

TEST(ConfigWrite, HandbellsWriteAndReadBackZeroDelays) {
    Harness w;
    Program& program = w.program();
    name_the_file(program);
    program.cfg.sensor_count = 2;
    set_target_defaults(program.target, program.cfg.sensor_count);
    program.cfg.handbells = true;
    program.target.table()[5].sensors_active = 2;
    program.target.table()[5].points[1] = {2, 'm', 120, 'n', 130};
    ASSERT_TRUE(program.settings_file->write(program.cfg, program.target.table()));
    const std::string& text = w.fp.files.files[kMain];
    EXPECT_TRUE(has(text, "keydelayhand_5_2=0\r\n"));
    EXPECT_TRUE(has(text, "keydelayback_0_1=0\r\n"));
    EXPECT_FALSE(has(text, "keydelayhand_0_1=80"));
    EXPECT_EQ(program.target.table()[0].points[0].hand_delay_ms, 80);  // memory keeps them
    EXPECT_EQ(program.target.table()[5].points[1].back_delay_ms, 130);

    Harness r;
    r.fp.files.files[kMain] = text;
    ASSERT_TRUE(load_settings(r.program(), kMain));
    for (int i = 0; i <= kMaxTargetPrograms; ++i)
        for (int j = 1; j <= 2; ++j) {
            EXPECT_EQ(r.program().target.table()[i].points[j - 1].hand_delay_ms, 0);
            EXPECT_EQ(r.program().target.table()[i].points[j - 1].back_delay_ms, 0);
        }
    EXPECT_EQ(r.program().target.table()[5].points[1].back_key, 'n');
}

// ---- the safe replacement of the previous file ------------------------------

TEST(ConfigSave, GoesThroughATemporaryFileThatIsPutInPlace) {
    Harness h;
    name_the_file(h.program());
    h.fp.files.files[kMain] = "old";
    ASSERT_TRUE(h.program().settings_file->write(h.program().cfg, h.program().target.table()));
    EXPECT_TRUE(has(h.fp.files.files[kMain], "interfaceversion="));
    EXPECT_EQ(h.fp.files.files.count(kTemp), 0u);
    auto& calls = h.fp.files.calls;
    auto created = std::find(calls.begin(), calls.end(), "create " + kTemp);
    auto replaced = std::find(calls.begin(), calls.end(), "replace " + kTemp + " " + kMain);
    ASSERT_NE(created, calls.end());
    ASSERT_NE(replaced, calls.end());
    EXPECT_LT(created, replaced);
    EXPECT_EQ(std::find(calls.begin(), calls.end(), "create " + kMain), calls.end());
}

// Fails one chosen step of saving: an OutFile call or the replace.
class StepFailingFiles : public platform::Files {
    class File : public platform::OutFile {
    public:
        File(std::unique_ptr<platform::OutFile> f, const std::string& step) : f_(std::move(f)), step_(step) {}
        platform::Result<void> write(std::string_view b) override { return f_->write(b); }
        platform::Result<void> flush() override {
            return step_ == "flush" ? platform::fail("FlushFileBuffers: The device is not ready") : f_->flush();
        }
        platform::Result<void> sync() override {
            return step_ == "sync" ? platform::fail("FlushFileBuffers: The device is not ready") : f_->sync();
        }
        platform::Result<void> close() override {
            auto r = f_->close();
            return step_ == "close" ? platform::fail("CloseHandle: The network name is no longer available") : r;
        }

    private:
        std::unique_ptr<platform::OutFile> f_;
        std::string step_;
    };

public:
    StepFailingFiles(FakeFiles& real, std::string step) : real_(real), step_(std::move(step)) {}
    platform::Result<void> make_dir(const std::string& p) override { return real_.make_dir(p); }
    bool exists(const std::string& p) override { return real_.exists(p); }
    platform::Result<std::unique_ptr<platform::OutFile>> create(const std::string& p) override {
        auto r = real_.create(p);
        if (!r.ok()) return platform::Error{r.error()};
        return std::unique_ptr<platform::OutFile>(new File(std::move(r.value()), step_));
    }
    platform::Result<std::string> read_all(const std::string& p) override { return real_.read_all(p); }
    platform::Result<void> replace(const std::string& from, const std::string& to) override {
        if (step_ == "replace") return platform::fail("MoveFileEx " + from + ": Access is denied");
        return real_.replace(from, to);
    }
    platform::Result<void> remove(const std::string& p) override { return real_.remove(p); }
    platform::Result<void> redirect_stderr(const std::string& p) override { return real_.redirect_stderr(p); }
    platform::LocalDateTime now() override { return real_.now(); }

private:
    FakeFiles& real_;
    std::string step_;
};

// Every failing step leaves the old file whole, no temporary file, a yellow
// console line naming the call, a log line, and the program going on.
void expect_failed_save(Harness& h, const std::string& call) {
    EXPECT_FALSE(h.program().settings_file->write(h.program().cfg, h.program().target.table()));
    EXPECT_EQ(h.fp.files.files[kMain], "old settings");
    EXPECT_EQ(h.fp.files.files.count(kTemp), 0u);
    const std::string shown = "Settings not saved: " + call;
    const std::string two_lines = h.program().screen.line_text(1) + h.program().screen.line_text(2);  // it wraps
    EXPECT_EQ(two_lines.substr(0, shown.size()), shown);
    EXPECT_EQ(h.program().screen.at(1, 1).fg, kYellow);
    EXPECT_TRUE(has(h.log(), "Write configuration file " + kMain + " failed, the previous file is kept: " + call));
    EXPECT_FALSE(has(h.log(), "Write configuration file for"));
}

TEST(ConfigSave, ReadOnlyFolderKeepsTheOldFile) {
    Harness h;
    name_the_file(h.program());
    h.fp.files.files[kMain] = "old settings";
    h.fp.files.read_only_dirs.insert("");
    expect_failed_save(h, "CreateFile " + kTemp + ": Access is denied");
}

TEST(ConfigSave, FullDiskMidWriteKeepsTheOldFile) {
    Harness h;
    name_the_file(h.program());
    h.fp.files.files[kMain] = "old settings";
    h.fp.files.fail_writes_after = 1000;  // the settings text is longer; the log lines shorter
    expect_failed_save(h, "WriteFile " + kTemp + ": There is not enough space on the disk");
    EXPECT_NE(std::find(h.fp.files.calls.begin(), h.fp.files.calls.end(), "remove " + kTemp), h.fp.files.calls.end());
}

TEST(ConfigSave, FailedFlushSyncCloseOrReplaceKeepsTheOldFile) {
    const std::pair<const char*, std::string> steps[] = {
        {"flush", "FlushFileBuffers: The device is not ready"},
        {"sync", "FlushFileBuffers: The device is not ready"},
        {"close", "CloseHandle: The network name is no longer available"},
        {"replace", "MoveFileEx " + kTemp + ": Access is denied"},
    };
    for (const auto& [step, error] : steps) {
        SCOPED_TRACE(step);
        Harness h;
        name_the_file(h.program());
        h.fp.files.files[kMain] = "old settings";
        StepFailingFiles failing(h.fp.files, step);
        h.fp.plat.files = &failing;
        expect_failed_save(h, error);
        h.fp.plat.files = &h.fp.files;
    }
}

}  // namespace
}  // namespace qn::test
