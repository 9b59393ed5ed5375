// Sending due keys: the focus state machine of the foreground targets, the
// stroke alternation, doubled keys, the key-send log lines and the pause
// while the target program is not running.
#include <gtest/gtest.h>

#include "core/timing.h"
#include "fakes/fake_platform.h"
#include "keyout/dispatch.h"
#include "keyout/targets.h"

namespace qn::test {
namespace {

using platform::WindowHandle;

constexpr std::int64_t kSecond = 1000000;
const std::string kDash = "\x97";
const std::string kStamp = "2026-12-08 04:45:00 ";

struct Service {
    Harness h;
    Program& program;
    FakeWindows& win;
    RecordingKeyboard& kb;

    explicit Service(int index, int sensors = 1) : program(h.program()), win(h.fp.windows), kb(h.fp.keyboard) {
        program.cfg.sensor_count = sensors;
        set_target_defaults(program.target, program.cfg.sensor_count);
        program.cfg.target_program = target_name(program.target, static_cast<std::uint8_t>(index));
        load_target_parameters(program.target, *program.plat.windows, program.cfg.target_program);
        ring_rows(program, 10);
        program.strikes->keys().set_handstroke(true);
        for (int i = 0; i < 3; ++i) program.strikes->keys().record(0, 0);
        h.fp.clock.set_us(kSecond);
    }
    void pend(int I, std::int64_t due_us) {
        program.strikes->keys().queue(I - 1, due_us);
    }
    void strike(int I = 1) {
        pend(I, program.clock.elapsed_us());
        program.key_sender->send_due_keys();
    }
    bool pending(int I = 1) const { return program.strikes->keys().pending(I - 1); }
    std::string line(int n) const { return program.screen.line_text(n); }
};

// ---- the focus state machine ("Ringing Room - any browser with focus") ---------

struct Browser : Service {
    WindowHandle rr, other;
    Browser() : Service(1) {
        rr = win.add_window("Tower " + kDash + " Ringing Room " + kDash + " Mozilla Firefox", "MozillaWindowClass");
        other = win.add_window("Untitled - Notepad", "Notepad");
        program.target_window.set_handle(rr);
        program.target_window.set_title(win.window_text(rr, 256));
        win.foreground_window = rr;
    }
    void focus(WindowHandle w) { win.foreground_window = w; }
    const std::string kLost = "\"Ringing Room - any browser with focus\" is not the focus window - Key sending suspended";
};

TEST(FocusMachine, FocusedAndTheTargetInFrontSends) {
    Browser b;
    b.strike();
    EXPECT_EQ(b.kb.typed(), "J");
    ASSERT_EQ(b.kb.sent.size(), 1u);
    EXPECT_EQ(b.kb.sent[0].foreground, b.rr);
    EXPECT_FALSE(b.pending());
    EXPECT_TRUE(b.program.key_sender->has_focus());
    EXPECT_EQ(b.win.calls, (std::vector<std::string>{"set_active " + std::to_string(b.rr),
                                                     "set_foreground " + std::to_string(b.rr)}));
}

TEST(FocusMachine, FocusedAndAnotherRingingRoomWindowInFrontIsAdoptedAndSentToNextPass) {
    Browser b;
    WindowHandle second = b.win.add_window("Other " + kDash + " Ringing Room " + kDash + " Google Chrome", "Chrome_WidgetWin_1");
    b.focus(second);
    b.strike();
    EXPECT_TRUE(b.kb.sent.empty());
    EXPECT_TRUE(b.pending());
    EXPECT_EQ(b.program.target_window.handle(), second);
    EXPECT_TRUE(b.program.key_sender->has_focus());
    EXPECT_NE(b.h.log().find("window not focussed Got " + std::to_string(second) + " <Other " + kDash +
                             " Ringing Room " + kDash + " Google Chrome> expected;" + std::to_string(b.rr) + " <Tower " +
                             kDash + " Ringing Room " + kDash + " Mozilla Firefox>\r\n***handle replaced***\r\n"),
              std::string::npos)
        << b.h.log();
    b.program.key_sender->send_due_keys();
    EXPECT_EQ(b.kb.typed(), "J");
    EXPECT_EQ(b.kb.sent[0].foreground, second);
    EXPECT_FALSE(b.pending());
}

TEST(FocusMachine, LosingTheFocusDropsOneKeyKeepsLaterOnesAndRecoveringSendsThem) {
    Browser b;
    b.program.cfg.monitor_output = true;
    b.focus(b.other);
    b.strike();
    // Focused -> Lost: this key is dropped with the two-line message.
    EXPECT_TRUE(b.kb.sent.empty());
    EXPECT_FALSE(b.pending());
    EXPECT_FALSE(b.program.key_sender->has_focus());
    EXPECT_TRUE(ScreenHas(b.program.screen, 20, 1, "Keystrokes will be sent when focus is resumed "));
    EXPECT_NE(b.h.log().find(kStamp + b.kLost + ", #Key was 1\r\n"), std::string::npos) << b.h.log();

    // Lost, still another window: the next key waits, pass after pass.
    b.strike();
    b.program.key_sender->send_due_keys();
    EXPECT_TRUE(b.kb.sent.empty());
    EXPECT_TRUE(b.pending());
    EXPECT_EQ(count_of(b.h.log(), kStamp + "\"Ringing Room - any browser with focus\" still not the focus window - "
                                           "Key sends suspended, #Key was 1\r\n"),
              2);
    EXPECT_EQ(count_of(b.h.log(), "is not the focus window"), 1);

    // Lost -> Focused: the waiting key goes at once.
    b.focus(b.rr);
    b.program.key_sender->send_due_keys();
    EXPECT_EQ(b.kb.typed(), "J");
    EXPECT_FALSE(b.pending());
    EXPECT_TRUE(b.program.key_sender->has_focus());
    EXPECT_NE(b.h.log().find("Recovered from loss of focus\r\n"), std::string::npos);
    EXPECT_EQ(b.line(19), std::string(80, ' '));
    EXPECT_EQ(b.line(20), std::string(80, ' '));
}

// The first line of the message is 86 characters with this target's name:
// written whole into the two-line window it would wrap and scroll its
// beginning away. The name is shortened on screen instead.
TEST(FocusMachine, TheFocusLossMessageKeepsItsFirstLineReadable) {
    Browser b;
    b.focus(b.other);
    b.strike();
    EXPECT_TRUE(ScreenHas(b.program.screen, 19, 1,
                          "\"Ringing Room - any browser w..\" is not the focus window - Key sending suspended"));
    EXPECT_TRUE(ScreenHas(b.program.screen, 20, 1, "Keystrokes will be sent when focus is resumed "));
}

TEST(FocusMachine, WhileLostWithoutMonitoringTheWaitingKeyLeavesNoLogLines) {
    Browser b;
    b.focus(b.other);
    b.strike();
    const std::string after_loss = b.h.log();
    b.strike();
    b.program.key_sender->send_due_keys();
    EXPECT_EQ(b.h.log().substr(after_loss.size()).find("focus window"), std::string::npos);
    EXPECT_TRUE(b.pending());
}

// The records number sensing points from 0, the log from 1: a loss at the
// second point is point 1 in the record and "#Key was 2" in the log, and a
// key that waits while the focus stays away is told as still lost.
struct RecordingDelivery : DeliveryReport {
    std::vector<std::string> seen;
    void focus_lost(const FocusLost& r) override {
        seen.push_back("lost " + std::to_string(r.point) + (r.still ? " still" : ""));
    }
    void focus_regained(const FocusRegained&) override { seen.push_back("regained"); }
    void key_sent(const KeySent& r) override {
        seen.push_back("sent " + std::to_string(r.point) + " " + r.key + " " + std::to_string(r.since_last_us));
    }
};

TEST(FocusMachine, TheRecordsOfALossAtTheSecondPointNumberItFromZero) {
    Browser b;
    RecordingDelivery rec;
    b.program.delivery_report.add(rec);
    b.program.cfg.monitor_output = true;
    b.program.target.set_sensors_active(2);
    b.program.target.point(1) = SensingPoint{1, 'k', 0, 'k', 0};
    b.focus(b.other);
    b.strike(2);
    b.strike(2);
    b.focus(b.rr);
    b.program.key_sender->send_due_keys();
    b.program.delivery_report.remove(rec);
    const std::vector<std::string> want = {"lost 1", "lost 1 still", "regained", "sent 1 k 1000000"};
    EXPECT_EQ(rec.seen, want);
    EXPECT_NE(b.h.log().find(b.kLost + ", #Key was 2\r\n"), std::string::npos) << b.h.log();
}

TEST(FocusMachine, LostAndARingingRoomWindowInFrontIsAdoptedButSendsOnlyOnTheNextPass) {
    Browser b;
    WindowHandle second = b.win.add_window("Other " + kDash + " Ringing Room", "Chrome_WidgetWin_1");
    b.focus(b.other);
    b.strike();  // dropped
    b.pend(1, b.program.clock.elapsed_us());
    b.focus(second);
    b.program.key_sender->send_due_keys();
    EXPECT_TRUE(b.kb.sent.empty());
    EXPECT_TRUE(b.pending());
    EXPECT_EQ(b.program.target_window.handle(), second);
    EXPECT_FALSE(b.program.key_sender->has_focus());
    b.program.key_sender->send_due_keys();
    EXPECT_EQ(b.kb.typed(), "J");
    EXPECT_TRUE(b.program.key_sender->has_focus());
    EXPECT_EQ(count_of(b.h.log(), "Recovered from loss of focus"), 1);
}

TEST(FocusMachine, OpenTypesIntoWhateverIsInFrontWithoutFocusMessages) {
    Service s(0);
    WindowHandle a = s.win.add_window("Untitled - Notepad", "Notepad");
    WindowHandle b = s.win.add_window("Tower " + kDash + " Ringing Room", "MozillaWindowClass");
    s.program.target_window.set_handle(b);
    s.win.foreground_window = a;
    s.strike();
    s.win.foreground_window = 0;  // nothing in front at all
    s.strike();
    EXPECT_EQ(s.kb.typed(), "JJ");
    EXPECT_EQ(s.kb.sent[0].foreground, a);
    EXPECT_TRUE(s.program.key_sender->has_focus());
    EXPECT_EQ(s.h.log().find("focus"), std::string::npos);
    EXPECT_EQ(s.line(19), std::string(80, ' '));
}

// ---- due times and stroke alternation ------------------------------------------

TEST(Dispatch, AKeyGoesWhenItsTimeHasComeNotBefore) {
    Service s(0);
    s.pend(1, s.program.clock.elapsed_us() + 1);
    s.program.key_sender->send_due_keys();
    EXPECT_TRUE(s.kb.sent.empty());
    s.h.fp.clock.advance_us(1);
    s.program.key_sender->send_due_keys();
    EXPECT_EQ(s.kb.sent.size(), 1u);
    EXPECT_FALSE(s.pending());
}

TEST(Dispatch, HandstrokeAlternatesAcrossSensingPoints) {
    for (int index : {0, 4}) {
        Service s(index, 2);
        s.program.target.set_sensors_active(2);
        s.program.target.point(0) = SensingPoint{1, 'a', 0, 'b', 0};
        s.program.target.point(1) = SensingPoint{2, 'c', 0, 'd', 0};
        WindowHandle grid = 0;
        if (index == 4) {
            s.win.add_process(40, "Muster.exe");
            WindowHandle top = s.win.add_window("Muster", "WindowsForms10", 40);
            grid = s.win.add_window("", "DataGridView", 40, top);
        }
        s.pend(1, s.program.clock.elapsed_us());
        s.pend(2, s.program.clock.elapsed_us());
        s.program.key_sender->send_due_keys();  // both due: 1 at handstroke, 2 at backstroke
        s.strike(2);
        s.strike(1);
        std::string keys;
        if (index == 0) {
            keys = s.kb.typed();
        } else {
            for (const SentMessage& m : s.win.messages)
                if (m.msg == platform::kMsgImeKeyDown && m.window == grid) keys.push_back(static_cast<char>(m.wparam));
        }
        EXPECT_EQ(keys, "ADCB") << "target " << index;
        EXPECT_TRUE(s.program.strikes->keys().handstroke());
    }
}

// ---- doubled keys ---------------------------------------------------------------

TEST(DoubledKeys, WithoutDoubledSendingOneKeyGoesAndTheRequestIsCleared) {
    Service s(0);
    s.program.target.set_use_doubled_send(false);
    s.program.strikes->keys().set_doubled_due(true);
    s.strike();
    EXPECT_EQ(s.kb.typed(), "J");
    EXPECT_FALSE(s.program.strikes->keys().doubled_due());
    EXPECT_TRUE(s.h.fp.threads.sleeps.empty());
}

TEST(DoubledKeys, TheSecondKeyFollowsAfterTheDoubleStrikeDelay) {
    Service s(0);
    s.program.target.set_double_strike_delay_ms(250);
    s.program.strikes->keys().set_doubled_due(true);
    s.strike();
    ASSERT_EQ(s.kb.sent.size(), 2u);
    EXPECT_EQ(s.kb.typed(), "JJ");
    EXPECT_EQ(s.kb.sent[1].time_us - s.kb.sent[0].time_us, 250000);
    EXPECT_FALSE(s.program.strikes->keys().doubled_due());
    EXPECT_TRUE(s.program.strikes->keys().outputs()[2].doubled);
    EXPECT_FALSE(s.program.strikes->keys().handstroke()) << "a doubled key counts once";

    // Monitoring: the log says so and the record is left alone.
    Service m(4);
    m.program.cfg.monitor_output = true;
    m.win.add_process(40, "Muster.exe");
    WindowHandle top = m.win.add_window("Muster", "WindowsForms10", 40);
    WindowHandle grid = m.win.add_window("", "DataGridView", 40, top);
    m.program.strikes->keys().set_doubled_due(true);
    m.strike();
    ASSERT_EQ(m.win.messages.size(), 4u);
    for (const SentMessage& msg : m.win.messages) EXPECT_EQ(msg.window, grid);
    EXPECT_EQ(m.win.messages[2].msg, platform::kMsgImeKeyDown);
    EXPECT_EQ(m.win.messages[2].time_us - m.win.messages[1].time_us, 350000);
    EXPECT_NE(m.h.log().find("doubled key sent\r\n"), std::string::npos);
    EXPECT_FALSE(m.program.strikes->keys().outputs()[2].doubled);
}

TEST(DoubledKeys, AnUndoubledKeyClearsTheRecordsFlagAndLogsTheIndexAsEachRouteDoes) {
    Service fg(0);
    fg.program.strikes->keys().note_doubled(true);
    fg.strike();
    EXPECT_FALSE(fg.program.strikes->keys().outputs()[2].doubled);
    EXPECT_NE(fg.h.log().find("noutputtime=3\r\n"), std::string::npos);

    Service own(6);
    own.win.add_process(60, "ding.exe");
    own.win.add_window("Ding", "UnityWndClass", 60);
    own.program.strikes->keys().note_doubled(true);
    own.strike();
    EXPECT_FALSE(own.program.strikes->keys().outputs()[2].doubled);
    EXPECT_EQ(own.h.log().find("noutputtime="), std::string::npos);
    own.program.cfg.monitor_output = true;
    own.strike();
    EXPECT_NE(own.h.log().find("noutputtime=3\r\n"), std::string::npos);
}

// ---- the key-send log line ----------------------------------------------------

TEST(KeySendLog, TwoKeysHalfASecondApartShowTheIntervalInANineCharacterField) {
    Service s(0);
    s.program.cfg.monitor_output = true;
    s.strike();
    s.h.fp.clock.advance_us(500000);
    s.strike();
    EXPECT_NE(s.h.log().find(kStamp + "key j (106 sent/timesincelastkeysend (secs)\t  1.00000\t  1.00000\r\n"),
              std::string::npos)
        << s.h.log();
    EXPECT_NE(s.h.log().find(kStamp + "key j (106 sent/timesincelastkeysend (secs)\t  1.50000\t  0.50000\r\n"),
              std::string::npos);

    // The per-program senders log the upper-cased key, after their waits.
    Service m(5);
    m.program.cfg.monitor_output = true;
    m.win.add_process(40, "Muster.exe");
    WindowHandle top = m.win.add_window("Muster", "WindowsForms10", 40);
    m.win.add_window("", "DataGridView", 40, top);
    m.strike();
    m.h.fp.clock.advance_us(480000);
    m.strike();
    EXPECT_NE(m.h.log().find("key J (74 sent/timesincelastkeysend (secs)\t  1.52000\t  0.50000\r\n"),
              std::string::npos)
        << m.h.log();
}

// ---- target program not running -------------------------------------------------

TEST(NotLoaded, TheRunPausesForAKeyAndTheKeyStaysPending) {
    struct Case {
        int index;
        const char* exe;
        const char* screen;
        const char* log;
    } cases[] = {
        {4, "Muster.exe", "Muster not loaded - program paused. Press Q to quit", "Muster not present"},
        {7, "ding.exe", "Ding not loaded - program paused. Press Q to quit", "Ding not present"},
        {8, "Abel3.exe", "Abel3.exe not loaded - program paused. Press Q to quit", "Abel not present"},
        {9, "Beltow95.exe", "Beltower not loaded - program paused. Press Q to quit", "Beltower not present"},
    };
    for (const Case& k : cases) {
        Service s(k.index);
        s.win.add_process(7, "ABEL3.EXE");  // names are compared exactly
        bool shown = false;
        s.h.fp.console.on_idle = [&] {
            if (shown) return;
            shown = ScreenHas(s.program.screen, 9, 1, k.screen);
            s.h.fp.console.type(" ");
        };
        s.strike();
        EXPECT_TRUE(shown) << k.index << ": " << s.line(9);
        EXPECT_NE(s.h.log().find(std::string(k.log) + "\r\n"), std::string::npos) << k.index;
        EXPECT_TRUE(s.pending()) << k.index;
        EXPECT_TRUE(s.win.messages.empty()) << k.index;
        EXPECT_TRUE(s.program.strikes->keys().handstroke()) << k.index;
    }
}

TEST(NotLoaded, QEndsTheProgram) {
    Service s(8);
    s.h.fp.console.type("q");
    try {
        s.strike();
        FAIL() << "the program went on";
    } catch (const ProgramExit& e) {
        EXPECT_EQ(e.code, 0);
    }
}

}  // namespace
}  // namespace qn::test
