#include "service/keycheck.h"

#include "autoring/driver.h"
#include "autoring/setup.h"
#include "console/bignumber.h"
#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/keysending.h"
#include "keyout/menus.h"
#include "link/tower.h"
#include "strokes/strike_path.h"

namespace qn {

namespace {

constexpr std::int64_t kPauseMicro = 6000000;

bool is_command(char ch) {
    switch (ch) {
    case 27: case '+': case '-': case '0': case '<': case '>': case 'A': case 'B':
    case 'C': case 'H': case 'N': case 'P': case 'Q': case 'Z':
        return true;
    default:
        return false;
    }
}

std::int32_t lowered(std::int32_t v) { return v < 20 ? 0 : v - 20; }

void show_delays(Context& c) {
    KeyoutState& k = c.keyout;
    for (std::int32_t i = 1; i <= k.SENSORSACTIVE && i <= MAXSENSORS; ++i) {
        SCRATCHWINDOWCLS(c);
        c.screen.writeln("Handstroke key delay now " + str(k.WHICHSENSORARR2[i].WDELAYHAND));
        c.screen.writeln("Backstroke key delay now " + str(k.WHICHSENSORARR2[i].WDELAYBACK));
    }
}

void change_delays(Context& c, bool hand, std::int32_t step) {
    KeyoutState& k = c.keyout;
    for (std::int32_t i = 1; i <= k.SENSORSACTIVE && i <= MAXSENSORS; ++i) {
        SensingPoint& p = k.WHICHSENSORARR2[i];
        if (hand) p.WDELAYHAND = step > 0 ? p.WDELAYHAND + step : lowered(p.WDELAYHAND);
        p.WDELAYBACK = step > 0 ? p.WDELAYBACK + step : lowered(p.WDELAYBACK);
    }
    show_delays(c);
}

// The target must hold the focus before the other bells start: "A" was
// typed in this console, so for a target reached by typing into the window
// in front the real foreground window is what counts, whatever the last key
// found. Key dispatch is not running meanwhile, so the foreground is looked
// at every 100 ms; any key but Q (which quits) gives up the start. Targets
// reached by window messages need no focus.
bool target_in_front(Context& c, const std::string& target) {
    KeyoutState& k = c.keyout;
    WindowHandle f = c.plat.windows->foreground();
    if (f == 0 || (f != k.SAVEWND && c.plat.windows->window_text(f, 256).find(target) == std::string::npos))
        return false;
    k.SAVEWND = f;
    if (!k.WINDOWFOCUS) {
        k.WINDOWFOCUS = true;
        c.con.REPAINTBIGNUMBERWINDOW = true;
        c.FOOERROR.writeln("Recovered from loss of focus");
    }
    return true;
}

bool wait_for_target_focus(Context& c) {
    KeyoutState& k = c.keyout;
    if (!k.RESTRICTEDVERSION || k.TARGETPROGRAMINDEX >= 2 || tower_link_in_use(c)) return true;
    const std::string target = REMOVEUNDERLINEFROMSTRING(k.TARGETPROGRAMARR[k.TARGETPROGRAMINDEX].TTARGETPROGRAM2);
    if (target_in_front(c, target)) return true;
    c.screen.writeln("Waiting for the target window to have the focus - press a key to cancel");
    for (;;) {
        if (target_in_front(c, target)) return true;
        if (READNORMALKEYCHAR(c) != 0) return false;
        wait_for_key(c, 100);
    }
}

void automatic_ringing(Context& c, char key) {
    AutoringState& a = c.autoring;
    SCRATCHWINDOWCLS(c);
    if (key == 'Z' || (key == 'A' && !c.core.AUTOBELLSETUPFLAG)) {
        if (key == 'A') c.screen.writeln("Setting up configuration first");
        c.core.AUTOBELLSETUPFLAG = SETUPARAMETERSAUTORING(c);
        a.RINGBELLFIRSTTIME = true;
        a.ROWN = -6;
    }
    if (key != 'A' || !c.core.AUTOBELLSETUPFLAG) return;
    a.AUTOKEYPRESS = !a.AUTOKEYPRESS;
    if (a.AUTOKEYPRESS) {
        c.screen.writeln("Automated ringing started");
        if (!wait_for_target_focus(c)) {
            a.AUTOKEYPRESS = false;
            c.screen.writeln("Automated ringing not started");
            return;
        }
        EXPORTKEY(c, 'l');
        SLEEP(c, 4000);
    } else {
        SCRATCHWINDOWCLS(c);
        c.screen.writeln("Automated ringing ended");
        a.AUTOKEYTIMER = 0;
        a.ROWN = -6;
    }
}

void pause_check(Context& c) {
    FULLWINDOW(c);
    const bool pause = MYELAPSEDMICROSECS(c) - c.strikes->last_signal_us() > kPauseMicro;
    if (pause || c.strikes->keys().outputs_full()) end_touch(c, pause);
}

}  // namespace

void end_touch(Context& c, bool pause) {
    StrikePath& strikes = *c.strikes;
    if (strikes.rows().rows() == 0 || c.autoring.AUTOKEYPRESS) return;
    if (strikes.keys().outputs_full() || pause) {
        strikes.log_touch(pause ? TouchEnd::Pause : TouchEnd::ListFull);
        SLEEP(c, 1);
    }
    if (pause) strikes.restart_touch(MYELAPSEDMICROSECS(c));
}

void do_command(Context& c, char key) {
    StrikePath& strikes = *c.strikes;
    switch (key) {
    case 'H':
        strikes.keys().set_handstroke(true);
        c.screen.writeln("Now Set at handstroke");
        break;
    case 'B':
        strikes.keys().set_handstroke(false);
        c.screen.writeln("Now Set at backstroke");
        break;
    case '+': change_delays(c, true, 20); break;
    case '-': change_delays(c, true, -20); break;
    case '<': change_delays(c, false, 20); break;
    case '>': change_delays(c, false, -20); break;
    case 'N':
        SCRATCHWINDOWCLS(c);
        c.cfg.BIGNUMBERS = !c.cfg.BIGNUMBERS;
        strikes.rows().zero();
        c.con.REPAINTBIGNUMBERWINDOW = true;
        c.screen.writeln(c.cfg.BIGNUMBERS ? "big counter numbers ON" : "big counter numbers OFF");
        break;
    case '0':
        strikes.rows().zero();
        c.screen.writeln("Counter set to zero");
        break;
    case 'C':
        MODIFYCONFIGURATION(c);
        update_service_screen(c);
        break;
    case 'P':
        SCRATCHWINDOWCLS(c);
        CHOOSEWINDOWTARGET(c);
        FULLWINDOW(c);
        c.screen.gotoxy(1, FIRSTLINEOFSCRATCHSCREEN);
        c.screen.write("Program " + c.cfg.TARGETPROGRAM + " selected");
        break;
    case 'A':
    case 'Z': automatic_ringing(c, key); break;
    default: break;  // Q and Esc have ended the program in the key read
    }
}

void KEYCHECK(Context& c) {
    if (autoring_driver_step(c) == 'A') automatic_ringing(c, 'A');
    if (c.plat.console->key_waiting()) {
        char key = upper(WAITFORKEYSTROKEANDRETURNNORMALKEY(c));
        if (!is_command(key)) return;  // dropped, and no pause check this pass
        if (c.cfg.BIGNUMBERS) {
            c.con.REPAINTBIGNUMBERWINDOW = true;
            WRITEINSERVICEMENU(c);
        }
        SCRATCHWINDOWCLS(c);
        do_command(c, key);
    }
    pause_check(c);
}

}  // namespace qn
