// Reading the settings file and the override file "bespoke.ini": key lines,
// their indexes, the key table and the value conversions.
#include "config/configfile.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "console/bignumber.h"
#include "console/console_ui.h"
#include "core/context.h"
#include "core/text.h"
#include "keyout/targets.h"
#include "strokes/logs.h"

namespace qn {

namespace {

constexpr std::int32_t kNoIndex = -1;

// One read of one file.
struct ReadState {
    Context& c;
    std::vector<std::string> lines;
    std::size_t next = 0;
    std::string interfaceversion;
};

// Where a line's value goes, found from its indexes before anything is stored.
struct Place {
    std::string* version = nullptr;
    TargetProgram* prog = nullptr;
    SensingPoint* point = nullptr;
    CalibrationResult* event = nullptr;
};

struct Value {
    bool flag = false;
    std::int32_t integer = 0;
    double real = 0;
    char ch = '\0';
    const std::string* text = nullptr;
};

enum class Form { Flag, Integer, Real, Character, String };
enum class Scope { None, Program, Sensor, Event };

struct KeyDef {
    const char* name;
    Scope scope;
    Form form;
    void (*set)(Context&, const Place&, const Value&);
    // Integer values outside these bounds are not stored.
    std::int32_t lo = std::numeric_limits<std::int32_t>::min();
    std::int32_t hi = std::numeric_limits<std::int32_t>::max();
};

// Keys are compared exactly: "signalstartsOFF" keeps its capitals.
const KeyDef kKeys[] = {
    {"interfaceversion", Scope::None, Form::String,
     [](Context&, const Place& p, const Value& v) { *p.version = *v.text; }},
    {"comport", Scope::None, Form::String,
     [](Context& c, const Place&, const Value& v) {
         c.cfg.port_name = c.plat.serial->stored_device_name(*v.text);
     }},
    {"signalsmode", Scope::None, Form::Flag, [](Context& c, const Place&, const Value& v) { c.cfg.signals_mode = v.flag; }},
    {"usects", Scope::None, Form::Flag, [](Context& c, const Place&, const Value& v) { c.cfg.use_cts = v.flag; }},
    {"usedsr", Scope::None, Form::Flag, [](Context& c, const Place&, const Value& v) { c.cfg.use_dsr = v.flag; }},
    {"usecd", Scope::None, Form::Flag, [](Context& c, const Place&, const Value& v) { c.cfg.use_cd = v.flag; }},
    {"useri", Scope::None, Form::Flag, [](Context& c, const Place&, const Value& v) { c.cfg.use_ri = v.flag; }},
    {"bagleymode", Scope::None, Form::Flag, [](Context& c, const Place&, const Value& v) { c.cfg.rest_on_mode = v.flag; }},
    {"usedatinputchar", Scope::None, Form::Character,
     [](Context& c, const Place&, const Value& v) { c.cfg.data_char = v.ch; }},
    // Other parts walk results up to signal_count, so it must not pass the table.
    {"signalnum", Scope::None, Form::Integer,
     [](Context& c, const Place&, const Value& v) { c.cfg.signal_count = v.integer; }, 0, kMaxCalibrationEvents},
    {"signaltime", Scope::Event, Form::Real, [](Context&, const Place& p, const Value& v) { p.event->signal_ms = v.real; }},
    {"signalgap", Scope::Event, Form::Real, [](Context&, const Place& p, const Value& v) { p.event->signal_gap_ms = v.real; }},
    {"sensorgap", Scope::Event, Form::Real, [](Context&, const Place& p, const Value& v) { p.event->sensor_gap_ms = v.real; }},
    {"bignumbers", Scope::None, Form::Flag, [](Context& c, const Place&, const Value& v) { c.cfg.big_numbers = v.flag; }},
    {"sleepnum", Scope::None, Form::Integer, [](Context& c, const Place&, const Value& v) { c.cfg.loop_sleep_ms = v.integer; }},
    {"monitoroutput", Scope::None, Form::Flag,
     [](Context& c, const Place&, const Value& v) { c.cfg.monitor_output = v.flag; }},
    {"switchbouncedelay", Scope::None, Form::Integer,
     [](Context& c, const Place&, const Value& v) { c.cfg.switch_bounce_ms = v.integer; }},
    {"transientsignalsdelay", Scope::None, Form::Integer,
     [](Context& c, const Place&, const Value& v) { c.cfg.transient_ms.store(v.integer); }},
    {"signalstartsOFF", Scope::None, Form::Flag,
     [](Context& c, const Place&, const Value& v) { c.cfg.signal_starts_off = v.flag; }},
    {"sensornum", Scope::None, Form::Integer, [](Context& c, const Place&, const Value& v) { c.cfg.sensor_count = v.integer; }},
    {"meansignallength", Scope::None, Form::Integer,
     [](Context& c, const Place&, const Value& v) { c.cfg.mean_signal_ms = v.integer; }},
    {"usinghandbells", Scope::None, Form::Flag,
     [](Context& c, const Place&, const Value& v) { c.cfg.handbells = v.flag; }},
    {"offandonaresignals", Scope::None, Form::Flag,
     [](Context& c, const Place&, const Value& v) { c.cfg.off_and_on_are_signals = v.flag; }},
    {"spaceratiolowerbound", Scope::None, Form::Real,
     [](Context& c, const Place&, const Value& v) { c.cfg.space_ratio_low = v.real; }},
    {"spaceratioupperbound", Scope::None, Form::Real,
     [](Context& c, const Place&, const Value& v) { c.cfg.space_ratio_high = v.real; }},
    {"targetprogram", Scope::Program, Form::String,
     [](Context&, const Place& p, const Value& v) { p.prog->name = *v.text; }},
    {"targetprogram2", Scope::Program, Form::String,
     [](Context&, const Place& p, const Value& v) { p.prog->window_name = *v.text; }},
    // The per-sensor lines of a program are bounded by this value.
    {"sensorsactive", Scope::Program, Form::Integer,
     [](Context&, const Place& p, const Value& v) { p.prog->sensors_active = v.integer; }, 0, kMaxSensors},
    {"usedoubledsend", Scope::Program, Form::Flag,
     [](Context&, const Place& p, const Value& v) { p.prog->use_doubled_send = v.flag; }},
    {"doublestrikedelay", Scope::Program, Form::Integer,
     [](Context&, const Place& p, const Value& v) { p.prog->double_strike_delay_ms = v.integer; }},
    {"restricted", Scope::Program, Form::Flag,
     [](Context&, const Place& p, const Value& v) { p.prog->restricted = v.flag; }},
    {"gotowindow", Scope::Program, Form::Flag,
     [](Context&, const Place& p, const Value& v) { p.prog->find_window = v.flag; }},
    {"whichsensor", Scope::Sensor, Form::Integer, [](Context&, const Place& p, const Value& v) { p.point->sensor = v.integer; }},
    {"keytosendhand", Scope::Sensor, Form::Character,
     [](Context&, const Place& p, const Value& v) { p.point->hand_key = v.ch; }},
    {"keydelayhand", Scope::Sensor, Form::Integer,
     [](Context&, const Place& p, const Value& v) { p.point->hand_delay_ms = v.integer; }},
    {"keytosendback", Scope::Sensor, Form::Character,
     [](Context&, const Place& p, const Value& v) { p.point->back_key = v.ch; }},
    {"keydelayback", Scope::Sensor, Form::Integer,
     [](Context&, const Place& p, const Value& v) { p.point->back_delay_ms = v.integer; }},
    {"program", Scope::None, Form::String, [](Context& c, const Place&, const Value& v) { c.cfg.target_program = *v.text; }},
    {"towerid", Scope::None, Form::Integer, [](Context& c, const Place&, const Value& v) { c.cfg.tower_id = v.integer; },
     0, std::numeric_limits<std::int32_t>::max()},
    {"towerbellj", Scope::None, Form::Integer,
     [](Context& c, const Place&, const Value& v) { c.cfg.tower_bell_j = v.integer; }, 0, 16},
    {"towerbellf", Scope::None, Form::Integer,
     [](Context& c, const Place&, const Value& v) { c.cfg.tower_bell_f = v.integer; }, 0, 16},
    {"towersite", Scope::None, Form::String, [](Context& c, const Place&, const Value& v) { c.cfg.tower_site = *v.text; }},
    {"toweremail", Scope::None, Form::String,
     [](Context& c, const Place&, const Value& v) { c.cfg.tower_email = *v.text; }},
};

const KeyDef* find_key(const std::string& key) {
    for (const KeyDef& k : kKeys)
        if (key == k.name) return &k;
    return nullptr;
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

// A line that names a place outside the tables is dropped; a ringer's file
// should not stop the program for that, but the log says so.
void ignore_line(Context& c, const std::string& why, const std::string& line) {
    c.run_log.write_line("Configuration file entry ignored (" + why + "): " + line);
}

// Finds the place a line's value goes to; false when the line is not applied.
bool locate(ReadState& r, const KeyDef& k, std::int32_t i, std::int32_t j, const std::string& line, Place& p) {
    KeyoutState& ko = r.c.keyout;
    switch (k.scope) {
        case Scope::None:
            p.version = &r.interfaceversion;
            return true;
        case Scope::Program:
            if (i < 0 || i > kMaxTargetPrograms) return false;
            p.prog = &ko.targets[i];
            return true;
        case Scope::Sensor: {
            if (i < 0 || i > kMaxTargetPrograms) return false;
            TargetProgram& e = ko.targets[i];
            // Only sensing points the program has at this point of the file.
            if (j < 1 || j > e.sensors_active || j > kMaxSensors) return false;
            p.point = &e.points[j];
            return true;
        }
        case Scope::Event:
            if (i < 1 || i > kMaxCalibrationEvents) {
                ignore_line(r.c, "index not in 1.." + str(kMaxCalibrationEvents), line);
                return false;
            }
            p.event = &r.c.cfg.results[i];
            return true;
    }
    return false;
}

void apply(ReadState& r, const KeyDef& k, std::int32_t i, std::int32_t j, const std::string& key,
           const std::string& value, const std::string& line) {
    Context& c = r.c;
    Place p;
    if (!locate(r, k, i, j, line, p)) return;
    Value v;
    switch (k.form) {
        case Form::Flag: v.flag = value == "1"; break;
        case Form::Integer:
            v.integer = to_int(c, value, key);
            if (v.integer < k.lo || v.integer > k.hi) {
                ignore_line(c, "value not in " + str(k.lo) + ".." + str(k.hi), line);
                return;
            }
            break;
        case Form::Real: v.real = to_real(c, value, key); break;
        case Form::Character: v.ch = to_char(value); break;
        case Form::String: v.text = &value; break;
    }
    k.set(c, p, v);
}

[[noreturn]] void bad_entry(Context& c, const std::string& console_text, const std::string& log_text,
                            std::int32_t code, const char* message) {
    c.screen.write_line(console_text);
    c.run_log.write_line(log_text);
    halt(c, code, message);
}

// Reads lines until one is a setting line, and applies it.
void read_line_of(ReadState& r) {
    Context& c = r.c;
    std::string line;
    for (;;) {
        if (r.next >= r.lines.size()) return;
        line = r.lines[r.next++];
        if (!line.empty() && line[0] != ';') break;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) {
        const std::string s = "string Read:@@@" + line + "@@@";
        bad_entry(c, s, s, 96, "Bad configuration file entry - recalibrate press [ENTER] to quit");
    }
    if (c.cfg.bespoke) c.run_log.write_line("**ADD Bespoke.ini configuration modification: " + line);

    std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    std::string index_text, index2_text;
    bool has_index = false, has_index2 = false;
    if (std::size_t u = key.find('_'); u != std::string::npos) {
        index_text = key.substr(u + 1);
        key.resize(u);
        has_index = true;
        if (std::size_t u2 = index_text.find('_'); u2 != std::string::npos) {
            index2_text = index_text.substr(u2 + 1);
            index_text.resize(u2);
            has_index2 = true;
        }
    }
    std::int32_t i = kNoIndex, j = kNoIndex;
    if (has_index2) j = to_index(c, index2_text, key);
    if (has_index) i = to_index(c, index_text, key);

    const KeyDef* k = find_key(key);
    if (k == nullptr) {
        const std::string head = "Read:" + line + " Found:" + key + " value:" + value;
        const std::string tail = "actionparam=" + index_text + "actionparam2=" + index2_text;
        bad_entry(c, head + " " + tail, head + tail, 96, "Bad configuration file entry - press [ENTER] to quit");
    }
    apply(r, *k, i, j, key, value, line);
}

// Decimal numbers in fixed or exponent form. Unlike parse_double, a value
// below the normal range is taken as it comes: the writer's exponent form of
// a tiny bound must read back to the same double.
bool parse_real(std::string_view s, double* out) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    const std::string t(s.substr(i));
    if (t.empty()) return false;
    for (char ch : t)
        if (!(is_digit(ch) || ch == '+' || ch == '-' || ch == '.' || ch == 'e' || ch == 'E')) return false;
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size() || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

[[noreturn]] void bad_number(Context& c, const std::string& text, const std::string& key, std::int32_t code,
                             const char* message) {
    const std::string s = "Read:" + text + " found:" + key;
    bad_entry(c, s, s, code, message);
}

void accept_file(Context& c) {
    c.keyout.target_index = load_target_parameters(c, c.cfg.target_program);
    write_current_calibration(c, c.run_log);
    write_other_program_options(c, c.run_log);
}

}  // namespace

bool read_settings(Context& c, const std::string& filename) {
    c.run_log.write_line("Read configuration file " + filename);
    flush_run_log(c);
    auto text = c.plat.files->read_all(filename);
    if (!text.ok()) return false;

    const bool bespoke = upper_text(filename) == "BESPOKE.INI";
    c.cfg.bespoke = bespoke;
    ReadState r{c, split_lines(text.value()), 0, {}};
    while (r.next < r.lines.size()) read_line_of(r);

    // The override file needs no version line.
    const bool ok = r.interfaceversion == kProgramVersion || bespoke;
    if (ok) {
        accept_file(c);
    } else {
        const std::string s = underscores_to_spaces("Current configuration file " + filename +
                                                        " is not right for program version " + kProgramVersion);
        c.screen.write_line(s);
        c.run_log.write_line(s);
    }
    return ok;
}

std::string upper_text(std::string_view s) { return upper(s); }

double to_real(Context& c, const std::string& text, const std::string& key) {
    double v = 0;
    if (!parse_real(text, &v))
        bad_number(c, text, key, 60, "Bad configuration file entry - recalibrate press [ENTER] to quit");
    return v;
}

std::int32_t to_index(Context& c, const std::string& text, const std::string& key) {
    std::int32_t v = 0;
    if (!parse_int32(text, &v))
        bad_number(c, text, key, 96, "Bad line in configuration file - recalibrate press [ENTER] to quit");
    return v;
}

std::int32_t to_int(Context& c, const std::string& text, const std::string& key) {
    std::int32_t v = 0;
    if (!parse_int32(text, &v))
        bad_number(c, text, key, 96, "Bad configuration file entry - recalibrate press [ENTER] to quit");
    return v;
}

char to_char(const std::string& text) { return text.empty() ? '\0' : text[0]; }

}  // namespace qn
