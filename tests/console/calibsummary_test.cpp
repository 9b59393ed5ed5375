#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/calibsummary.h"
#include "ui/service_screen.h"
#include "fakes/fake_platform.h"

namespace qn::test {
namespace {

class CalibrationSummary : public ::testing::Test {
protected:
    void SetUp() override {
        program.screen.background_colour(kBlue);
        program.screen.text_colour(kWhite);
        program.console.clear(Area::LongScratch);
        program.cfg.sensor_count = 2;
        program.target.set_sensors_active(1);
        program.target.point(0) = SensingPoint{2, 'j', 380, 'j', 80};
        program.cfg.target_program = "Abel";
    }
    void signal(int i, double time, double gap, double sensorgap) {
        program.cfg.results[i - 1] = CalibrationResult{time, gap, sensorgap};
    }
    // The screen from line 9 on as the lines written, each line's wrapped
    // continuation joined to it; every cell written in white on blue.
    std::vector<std::string> written(const std::vector<int>& wrapped_lines = {}) {
        std::vector<std::string> out;
        for (int y = 9; y <= 25; ++y) {
            std::string t = program.screen.line_text(y);
            for (int x = 1; x <= 80; ++x) EXPECT_EQ(program.screen.at(y, x).bg, kBlue);
            bool continuation = std::find(wrapped_lines.begin(), wrapped_lines.end(), y) != wrapped_lines.end();
            if (continuation) {
                out.back() += t;
            } else {
                out.push_back(t);
            }
        }
        for (std::string& s : out) s.erase(s.find_last_not_of(' ') + 1);
        while (!out.empty() && out.back().empty()) out.pop_back();
        return out;
    }

    Harness h;
    Program& program = h.program();
};

TEST_F(CalibrationSummary, DataMode) {
    program.cfg.rest_on_mode = true;
    program.cfg.port_name = "COM3";
    program.cfg.data_char = 'A';
    program.cfg.signal_count = 2;
    signal(1, 0.0123, 0.5, 0.0);
    signal(2, 0.0201, 1.25, 0.6);
    write_current_calibration(program.screen, program.cfg, program.target, program.core.easy_mode);
    const std::vector<std::string> expected = {
        "Current calibration: Bell Sensor parameters - Total sensing points=2",
        "Using port COM3 using (Bagley) DATA, using input character A Total signals=2 for hand/backstroke pair",
        "Signal time= 0.0123 signalgap= 0.5000 sensorgap= 0.0000",
        "Signal time= 0.0201 signalgap= 1.2500 sensorgap= 0.6000",
        "Currently send keys to Abel window: Active sensing points=1",
        "Sensing point=2 handstroke:key=j delay=380 backstroke:key=j delay=80",
    };
    EXPECT_EQ(written({11}), expected);
    EXPECT_EQ(program.screen.at(9, 1).fg, kWhite);
}

TEST_F(CalibrationSummary, SignalsModeMarksIgnoredAndTooCloseSignals) {
    program.core.easy_mode = false;
    program.cfg.port_name = "COM4";
    program.cfg.use_line[ModemLine::Cts] = true;
    program.cfg.use_line[ModemLine::Cd] = true;
    program.cfg.switch_bounce_ms = 40;
    program.cfg.loop_sleep_ms = 5;
    program.cfg.signal_count = 5;
    signal(1, 0.0123, 0.5, 0.0);      // the first has no sensor gap: not ignored
    signal(2, 0.02, 0.03, 0.035);     // second of a pair, under 40 ms
    signal(3, 0.015, 0.2, 0.0);       // ignored
    signal(4, 0.01, 0.1, 0.05);
    signal(5, 0.01, 0.1, 0.02);       // odd: no warning
    program.cfg.target_program = "Open";
    program.target.set_sensors_active(2);
    program.target.point(1) = SensingPoint{1, 'h', 0, 'k', 120};
    write_current_calibration(program.screen, program.cfg, program.target, program.core.easy_mode);
    const std::vector<std::string> expected = {
        "Current calibration: Bell Sensor parameters - Total sensing points=2",
        "Using port COM4 using CTS CD switch bounce delay (ms)=40 sleep value=5",
        " Total signals=5 for hand/backstroke pair",
        "Signal time= 0.0123 signalgap= 0.5000 sensorgap= 0.0000",
        "Signal time= 0.0200 signalgap= 0.0300 sensorgap= 0.0350 WARNING<40ms may FAIL",
        "Signal time= 0.0150 signalgap= 0.2000 SIGNAL_IGNORED",
        "Signal time= 0.0100 signalgap= 0.1000 sensorgap= 0.0500",
        "Signal time= 0.0100 signalgap= 0.1000 sensorgap= 0.0200",
        "Currently Open - Send keys to any foreground window: Active sensing points=2",
        "Sensing point=2 handstroke:key=j delay=380 backstroke:key=j delay=80",
        "Sensing point=1 handstroke:key=h delay=0 backstroke:key=k delay=120",
    };
    EXPECT_EQ(written(), expected);
}

TEST_F(CalibrationSummary, EasyModeLeavesOutTheTimingsOnTheSameLine) {
    program.cfg.port_name = "COM1";
    program.cfg.use_line[ModemLine::Dsr] = true;
    program.cfg.use_line[ModemLine::Ri] = true;
    write_current_calibration(program.screen, program.cfg, program.target, program.core.easy_mode);
    EXPECT_EQ(written()[1], "Using port COM1 using DSR RI  Total signals=0 for hand/backstroke pair");
}

}  // namespace
}  // namespace qn::test
