#include <gtest/gtest.h>

#include "autoring/automatic_ringing.h"
#include "autoring/methodfile.h"
#include "autoring/touch_rows.h"
#include "service/program.h"
#include "fakes/fake_platform.h"
#include "keyout/menus.h"

namespace qn {
namespace {

using test::Harness;
using test::lines;

std::string rounds_rows(int n, int rows) {
    return lines(std::vector<std::string>(static_cast<std::size_t>(rows), std::string("1234567890ET").substr(0, n)));
}

const std::string P6 = "123456123456";  // a whole pull of rounds on six, every bell rung

// Automatic ringing just switched on after a set-up, on the fake clock.
struct Ringer {
    Ringer(int bells, const std::string& file, const std::string& mask, int target = 2) {
        Program& program = h.program();
        program.target.take(target);
        program.key_sender->set_focus(true);
        TouchReader reader(program.autoring->touch(), program.run_log, program.dialog, bells);
        loaded = reader.load_method_file(file);
        // The speed whose beat is 329 ms.
        const std::int32_t minutes = (329 * 42 * (2 * reader.bells() + 1) + 999) / 1000;
        a().set_up(reader.bells(), mask, minutes);
        a().rewind_for_first_start();
        a().toggle();
    }
    // The first pass: it sends "l" and waits four seconds before the clock runs.
    char start() { return run_ms(1); }
    // One pass of the main loop every millisecond; stops at a command "A".
    char run_ms(long ms) {
        for (long t = 0; t < ms; ++t) {
            if (char r = step()) return r;
            h.fp.clock.advance_ms(1);
        }
        return '\0';
    }
    std::string typed() const { return h.fp.keyboard.typed(); }
    std::int64_t key_ms(std::size_t i) const { return h.fp.keyboard.sent.at(i).time_us / 1000; }
    char step() { return a().step(h.program().key_sender->has_focus()); }
    AutoRinger& a() { return h.program().autoring->ringer(); }
    Touch& t() { return h.program().autoring->touch(); }

    Harness h;
    bool loaded = false;
};

// ---- the beat clock ----------------------------------------------------------------

TEST(AutoringDriverBeats, APullOnSixIsThirteenBeatsWithTheLastSilent) {
    Ringer r(6, rounds_rows(6, 24), "123456      ");
    ASSERT_TRUE(r.loaded);
    EXPECT_EQ(r.start(), '\0');
    EXPECT_EQ(r.run_ms(329 * 14 + 5), '\0');
    EXPECT_EQ(r.typed(), "L" + P6 + "1");
    EXPECT_EQ(r.key_ms(0), 0);
    for (std::size_t beat = 1; beat <= 12; ++beat) EXPECT_EQ(r.key_ms(beat), 4000 + 329 * beat + 1) << beat;
    EXPECT_EQ(r.key_ms(13), 4000 + 329 * 14 + 1);  // beat 13 loaded the next pull
    EXPECT_EQ(r.h.fp.threads.slept_ms(), 4000);
    EXPECT_NE(r.h.log().find("123456123456 calls ( ) ( )\r\n"), std::string::npos);
}

TEST(AutoringDriverBeats, TheUsersBellsAreSilentButTheirBeatsPass) {
    Ringer r(6, rounds_rows(6, 24), " 23456      ");
    r.start();
    r.run_ms(329 * 13 + 5);
    EXPECT_EQ(r.typed(), "L2345623456");
    EXPECT_EQ(r.key_ms(1), 4000 + 329 * 2 + 1);
    EXPECT_EQ(r.key_ms(6), 4000 + 329 * 8 + 1);
}

TEST(AutoringDriverBeats, TheBandsBellsAreLeftToItsRingersWhateverTheMarks) {
    struct Row {
        std::set<std::int32_t> band;
        const char* mask;
        const char* keys;
    };
    for (const Row& row : {Row{{1, 2, 3, 4}, "123456      ", "    56    56"}, Row{{2, 5}, "123456      ", "1 34 61 34 6"},
                           Row{{}, " 23456      ", " 23456 23456"}}) {
        Ringer r(6, rounds_rows(6, 24), row.mask);
        r.a().leave_to_band(row.band);
        r.start();
        r.run_ms(329 * 13 + 5);
        std::string rung = row.keys;
        std::erase(rung, ' ');
        EXPECT_EQ(r.typed(), "L" + rung) << row.mask;
        EXPECT_EQ(r.a().double_row_keys(), row.keys) << row.mask;
    }
}

TEST(AutoringDriverBeats, BeatsMissedWithoutTheFocusAreMadeUpOneAPass) {
    Ringer r(6, rounds_rows(6, 60), "123456      ");
    r.start();
    // Ring on to the handstroke gap of the first pull.
    while (!(r.a().key_count() == 0 && r.typed().size() == 1 + 12)) r.run_ms(1);
    const std::int64_t timer = r.a().due_ms();
    const std::size_t keys = r.typed().size();

    r.h.program().key_sender->set_focus(false);
    r.run_ms(2000);
    EXPECT_EQ(r.typed().size(), keys);
    r.h.program().key_sender->set_focus(true);
    for (int pass = 0; pass < 10; ++pass) r.step();  // the clock stands still
    EXPECT_EQ(r.a().due_ms(), timer + 6 * 329);
    EXPECT_EQ(r.typed().substr(keys), "123456");
    EXPECT_EQ(r.key_ms(keys), r.key_ms(keys + 5));
}

TEST(AutoringDriverBeats, NothingHappensWithoutTheFocusOrWhenSwitchedOff) {
    Ringer r(6, rounds_rows(6, 24), "123456      ");
    r.h.program().key_sender->set_focus(false);
    const std::int32_t rows = r.t().row_count;
    r.t().row_count = kFirstRow - 3;  // the ringer stands at the end of the rows
    EXPECT_EQ(r.run_ms(1000), '\0');
    r.h.program().key_sender->set_focus(true);
    r.a().stop();
    EXPECT_EQ(r.step(), 'A');  // the end of the rows, even when off
    r.t().row_count = rows;
    EXPECT_EQ(r.run_ms(1000), '\0');
    EXPECT_EQ(r.typed(), "");
    EXPECT_TRUE(r.a().first_ring());
}

// ---- calls and the end of the touch ------------------------------------------------

TEST(AutoringDriverCalls, CallsGoOutBeforeTheirRowsAndTheTouchEndsInRounds) {
    Ringer r(6, rounds_rows(6, 12), "123456      ");
    ASSERT_EQ(r.t().row_count, 16);
    r.t().row(4).call = 'b';  // handstroke: sent as pull (2,3) is loaded
    r.t().row(7).call = 'n';  // backstroke: sent before the last stroke of row 4
    EXPECT_EQ(r.run_ms(60000), 'A');
    // "g" on row 2, "h" on row 13, "t" on row 16; call letters go out unshifted.
    EXPECT_EQ(r.typed(), "L" + P6 + P6 + P6 + "G" + P6 + "B" + P6 + "12345N6123456" + P6 + P6 + "12345H6123456" + P6 +
                             "T" + P6);
    const std::string log = r.h.log();
    EXPECT_NE(log.find("rown+24 "), std::string::npos);
    EXPECT_NE(log.find("half rown+17 "), std::string::npos);
    EXPECT_NE(log.find("rown+216 "), std::string::npos);
    EXPECT_EQ(log.find("sent=t"), std::string::npos);  // calls are not logged as bells
}

TEST(AutoringDriverCalls, ElevenAndTwelveAreMinusAndEqualsOnlyForRingingRoom) {
    for (int target : {1, 2, 3, 0, 8}) {
        Ringer r(12, rounds_rows(12, 24), "1234567890ET", target);
        r.start();
        r.run_ms(329 * 13);
        const bool rr = target >= 1 && target <= 3;
        EXPECT_EQ(r.typed(), rr ? "L1234567890-=" : "L1234567890ET") << target;
        EXPECT_NE(r.h.log().find("sent=E\r\nsent=T\r\n"), std::string::npos) << target;
    }
}

// ---- rows that do not fit ------------------------------------------------------------

TEST(AutoringDriverRows, RowsLongerThanTheBellsStopTheFirstStartWithAMessage) {
    Ringer r(6, rounds_rows(8, 24), "123456      ");
    ASSERT_TRUE(r.loaded);
    EXPECT_EQ(r.step(), 'A');
    const std::string msg = "Length of rows does not match number of bells - turning off autokeypress";
    EXPECT_NE(r.h.log().find(msg + "\r\n"), std::string::npos);
    std::string screen;
    for (int line = 1; line <= Screen::kRows; ++line) screen += r.h.program().screen.line_text(line);
    EXPECT_NE(screen.find(msg), std::string::npos);
    EXPECT_EQ(r.typed(), "");
    EXPECT_EQ(r.a().double_row_keys(), "");
    EXPECT_EQ(r.a().row(), -6);
}

TEST(AutoringDriverRows, SymbolsThatAreNoBellOrBeyondTheMaskAreNotRung) {
    // A non-Ringing-Room mask has N places: here only bell 1 is rung.
    Ringer r(6, rounds_rows(6, 12), "j     ", 8);
    for (TouchRow& row : r.t().rows) row.bells = "1xE?D6";
    r.start();
    r.run_ms(329 * 13);
    EXPECT_EQ(r.typed(), "L11");
    EXPECT_EQ(r.a().double_row_keys(), "1     1     ");
}

TEST(AutoringDriverRows, BellSymbolsReadBackToTheirNumbers) {
    const std::string symbols = "1234567890ETABCD";
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        EXPECT_EQ(bell_number(symbols[i]), static_cast<std::int32_t>(i + 1));
        EXPECT_EQ(bell_symbol(static_cast<std::int32_t>(i + 1)), symbols[i]);
    }
    for (char ch : std::string("e t a x-= "))
        EXPECT_EQ(bell_number(ch), 0) << ch;
}

}  // namespace
}  // namespace qn
