// The simulated ringer reads the screen as a person would: it answers the
// question last written, once, rings a whole pull before the key, and in
// service leaves the keyboard to the person.
#include <gtest/gtest.h>

#include "console/screen.h"
#include "sim/ringer.h"

namespace qn::sim {
namespace {

using platform::sim::SimBell;
using platform::sim::StrikeKind;
using platform::sim::VirtualTime;
using Prompt = SimRinger::Prompt;

struct RingerWorld {
    explicit RingerWorld(RingerConfig cfg = {}) : bell(time, platform::sim::BellConfig{}), ringer(time, bell, screen, cfg) {
        time.adopt_current_thread();
    }
    ~RingerWorld() { time.stop(); }

    // Looks at the keyboard every millisecond, as the program's key loops
    // do, until a key comes (returned) or `for_us` passes (-1).
    int next_key(std::int64_t for_us) {
        const std::int64_t end = time.now_locked() + for_us;
        while (time.now_locked() < end) {
            ringer.poll();
            if (ringer.key_ready()) return ringer.take_key();
            time.sleep_us(1000);
        }
        return -1;
    }
    std::string keys_for(std::int64_t for_us) {
        std::string out;
        for (int k; (k = next_key(for_us)) >= 0;) out += static_cast<char>(k);
        return out;
    }
    std::size_t strikes() {
        std::lock_guard<std::mutex> g(time.mutex());
        return bell.strikes_until(time.now_us()).size();
    }
    std::int64_t last_change() {
        std::lock_guard<std::mutex> g(time.mutex());
        std::int64_t last = 0;
        for (std::int64_t t = bell.next_change_after(0); t != platform::sim::kNever; t = bell.next_change_after(t))
            last = t;
        return last;
    }
    void ring_once_prompt() {
        screen.write_line("NOW ring bell HAND and BACK  **ONCE** only");
        screen.write_line("Then press any key, for the results, Q to terminate");
        screen.write_line();
    }

    VirtualTime time;
    SimBell bell;
    Screen screen;
    SimRinger ringer;
};

constexpr std::int64_t kSeconds = 1000000;

TEST(SimRinger, RecognisesTheQuestionLastWritten) {
    Screen s;
    int line = 0;
    EXPECT_EQ(SimRinger::recognise(s, &line), Prompt::None);
    s.write_line("Make sure the bell is up and ready to ring, with sensor NOT active");
    s.write("then press any key [or Q to exit]");
    EXPECT_EQ(SimRinger::recognise(s, &line), Prompt::PressAnyKey);
    EXPECT_EQ(line, 2);
    s.write_line();
    s.write_line("Then press any key, for the results, Q to terminate");
    EXPECT_EQ(SimRinger::recognise(s, &line), Prompt::None);  // not without its first line
    s.write_line("NOW ring bell HAND and BACK  **ONCE** only");
    s.write_line("Then press any key, for the results, Q to terminate");
    s.write_line();
    EXPECT_EQ(SimRinger::recognise(s, &line), Prompt::RingOnce);
    s.write_line("Is this a handbell (ON/OFF sensing)? (Y/n)");
    EXPECT_EQ(SimRinger::recognise(s, &line), Prompt::Handbell);
    s.write_line("Using handbell settings");  // answered: the program has moved on
    EXPECT_EQ(SimRinger::recognise(s, &line), Prompt::None);
    s.write_line("NB If bell does not sound, this interface may need to be \"Run as Adminstrator");
    EXPECT_EQ(SimRinger::recognise(s, &line), Prompt::TargetMenu);
    s.write("\n\rNo sensor points detected - make pulses stronger/last longer -\r\n Press [ENTER] to Quit");
    EXPECT_EQ(SimRinger::recognise(s, &line), Prompt::PressEnter);
    s.write_line("Press Q to Quit.  Then restart program");
    EXPECT_EQ(SimRinger::recognise(s, &line), Prompt::Interchanged);
}

TEST(SimRinger, RingsOneWholePullThenPressesAKeyOnce) {
    RingerWorld w;
    w.screen.write_line("NOW ring the bell *Hand* and *Back*, and then press a key, or Q to Quit program");
    EXPECT_EQ(w.next_key(10 * kSeconds), ' ');
    EXPECT_EQ(w.strikes(), 2u);
    EXPECT_GT(w.time.now_locked(), w.last_change() + kSeconds - 2000);
    EXPECT_EQ(w.next_key(20 * kSeconds), -1);  // the same question is not answered twice
    EXPECT_EQ(w.strikes(), 2u);

    // Asked again (the screen has moved on), it rings again.
    w.ring_once_prompt();
    EXPECT_EQ(w.next_key(10 * kSeconds), ' ');
    EXPECT_EQ(w.strikes(), 4u);
    EXPECT_EQ(w.ringer.pulls_asked(), 2);
}

TEST(SimRinger, DropsItsKeyWhenTheProgramMovedOnWithoutIt) {
    RingerWorld w;
    w.ring_once_prompt();
    w.ringer.poll();
    w.time.sleep_us(2 * kSeconds);
    w.screen.write_line("Presumed calibrated");  // a data-mode window that ended by itself
    EXPECT_EQ(w.next_key(10 * kSeconds), -1);
}

TEST(SimRinger, AnswersTheQuestionsWithItsConfiguredAnswers) {
    RingerConfig cfg;
    cfg.target = 12;
    cfg.handbell = 'n';
    RingerWorld w(cfg);
    w.screen.write_line("Is this a handbell (ON/OFF sensing)? (Y/n)");
    EXPECT_EQ(w.next_key(5 * kSeconds), 'n');
    w.screen.write_line("NB If bell does not sound, this interface may need to be \"Run as Adminstrator");
    EXPECT_EQ(w.keys_for(5 * kSeconds), "12\r");
    w.screen.write_line("Retry (R) or do completely new configuration (c) or Quit (Q)? (R/c/q)");
    EXPECT_EQ(w.next_key(5 * kSeconds), 'c');
}

TEST(SimRinger, InteractiveItOnlyRings) {
    RingerConfig cfg;
    cfg.autonomous = false;
    RingerWorld w(cfg);
    w.screen.write("then press any key [or Q to exit]");
    EXPECT_EQ(w.next_key(5 * kSeconds), -1);
    w.screen.write_line();
    w.screen.write_line("NOW ring the bell *Hand* and *Back*, and then press a key, or Q to Quit program");
    EXPECT_EQ(w.next_key(10 * kSeconds), -1);
    EXPECT_EQ(w.strikes(), 2u);
}

TEST(SimRinger, GivesUpWithQWhenCalibrationKeepsAskingForPulls) {
    RingerConfig cfg;
    cfg.max_repeats = 1;
    RingerWorld w(cfg);
    std::string keys;
    for (int i = 0; i < 4; ++i) {
        w.ring_once_prompt();
        keys += static_cast<char>(w.next_key(10 * kSeconds));
    }
    EXPECT_EQ(keys, "   Q");
}

TEST(SimRinger, InServiceRingsTheRowsThenQuitsAndLeavesTheQuestionsToThePerson) {
    RingerConfig cfg;
    cfg.plan.rows = 10;
    RingerWorld w(cfg);
    w.screen.move_to(1, 14);
    w.screen.write_line("Currently send keys to Ringing Room - any browser with focus window: Active sensing points=1");
    w.ringer.poll();
    EXPECT_TRUE(w.ringer.in_service());
    w.screen.write_line("NB If bell does not sound, this interface may need to be \"Run as Adminstrator");
    EXPECT_EQ(w.next_key(60 * kSeconds), 'Q');
    std::lock_guard<std::mutex> g(w.time.mutex());
    const auto& s = w.bell.strikes_until(0);
    ASSERT_EQ(s.size(), 10u);
    EXPECT_EQ(s[0].kind, StrikeKind::Real);
    EXPECT_GE(w.time.now_us(), s.back().time_us + 8 * kSeconds);
}

}  // namespace
}  // namespace qn::sim
