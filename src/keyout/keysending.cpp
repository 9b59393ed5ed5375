#include "keyout/keysending.h"

#include <cstdio>

#include "core/text.h"
#include "keyout/targets.h"

namespace qn {

using platform::WindowHandle;

namespace {

std::string hex(std::uint64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
    return buf;
}

// The child of w "with class cls": the class text goes to FindWindow, which
// sees only top-level windows. For a class only child windows have it finds
// nothing, and the lookup yields w's first child; the target programs are
// reached that way, so the quirk is kept.
WindowHandle child_of(platform::Windows& win, WindowHandle w, const std::string& cls) {
    // With no parent the lookup would search the top-level windows and hand
    // back whichever program is on top: a key must never go there.
    if (w == 0) return 0;
    WindowHandle after = win.find_window(cls.c_str(), nullptr);
    return win.find_window_ex(w, after, nullptr, nullptr);
}

}  // namespace

void TargetWindow::finish_search(WindowHandle wnd) {
    windows_.set_active(wnd);
    windows_.set_foreground(wnd);
    found_ = true;
    found_title_ = title_;
    handle_ = wnd;
    report_.target_window_matched({wnd, title_});
}

Browser TargetWindow::browser() const { return target_driver(target_).browser; }

void TargetWindow::trace(const std::string& line) {
    if (settings_.monitor_output) report_.window_search_trace({line});
}

// ---- the target menu -------------------------------------------------------

void choose_target(Settings& settings, CurrentTarget& target, platform::Windows& windows, Dialog& dialog,
                   DeliveryReport& report, TowerRing& tower) {
    Dialog& s = dialog;
    s.colour(kYellow);
    s.write_line("Which program window to send the key to? Give a number in [0 .." + str(kMaxTargetPrograms) + "] [ENTER]");
    s.colour(kWhite);
    s.write_line("Options: 0: Any program with focus.  This can be useful BUT....");
    s.write_line("is **very risky as rogue keystrokes can cause serious havoc!**");
    s.write_line("so be careful - no liability accepted");
    s.write_line("1: \"Ringing Room - any browser with focus\"; ");
    s.write_line("2: \"Ringing Room - Firefox\"; ");
    s.write_line("3: \"Ringing Room - Chrome or (new) Edge\"; ");
    s.write_line("4: \"Muster - moving ropes\"; 5: \"Muster - no delay\"; ");
    s.write_line("6: \"Ding (Unity) - direct\"; 7: \"Ding - moving ropes\"; ");
    s.write_line("8: \"Abel\"; 9: \"Beltower\"");
    s.colour(kYellow);
    s.write_line("NB If bell does not sound, this interface may need to be \"Run as Adminstrator");
    s.colour(kWhite);
    // A number that names no entry would select "Open", the riskiest of
    // them, and save it: it is asked for again.
    std::int32_t n = s.read_int();
    while (n < 0 || n > kMaxTargetPrograms) {
        s.colour(kYellow);
        s.write_line("There is no program " + str(n) + ": give a number in [0 .." + str(kMaxTargetPrograms) + "]");
        s.colour(kWhite);
        n = s.read_int();
    }

    std::string name = target_name(target, static_cast<std::uint8_t>(n));
    settings.target_program = name;
    report.target_chosen({name});
    load_target_parameters(target, windows, name);
    if (target_driver(target).ringing_room) tower.ask();
    tower.restart();
    report.target_taken({});
}

// ---- the search before ringing ---------------------------------------------

bool TargetWindow::match(WindowHandle wnd) {
    title_ = windows_.window_text(wnd, 256);
    const std::string& title = title_;
    const std::string& pattern = search_text_;
    std::size_t star = pattern.find('*');
    std::string s1 = star == std::string::npos ? pattern : pattern.substr(0, star);
    std::string s2 = star == std::string::npos ? std::string() : pattern.substr(star + 1, 255);
    const long lt = static_cast<long>(title.size()), l1 = static_cast<long>(s1.size()),
               l2 = static_cast<long>(s2.size());
    for (long p = 1; p <= lt - l1 + 1; ++p) {
        if (title.compare(static_cast<std::size_t>(p - 1), s1.size(), s1) != 0) continue;
        if (s2.empty()) {
            finish_search(wnd);
            return false;
        }
        // The second part is looked for from just after the length of the
        // first, counted from the title's start, not from the first match.
        for (long q = l1 + 1; q <= lt - l2 + 1; ++q) {
            if (title.compare(static_cast<std::size_t>(q - 1), s2.size(), s2) == 0) {
                finish_search(wnd);
                return false;
            }
        }
    }
    return true;
}

char TargetWindow::seek(bool link_in_use) {
    found_ = false;
    char result = 0;
    if (!target_.seeks_window() || link_in_use) return result;
    const TargetProgram& entry = target_.entry();
    const std::string& program = settings_.target_program;
    Dialog& d = dialog_;
    d.write_line(str(target_.index()) + " Seeking " + underscores_to_spaces(program));
    d.write_line("Seeking " + underscores_to_spaces(entry.window_name));
    bool first = true;
    while (!found_) {
        search_text_ = underscores_to_spaces(entry.window_name);
        auto r = windows_.enum_windows([this](WindowHandle w) { return match(w); });
        if (!found_ && first) {
            report_.target_window_sought({program, false, {}});
            if (!r.ok()) {
                report_.window_search_failed({r.error()});
                d.write_line(r.error());
            }
            d.write_line("The target window (" + program + ") NOT FOUND");
            d.colour(kYellow);
            d.write("Please open it, or press P to change target program, Q to quit ");
            d.colour(kWhite);
        }
        first = false;
        if (found_) {
            report_.target_window_sought({program, true, found_title_});
            break;
        }
        result = upper(d.key_if_any());
        if (result == 'P') return result;
        d.wait_key_ms(50);  // the windows are looked through 20 times a second
    }
    return result;
}

// ---- processes and windows for each key ------------------------------------

std::int32_t TargetWindow::find_processes(const std::string& exe) {
    processes_.clear();
    auto procs = windows_.processes();
    if (!procs.ok()) {
        report_.window_search_failed({procs.error()});
        return 0;
    }
    for (const platform::ProcessEntry& p : procs.value()) {
        if (p.exe != exe) continue;
        bool listed = false;
        for (const platform::ProcessEntry& q : processes_) listed |= q.pid == p.pid;
        if (listed) continue;
        if (processes_.size() >= kMaxProcesses) break;
        processes_.push_back(p);
    }
    return static_cast<std::int32_t>(processes_.size());
}

void TargetWindow::check_single_process() {
    if (processes_.size() <= 1) return;
    std::vector<std::uint32_t> distinct;
    for (const platform::ProcessEntry& p : processes_) {
        bool seen = false;
        for (std::uint32_t pid : distinct) seen |= pid == p.pid;
        if (!seen) distinct.push_back(p.pid);
    }
    if (distinct.size() <= 1) return;
    report_.several_instances({distinct});
}

bool TargetWindow::find_by_title(const std::string& title_part, const std::string& window_class,
                                 WindowHandle& found_window) {
    platform::Windows& win = windows_;
    for (WindowHandle w = win.top_window(win.desktop_window()); w != 0; w = win.next_in_z_order(w)) {
        std::string title = win.window_text(w, 256);
        if (title.find(title_part) == std::string::npos) continue;
        if (!window_class.empty() && win.class_name(w, 256) != window_class) continue;
        trace("Windowheadername=" + title);
        std::uint32_t pid = 0;
        std::uint32_t tid = win.thread_process_id(w, &pid);
        trace("threadid=" + str_u(tid) + " processid=" + str_u(pid));
        found_window = w;
        return true;
    }
    found_window = 0;
    return false;
}

WindowHandle find_ringing_room_window(TargetWindow& t) {
    // The em dash of code page 1252, in which the titles are read.
    static const std::string fragment = std::string("\x97") + " Ringing Room ";
    WindowHandle w = 0;
    if (!t.find_by_title(fragment, "", w)) {
        t.report().program_window_not_found({"Ringing Room", "Ringing Room not found "});
        return 0;
    }
    t.windows().restore(w);
    t.trace("RR View handle=" + str_u(w) + " " + hex(w));
    if (t.browser() == Browser::Chrome) {
        WindowHandle child = child_of(t.windows(), w, "");
        t.trace("RR child handle=" + str_u(child));
        return child;
    }
    return w;
}

WindowHandle find_muster_window(TargetWindow& t) {
    WindowHandle w = 0;
    if (!t.find_by_title("Muster", "", w)) {
        t.report().program_window_not_found({"Muster", "Muster not found"});
        return 0;
    }
    return child_of(t.windows(), w, "DataGridView");
}

WindowHandle find_ding_window(TargetWindow& t) {
    WindowHandle w = 0;
    if (!t.find_by_title("Ding", "UnityWndClass", w)) {
        t.report().program_window_not_found({"Ding", "Ding not found "});
        return 0;
    }
    t.trace("Ding Main handle=" + str_u(w));
    return w;
}

WindowHandle find_abel_window(TargetWindow& t) {
    WindowHandle w = 0;
    if (!t.find_by_title("Abel", "", w)) {
        t.report().program_window_not_found({"Abel", ""});  // not logged
        return 0;
    }
    t.trace("Abel main handle=" + str_u(w));
    t.set_frame_classes("AfxMDIFrame140s", "AfxFrameOrView140s");
    WindowHandle child = child_of(t.windows(), w, t.child_class());
    if (child == 0) {
        t.set_frame_classes("AfxMDIFrame080s", "AfxFrameOrView080s");
        child = child_of(t.windows(), w, t.child_class());
        if (child != 0)
            t.report().target_notice({"This Abel version cannot receive bell numbers, update to v3.10.2"});
    }
    t.trace("Abel child handle=" + str_u(child));
    WindowHandle grandchild = child_of(t.windows(), child, t.grandchild_class());
    t.trace("Abel grandchild handle=" + str_u(grandchild));
    return grandchild;
}

WindowHandle find_beltower_window(TargetWindow& t) {
    WindowHandle w = 0;
    if (!t.find_by_title("BELTOWER", "", w)) {
        t.report().program_window_not_found({"Beltower", "Beltower not found "});
        return 0;
    }
    t.trace("Beltower main handle=" + str_u(w));
    WindowHandle child = child_of(t.windows(), w, "MDIClient");
    t.trace("Beltower child handle=" + str_u(child));
    WindowHandle grandchild = child_of(t.windows(), child, "hunderRT6FormDC");
    t.trace("Beltower grandchild handle=" + str_u(grandchild));
    return grandchild;
}

// ---- the per-program senders -----------------------------------------------

namespace {

bool in_range(char u, bool digits_and_signs) {
    if (u >= 'A' && u <= 'Z') return true;
    return digits_and_signs && ((u >= '0' && u <= '9') || u == '-' || u == '=');
}

bool refuse(TargetWindow& t, char ch, const char* range) {
    t.report().target_notice({std::string("key for ") + ch + " out of range " + range});
    return false;
}

void ime_key(TargetWindow& t, WindowHandle h, char ch) {
    const auto code = static_cast<unsigned char>(ch);
    t.windows().ime_key_down(h, code);
    t.pause_ms(20);
    t.windows().ime_key_up(h, code);
}

}  // namespace

void send_key_to_ringing_room(TargetWindow& t, WindowHandle input_window, char ch) {
    if (!in_range(upper(ch), true)) {
        refuse(t, ch, "0..9,-,=,A..Z,l");
        return;
    }
    if (t.browser() == Browser::Chrome) {
        t.windows().focus_by_double_click(input_window);
        t.pause_ms(20);
    } else {
        t.windows().set_foreground(input_window);
    }
    ime_key(t, input_window, ch);
}

void send_key_to_muster(TargetWindow& t, WindowHandle input_window, char ch) {
    if (!in_range(upper(ch), false)) {
        refuse(t, ch, "A..Z");
        return;
    }
    ime_key(t, input_window, ch);
}

void send_key_to_ding(TargetWindow& t, WindowHandle input_window, char ch) {
    if (!in_range(upper(ch), true)) {
        refuse(t, ch, "0..9,-,=,A..Z");
        return;
    }
    ime_key(t, input_window, ch);
}

void send_key_to_abel(TargetWindow& t, WindowHandle input_window, char ch) {
    t.windows().set_foreground(input_window);
    t.windows().send_char(input_window, static_cast<unsigned char>(upper(ch)));
}

void send_key_to_beltower(TargetWindow& t, WindowHandle input_window, char ch) {
    t.windows().set_foreground(input_window);
    t.windows().send_char(input_window, static_cast<unsigned char>(ch));
}

}  // namespace qn
