#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cstdint>
#include <string>

#include "config/configfile.h"
#include "core/context.h"
#include "fakes/fake_platform.h"
#include "keyout/targets.h"

namespace qn::test {
namespace {

const std::string kMain = std::string(PROGRAM_VERSION) + ".ini";
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

void name_the_file(Context& c) { c.core.FNAMEFI = PROGRAM_VERSION; }

// Every setting and table field gets its own value; `odd` flips every flag so
// two fills together catch a flag read into the wrong place.
void fill_everything(Context& c, bool odd) {
    Settings& s = c.cfg;
    s.COMPORTNAME = "\\\\.\\COM17";
    s.SIGNALSMODE = odd;
    s.BAGLEYMODE = true;  // so the input character is written
    s.USECTS = !odd;
    s.USEDSR = odd;
    s.USECD = !odd;
    s.USERI = odd;
    s.USEDATINPUTCHAR = 'Z';
    s.SIGNALNUM = MAXCALIBRATIONEVENTS;
    for (int n = 1; n <= MAXCALIBRATIONEVENTS; ++n) {
        // k / 10000 is the double that its 4-decimal text reads back as.
        s.DATARESULT[n].SIGNALTIME = (n * 391) / 10000.0;
        s.DATARESULT[n].SIGNALGAP = (n * 7 + 1) / 10000.0;
        s.DATARESULT[n].SENSORGAP = (n % 3 == 0) ? 0.0 : (n * 13 + 2) / 10000.0;
    }
    s.SLEEPNUM = -1;
    s.BIGNUMBERS = !odd;
    s.MONITOROUTPUT = odd;
    s.SWITCHBOUNCEDELAY = 41;
    s.TRANSIENTSIGNALSDELAY = 3;
    s.SIGNALSTARTSOFF = odd;
    s.SENSORNUM = MAXSENSORS;
    s.MEANSIGNALLENGTH = 27;
    s.USINGHANDBELLS = false;
    s.OFFANDONARESIGNALS = !odd;
    s.SPACERATIOLOWERBOUND = 0.1 + 0.2;
    s.SPACERATIOUPPERBOUND = 1.0 / 3.0 + 1.0;
    s.TARGETPROGRAM = "Ding - moving ropes";
    for (int i = 0; i <= MAXTARGETPROGS; ++i) {
        TARGETPROGRAMARRTYPE& e = c.keyout.TARGETPROGRAMARR[i];
        e.TTARGETPROGRAM = "Name_" + std::to_string(i) + " with blanks";
        e.TTARGETPROGRAM2 = "Window " + std::to_string(i) + " ";
        e.TSENSORSACTIVE = i + 7;
        e.TFINDINGANDGOINGTOWINDOW = (i % 2 == 0) == odd;
        e.TRESTRICTEDVERSION = (i % 2 == 1) == odd;
        e.TUSEDOUBLEDSEND = (i % 3 == 0) == odd;
        e.TDOUBLESTRIKEDELAY = 300 + i;
        for (int j = 1; j <= e.TSENSORSACTIVE; ++j) {
            SensingPoint& p = e.TWHICHSENSORARR[j];
            p.WSNUM = (i * 7 + j) % MAXSENSORS + 1;
            p.WKEYHAND = static_cast<char>('a' + j);
            p.WDELAYHAND = i * 100 + j;
            p.WKEYBACK = static_cast<char>('A' + j);
            p.WDELAYBACK = 1000 - (i * 100 + j);
        }
    }
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

void expect_same_settings(Context& a, Context& b) {
    const Settings& x = a.cfg;
    const Settings& y = b.cfg;
    EXPECT_EQ(x.COMPORTNAME, y.COMPORTNAME);
    EXPECT_EQ(x.SIGNALSMODE, y.SIGNALSMODE);
    EXPECT_EQ(x.BAGLEYMODE, y.BAGLEYMODE);
    EXPECT_EQ(x.USECTS, y.USECTS);
    EXPECT_EQ(x.USEDSR, y.USEDSR);
    EXPECT_EQ(x.USECD, y.USECD);
    EXPECT_EQ(x.USERI, y.USERI);
    EXPECT_EQ(x.USEDATINPUTCHAR, y.USEDATINPUTCHAR);
    EXPECT_EQ(x.SIGNALNUM, y.SIGNALNUM);
    for (int n = 1; n <= MAXCALIBRATIONEVENTS; ++n) {
        EXPECT_EQ(bits(x.DATARESULT[n].SIGNALTIME), bits(y.DATARESULT[n].SIGNALTIME)) << n;
        EXPECT_EQ(bits(x.DATARESULT[n].SIGNALGAP), bits(y.DATARESULT[n].SIGNALGAP)) << n;
        EXPECT_EQ(bits(x.DATARESULT[n].SENSORGAP), bits(y.DATARESULT[n].SENSORGAP)) << n;
    }
    EXPECT_EQ(x.SLEEPNUM, y.SLEEPNUM);
    EXPECT_EQ(x.BIGNUMBERS, y.BIGNUMBERS);
    EXPECT_EQ(x.MONITOROUTPUT, y.MONITOROUTPUT);
    EXPECT_EQ(x.SWITCHBOUNCEDELAY, y.SWITCHBOUNCEDELAY);
    EXPECT_EQ(x.TRANSIENTSIGNALSDELAY.load(), y.TRANSIENTSIGNALSDELAY.load());
    EXPECT_EQ(x.SIGNALSTARTSOFF, y.SIGNALSTARTSOFF);
    EXPECT_EQ(x.SENSORNUM, y.SENSORNUM);
    EXPECT_EQ(x.MEANSIGNALLENGTH, y.MEANSIGNALLENGTH);
    EXPECT_EQ(x.USINGHANDBELLS, y.USINGHANDBELLS);
    EXPECT_EQ(x.OFFANDONARESIGNALS, y.OFFANDONARESIGNALS);
    EXPECT_EQ(bits(x.SPACERATIOLOWERBOUND), bits(y.SPACERATIOLOWERBOUND));
    EXPECT_EQ(bits(x.SPACERATIOUPPERBOUND), bits(y.SPACERATIOUPPERBOUND));
    EXPECT_EQ(x.TARGETPROGRAM, y.TARGETPROGRAM);
    for (int i = 0; i <= MAXTARGETPROGS; ++i) {
        SCOPED_TRACE(i);
        const TARGETPROGRAMARRTYPE& e = a.keyout.TARGETPROGRAMARR[i];
        const TARGETPROGRAMARRTYPE& f = b.keyout.TARGETPROGRAMARR[i];
        EXPECT_EQ(e.TTARGETPROGRAM, f.TTARGETPROGRAM);
        EXPECT_EQ(e.TTARGETPROGRAM2, f.TTARGETPROGRAM2);
        EXPECT_EQ(e.TSENSORSACTIVE, f.TSENSORSACTIVE);
        EXPECT_EQ(e.TFINDINGANDGOINGTOWINDOW, f.TFINDINGANDGOINGTOWINDOW);
        EXPECT_EQ(e.TRESTRICTEDVERSION, f.TRESTRICTEDVERSION);
        EXPECT_EQ(e.TUSEDOUBLEDSEND, f.TUSEDOUBLEDSEND);
        EXPECT_EQ(e.TDOUBLESTRIKEDELAY, f.TDOUBLESTRIKEDELAY);
        for (int j = 1; j <= MAXSENSORS; ++j) {
            const SensingPoint& p = e.TWHICHSENSORARR[j];
            const SensingPoint& q = f.TWHICHSENSORARR[j];
            EXPECT_EQ(p.WSNUM, q.WSNUM) << j;
            EXPECT_EQ(p.WKEYHAND, q.WKEYHAND) << j;
            EXPECT_EQ(p.WDELAYHAND, q.WDELAYHAND) << j;
            EXPECT_EQ(p.WKEYBACK, q.WKEYBACK) << j;
            EXPECT_EQ(p.WDELAYBACK, q.WDELAYBACK) << j;
        }
    }
}

TEST(ConfigWrite, EverySettingReadsBackUnchanged) {
    for (bool odd : {false, true}) {
        SCOPED_TRACE(odd);
        Harness w;
        name_the_file(w.c());
        fill_everything(w.c(), odd);
        ASSERT_TRUE(WRITECONFIGFILE(w.c()));

        Harness r;
        r.fp.files.files[kMain] = w.fp.files.files[kMain];
        ASSERT_TRUE(READCONFIGFILE(r.c(), kMain));
        expect_same_settings(w.c(), r.c());
        EXPECT_EQ(r.c().keyout.TARGETPROGRAMINDEX, 7);
    }
}

TEST(ConfigWrite, SpaceRatioBoundsReadBackBitForBit) {
    Harness h;
    name_the_file(h.c());
    h.c().cfg.SENSORNUM = 1;
    for (double v : {0.6, 0.99, 1.0 / 3.0, DBL_TRUE_MIN, 1e-310, DBL_MIN, -0.0, 0.0}) {
        SCOPED_TRACE(v);
        h.c().cfg.SPACERATIOLOWERBOUND = v;
        h.c().cfg.SPACERATIOUPPERBOUND = 10 - v * 9;
        ASSERT_TRUE(WRITECONFIGFILE(h.c()));
        h.c().cfg.SPACERATIOLOWERBOUND = 99;
        h.c().cfg.SPACERATIOUPPERBOUND = 99;
        ASSERT_TRUE(READCONFIGFILE(h.c(), kMain));
        EXPECT_EQ(bits(h.c().cfg.SPACERATIOLOWERBOUND), bits(v));
        EXPECT_EQ(bits(h.c().cfg.SPACERATIOUPPERBOUND), bits(10 - v * 9));
    }
}

// The whole text for a small set-up: one calibrated program, the other nine
// empty.
TEST(ConfigWrite, TextIsExactWithCrLfLineEnds) {
    Harness h;
    Context& c = h.c();
    name_the_file(c);
    Settings& s = c.cfg;
    s.COMPORTNAME = "\\\\.\\COM3";
    s.SIGNALSMODE = true;
    s.USECTS = true;
    s.USEDATINPUTCHAR = 'x';  // not written outside Bagley mode
    s.SIGNALNUM = 4;
    s.DATARESULT[1] = {0.0, 0.0, 0.0};
    s.DATARESULT[2] = {0.2345, 0.2345, 0.0305};
    s.DATARESULT[3] = {1.5, 1.2655, 0.0};
    s.DATARESULT[4] = {12.34564, 10.8456, 10.8456};
    s.TRANSIENTSIGNALSDELAY = 2;
    s.SENSORNUM = 2;
    s.MEANSIGNALLENGTH = 31;
    s.TARGETPROGRAM = "Open";
    TARGETPROGRAMARRTYPE& e = c.keyout.TARGETPROGRAMARR[0];
    e.TTARGETPROGRAM = "Open";
    e.TTARGETPROGRAM2 = "Open";
    e.TSENSORSACTIVE = 2;
    e.TUSEDOUBLEDSEND = true;
    e.TDOUBLESTRIKEDELAY = 350;
    e.TWHICHSENSORARR[1] = {2, 'j', 80, 'k', 81};
    e.TWHICHSENSORARR[2] = {1, 'h', 0, 'g', 5};
    ASSERT_TRUE(WRITECONFIGFILE(c));

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
    name_the_file(h.c());
    h.c().cfg.SIGNALNUM = 0;
    h.c().cfg.DATARESULT[1].SIGNALTIME = 1.0;
    ASSERT_TRUE(WRITECONFIGFILE(h.c()));
    const std::string& text = h.fp.files.files[kMain];
    EXPECT_TRUE(has(text, "signalnum=0\r\n;end of raw calibration data from the dumbbell\r\n"));
    EXPECT_FALSE(has(text, "signaltime_"));
    EXPECT_FALSE(has(text, "signalgap_"));
    EXPECT_FALSE(has(text, "sensorgap_"));
}

TEST(ConfigWrite, HandbellsWriteAndReadBackZeroDelays) {
    Harness w;
    Context& c = w.c();
    name_the_file(c);
    c.cfg.SENSORNUM = 2;
    SETTARGETPROGRAMDEFAULTPARAMETERS(c);
    c.cfg.USINGHANDBELLS = true;
    c.keyout.TARGETPROGRAMARR[5].TSENSORSACTIVE = 2;
    c.keyout.TARGETPROGRAMARR[5].TWHICHSENSORARR[2] = {2, 'm', 120, 'n', 130};
    ASSERT_TRUE(WRITECONFIGFILE(c));
    const std::string& text = w.fp.files.files[kMain];
    EXPECT_TRUE(has(text, "keydelayhand_5_2=0\r\n"));
    EXPECT_TRUE(has(text, "keydelayback_0_1=0\r\n"));
    EXPECT_FALSE(has(text, "keydelayhand_0_1=80"));
    EXPECT_EQ(c.keyout.TARGETPROGRAMARR[0].TWHICHSENSORARR[1].WDELAYHAND, 80);  // memory keeps them
    EXPECT_EQ(c.keyout.TARGETPROGRAMARR[5].TWHICHSENSORARR[2].WDELAYBACK, 130);

    Harness r;
    r.fp.files.files[kMain] = text;
    ASSERT_TRUE(READCONFIGFILE(r.c(), kMain));
    for (int i = 0; i <= MAXTARGETPROGS; ++i)
        for (int j = 1; j <= 2; ++j) {
            EXPECT_EQ(r.c().keyout.TARGETPROGRAMARR[i].TWHICHSENSORARR[j].WDELAYHAND, 0);
            EXPECT_EQ(r.c().keyout.TARGETPROGRAMARR[i].TWHICHSENSORARR[j].WDELAYBACK, 0);
        }
    EXPECT_EQ(r.c().keyout.TARGETPROGRAMARR[5].TWHICHSENSORARR[2].WKEYBACK, 'n');
}

// ---- the safe replacement of the previous file ------------------------------

TEST(ConfigSave, GoesThroughATemporaryFileThatIsPutInPlace) {
    Harness h;
    name_the_file(h.c());
    h.fp.files.files[kMain] = "old";
    ASSERT_TRUE(WRITECONFIGFILE(h.c()));
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
    EXPECT_FALSE(WRITECONFIGFILE(h.c()));
    EXPECT_EQ(h.fp.files.files[kMain], "old settings");
    EXPECT_EQ(h.fp.files.files.count(kTemp), 0u);
    const std::string shown = "Settings not saved: " + call;
    const std::string two_lines = h.c().screen.line_text(1) + h.c().screen.line_text(2);  // it wraps
    EXPECT_EQ(two_lines.substr(0, shown.size()), shown);
    EXPECT_EQ(h.c().screen.at(1, 1).fg, YELLOW);
    EXPECT_TRUE(has(h.log(), "Write configuration file " + kMain + " failed, the previous file is kept: " + call));
    EXPECT_FALSE(has(h.log(), "Write configuration file for"));
}

TEST(ConfigSave, ReadOnlyFolderKeepsTheOldFile) {
    Harness h;
    name_the_file(h.c());
    h.fp.files.files[kMain] = "old settings";
    h.fp.files.read_only_dirs.insert("");
    expect_failed_save(h, "CreateFile " + kTemp + ": Access is denied");
}

TEST(ConfigSave, FullDiskMidWriteKeepsTheOldFile) {
    Harness h;
    name_the_file(h.c());
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
        name_the_file(h.c());
        h.fp.files.files[kMain] = "old settings";
        StepFailingFiles failing(h.fp.files, step);
        h.fp.plat.files = &failing;
        expect_failed_save(h, error);
        h.fp.plat.files = &h.fp.files;
    }
}

}  // namespace
}  // namespace qn::test
