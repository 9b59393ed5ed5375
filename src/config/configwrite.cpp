// Writing the settings file: the settings text, and its safe replacement of
// the previous file.
#include <cstdint>
#include <string>

#include "config/configfile.h"
#include "console/crt.h"
#include "console/textsink.h"
#include "core/context.h"
#include "core/text.h"
#include "strokes/logs.h"

namespace qn {

namespace {

// The settings text as the file holds it: CR LF line ends.
class CrLfText : public TextSink {
public:
    void write(std::string_view s) override { text.append(s); }
    void newline() override { text.append("\r\n"); }
    std::string text;
};

std::string flag(bool b) { return b ? "1" : "0"; }

void write_header(Context& c, TextSink& f) {
    const Settings& s = c.cfg;
    f.writeln(";program name=Quennick");
    f.writeln(";With care you can edit the entries directly.");
    f.writeln(";Empty lines and lines starting with ; are ignored");
    f.writeln(";No spaces in action lines after =");
    f.writeln(";interface version:");
    f.writeln(std::string("interfaceversion=") + PROGRAM_VERSION);
    f.writeln(";Parameters relevant to event detection");
    f.writeln("comport=" + s.COMPORTNAME);
    f.writeln("signalsmode=" + flag(s.SIGNALSMODE));
    f.writeln("usects=" + flag(s.USECTS));
    f.writeln("usedsr=" + flag(s.USEDSR));
    f.writeln("usecd=" + flag(s.USECD));
    f.writeln("useri=" + flag(s.USERI));
    f.writeln("; bagleymode=1 cannot be used with signals (signalsmode=1)");
    f.writeln("bagleymode=" + flag(s.BAGLEYMODE));
    // Outside Bagley mode the line is fixed; it reads back as the character "0".
    if (s.BAGLEYMODE)
        f.writeln("usedatinputchar=" + std::string(1, s.USEDATINPUTCHAR));
    else
        f.writeln("usedatinputchar=0");
}

void write_calibration_data(Context& c, TextSink& f) {
    const Settings& s = c.cfg;
    f.writeln("; the raw calibration data from the dumbbell - so it can be reviewed");
    f.writeln("signalnum=" + str(s.SIGNALNUM));
    const std::int32_t count = s.SIGNALNUM < MAXCALIBRATIONEVENTS ? s.SIGNALNUM : MAXCALIBRATIONEVENTS;
    for (std::int32_t n = 1; n <= count; ++n) {
        const DataResultRec& r = s.DATARESULT[n];
        f.writeln("signaltime_" + str(n) + "=" + fixed(r.SIGNALTIME, 7, 4));
        f.writeln("signalgap_" + str(n) + "=" + fixed(r.SIGNALGAP, 7, 4));
        if (n > 1 && r.SENSORGAP == 0) f.writeln("; sensor currently ignored:");
        f.writeln("sensorgap_" + str(n) + "=" + fixed(r.SENSORGAP, 7, 4));
        if (n % 2 == 0 && r.SENSORGAP < 0.04)
            f.writeln(";WARNING sensorgap_" + str(n) + "=" + fixed(r.SENSORGAP * 1000, 7, 1) +
                      " < 40ms: signal may not always be detected");
    }
    f.writeln(";end of raw calibration data from the dumbbell");
}

void write_timing(Context& c, TextSink& f) {
    const Settings& s = c.cfg;
    f.writeln("; sleepnum puts the routine briefly to sleep - no effect in Bagley mode");
    f.writeln("; sleepnum 0 or 1 uses less computer power, but may risk lost strokes if the signal is very short. "
              "do not change default unless advised");
    f.writeln("; sleepnum default is " + str(SLEEPNUMDEFAULT) + " (-1 means OFF)");
    f.writeln("sleepnum=" + str(s.SLEEPNUM));
    f.writeln("; bignumbers turns on (1) or off (0) (default) On slow computers should be off");
    f.writeln("bignumbers=" + flag(s.BIGNUMBERS));
    f.writeln("; monitoroutput default=0 - Do not change unless advised: makes a lot of log file output "
              "*while running* ");
    f.writeln("; good for detail, but may cause missed keys on slow computers");
    f.writeln("; When it is OFF, a summary log is written when ringing finishes");
    f.writeln("monitoroutput=" + flag(s.MONITOROUTPUT));
    f.writeln("; switchbouncedelay >0 eliminates switch bounce trouble (rapid on-off switching during ON and OFF "
              "phases rather than clean ON/OFF) units:millsecs, default=" +
              str(SWITCHBOUNCEDELAYDEFAULT));
    f.writeln("switchbouncedelay=" + str(s.SWITCHBOUNCEDELAY));
    f.writeln(";transientsignalsdelay = time threshold (in millisecs) for omitting transient signals: 0 mneans "
              "switched off = max sensitivity)");
    f.writeln(";>0 can eliminate transients from electrical interference, but will drop detection of true very "
              "short signals");
    f.writeln(";default=2 (but may be set 0 during calibration if short signals not found");
    f.writeln("transientsignalsdelay=" + str(s.TRANSIENTSIGNALSDELAY.load()));
    f.writeln(";signalstartsOFF=1 means the control signal state is normally low and goes high when the sensor is "
              "activated");
    f.writeln("signalstartsOFF=" + flag(s.SIGNALSTARTSOFF));
    f.writeln("; for two sensor installations (ONLY), if switching is clean setting this zero reduces risk of "
              "missed first pulses");
    f.writeln("; sensor timing and action");
    f.writeln("sensornum=" + str(s.SENSORNUM));
    f.writeln(";meansignallength is the mean length of the signal impulses as recorded on calibration - do not "
              "alter this");
    f.writeln("meansignallength=" + str(s.MEANSIGNALLENGTH));
    f.writeln("usinghandbells=" + flag(s.USINGHANDBELLS));
    f.writeln(";offandonaresignals=1 is for installations where on is one stroke and off the other, only works "
              "with single sensor point");
    f.writeln("offandonaresignals=" + flag(s.OFFANDONARESIGNALS));
    f.writeln(";less than spaceratiolowerbound between blows => signal regarded as spurious, above "
              "spaceratioupperbound that a blow was missed.  If usedoubledsend is 1, program ignores spurious "
              "blows and makes a double strike if one was missed.");
    f.writeln("spaceratiolowerbound=" + exponent(s.SPACERATIOLOWERBOUND));
    f.writeln("spaceratioupperbound=" + exponent(s.SPACERATIOUPPERBOUND));
}

void write_programs(Context& c, TextSink& f) {
    // Handbells are struck straight from the sensor: the file shows no key
    // delays, while the table in memory keeps them.
    const bool handbells = c.cfg.USINGHANDBELLS;
    f.writeln(";program specific settings:");
    for (int i = 0; i <= MAXTARGETPROGS; ++i) {
        const TARGETPROGRAMARRTYPE& e = c.keyout.TARGETPROGRAMARR[i];
        const std::string is = str(i);
        f.writeln(";In use parameters for:" + e.TTARGETPROGRAM);
        f.writeln("targetprogram_" + is + "=" + e.TTARGETPROGRAM);
        f.writeln("targetprogram2_" + is + "=" + e.TTARGETPROGRAM2);
        f.writeln("gotowindow_" + is + "=" + flag(e.TFINDINGANDGOINGTOWINDOW));
        f.writeln("restricted_" + is + "=" + flag(e.TRESTRICTEDVERSION));
        f.writeln("sensorsactive_" + is + "=" + str(e.TSENSORSACTIVE));
        f.writeln("usedoubledsend_" + is + "=" + flag(e.TUSEDOUBLEDSEND));
        f.writeln("doublestrikedelay_" + is + "=" + str(e.TDOUBLESTRIKEDELAY));
        for (std::int32_t j = 1; j <= e.TSENSORSACTIVE && j <= MAXSENSORS; ++j) {
            const SensingPoint& p = e.TWHICHSENSORARR[j];
            const std::string ij = is + "_" + str(j) + "=";
            f.writeln("whichsensor_" + ij + str(p.WSNUM));
            f.writeln("keytosendhand_" + ij + std::string(1, p.WKEYHAND));
            f.writeln("keydelayhand_" + ij + str(handbells ? 0 : p.WDELAYHAND));
            f.writeln("keytosendback_" + ij + std::string(1, p.WKEYBACK));
            f.writeln("keydelayback_" + ij + str(handbells ? 0 : p.WDELAYBACK));
        }
    }
    f.writeln(";currentprogram selection (\"Open\" means any program window with focus):");
    f.writeln("program=" + c.cfg.TARGETPROGRAM);
}

// Only a file that uses the tower link has its lines, so every other file
// stays as it was.
void write_tower_link(Context& c, TextSink& f) {
    const Settings& s = c.cfg;
    if (s.TOWERID == 0 && s.TOWERSITE == DEFAULTTOWERSITE && s.TOWEREMAIL.empty()) return;
    f.writeln(";tower link of the Ringing Room targets: towerid 0 sends keys to the browser instead");
    f.writeln("towerid=" + str(s.TOWERID));
    f.writeln(";the ringer's bells for the keys j and f (0: none); keys 1-9, 0, -, = ring bells 1-12");
    f.writeln("towerbellj=" + str(s.TOWERBELLJ));
    f.writeln("towerbellf=" + str(s.TOWERBELLF));
    f.writeln("towersite=" + s.TOWERSITE);
    f.writeln(";an account to log in with (empty: anonymous); the password is asked at each start, never stored");
    f.writeln("toweremail=" + s.TOWEREMAIL);
}

// Puts bytes in place of path through temp in the same folder, so that a
// failure at any step (full disk, power cut, read-only folder) leaves the
// previous file whole. Empty on success, else the failing call's error text.
std::string replace_through_temp(Context& c, const std::string& path, const std::string& temp,
                                 const std::string& bytes) {
    platform::Files& fs = *c.plat.files;
    auto created = fs.create(temp);
    if (!created.ok()) return created.error();
    platform::OutFile& f = *created.value();
    platform::Result<void> r = f.write(bytes);
    if (r.ok()) r = f.flush();
    if (r.ok()) r = f.sync();
    platform::Result<void> closed = f.close();  // closed in any case, so temp can be removed
    if (r.ok()) r = closed;
    if (r.ok()) r = fs.replace(temp, path);
    if (r.ok()) return {};
    if (auto removed = fs.remove(temp); !removed.ok())
        c.FOOERROR.writeln("Temporary settings file not removed: " + removed.error());
    return r.error();
}

void report_not_saved(Context& c, const std::string& path, const std::string& error) {
    const std::uint8_t colour = c.screen.textcolor();
    c.screen.textcolor(YELLOW);
    c.screen.writeln("Settings not saved: " + error);
    c.screen.textcolor(colour);
    c.FOOERROR.writeln("Write configuration file " + path + " failed, the previous file is kept: " + error);
    MYFLUSH(c);
}

}  // namespace

void DOWRITING(Context& c, TextSink& f) {
    write_header(c, f);
    write_calibration_data(c, f);
    write_timing(c, f);
    write_programs(c, f);
    write_tower_link(c, f);
}

bool WRITECONFIGFILE(Context& c) {
    const std::string path = in_folder(c.core.folders.settings, c.core.FNAMEFI + ".ini");
    CrLfText text;
    DOWRITING(c, text);
    const std::string error = replace_through_temp(c, path, path + ".new", text.text);
    if (!error.empty()) {
        report_not_saved(c, path, error);
        return false;
    }
    c.FOOERROR.writeln("Write configuration file for " + c.cfg.TARGETPROGRAM);
    DOWRITING(c, c.FOOERROR);
    c.FOOERROR.writeln("End write configuration file for " + c.cfg.TARGETPROGRAM);
    MYFLUSH(c);
    return true;
}

}  // namespace qn
