// The calibration analysis on recorded timelines: intervals, bounce folding,
// the stored result and the exact report lines.
#include <gtest/gtest.h>

#include <vector>

#include "calibration/analysis.h"
#include "fakes/fake_platform.h"

namespace qn::test {
namespace {

// Port 1 (COM3) with events at the given milliseconds; in signals mode CTS
// is live and goes on at odd events, off at even ones.
struct Recording {
    Harness h;
    Program& program;
    PortRecording recording;
    PerModemLine<bool> live_lines{};
    RecordingAnalysis analysis{h.program().cfg, h.program().dialog, h.program().run_log};
    std::int32_t good_signals = -1;
    explicit Recording(const std::vector<std::int64_t>& ms, bool data = false) : program(h.program()) {
        program.cfg.rest_on_mode = data;
        program.cfg.switch_bounce_ms = 40;
        program.cfg.data_char = 'a';
        live_lines[ModemLine::Cts] = !data;
        recording.count = static_cast<std::int32_t>(ms.size());
        recording.line_states[ModemLine::Cts][0] = 'F';
        for (std::size_t j = 0; j < ms.size(); ++j) {
            recording.event_us[j] = 3000000 + ms[j] * 1000;  // the recording starts 3 s into the run
            recording.line_states[ModemLine::Cts][j + 1] = j % 2 ? 'F' : 'T';
            recording.line_states[ModemLine::Dsr][j + 1] = 'F';
        }
        program.screen.clear_window();
    }
    void analyse() { good_signals = analysis.analyse(recording, live_lines, 1, "COM3"); }
    const CalibrationResult& r(long J) const { return program.cfg.results[J - 1]; }
    bool logged(const std::string& line) const { return h.log().find(line + "\r\n") != std::string::npos; }
};

TEST(SignalAnalysis, CleanPulsesGiveIntervalsMeanAndExactReport) {
    Recording rec({0, 100, 400, 500, 800});
    rec.analyse();
    const double raw[] = {0, 0.1, 0.3, 0.1, 0.3};
    const double time[] = {0, 0.1, 0.4, 0.5, 0.8};
    for (long J = 1; J <= 5; ++J) {
        EXPECT_DOUBLE_EQ(rec.r(J).signal_gap_s, raw[J - 1]) << J;
        EXPECT_DOUBLE_EQ(rec.r(J).sensor_gap_s, raw[J - 1]) << J;
        EXPECT_DOUBLE_EQ(rec.r(J).signal_time_s, time[J - 1]) << J;
    }
    EXPECT_EQ(rec.good_signals, 5);
    EXPECT_EQ(rec.program.cfg.mean_signal_ms, 100);

    const Screen& s = rec.program.screen;
    EXPECT_TRUE(ScreenHas(s, 1, 1, "Prt:COM3 cts=T SIG_ON  :1 time: 0.0000 SIGgap: 0.0000 SENS_ON__gap: 0.0000 "));
    EXPECT_TRUE(ScreenHas(s, 2, 1, "Prt:COM3 cts=F SIG_OFF :1 time: 0.1000 SIGlen: 0.1000 SENS_OFF_len: 0.1000 "));
    EXPECT_TRUE(ScreenHas(s, 3, 1, "Prt:COM3 cts=T SIG_ON  :2 time: 0.4000 SIGgap: 0.3000 SENS_ON__gap: 0.3000 "));
    EXPECT_TRUE(ScreenHas(s, 6, 1, "Signal leng ave=100ms max= 100.0ms, max gap= 300.0ms "));
    EXPECT_TRUE(rec.logged("Prt:COM3 cts=F SIG_OFF :2 time: 0.5000 SIGlen: 0.1000 SENS_OFF_len: 0.1000"));
    EXPECT_TRUE(rec.logged("Signal leng ave=100ms max= 100.0ms, max gap= 300.0ms"));
    EXPECT_EQ(rec.h.log().find("interchanged"), std::string::npos);
}

TEST(SignalAnalysis, AShortGapJoinsTwoSignalsIntoOne) {
    Recording rec({0, 100, 120, 200, 500});
    rec.analyse();
    EXPECT_EQ(rec.good_signals, 3);
    EXPECT_DOUBLE_EQ(rec.r(2).sensor_gap_s, 0);
    EXPECT_DOUBLE_EQ(rec.r(3).sensor_gap_s, 0);
    EXPECT_NEAR(rec.r(4).sensor_gap_s, 0.2, 1e-12);
    EXPECT_NEAR(rec.r(3).signal_gap_s, 0.02, 1e-12);  // the raw interval is kept
    EXPECT_EQ(rec.program.cfg.mean_signal_ms, 90);      // (100 + 80) div 2: ignored signals count too
    EXPECT_TRUE(rec.logged("Prt:COM3 cts=F SIG_OFF :1 time: 0.1000 SIGlen: 0.1000 **DATA IGNORED**1"));
    EXPECT_TRUE(rec.logged("Prt:COM3 cts=T SIG_ON  :2 time: 0.1200 SIGgap: 0.0200 **DATA IGNORED**1"));
    EXPECT_TRUE(rec.logged("Prt:COM3 cts=F SIG_OFF :2 time: 0.2000 SIGlen: 0.0800 SENS_OFF_len: 0.2000"));
    EXPECT_TRUE(rec.logged("Signal leng ave=90ms max= 200.0ms, max gap= 300.0ms"));
}

TEST(SignalAnalysis, WholeMillisecondsAreTakenFromTheMicrosecondStamps) {
    // 290 ms as seconds is 0.28999..., which truncated after x1000 would lose
    // a millisecond.
    Recording rec({0, 290, 1000, 1290, 2000});
    rec.analyse();
    EXPECT_EQ(rec.program.cfg.mean_signal_ms, 290);
}

TEST(SignalAnalysis, ASensorOnAtTheStartIsReportedAndTheRingerMayGoOn) {
    // The first event switches the sensor off: the "signals" are the long gaps.
    Recording rec({0, 1920, 2000, 3920, 4000});
    rec.h.fp.console.type(" ");
    rec.analyse();
    const Screen& s = rec.program.screen;
    EXPECT_TRUE(ScreenHas(s, kScratchFirstLine, 1,
                          "Signal & interval appear interchanged (caused by signal set ON at start)", kYellow));
    EXPECT_TRUE(ScreenHas(s, kScratchFirstLine + 1, 1, "Press Q to Quit.  Then restart program", kYellow));
    EXPECT_TRUE(rec.logged("Signal & interval appear interchanged (caused by signal set ON at start) - asked to quit"));
    EXPECT_TRUE(rec.h.fp.console.keys.empty());  // the key was waited for
    EXPECT_EQ(rec.good_signals, 5);           // the results stand

    Recording quit({0, 1920, 2000, 3920, 4000});
    quit.h.fp.console.type("q");
    try {
        quit.analyse();
        FAIL() << "Q at the warning must end the program";
    } catch (const ProgramExit& e) {
        EXPECT_EQ(e.code, 0);
    }
}

TEST(SignalAnalysis, OneLongSignalWithoutAGapIsNoInterchange) {
    // A single ON/OFF sensor: on at handstroke, off at backstroke.
    Recording rec({0, 1500});
    rec.analyse();  // no key typed: a warning would stall here
    EXPECT_EQ(rec.h.log().find("interchanged"), std::string::npos);
    EXPECT_EQ(rec.program.cfg.mean_signal_ms, 1500);
}

TEST(SignalAnalysis, NoEventsGiveOnlyTheSummary) {
    Recording rec({});
    rec.program.cfg.mean_signal_ms = 55;
    rec.analyse();
    EXPECT_EQ(rec.program.cfg.mean_signal_ms, 0);
    EXPECT_EQ(rec.good_signals, 0);
    EXPECT_TRUE(ScreenHas(rec.program.screen, 1, 1, "Signal leng ave=0ms max=   0.0ms, max gap=   0.0ms"));
}

TEST(DataAnalysis, ADoubledCharacterFoldsIntoTheNextEvent) {
    Recording rec({0, 500, 510, 1000}, true);
    rec.program.cfg.mean_signal_ms = 77;
    rec.analyse();
    EXPECT_EQ(rec.good_signals, 3);
    EXPECT_DOUBLE_EQ(rec.r(3).sensor_gap_s, 0);
    EXPECT_NEAR(rec.r(4).sensor_gap_s, 0.5, 1e-12);
    EXPECT_NEAR(rec.r(4).signal_gap_s, 0.49, 1e-12);
    EXPECT_EQ(rec.program.cfg.mean_signal_ms, 77);  // data mode leaves it alone
    const Screen& s = rec.program.screen;
    EXPECT_TRUE(ScreenHas(s, 1, 1, "1 Port:COM3 input=\"a\" SIGNAL:1 time: 0.0000 SIGgap: 0.0000 SENSOR__gap: 0.0000 "));
    EXPECT_TRUE(ScreenHas(s, 3, 1, "1 Port:COM3 input=\"a\" SIGNAL:3 time: 0.5100 SIGgap: 0.0100 **DATA IGNORED**2 "));
    EXPECT_TRUE(ScreenHas(s, 4, 1, "1 Port:COM3 input=\"a\" SIGNAL:4 time: 1.0000 SIGgap: 0.4900 SENSOR__gap: 0.5000 "));
    EXPECT_TRUE(rec.logged("1 Port:COM3 input=\"a\" SIGNAL:2 time: 0.5000 SIGgap: 0.5000 SENSOR__gap: 0.5000"));
    EXPECT_EQ(count_of(rec.h.log(), "Signal leng ave="), 0);
}

TEST(DataAnalysis, ABounceOnTheLastEventFoldsIntoNothing) {
    Recording rec({0, 500, 520}, true);
    rec.analyse();
    EXPECT_EQ(rec.good_signals, 2);
    EXPECT_NEAR(rec.r(2).sensor_gap_s, 0.5, 1e-12);
    EXPECT_DOUBLE_EQ(rec.r(3).sensor_gap_s, 0);
    EXPECT_TRUE(rec.logged("1 Port:COM3 input=\"a\" SIGNAL:3 time: 0.5200 SIGgap: 0.0200 **DATA IGNORED**2"));
    EXPECT_TRUE(rec.logged("1 Port:COM3 input=\"a\" SIGNAL:2 time: 0.5000 SIGgap: 0.5000 SENSOR__gap: 0.5000"));
}

TEST(AnalysisTables, AFullRecordingIsAnalysedAndACountBeyondTheTablesIsNotReadPastThem) {
    std::vector<std::int64_t> ms;
    for (int j = 0; j < kMaxCalibrationEvents; ++j) ms.push_back(j * 100);
    Recording rec(ms, true);
    rec.analyse();
    EXPECT_NEAR(rec.r(kMaxCalibrationEvents).signal_time_s, 25.5, 1e-9);
    EXPECT_EQ(rec.good_signals, kMaxCalibrationEvents);

    rec.recording.count = 300;
    rec.analyse();  // the tables end at 256: nothing past them is read
    EXPECT_EQ(rec.good_signals, kMaxCalibrationEvents);
}

}  // namespace
}  // namespace qn::test
