// Golden runs: the whole program on quennick-sim's bell, ringer and ringing
// program, in virtual time, each scenario recorded as a person would see
// and keep it (the screen at every wait where it changed, the keys the
// ringing program received with their times, every file the run left) and
// compared byte for byte with tests/golden/<scenario>.txt. A difference
// fails with the first differing line; QN_GOLDEN_UPDATE=1 (what
// scripts/golden-update sets) writes the files anew instead, and that diff
// is reviewed like code.
#include <algorithm>
#include <cstdlib>
#include <map>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>

#include <gtest/gtest.h>

#include "golden_tower.h"
#include "golden_world.h"
#include "link/tower.h"
#include "sim/run.h"

namespace qn::golden {
namespace {

using sim::SimOptions;
using sim::SimRun;

struct World {
    SimRun& run;
    MemoryFiles& files;
};

// Something the world outside does at a time: the first wait of the
// program at or after it.
struct Happening {
    double at_s;
    std::string what;
    std::function<void(World&)> act;
};

struct Scenario {
    const char* name;
    const char* about;
    std::function<void(SimOptions&)> options;
    bool settings = false;  // start with the settings file a calibration of this bell wrote
    std::string bespoke = {};  // bespoke.ini, when not empty
    std::vector<Answer> answers = {};
    std::vector<TimedKeys> keys = {};
    std::vector<Happening> happenings = {};
    std::vector<std::string> library = {};  // touch files copied from composition_library
    bool tower = false;                     // a Ringing Room tower on the fake network
};

std::int64_t micros(double s) { return static_cast<std::int64_t>(s * 1e6 + 0.5); }

SimOptions base_options(const Scenario& s) {
    SimOptions o;
    o.virtual_time = true;
    o.clock_step_us = 0;  // only waits move the clock: how often it is read does not count
    o.status_line = false;
    o.quit_after_s = 3000;  // a run that loses its way still ends
    s.options(o);
    return o;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The settings file of a calibration of the scenario's bell, without faults;
// its run log is not kept.
void calibrate_first(const Scenario& s, MemoryFiles& files) {
    SimOptions o = base_options(s);
    o.bell.faults = {};
    o.plan.rows = 2;
    sim::SimEnvironment env;
    env.embedded = true;
    env.files = &files;
    SimRun run(o, env);
    run.run();
    for (auto it = files.files.begin(); it != files.files.end();)
        it = it->first.rfind("logs/", 0) == 0 ? files.files.erase(it) : std::next(it);
}

std::string key_class(sim::KeyClass k) {
    switch (k) {
    case sim::KeyClass::Strike: return "blow";
    case sim::KeyClass::Spurious: return "spurious strike";
    case sim::KeyClass::Doubled: return "made up for a missed blow";
    case sim::KeyClass::Automatic: return "automatic bell or call";
    default: return "unexplained";
    }
}

std::string fnv1a(const std::string& bytes) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char ch : bytes) h = (h ^ ch) * 1099511628211ull;
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

std::string record(const Scenario& s) {
    MemoryFiles files;
    for (const std::string& name : s.library)
        files.files["composition_library/" + name] = slurp(std::string(QN_SOURCE_DIR) + "/composition_library/" + name);
    if (s.settings) calibrate_first(s, files);
    if (!s.bespoke.empty()) files.files["bespoke.ini"] = s.bespoke;

    const std::map<std::string, std::string> at_start = files.files;
    ScreenRecord screen;
    std::size_t next = 0;
    SimRun* run = nullptr;
    TowerServer tower([&] { return run->time().now_locked(); });
    sim::SimEnvironment env;
    env.embedded = true;
    env.files = &files;
    if (s.tower) env.network = &tower;
    env.on_main_thread = [&](std::int64_t now, bool waiting) {
        if (s.tower && run->program().tower->session() && !tower.settle())
            ADD_FAILURE() << "the tower link's thread did not come to a stop";
        if (!waiting) return;
        screen.at_wait(now, run->console());
        for (; next < s.happenings.size() && now >= micros(s.happenings[next].at_s); ++next) {
            screen.note(now, s.happenings[next].what);
            World w{*run, files};
            s.happenings[next].act(w);
        }
    };
    SimRun r(base_options(s), env);
    run = &r;
    Person person(r.time(), r.ringer(), r.console(), s.answers, s.keys);
    r.console().set_source(&person);
    const int code = r.run();
    screen.at_wait(r.time().now_locked(), r.console());

    std::string out = "# Golden run " + std::string(s.name) + ": " + s.about + "\n";
    out += "# quennick-sim: " + r.describe() + "\n";
    out += "# Times are virtual seconds from the start (only waits move the clock). The date is\n";
    out += "# always 08/12/2026 04:45:00. Rewritten by scripts/golden-update; see tests/golden/README.\n";
    out += "== screen: at each wait, the rows that changed (rNN |text| colours)\n";
    out += screen.text();
    out += "== exit code " + std::to_string(code) + "\n";
    const std::vector<sim::KeyRecord> keys = r.target().keys();
    out += "== keys: " + std::to_string(keys.size()) + " (time, key, what the ringing program made of it)\n";
    std::string window;
    for (const sim::KeyRecord& k : keys) {
        if (k.window != window) out += "window " + printable(window = k.window) + "\n";
        out += seconds(k.time_us) + " " + printable(std::string(1, k.ch)) + " " + key_class(k.cls) + "\n";
    }
    if (s.tower) out += "== tower: what went over the network (> from the program, < to it)\n" + tower.record();
    for (const auto& [path, bytes] : files.files) {
        if (path.rfind("composition_library/", 0) == 0) continue;
        const auto before = at_start.find(path);
        const std::string lines = file_lines(bytes);
        if (before != at_start.end() && before->second == bytes && std::count(lines.begin(), lines.end(), '\n') > 20)
            out += "== file " + path + ": as at the start, " + std::to_string(bytes.size()) + " bytes, FNV-1a " +
                   fnv1a(bytes) + "\n";
        else
            out += "== file " + path + "\n" + lines;
    }
    return out;
}

// QN_GOLDEN_DIR: the goldens are elsewhere (scripts/golden-update's first run).
std::string golden_path(const Scenario& s) {
    const char* dir = std::getenv("QN_GOLDEN_DIR");
    return (dir && *dir ? std::string(dir) : std::string(QN_SOURCE_DIR) + "/tests/golden") + "/" + s.name + ".txt";
}

// The first line where the two differ, from 1; 0 when they are the same.
std::size_t first_difference(const std::string& a, const std::string& b, std::string& la, std::string& lb) {
    std::istringstream sa(a), sb(b);
    for (std::size_t n = 1;; ++n) {
        const bool ga = static_cast<bool>(std::getline(sa, la));
        const bool gb = static_cast<bool>(std::getline(sb, lb));
        if (!ga) la = "(end of file)";
        if (!gb) lb = "(end of file)";
        if (!ga && !gb) return 0;
        if (!ga || !gb || la != lb) return n;
    }
}

// ---- the scenarios -------------------------------------------------------------------

void faults(SimOptions& o, double missed, double spurious) {
    o.bell.faults.bounce = 0.3;
    o.bell.faults.transients = 0.2;
    o.bell.faults.missed = missed;
    o.bell.faults.spurious = spurious;
}

Happening pull_adapter(double at) {
    return {at, "the USB adapter of SIM1 is pulled out", [](World& w) { w.run.serial().set_plugged_in("SIM1", false); }};
}

Happening focus_to(double at, const std::string& title_part) {
    return {at, "the window whose title has \"" + title_part + "\" takes the focus", [title_part](World& w) {
                for (const auto& win : w.run.desktop().windows())
                    if (win.parent == 0 && win.title.find(title_part) != std::string::npos) {
                        w.run.desktop().set_foreground(win.handle);
                        return;
                    }
                ADD_FAILURE() << "no window " << title_part;
            }};
}

const std::vector<Scenario>& scenarios() {
    static const std::vector<Scenario> all = {
        {.name = "calibrate_signals",
         .about = "no settings file: calibration of two sensors on CTS, then 12 rows",
         .options = [](SimOptions& o) {
             o.bell.sensors = 2;
             o.plan.rows = 12;
         }},
        {.name = "calibrate_data",
         .about = "no settings file: calibration of an interface box sending '7', keys to Muster, 12 rows",
         .options = [](SimOptions& o) {
             o.bell.mode = platform::sim::InputMode::Data;
             o.bell.data_char = '7';
             o.target = 4;
             o.plan.rows = 12;
         }},
        {.name = "faults_doubled_on",
         .about = "40 rows in two touches with bounce, transients, missed and spurious strikes; doubled send on, "
                  "monitor output on",
         .options = [](SimOptions& o) {
             faults(o, 0.05, 0.05);
             o.plan.rows = 40;
             o.bell.seed = 3;
             o.plan.touch_min = o.plan.touch_max = 20;
         },
         .settings = true,
         .bespoke = "monitoroutput=1\r\n"},
        {.name = "faults_doubled_off",
         .about = "30 rows with missed and spurious strikes; doubled send off, monitor output on",
         .options = [](SimOptions& o) {
             faults(o, 0.05, 0.05);
             o.plan.rows = 30;
         },
         .settings = true,
         .bespoke = "monitoroutput=1\r\nusedoubledsend_1=0\r\n"},
        {.name = "focus_lost",
         .about = "another window takes the focus mid-touch, and the browser has it back",
         .options = [](SimOptions& o) { o.plan.rows = 30; },
         .settings = true,
         .happenings = {focus_to(25, "Muster"), focus_to(45, "Mozilla Firefox")}},
        {.name = "automatic_ringing",
         .about = "Z sets up automatic ringing of bells 2-6 from plain_bob_doubles, A starts and stops it",
         .options = [](SimOptions& o) {
             o.plan.rhythm.bells = 6;
             o.plan.rows = 32;
         },
         .settings = true,
         .answers = {{"Give number of bells being rung", "6\r"},
                     {"Give numbers of bells to ring", "23456\r"},
                     {"Give the name of the method/touch file", "plain_bob_doubles\r"},
                     {"Give peal speed in *Minutes*", "150\r"}},
         .keys = {{12, "Z"}, {40, "A"}, {60, "A"}},
         .library = {"plain_bob_doubles"}},
        {.name = "tower_link",
         .about = "P, the target menu to a Ringing Room tower on the fake network, ringing into it",
         .options = [](SimOptions& o) { o.plan.rows = 30; },
         .settings = true,
         .answers = {{"Which program window to send the key to", "2\r"},
                     {"Tower ID to ring in", "123456789\r"},
                     {"Your bell for the key \"j\"", "1\r"},
                     {"Your bell for the key \"f\"", "\r"},
                     {"account e-mail to log in", "\r"}},
         .keys = {{12, "P"}},
         .tower = true},
        {.name = "adapter_pulled",
         .about = "the USB adapter is pulled out mid-touch",
         .options = [](SimOptions& o) { o.plan.rows = 40; },
         .settings = true,
         .happenings = {pull_adapter(40)}},
        {.name = "disk_full",
         .about = "the disk fills up mid-touch: the run log and the touch's event log cannot be written",
         .options = [](SimOptions& o) {
             o.plan.rows = 40;
             o.plan.touch_min = o.plan.touch_max = 15;
         },
         .settings = true,
         .happenings = {{30, "the disk is full", [](World& w) { w.files.full = true; }}}},
    };
    return all;
}

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

class Golden : public ::testing::TestWithParam<Scenario> {};

TEST_P(Golden, RunIsAsRecorded) {
    const Scenario& s = GetParam();
    const std::string got = record(s);
    const std::string path = golden_path(s);
    const char* update = std::getenv("QN_GOLDEN_UPDATE");
    if (update && std::string(update) == "1") {
        std::ofstream(path, std::ios::binary) << got;
        std::printf("golden: wrote %s\n", path.c_str());
        return;
    }
    const std::string want = slurp(path);
    std::string lw, lg;
    const std::size_t n = first_difference(want, got, lw, lg);
    if (n != 0)
        ADD_FAILURE() << "scenario " << s.name << ": first difference at line " << n << " of " << path
                     << "\n  golden: " << lw << "\n  now:    " << lg
                     << "\n(scripts/golden-update rewrites the goldens when the change is meant)";
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Golden, ::testing::ValuesIn(scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace qn::golden
