#include "keyout/dispatch.h"

#include <functional>

#include "core/text.h"
#include "core/timing.h"
#include "keyout/desktop.h"
#include "keyout/keysending.h"
#include "keyout/sendtext.h"
#include "keyout/targets.h"
#include "link/tower.h"
#include "strokes/strike_path.h"

namespace qn {

namespace {

// A key of sensing point I, sent by send: the log lines after it, the
// made-up second key of a missed strike, and the turn of the stroke.
void deliver(Context& c, std::int32_t I, char thiskey, const std::function<void()>& send, bool always_note_record) {
    KeyoutState& k = c.keyout;
    DeliveryReport& report = c.delivery_report;
    const bool monitor = c.cfg.monitor_output;
    // The marks go on the touch's newest output record; a list emptied by
    // its event log has none to mark.
    KeyQueue& keys = c.strikes->keys();
    send();
    keys.settle(I - 1);
    const std::int64_t T = c.clock.elapsed_us();
    if (monitor) report.key_sent({I - 1, thiskey, T, T - k.last_key_us});
    k.last_key_us = T;
    if (keys.doubled_due()) {
        if (k.use_doubled_send) {
            // The made-up key is due double_strike_delay_ms after the first, kept
            // as precisely as any due key.
            const std::int64_t due_us = T + multiply_int64(k.double_strike_delay_ms, 1000);
            report.doubled_key_due({due_us});
            c.clock.wait_until_due(due_us);
            send();
            if (monitor)
                report.doubled_key_sent({thiskey});
            else
                keys.note_doubled(true);
        }
        keys.set_doubled_due(false);
    } else {
        if (always_note_record || monitor) report.outputs_noted({keys.output_count()});
        keys.note_doubled(false);
    }
    keys.turn_stroke();
}

char stroke_key(const Context& c, std::int32_t I) {
    const SensingPoint& p = c.keyout.points[I];
    return c.strikes->keys().handstroke() ? p.hand_key : p.back_key;
}

void send_key_to_target(Context& c, std::int32_t target_index, char key) {
    const TargetDriver& d = target_driver(target_index);
    if (d.send_key != nullptr) d.send_key(c, c.keyout.found_window, key);
}

void focus_lost(Context& c, std::int32_t I) {
    KeyoutState& k = c.keyout;
    if (k.window_focus) {
        c.strikes->keys().settle(I - 1);  // this key is dropped
        k.window_focus = false;
        c.delivery_report.focus_lost({c.cfg.target_program, I - 1, false});
    } else if (c.cfg.monitor_output) {
        c.delivery_report.focus_lost({c.cfg.target_program, I - 1, true});
    }
}

void focus_regained(Context& c) {
    KeyoutState& k = c.keyout;
    if (k.window_focus) return;
    k.window_focus = true;
    c.delivery_report.focus_regained({});
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
    if (target_driver(c.keyout.target_index).browser != Browser::None) {
        // As on Windows, where the key goes to no window: the stroke turns.
        c.delivery_report.target_window_missing({"Ringing Room", false});
        deliver(c, I, key, [] {}, false);
        return;
    }
    c.delivery_report.target_window_missing({c.cfg.target_program, true});
    (void)c.dialog.wait_key();  // the key stays pending and is tried again
}

void send_to_toplevel_target(Context& c, char key, std::int32_t I) {
    const char thiskey = upper(key);
    const WindowHandle w = find_toplevel_target(c, c.keyout.target_index);
    if (w == 0) {
        target_window_missing(c, I, thiskey);
        return;
    }
    if (!bring_to_front(c, w)) {
        focus_lost(c, I);
        return;
    }
    c.keyout.target_window = w;
    focus_regained(c);
    deliver(c, I, thiskey, [&c, thiskey] { type_text(c, std::string(1, thiskey)); }, false);
}

}  // namespace

bool adopt_focus_window(Context& c, WindowHandle window) {
    KeyoutState& k = c.keyout;
    k.focus_title = c.plat.windows->window_text(window, 256);
    const std::string target = underscores_to_spaces(k.targets[k.target_index].window_name);
    const bool adopted = k.focus_title.find(target) != std::string::npos;
    c.delivery_report.focus_window_seen({window, k.focus_title, k.target_window, k.title, adopted});
    if (adopted) k.target_window = window;
    return adopted;
}

void send_one_key(Context& c, std::int32_t I) {
    KeyoutState& k = c.keyout;
    platform::Windows& win = *c.plat.windows;
    WindowHandle F = win.foreground();
    if (k.restricted) {
        if (F == k.target_window) {
            focus_regained(c);
        } else if (adopt_focus_window(c, F)) {
            return;  // adopted: the key goes on the next pass
        } else {
            focus_lost(c, I);
            return;
        }
    }
    win.set_active(F);
    win.set_foreground(F);
    const char key = stroke_key(c, I);
    deliver(c, I, key, [&c, key] { type_text(c, std::string(1, key)); }, true);
}

void do_key_action(Context& c, std::int32_t target_index, char key, std::int32_t I) {
    const char thiskey = upper(key);
    deliver(c, I, thiskey, [&c, target_index, thiskey] { send_key_to_target(c, target_index, thiskey); }, false);
}

void send_key(Context& c, char key, std::int32_t I) {
    if (keys_go_to_focused_window(c)) {
        send_one_key(c, I);
        return;
    }
    if (reaches_toplevel_windows(c)) {
        send_to_toplevel_target(c, key, I);
        return;
    }
    KeyoutState& k = c.keyout;
    const std::int32_t idx = k.target_index;
    const TargetDriver& d = target_driver(idx);
    if (d.find_window == nullptr) return;
    // A browser is not looked for by its process: its tab is the window.
    if (d.exe != nullptr) {
        k.process_count = find_processes_by_name(c, d.exe, k.processes);
        if (k.process_count == 0) {
            c.delivery_report.program_not_running({d.absent_shown, d.absent_logged});
            (void)c.dialog.wait_key();
            return;  // the key stays pending and is tried again on the next pass
        }
        check_single_process(c);
    }
    k.found_window = d.find_window(c);
    do_key_action(c, idx, key, I);
}

// A key due for a tower reached over the link: the same bookkeeping as a
// typed key (the doubled key of a missed strike too), but no window and no
// focus to check.
void ring_on_link(Context& c, std::int32_t I) {
    const char key = stroke_key(c, I);
    deliver(c, I, key, [&c, key] { c.tower->ring_key(key, c.strikes->keys().handstroke()); }, false);
}

std::int64_t next_key_due(const Context& c, std::int64_t now_us) {
    return c.strikes->keys().next_due_us(c.keyout.sensors_active, now_us);
}

void send_due_keys(Context& c) {
    KeyoutState& k = c.keyout;
    const KeyQueue& keys = c.strikes->keys();
    for (std::int32_t I = 1; I <= k.sensors_active && I <= kMaxSensors; ++I) {
        if (!keys.pending(I - 1) || c.clock.elapsed_us() < keys.due_us(I - 1)) continue;
        if (c.tower->in_use())
            ring_on_link(c, I);
        else if (target_driver(k.target_index).route == KeyRoute::FocusedWindow)
            send_one_key(c, I);
        else
            send_key(c, stroke_key(c, I), I);
        c.delivery_report.due_key_handled({I - 1});
    }
}

}  // namespace qn
