#include "sim/run.h"

#include "autoring/automatic_ringing.h"
#include "service/run_end.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "link/tower.h"
#include "serial/serial_thread.h"
#include "core/text.h"
#include "service/program.h"
#include "strokes/band.h"

namespace qn::sim {

namespace psim = platform::sim;

namespace {

// The box's bells and their ringers: each bell's character, its place in
// rounds, and its ringer's bias and faults over the common options.
psim::BellConfig band_bell_config(const SimOptions& o, int bell) {
    psim::BellConfig b = o.bell;
    b.mode = psim::InputMode::Data;
    b.data_char = standard_band_char(bell);
    b.seed = o.bell.seed + static_cast<std::uint64_t>(bell) * 7919;
    if (auto r = o.ringers.find(bell); r != o.ringers.end()) {
        if (!std::isnan(r->second.bounce)) b.faults.bounce = r->second.bounce;
        if (!std::isnan(r->second.missed)) b.faults.missed = r->second.missed;
        if (!std::isnan(r->second.spurious)) b.faults.spurious = r->second.spurious;
    }
    return b;
}

psim::ServicePlan band_bell_plan(const SimOptions& o, int bell) {
    psim::ServicePlan p = o.plan;
    p.rhythm.bells = o.band;
    p.rhythm.place = bell;
    p.common_beat = true;
    if (auto r = o.ringers.find(bell); r != o.ringers.end()) {
        if (!std::isnan(r->second.late_ms)) p.rhythm.bias.late_ms = r->second.late_ms;
        if (!std::isnan(r->second.hand_ms)) p.rhythm.bias.hand_ms = r->second.hand_ms;
        if (!std::isnan(r->second.spread_ms)) p.rhythm.bias.spread_ms = r->second.spread_ms;
    }
    return p;
}

// The keys typed into the ringing program's page go to the target of the
// bell they ring; any other key to the ringer's own bell's, as unexplained.
class BandKeys : public psim::KeySink {
public:
    explicit BandKeys(std::function<SimTarget&(char)> target_of) : target_of_(std::move(target_of)) {}
    void key(std::int64_t time_us, char ch, std::string_view window) override { target_of_(ch).key(time_us, ch, window); }

private:
    std::function<SimTarget&(char)> target_of_;
};

}  // namespace

SimRun::SimRun(const SimOptions& options, SimEnvironment env) : options_(options), env_(std::move(env)) {
    platform::Platform& native = platform::native_platform();
    if (options_.virtual_time) {
        auto vt = std::make_unique<psim::VirtualTime>(options_.clock_step_us);
        vtime_ = vt.get();
        if (env_.on_main_thread) vt->on_main_thread(env_.on_main_thread);
        vclock_ = std::make_unique<psim::VirtualClock>(*vt);
        vthreads_ = std::make_unique<psim::VirtualThreads>(*vt);
        time_ = std::move(vt);
    } else {
        time_ = std::make_unique<psim::RealTime>();
    }
    if (options_.band != 0) {
        // The ringer rings the band's last bell: its service ends with the band's.
        options_.plan = band_bell_plan(options_, options_.band);
        options_.bell = band_bell_config(options_, options_.band);
    }
    bell_ = std::make_unique<psim::SimBell>(*time_, options_.bell);
    std::vector<psim::SimPortEntry> ports{{"SIM1", bell_.get(), {}}};
    for (int n = 1; n < options_.band; ++n) {
        band_bells_.push_back(std::make_unique<psim::SimBell>(*time_, band_bell_config(options_, n)));
        ports[0].band.push_back(band_bells_.back().get());
    }
    for (int i = 0; i < options_.idle_ports; ++i) ports.push_back({"SIM" + std::to_string(i + 2), nullptr, {}});
    serial_ = std::make_unique<psim::SimSerial>(*time_, std::move(ports));

    DueRule rule;
    rule.due = [this](const psim::Strike& s, bool hand) {
        return options_.band != 0 ? band_due(options_.band, s, hand) : due(s, hand);
    };
    // A band's keys reach each bell's target by their bell: every key there is its bell's.
    if (options_.band == 0) rule.ringer_key = [this](char key) { return ringer_key(key); };
    rule.doubled_delay_us = [this] { return std::int64_t{program_->target.double_strike_delay_ms()} * 1000; };
    target_ = std::make_unique<SimTarget>(*time_, *bell_, rule);
    for (int n = 1; n < options_.band; ++n) {
        DueRule r = rule;
        r.due = [this, n](const psim::Strike& s, bool hand) { return band_due(n, s, hand); };
        band_targets_.push_back(std::make_unique<SimTarget>(*time_, *band_bells_[static_cast<std::size_t>(n - 1)], r));
    }
    if (options_.band != 0)
        band_keys_ = std::make_unique<BandKeys>([this](char ch) -> SimTarget& {
            for (int n = 1; n <= options_.band; ++n)
                if (band_bell_key(n) == ch) return band_target(n);
            return *target_;
        });
    desktop_ = std::make_unique<psim::SimDesktop>(*time_, band_keys_ ? band_keys_.get() : target_.get());
    console_ = std::make_unique<psim::SimConsole>(*time_, env_.terminal, nullptr);
    files_ = std::make_unique<psim::SimFiles>(env_.files ? *env_.files : *native.files);
    files_->keep_stderr(env_.keep_stderr);
    if (options_.fresh) files_->hide(std::string(kProgramVersion) + ".ini");
    process_ = std::make_unique<psim::SimProcess>(env_.embedded ? nullptr : native.process);
    process_->on_exit([this](int code) { finish(code); });

    plat_.clock = vclock_ ? static_cast<platform::Clock*>(vclock_.get()) : native.clock;
    plat_.threads = vthreads_ ? static_cast<platform::Threads*>(vthreads_.get()) : native.threads;
    plat_.serial = serial_.get();
    plat_.console = console_.get();
    plat_.keyboard = desktop_.get();
    plat_.windows = desktop_.get();
    plat_.files = files_.get();
    plat_.process = process_.get();
    plat_.network = env_.network ? env_.network : native.network;
    plat_.scheduling = vthreads_ || !env_.scheduling ? nullptr : native.scheduling;
    plat_.ending = env_.ending ? env_.ending : env_.embedded ? nullptr : native.ending;
    wait_ = std::make_unique<psim::SimWait>(*time_, *plat_.clock, *console_, *serial_);
    plat_.wait = wait_.get();
    program_ = make_program(plat_);
    if (options_.tower != 0) ring_over_link();
    if (options_.band != 0) set_up_band();

    RingerConfig rc;
    rc.autonomous = !options_.interactive;
    rc.plan = options_.plan;
    rc.plan.with_automatic_bells = !options_.automatic_bells.empty();
    rc.touch_file = options_.automatic_bells;
    rc.take_delay = options_.take_delay;
    rc.touch_rows = [this] {
        const Touch& touch = program_->autoring->touch();
        psim::FollowPlan plan;
        plan.bell = options_.plan.rhythm.place;
        plan.bells = program_->autoring->ringer().bells();
        for (long r = kFirstRow; r <= touch.row_count; ++r) plan.rows.push_back(touch.bells_at(r));
        return plan;
    };
    rc.target = options_.target;
    rc.handbell = options_.handbell;
    rc.quit_after_s = options_.quit_after_s;
    rc.service_delay_s = options_.idle_s;
    rc.tower = options_.tower;
    rc.place = options_.plan.rhythm.place;
    if (options_.band != 0)
        rc.on_service = [this](std::int64_t from_us) {
            for (int n = 1; n < options_.band; ++n)
                band_bells_[static_cast<std::size_t>(n - 1)]->start_service(from_us, band_bell_plan(options_, n));
        };
    ringer_ = std::make_unique<SimRinger>(*time_, *bell_, program_->screen, rc);
    console_->set_source(ringer_.get());
    if (options_.status_line) {
        console_->set_status("quennick-sim: " + describe());
        target_->on_key([this] { console_->set_status(target_->status_line()); });
    }
}

SimRun::~SimRun() { teardown(); }

// The tower's settings go in as the override file's lines, on top of what
// the settings file holds; the simulated target hears every ring the link
// sends, so the figures are the link's.
void SimRun::ring_over_link() {
    const int t = options_.target >= 1 && options_.target <= 3 ? options_.target : 1;
    static const char* const kNames[] = {"", "Ringing Room - any browser with focus", "Ringing Room - Firefox",
                                         "Ringing Room - Chrome or Edge"};
    files_->add_lines("bespoke.ini", "towerid=" + std::to_string(options_.tower) + "\r\ntowersite=" +
                                         options_.server + "\r\ntowerbellj=" +
                                         std::to_string(options_.plan.rhythm.place) + "\r\ntowerbellf=0\r\nprogram=" +
                                         kNames[t] + "\r\n");
    // A band's ring comes without a key: its bell's target hears its key.
    program_->tower->on_ring([this](char key, int bell, bool, bool sent) {
        if (!sent) return;
        const std::string where = "tower " + std::to_string(options_.tower);
        if (options_.band != 0 && key == '\0' && bell >= 1 && bell <= options_.band)
            band_target(bell).key(time_->now_locked(), band_bell_key(bell), where);
        else
            target_->key(time_->now_locked(), key, where);
    });
}

// The key of a blow is due its key delay and half the mean signal length
// (none with ON/OFF sensing, where each edge is a stroke) after the signal of
// the sensing point that sends it, as the program is set at the moment: the
// time the program means the key to go.
std::int64_t SimRun::due(const psim::Strike& s, bool hand) const {
    const Program& program = *program_;
    const CurrentTarget& k = program.target;
    if (k.sensors_active() < 1) return -1;
    const SensingPoint& p = k.point(0);
    if (p.sensor < 1 || p.sensor > bell_->config().sensors) return -1;
    const std::int64_t signal = s.signal_us[static_cast<std::size_t>(p.sensor - 1)];
    if (signal < 0) return -1;
    const std::int32_t delay = hand ? p.hand_delay_ms : p.back_delay_ms;
    const std::int32_t half_pulse = program.cfg.off_and_on_are_signals ? 0 : program.cfg.mean_signal_ms;
    return signal + std::int64_t{delay} * 1000 + std::int64_t{half_pulse} * 500;
}

// A key of one of the sensing points, as the program is set; the ringing
// program hears letters as capitals.
bool SimRun::ringer_key(char key) const {
    const CurrentTarget& k = program_->target;
    const char heard = upper(key);
    for (std::int32_t i = 0; i < k.sensors_active() && i < kMaxSensors; ++i)
        if (upper(k.point(i).hand_key) == heard || upper(k.point(i).back_key) == heard) return true;
    return false;
}

// The program is told of the band as a tower's settings file would: every
// bell on the box rung, each on its standard character.
void SimRun::set_up_band() {
    std::string lines = "bandmode=1\r\n";
    for (int n = 1; n <= options_.band; ++n) lines += "bandbell_" + std::to_string(n) + "=1\r\n";
    files_->add_lines("bespoke.ini", lines);
}

psim::SimBell& SimRun::band_bell(int n) {
    return n == options_.band ? *bell_ : *band_bells_[static_cast<std::size_t>(n - 1)];
}

SimTarget& SimRun::band_target(int n) {
    return n == options_.band ? *target_ : *band_targets_[static_cast<std::size_t>(n - 1)];
}

// As due(), with the bell's own delays from the band's settings.
std::int64_t SimRun::band_due(int bell, const psim::Strike& s, bool hand) const {
    const Program& program = *program_;
    const std::int64_t signal = s.signal_us[0];
    if (signal < 0 || !program.cfg.band.on) return -1;
    const BandBellSetting& b = program.cfg.band.bell(bell);
    const std::int32_t delay = hand ? b.hand_delay_ms : b.back_delay_ms;
    const std::int32_t half_pulse = program.cfg.off_and_on_are_signals ? 0 : program.cfg.mean_signal_ms;
    return signal + std::int64_t{delay} * 1000 + std::int64_t{half_pulse} * 500;
}

// A line per bell: its blows and faults, and what reached the target.
std::string SimRun::band_report() {
    std::string r = "Band of " + std::to_string(options_.band) + " on one box, by bell:\n";
    for (int n = 1; n <= options_.band; ++n) {
        const TargetFigures f = band_target(n).figures();
        char line[200];
        std::snprintf(line, sizeof line,
                      "  %2d: %ld blows (%ld missed, %ld spurious, %ld bounces); keys %ld for blows, %ld spurious, "
                      "%ld made up, %ld unexplained, %ld blows without; strokes turned %ld; median %.1f ms\n",
                      n, f.blows, f.missed, f.spurious, f.bounces, f.strike_keys, f.spurious_keys, f.doubled_keys,
                      f.extra_keys, f.strikes_without_key, f.alternation_errors, f.median_ms);
        r += line;
    }
    return r;
}

std::string SimRun::describe() const {
    const psim::BellConfig& b = bell_->config();
    const psim::Rhythm& r = options_.plan.rhythm;
    const char* line = b.line == platform::kLineCts    ? "CTS"
                       : b.line == platform::kLineDsr  ? "DSR"
                       : b.line == platform::kLineCd ? "CD"
                                                        : "RI";
    const char* style = b.style == psim::SensorStyle::Pulse ? "pulse" : b.style == psim::SensorStyle::RestOn ? "rest-on" : "on-off";
    std::string s = "SIM1 ";
    if (options_.band != 0) s += "band of " + std::to_string(options_.band) + " on one box, ";
    s += b.mode == psim::InputMode::Data ? std::string("data '") + b.data_char + "'" : std::string(line) + " " + style;
    s += " x" + std::to_string(b.sensors) + ", rounds on " + std::to_string(r.bells) + " (place " +
         std::to_string(r.place) + "), " + (options_.virtual_time ? "virtual" : "real") + " time, " +
         (options_.interactive ? "interactive" : "autonomous");
    if (options_.tower != 0) s += ", tower " + std::to_string(options_.tower) + " at " + options_.server;
    if (!options_.automatic_bells.empty()) s += ", with automatic bells from " + options_.automatic_bells;
    const psim::RingerBias& bias = r.bias;
    if (bias.late_ms != 0 || bias.hand_ms != 0 || bias.spread_ms != 0) {
        char text[96];
        std::snprintf(text, sizeof text, ", blows %+g ms (handstrokes %+g more), spread %g ms", bias.late_ms, bias.hand_ms,
                      bias.spread_ms);
        s += text;
    }
    for (int p = 1; p <= 16; ++p)
        if (bias.place_ms[static_cast<std::size_t>(p)] != 0)
            s += ", " + std::to_string(p) + (p == 1 ? "st" : p == 2 ? "nd" : p == 3 ? "rd" : "th") + " place " +
                 std::to_string(static_cast<int>(std::lround(bias.place_ms[static_cast<std::size_t>(p)]))) + " ms late";
    return s;
}

std::string SimRun::report() {
    const psim::Faults& f = bell_->config().faults;
    char rates[160];
    std::snprintf(rates, sizeof rates, "seed %llu; faults: bounce %g, transients %g, missed %g, spurious %g",
                  static_cast<unsigned long long>(bell_->config().seed), f.bounce, f.transients, f.missed, f.spurious);
    const std::string why = ringer_->gave_up_why();
    return "quennick-sim: " + describe() + "\n" + rates + "\n" + (options_.band != 0 ? band_report() : target_->report()) +
           (why.empty() ? std::string() : "quennick-sim: the ringer gave up: " + why + "\n");
}

// On the program's way out: the full figures into its run log and, after the
// console has been given back, on the terminal.
void SimRun::finish(int code) {
    const std::string text = report();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        program_->run_log.write_line(text.substr(start, end - start));
        start = end + 1;
    }
    program_->run_log.flush();
    if (env_.print) env_.print(text + "quennick-sim: Quennick ended with exit code " + std::to_string(code) + "\n");
}

int SimRun::run() {
    if (vtime_) vtime_->adopt_current_thread();
    int code = 0;
    try {
        code = quennick_main(*program_, options_.program);
        program_->ending->exit(code);
    } catch (const psim::SimExit& e) {
        code = e.code;
    }
    return code;
}

// The serial thread waits inside the simulated port; stopping the time
// makes every wait fail, and the flag ends its loop.
void SimRun::teardown() {
    if (torn_down_) return;
    torn_down_ = true;
    if (program_ && program_->sensing.thread()) program_->sensing.thread()->end();
    time_->stop();
    if (vthreads_) {
        vthreads_->join_all();
        return;
    }
    // A native thread cannot be joined; it ends within moments, but what it
    // may still touch is left in place for good.
    if (program_ && program_->sensing.thread() && program_->sensing.thread()->os_thread() != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        (void)program_.release();
        (void)bell_.release();
        (void)serial_.release();
        (void)wait_.release();
        (void)time_.release();
        (void)files_.release();
    }
}

}  // namespace qn::sim
