// Reading the settings file and the override file "bespoke.ini": key lines,
// their indexes, the key table and the value conversions.
#include "config/configfile.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "console/bignumber.h"
#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"
#include "keyout/targets.h"
#include "strokes/logs.h"

namespace qn {

namespace {

constexpr std::int32_t NOINDEX = -1;

// One read of one file.
struct ReadState {
    Context& c;
    std::vector<std::string> lines;
    std::size_t next = 0;
    std::string INTERFACEVERSION;
};

// Where a line's value goes, found from its indexes before anything is stored.
struct Place {
    std::string* version = nullptr;
    TARGETPROGRAMARRTYPE* prog = nullptr;
    SensingPoint* point = nullptr;
    DataResultRec* event = nullptr;
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
         c.cfg.COMPORTNAME = c.plat.serial->stored_device_name(*v.text);
     }},
    {"signalsmode", Scope::None, Form::Flag, [](Context& c, const Place&, const Value& v) { c.cfg.SIGNALSMODE = v.flag; }},
    {"usects", Scope::None, Form::Flag, [](Context& c, const Place&, const Value& v) { c.cfg.USECTS = v.flag; }},
    {"usedsr", Scope::None, Form::Flag, [](Context& c, const Place&, const Value& v) { c.cfg.USEDSR = v.flag; }},
    {"usecd", Scope::None, Form::Flag, [](Context& c, const Place&, const Value& v) { c.cfg.USECD = v.flag; }},
    {"useri", Scope::None, Form::Flag, [](Context& c, const Place&, const Value& v) { c.cfg.USERI = v.flag; }},
    {"bagleymode", Scope::None, Form::Flag, [](Context& c, const Place&, const Value& v) { c.cfg.BAGLEYMODE = v.flag; }},
    {"usedatinputchar", Scope::None, Form::Character,
     [](Context& c, const Place&, const Value& v) { c.cfg.USEDATINPUTCHAR = v.ch; }},
    // Other parts walk DATARESULT up to SIGNALNUM, so it must not pass the table.
    {"signalnum", Scope::None, Form::Integer,
     [](Context& c, const Place&, const Value& v) { c.cfg.SIGNALNUM = v.integer; }, 0, MAXCALIBRATIONEVENTS},
    {"signaltime", Scope::Event, Form::Real, [](Context&, const Place& p, const Value& v) { p.event->SIGNALTIME = v.real; }},
    {"signalgap", Scope::Event, Form::Real, [](Context&, const Place& p, const Value& v) { p.event->SIGNALGAP = v.real; }},
    {"sensorgap", Scope::Event, Form::Real, [](Context&, const Place& p, const Value& v) { p.event->SENSORGAP = v.real; }},
    {"bignumbers", Scope::None, Form::Flag, [](Context& c, const Place&, const Value& v) { c.cfg.BIGNUMBERS = v.flag; }},
    {"sleepnum", Scope::None, Form::Integer, [](Context& c, const Place&, const Value& v) { c.cfg.SLEEPNUM = v.integer; }},
    {"monitoroutput", Scope::None, Form::Flag,
     [](Context& c, const Place&, const Value& v) { c.cfg.MONITOROUTPUT = v.flag; }},
    {"switchbouncedelay", Scope::None, Form::Integer,
     [](Context& c, const Place&, const Value& v) { c.cfg.SWITCHBOUNCEDELAY = v.integer; }},
    {"transientsignalsdelay", Scope::None, Form::Integer,
     [](Context& c, const Place&, const Value& v) { c.cfg.TRANSIENTSIGNALSDELAY.store(v.integer); }},
    {"signalstartsOFF", Scope::None, Form::Flag,
     [](Context& c, const Place&, const Value& v) { c.cfg.SIGNALSTARTSOFF = v.flag; }},
    {"sensornum", Scope::None, Form::Integer, [](Context& c, const Place&, const Value& v) { c.cfg.SENSORNUM = v.integer; }},
    {"meansignallength", Scope::None, Form::Integer,
     [](Context& c, const Place&, const Value& v) { c.cfg.MEANSIGNALLENGTH = v.integer; }},
    {"usinghandbells", Scope::None, Form::Flag,
     [](Context& c, const Place&, const Value& v) { c.cfg.USINGHANDBELLS = v.flag; }},
    {"offandonaresignals", Scope::None, Form::Flag,
     [](Context& c, const Place&, const Value& v) { c.cfg.OFFANDONARESIGNALS = v.flag; }},
    {"spaceratiolowerbound", Scope::None, Form::Real,
     [](Context& c, const Place&, const Value& v) { c.cfg.SPACERATIOLOWERBOUND = v.real; }},
    {"spaceratioupperbound", Scope::None, Form::Real,
     [](Context& c, const Place&, const Value& v) { c.cfg.SPACERATIOUPPERBOUND = v.real; }},
    {"targetprogram", Scope::Program, Form::String,
     [](Context&, const Place& p, const Value& v) { p.prog->TTARGETPROGRAM = *v.text; }},
    {"targetprogram2", Scope::Program, Form::String,
     [](Context&, const Place& p, const Value& v) { p.prog->TTARGETPROGRAM2 = *v.text; }},
    // The per-sensor lines of a program are bounded by this value.
    {"sensorsactive", Scope::Program, Form::Integer,
     [](Context&, const Place& p, const Value& v) { p.prog->TSENSORSACTIVE = v.integer; }, 0, MAXSENSORS},
    {"usedoubledsend", Scope::Program, Form::Flag,
     [](Context&, const Place& p, const Value& v) { p.prog->TUSEDOUBLEDSEND = v.flag; }},
    {"doublestrikedelay", Scope::Program, Form::Integer,
     [](Context&, const Place& p, const Value& v) { p.prog->TDOUBLESTRIKEDELAY = v.integer; }},
    {"restricted", Scope::Program, Form::Flag,
     [](Context&, const Place& p, const Value& v) { p.prog->TRESTRICTEDVERSION = v.flag; }},
    {"gotowindow", Scope::Program, Form::Flag,
     [](Context&, const Place& p, const Value& v) { p.prog->TFINDINGANDGOINGTOWINDOW = v.flag; }},
    {"whichsensor", Scope::Sensor, Form::Integer, [](Context&, const Place& p, const Value& v) { p.point->WSNUM = v.integer; }},
    {"keytosendhand", Scope::Sensor, Form::Character,
     [](Context&, const Place& p, const Value& v) { p.point->WKEYHAND = v.ch; }},
    {"keydelayhand", Scope::Sensor, Form::Integer,
     [](Context&, const Place& p, const Value& v) { p.point->WDELAYHAND = v.integer; }},
    {"keytosendback", Scope::Sensor, Form::Character,
     [](Context&, const Place& p, const Value& v) { p.point->WKEYBACK = v.ch; }},
    {"keydelayback", Scope::Sensor, Form::Integer,
     [](Context&, const Place& p, const Value& v) { p.point->WDELAYBACK = v.integer; }},
    {"program", Scope::None, Form::String, [](Context& c, const Place&, const Value& v) { c.cfg.TARGETPROGRAM = *v.text; }},
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
    c.FOOERROR.writeln("Configuration file entry ignored (" + why + "): " + line);
}

// Finds the place a line's value goes to; false when the line is not applied.
bool locate(ReadState& r, const KeyDef& k, std::int32_t i, std::int32_t j, const std::string& line, Place& p) {
    KeyoutState& ko = r.c.keyout;
    switch (k.scope) {
        case Scope::None:
            p.version = &r.INTERFACEVERSION;
            return true;
        case Scope::Program:
            if (i < 0 || i > MAXTARGETPROGS) return false;
            p.prog = &ko.TARGETPROGRAMARR[i];
            return true;
        case Scope::Sensor: {
            if (i < 0 || i > MAXTARGETPROGS) return false;
            TARGETPROGRAMARRTYPE& e = ko.TARGETPROGRAMARR[i];
            // Only sensing points the program has at this point of the file.
            if (j < 1 || j > e.TSENSORSACTIVE || j > MAXSENSORS) return false;
            p.point = &e.TWHICHSENSORARR[j];
            return true;
        }
        case Scope::Event:
            if (i < 1 || i > MAXCALIBRATIONEVENTS) {
                ignore_line(r.c, "index not in 1.." + str(MAXCALIBRATIONEVENTS), line);
                return false;
            }
            p.event = &r.c.cfg.DATARESULT[i];
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
            v.integer = STR2LONGINT(c, value, key);
            if (v.integer < k.lo || v.integer > k.hi) {
                ignore_line(c, "value not in " + str(k.lo) + ".." + str(k.hi), line);
                return;
            }
            break;
        case Form::Real: v.real = STR2REAL(c, value, key); break;
        case Form::Character: v.ch = STR2CHAR(value); break;
        case Form::String: v.text = &value; break;
    }
    k.set(c, p, v);
}

[[noreturn]] void bad_entry(Context& c, const std::string& console_text, const std::string& log_text,
                            std::int32_t code, const char* message) {
    c.screen.writeln(console_text);
    c.FOOERROR.writeln(log_text);
    MYHALT(c, code, message);
}

// Reads lines until one is a setting line, and applies it.
void READLNX(ReadState& r) {
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
    if (c.cfg.DOBESPOKE) c.FOOERROR.writeln("**ADD Bespoke.ini configuration modification: " + line);

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
    std::int32_t i = NOINDEX, j = NOINDEX;
    if (has_index2) j = STR2INDEX(c, index2_text, key);
    if (has_index) i = STR2INDEX(c, index_text, key);

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
    c.keyout.TARGETPROGRAMINDEX = ASSIGNPARAMETERSFORTARGETPROGRAM(c, c.cfg.TARGETPROGRAM);
    WRITECURRENTCALIBRATIONTOSCREEN(c, c.FOOERROR);
    WRITEOTHERPROGRAMOPTIONS(c, c.FOOERROR);
}

}  // namespace

bool READCONFIGFILE(Context& c, const std::string& filename) {
    c.FOOERROR.writeln("Read configuration file " + filename);
    MYFLUSH(c);
    auto text = c.plat.files->read_all(filename);
    if (!text.ok()) return false;

    const bool bespoke = UPPERCASESTR(filename) == "BESPOKE.INI";
    c.cfg.DOBESPOKE = bespoke;
    ReadState r{c, split_lines(text.value()), 0, {}};
    while (r.next < r.lines.size()) READLNX(r);

    // The override file needs no version line.
    const bool ok = r.INTERFACEVERSION == PROGRAM_VERSION || bespoke;
    if (ok) {
        accept_file(c);
    } else {
        const std::string s = REMOVEUNDERLINEFROMSTRING("Current configuration file " + filename +
                                                        " is not right for program version " + PROGRAM_VERSION);
        c.screen.writeln(s);
        c.FOOERROR.writeln(s);
    }
    return ok;
}

std::string UPPERCASESTR(std::string_view s) { return upper(s); }

double STR2REAL(Context& c, const std::string& text, const std::string& key) {
    double v = 0;
    if (!parse_real(text, &v))
        bad_number(c, text, key, 60, "Bad configuration file entry - recalibrate press [ENTER] to quit");
    return v;
}

std::int32_t STR2INDEX(Context& c, const std::string& text, const std::string& key) {
    std::int32_t v = 0;
    if (!parse_int32(text, &v))
        bad_number(c, text, key, 96, "Bad line in configuration file - recalibrate press [ENTER] to quit");
    return v;
}

std::int32_t STR2LONGINT(Context& c, const std::string& text, const std::string& key) {
    std::int32_t v = 0;
    if (!parse_int32(text, &v))
        bad_number(c, text, key, 96, "Bad configuration file entry - recalibrate press [ENTER] to quit");
    return v;
}

char STR2CHAR(const std::string& text) { return text.empty() ? '\0' : text[0]; }

}  // namespace qn
