#include "keyout/dispatch.h"

#include <functional>

#include "console/bignumber.h"
#include "console/crt.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/desktop.h"
#include "keyout/keysending.h"
#include "keyout/sendtext.h"
#include "link/tower.h"
#include "strokes/logs.h"
#include "strokes/strike_path.h"

namespace qn {

namespace {

// A key of sensing point I, sent by send: the log lines after it, the
// made-up second key of a missed strike, and the turn of the stroke.
void deliver(Context& c, std::int32_t I, char thiskey, const std::function<void()>& send, bool always_note_record) {
    KeyoutState& k = c.keyout;
    // The marks go on the touch's newest output record; a list emptied by
    // its event log has none to mark.
    KeyQueue& keys = c.strikes->keys();
    send();
    keys.settle(I - 1);
    const std::int64_t T = MYELAPSEDMICROSECS(c);
    if (c.cfg.MONITOROUTPUT)
        c.FOOERROR.writeln(date_time_text(c) + " key " + std::string(1, thiskey) + " (" +
                           str(static_cast<unsigned char>(thiskey)) + " sent/timesincelastkeysend (secs)\t" +
                           fixed(static_cast<double>(T) / 1e6, 9, 5) + "\t" +
                           fixed(static_cast<double>(T - k.LASTKEYSENDMICROSEC) / 1e6, 9, 5));
    k.LASTKEYSENDMICROSEC = T;
    if (keys.doubled_due()) {
        if (k.USEDOUBLEDSEND) {
            // The made-up key is due DOUBLESTRIKEDELAY after the first, kept
            // as precisely as any due key.
            c.screen.present();
            wait_until_due(c, T + MULTINT64(k.DOUBLESTRIKEDELAY, 1000));
            send();
            if (c.cfg.MONITOROUTPUT)
                c.FOOERROR.writeln("doubled key sent");
            else
                keys.note_doubled(true);
        }
        keys.set_doubled_due(false);
    } else {
        if (always_note_record || c.cfg.MONITOROUTPUT) {
            c.FOOERROR.writeln("noutputtime=" + str(keys.output_count()));
            c.FOOERROR.flush();
        }
        keys.note_doubled(false);
    }
    keys.turn_stroke();
}

char stroke_key(const Context& c, std::int32_t I) {
    const SensingPoint& p = c.keyout.WHICHSENSORARR2[I];
    return c.strikes->keys().handstroke() ? p.WKEYHAND : p.WKEYBACK;
}

void SENDKEYTOSPECIFICPROG(Context& c, std::int32_t targetIndex, char key) {
    WindowHandle h = c.keyout.WINHANDLE;
    switch (targetIndex) {
    case 2:
    case 3: SENDKEYTORINGINGROOM(c, h, key); break;
    case 4:
    case 5: SENDKEYTOMUSTER(c, h, key); break;
    case 6:
    case 7: SENDKEYTODING(c, h, key); break;
    case 8: SENDKEYTOABEL(c, h, key); break;
    case 9: SENDKEYTOBELTOWER(c, h, key); break;
    default: break;
    }
}

void focus_lost(Context& c, std::int32_t I) {
    KeyoutState& k = c.keyout;
    const std::string name = "\"" + c.cfg.TARGETPROGRAM + "\"";
    if (k.WINDOWFOCUS) {
        c.FOOERROR.writeln(date_time_text(c) + " " + name +
                           " is not the focus window - Key sending suspended, #Key was " + str(I));
        c.strikes->keys().settle(I - 1);  // this key is dropped
        LOWSCRATCHWINDOWCLS(c);
        // The notice has two lines of 80 columns: a long target name is
        // shortened on screen (the log has it whole).
        const std::string rest = " is not the focus window - Key sending suspended";
        std::string shown = name;
        if (shown.size() + rest.size() > static_cast<std::size_t>(Screen::COLS))
            shown = shown.substr(0, Screen::COLS - rest.size() - 3) + "..\"";
        c.screen.write(shown + rest);
        c.screen.gotoxy(1, 2);
        // No line end: in the two-line window it would scroll the first line away.
        c.screen.write("Keystrokes will be sent when focus is resumed ");
        FULLWINDOW(c);
        k.WINDOWFOCUS = false;
    } else if (c.cfg.MONITOROUTPUT) {
        c.FOOERROR.writeln(date_time_text(c) + " " + name +
                           " still not the focus window - Key sends suspended, #Key was " + str(I));
    }
}

void focus_regained(Context& c) {
    KeyoutState& k = c.keyout;
    if (k.WINDOWFOCUS) return;
    k.WINDOWFOCUS = true;
    // The screen was not updated while the focus was away, but the
    // counter's digit memory may have been reset meanwhile.
    c.con.REPAINTBIGNUMBERWINDOW = true;
    LOWSCRATCHWINDOWCLS(c);
    FULLWINDOW(c);
    c.FOOERROR.writeln("Recovered from loss of focus");
}

// ---- X11: the target's own window, in front, gets the key ---------------------

// The window is activated when another is in front; the window manager
// may refuse, and then the key must not go to the window that is.
bool bring_to_front(Context& c, WindowHandle w) {
    platform::Windows& win = *c.plat.windows;
    if (win.foreground() == w) return true;
    win.set_foreground(w);
    return win.foreground() == w;
}

void target_window_missing(Context& c, std::int32_t I, char key) {
    const std::int32_t idx = c.keyout.TARGETPROGRAMINDEX;
    if (idx == 2 || idx == 3) {
        // As on Windows, where the key goes to no window: the stroke turns.
        FULLWINDOW(c);
        c.screen.gotoxy(1, FIRSTLINEOFSCRATCHSCREEN);
        c.screen.write("Ringing Room not found ");
        c.FOOERROR.writeln("Ringing Room not found ");
        deliver(c, I, key, [] {}, false);
        return;
    }
    FULLWINDOW(c);
    c.screen.gotoxy(1, FIRSTLINEOFSCRATCHSCREEN);
    c.screen.write(c.cfg.TARGETPROGRAM + " window not found - program paused. Press Q to quit");
    c.FOOERROR.writeln(c.cfg.TARGETPROGRAM + " window not found");
    (void)WAITFORKEYSTROKEANDRETURNNORMALKEY(c);  // the key stays pending and is tried again
}

void send_to_toplevel_target(Context& c, char key, std::int32_t I) {
    const char thiskey = upper(key);
    const WindowHandle w = find_toplevel_target(c, c.keyout.TARGETPROGRAMINDEX);
    if (w == 0) {
        target_window_missing(c, I, thiskey);
        return;
    }
    if (!bring_to_front(c, w)) {
        focus_lost(c, I);
        return;
    }
    c.keyout.SAVEWND = w;
    focus_regained(c);
    deliver(c, I, thiskey, [&c, thiskey] { SENDTEXT(c, std::string(1, thiskey)); }, false);
}

}  // namespace

bool CHECKIFHWNDOK(Context& c, WindowHandle hwnd) {
    KeyoutState& k = c.keyout;
    k.TITLE2 = c.plat.windows->window_text(hwnd, 256);
    c.FOOERROR.writeln("window not focussed Got " + str_u(hwnd) + " <" + k.TITLE2 + "> expected;" + str_u(k.SAVEWND) +
                       " <" + k.TITLE + ">");
    std::string target = REMOVEUNDERLINEFROMSTRING(k.TARGETPROGRAMARR[k.TARGETPROGRAMINDEX].TTARGETPROGRAM2);
    if (k.TITLE2.find(target) != std::string::npos) {
        k.SAVEWND = hwnd;
        c.FOOERROR.writeln("***handle replaced***");
        return true;
    }
    return false;
}

void SENDAKEY(Context& c, std::int32_t I) {
    KeyoutState& k = c.keyout;
    platform::Windows& win = *c.plat.windows;
    WindowHandle F = win.foreground();
    if (k.RESTRICTEDVERSION) {
        if (F == k.SAVEWND) {
            focus_regained(c);
        } else if (CHECKIFHWNDOK(c, F)) {
            return;  // adopted: the key goes on the next pass
        } else {
            focus_lost(c, I);
            return;
        }
    }
    win.set_active(F);
    win.set_foreground(F);
    const char key = stroke_key(c, I);
    deliver(c, I, key, [&c, key] { SENDTEXT(c, std::string(1, key)); }, true);
}

void DOTHEKEYACTION(Context& c, std::int32_t targetIndex, char key, std::int32_t I) {
    const char thiskey = upper(key);
    deliver(c, I, thiskey, [&c, targetIndex, thiskey] { SENDKEYTOSPECIFICPROG(c, targetIndex, thiskey); }, false);
}

void KEYSENDING(Context& c, char key, std::int32_t I) {
    if (keys_go_to_focused_window(c)) {
        SENDAKEY(c, I);
        return;
    }
    if (reaches_toplevel_windows(c)) {
        send_to_toplevel_target(c, key, I);
        return;
    }
    KeyoutState& k = c.keyout;
    const std::int32_t idx = k.TARGETPROGRAMINDEX;
    if (idx == 2 || idx == 3) {
        k.FIREFOX = idx == 2;
        k.CHROME = idx == 3;
        k.WINHANDLE = IDENTIFYWRITINGWINDOW_RINGINGROOM(c);
        DOTHEKEYACTION(c, idx, key, I);
        return;
    }
    struct Program {
        const char* exe;
        const char* paused;
        const char* absent;
        WindowHandle (*identify)(Context&);
    };
    static const Program muster{"Muster.exe", "Muster not loaded - program paused. Press Q to quit", "Muster not present",
                                IDENTIFYWRITINGWINDOW_MUSTER};
    static const Program ding{"ding.exe", "Ding not loaded - program paused. Press Q to quit", "Ding not present",
                              IDENTIFYWRITINGWINDOW_DING};
    static const Program abel{"Abel3.exe", "Abel3.exe not loaded - program paused. Press Q to quit", "Abel not present",
                              IDENTIFYWRITINGWINDOW_ABEL};
    static const Program beltower{"Beltow95.exe", "Beltower not loaded - program paused. Press Q to quit",
                                  "Beltower not present", IDENTIFYWRITINGWINDOW_BELTOWER};
    const Program* p = nullptr;
    if (idx == 4 || idx == 5) p = &muster;
    if (idx == 6 || idx == 7) p = &ding;
    if (idx == 8) p = &abel;
    if (idx == 9) p = &beltower;
    if (!p) return;

    k.NUMPROCESSES = GETALLPIDBYPROCESSNAME(c, p->exe, k.PROCLIST);
    if (k.NUMPROCESSES == 0) {
        FULLWINDOW(c);
        c.screen.gotoxy(1, FIRSTLINEOFSCRATCHSCREEN);
        c.screen.write(p->paused);
        c.FOOERROR.writeln(p->absent);
        (void)WAITFORKEYSTROKEANDRETURNNORMALKEY(c);
        return;  // the key stays pending and is tried again on the next pass
    }
    MULTIPLEPROCESSCHECK(c);
    k.WINHANDLE = p->identify(c);
    DOTHEKEYACTION(c, idx, key, I);
}

// A key due for a tower reached over the link: the same bookkeeping as a
// typed key (the doubled key of a missed strike too), but no window and no
// focus to check.
void RINGOVERLINK(Context& c, std::int32_t I) {
    const char key = stroke_key(c, I);
    deliver(c, I, key, [&c, key] { ring_key_over_link(c, key); }, false);
}

std::int64_t next_key_due(const Context& c, std::int64_t now_us) {
    return c.strikes->keys().next_due_us(c.keyout.SENSORSACTIVE, now_us);
}

void DOKEYSENDING(Context& c) {
    KeyoutState& k = c.keyout;
    const KeyQueue& keys = c.strikes->keys();
    for (std::int32_t I = 1; I <= k.SENSORSACTIVE && I <= MAXSENSORS; ++I) {
        if (!keys.pending(I - 1) || MYELAPSEDMICROSECS(c) < keys.due_us(I - 1)) continue;
        if (tower_link_in_use(c))
            RINGOVERLINK(c, I);
        else if (k.TARGETPROGRAMINDEX == 0 || k.TARGETPROGRAMINDEX == 1)
            SENDAKEY(c, I);
        else
            KEYSENDING(c, stroke_key(c, I), I);
        update_service_screen(c);
    }
}

}  // namespace qn
