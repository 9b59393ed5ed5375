// Writing the settings file: the settings text, and its safe replacement of
// the previous file.
#include <cstdint>
#include <string>

#include "config/configfile.h"
#include "config/folders.h"
#include "core/dialog.h"
#include "core/text.h"
#include "core/text_sink.h"
#include "platform/platform.h"

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

void write_header(const Settings& s, TextSink& f) {
    f.write_line(";program name=Quennick");
    f.write_line(";With care you can edit the entries directly.");
    f.write_line(";Empty lines and lines starting with ; are ignored");
    f.write_line(";No spaces in action lines after =");
    f.write_line(";interface version:");
    f.write_line(std::string("interfaceversion=") + kProgramVersion);
    f.write_line(";Parameters relevant to event detection");
    f.write_line("comport=" + s.port_name);
    f.write_line("signalsmode=" + flag(s.signals_mode));
    f.write_line("usects=" + flag(s.use_line[ModemLine::Cts]));
    f.write_line("usedsr=" + flag(s.use_line[ModemLine::Dsr]));
    f.write_line("usecd=" + flag(s.use_line[ModemLine::Cd]));
    f.write_line("useri=" + flag(s.use_line[ModemLine::Ri]));
    f.write_line("; bagleymode=1 cannot be used with signals (signalsmode=1)");
    f.write_line("bagleymode=" + flag(s.rest_on_mode));
    // Outside Bagley mode the line is fixed; it reads back as the character "0".
    if (s.rest_on_mode)
        f.write_line("usedatinputchar=" + std::string(1, s.data_char));
    else
        f.write_line("usedatinputchar=0");
}

void write_calibration_data(const Settings& s, TextSink& f) {
    f.write_line("; the raw calibration data from the dumbbell - so it can be reviewed");
    f.write_line("signalnum=" + str(s.signal_count));
    const std::int32_t count = s.signal_count < kMaxCalibrationEvents ? s.signal_count : kMaxCalibrationEvents;
    for (std::int32_t n = 1; n <= count; ++n) {
        const CalibrationResult& r = s.results[n - 1];
        f.write_line("signaltime_" + str(n) + "=" + fixed_text(r.signal_time_s, 7, 4));
        f.write_line("signalgap_" + str(n) + "=" + fixed_text(r.signal_gap_s, 7, 4));
        if (n > 1 && r.sensor_gap_s == 0) f.write_line("; sensor currently ignored:");
        f.write_line("sensorgap_" + str(n) + "=" + fixed_text(r.sensor_gap_s, 7, 4));
        if (n % 2 == 0 && r.sensor_gap_s < 0.04)
            f.write_line(";WARNING sensorgap_" + str(n) + "=" + fixed_text(r.sensor_gap_s * 1000, 7, 1) +
                      " < 40ms: signal may not always be detected");
    }
    f.write_line(";end of raw calibration data from the dumbbell");
}

void write_timing(const Settings& s, TextSink& f) {
    f.write_line("; sleepnum puts the routine briefly to sleep - no effect in Bagley mode");
    f.write_line("; sleepnum 0 or 1 uses less computer power, but may risk lost strokes if the signal is very short. "
              "do not change default unless advised");
    f.write_line("; sleepnum default is " + str(kDefaultLoopSleepMs) + " (-1 means OFF)");
    f.write_line("sleepnum=" + str(s.loop_sleep_ms));
    f.write_line("; bignumbers turns on (1) or off (0) (default) On slow computers should be off");
    f.write_line("bignumbers=" + flag(s.big_numbers));
    f.write_line("; monitoroutput default=0 - Do not change unless advised: makes a lot of log file output "
              "*while running* ");
    f.write_line("; good for detail, but may cause missed keys on slow computers");
    f.write_line("; When it is OFF, a summary log is written when ringing finishes");
    f.write_line("monitoroutput=" + flag(s.monitor_output));
    f.write_line("; switchbouncedelay >0 eliminates switch bounce trouble (rapid on-off switching during ON and OFF "
              "phases rather than clean ON/OFF) units:millsecs, default=" +
              str(kDefaultSwitchBounceMs));
    f.write_line("switchbouncedelay=" + str(s.switch_bounce_ms));
    f.write_line(";transientsignalsdelay = time threshold (in millisecs) for omitting transient signals: 0 mneans "
              "switched off = max sensitivity)");
    f.write_line(";>0 can eliminate transients from electrical interference, but will drop detection of true very "
              "short signals");
    f.write_line(";default=2 (but may be set 0 during calibration if short signals not found");
    f.write_line("transientsignalsdelay=" + str(s.transient_ms.load()));
    f.write_line(";signalstartsOFF=1 means the control signal state is normally low and goes high when the sensor is "
              "activated");
    f.write_line("signalstartsOFF=" + flag(s.signal_starts_off));
    f.write_line("; for two sensor installations (ONLY), if switching is clean setting this zero reduces risk of "
              "missed first pulses");
    f.write_line("; sensor timing and action");
    f.write_line("sensornum=" + str(s.sensor_count));
    f.write_line(";meansignallength is the mean length of the signal impulses as recorded on calibration - do not "
              "alter this");
    f.write_line("meansignallength=" + str(s.mean_signal_ms));
    f.write_line("usinghandbells=" + flag(s.handbells));
    f.write_line(";offandonaresignals=1 is for installations where on is one stroke and off the other, only works "
              "with single sensor point");
    f.write_line("offandonaresignals=" + flag(s.off_and_on_are_signals));
    f.write_line(";less than spaceratiolowerbound between blows => signal regarded as spurious, above "
              "spaceratioupperbound that a blow was missed.  If usedoubledsend is 1, program ignores spurious "
              "blows and makes a double strike if one was missed.");
    f.write_line("spaceratiolowerbound=" + exponent(s.space_ratio_low));
    f.write_line("spaceratioupperbound=" + exponent(s.space_ratio_high));
}

void write_programs(const Settings& s, const TargetTable& targets, TextSink& f) {
    // Handbells are struck straight from the sensor: the file shows no key
    // delays, while the table in memory keeps them.
    const bool handbells = s.handbells;
    f.write_line(";program specific settings:");
    for (int i = 0; i <= kMaxTargetPrograms; ++i) {
        const TargetProgram& e = targets[i];
        const std::string is = str(i);
        f.write_line(";In use parameters for:" + e.name);
        f.write_line("targetprogram_" + is + "=" + e.name);
        f.write_line("targetprogram2_" + is + "=" + e.window_name);
        f.write_line("gotowindow_" + is + "=" + flag(e.find_window));
        f.write_line("restricted_" + is + "=" + flag(e.restricted));
        f.write_line("sensorsactive_" + is + "=" + str(e.sensors_active));
        f.write_line("usedoubledsend_" + is + "=" + flag(e.use_doubled_send));
        f.write_line("doublestrikedelay_" + is + "=" + str(e.double_strike_delay_ms));
        for (std::int32_t j = 1; j <= e.sensors_active && j <= kMaxSensors; ++j) {
            const SensingPoint& p = e.points[static_cast<std::size_t>(j - 1)];
            const std::string ij = is + "_" + str(j) + "=";
            f.write_line("whichsensor_" + ij + str(p.sensor));
            f.write_line("keytosendhand_" + ij + std::string(1, p.hand_key));
            f.write_line("keydelayhand_" + ij + str(handbells ? 0 : p.hand_delay_ms));
            f.write_line("keytosendback_" + ij + std::string(1, p.back_key));
            f.write_line("keydelayback_" + ij + str(handbells ? 0 : p.back_delay_ms));
        }
    }
    f.write_line(";currentprogram selection (\"Open\" means any program window with focus):");
    f.write_line("program=" + s.target_program);
}

// Only a file that uses the tower link has its lines, so every other file
// stays as it was.
void write_tower_link(const Settings& s, TextSink& f) {
    if (s.tower_id == 0 && s.tower_site == kDefaultTowerSite && s.tower_email.empty()) return;
    f.write_line(";tower link of the Ringing Room targets: towerid 0 sends keys to the browser instead");
    f.write_line("towerid=" + str(s.tower_id));
    f.write_line(";the ringer's bells for the keys j and f (0: none); keys 1-9, 0, -, = ring bells 1-12");
    f.write_line("towerbellj=" + str(s.tower_bell_j));
    f.write_line("towerbellf=" + str(s.tower_bell_f));
    f.write_line("towersite=" + s.tower_site);
    f.write_line(";an account to log in with (empty: anonymous); the password is asked at each start, never stored");
    f.write_line("toweremail=" + s.tower_email);
    if (s.tower_send_ahead) return;  // on unless the file says otherwise
    f.write_line(";0: rings go at their due time, not the network's delay ahead of it");
    f.write_line("towersendahead=0");
}

// Only a file that has used band mode has its lines.
void write_band(const Settings& s, TextSink& f) {
    const BandSettings& b = s.band;
    bool any = b.on;
    for (int n = 1; n <= kMaxBandBells; ++n) any |= b.bell(n).rung;
    if (!any) return;
    f.write_line(";band mode: every bell of the interface box; bandbell_N=1 for each bell rung in the tower,");
    f.write_line(";its character from the box and its key delays at handstroke and backstroke (ms)");
    f.write_line("bandmode=" + str(b.on ? 1 : 0));
    for (int n = 1; n <= kMaxBandBells; ++n) {
        const BandBellSetting& bell = b.bell(n);
        const std::string i = "_" + str(n) + "=";
        f.write_line("bandbell" + i + str(bell.rung ? 1 : 0));
        f.write_line("bandchar" + i + std::string(1, bell.box_char));
        f.write_line("bandhanddelay" + i + str(bell.hand_delay_ms));
        f.write_line("bandbackdelay" + i + str(bell.back_delay_ms));
    }
}

}  // namespace

// Puts bytes in place of path through temp in the same folder, so that a
// failure at any step (full disk, power cut, read-only folder) leaves the
// previous file whole. Empty on success, else the failing call's error text.
std::string SettingsFile::replace_through_temp(const std::string& path, const std::string& temp,
                                               const std::string& bytes) {
    platform::Files& files = *platform_.files;
    auto created = files.create(temp);
    if (!created.ok()) return created.error();
    platform::OutFile& f = *created.value();
    platform::Result<void> r = f.write(bytes);
    if (r.ok()) r = f.flush();
    if (r.ok()) r = f.sync();
    platform::Result<void> closed = f.close();  // closed in any case, so temp can be removed
    if (r.ok()) r = closed;
    if (r.ok()) r = files.replace(temp, path);
    if (r.ok()) return {};
    if (auto removed = files.remove(temp); !removed.ok())
        log_.write_line("Temporary settings file not removed: " + removed.error());
    return r.error();
}

void SettingsFile::report_not_saved(const std::string& path, const std::string& error) {
    show_in_yellow("Settings not saved: " + error);
    log_.write_line("Write configuration file " + platform_.files->shown_path(path) + " failed, the previous file is kept: " + error);
    log_.flush();
}

void write_settings_to(const Settings& settings, const TargetTable& targets, TextSink& f) {
    write_header(settings, f);
    write_calibration_data(settings, f);
    write_timing(settings, f);
    write_programs(settings, targets, f);
    write_tower_link(settings, f);
    write_band(settings, f);
}

bool SettingsFile::write(const Settings& settings, const TargetTable& targets) {
    const std::string file = path();
    CrLfText text;
    write_settings_to(settings, targets, text);
    const std::string error = replace_through_temp(file, file + ".new", text.text);
    if (!error.empty()) {
        report_not_saved(file, error);
        return false;
    }
    log_.write_line("Write configuration file for " + settings.target_program);
    write_settings_to(settings, targets, log_);
    log_.write_line("End write configuration file for " + settings.target_program);
    log_.flush();
    return true;
}

}  // namespace qn
