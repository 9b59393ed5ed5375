// Reading the settings file and the override file "bespoke.ini": key lines,
// their indexes, the key table, the ranges of the values, and what a file
// without some of its lines gets.
#include "config/configfile.h"

#include "config/folders.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

#include "config/bounds.h"
#include "core/text_sink.h"
#include "core/dialog.h"
#include "core/text.h"
#include "config/target_entries.h"
#include "platform/platform.h"

namespace qn {

// One read of one file.
struct ReadState {
    ReadState(SettingsFile& owner, Settings& s, TargetTable& t, const std::string& name)
        : file_owner(owner), settings(s), targets(t), log(owner.log_), dialog(owner.dialog_),
          serial(*owner.platform_.serial), file(name) {}
    void tell(const std::string& text) { file_owner.tell(text); }
    void set_target_unknown(bool unknown) { file_owner.target_unknown_ = unknown; }
    bool target_unknown() const { return file_owner.target_unknown_; }

    SettingsFile& file_owner;
    Settings& settings;
    TargetTable& targets;
    TextSink& log;
    Dialog& dialog;
    platform::SerialPorts& serial;
    const std::string& file;
    bool bespoke = false;
    std::string interfaceversion;
    bool version_seen = false;
    std::set<std::string> seen;  // keys applied, with their indexes: "keydelayhand_1_1"
    std::map<std::string, std::size_t> line_of;  // the line each key of seen was last applied from
    std::size_t line_no = 0;
    std::string line;
    std::size_t named = 0;  // lines named as unusable
};

namespace {

constexpr std::int32_t kNoIndex = -1;
// Keys named one by one in a message about missing lines, and lines named
// one by one in a file; the rest are counted.
constexpr std::size_t kMissingNamed = 8;
constexpr std::size_t kLinesNamed = 20;
constexpr const char* kLeftOut = "the line is left out: mend it or delete it";
constexpr const char* kAfresh = " - calibrating afresh, which writes a new file";

// Where a line's value goes, found from its indexes before anything is stored.
struct Place {
    std::string* version = nullptr;
    TargetProgram* prog = nullptr;
    SensingPoint* point = nullptr;
    CalibrationResult* event = nullptr;
    BandBellSetting* bell = nullptr;
};

struct Value {
    bool flag = false;
    std::int32_t integer = 0;
    double real = 0;
    char ch = '\0';
    const std::string* text = nullptr;
};

enum class Form { Flag, Integer, Real, Character, String };
enum class Scope { None, Program, Sensor, Event, Bell };

// What a main file without a usable line for a key gets: calibration
// afresh (the key is the calibration's own finding), the default, or
// nothing (optional lines).
enum class Need { Calibration, Default, Optional };

struct KeyDef {
    const char* name;
    Scope scope;
    Form form;
    void (*set)(Settings&, const Place&, const Value&);
    Need need = Need::Default;
};

// Keys are compared exactly: "signalstartsOFF" keeps its capitals.
const KeyDef kKeys[] = {
    {"interfaceversion", Scope::None, Form::String,
     [](Settings&, const Place& p, const Value& v) { *p.version = *v.text; }, Need::Optional},
    {"comport", Scope::None, Form::String,
     [](Settings& s, const Place&, const Value& v) {
         s.port_name = *v.text;  // in this system's form once read: see read_line_of_file
     },
     Need::Calibration},
    {"signalsmode", Scope::None, Form::Flag,
     [](Settings& s, const Place&, const Value& v) { s.signals_mode = v.flag; }, Need::Calibration},
    {"usects", Scope::None, Form::Flag,
     [](Settings& s, const Place&, const Value& v) { s.use_line[ModemLine::Cts] = v.flag; }, Need::Calibration},
    {"usedsr", Scope::None, Form::Flag,
     [](Settings& s, const Place&, const Value& v) { s.use_line[ModemLine::Dsr] = v.flag; }, Need::Calibration},
    {"usecd", Scope::None, Form::Flag, [](Settings& s, const Place&, const Value& v) { s.use_line[ModemLine::Cd] = v.flag; },
     Need::Calibration},
    {"useri", Scope::None, Form::Flag, [](Settings& s, const Place&, const Value& v) { s.use_line[ModemLine::Ri] = v.flag; },
     Need::Calibration},
    {"bagleymode", Scope::None, Form::Flag,
     [](Settings& s, const Place&, const Value& v) { s.rest_on_mode = v.flag; }, Need::Calibration},
    {"usedatinputchar", Scope::None, Form::Character,
     [](Settings& s, const Place&, const Value& v) { s.data_char = v.ch; }, Need::Calibration},
    {"signalnum", Scope::None, Form::Integer,
     [](Settings& s, const Place&, const Value& v) { s.signal_count = v.integer; }},
    {"signaltime", Scope::Event, Form::Real,
     [](Settings&, const Place& p, const Value& v) { p.event->signal_time_s = v.real; }, Need::Optional},
    {"signalgap", Scope::Event, Form::Real,
     [](Settings&, const Place& p, const Value& v) { p.event->signal_gap_s = v.real; }, Need::Optional},
    {"sensorgap", Scope::Event, Form::Real,
     [](Settings&, const Place& p, const Value& v) { p.event->sensor_gap_s = v.real; }, Need::Optional},
    {"bignumbers", Scope::None, Form::Flag,
     [](Settings& s, const Place&, const Value& v) { s.big_numbers = v.flag; }},
    {"sleepnum", Scope::None, Form::Integer,
     [](Settings& s, const Place&, const Value& v) { s.loop_sleep_ms = v.integer; }},
    {"monitoroutput", Scope::None, Form::Flag,
     [](Settings& s, const Place&, const Value& v) { s.monitor_output = v.flag; }},
    {"switchbouncedelay", Scope::None, Form::Integer,
     [](Settings& s, const Place&, const Value& v) { s.switch_bounce_ms = v.integer; }},
    {"transientsignalsdelay", Scope::None, Form::Integer,
     [](Settings& s, const Place&, const Value& v) { s.transient_ms.store(v.integer); }},
    {"signalstartsOFF", Scope::None, Form::Flag,
     [](Settings& s, const Place&, const Value& v) { s.signal_starts_off = v.flag; }, Need::Calibration},
    {"sensornum", Scope::None, Form::Integer,
     [](Settings& s, const Place&, const Value& v) { s.sensor_count = v.integer; }, Need::Calibration},
    {"meansignallength", Scope::None, Form::Integer,
     [](Settings& s, const Place&, const Value& v) { s.mean_signal_ms = v.integer; }, Need::Calibration},
    {"usinghandbells", Scope::None, Form::Flag,
     [](Settings& s, const Place&, const Value& v) { s.handbells = v.flag; }, Need::Calibration},
    {"offandonaresignals", Scope::None, Form::Flag,
     [](Settings& s, const Place&, const Value& v) { s.off_and_on_are_signals = v.flag; }, Need::Calibration},
    {"spaceratiolowerbound", Scope::None, Form::Real,
     [](Settings& s, const Place&, const Value& v) { s.space_ratio_low = v.real; }},
    {"spaceratioupperbound", Scope::None, Form::Real,
     [](Settings& s, const Place&, const Value& v) { s.space_ratio_high = v.real; }},
    {"targetprogram", Scope::Program, Form::String,
     [](Settings&, const Place& p, const Value& v) { p.prog->name = *v.text; }},
    {"targetprogram2", Scope::Program, Form::String,
     [](Settings&, const Place& p, const Value& v) { p.prog->window_name = *v.text; }},
    // The per-sensor lines of a program are bounded by this value, so it
    // comes before them.
    {"sensorsactive", Scope::Program, Form::Integer,
     [](Settings&, const Place& p, const Value& v) { p.prog->sensors_active = v.integer; }},
    {"usedoubledsend", Scope::Program, Form::Flag,
     [](Settings&, const Place& p, const Value& v) { p.prog->use_doubled_send = v.flag; }},
    {"doublestrikedelay", Scope::Program, Form::Integer,
     [](Settings&, const Place& p, const Value& v) { p.prog->double_strike_delay_ms = v.integer; }},
    {"restricted", Scope::Program, Form::Flag,
     [](Settings&, const Place& p, const Value& v) { p.prog->restricted = v.flag; }},
    {"gotowindow", Scope::Program, Form::Flag,
     [](Settings&, const Place& p, const Value& v) { p.prog->find_window = v.flag; }},
    {"whichsensor", Scope::Sensor, Form::Integer,
     [](Settings&, const Place& p, const Value& v) { p.point->sensor = v.integer; }},
    {"keytosendhand", Scope::Sensor, Form::Character,
     [](Settings&, const Place& p, const Value& v) { p.point->hand_key = v.ch; }},
    {"keydelayhand", Scope::Sensor, Form::Integer,
     [](Settings&, const Place& p, const Value& v) { p.point->hand_delay_ms = v.integer; }},
    {"keytosendback", Scope::Sensor, Form::Character,
     [](Settings&, const Place& p, const Value& v) { p.point->back_key = v.ch; }},
    {"keydelayback", Scope::Sensor, Form::Integer,
     [](Settings&, const Place& p, const Value& v) { p.point->back_delay_ms = v.integer; }},
    {"program", Scope::None, Form::String,
     [](Settings& s, const Place&, const Value& v) { s.target_program = *v.text; }},
    {"towerid", Scope::None, Form::Integer,
     [](Settings& s, const Place&, const Value& v) { s.tower_id = v.integer; }, Need::Optional},
    {"towerbellj", Scope::None, Form::Integer,
     [](Settings& s, const Place&, const Value& v) { s.tower_bell_j = v.integer; }, Need::Optional},
    {"towerbellf", Scope::None, Form::Integer,
     [](Settings& s, const Place&, const Value& v) { s.tower_bell_f = v.integer; }, Need::Optional},
    {"towersite", Scope::None, Form::String,
     [](Settings& s, const Place&, const Value& v) { s.tower_site = *v.text; }, Need::Optional},
    {"toweremail", Scope::None, Form::String,
     [](Settings& s, const Place&, const Value& v) { s.tower_email = *v.text; }, Need::Optional},
    {"towersendahead", Scope::None, Form::Flag,
     [](Settings& s, const Place&, const Value& v) { s.tower_send_ahead = v.flag; }, Need::Optional},
    {"bandmode", Scope::None, Form::Flag,
     [](Settings& s, const Place&, const Value& v) { s.band.on = v.flag; }, Need::Optional},
    {"bandbell", Scope::Bell, Form::Flag,
     [](Settings&, const Place& p, const Value& v) { p.bell->rung = v.flag; }, Need::Optional},
    {"bandchar", Scope::Bell, Form::Character,
     [](Settings&, const Place& p, const Value& v) { p.bell->box_char = v.ch; }, Need::Optional},
    {"bandhanddelay", Scope::Bell, Form::Integer,
     [](Settings&, const Place& p, const Value& v) { p.bell->hand_delay_ms = v.integer; }, Need::Optional},
    {"bandbackdelay", Scope::Bell, Form::Integer,
     [](Settings&, const Place& p, const Value& v) { p.bell->back_delay_ms = v.integer; }, Need::Optional},
};

const KeyDef* find_key(const std::string& key) {
    for (const KeyDef& k : kKeys)
        if (key == k.name) return &k;
    return nullptr;
}

std::string_view trim(std::string_view s) {
    const std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string_view::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

std::string_view trim_front(std::string_view s) {
    const std::size_t a = s.find_first_not_of(" \t");
    return a == std::string_view::npos ? std::string_view{} : s.substr(a);
}

// Lines end in CR LF; a lone LF is taken as well.
std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text.find('\n', start);
        std::size_t end = lf == std::string::npos ? text.size() : lf;
        std::size_t stop = end;
        if (stop > start && text[stop - 1] == '\r') --stop;
        out.emplace_back(text, start, stop - start);
        if (lf == std::string::npos) break;
        start = lf + 1;
    }
    return out;
}

// A line that cannot be used as it stands: the file, the line and what to do.
void report(ReadState& r, const std::string& what) {
    if (++r.named > kLinesNamed) return;  // a file of anything but settings: counted at the end
    r.tell(r.file + " line " + str(static_cast<std::int64_t>(r.line_no)) + ": \"" + r.line + "\" - " + what);
}

// The log's own line for a line dropped for its index or value.
void ignore_line(TextSink& log, const std::string& why, const std::string& line) {
    log.write_line("Configuration file entry ignored (" + why + "): " + line);
}

// A whole number in decimal; one too large for the settings comes back as
// far beyond their ranges.
bool parse_whole(std::string_view s, std::int64_t* out) {
    std::size_t i = 0;
    const bool neg = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) i = 1;
    if (i == s.size()) return false;
    std::int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (!is_digit(s[i])) return false;
        v = std::min<std::int64_t>(v * 10 + (s[i] - '0'), std::int64_t{1} << 40);
    }
    *out = neg ? -v : v;
    return true;
}

// Decimal numbers in fixed or exponent form. Unlike parse_double, a value
// below the normal range is taken as it comes: the writer's exponent form of
// a tiny bound must read back to the same double.
bool parse_real(std::string_view s, double* out) {
    const std::string t(s);
    if (t.empty()) return false;
    for (char ch : t)
        if (!(is_digit(ch) || ch == '+' || ch == '-' || ch == '.' || ch == 'e' || ch == 'E')) return false;
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size() || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

// Finds the place a line's value goes to; false when the line is not applied.
bool locate(ReadState& r, const KeyDef& k, std::int32_t i, std::int32_t j, Place& p) {
    switch (k.scope) {
        case Scope::None:
            p.version = &r.interfaceversion;
            return true;
        case Scope::Program:
            if (i < 0 || i > kMaxTargetPrograms) return false;
            p.prog = &r.targets[i];
            return true;
        case Scope::Sensor: {
            if (i < 0 || i > kMaxTargetPrograms) return false;
            TargetProgram& e = r.targets[i];
            // Only sensing points the program has at this point of the file.
            if (j < 1 || j > e.sensors_active || j > kMaxSensors) return false;
            p.point = &e.points[static_cast<std::size_t>(j - 1)];
            return true;
        }
        case Scope::Event:
            if (i < 1 || i > kMaxCalibrationEvents) {
                ignore_line(r.log, "index not in 1.." + str(kMaxCalibrationEvents), r.line);
                return false;
            }
            p.event = &r.settings.results[i - 1];
            return true;
        case Scope::Bell:
            if (i < 1 || i > kMaxBandBells) {
                ignore_line(r.log, "index not in 1.." + str(kMaxBandBells), r.line);
                return false;
            }
            p.bell = &r.settings.band.bell(i);
            return true;
    }
    return false;
}

// A number against its range. False when the line is left out; a value cut
// to the range is reported and taken.
bool in_range(ReadState& r, const KeyDef& k, double& v) {
    const SettingRange* range = setting_range(k.name);
    if (range == nullptr) return true;
    const double top = range_top(r.settings, *range);
    if (v >= range->lo && v <= top) return true;
    const std::string must = std::string(k.name) + " must be in " + range_text(r.settings, *range);
    if (range->beyond == Beyond::LeaveOut) {
        ignore_line(r.log, "value not in " + range_text(r.settings, *range), r.line);
        report(r, must + "; " + kLeftOut);
        return false;
    }
    v = std::clamp(v, range->lo, top);
    report(r, must + "; " + str(static_cast<std::int64_t>(v)) + " is used - mend the line to keep it so");
    return true;
}

// The value of a line as its form reads it; false when it cannot be used.
// Blanks round a value are what editors leave, except that a character
// key may be the blank itself, and a window title may end in one.
bool convert(ReadState& r, const KeyDef& k, const std::string& raw, std::string& text, Value& v) {
    const std::string_view t = trim(raw);
    switch (k.form) {
        case Form::Flag: {
            // Flags with a range (the sensor lines) are 0 or 1; others read
            // as on only when "1".
            const SettingRange* range = setting_range(k.name);
            std::int64_t n = 0;
            if (range != nullptr &&
                (!parse_whole(t, &n) || static_cast<double>(n) < range->lo || static_cast<double>(n) > range->hi)) {
                ignore_line(r.log, "value not in " + range_text(r.settings, *range), r.line);
                report(r, std::string(k.name) + " must be in " + range_text(r.settings, *range) + "; " + kLeftOut);
                return false;
            }
            v.flag = t == "1" || (range != nullptr && n == 1);
            return true;
        }
        case Form::Integer: {
            std::int64_t n = 0;
            if (!parse_whole(t, &n)) {
                report(r, "\"" + std::string(t) + "\" is not a whole number; " + kLeftOut);
                return false;
            }
            double d = static_cast<double>(n);
            if (!in_range(r, k, d)) return false;
            v.integer = static_cast<std::int32_t>(d);
            return true;
        }
        case Form::Real:
            if (!parse_real(t, &v.real)) {
                report(r, "\"" + std::string(t) + "\" is not a number; " + kLeftOut);
                return false;
            }
            return in_range(r, k, v.real);
        case Form::Character:
            v.ch = !t.empty() ? t[0] : raw.empty() ? '\0' : raw[0];
            return true;
        case Form::String: {
            const std::string_view name = k.name;
            text = name == "targetprogram" || name == "targetprogram2" ? trim_front(raw) : t;
            v.text = &text;
            if (name == "program" && !is_target_name(text)) {
                report(r, "no target program is called \"" + text + "\"; " + kLeftOut);
                return false;
            }
            return true;
        }
    }
    return false;
}

// One line of the file.
void read_line_of_file(ReadState& r) {
    const std::string_view whole = trim(r.line);
    if (whole.empty() || whole[0] == ';') return;
    const std::size_t eq = r.line.find('=');
    if (eq == std::string::npos) {
        report(r, std::string("it is no setting (name=value); ") + kLeftOut);
        return;
    }
    if (r.bespoke) r.log.write_line("**ADD Bespoke.ini configuration modification: " + r.line);

    const std::string key_text(trim(std::string_view(r.line).substr(0, eq)));
    const std::string raw = r.line.substr(eq + 1);
    std::string name = key_text, index_text, index2_text;
    bool has_index = false, has_index2 = false;
    if (std::size_t u = name.find('_'); u != std::string::npos) {
        index_text = name.substr(u + 1);
        name.resize(u);
        has_index = true;
        if (std::size_t u2 = index_text.find('_'); u2 != std::string::npos) {
            index2_text = index_text.substr(u2 + 1);
            index_text.resize(u2);
            has_index2 = true;
        }
    }
    const KeyDef* k = find_key(name);
    if (k == nullptr) {
        report(r, "there is no setting \"" + name + "\" (names are exact, in these letters); " + kLeftOut);
        return;
    }
    std::int32_t i = kNoIndex, j = kNoIndex;
    auto index = [&](bool has, const std::string& text, std::int32_t& out) {
        if (!has || parse_int32(text, &out)) return true;
        report(r, "\"" + text + "\" is not a number; " + kLeftOut);
        return false;
    };
    if (!index(has_index2, index2_text, j) || !index(has_index, index_text, i)) return;
    Place p;
    if (!locate(r, *k, i, j, p)) return;
    std::string text;
    Value v;
    if (!convert(r, *k, raw, text, v)) return;
    k->set(r.settings, p, v);
    if (name == "comport") r.settings.port_name = r.serial.stored_device_name(r.settings.port_name);
    std::string seen = name;
    if (k->scope == Scope::Program || k->scope == Scope::Sensor || k->scope == Scope::Bell) seen += "_" + str(i);
    if (k->scope == Scope::Sensor) seen += "_" + str(j);
    r.line_of[seen] = r.line_no;
    r.seen.insert(seen);
    if (name == "interfaceversion") r.version_seen = true;
    if (name == "program") r.set_target_unknown(false);
}

std::string names_text(const std::vector<std::string>& names) {
    std::string t;
    for (std::size_t n = 0; n < names.size() && n < kMissingNamed; ++n) t += (n ? ", " : "") + names[n];
    if (names.size() > kMissingNamed)
        t += " and " + str(static_cast<std::int64_t>(names.size() - kMissingNamed)) + " more";
    return t;
}

// The table entries of the main file: what it has no usable line for is
// taken from the entry as calibration sets it up, so no entry is left
// nameless or with no key.
void complete_program_entries(ReadState& r, std::vector<std::string>& missing) {
    const Settings& s = r.settings;
    for (int i = 0; i <= kMaxTargetPrograms; ++i) {
        TargetProgram& e = r.targets[i];
        TargetProgram d = default_target_entry(i, s.sensor_count);
        SensingPoint& dp = d.points[0];
        if (s.handbells) dp.hand_delay_ms = dp.back_delay_ms = 0;
        auto fill = [&](const char* name, const std::string& index, auto& field, const auto& value) {
            if (r.seen.count(name + index)) return;
            field = value;
            missing.push_back(name + index);
        };
        const std::string is = "_" + str(i);
        fill("targetprogram", is, e.name, d.name);
        fill("targetprogram2", is, e.window_name, d.window_name);
        fill("gotowindow", is, e.find_window, d.find_window);
        fill("restricted", is, e.restricted, d.restricted);
        fill("sensorsactive", is, e.sensors_active, d.sensors_active);
        fill("usedoubledsend", is, e.use_doubled_send, d.use_doubled_send);
        fill("doublestrikedelay", is, e.double_strike_delay_ms, d.double_strike_delay_ms);
        for (std::int32_t j = 1; j <= e.sensors_active && j <= kMaxSensors; ++j) {
            SensingPoint& p = e.points[static_cast<std::size_t>(j - 1)];
            const std::string ij = is + "_" + str(j);
            fill("whichsensor", ij, p.sensor, dp.sensor);
            fill("keytosendhand", ij, p.hand_key, dp.hand_key);
            fill("keydelayhand", ij, p.hand_delay_ms, dp.hand_delay_ms);
            fill("keytosendback", ij, p.back_key, dp.back_key);
            fill("keydelayback", ij, p.back_delay_ms, dp.back_delay_ms);
        }
    }
}

// The main file once read: false when calibration must follow.
bool main_file_usable(ReadState& r) {
    if (!r.version_seen) {
        r.tell(r.file + " has no interfaceversion line (the file is empty or was cut short)" + kAfresh);
        return false;
    }
    if (r.interfaceversion != kProgramVersion) {
        const std::string s = underscores_to_spaces(
            "Current configuration file " + r.file + " is not right for program version " + kProgramVersion);
        r.dialog.write_line(s);
        r.log.write_line(s);
        return false;
    }
    std::vector<std::string> needed, missing;
    for (const KeyDef& k : kKeys) {
        if (k.scope != Scope::None || k.need == Need::Optional || r.seen.count(k.name)) continue;
        (k.need == Need::Calibration ? needed : missing).push_back(k.name);
    }
    if (!needed.empty()) {
        r.tell(r.file + " has no usable line for " + names_text(needed) + kAfresh);
        return false;
    }
    if (r.settings.signals_mode && !r.settings.use_line[ModemLine::Cts] && !r.settings.use_line[ModemLine::Dsr] &&
        !r.settings.use_line[ModemLine::Cd] && !r.settings.use_line[ModemLine::Ri]) {
        std::string lines;
        for (const char* key : {"usects", "usedsr", "usecd", "useri"})
            lines += (lines.empty() ? "" : ", ") + str(static_cast<std::int64_t>(r.line_of[key]));
        r.tell(r.file + " lines " + lines + ": usects, usedsr, usecd and useri are all 0, so no sensor line" +
               " would be watched" + kAfresh);
        return false;
    }
    if (!r.seen.count("transientsignalsdelay"))
        r.settings.transient_ms.store(kDefaultTransientMs);
    if (!r.seen.count("program")) r.set_target_unknown(true);
    complete_program_entries(r, missing);
    if (!missing.empty())
        r.tell(r.file + " has no usable line for " + names_text(missing) + " - the defaults are used" +
               (r.target_unknown() ? ", and the target program is asked for" : ""));
    return true;
}

// Every sensing point must name a sensor the bell has: a sensornum line
// after the point's, or one in bespoke.ini, or sensing points added there,
// may leave one that does not. It gets the default's.
void check_sensing_points(ReadState& r) {
    const std::int32_t sensors = r.settings.sensor_count;
    if (sensors < 1 || sensors > kMaxSensors) return;
    for (int i = 0; i <= kMaxTargetPrograms; ++i) {
        TargetProgram& e = r.targets[i];
        for (std::int32_t j = 1; j <= e.sensors_active && j <= kMaxSensors; ++j) {
            SensingPoint& p = e.points[static_cast<std::size_t>(j - 1)];
            if (p.sensor >= 1 && p.sensor <= sensors) continue;
            const std::int32_t d = default_target_entry(i, sensors).points[0].sensor;
            r.tell(r.file + ": whichsensor_" + str(i) + "_" + str(j) + " is " + str(p.sensor) +
                   ", not one of the bell's sensors (1.." + str(sensors) + "): " + str(d) + " is used");
            p.sensor = d;
        }
    }
}

}  // namespace

SettingsFile::SettingsFile(platform::Platform& platform, TextSink& log, Dialog& dialog)
    : platform_(platform), log_(log), dialog_(dialog) {}

std::string SettingsFile::path() const { return in_folder(folder_, base_name_ + ".ini"); }
std::string SettingsFile::bespoke_path() const { return in_folder(folder_, "bespoke.ini"); }

void SettingsFile::show_in_yellow(const std::string& text) {
    const Colour colour = dialog_.text_colour();
    dialog_.colour(kYellow);
    dialog_.write_line(text);
    dialog_.colour(colour);
}

void SettingsFile::tell(const std::string& text) {
    show_in_yellow(text);
    log_.write_line(text);
    ++problems_;
}

bool SettingsFile::read(const std::string& filename, Settings& settings, TargetTable& targets) {
    // Messages name the file as the program's text; it is read by its path.
    const std::string shown = platform_.files->shown_path(filename);
    log_.write_line("Read configuration file " + shown);
    log_.flush();
    problems_ = 0;
    auto text = platform_.files->read_all(filename);
    if (!text.ok()) return false;

    ReadState r(*this, settings, targets, shown);
    // The override file is known by its name, wherever its folder is.
    const std::size_t folder_end = filename.find_last_of("/\\");
    r.bespoke = upper_text(folder_end == std::string::npos ? filename : filename.substr(folder_end + 1)) ==
                "BESPOKE.INI";
    settings.bespoke = r.bespoke;
    std::string& bytes = text.value();
    if (bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0) {
        tell(shown + " is saved as Unicode (UTF-16), which is not read: save it as ANSI or UTF-8" +
             (r.bespoke ? std::string(" - its settings are not used") : kAfresh));
        return false;
    }
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);  // the mark some editors put first
    for (std::string& line : split_lines(bytes)) {
        ++r.line_no;
        r.line = std::move(line);
        read_line_of_file(r);
    }
    if (r.named > kLinesNamed)
        tell(shown + ": " + str(static_cast<std::int64_t>(r.named - kLinesNamed)) +
             " more lines cannot be used either and are left out");
    // The override file needs no version line, nor any other.
    const bool ok = r.bespoke || main_file_usable(r);
    if (ok) check_sensing_points(r);
    return ok;
}

std::string upper_text(std::string_view s) { return upper(s); }

char to_char(const std::string& text) { return text.empty() ? '\0' : text[0]; }

}  // namespace qn
