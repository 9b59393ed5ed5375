#include "keyout/keysending.h"

#include <cstdio>

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

void monitor(Context& c, const std::string& line) {
    if (c.cfg.monitor_output) c.delivery_report.window_search_trace({line});
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

void finish_window_search(Context& c, WindowHandle wnd) {
    KeyoutState& k = c.keyout;
    c.plat.windows->set_active(wnd);
    c.plat.windows->set_foreground(wnd);
    k.window_found = true;
    k.window_title = k.title;
    k.target_window = wnd;
    c.delivery_report.target_window_matched({wnd, k.title});
}

}  // namespace

// ---- the target menu -------------------------------------------------------

void choose_target(Context& c) {
    Dialog& s = c.dialog;
    s.colour(kYellow);
    s.write_line("Which program window to send the key to? Give a number in [0 .." + str(kMaxTargetPrograms) + "] [ENTER]");
    s.colour(kWhite);
    s.write_line("Options: 0: Any program with focus.  This can be useful BUT....");
    s.write_line("is **very risky as rogue keystrokes can cause serious havoc!**");
    s.write_line("so be careful - no liability accepted");
    s.write_line("1: \"Ringing Room - any browser with focus\"; ");
    s.write_line("2: \"Ringing Room - Firefox\"; ");
    s.write_line("3: \"Ringing Room - Chrome or (new) Edge\"; ");
    s.write_line("4: \"Muster - moving ropes\"; ");
    s.write_line("6: \"Ding (Unity) - direct\"; ");
    s.write_line("8: \"Abel\"; 9: \"Beltower\"");
    s.colour(kYellow);
    s.write_line("NB If bell does not sound, this interface may need to be \"Run as Adminstrator");
    s.colour(kWhite);
    std::int32_t n = s.read_int();
    while (n < 0 || n > 255) n = s.read_int();  // not a table index: asked again

    std::string name = target_name(c, static_cast<std::uint8_t>(n));
    c.cfg.target_program = name;
    c.delivery_report.target_chosen({name});
    c.keyout.target_index = load_target_parameters(c, name);
    if (target_driver(c.keyout.target_index).ringing_room) c.tower->ask_settings();
    c.tower->restart();
    c.delivery_report.target_taken({});
}

// ---- the search before ringing ---------------------------------------------

bool match_window(Context& c, WindowHandle wnd) {
    KeyoutState& k = c.keyout;
    k.title = c.plat.windows->window_text(wnd, 256);
    const std::string& title = k.title;
    const std::string& pattern = k.search_text;
    std::size_t star = pattern.find('*');
    std::string s1 = star == std::string::npos ? pattern : pattern.substr(0, star);
    std::string s2 = star == std::string::npos ? std::string() : pattern.substr(star + 1, 255);
    const long lt = static_cast<long>(title.size()), l1 = static_cast<long>(s1.size()),
               l2 = static_cast<long>(s2.size());
    for (long p = 1; p <= lt - l1 + 1; ++p) {
        if (title.compare(static_cast<std::size_t>(p - 1), s1.size(), s1) != 0) continue;
        if (s2.empty()) {
            finish_window_search(c, wnd);
            return false;
        }
        // The second part is looked for from just after the length of the
        // first, counted from the title's start, not from the first match.
        for (long q = l1 + 1; q <= lt - l2 + 1; ++q) {
            if (title.compare(static_cast<std::size_t>(q - 1), s2.size(), s2) == 0) {
                finish_window_search(c, wnd);
                return false;
            }
        }
    }
    return true;
}

char find_target_handle(Context& c) {
    KeyoutState& k = c.keyout;
    k.window_found = false;
    char result = 0;
    if (!k.find_window || c.tower->in_use()) return result;
    const TargetProgram& entry = k.targets[k.target_index];
    Dialog& d = c.dialog;
    d.write_line(str(k.target_index) + " Seeking " + underscores_to_spaces(c.cfg.target_program));
    d.write_line("Seeking " + underscores_to_spaces(entry.window_name));
    bool first = true;
    while (!k.window_found) {
        k.search_text = underscores_to_spaces(entry.window_name);
        auto r = c.plat.windows->enum_windows([&c](WindowHandle w) { return match_window(c, w); });
        if (!k.window_found && first) {
            c.delivery_report.target_window_sought({c.cfg.target_program, false, {}});
            if (!r.ok()) {
                c.delivery_report.window_search_failed({r.error()});
                d.write_line(r.error());
            }
            d.write_line("The target window (" + c.cfg.target_program + ") NOT FOUND");
            d.colour(kYellow);
            d.write("Please open it, or press P to change target program, Q to quit ");
            d.colour(kWhite);
        }
        first = false;
        if (k.window_found) {
            c.delivery_report.target_window_sought({c.cfg.target_program, true, k.window_title});
            break;
        }
        result = upper(d.key_if_any());
        if (result == 'P') return result;
        d.wait_key_ms(50);  // the windows are looked through 20 times a second
    }
    return result;
}

// ---- processes and windows for each key ------------------------------------

std::int32_t find_processes_by_name(Context& c, const std::string& process_name,
                                    Arr<platform::ProcessEntry, 1, kMaxProcesses>& process_list) {
    auto procs = c.plat.windows->processes();
    if (!procs.ok()) {
        c.delivery_report.window_search_failed({procs.error()});
        return 0;
    }
    std::int32_t n = 0;
    for (const platform::ProcessEntry& p : procs.value()) {
        if (p.exe != process_name) continue;
        bool listed = false;
        for (std::int32_t i = 1; i <= n; ++i) listed |= process_list[i].pid == p.pid;
        if (listed) continue;
        if (n >= kMaxProcesses) break;
        process_list[++n] = p;
    }
    return n;
}

void check_single_process(Context& c) {
    KeyoutState& k = c.keyout;
    if (k.process_count <= 1) return;
    std::vector<std::uint32_t> distinct;
    for (std::int32_t i = 1; i <= k.process_count; ++i) {
        bool seen = false;
        for (std::uint32_t pid : distinct) seen |= pid == k.processes[i].pid;
        if (!seen) distinct.push_back(k.processes[i].pid);
    }
    if (distinct.size() <= 1) return;
    c.delivery_report.several_instances({distinct});
}

bool find_window_by_title(Context& c, const std::string& title_part, const std::string& window_class,
               WindowHandle& found_window) {
    platform::Windows& win = *c.plat.windows;
    for (WindowHandle w = win.top_window(win.desktop_window()); w != 0; w = win.next_in_z_order(w)) {
        std::string title = win.window_text(w, 256);
        if (title.find(title_part) == std::string::npos) continue;
        if (!window_class.empty() && win.class_name(w, 256) != window_class) continue;
        monitor(c, "Windowheadername=" + title);
        std::uint32_t pid = 0;
        std::uint32_t tid = win.thread_process_id(w, &pid);
        monitor(c, "threadid=" + str_u(tid) + " processid=" + str_u(pid));
        found_window = w;
        return true;
    }
    found_window = 0;
    return false;
}

WindowHandle find_ringing_room_window(Context& c) {
    // The em dash of code page 1252, in which the titles are read.
    static const std::string fragment = std::string("\x97") + " Ringing Room ";
    WindowHandle w = 0;
    if (!find_window_by_title(c, fragment, "", w)) {
        c.delivery_report.program_window_not_found({"Ringing Room", "Ringing Room not found "});
        return 0;
    }
    c.plat.windows->restore(w);
    monitor(c, "RR View handle=" + str_u(w) + " " + hex(w));
    if (target_driver(c.keyout.target_index).browser == Browser::Chrome) {
        WindowHandle child = child_of(c, w, "");
        monitor(c, "RR child handle=" + str_u(child));
        return child;
    }
    return w;
}

WindowHandle find_muster_window(Context& c) {
    WindowHandle w = 0;
    if (!find_window_by_title(c, "Muster", "", w)) {
        c.delivery_report.program_window_not_found({"Muster", "Muster not found"});
        return 0;
    }
    return child_of(c, w, "DataGridView");
}

WindowHandle find_ding_window(Context& c) {
    WindowHandle w = 0;
    if (!find_window_by_title(c, "Ding", "UnityWndClass", w)) {
        c.delivery_report.program_window_not_found({"Ding", "Ding not found "});
        return 0;
    }
    monitor(c, "Ding Main handle=" + str_u(w));
    return w;
}

WindowHandle find_abel_window(Context& c) {
    WindowHandle w = 0;
    if (!find_window_by_title(c, "Abel", "", w)) {
        c.delivery_report.program_window_not_found({"Abel", ""});  // not logged
        return 0;
    }
    KeyoutState& k = c.keyout;
    monitor(c, "Abel main handle=" + str_u(w));
    k.child_window = "AfxMDIFrame140s";
    k.grandchild_window = "AfxFrameOrView140s";
    WindowHandle child = child_of(c, w, k.child_window);
    if (child == 0) {
        k.child_window = "AfxMDIFrame080s";
        child = child_of(c, w, k.child_window);
        if (child != 0)
            c.delivery_report.target_notice({"This Abel version cannot receive bell numbers, update to v3.10.2"});
        k.grandchild_window = "AfxFrameOrView080s";
    }
    monitor(c, "Abel child handle=" + str_u(child));
    WindowHandle grandchild = child_of(c, child, k.grandchild_window);
    monitor(c, "Abel grandchild handle=" + str_u(grandchild));
    return grandchild;
}

WindowHandle find_beltower_window(Context& c) {
    WindowHandle w = 0;
    if (!find_window_by_title(c, "BELTOWER", "", w)) {
        c.delivery_report.program_window_not_found({"Beltower", "Beltower not found "});
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
    c.delivery_report.target_notice({std::string("key for ") + ch + " out of range " + range});
    return false;
}

void ime_key(Context& c, WindowHandle h, char ch) {
    const auto code = static_cast<unsigned char>(ch);
    c.plat.windows->ime_key_down(h, code);
    c.dialog.pause_ms(20);
    c.plat.windows->ime_key_up(h, code);
}

}  // namespace

void send_key_to_ringing_room(Context& c, WindowHandle input_window, char ch) {
    if (!in_range(upper(ch), true)) {
        refuse(c, ch, "0..9,-,=,A..Z,l");
        return;
    }
    if (target_driver(c.keyout.target_index).browser == Browser::Chrome) {
        c.plat.windows->focus_by_double_click(input_window);
        c.dialog.pause_ms(20);
    } else {
        c.plat.windows->set_foreground(input_window);
    }
    ime_key(c, input_window, ch);
}

void send_key_to_muster(Context& c, WindowHandle input_window, char ch) {
    if (!in_range(upper(ch), false)) {
        refuse(c, ch, "A..Z");
        return;
    }
    ime_key(c, input_window, ch);
}

void send_key_to_ding(Context& c, WindowHandle input_window, char ch) {
    if (!in_range(upper(ch), true)) {
        refuse(c, ch, "0..9,-,=,A..Z");
        return;
    }
    ime_key(c, input_window, ch);
}

void send_key_to_abel(Context& c, WindowHandle input_window, char ch) {
    c.plat.windows->set_foreground(input_window);
    c.plat.windows->send_char(input_window, static_cast<unsigned char>(upper(ch)));
}

void send_key_to_beltower(Context& c, WindowHandle input_window, char ch) {
    c.plat.windows->set_foreground(input_window);
    c.plat.windows->send_char(input_window, static_cast<unsigned char>(ch));
}

}  // namespace qn
