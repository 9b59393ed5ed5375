// Whole runs of the program on the simulated bell, in virtual time. What
// the simulated target received is checked against the truth of every blow
// the simulated bell knows, not against the program's own counters.
#include <array>
#include <map>

#include "fakes/fake_platform.h"
#include "sim_test_util.h"

namespace qn::sim::test {

using platform::sim::Strike;
using platform::sim::StrikeKind;

namespace {

struct Tally {
    std::vector<Strike> strikes;
    std::vector<KeyRecord> keys;
    std::vector<int> keyed;    // per strike: keys for the blow or spurious signal itself
    std::vector<int> doubled;  // per strike: made-up keys
    long extra = 0;
};

Tally tally(SimRun& run, SimTarget& target, platform::sim::SimBell& bell) {
    Tally t;
    t.keys = target.keys();
    {
        std::lock_guard<std::mutex> g(run.time().mutex());
        t.strikes = bell.strikes_until(0);
    }
    t.keyed.assign(t.strikes.size(), 0);
    t.doubled.assign(t.strikes.size(), 0);
    for (const KeyRecord& k : t.keys) {
        if (k.cls == KeyClass::Extra) ++t.extra;
        if (k.strike < 0) continue;
        auto i = static_cast<std::size_t>(k.strike);
        (k.cls == KeyClass::Doubled ? t.doubled : t.keyed)[i] += 1;
    }
    return t;
}

Tally tally(SimRun& run) { return tally(run, run.target(), run.bell()); }

struct BlowCounts {
    long blows = 0, missed = 0, spurious = 0;
};

// Every blow keyed once (a blow after a missed one with its made-up key),
// a missed blow never, a spurious strike once.
BlowCounts expect_a_key_per_blow(const Tally& t) {
    BlowCounts n;
    for (std::size_t i = 0; i < t.strikes.size(); ++i) {
        const Strike& s = t.strikes[i];
        if (s.row <= 0) continue;
        switch (s.kind) {
        case StrikeKind::Real:
            ++n.blows;
            EXPECT_EQ(t.keyed[i], 1) << "row " << s.row;
            EXPECT_EQ(t.doubled[i], s.after_missed ? 1 : 0) << "row " << s.row;
            break;
        case StrikeKind::Missed:
            ++n.missed;
            EXPECT_EQ(t.keyed[i], 0) << "row " << s.row;
            if (i + 1 < t.strikes.size()) {
                EXPECT_TRUE(t.strikes[i + 1].after_missed) << "row " << s.row;
            }
            break;
        case StrikeKind::Spurious:
            ++n.spurious;
            EXPECT_EQ(t.keyed[i], 1) << "spurious strike after row " << s.row;
            break;
        default: break;
        }
    }
    return n;
}

// Every key came within [0, limit] ms of its due time.
void expect_on_time(const Tally& t, double limit_ms) {
    int late = 0;
    for (const KeyRecord& k : t.keys) {
        if (k.cls != KeyClass::Strike && k.cls != KeyClass::Spurious) continue;
        if (k.error_ms >= 0 && k.error_ms <= limit_ms) continue;
        if (++late <= 5)
            ADD_FAILURE() << "key for strike " << k.strike << " at " << k.time_us << " us is " << k.error_ms
                          << " ms from its due time";
    }
    EXPECT_EQ(late, 0);
}

SimOptions faulty_720_rows() {
    SimOptions o = virtual_run();
    o.fresh = true;
    o.plan.rows = 720;
    o.plan.touch_min = 200;
    o.plan.touch_max = 260;
    o.bell.faults.bounce = 0.3;
    o.bell.faults.transients = 0.2;
    o.bell.faults.missed = 0.01;
    o.bell.faults.spurious = 0.01;
    return o;
}

}  // namespace

// Bounce and transients give no key; every blow gives one key at its due
// time; each spurious strike gives the one key the rules give it (sent, but
// left out of the spacing); each missed blow is made up by a doubled key
// with the next blow.
TEST(SimRunEvidence, SevenHundredTwentyRowsWithFaultsGiveTheKeysTheRulesGive) {
    ScratchDir dir;
    SimRun run(faulty_720_rows(), embedded());
    ASSERT_EQ(run.run(), 0);
    const Tally t = tally(run);

    const auto [blows, missed, spurious] = expect_a_key_per_blow(t);
    EXPECT_EQ(blows + missed, 720);
    EXPECT_GE(missed, 6);
    EXPECT_GE(spurious, 6);
    EXPECT_GT(run.bell().counts().bounces, 200);
    EXPECT_GT(run.bell().counts().transients, 80);
    EXPECT_EQ(t.extra, 0);
    EXPECT_EQ(static_cast<long>(t.keys.size()), blows + spurious + missed);
    // loop_sleep_ms 5: up to one pass to take the event and one to send the key,
    // after the 2 ms re-check and whatever a bounce added.
    expect_on_time(t, 16);
    // Touches ended by pauses, and their event logs written.
    EXPECT_GE(occurrences(dir.logs(), "COM port thread data"), 3);
}

// The same seed gives the same run, to the microsecond.
TEST(SimRunEvidence, ASeedMakesTheRunRepeatable) {
    std::vector<std::int64_t> first, second;
    for (auto* out : {&first, &second}) {
        ScratchDir dir;
        SimOptions o = faulty_720_rows();
        o.plan.rows = 60;
        o.plan.touch_min = o.plan.touch_max = 60;
        SimRun run(o, embedded());
        ASSERT_EQ(run.run(), 0);
        for (const KeyRecord& k : run.target().keys()) out->push_back(k.time_us);
    }
    EXPECT_GE(first.size(), 60u);
    EXPECT_EQ(first, second);
}

// scripts/demo's path: no settings file, so the ringer calibrates (one pull
// for the mode, one for the sensors, the target menu), rings, and quits.
TEST(SimRunDemo, CalibratesRingsAndQuitsWritingTheSettingsFileAndALog) {
    ScratchDir dir;
    SimOptions o = virtual_run();
    o.plan.rows = 30;
    {
        SimRun run(o, embedded());
        EXPECT_EQ(run.run(), 0);
        EXPECT_EQ(run.ringer().pulls_asked(), 2);
        EXPECT_EQ(run.target().figures().strike_keys, 30);
    }
    ASSERT_TRUE(dir.has(settings_file()));
    const std::string ini = dir.read(settings_file());
    EXPECT_NE(ini.find("comport=\\\\.\\SIM1"), std::string::npos);
    EXPECT_NE(ini.find("usects=1"), std::string::npos);
    EXPECT_NE(ini.find("sensornum=1"), std::string::npos);
    EXPECT_NE(ini.find("meansignallength=50"), std::string::npos);
    const std::string log = dir.logs();
    EXPECT_NE(log.find("Doing  complete basic calibration"), std::string::npos);
    EXPECT_NE(log.find("Interface terminated by User - closing..."), std::string::npos);
    EXPECT_NE(log.find("Target: 30 keys: 30 for blows"), std::string::npos);

    // The next start uses the file: no calibration, straight to ringing.
    SimRun again(o, embedded());
    EXPECT_EQ(again.run(), 0);
    EXPECT_EQ(again.ringer().pulls_asked(), 0);
    EXPECT_EQ(again.target().figures().strike_keys, 30);
}

TEST(SimRunDemo, FreshIgnoresTheSettingsFileAndWritesANewOne) {
    ScratchDir dir;
    SimOptions o = virtual_run();
    o.plan.rows = 4;
    { SimRun(o, embedded()).run(); }
    o.fresh = true;
    o.bell.line = platform::kLineDsr;
    SimRun run(o, embedded());
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(run.ringer().pulls_asked(), 2);
    EXPECT_NE(dir.read(settings_file()).find("usedsr=1"), std::string::npos);
}

// The other shapes of sensor input each calibrate and ring cleanly.
struct Shape {
    const char* name;
    void (*set)(SimOptions&);
    const char* setting;  // a line the settings file must hold
};

class SimRunShapes : public ::testing::TestWithParam<Shape> {};

TEST_P(SimRunShapes, CalibrateAndRingWithAKeyPerBlow) {
    ScratchDir dir;
    SimOptions o = virtual_run();
    o.plan.rows = 40;
    o.bell.faults.bounce = 0.3;
    GetParam().set(o);
    SimRun run(o, embedded());
    ASSERT_EQ(run.run(), 0);
    const Tally t = tally(run);
    EXPECT_EQ(t.extra, 0);
    EXPECT_EQ(run.target().figures().strike_keys, 40);
    EXPECT_EQ(run.target().figures().alternation_errors, 0);
    expect_on_time(t, 16);
    EXPECT_NE(dir.read(settings_file()).find(GetParam().setting), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, SimRunShapes,
    ::testing::Values(
        Shape{"TwoSensors", [](SimOptions& o) { o.bell.sensors = 2; }, "sensornum=2"},
        Shape{"ThreeSensorsOnCD", [](SimOptions& o) { o.bell.sensors = 3; o.bell.line = platform::kLineCd; },
              "sensornum=3"},
        Shape{"LineRestingOn", [](SimOptions& o) { o.bell.style = platform::sim::SensorStyle::RestOn; },
              "signalstartsOFF=0"},
        Shape{"HandbellSwitch", [](SimOptions& o) { o.bell.style = platform::sim::SensorStyle::OnOff; },
              "offandonaresignals=1"},
        Shape{"InterfaceBox", [](SimOptions& o) { o.bell.mode = platform::sim::InputMode::Data; o.bell.data_char = '7'; },
              "usedatinputchar=7"},
        Shape{"IdlePortsBeside", [](SimOptions& o) { o.idle_ports = 2; }, "comport=\\\\.\\SIM1"},
        Shape{"MusterByMessages", [](SimOptions& o) { o.target = 4; }, "program=Muster - using moving ropes"},
        Shape{"AbelByMessages", [](SimOptions& o) { o.target = 8; }, "program=Abel"},
        Shape{"OpenForeground", [](SimOptions& o) { o.target = 0; }, "program=Open"},
        // A loop that never waits still moves the virtual clock.
        Shape{"LoopWithoutPause", [](SimOptions&) { std::ofstream("bespoke.ini") << "sleepnum=-1\r\n"; }, "sleepnum="},
        Shape{"LoopThatYields", [](SimOptions&) { std::ofstream("bespoke.ini") << "sleepnum=0\r\n"; }, "sleepnum="}),
    [](const ::testing::TestParamInfo<Shape>& i) { return std::string(i.param.name); });

// ---- ways a run ends ------------------------------------------------------------

// Asked to end from outside in the middle of a touch, the run keeps the
// touch; an interactive run whose person's keyboard has ended ends at its
// first question instead of waiting there for ever.
TEST(SimRunEnds, ARequestKeepsTheTouchAndAnEndedKeyboardEndsTheRun) {
    using platform::EndReason;
    struct Way {
        const char* name;
        platform::EndRequest asks;
        bool interactive;
        std::string last_line;
        int code;
    };
    const Way ways[] = {
        {"SIGTERM", {EndReason::Terminate, "SIGTERM"}, false,
         "Run ended: asked to end by another program or the system (SIGTERM)", 143},
        {"close", {EndReason::ConsoleClosed, "CTRL_CLOSE_EVENT"}, false,
         "Run ended: its console window was closed (CTRL_CLOSE_EVENT)", 129},
        {"keyboard ended", {}, true, "Run ended: the keyboard's input ended (end of file)", 0},
    };
    for (const Way& w : ways) {
        ScratchDir dir;
        SimOptions o = virtual_run();
        o.fresh = true;
        o.interactive = w.interactive;
        if (w.interactive) o.quit_after_s = -1;  // the person would be the only one to end it
        o.plan.rows = 200;
        qn::test::FakeEnding ending;
        qn::test::FakeConsole person;
        person.input_closed = true;
        SimEnvironment env = embedded();
        env.ending = &ending;
        if (w.interactive) env.terminal = &person;
        SimRun run(o, env);
        std::int64_t service_at = -1;
        ending.ask = [&] {
            if (service_at < 0 && run.ringer().in_service()) service_at = run.time().now_locked();
            return service_at >= 0 && run.time().now_locked() > service_at + 40000000 ? w.asks : platform::EndRequest{};
        };
        EXPECT_EQ(run.run(), w.code) << w.name;
        const std::string log = dir.logs();
        const std::size_t end = log.find(w.last_line + "\r\nquennick-sim: ");
        ASSERT_NE(end, std::string::npos) << w.name << "\n" << log.substr(log.size() - std::min<std::size_t>(log.size(), 600));
        const std::size_t list = log.rfind("Writing the event log of the touch rung so far\r\n", end);
        if (w.interactive) {
            EXPECT_EQ(service_at, -1) << w.name;
            EXPECT_EQ(list, std::string::npos) << w.name;
        } else {
            ASSERT_NE(list, std::string::npos) << w.name;
            EXPECT_EQ(occurrences(log.substr(list, end - list), "Processed sensor data"), 1) << w.name;
            EXPECT_GT(run.target().figures().strike_keys, 10) << w.name;
        }
    }
}

// ---- faults of the program once, mended -------------------------------------

// A handbell switch's signal is a whole stroke long, and calibration takes
// that as the mean signal length: half of it (about a second) is added to
// every key's delay, so the keys come a second after the blows.
TEST(SimRunFaults, HandbellKeysFallOnTheBlows) {
    ScratchDir dir;
    SimOptions o = virtual_run();
    o.plan.rows = 20;
    o.bell.style = platform::sim::SensorStyle::OnOff;
    SimRun run(o, embedded());
    ASSERT_EQ(run.run(), 0);
    EXPECT_LT(std::abs(run.target().figures().blow_median_ms), 20.0);
}

// A bounce that lasts past the 2 ms re-check is recorded as an OFF and an
// ON; the bounce window lets the ON through as a new signal, which
// re-schedules the pending key (a release bounce: one pulse length late)
// and, with two sensors, moves every later key to the wrong sensor.
TEST(SimRunFaults, BounceLongerThanTheRecheckGivesNoSecondSignal) {
    ScratchDir dir;
    SimOptions o = virtual_run();
    o.plan.rows = 100;
    o.bell.sensors = 2;
    o.bell.faults.bounce = 0.3;
    o.bell.bounce_ms = 4;
    SimRun run(o, embedded());
    ASSERT_EQ(run.run(), 0);
    const Tally t = tally(run);
    EXPECT_EQ(t.extra, 0);
    expect_on_time(t, 16);
}

// Command lines that once ran for ever end in bounded (virtual) time, with
// the ringer's reason when it gave up; unequal delays and the automatic
// bells' keys leave every key of the ringer's bell explained.
TEST(SimRunEnds, CommandLinesThatOnceHungEndWithAWord) {
    const std::string doubles = std::string(QN_SOURCE_DIR) + "/composition_library/plain_bob_doubles";
    const std::string delays = "keydelayhand_1_1=1000\r\nkeydelayback_1_1=380\r\n";
    const std::vector<std::array<std::string, 3>> lines = {  // the option, bespoke.ini, the reason
        {"--quit-after=30", "", ""},
        {"--bells=5 --with-automatic-bells=" + doubles, "", ""},
        {"--bells=6 --with-automatic-bells=" + doubles, delays, ""},
        {"--with-automatic-bells=no_such_touch", "", "the touch file no_such_touch: there is no file"},
        {"--with-automatic-bells=binary", "", "method did not load"},
        {"--with-automatic-bells=two_bells", "", "(This composition is unsuitable - rows of fewer than 3 bells)"}};
    for (const auto& [option, bespoke, reason] : lines) {
        ScratchDir dir;
        std::ofstream(dir.path() / "binary") << std::string("\x7f" "ELF\x02\x01", 6) + std::string(3000, '\xff');
        std::ofstream(dir.path() / "two_bells") << "12\n21\n12\n";
        if (!bespoke.empty()) std::ofstream(dir.path() / "bespoke.ini") << bespoke;
        SimOptions o = virtual_run();
        std::string error;
        std::vector<std::string> args{"--virtual", "--fresh", "--rows=60", "--idle-s=1"};
        std::istringstream words(option);
        for (std::string word; words >> word;) args.push_back(word);
        ASSERT_TRUE(parse_options(args, o, error)) << error;
        o.program.folder = ".";
        SimRun run(o, embedded());
        EXPECT_EQ(run.run(), 0) << option;
        EXPECT_LT(run.time().now_locked(), 600000000) << option;
        const std::string report = run.report();
        EXPECT_EQ(report.find("the ringer gave up: ") != std::string::npos, !reason.empty()) << report;
        EXPECT_NE(report.find(reason), std::string::npos) << report;
        const TargetFigures f = run.target().figures();
        EXPECT_EQ(f.extra_keys + f.alternation_errors + (reason.empty() ? f.strikes_without_key : 0), 0) << option;
        if (option.find(doubles) == std::string::npos) continue;
        EXPECT_GE(f.strike_keys, 60);
        EXPECT_GT(f.automatic_keys, 4 * f.strike_keys);
    }
}

// ---- a band on one interface box ---------------------------------------------

// Eight ringers on one box, each bell its own path: every blow of every
// bell keyed once on its own key at its stroke, whatever the other bells'
// faults, and a bell's character 1 ms after another's kept.
TEST(SimRunBand, EveryBellsBlowsAreKeyedOnceOnItsOwnKey) {
    struct Case {
        const char* name;
        long rows;
        std::vector<std::string> ringers;  // --ringer values
    };
    const std::int64_t blow_us = [] {
        platform::sim::Rhythm r;
        r.bells = 8;
        return r.blow_us();
    }();
    const std::string a_ms_after_the_treble = "2:late=" + std::to_string(-(blow_us - 1000) / 1000.0);
    const Case cases[] = {
        {"720RowsInThreeTouches", 720, {}},
        {"FaultsOfEachBellItsOwn", 240, {"2:bounce=0.5", "3:missed=0.03", "5:spurious=0.03", "7:late=30,spread=10"}},
        {"TwoBellsAMillisecondApart", 120, {a_ms_after_the_treble}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ScratchDir dir;
        SimOptions o = virtual_run();
        o.fresh = true;
        o.plan.rows = k.rows;
        o.plan.touch_min = o.plan.touch_max = 240;
        std::vector<std::string> args{"--band=8"};
        for (const std::string& r : k.ringers) args.push_back("--ringer=" + r);
        std::string error;
        ASSERT_TRUE(parse_options(args, o, error)) << error;
        SimRun run(o, embedded());
        ASSERT_EQ(run.run(), 0);
        for (int n = 1; n <= 8; ++n) {
            SCOPED_TRACE("bell " + std::to_string(n));
            const Tally t = tally(run, run.band_target(n), run.band_bell(n));
            const BlowCounts c = expect_a_key_per_blow(t);
            EXPECT_EQ(c.blows + c.missed, k.rows);
            EXPECT_EQ(t.extra, 0);
            // (A spurious strike's key turns the stroke, as for one bell.)
            if (c.spurious == 0) {
                EXPECT_EQ(run.band_target(n).figures().alternation_errors, 0);
            }
            expect_on_time(t, 16);
            const platform::sim::BellCounts& faults = run.band_bell(n).counts();
            if (std::string(k.name) == "FaultsOfEachBellItsOwn") {
                EXPECT_EQ(faults.bounces > 20, n == 2);
                EXPECT_EQ(c.missed >= 2, n == 3);
                EXPECT_EQ(c.spurious >= 2, n == 5);
            }
        }
        EXPECT_GE(occurrences(dir.logs(), "Processed sensor data of bell 8"), k.rows / 240);
    }
}

}  // namespace qn::sim::test
