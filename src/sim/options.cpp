#include "sim/options.h"

#include <array>
#include <map>

#include "platform/serial.h"
#include "service/command_line.h"

namespace qn::sim {

using platform::sim::InputMode;
using platform::sim::SensorStyle;

namespace {

// "A" or "A-B", rows between pauses.
std::string check_touch_rows(const std::string& v) {
    const std::size_t dash = v.find('-');
    const std::string a = v.substr(0, dash), b = dash == std::string::npos ? a : v.substr(dash + 1);
    int lo = 0, hi = 0;
    try {
        std::size_t used_a = 0, used_b = 0;
        lo = std::stoi(a, &used_a);
        hi = std::stoi(b, &used_b);
        if (used_a != a.size() || used_b != b.size()) throw std::invalid_argument(v);
    } catch (const std::exception&) {
        return "rows A or A-B, not " + v;
    }
    if (lo < 2 || hi > 100000 || hi < lo) return "rows from 2 to 100000, the first no more than the second: " + v;
    return {};
}

void add_bell(CLI::App& app, SimOptions& o) {
    const std::string g = "The bell and its sensors";
    add_ranged(app, "--sensors", o.bell.sensors, 1, 4, "sensors on the bell")->group(g);
    static const std::map<std::string, SensorStyle> styles{
        {"pulse", SensorStyle::Pulse}, {"rest-on", SensorStyle::RestOn}, {"on-off", SensorStyle::OnOff}};
    app.add_option("--style", o.bell.style,
                   "pulse: the line rests OFF, an ON pulse per sensor per stroke (default); rest-on: it "
                   "rests ON and pulses OFF; on-off: a handbell switch, ON at handstroke, OFF at backstroke")
        ->transform(CLI::CheckedTransformer(styles).description(""))
        ->type_name("STYLE")
        ->group(g);
    static const std::map<std::string, std::uint32_t> lines{{"CTS", platform::kLineCts},
                                                            {"DSR", platform::kLineDsr},
                                                            {"CD", platform::kLineCd},
                                                            {"RI", platform::kLineRi}};
    app.add_option("--line", o.bell.line, "the modem line: CTS, DSR, CD or RI (CTS)")
        ->transform(CLI::CheckedTransformer(lines, CLI::ignore_case).description(""))
        ->type_name("LINE")
        ->group(g);
    add_ranged(app, "--pulse-ms", o.bell.pulse_ms, 5.0, 500.0, "length of a sensor pulse", "MS")->group(g);
    app.add_option_function<std::string>(
           "--data",
           [&o](const std::string& v) {
               o.bell.mode = InputMode::Data;
               o.bell.data_char = v[0];
           },
           "an interface box instead: one character C per sensor event, at 2400 bit/s (1)")
        ->expected(0, 1)
        ->default_str("1")
        ->check(CLI::Validator(
            [](std::string& v) -> std::string {
                if (v.size() == 1 && v[0] > ' ' && static_cast<unsigned char>(v[0]) <= 126) return {};
                return "one printable character, not " + v;
            },
            ""))
        ->type_name("C")
        ->group(g);
    add_ranged(app, "--idle-ports", o.idle_ports, 0, 8, "more ports (SIM2, ...) with nothing on them")->group(g);
}

void add_ringing(CLI::App& app, SimOptions& o) {
    const std::string g = "The ringing";
    platform::sim::ServicePlan& p = o.plan;
    add_ranged(app, "--bells", p.rhythm.bells, 2, 16, "bells in the ring; the simulated ringer rings rounds")->group(g);
    add_ranged(app, "--place", p.rhythm.place, 1, 16, "its bell's place")->group(g);
    add_ranged(app, "--peal-minutes", p.rhythm.peal_minutes, 20.0, 600.0, "peal speed in minutes", "M")->group(g);
    add_ranged(app, "--jitter-ms", p.rhythm.jitter_ms, 0.0, 100.0, "blows up to this much early or late", "MS")
        ->group(g);
    app.add_option_function<std::string>(
           "--touch-rows",
           [&p](const std::string& v) {
               const std::size_t dash = v.find('-');
               p.touch_min = std::stoi(v.substr(0, dash));
               p.touch_max = dash == std::string::npos ? p.touch_min : std::stoi(v.substr(dash + 1));
           },
           "rows rung between pauses, from 2 to 100000 (60-120)")
        ->check(CLI::Validator([](std::string& v) { return check_touch_rows(v); }, ""))
        ->type_name("A-B")
        ->group(g);
    add_ranged(app, "--pause-s", p.pause_s, 0.0, 600.0,
               "a pause between touches, in seconds, so touches end and event logs are written", "S")
        ->group(g);
    add_ranged(app, "--idle-s", o.idle_s, 0.0, 3600.0, "ringing starts this long after the service screen", "S")
        ->group(g);
    add_ranged(app, "--rows", p.rows, 1L, 100000000L, "ring N rows in service, then quit")
        ->group(g);
    add_ranged(app, "--seconds", p.seconds, 1.0, 1e7, "ring S seconds in service, then quit", "S")
        ->group(g);
}

// "P:MS,P:MS,...": places 1-16 and their lateness; empty when they read.
std::string read_place_lateness(const std::string& v, std::array<double, 17>* out) {
    std::array<double, 17> ms{};
    std::size_t at = 0;
    while (at <= v.size()) {
        const std::size_t comma = std::min(v.find(',', at), v.size());
        const std::string item = v.substr(at, comma - at);
        const std::size_t colon = item.find(':');
        try {
            std::size_t used_p = 0, used_ms = 0;
            if (colon == std::string::npos) throw std::invalid_argument(item);
            const int place = std::stoi(item.substr(0, colon), &used_p);
            const double late = std::stod(item.substr(colon + 1), &used_ms);
            if (used_p != colon || used_ms != item.size() - colon - 1 || place < 1 || place > 16 || late < -300 ||
                late > 300)
                throw std::invalid_argument(item);
            ms[static_cast<std::size_t>(place)] = late;
        } catch (const std::exception&) {
            return "P:MS with a place from 1 to 16 and MS from -300 to 300, not " + item;
        }
        at = comma + 1;
    }
    if (out) *out = ms;
    return {};
}

void add_striking(CLI::App& app, SimOptions& o) {
    const std::string g = "The ringer's striking (its truth, against which the striking report is judged)";
    platform::sim::RingerBias& b = o.plan.rhythm.bias;
    add_ranged(app, "--late-ms", b.late_ms, -300.0, 300.0, "every blow this much late (below 0: early)", "MS")
        ->group(g);
    add_ranged(app, "--hand-bias-ms", b.hand_ms, -300.0, 300.0, "handstrokes this much later besides", "MS")
        ->group(g);
    add_ranged(app, "--spread-ms", b.spread_ms, 0.0, 100.0,
               "blows spread normally about that, with this standard deviation", "MS")
        ->group(g);
    app.add_option_function<std::string>(
           "--place-late-ms", [&b](const std::string& v) { read_place_lateness(v, &b.place_ms); },
           "in place P this much later besides, e.g. 2:30,5:-10")
        ->check(CLI::Validator([](std::string& v) { return read_place_lateness(v, nullptr); }, ""))
        ->type_name("P:MS,...")
        ->group(g);
    app.add_option("--with-automatic-bells", o.automatic_bells,
                   "the ringer sets up automatic ringing of the other bells from this touch file (Z), starts it "
                   "(A) and rings its bell (--place) with them, a touch at a time, until --rows are rung")
        ->type_name("FILE")
        ->group(g);
    app.add_flag_callback("--take-delay", [&o] { o.take_delay = true; },
                          "with automatic bells, the ringer presses K after each touch: the delay the striking "
                          "report suggests")
        ->group(g);
}

void add_faults(CLI::App& app, SimOptions& o) {
    const std::string g = "Faults (a seed makes them the same every run)";
    platform::sim::Faults& f = o.bell.faults;
    add_ranged(app, "--bounce", f.bounce, 0.0, 1.0, "chance that a sensor edge bounces", "P")->group(g);
    add_ranged(app, "--bounce-ms", o.bell.bounce_ms, 0.2, 20.0, "how long a bounce lasts", "MS")->group(g);
    add_ranged(app, "--transients", f.transients, 0.0, 1.0, "chance per row of a pulse shorter than 2 ms", "P")
        ->group(g);
    add_ranged(app, "--missed", f.missed, 0.0, 0.05, "missed blows per row, e.g. 0.01 for one in 100", "R")
        ->group(g);
    add_ranged(app, "--spurious", f.spurious, 0.0, 0.05, "spurious strikes per row", "R")->group(g);
    add_ranged(app, "--on-at-start", f.on_at_start, 1, 100, "the line rests ON until the ringer's Nth pull")
        ->expected(0, 1)
        ->default_str("1")
        ->group(g);
    app.add_option_function<long>(
           "--seed", [&o](long v) { o.bell.seed = static_cast<std::uint64_t>(v); },
           "the faults' seed, " + range_text(0L, 2147483647L) + " (1)")
        ->check(in_range(0L, 2147483647L))
        ->type_name("N")
        ->group(g);
}

// "B:fields": a bell from 1 to 16 and what its ringer does.
std::string read_ringer_option(const std::string& v, SimOptions* o) {
    const std::size_t colon = v.find(':');
    int bell = 0;
    try {
        std::size_t used = 0;
        bell = std::stoi(v.substr(0, colon), &used);
        if (colon == std::string::npos || used != colon || bell < 1 || bell > 16) throw std::invalid_argument(v);
    } catch (const std::exception&) {
        return "B:FIELDS with a bell from 1 to 16, not " + v;
    }
    BandRinger r;
    if (std::string e = read_band_ringer(v.substr(colon + 1), &r); !e.empty()) return e;
    if (o) o->ringers[bell] = r;
    return {};
}

void add_band(CLI::App& app, SimOptions& o) {
    const std::string g = "A band on one interface box";
    add_ranged(app, "--band", o.band, 2, 16,
               "N ringers ring bells 1-N, each on its own sensor of one interface box (data mode, the box's "
               "characters 1-9, 0, E, T, A-D); the program rings them in band mode")
        ->group(g);
    app.add_option_function<std::vector<std::string>>(
           "--ringer",
           [&o](const std::vector<std::string>& values) {
               for (const std::string& v : values) read_ringer_option(v, &o);
           },
           "bell B's ringer: late=MS, hand=MS (handstrokes later besides), spread=MS, and its bell's faults "
           "bounce=P, missed=R, spurious=R; e.g. 3:late=20,spread=10 (may be given for each bell)")
        ->check(CLI::Validator([](std::string& v) { return read_ringer_option(v, nullptr); }, ""))
        ->type_name("B:FIELDS")
        ->group(g);
}

void add_people_and_run(CLI::App& app, SimOptions& o) {
    std::string g = "The people";
    app.add_flag_callback("--interactive", [&o] { o.interactive = true; },
                          "the person answers every question; the ringer only rings")
        ->group(g);
    app.add_flag_callback("--autonomous", [&o] { o.interactive = false; },
                          "the ringer answers the questions too (the default)")
        ->group(g);
    add_ranged(app, "--target", o.target, 0, 9, "its answer to the target-program menu")->group(g);
    app.add_option("--handbell", o.handbell, "its answer to the handbell question, y or n (y)")
        ->check(CLI::IsMember(std::vector<std::string>{"y", "n"}).description(""))
        ->type_name("y|n")
        ->group(g);

    g = "The tower link";
    app.add_option_function<long>(
           "--tower", [&o](long v) { o.tower = v; },
           "ring into Ringing Room tower ID over the link instead of typing keys: the bell's place is its bell")
        ->check(in_range(1L, 2147483647L))
        ->type_name("ID")
        ->group(g);
    app.add_option_function<std::string>(
           "--server",
           [&o](const std::string& v) {
               o.server = v;
               while (o.server.size() > 8 && o.server.back() == '/') o.server.pop_back();
           },
           "the tower's web site (https://ringingroom.com), e.g. http://localhost:8080 for a tower server of "
           "your own")
        ->check(CLI::Validator(
            [](std::string& v) -> std::string {
                if (v.rfind("https://", 0) == 0 || v.rfind("http://", 0) == 0) return {};
                return "a site starting https:// or http://, not " + v;
            },
            ""))
        ->type_name("URL")
        ->group(g);

    g = "The run";
    app.add_flag_callback("--virtual", [&o] { o.virtual_time = true; },
                          "virtual time: the clock moves only when the program waits, so an hour of ringing "
                          "takes seconds")
        ->group(g);
    app.add_flag_callback("--real", [&o] { o.virtual_time = false; }, "real time (the default)")->group(g);
    app.add_flag_callback("--fresh", [&o] { o.fresh = true; },
                          "start without the settings file: calibrate and write a new one")
        ->group(g);
    app.add_flag_callback("--no-status", [&o] { o.status_line = false; },
                          "no target summary on the line under the screen")
        ->group(g);
    add_ranged(app, "--quit-after", o.quit_after_s, 1.0, 1e7, "press Q after S seconds whatever is happening", "S")
        ->group(g);
}

// What no single option can check.
std::string check_together(const SimOptions& o) {
    if (o.plan.rhythm.place > o.plan.rhythm.bells) return "--place is beyond --bells";
    if (o.tower != 0 && o.virtual_time) return "--tower rings a real server, in real time: it cannot go with --virtual";
    if (o.bell.style == SensorStyle::OnOff && o.bell.sensors > 1) return "a handbell switch (--style=on-off) is one sensor";
    if (!o.automatic_bells.empty()) {
        // Only a Ringing Room target is asked which bells to ring, and the
        // ringer must hear them at the ringing program.
        if (o.target < 1 || o.target > 3) return "--with-automatic-bells needs a Ringing Room target (--target 1-3)";
        if (o.plan.rhythm.bells < 4 || o.plan.rhythm.bells > 12) return "--with-automatic-bells rings 4 to 12 --bells";
        if (o.interactive) return "--with-automatic-bells is the ringer's set-up: it cannot go with --interactive";
        if (o.tower != 0) return "--with-automatic-bells hears the bells at the ringing program: not with --tower";
    }
    if (o.take_delay && o.automatic_bells.empty()) return "--take-delay goes with --with-automatic-bells";
    if (o.band != 0) {
        if (!o.automatic_bells.empty()) return "--band rings rounds: not with --with-automatic-bells";
        if (o.interactive) return "--band is the ringers' set-up: it cannot go with --interactive";
    }
    for (const auto& [bell, r] : o.ringers)
        if (bell > o.band) return "--ringer=" + std::to_string(bell) + " is beyond the --band";
    return {};
}

}  // namespace

std::string read_band_ringer(const std::string& fields, BandRinger* out) {
    struct Field {
        const char* name;
        double lo, hi;
        double BandRinger::*to;
    };
    static const Field kFields[] = {
        {"late", -300, 300, &BandRinger::late_ms},  {"hand", -300, 300, &BandRinger::hand_ms},
        {"spread", 0, 100, &BandRinger::spread_ms}, {"bounce", 0, 1, &BandRinger::bounce},
        {"missed", 0, 0.05, &BandRinger::missed},   {"spurious", 0, 0.05, &BandRinger::spurious},
    };
    BandRinger r;
    std::size_t at = 0;
    while (at <= fields.size()) {
        const std::size_t comma = std::min(fields.find(',', at), fields.size());
        const std::string item = fields.substr(at, comma - at);
        const std::size_t eq = item.find('=');
        const Field* f = nullptr;
        for (const Field& k : kFields)
            if (eq != std::string::npos && item.compare(0, eq, k.name) == 0 && std::string(k.name).size() == eq) f = &k;
        double v = 0;
        try {
            std::size_t used = 0;
            if (!f) throw std::invalid_argument(item);
            v = std::stod(item.substr(eq + 1), &used);
            if (used != item.size() - eq - 1 || v < f->lo || v > f->hi) throw std::invalid_argument(item);
        } catch (const std::exception&) {
            return "late=, hand= (-300 to 300), spread= (0 to 100), bounce= (0 to 1), missed=, spurious= (0 to "
                   "0.05), not " + item;
        }
        r.*(f->to) = v;
        at = comma + 1;
    }
    if (out) *out = r;
    return {};
}

CommandLine parse_command_line(const std::vector<std::string>& args, SimOptions& out) {
    CLI::App app("Quennick on a simulated bell: the same program, screens, settings file and logs, with a\n"
                 "simulated serial port (SIM1), a simulated ringer who reads the screen and rings, and a\n"
                 "simulated ringing program that receives the keys. Q quits, as in Quennick; every\n"
                 "command key works.",
                 "quennick-sim");
    setup_app(app, "Quennick's own options (-A, --folder) are passed on to it: see man quennick.");
    add_bell(app, out);
    add_ringing(app, out);
    add_striking(app, out);
    add_faults(app, out);
    add_band(app, out);
    add_people_and_run(app, out);
    add_program_options(app, out.program);
    for (CLI::Option* opt : app.get_options())
        if (opt->get_group() == "Options") opt->group("Quennick and the help");
    CommandLine result = qn::parse_command_line(app, args);
    if (!result.run) return result;
    if (const std::string error = check_together(out); !error.empty())
        return {false, 2, "quennick-sim: " + error + " (see quennick-sim --help)\n"};
    return result;
}

bool parse_options(const std::vector<std::string>& args, SimOptions& out, std::string& error) {
    const CommandLine result = parse_command_line(args, out);
    error = result.run ? std::string() : result.text;
    return result.run;
}

}  // namespace qn::sim
