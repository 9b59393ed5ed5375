// Calibration on scripted ports and a scripted ringer: the port survey, mode
// and sensor detection in both modes, and the calibration entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>

#include "calibration/calibration.h"
#include "config/configfile.h"
#include "service/calibrate.h"
#include "service/program.h"
#include "core/timing.h"
#include "fakes/fake_platform.h"
#include "serial/ports.h"
#include "serial/serial_thread.h"

namespace qn::test {
namespace {

using platform::kLineCts;
using platform::kLineDsr;

constexpr std::int64_t kMs = 1000;
constexpr std::int64_t kS = 1000000;
constexpr int kReturned = -1;
constexpr int kStalled = -2;

// The tower: ports, a ringer who acts when the program waits, and the serial
// thread's steps run on the fake clock when the ringer pulls.
struct Tower {
    struct Step {
        std::function<bool()> ready;
        std::function<void()> act;
    };

    Harness h;
    Program& program;
    std::deque<Step> steps;
    std::uint64_t seen_version = ~0ull;
    bool thread_started = false;
    std::unique_ptr<Calibration> calibration = std::make_unique<Calibration>(
        h.program().cfg, h.program().ports, h.program().sensing, h.program().clock, h.program().dialog, h.program().run_log, *h.program().plat.console,
        h.program().core.easy_mode);
    Calibration& cal() { return *calibration; }

    Tower() : program(h.program()) {
        program.settings_file->set_base_name(kProgramVersion);
        h.fp.console.on_idle = [this] { idle(); };
    }

    ScriptedPort& port(const std::string& name) { return h.fp.serial.add_port(name); }

    // The program waits when it looks for a key twice without drawing
    // anything in between: only then does the ringer act.
    void idle() {
        if (!thread_started && !h.fp.threads.bodies.empty()) {
            program.sensing.thread()->start_watching();  // the created thread's first steps
            thread_started = true;
        }
        const bool waiting = program.screen.version() == seen_version;
        seen_version = program.screen.version();
        if (waiting && !steps.empty() && steps.front().ready()) {
            Step s = steps.front();
            steps.pop_front();
            s.act();
        }
    }
    void when(std::function<bool()> ready, std::function<void()> act) { steps.push_back({ready, act}); }

    std::int64_t now() const { return h.fp.clock.now_us(); }
    bool shows(const std::string& text) const {
        for (int l = 1; l <= Screen::kRows; ++l)
            if (program.screen.line_text(l).find(text) != std::string::npos) return true;
        return false;
    }
    int logged(const std::string& text) const { return count_of(h.log(), text); }
    void type(const std::string& keys) { h.fp.console.type(keys); }

    // The serial thread takes n line changes as they happen.
    void record(int n) {
        h.fp.clock.set_auto_step(1);  // the transient re-check spins on the clock
        for (int i = 0; i < n; ++i) ASSERT_TRUE(program.sensing.thread()->take_event());
        h.fp.clock.set_auto_step(0);
    }

    // The ringer's usual part: a key at the first prompt, the stage-1 key at
    // 2 s, and for each stage-2 prompt the edges rung and a key.
    void starts() {
        when([this] { return shows("then press any key [or Q to exit]"); }, [this] { type(" "); });
        when([this] { return shows("NOW ring the bell *Hand* and *Back*") && now() >= 2 * kS; },
             [this] { type(" "); });
    }
    void rings(int prompt, std::int64_t at, int edges, const std::string& key = " ") {
        when([=, this] { return logged("Then press any key, for the results, Q to terminate") >= prompt && now() >= at; },
             [=, this] {
                 record(edges);
                 type(key);
             });
    }
    void answers(const std::string& text, const std::string& keys) {
        when([=, this] { return shows(text); }, [=, this] { type(keys); });
    }

    int run(const std::function<void()>& body) {
        program.ports.list();
        try {
            body();
        } catch (const ProgramExit& e) {
            return e.code;
        } catch (const StalledInput&) {
            return kStalled;
        }
        return kReturned;
    }
    int calibrate_ports() {
        return run([this] { cal().set_up_serial_ports(); });
    }
};

// A sensor pulse on a line: active from t for len (inverted for a line that
// rests on).
void pulse(ScriptedPort& p, std::int64_t t, std::int64_t len, std::uint32_t line = kLineCts, bool rests_on = false) {
    p.status.push_back({t, rests_on ? 0u : line});
    p.status.push_back({t + len, rests_on ? line : 0u});
}

// A bell on CTS of COM3, found by a pull at 1 s.
ScriptedPort& cts_bell(Tower& t) {
    ScriptedPort& p = t.port("COM3");
    pulse(p, 1 * kS, 100 * kMs);
    return p;
}

// ---- port survey -----------------------------------------------------------

TEST(PortSurvey, EveryOpenablePortIsListedWithItsLines) {
    Tower t;
    t.port("COM1").openable = false;  // held by another program
    t.port("COM3");
    t.port("COM4").initial_status = kLineCts;
    EXPECT_EQ(t.run([&] { t.cal().check_available_ports(); }), kReturned);
    const Screen& s = t.program.screen;
    EXPECT_TRUE(ScreenHas(s, 1, 1, "2 \\\\.\\COM3 serviceable CTS=F DSR=F CD=F RI=F All=F =>OK to use=T "));
    EXPECT_TRUE(ScreenHas(s, 2, 1, "3 \\\\.\\COM4 serviceable CTS=T DSR=F CD=F RI=F All=F =>OK to use=F "));
    EXPECT_TRUE(
        ScreenHas(s, 3, 1, "Make sure sensor is not active (ON) when you start the calibration tests", kYellow));
    EXPECT_EQ(t.logged("2 \\\\.\\COM3 found and serviceable\r\n"), 1);
    EXPECT_EQ(t.logged("COM1 found"), 0);
    EXPECT_EQ(t.program.ports.handle(0), 0u);
    const PortHandle h3 = t.program.ports.handle(1);
    ASSERT_NE(h3, 0u);
    EXPECT_EQ(t.h.fp.serial.states[h3].baud, 2400u);
    EXPECT_EQ(t.h.fp.serial.states[h3].rts_control, platform::LineControl::Enable);
    EXPECT_EQ(t.h.fp.serial.states[h3].dtr_control, platform::LineControl::Enable);
    EXPECT_TRUE(t.cal().lines_at_survey(2)[ModemLine::Cts]);
    EXPECT_EQ(t.h.fp.threads.slept_ms(), 600);  // 300 ms of looking per usable port
}

TEST(PortSurvey, APortThatIsAlreadyStreamingIsGivenUp) {
    Tower t;
    ScriptedPort& gps = t.port("COM3");
    for (std::int64_t ms = 0; ms < 2000; ms += 5) gps.bytes.push_back({ms * kMs, '$'});
    t.port("COM4");
    EXPECT_EQ(t.run([&] { t.cal().check_available_ports(); }), kReturned);
    EXPECT_TRUE(t.shows("1 \\\\.\\COM3 not useable - data already streaming on it "));
    EXPECT_EQ(t.logged("1 \\\\.\\COM3 not useable - data already streaming on it\r\n"), 1);
    EXPECT_EQ(t.program.ports.handle(0), 0u);
    EXPECT_NE(t.program.ports.handle(1), 0u);
    EXPECT_EQ(count_of(::testing::PrintToString(t.h.fp.serial.calls), "close COM3"), 1);
}

TEST(PortSurvey, NoUsablePortEndsAfterAKey) {
    for (bool streaming_only : {true, false}) {
        Tower t;
        if (streaming_only) {
            ScriptedPort& box = t.port("COM3");
            for (std::int64_t ms = 0; ms < 5000; ms += 5) box.bytes.push_back({ms * kMs, 'a'});
        }
        t.answers("Press Q to Quit", "x");
        EXPECT_EQ(t.run([&] { t.cal().check_available_ports(); }), 0) << streaming_only;
        EXPECT_EQ(t.logged("No useable ports found"), 0);  // console only
        EXPECT_TRUE(t.logged("Interface terminated by User - closing...")) << streaming_only;
        const std::string dump = t.program.screen.line_text(1) + t.program.screen.line_text(2) + t.program.screen.line_text(3) +
                                 t.program.screen.line_text(4) + t.program.screen.line_text(5);
        // The quit message clears the scratch window; the three lines stay above it.
        EXPECT_NE(dump.find("No useable ports found - "), std::string::npos) << dump;
        EXPECT_NE(dump.find("Recheck COM ports and that other programs are not using the port"), std::string::npos);
        EXPECT_NE(dump.find("Press Q to Quit"), std::string::npos);
    }
}

// Some virtual and Bluetooth ports, and a pty under Wine, open but refuse
// the modem status. No bell can be on their lines, but an interface box on
// their data line is found; a bell on another port's lines is found as well.
TEST(PortSurvey, APortWithoutModemLinesIsKeptForAnInterfaceBox) {
    const std::string kept = "1 \\\\.\\COM2 serviceable for data only - its modem lines cannot be read";
    Tower t;
    t.port("COM2").fail_status = true;
    ScriptedPort& p = cts_bell(t);
    pulse(p, 5 * kS, 80 * kMs);
    pulse(p, 7 * kS, 80 * kMs);
    t.starts();
    t.rings(1, 3 * kS, 4);
    ASSERT_EQ(t.calibrate_ports(), kReturned);
    EXPECT_TRUE(t.shows(kept));
    EXPECT_EQ(t.logged(kept + "\r\n"), 1);
    EXPECT_EQ(t.logged("GetCommModemStatus: The device is not ready\r\n"), 1);
    EXPECT_EQ(t.logged("left out"), 0);  // its lines are not looked at again
    EXPECT_EQ(t.logged("Serial port not responding"), 0);
    EXPECT_EQ(count_of(::testing::PrintToString(t.h.fp.serial.calls), "close COM2"), 1);
    EXPECT_EQ(t.program.cfg.port_name, "\\\\.\\COM3");
    EXPECT_TRUE(t.program.cfg.use_line[ModemLine::Cts]);
    EXPECT_EQ(t.program.cfg.sensor_count, 1);

    Tower d;
    ScriptedPort& box = d.port("COM2");
    box.fail_status = true;
    box.bytes = {{1 * kS, '5'}, {5 * kS, '5'}, {7 * kS, '5'}};
    d.starts();
    ASSERT_EQ(d.calibrate_ports(), kReturned);
    EXPECT_TRUE(d.shows(kept));
    EXPECT_TRUE(d.program.cfg.rest_on_mode);
    EXPECT_EQ(d.program.cfg.data_char, '5');
    EXPECT_EQ(d.program.cfg.port_name, "\\\\.\\COM2");
    EXPECT_EQ(d.program.cfg.sensor_count, 1);
}

// A port that stops answering while the ringer rings for the mode is left
// out there too, and the bell's port is found as before.
TEST(PortSurvey, APortThatStopsAnsweringDuringModeDetectionIsLeftOut) {
    Tower t;
    ScriptedPort& p = cts_bell(t);
    pulse(p, 5 * kS, 80 * kMs);
    pulse(p, 7 * kS, 80 * kMs);
    ScriptedPort& flaky = t.port("COM4");
    t.when([&t] { return t.shows("then press any key [or Q to exit]"); }, [&t, &flaky] {
        flaky.fail_status = true;
        t.type(" ");
    });
    t.when([&t] { return t.shows("NOW ring the bell *Hand* and *Back*") && t.now() >= 2 * kS; },
           [&t] { t.type(" "); });
    t.rings(1, 3 * kS, 4);
    ASSERT_EQ(t.calibrate_ports(), kReturned);
    EXPECT_EQ(t.logged("Port COM4 left out: its modem status cannot be read\r\n"), 1);
    EXPECT_EQ(t.logged("Serial port not responding"), 0);
    EXPECT_EQ(t.program.ports.handle(1), 0u);
    EXPECT_EQ(t.program.cfg.port_name, "\\\\.\\COM3");
    EXPECT_EQ(t.program.cfg.sensor_count, 1);
}

// ---- signals mode ----------------------------------------------------------

TEST(SignalDetection, FourEdgesAreOneSensorAndTheRingIsLeftEmpty) {
    Tower t;
    ScriptedPort& p = cts_bell(t);
    pulse(p, 5 * kS, 80 * kMs);
    pulse(p, 7 * kS, 80 * kMs);
    t.port("COM4");
    t.starts();
    t.rings(1, 3 * kS, 4);
    ASSERT_EQ(t.calibrate_ports(), kReturned);
    Program& program = t.program;
    EXPECT_TRUE(program.cfg.signals_mode);
    EXPECT_FALSE(program.cfg.rest_on_mode);
    EXPECT_EQ(program.cfg.sensor_count, 1);
    EXPECT_EQ(t.cal().good_signals(), 4);
    EXPECT_EQ(program.cfg.signal_count, 4);
    EXPECT_EQ(program.cfg.mean_signal_ms, 80);
    EXPECT_NEAR(program.cfg.results[2].signal_time_s, 2.0, 1e-4);
    EXPECT_TRUE(program.cfg.use_line[ModemLine::Cts]);
    EXPECT_FALSE(program.cfg.use_line[ModemLine::Dsr] || program.cfg.use_line[ModemLine::Cd] || program.cfg.use_line[ModemLine::Ri]);
    EXPECT_TRUE(program.cfg.signal_starts_off);
    EXPECT_EQ(program.cfg.transient_ms.load(), kDefaultTransientMs);
    EXPECT_EQ(program.cfg.port_name, "\\\\.\\COM3");
    EXPECT_EQ(program.ports.service(), program.ports.handle(0));
    EXPECT_NE(program.ports.service(), 0u);
    EXPECT_EQ(program.ports.handle(1), 0u);  // the other port is closed
    EXPECT_EQ(count_of(::testing::PrintToString(t.h.fp.serial.calls), "close COM4"), 1);
    EXPECT_EQ(program.event_ring.recorded(), 0);
    EXPECT_EQ(t.h.fp.threads.bodies.size(), 1u);
    EXPECT_EQ(t.h.fp.threads.priorities[program.sensing.thread()->os_thread()], platform::kPriorityTimeCritical);
    EXPECT_EQ(t.logged("Signal data detected on port COM3 - signal CTS\r\n"), 1);
    EXPECT_EQ(t.logged("Stage 1 (mode detection) completed"), 1);
    EXPECT_EQ(t.logged("Total ON pulses:2 implies     1.00 sensors on bell"), 1);
    EXPECT_EQ(t.logged("Then press any key, for the results, Q to terminate, end of findactiveports"), 1);
    EXPECT_EQ(t.logged("Start comm thread "), 1);
}

TEST(SignalDetection, EightEdgesAreTwoSensors) {
    Tower t;
    ScriptedPort& p = cts_bell(t);
    for (std::int64_t at : {5000, 5300, 7000, 7300}) pulse(p, at * kMs, 80 * kMs);
    t.starts();
    t.rings(1, 3 * kS, 8);
    ASSERT_EQ(t.calibrate_ports(), kReturned);
    EXPECT_EQ(t.program.cfg.sensor_count, 2);
    EXPECT_EQ(t.logged("Total ON pulses:4 implies     2.00 sensors on bell"), 1);
}

TEST(SignalDetection, SixEdgesAreRejectedAndTheRepeatJudgesOnlyTheNewPull) {
    Tower t;
    ScriptedPort& p = cts_bell(t);
    for (std::int64_t at : {5000, 5300, 7000}) pulse(p, at * kMs, 80 * kMs);
    pulse(p, 12 * kS, 90 * kMs);
    pulse(p, 14 * kS, 90 * kMs);
    t.starts();
    t.rings(1, 3 * kS, 6);
    t.rings(2, 10 * kS, 4);
    ASSERT_EQ(t.calibrate_ports(), kReturned);
    EXPECT_EQ(t.logged("Total ON pulses:3 implies     1.50 sensors on bell"), 1);
    EXPECT_EQ(t.logged("ERROR: The number of sensors on bell not a positive integer"), 1);
    EXPECT_EQ(t.logged("Possibly operator error, or actuation pulse being too short in duration, or switch on/off not clean"), 1);
    EXPECT_EQ(t.logged("The sensor calibration must be repeated - close the program to start againby pressing Q"), 1);
    EXPECT_EQ(t.program.cfg.sensor_count, 1);
    EXPECT_EQ(t.cal().good_signals(), 4);
    EXPECT_EQ(t.program.cfg.mean_signal_ms, 90);
    EXPECT_EQ(t.cal().recording(0).event_us[0], 12 * kS);
    // The ring was emptied with the thread held, once before the repeat and
    // once at the end.
    EXPECT_EQ(count_of(::testing::PrintToString(t.h.fp.threads.calls), "suspend"), 2);
}

TEST(SignalDetection, OneSwitchOnFromHandToBackIsOnOffSensing) {
    for (const std::string answer : {"n", "y"}) {
        Tower t;
        ScriptedPort& p = cts_bell(t);
        pulse(p, 5 * kS, 1500 * kMs);
        t.starts();
        t.rings(1, 3 * kS, 2);
        t.answers("Is this a handbell (ON/OFF sensing)? (Y/n)", answer);
        ASSERT_EQ(t.calibrate_ports(), kReturned) << answer;
        EXPECT_EQ(t.program.cfg.sensor_count, 1);
        EXPECT_TRUE(t.program.cfg.off_and_on_are_signals);
        EXPECT_EQ(t.program.cfg.handbells, answer == "y");
        EXPECT_EQ(t.shows("Using handbell settings"), answer == "y");
        EXPECT_EQ(t.logged("Using ON and OFF sensoring on a single sensor"), 1);
        EXPECT_EQ(t.logged("interchanged"), 0);
    }
}

TEST(SignalDetection, TwoCloseEdgesAreOneSensorPointAndMustBeRepeated) {
    Tower t;
    ScriptedPort& p = cts_bell(t);
    pulse(p, 5 * kS, 80 * kMs);
    t.starts();
    t.rings(1, 3 * kS, 2);
    t.rings(2, 4 * kS, 0, "q");
    EXPECT_EQ(t.calibrate_ports(), 0);
    EXPECT_EQ(t.logged("Only one sensor point detected"), 1);
    EXPECT_EQ(t.logged("The sensor calibration must be repeated"), 1);
    EXPECT_EQ(t.logged("Interface terminated by User - closing..."), 1);
}

TEST(SignalDetection, ALineRestingOnIsTheSignalWhenItDrops) {
    Tower t;
    ScriptedPort& p = t.port("COM3");
    p.initial_status = kLineCts;
    pulse(p, 1 * kS, 100 * kMs, kLineCts, true);
    pulse(p, 5 * kS, 80 * kMs, kLineCts, true);
    pulse(p, 7 * kS, 80 * kMs, kLineCts, true);
    t.starts();
    t.rings(1, 3 * kS, 4);
    ASSERT_EQ(t.calibrate_ports(), kReturned);
    EXPECT_EQ(t.logged("Initial CTS state is ON\r\n"), 1);
    EXPECT_FALSE(t.program.cfg.signal_starts_off);
    EXPECT_EQ(t.program.cfg.sensor_count, 1);
    EXPECT_EQ(t.program.cfg.mean_signal_ms, 80);
    EXPECT_EQ(t.logged("interchanged"), 0);
}

TEST(SignalDetection, TwentySecondsWithoutAKeyEndWithCode1) {
    Tower t;
    cts_bell(t);
    t.starts();
    const int code = t.calibrate_ports();
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(t.shows("ERROR: No input detected from dumbbell after 20 secs:"));
    EXPECT_TRUE(t.shows("Check Abel etc not running, & serial port connection is ok"));
    EXPECT_GT(t.now(), 22 * kS);
    EXPECT_LT(t.now(), 23 * kS);
}

TEST(SignalDetection, TheTablesHold256EventsAndOneMoreIsTooMany) {
    for (int edges : {256, 257}) {
        Tower t;
        ScriptedPort& p = cts_bell(t);
        for (int k = 0; k < (edges + 1) / 2; ++k) pulse(p, 5 * kS + k * 60 * kMs, 10 * kMs);
        t.starts();
        t.rings(1, 3 * kS, edges);
        if (edges > kMaxCalibrationEvents)
            t.answers("Too many sensor events", "\r");
        else
            t.rings(2, 3 * kS, 0, "q");  // 64 "sensors" are more than a bell has
        const int code = t.calibrate_ports();
        if (edges == 256) {
            EXPECT_EQ(code, 0);
            EXPECT_EQ(t.logged("Total ON pulses:128 implies    64.00 sensors on bell"), 1);
            EXPECT_EQ(t.logged("ERROR: The number of sensors on bell not a positive integer"), 1);
            EXPECT_NEAR(t.program.cfg.results[255].signal_time_s, 7.63, 1e-3);
        } else {
            EXPECT_EQ(code, 88);
            EXPECT_EQ(t.logged("Too many sensor events: Usually means bad sensors - press [ENTER] to quit"), 1);
        }
    }
}

TEST(SignalDetection, NoEventInEitherPassEndsWith87AfterTheRetryAtMaximumSensitivity) {
    Tower t;
    cts_bell(t);
    t.starts();
    t.rings(1, 3 * kS, 0);
    t.rings(2, 5 * kS, 0);
    t.answers("No sensor points detected", "\r");
    EXPECT_EQ(t.calibrate_ports(), 87);
    EXPECT_EQ(t.logged("Signals not detected - retrying with maximum sensistivity"), 1);
    EXPECT_EQ(t.logged("Then press any key, for the results, Q to terminate, end of retry with max sensitivity"), 1);
    EXPECT_EQ(t.logged("\n\rNo sensor points detected - make pulses stronger/last longer -\r\n Press [ENTER] to Quit"), 1);
    EXPECT_EQ(t.program.cfg.transient_ms.load(), 0);
}

TEST(SignalDetection, PulsesTooShortForTheFilterAreTakenAtMaximumSensitivity) {
    Tower t;
    ScriptedPort& p = cts_bell(t);
    pulse(p, 5 * kS, 1 * kMs);  // over before the 2 ms re-check: omitted
    pulse(p, 7 * kS, 1 * kMs);
    pulse(p, 12 * kS, 1 * kMs);
    pulse(p, 14 * kS, 1 * kMs);
    t.starts();
    t.rings(1, 3 * kS, 2);
    t.rings(2, 10 * kS, 4);
    ASSERT_EQ(t.calibrate_ports(), kReturned);
    EXPECT_EQ(t.program.cfg.transient_ms.load(), 0);
    EXPECT_EQ(t.program.cfg.sensor_count, 1);
    EXPECT_EQ(t.program.cfg.mean_signal_ms, 1);
}

// ---- mode conflicts and nothing at all -------------------------------------

TEST(ModeDetection, ConflictsAndSilenceEndTheProgramAfterTheirMessage) {
    struct Case {
        const char* what;
        std::function<void(Tower&)> wire;
        const char* message;
    } cases[] = {
        {"nothing", [](Tower& t) { t.port("COM3"); }, "No signal or data input was received, terminating..."},
        {"both modes",
         [](Tower& t) {
             cts_bell(t);
             t.port("COM4").bytes.push_back({1 * kS, 'a'});
         },
         "Program only allows either signal or data input but not both, terminating..."},
        {"two signal ports",
         [](Tower& t) {
             cts_bell(t);
             pulse(t.port("COM4"), 1200 * kMs, 100 * kMs, kLineDsr);
         },
         "Program only allows signals input on ONE COM port, terminating..."},
        {"two data ports",
         [](Tower& t) {
             t.port("COM3").bytes.push_back({1 * kS, 'a'});
             t.port("COM4").bytes.push_back({1 * kS, 'b'});
         },
         "Program only allows data input on ONE COM port, terminating..."},
    };
    for (const Case& k : cases) {
        Tower t;
        k.wire(t);
        t.starts();
        EXPECT_EQ(t.calibrate_ports(), 0) << k.what;
        EXPECT_EQ(t.logged(std::string(k.message) + "\r\n"), 1) << k.what;
        EXPECT_TRUE(t.shows(k.message)) << k.what;
        // The message stays 4 s (after a look of 300 ms at each port).
        EXPECT_EQ(t.h.fp.threads.slept_ms() % 300, 4000 % 300) << k.what;
        EXPECT_GE(t.h.fp.threads.slept_ms(), 4300) << k.what;
        EXPECT_TRUE(t.h.fp.threads.bodies.empty()) << k.what;
    }
}

// ---- data mode -------------------------------------------------------------

TEST(DataDetection, TheBoxCharacterTwiceIsOneEventAndOtherBellsAreNotCounted) {
    Tower t;
    ScriptedPort& box = t.port("COM3");
    box.bytes = {{1 * kS, 'a'}, {5 * kS, 'a'}, {5 * kS + 1500, 'a'}, {6 * kS, 'b'}, {7 * kS, 'a'}};
    t.starts();
    ASSERT_EQ(t.calibrate_ports(), kReturned);
    Program& program = t.program;
    EXPECT_TRUE(program.cfg.rest_on_mode);
    EXPECT_FALSE(program.cfg.signals_mode);
    EXPECT_EQ(program.cfg.data_char, 'a');
    EXPECT_EQ(t.cal().good_signals(), 2);
    EXPECT_EQ(program.cfg.signal_count, 2);
    EXPECT_EQ(program.cfg.sensor_count, 1);
    EXPECT_EQ(t.cal().recording(0).event_us[0], 5 * kS);
    EXPECT_EQ(t.cal().recording(0).event_us[1], 7 * kS);
    EXPECT_TRUE(t.h.fp.threads.bodies.empty());
    EXPECT_EQ(t.logged("Bagley data detected on port COM3 using character a\r\n"), 1);
    EXPECT_EQ(t.logged("New serial port found"), 1);
    EXPECT_EQ(t.logged("1 Port:COM3 input=\"a\" SIGNAL:2 time: 2.0000 SIGgap: 2.0000 SENSOR__gap: 2.0000"), 1);
    EXPECT_EQ(t.logged("Total pulses 2 implies     1.00 sensors on bell"), 1);
    EXPECT_TRUE(t.shows("Presumed calibrated"));
    EXPECT_TRUE(t.shows("No comm port data found for 0"));
    // The window ended by itself, more than 6 s after the first event.
    EXPECT_GT(t.now(), 11 * kS);
    EXPECT_LT(t.now(), 12 * kS);
    // and the stopwatch goes on counting for the service that follows.
    EXPECT_TRUE(program.clock.running());
    const std::int64_t before = program.clock.elapsed_us();
    t.h.fp.clock.advance_ms(5);
    EXPECT_EQ(program.clock.elapsed_us() - before, 5000);
}

// ---- the calibration entry -------------------------------------------------

TEST(Calibrate, ACompleteCalibrationResetsTheDefaultsAndSavesTheSettings) {
    Tower t;
    ScriptedPort& p = cts_bell(t);
    pulse(p, 5 * kS, 80 * kMs);
    pulse(p, 7 * kS, 80 * kMs);
    const std::string file = std::string(kProgramVersion) + ".ini";
    t.h.fp.files.files[file] = "from another version";
    t.program.cfg.loop_sleep_ms = 9;
    t.program.cfg.switch_bounce_ms = 25;
    t.program.cfg.big_numbers = true;
    t.program.cfg.use_line[ModemLine::Cd] = true;  // left from an older settings file
    t.starts();
    t.rings(1, 3 * kS, 4);
    t.answers("Which program window to send the key to?", "8\r");
    ASSERT_EQ(t.run([&] { calibrate(t.program, true); }), kReturned);
    EXPECT_EQ(t.logged("Doing  complete basic calibration: details can be adjusted later\r\n"), 1);
    EXPECT_EQ(t.program.cfg.target_program, "Abel");
    EXPECT_EQ(t.program.cfg.loop_sleep_ms, kDefaultLoopSleepMs);
    EXPECT_EQ(t.program.cfg.switch_bounce_ms, kDefaultSwitchBounceMs);
    EXPECT_FALSE(t.program.cfg.big_numbers);
    // The old line choice did not turn the thread away from CTS.
    EXPECT_EQ(t.program.sensing.thread()->watched_line(), kLineCts);
    EXPECT_TRUE(t.program.cfg.use_line[ModemLine::Cts]);
    EXPECT_FALSE(t.program.cfg.use_line[ModemLine::Cd]);
    EXPECT_EQ(t.program.target.table()[4].points[0].hand_delay_ms, 0);  // one sensor's defaults
    const std::string& saved = t.h.fp.files.files[file];
    EXPECT_NE(saved.find("sleepnum=5"), std::string::npos) << saved;
    EXPECT_NE(saved.find("switchbouncedelay=40"), std::string::npos) << saved;
    EXPECT_NE(saved.find("bignumbers=0"), std::string::npos) << saved;
    EXPECT_EQ(t.logged("Write configuration file for Abel"), 1);

    // The next start finds the calibration in the file.
    Harness next;
    next.fp.files.files[file] = saved;
    ASSERT_TRUE(load_settings(next.program(), file));
    EXPECT_EQ(next.program().cfg.port_name, "\\\\.\\COM3");
    EXPECT_TRUE(next.program().cfg.signals_mode);
    EXPECT_TRUE(next.program().cfg.use_line[ModemLine::Cts]);
    EXPECT_EQ(next.program().cfg.sensor_count, 1);
    EXPECT_EQ(next.program().cfg.mean_signal_ms, 80);
    EXPECT_EQ(next.program().cfg.signal_count, 4);
    EXPECT_NEAR(next.program().cfg.results[2].signal_time_s, 2.0, 1e-4);
}

TEST(Calibrate, QuittingDuringDetectionLeavesTheSettingsFileAlone) {
    for (int where : {1, 2}) {
        Tower t;
        ScriptedPort& p = cts_bell(t);
        pulse(p, 5 * kS, 80 * kMs);
        const std::string file = std::string(kProgramVersion) + ".ini";
        t.h.fp.files.files[file] = "kept";
        if (where == 1) {
            t.answers("then press any key [or Q to exit]", "q");
        } else {
            t.starts();
            t.rings(1, 3 * kS, 2, "Q");
        }
        EXPECT_EQ(t.run([&] { calibrate(t.program, true); }), 0) << where;
        EXPECT_EQ(t.h.fp.files.files[file], "kept") << where;
        EXPECT_EQ(t.logged("Interface terminated by User - closing..."), 1) << where;
    }
}

}  // namespace
}  // namespace qn::test
