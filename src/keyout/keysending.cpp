#include "keyout/keysending.h"

#include <cstdio>

#include "console/bignumber.h"
#include "console/crt.h"
#include "core/text.h"
#include "keyout/targets.h"
#include "link/tower.h"

namespace qn {

namespace {

std::string hex(std::uint64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
    return buf;
}

// Messages of the per-key searches and senders stand on the first scratch line.
void scratch_message(Context& c, const std::string& text) {
    FULLWINDOW(c);
    c.screen.gotoxy(1, FIRSTLINEOFSCRATCHSCREEN);
    c.screen.write(text);
}

void monitor(Context& c, const std::string& line) {
    if (c.cfg.MONITOROUTPUT) c.FOOERROR.writeln(line);
}

// The child of w "with class cls": the class text goes to FindWindow, which
// sees only top-level windows. For a class only child windows have it finds
// nothing, and the lookup yields w's first child; the target programs are
// reached that way, so the quirk is kept.
WindowHandle child_of(Context& c, WindowHandle w, const std::string& cls) {
    // With no parent the lookup would search the top-level windows and hand
    // back whichever program is on top: a key must never go there.
    if (w == 0) return 0;
    platform::Windows& win = *c.plat.windows;
    WindowHandle after = win.find_window(cls.c_str(), nullptr);
    return win.find_window_ex(w, after, nullptr, nullptr);
}

void FINISHOFF(Context& c, WindowHandle wnd) {
    KeyoutState& k = c.keyout;
    c.plat.windows->set_active(wnd);
    c.plat.windows->set_foreground(wnd);
    k.WINDOWFOUND = true;
    k.WINDOWTITLE = k.TITLE;
    k.SAVEWND = wnd;
    c.FOOERROR.writeln(str_u(wnd) + " " + k.TITLE);
}

}  // namespace

// ---- the target menu -------------------------------------------------------

void CHOOSEWINDOWTARGET(Context& c) {
    Screen& s = c.screen;
    s.textcolor(YELLOW);
    s.writeln("Which program window to send the key to? Give a number in [0 .." + str(MAXTARGETPROGS) + "] [ENTER]");
    s.textcolor(WHITE);
    s.writeln("Options: 0: Any program with focus.  This can be useful BUT....");
    s.writeln("is **very risky as rogue keystrokes can cause serious havoc!**");
    s.writeln("so be careful - no liability accepted");
    s.writeln("1: \"Ringing Room - any browser with focus\"; ");
    s.writeln("2: \"Ringing Room - Firefox\"; ");
    s.writeln("3: \"Ringing Room - Chrome or (new) Edge\"; ");
    s.writeln("4: \"Muster - moving ropes\"; ");
    s.writeln("6: \"Ding (Unity) - direct\"; ");
    s.writeln("8: \"Abel\"; 9: \"Beltower\"");
    s.textcolor(YELLOW);
    s.writeln("NB If bell does not sound, this interface may need to be \"Run as Adminstrator");
    s.textcolor(WHITE);
    std::int32_t n = READSTR2LONGINT(c);
    while (n < 0 || n > 255) n = READSTR2LONGINT(c);  // not a table index: asked again

    std::string name = CONVERTPROGRAMIDXTOPROGRAMNAME(c, static_cast<std::uint8_t>(n));
    c.cfg.TARGETPROGRAM = name;
    if (name == "Open")
        c.FOOERROR.write("Open - Uses any program window that has focus");
    else
        c.FOOERROR.write("Program chosen to use=" + name + " ");
    c.keyout.TARGETPROGRAMINDEX = ASSIGNPARAMETERSFORTARGETPROGRAM(c, name);
    if (c.keyout.TARGETPROGRAMINDEX >= 1 && c.keyout.TARGETPROGRAMINDEX <= 3) ask_tower_link(c);
    restart_tower_link(c);
    WRITEINSERVICEMENU(c);
}

// ---- the search before ringing ---------------------------------------------

bool NEXTWINDOW(Context& c, WindowHandle wnd) {
    KeyoutState& k = c.keyout;
    k.TITLE = c.plat.windows->window_text(wnd, 256);
    const std::string& title = k.TITLE;
    const std::string& pattern = k.SEARCHSTRING;
    std::size_t star = pattern.find('*');
    std::string s1 = star == std::string::npos ? pattern : pattern.substr(0, star);
    std::string s2 = star == std::string::npos ? std::string() : pattern.substr(star + 1, 255);
    const long lt = static_cast<long>(title.size()), l1 = static_cast<long>(s1.size()),
               l2 = static_cast<long>(s2.size());
    for (long p = 1; p <= lt - l1 + 1; ++p) {
        if (title.compare(static_cast<std::size_t>(p - 1), s1.size(), s1) != 0) continue;
        if (s2.empty()) {
            FINISHOFF(c, wnd);
            return false;
        }
        // The second part is looked for from just after the length of the
        // first, counted from the title's start, not from the first match.
        for (long q = l1 + 1; q <= lt - l2 + 1; ++q) {
            if (title.compare(static_cast<std::size_t>(q - 1), s2.size(), s2) == 0) {
                FINISHOFF(c, wnd);
                return false;
            }
        }
    }
    return true;
}

char FINDHANDLEFORTARGETWINDOW(Context& c) {
    KeyoutState& k = c.keyout;
    k.WINDOWFOUND = false;
    char result = 0;
    if (!k.FINDINGANDGOINGTOWINDOW || tower_link_in_use(c)) return result;
    const TARGETPROGRAMARRTYPE& entry = k.TARGETPROGRAMARR[k.TARGETPROGRAMINDEX];
    c.screen.writeln(str(k.TARGETPROGRAMINDEX) + " Seeking " + REMOVEUNDERLINEFROMSTRING(c.cfg.TARGETPROGRAM));
    c.screen.writeln("Seeking " + REMOVEUNDERLINEFROMSTRING(entry.TTARGETPROGRAM2));
    bool first = true;
    while (!k.WINDOWFOUND) {
        k.SEARCHSTRING = REMOVEUNDERLINEFROMSTRING(entry.TTARGETPROGRAM2);
        auto r = c.plat.windows->enum_windows([&c](WindowHandle w) { return NEXTWINDOW(c, w); });
        if (!k.WINDOWFOUND && first) {
            c.FOOERROR.writeln("The required target window (" + c.cfg.TARGETPROGRAM + ") NOT FOUND");
            if (!r.ok()) {
                c.FOOERROR.writeln(r.error());
                c.screen.writeln(r.error());
            }
            c.screen.writeln("The target window (" + c.cfg.TARGETPROGRAM + ") NOT FOUND");
            c.screen.textcolor(YELLOW);
            c.screen.write("Please open it, or press P to change target program, Q to quit ");
            c.screen.textcolor(WHITE);
        }
        first = false;
        if (k.WINDOWFOUND) {
            c.FOOERROR.writeln("Target window " + k.WINDOWTITLE + " found");
            break;
        }
        result = upper(READNORMALKEYCHAR(c));
        if (result == 'P') return result;
        wait_for_key(c, 50);  // the windows are looked through 20 times a second
    }
    return result;
}

// ---- processes and windows for each key ------------------------------------

std::int32_t GETALLPIDBYPROCESSNAME(Context& c, const std::string& processName,
                                    Arr<platform::ProcessEntry, 1, MAXPROCLIST>& procList) {
    auto procs = c.plat.windows->processes();
    if (!procs.ok()) {
        c.FOOERROR.writeln(procs.error());
        return 0;
    }
    std::int32_t n = 0;
    for (const platform::ProcessEntry& p : procs.value()) {
        if (p.exe != processName) continue;
        bool listed = false;
        for (std::int32_t i = 1; i <= n; ++i) listed |= procList[i].pid == p.pid;
        if (listed) continue;
        if (n >= MAXPROCLIST) break;
        procList[++n] = p;
    }
    return n;
}

void MULTIPLEPROCESSCHECK(Context& c) {
    KeyoutState& k = c.keyout;
    if (k.NUMPROCESSES <= 1) return;
    std::vector<std::uint32_t> distinct;
    for (std::int32_t i = 1; i <= k.NUMPROCESSES; ++i) {
        bool seen = false;
        for (std::uint32_t pid : distinct) seen |= pid == k.PROCLIST[i].pid;
        if (!seen) distinct.push_back(k.PROCLIST[i].pid);
    }
    if (distinct.size() <= 1) return;
    std::string warning = "Warning: There are " + str(static_cast<std::int64_t>(distinct.size())) +
                          " instances of the target program running";
    FULLWINDOW(c);
    c.screen.gotoxy(1, FIRSTLINEOFSCRATCHSCREEN);
    c.screen.writeln(warning);
    c.FOOERROR.writeln(warning);
    for (std::size_t i = 0; i < distinct.size(); ++i) {
        c.screen.write(str(static_cast<std::int64_t>(i + 1)) + " processid=" + str_u(distinct[i]) + "; ");
        c.FOOERROR.writeln(str(static_cast<std::int64_t>(i + 1)) + " processid=" + str_u(distinct[i]));
    }
}

bool RUNNINGEX(Context& c, const std::string& nameFragment, const std::string& programClassName,
               WindowHandle& winHandle) {
    platform::Windows& win = *c.plat.windows;
    for (WindowHandle w = win.top_window(win.desktop_window()); w != 0; w = win.next_in_z_order(w)) {
        std::string title = win.window_text(w, 256);
        if (title.find(nameFragment) == std::string::npos) continue;
        if (!programClassName.empty() && win.class_name(w, 256) != programClassName) continue;
        monitor(c, "Windowheadername=" + title);
        std::uint32_t pid = 0;
        std::uint32_t tid = win.thread_process_id(w, &pid);
        monitor(c, "threadid=" + str_u(tid) + " processid=" + str_u(pid));
        winHandle = w;
        return true;
    }
    winHandle = 0;
    return false;
}

WindowHandle IDENTIFYWRITINGWINDOW_RINGINGROOM(Context& c) {
    // The em dash of code page 1252, in which the titles are read.
    static const std::string fragment = std::string("\x97") + " Ringing Room ";
    WindowHandle w = 0;
    if (!RUNNINGEX(c, fragment, "", w)) {
        scratch_message(c, "Ringing Room not found ");
        c.FOOERROR.writeln("Ringing Room not found ");
        return 0;
    }
    c.plat.windows->restore(w);
    monitor(c, "RR View handle=" + str_u(w) + " " + hex(w));
    if (c.keyout.CHROME) {
        WindowHandle child = child_of(c, w, "");
        monitor(c, "RR child handle=" + str_u(child));
        return child;
    }
    return w;
}

WindowHandle IDENTIFYWRITINGWINDOW_MUSTER(Context& c) {
    WindowHandle w = 0;
    if (!RUNNINGEX(c, "Muster", "", w)) {
        scratch_message(c, "Muster not found ");
        c.FOOERROR.writeln("Muster not found");
        return 0;
    }
    return child_of(c, w, "DataGridView");
}

WindowHandle IDENTIFYWRITINGWINDOW_DING(Context& c) {
    WindowHandle w = 0;
    if (!RUNNINGEX(c, "Ding", "UnityWndClass", w)) {
        c.FOOERROR.writeln("Ding not found ");
        scratch_message(c, "Ding not found ");
        return 0;
    }
    monitor(c, "Ding Main handle=" + str_u(w));
    return w;
}

WindowHandle IDENTIFYWRITINGWINDOW_ABEL(Context& c) {
    WindowHandle w = 0;
    if (!RUNNINGEX(c, "Abel", "", w)) {
        scratch_message(c, "Abel not found ");
        return 0;
    }
    KeyoutState& k = c.keyout;
    monitor(c, "Abel main handle=" + str_u(w));
    k.CHILDWINDOW = "AfxMDIFrame140s";
    k.GRANDCHILDWINDOW = "AfxFrameOrView140s";
    WindowHandle child = child_of(c, w, k.CHILDWINDOW);
    if (child == 0) {
        k.CHILDWINDOW = "AfxMDIFrame080s";
        child = child_of(c, w, k.CHILDWINDOW);
        if (child != 0) {
            scratch_message(c, "This Abel version cannot receive bell numbers, update to v3.10.2");
            c.FOOERROR.writeln("This Abel version cannot receive bell numbers, update to v3.10.2");
        }
        k.GRANDCHILDWINDOW = "AfxFrameOrView080s";
    }
    monitor(c, "Abel child handle=" + str_u(child));
    WindowHandle grandchild = child_of(c, child, k.GRANDCHILDWINDOW);
    monitor(c, "Abel grandchild handle=" + str_u(grandchild));
    return grandchild;
}

WindowHandle IDENTIFYWRITINGWINDOW_BELTOWER(Context& c) {
    WindowHandle w = 0;
    if (!RUNNINGEX(c, "BELTOWER", "", w)) {
        c.FOOERROR.writeln("Beltower not found ");
        scratch_message(c, "Beltower not found ");
        return 0;
    }
    monitor(c, "Beltower main handle=" + str_u(w));
    WindowHandle child = child_of(c, w, "MDIClient");
    monitor(c, "Beltower child handle=" + str_u(child));
    WindowHandle grandchild = child_of(c, child, "hunderRT6FormDC");
    monitor(c, "Beltower grandchild handle=" + str_u(grandchild));
    return grandchild;
}

// ---- the per-program senders -----------------------------------------------

namespace {

bool in_range(char u, bool digits_and_signs) {
    if (u >= 'A' && u <= 'Z') return true;
    return digits_and_signs && ((u >= '0' && u <= '9') || u == '-' || u == '=');
}

bool refuse(Context& c, char ch, const char* range) {
    std::string text = std::string("key for ") + ch + " out of range " + range;
    scratch_message(c, text);
    c.FOOERROR.writeln(text);
    return false;
}

void ime_key(Context& c, WindowHandle h, char ch) {
    const auto code = static_cast<unsigned char>(ch);
    c.plat.windows->ime_key_down(h, code);
    SLEEP(c, 20);
    c.plat.windows->ime_key_up(h, code);
}

}  // namespace

void SENDKEYTORINGINGROOM(Context& c, WindowHandle inputHandle, char ch) {
    if (!in_range(upper(ch), true)) {
        refuse(c, ch, "0..9,-,=,A..Z,l");
        return;
    }
    if (c.keyout.CHROME) {
        c.plat.windows->focus_by_double_click(inputHandle);
        SLEEP(c, 20);
    } else {
        c.plat.windows->set_foreground(inputHandle);
    }
    ime_key(c, inputHandle, ch);
}

void SENDKEYTOMUSTER(Context& c, WindowHandle inputHandle, char ch) {
    if (!in_range(upper(ch), false)) {
        refuse(c, ch, "A..Z");
        return;
    }
    ime_key(c, inputHandle, ch);
}

void SENDKEYTODING(Context& c, WindowHandle inputHandle, char ch) {
    if (!in_range(upper(ch), true)) {
        refuse(c, ch, "0..9,-,=,A..Z");
        return;
    }
    ime_key(c, inputHandle, ch);
}

void SENDKEYTOABEL(Context& c, WindowHandle inputHandle, char ch) {
    c.plat.windows->set_foreground(inputHandle);
    c.plat.windows->send_char(inputHandle, static_cast<unsigned char>(upper(ch)));
}

void SENDKEYTOBELTOWER(Context& c, WindowHandle inputHandle, char ch) {
    c.plat.windows->set_foreground(inputHandle);
    c.plat.windows->send_char(inputHandle, static_cast<unsigned char>(ch));
}

}  // namespace qn
