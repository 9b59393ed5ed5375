#include "sim/options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>

#include "platform/serial.h"

namespace qn::sim {

using platform::sim::InputMode;
using platform::sim::SensorStyle;

namespace {

bool number(const std::string& text, double lo, double hi, double& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !(v >= lo && v <= hi)) return false;
    out = v;
    return true;
}

bool whole(const std::string& text, long lo, long hi, long& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v < lo || v > hi) return false;
    out = v;
    return true;
}

struct Option {
    const char* name;
    bool takes_value;  // "--name=value" or "--name value"
    bool value_optional;
    std::function<bool(SimOptions&, const std::string&)> set;
};

bool set_int(const std::string& v, long lo, long hi, int& field) {
    long n = 0;
    if (!whole(v, lo, hi, n)) return false;
    field = static_cast<int>(n);
    return true;
}

bool set_real(const std::string& v, double lo, double hi, double& field) { return number(v, lo, hi, field); }

bool set_touch(SimOptions& o, const std::string& v) {
    const std::size_t dash = v.find('-');
    long a = 0, b = 0;
    if (dash == std::string::npos) {
        if (!whole(v, 2, 100000, a)) return false;
        b = a;
    } else if (!whole(v.substr(0, dash), 2, 100000, a) || !whole(v.substr(dash + 1), a, 100000, b)) {
        return false;
    }
    o.plan.touch_min = static_cast<int>(a);
    o.plan.touch_max = static_cast<int>(b);
    return true;
}

bool set_line(SimOptions& o, const std::string& v) {
    if (v == "CTS" || v == "cts") o.bell.line = platform::kLineCts;
    else if (v == "DSR" || v == "dsr") o.bell.line = platform::kLineDsr;
    else if (v == "CD" || v == "cd") o.bell.line = platform::kLineCd;
    else if (v == "RI" || v == "ri") o.bell.line = platform::kLineRi;
    else return false;
    return true;
}

bool set_style(SimOptions& o, const std::string& v) {
    if (v == "pulse") o.bell.style = SensorStyle::Pulse;
    else if (v == "rest-on") o.bell.style = SensorStyle::RestOn;
    else if (v == "on-off") o.bell.style = SensorStyle::OnOff;
    else return false;
    return true;
}

const std::vector<Option>& options() {
    static const std::vector<Option> all = {
        {"sensors", true, false, [](SimOptions& o, const std::string& v) { return set_int(v, 1, 4, o.bell.sensors); }},
        {"style", true, false, set_style},
        {"line", true, false, set_line},
        {"pulse-ms", true, false, [](SimOptions& o, const std::string& v) { return set_real(v, 5, 500, o.bell.pulse_ms); }},
        {"data", true, true,
         [](SimOptions& o, const std::string& v) {
             o.bell.mode = InputMode::Data;
             if (v.empty()) return true;
             if (v.size() != 1 || v[0] <= ' ' || static_cast<unsigned char>(v[0]) > 126) return false;
             o.bell.data_char = v[0];
             return true;
         }},
        {"idle-ports", true, false, [](SimOptions& o, const std::string& v) { return set_int(v, 0, 8, o.idle_ports); }},
        {"bells", true, false, [](SimOptions& o, const std::string& v) { return set_int(v, 2, 16, o.plan.rhythm.bells); }},
        {"place", true, false, [](SimOptions& o, const std::string& v) { return set_int(v, 1, 16, o.plan.rhythm.place); }},
        {"peal-minutes", true, false,
         [](SimOptions& o, const std::string& v) { return set_real(v, 20, 600, o.plan.rhythm.peal_minutes); }},
        {"jitter-ms", true, false,
         [](SimOptions& o, const std::string& v) { return set_real(v, 0, 100, o.plan.rhythm.jitter_ms); }},
        {"touch-rows", true, false, set_touch},
        {"pause-s", true, false, [](SimOptions& o, const std::string& v) { return set_real(v, 0, 600, o.plan.pause_s); }},
        {"rows", true, false,
         [](SimOptions& o, const std::string& v) { return whole(v, 1, 100000000, o.plan.rows); }},
        {"seconds", true, false,
         [](SimOptions& o, const std::string& v) { return set_real(v, 1, 1e7, o.plan.seconds); }},
        {"bounce", true, false, [](SimOptions& o, const std::string& v) { return set_real(v, 0, 1, o.bell.faults.bounce); }},
        {"bounce-ms", true, false,
         [](SimOptions& o, const std::string& v) { return set_real(v, 0.2, 20, o.bell.bounce_ms); }},
        {"transients", true, false,
         [](SimOptions& o, const std::string& v) { return set_real(v, 0, 1, o.bell.faults.transients); }},
        {"missed", true, false, [](SimOptions& o, const std::string& v) { return set_real(v, 0, 0.05, o.bell.faults.missed); }},
        {"spurious", true, false,
         [](SimOptions& o, const std::string& v) { return set_real(v, 0, 0.05, o.bell.faults.spurious); }},
        {"on-at-start", true, true,
         [](SimOptions& o, const std::string& v) {
             if (v.empty()) {
                 o.bell.faults.on_at_start = 1;
                 return true;
             }
             return set_int(v, 1, 100, o.bell.faults.on_at_start);
         }},
        {"seed", true, false,
         [](SimOptions& o, const std::string& v) {
             long n = 0;
             if (!whole(v, 0, 2147483647L, n)) return false;
             o.bell.seed = static_cast<std::uint64_t>(n);
             return true;
         }},
        {"interactive", false, false, [](SimOptions& o, const std::string&) { return o.interactive = true; }},
        {"autonomous", false, false, [](SimOptions& o, const std::string&) { return !(o.interactive = false); }},
        {"target", true, false, [](SimOptions& o, const std::string& v) { return set_int(v, 0, 9, o.target); }},
        {"handbell", true, false,
         [](SimOptions& o, const std::string& v) {
             if (v != "y" && v != "n") return false;
             o.handbell = v[0];
             return true;
         }},
        {"virtual", false, false, [](SimOptions& o, const std::string&) { return o.virtual_time = true; }},
        {"real", false, false, [](SimOptions& o, const std::string&) { return !(o.virtual_time = false); }},
        {"fresh", false, false, [](SimOptions& o, const std::string&) { return o.fresh = true; }},
        {"no-status", false, false, [](SimOptions& o, const std::string&) { return !(o.status_line = false); }},
        {"idle-s", true, false, [](SimOptions& o, const std::string& v) { return set_real(v, 0, 3600, o.idle_s); }},
        {"quit-after", true, false,
         [](SimOptions& o, const std::string& v) { return set_real(v, 1, 1e7, o.quit_after_s); }},
        {"help", false, false, [](SimOptions& o, const std::string&) { return o.help = true; }},
        {"tower", true, false,
         [](SimOptions& o, const std::string& v) {
             long n = 0;
             if (!whole(v, 1, 2147483647L, n)) return false;
             o.tower = n;
             return true;
         }},
        {"server", true, false,
         [](SimOptions& o, const std::string& v) {
             if (v.rfind("https://", 0) != 0 && v.rfind("http://", 0) != 0) return false;
             o.server = v;
             while (o.server.size() > 8 && o.server.back() == '/') o.server.pop_back();
             return true;
         }},
    };
    return all;
}

}  // namespace

bool parse_options(const std::vector<std::string>& args, SimOptions& out, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "/A") {  // the program's own option
            out.program_args.push_back(a);
            continue;
        }
        if (a == "-h") {
            out.help = true;
            continue;
        }
        if (a.rfind("--", 0) != 0) {
            error = "unknown argument " + a;
            return false;
        }
        const std::size_t eq = a.find('=');
        const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const Option* opt = nullptr;
        for (const Option& o : options())
            if (name == o.name) opt = &o;
        if (!opt) {
            error = "unknown option --" + name;
            return false;
        }
        std::string value;
        if (eq != std::string::npos) {
            if (!opt->takes_value) {
                error = "--" + name + " takes no value";
                return false;
            }
            value = a.substr(eq + 1);
        } else if (opt->takes_value && !opt->value_optional) {
            if (i + 1 >= args.size()) {
                error = "--" + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!opt->set(out, value)) {
            error = "bad value for --" + name + ": " + value;
            return false;
        }
    }
    if (out.plan.rhythm.place > out.plan.rhythm.bells) {
        error = "--place is beyond --bells";
        return false;
    }
    if (out.tower != 0 && out.virtual_time) {
        error = "--tower rings a real server, in real time: it cannot go with --virtual";
        return false;
    }
    if (out.bell.style == SensorStyle::OnOff && out.bell.sensors > 1) {
        error = "a handbell switch (--style=on-off) is one sensor";
        return false;
    }
    return true;
}

std::string help_text() {
    return R"(Usage: quennick-sim [options] [/A]
Quennick on a simulated bell: the same program, screens, settings file and
logs, with a simulated serial port (SIM1), a simulated ringer who reads the
screen and rings, and a simulated ringing program that receives the keys.
Q quits, as in Quennick; every command key works.

The bell and its sensors
  --sensors=N          sensors on the bell, 1 to 4 (1)
  --style=STYLE        pulse: the line rests OFF, an ON pulse per sensor per
                       stroke (default); rest-on: it rests ON and pulses OFF;
                       on-off: a handbell switch, ON at handstroke, OFF at
                       backstroke
  --line=LINE          CTS, DSR, CD or RI (CTS)
  --pulse-ms=MS        length of a sensor pulse (50)
  --data[=C]           an interface box instead: one character C (1) per
                       sensor event, at 2400 bit/s
  --idle-ports=N       N more ports (SIM2, ...) with nothing on them
The ringing
  --bells=N            bells in the ring (8); the simulated ringer rings rounds
  --place=N            its bell's place (1)
  --peal-minutes=M     peal speed in minutes (180)
  --jitter-ms=MS       blows up to this much early or late (0)
  --touch-rows=A-B     rows rung between pauses (60-120); a pause is
  --pause-s=S          S seconds (8), so touches end and event logs are written
  --idle-s=S           ringing starts S seconds after the service screen (2)
  --rows=N             ring N rows in service, then quit
  --seconds=S          ring S seconds in service, then quit
Faults (a seed makes them the same every run)
  --bounce=P           chance that a sensor edge bounces (0)
  --bounce-ms=MS       how long a bounce lasts (1.8)
  --transients=P       chance per row of a pulse shorter than 2 ms (0)
  --missed=R           missed blows per row, e.g. 0.01 for one in 100 (0)
  --spurious=R         spurious strikes per row (0)
  --on-at-start[=N]    the line rests ON until the ringer's Nth pull (1)
  --seed=N             (1)
The people
  --interactive        the person answers every question; the ringer only
                       rings (default: it answers too, "autonomous")
  --target=N           its answer to the target-program menu (1)
  --handbell=y|n       its answer to the handbell question (y)
The tower link
  --tower=ID           ring into Ringing Room tower ID over the link instead
                       of typing keys: the bell's place is its bell
  --server=URL         the tower's web site (https://ringingroom.com), e.g.
                       http://localhost:8080 for a tower server of your own
The run
  --virtual            virtual time: the clock moves only when the program
                       waits, so an hour of ringing takes seconds
  --fresh              start without the settings file: calibrate and write
                       a new one
  --no-status          no target summary on the line under the screen
  --quit-after=S       press Q after S seconds whatever is happening
  /A                   passed to Quennick (fuller screens)
  --help
)";
}

}  // namespace qn::sim
