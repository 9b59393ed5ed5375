#include <gtest/gtest.h>

#include <string>

#include "ui/service_screen.h"
#include "fakes/fake_platform.h"
#include "ui/big_counter.h"
#include "ui/monitor_region.h"

namespace qn::test {
namespace {

class BigNumber : public ::testing::Test {
protected:
    void SetUp() override {
        program.screen.background_colour(kBlue);
        program.screen.text_colour(kWhite);
        program.screen.clear_window();
        program.cfg.target_program = "Abel";
        program.target.take(8);
    }

    // text at screen line/column, every cell in colour fg on blue.
    void expect_text(int line, int col, const std::string& text, std::uint8_t fg) {
        EXPECT_EQ(program.screen.text(line, col, static_cast<int>(text.size())), text) << "line " << line << " col " << col;
        for (int i = 0; i < static_cast<int>(text.size()); ++i) {
            EXPECT_EQ(program.screen.at(line, col + i).fg, fg) << "line " << line << " col " << col + i;
            EXPECT_EQ(program.screen.at(line, col + i).bg, kBlue) << "line " << line << " col " << col + i;
        }
    }
    bool glyph_at(int col, int digit) {
        for (int r = 1; r <= 18; ++r)
            if (program.screen.text(r, col, 19) != program.big_digits.row(digit, r - 1)) return false;
        return true;
    }
    bool blank(int line1, int line2, int col1, int col2) {
        for (int y = line1; y <= line2; ++y)
            if (program.screen.text(y, col1, col2 - col1 + 1) != std::string(static_cast<std::size_t>(col2 - col1 + 1), ' '))
                return false;
        return true;
    }
    // The state at the start of a touch: the digit memory forgotten.
    void start_touch() { counter().touch_started({}); }
    BigCounter& counter() { return *program.big_counter; }

    Harness h;
    Program& program = h.program();
};

TEST_F(BigNumber, GlyphsAreFullWidthAndTheNineStandsStraight) {
    for (int d = 0; d <= 9; ++d) {
        for (int r = 0; r < 18; ++r) EXPECT_EQ(program.big_digits.row(d, r).size(), 19u) << d << " row " << r;
        EXPECT_EQ(program.big_digits.joined(d).size(), 342u);
    }
    EXPECT_EQ(program.big_digits.row(1, 0), "        ***        ");
    EXPECT_EQ(program.big_digits.row(4, 10), " ***************** ");
    EXPECT_EQ(program.big_digits.row(0, 2), "    ***    ***     ");
    // Drawn, the bottom of the 9 sits at its tabled columns, not shifted.
    draw_glyph(program.screen, program.big_digits.joined(9), 61, 1);
    EXPECT_EQ(program.screen.text(16, 61, 19), "  ****      ****   ");
    EXPECT_EQ(program.screen.text(17, 61, 19), "    ***********    ");
    EXPECT_EQ(program.screen.text(18, 61, 19), "      ********     ");
    EXPECT_EQ(program.screen.win_top(), 1);  // back on the whole screen
    EXPECT_EQ(program.screen.win_bottom(), 25);
}

TEST_F(BigNumber, LeadingZerosStayBlank) {
    start_touch();
    counter().draw(7);
    EXPECT_TRUE(glyph_at(61, 7));
    EXPECT_TRUE(blank(1, 18, 1, 60));
    EXPECT_TRUE(blank(1, 18, 80, 80));
    EXPECT_EQ(program.screen.at(5, 62).fg, kWhite);

    program.screen.clear_window();
    start_touch();
    counter().draw(999);
    counter().draw(1000);
    EXPECT_TRUE(glyph_at(1, 1));
    EXPECT_TRUE(glyph_at(21, 0));
    EXPECT_TRUE(glyph_at(41, 0));
    EXPECT_TRUE(glyph_at(61, 0));
}

TEST_F(BigNumber, OnlyChangedHigherDigitsAreRedrawn) {
    start_touch();
    counter().draw(1099);
    // Spoil the thousands glyph: it must not be drawn again for 1100.
    program.screen.window(1, 1, 19, 19);
    program.screen.write(std::string(19 * 18, 'X'));
    program.console.select(Area::Full);
    counter().draw(1100);
    EXPECT_EQ(program.screen.text(1, 1, 19), std::string(19, 'X'));
    EXPECT_EQ(program.screen.text(18, 1, 19), std::string(19, 'X'));
    EXPECT_TRUE(glyph_at(21, 1));
    EXPECT_TRUE(glyph_at(41, 0));
    EXPECT_TRUE(glyph_at(61, 0));
    EXPECT_EQ(counter().shown(3), 1);
    EXPECT_EQ(counter().shown(2), 1);
    EXPECT_EQ(counter().shown(1), 0);
}

TEST_F(BigNumber, CountsFromTenThousandKeepAllFourDigits) {
    start_touch();
    counter().draw(9999);
    counter().draw(10000);  // no 9 may be left standing
    for (int col : {1, 21, 41, 61}) EXPECT_TRUE(glyph_at(col, 0)) << col;
    counter().draw(10001);
    EXPECT_TRUE(glyph_at(61, 1));
    EXPECT_TRUE(glyph_at(1, 0));
}

TEST_F(BigNumber, RepaintDrawsEveryShownDigitAndTheHint) {
    ring_rows(program, 123);
    counter().draw(123);  // already drawn: a repaint draws them anyway
    program.screen.write(std::string(80 * 18, '#'));
    program.service_screen->repaint_big_counter();
    EXPECT_TRUE(blank(1, 18, 1, 20));
    EXPECT_TRUE(glyph_at(21, 1));
    EXPECT_TRUE(glyph_at(41, 2));
    EXPECT_TRUE(glyph_at(61, 3));
    expect_text(21, 1, "N Toggle big numbers: in-service calibration menu, when Big Numbers OFF. Q=Quit", kWhite);
}

TEST_F(BigNumber, ElapsedTimeIsPlainHoursMinutesSeconds) {
    EXPECT_EQ(elapsed_text(0), "0:0:0");
    EXPECT_EQ(elapsed_text(-4000), "0:0:0");
    EXPECT_EQ(elapsed_text(3907999), "1:5:7");
    EXPECT_EQ(elapsed_text(5400000), "1:30:0");
}

// ---- the in-service update ------------------------------------------------

class ServiceScreen : public BigNumber {
protected:
    // The counter at rows (counted on from where it is, or from 0 when
    // lower) and the screen updated at ms.
    void update_at(std::int64_t ms, std::int32_t rows) {
        h.fp.clock.set_us(ms * 1000);
        if (rows < program.strikes->rows().rows()) program.strikes->rows().zero();
        ring_rows(program, rows - program.strikes->rows().rows());
        program.service_screen->update();
    }
    // The smoothed update time at ms, as a run of updates would leave it.
    void set_update_ms(std::int32_t ms) {
        program.monitor->draw_update_time(0);
        program.monitor->draw_update_time(10 * ms - 9 * program.monitor->update_ms());
    }
};

TEST_F(ServiceScreen, FirstDrawingShowsMenuAndCalibrationThenMonitorLabels) {
    program.cfg.sensor_count = 2;
    program.service_screen->show();
    EXPECT_EQ(program.strikes->rows().rows(), 0);
    expect_text(1, 1, "Quennick v0.8.2d3 (04 Jan 2021) ", kWhite);
    expect_text(2, 1, "[C] PERMANENT Changes", kYellow);
    expect_text(9, 1, "Current calibration: Bell Sensor parameters - Total sensing points=2", kWhite);

    program.strike_report.events_clashed({3, 0});
    update_at(1000, 1);
    expect_text(1, 1, "Quennick", kWhite);  // the menu stays
    EXPECT_TRUE(blank(9, 21, 1, 80));
    expect_text(22, 1, "Row count =    1", kWhite);
    expect_text(23, 1, "Duration=0:0:0", kWhite);
    expect_text(24, 1, "Peal speed=0:  0", kWhite);
    expect_text(25, 1, "QA=    SkipSend=3", kWhite);
    expect_text(22, 20, "Ave sensorinterval=    ms Space ratio Min=      Max=", kWhite);
    expect_text(23, 20, "Spurious", kWhite);
    expect_text(24, 20, "Missed  ", kWhite);
    expect_text(25, 20, "Good    ", kWhite);
}

TEST_F(ServiceScreen, FiguresAfterAnHourAndAHalf) {
    update_at(1000, 1);
    update_at(1000 + 5400000, 2521);
    expect_text(22, 1, "Row count = 2521", kWhite);
    expect_text(23, 1, "Duration=1:30:0 ", kWhite);
    expect_text(24, 1, "Peal speed=3:  0", kWhite);
    expect_text(25, 1, "QA=", kWhite);
    expect_text(25, 4, " 20", kGreen);  // the first update shows 20 whatever it took
    EXPECT_EQ(program.monitor->update_ms(), 20);
    EXPECT_TRUE(blank(1, 8, 1, 80));  // big numbers off: no glyphs
}

TEST_F(ServiceScreen, ShorterFiguresLeaveNothingBehind) {
    update_at(0, 1);
    update_at(59000, 30);
    expect_text(23, 10, "0:0:59", kWhite);
    update_at(60000, 31);
    expect_text(23, 10, "0:1:0     ", kWhite);
    expect_text(23, 20, "Spurious", kWhite);
    // One row in ten minutes is an 840-hour peal; then the count moves on.
    update_at(600000, 1);
    update_at(1200000, 2);
    expect_text(24, 12, "840:  0 ", kWhite);
    update_at(1203000, 2000);
    expect_text(24, 12, "0: 25   ", kWhite);
    expect_text(24, 20, "Missed  ", kWhite);
}

TEST_F(ServiceScreen, DrawingTimeColours) {
    update_at(0, 1);
    // Nothing moves the fake clock while drawing, so each update takes 0 ms
    // and the figure becomes 9/10 of the one before.
    const struct { std::int32_t before, shown; std::uint8_t colour; } cases[] = {
        {23, 20, kGreen}, {24, 21, kYellow}, {45, 40, kYellow}, {46, 41, kRed}};
    std::int32_t n = 2;
    for (const auto& k : cases) {
        set_update_ms(k.before);
        update_at(1000, n++);
        EXPECT_EQ(program.monitor->update_ms(), k.shown);
        expect_text(25, 4, " " + std::to_string(k.shown), k.colour);
        EXPECT_EQ(program.screen.text_colour(), kWhite);
    }
}

TEST_F(ServiceScreen, BigNumbersFollowTheCount) {
    program.cfg.big_numbers = true;
    update_at(0, 1);
    EXPECT_TRUE(glyph_at(61, 1));
    expect_text(21, 1, "N Toggle big numbers", kWhite);
    update_at(500, 2);
    EXPECT_TRUE(glyph_at(61, 2));
    EXPECT_TRUE(blank(1, 18, 1, 60));
    for (std::int32_t n = 3; n <= 12; ++n) update_at(500 * n, n);
    EXPECT_TRUE(glyph_at(41, 1));
    EXPECT_TRUE(glyph_at(61, 2));
    expect_text(22, 13, "  12", kWhite);
}

TEST_F(ServiceScreen, RepaintRequestRedrawsCounterOrMenu) {
    update_at(0, 1);
    program.service_screen->mark_stale();
    update_at(1000, 5);  // big numbers off: the menu comes back
    EXPECT_FALSE(program.service_screen->stale());
    expect_text(1, 1, "Quennick", kWhite);

    program.cfg.big_numbers = true;
    program.service_screen->write_menu();  // a command key drew the menu over the counter
    program.service_screen->mark_stale();
    update_at(2000, 56);
    EXPECT_TRUE(glyph_at(41, 5));
    EXPECT_TRUE(glyph_at(61, 6));
    EXPECT_TRUE(blank(1, 18, 1, 40));
}

TEST_F(ServiceScreen, NothingIsDrawnWithoutTheFocus) {
    update_at(0, 1);
    program.key_sender->set_focus(false);
    const auto before = program.screen.version();
    update_at(5000, 9);
    EXPECT_EQ(program.screen.version(), before);
}

// ---- menu and start-up text ------------------------------------------------

TEST_F(BigNumber, MenuLastLineNamesTheTarget) {
    program.service_screen->write_menu();
    expect_text(1, 1, "Quennick v0.8.2d3 (04 Jan 2021) ", kWhite);
    expect_text(2, 1, "[C] PERMANENT Changes to program configuration. Adjustments for THIS session:", kYellow);
    expect_text(3, 1, "[P] Choose target program         [N] Big row counter display numbers toggle", kYellow);
    expect_text(4, 1, "[+/-/</>] Increase/decrease key delay [H/B] Set bell state as Hand/Backstroke", kYellow);
    expect_text(5, 1, "[0] (zero) Zero row counter (zeros automatically after ringing pause)", kYellow);
    expect_text(6, 1, "[Z,A] configure (Z) Automatic ringing setup [A] toggle (Ringing Room only)", kYellow);
    expect_text(7, 1, "[Q] Quit. Target program=Abel", kYellow);
    EXPECT_EQ(program.screen.text(7, 30, 51), std::string(51, ' '));
    EXPECT_EQ(program.screen.win_bottom(), 25);
    EXPECT_EQ(program.screen.text_colour(), kWhite);

    program.cfg.target_program = "Open";
    program.target.take(0);
    program.service_screen->write_menu();
    expect_text(7, 1, "[Q] Quit. WARNING \"Open\" setting sends keys to **ANY foreground window!**", kYellow);

    program.cfg.target_program = "Ringing Room - any browser with focus";
    program.target.take(1);
    program.service_screen->write_menu();
    const std::string must =
        "[Q] Quit. Target program=Ringing Room - any browser with focus *MUST* be the foreground window!";
    expect_text(7, 1, must.substr(0, 80), kYellow);
    expect_text(8, 1, must.substr(80), kYellow);
}

TEST_F(BigNumber, StartupText) {
    program.screen.window(1, 9, 80, 25);
    write_startup_text(program.screen);
    expect_text(9, 1, "Quennick v0.8.2d3 (04 Jan 2021) ", kYellow);
    expect_text(10, 1, "This uses the same bell sensor data as used by Abel, Beltower etc.", kWhite);
    expect_text(11, 1, "for individual sensors.  This version can use Bagley box output (ASCII chars)", kWhite);
    expect_text(12, 1, "It self calibrates by detecting the sensor signals from a handstroke and ", kWhite);
    expect_text(13, 1, "backstroke pull, then saves the settings.", kWhite);
    expect_text(14, 1, "In use it counts the bell blows and displays them on screen, with speed", kWhite);
    expect_text(15, 1, "In use there is an option to ring some bells automatically in rounds", kWhite);
    const std::string warning =
        "WARNING: On Windows 10 (especially) if keystrokes are not sent to the target program, this interface "
        "program must be \"Run as administrator\"";
    expect_text(16, 1, warning.substr(0, 80), kWhite);
    expect_text(17, 1, warning.substr(80), kWhite);
    EXPECT_EQ(program.screen.cursor_line(), 18);
}

}  // namespace
}  // namespace qn::test
