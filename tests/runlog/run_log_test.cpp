#include <gtest/gtest.h>

#include <thread>

#include "ui/service_screen.h"
#include "core/timing.h"
#include "fakes/fake_platform.h"
#include "serial/serial_thread.h"
#include "runlog/strike_log.h"
#include "runlog/run_log_start.h"

namespace qn::test {
namespace {

const std::string kName = "logs/Quennick_v0.8.2d3_(04_Jan_2021)_2026-12-08_04_45_00";

void start_run_log(Harness& h) {
    qn::start_run_log(h.program().run_log, h.fp.files, h.program().screen, h.program().core.folders.logs);
}

TEST(RunLogFile, NameFirstLineAndStandardError) {
    Harness h;
    h.fp.files.dirs.clear();
    start_run_log(h);
    EXPECT_TRUE(h.fp.files.dirs.count("logs"));
    EXPECT_EQ(h.program().run_log.name(), kName);
    EXPECT_EQ(h.fp.files.stderr_path, kName + ".log");
    h.program().run_log.flush();
    EXPECT_EQ(h.fp.files.files[kName + ".log"],
              "Quennick_v0.8.2d3_(04_Jan_2021)_ Error log run date and time = 2026-12-08 04:45:00\r\n");
}

TEST(RunLogFile, OnlyBlanksSlashesAndColonsAreReplaced) {
    Harness h;
    h.fp.files.date_time = {"08.12.2026", "04.45.00"};
    start_run_log(h);
    EXPECT_EQ(h.program().run_log.name(), "logs/Quennick_v0.8.2d3_(04_Jan_2021)_08.12.2026_04.45.00");
}

TEST(RunLogFile, ASecondRunInTheSameSecondKeepsTheFirstLog) {
    Harness h;
    h.fp.files.files[kName + ".log"] = "first run";
    h.fp.files.files[kName + "_2.log"] = "second run";
    start_run_log(h);
    EXPECT_EQ(h.program().run_log.name(), kName + "_3");
    EXPECT_EQ(h.fp.files.files[kName + ".log"], "first run");
    EXPECT_EQ(h.fp.files.files[kName + "_2.log"], "second run");
}

TEST(RunLogFile, AFolderThatRefusesTheFileLeavesTheRunGoingWithoutALog) {
    Harness h;
    h.fp.files.read_only_dirs.insert("logs");
    start_run_log(h);
    EXPECT_FALSE(h.program().run_log.is_open());
    EXPECT_EQ(h.program().screen.text(1, 1, 21), "No run log this time:");
    h.program().run_log.write_line("goes nowhere, harmlessly");
    // In service the menu says it for as long as the run lasts.
    h.program().service_screen->write_menu();
    EXPECT_TRUE(ScreenHas(h.program().screen, 8, 1, "No run log this time: ", kYellow)) << h.program().screen.line_text(8);
}

// A disk that fills while the log is written: the log stops at the first
// failed write, the screen says so once, on one line, and whatever was being
// drawn carries on where it was.
TEST(RunLogFile, AFullDiskStopsTheLogWithOneMessage) {
    Harness h;
    Program& program = h.program();
    h.fp.files.fail_writes_after = 300;
    start_run_log(h);
    program.screen.window(1, 22, 80, 25);
    program.screen.move_to(5, 2);
    program.screen.text_colour(kLightGray);
    for (int i = 0; i < 40; ++i) program.run_log.write_line("line " + std::to_string(i) + " of a touch's event log");
    program.run_log.flush();
    EXPECT_TRUE(program.run_log.stopped());
    const std::string file = h.fp.files.files[kName + ".log"];
    EXPECT_LE(file.size(), 300u);
    EXPECT_EQ(file.substr(file.size() - 2), "\r\n");  // no line is cut
    EXPECT_TRUE(ScreenHas(program.screen, 8, 1, "Run log stopped, ringing goes on: There is not enough space on the disk",
                          kYellow));
    EXPECT_EQ(program.screen.win_top(), 22);
    EXPECT_EQ(program.screen.cursor_x(), 5);
    EXPECT_EQ(program.screen.cursor_y(), 2);
    EXPECT_EQ(program.screen.text_colour(), kLightGray);
    // Said once: cleared, the line stays clear however much more is logged;
    // the service menu, drawn again, keeps the notice under it.
    program.console.select(Area::Full);
    program.screen.clear_window();
    for (int i = 0; i < 40; ++i) program.run_log.write_line("more");
    EXPECT_EQ(program.screen.line_text(8), std::string(80, ' '));
    program.service_screen->write_menu();
    EXPECT_TRUE(ScreenHas(program.screen, 8, 1, "Run log stopped, ringing goes on: There is not enough space on the disk",
                          kYellow));
}

// The serial thread logs too; a failure it meets is told on the main thread,
// at its next use of the log, never from the thread itself.
TEST(RunLogFile, AFailureOnTheSerialThreadIsToldOnTheMainThread) {
    Harness h;
    Program& program = h.program();
    h.fp.files.fail_writes_after = 120;
    start_run_log(h);
    std::thread serial([&program] {
        for (int i = 0; i < 10; ++i) program.run_log.write_line("waitcommevent call failed");
    });
    serial.join();
    EXPECT_TRUE(program.run_log.stopped());
    EXPECT_EQ(program.screen.line_text(8), std::string(80, ' '));
    program.run_log.write_line("noutputtime=1");
    EXPECT_TRUE(ScreenHas(program.screen, 8, 1, "Run log stopped, ringing goes on: "));
}

TEST(MonitorLines, Formats) {
    Harness h;
    Program& program = h.program();
    program.strike_report.signal_taken({1039999, 1000000, 40, true, 0});  // 39 ms on
    program.strike_report.signal_taken({1080500, 1000000, 40, false, 0});  // 80 ms on
    program.strike_report.signal_taken({1080500, 1000000, 40, false, 1});
    EXPECT_EQ(h.log(),
              "Sig_OFF, dataok=FALSE thiseventtime(ms)/ signalpulselength(ms)/pulselength lengthsafe?1039\t39\tFALSE\r\n"
              "Sig_ON , dataok=TRUE thiseventtime(ms)/ interval(ms)1080\t80\r\n"
              "Signal=1 dataok=TRUE thiseventtime(ms)/ interval(ms)1080\t80\r\n");
}

// A ring with n recorded events, event k at time 1000 k and word k.
static void fill_ring(Program& program, int n, EventShape second = EventShape::Normal) {
    EventRing& ring = program.event_ring;
    ring.begin({5, 0, EventShape::Startup});
    for (int k = 1; k <= n; ++k) {
        ring.next() = {1000 * k, static_cast<std::uint32_t>(k), k == 2 ? second : EventShape::Normal};
        ring.publish();
    }
}

TEST(EventLog, ThreeSectionsByteForByte) {
    Harness h;
    Program& program = h.program();
    fill_ring(program, 2, EventShape::Short);
    program.event_ring.omit({1500, 16, EventShape::Interference});
    program.target.set_sensors_active(2);
    program.strikes->keys().record(0, 1000000);
    program.strikes->keys().record(1, 3250000);
    program.strikes->keys().note_doubled(true);
    program.strikes->log_touch(TouchEnd::PortLost);
    EXPECT_EQ(h.log(),
              "COM port thread data\r\n"
              "row\ttime\ttimediff\tsignal\tcomment\r\n"
              "0\t5\t\t0\tstartup\r\n"
              "1\t1000\t995\t1\t\r\n"
              "2\t2000\t1000\t2\tshortsignal\r\n"
              "COM port thread data rejections\r\n"
              "row\ttime\tBLANK\tsignal\tcomment\r\n"
              "1\t1500\t\t16\tshortsignal - presumed interference - OMITTED\r\n"
              "Processed sensor data\r\n"
              "row\twhich_sensor\tCOM_event_time_secs\t\tDoubled_key_sent?\r\n"
              "1\t1\t    0.0000\r\n"
              "2\t2\t    2.2500\t*doubled_key_sent*\r\n");
    EXPECT_EQ(program.strike_log->event_log_mark(), 3);
}

TEST(EventLog, DataModeOneSensorAndNoRecords) {
    Harness h;
    Program& program = h.program();
    program.cfg.rest_on_mode = true;
    program.target.set_sensors_active(1);
    program.strikes->log_touch(TouchEnd::PortLost);
    EXPECT_EQ(h.log(),
              "Processed sensor data\r\n"
              "row\tCOM_event_time_secs\t\tDoubled_key_sent?\r\n");
}

TEST(EventLog, AfterSevenHundredEventsWrappedSlotsAreReadAndOverwrittenOnesSkipped) {
    Harness h;
    Program& program = h.program();
    program.cfg.rest_on_mode = false;
    program.strikes->log_touch(TouchEnd::PortLost);  // the start status logged: the next log starts at event 1
    fill_ring(program, 700);
    program.strikes->log_touch(TouchEnd::PortLost);
    std::string log = h.log();
    EXPECT_NE(log.find("\r\n512\t512000\t1000\t512\t\r\n"), std::string::npos);
    EXPECT_NE(log.find("\r\n513\t513000\t1000\t513\t\r\n"), std::string::npos);
    EXPECT_NE(log.find("\r\n700\t700000\t1000\t700\t\r\n"), std::string::npos);
    // Event 100's slot now holds event 612: it is not printed as event 100.
    EXPECT_EQ(log.find("\r\n100\t"), std::string::npos);
    EXPECT_NE(log.find("NB 189 earlier events were overwritten before this log"), std::string::npos);
    EXPECT_EQ(program.strike_log->event_log_mark(), 701);
}

TEST(EventLog, AFullOmittedListSaysSo) {
    Harness h;
    Program& program = h.program();
    program.cfg.rest_on_mode = true;
    for (int k = 0; k < kEventRingSize; ++k) program.event_ring.omit({});
    program.strikes->log_touch(TouchEnd::PortLost);
    EXPECT_NE(h.log().find("512\t0\t\t0\t\r\nNBBuffer got full, might have been more\r\n"), std::string::npos);
}

}  // namespace
}  // namespace qn::test
