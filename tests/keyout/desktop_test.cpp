// Targets on a desktop whose focus cannot be seen (Wayland) or that sends no
// keys: no window is sought or guarded and every key goes to the focused
// window; what the desktop cannot do is told once in the run log and on the
// service screen. On the Windows desktop nothing of this shows.
#include <gtest/gtest.h>

#include "ui/service_screen.h"
#include "core/timing.h"
#include "fakes/fake_platform.h"
#include "keyout/desktop.h"
#include "keyout/dispatch.h"
#include "keyout/keysending.h"
#include "keyout/targets.h"
#include "runlog/delivery_log.h"

namespace qn::test {
namespace {

using platform::DesktopInfo;
using platform::DesktopReach;

class DesktopWindows : public FakeWindows {
public:
    DesktopWindows(FakeClock& clock, DesktopInfo info) : FakeWindows(clock), info_(std::move(info)) {}
    const DesktopInfo& desktop() const override { return info_; }

private:
    DesktopInfo info_;
};

DesktopInfo wayland() {
    return {DesktopReach::FocusedOnly,
            {"Keys through a virtual keyboard on /dev/uinput (Wayland session)"},
            {"Wayland: keys go to whichever window has the focus", "Keys are typed as key positions"}};
}

Program& on(Harness& h, platform::Windows& windows) {
    h.fp.plat.windows = &windows;
    h.remake();
    return h.program();
}

struct OnDesktop {
    Harness h;
    DesktopWindows windows;
    Program& program;
    OnDesktop(DesktopInfo info, int target) : windows(h.fp.clock, std::move(info)), program(on(h, windows)) {
        program.cfg.sensor_count = 1;
        set_target_defaults(program.target, program.cfg.sensor_count);
        program.cfg.target_program = target_name(program.target, static_cast<std::uint8_t>(target));
        load_target_parameters(program.target, *program.plat.windows, program.cfg.target_program);
        program.strikes->keys().set_handstroke(true);
        h.fp.clock.set_us(1000000);
    }
    void strike() {
        program.strikes->keys().queue(0, program.clock.elapsed_us());
        program.key_sender->send_due_keys();
    }
};

TEST(FocusedOnlyDesktop, EveryTargetSendsToTheFocusedWindowWithoutSeekingOrGuarding) {
    for (int target : {1, 3, 4, 8}) {
        OnDesktop d(wayland(), target);
        EXPECT_FALSE(d.program.target.seeks_window()) << target;
        EXPECT_FALSE(d.program.target.restricted()) << target;
        EXPECT_EQ(d.program.target_window.seek(d.program.tower_ring->in_use()), 0);  // start-up does not wait for a window
        d.strike();
        d.strike();
        EXPECT_EQ(d.h.fp.keyboard.typed(), "JJ") << target;
        EXPECT_FALSE(d.program.strikes->keys().pending(0));
        EXPECT_TRUE(d.windows.messages.empty()) << target;  // no window messages, no process search
        EXPECT_EQ(d.h.log().find("not loaded"), std::string::npos);
        EXPECT_EQ(d.h.log().find("not the focus window"), std::string::npos);
    }
}

TEST(FocusedOnlyDesktop, TheChoiceGoesToTheLogAndTheNoticesToTheServiceScreen) {
    OnDesktop d(wayland(), 3);
    log_desktop(d.program.run_log, d.program.plat.windows->desktop());
    EXPECT_NE(d.h.log().find("Desktop: Keys through a virtual keyboard on /dev/uinput (Wayland session)\r\n"
                             "Wayland: keys go to whichever window has the focus\r\n"),
              std::string::npos)
        << d.h.log();
    d.program.service_screen->show();
    EXPECT_TRUE(ScreenHas(d.program.screen, kScratchFirstLine, 1,
                          "Wayland: keys go to whichever window has the focus", kYellow));
    EXPECT_TRUE(ScreenHas(d.program.screen, kScratchFirstLine + 1, 1, "Keys are typed as key positions"));
}

TEST(NoKeysDesktop, CountingGoesOnAndTheRefusedKeyIsLoggedOnce) {
    OnDesktop d({DesktopReach::NoKeys, {"No keys"}, {"No keys can be sent"}}, 2);
    d.h.fp.keyboard.unsupported = true;
    for (int i = 0; i < 3; ++i) d.strike();
    EXPECT_FALSE(d.program.strikes->keys().pending(0));
    EXPECT_TRUE(d.program.strikes->keys().handstroke() == false);  // three strokes turned
    EXPECT_EQ(count_of(d.h.log(), "Key not delivered"), 1);
}

TEST(WindowsDesktop, NothingIsReportedAndTheScreenKeepsTheCalibration) {
    Harness h;
    log_desktop(h.program().run_log, h.program().plat.windows->desktop());
    EXPECT_EQ(h.log().find("Desktop:"), std::string::npos);
    h.program().cfg.sensor_count = 1;
    h.program().service_screen->show();
    EXPECT_TRUE(ScreenHas(h.program().screen, kScratchFirstLine, 1, "Current calibration"));
}

}  // namespace
}  // namespace qn::test
