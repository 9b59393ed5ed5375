#include "keyout/dispatch.h"

#include "core/text.h"
#include "keyout/desktop.h"
#include "keyout/targets.h"

namespace qn {

using platform::WindowHandle;

// A key of a sensing point, sent by send: the log lines after it, the
// made-up second key of a missed strike, and the turn of the stroke.
void KeySender::deliver(std::int32_t point, char key, const std::function<void()>& send, bool always_note_record) {
    const bool monitor = settings_.monitor_output;
    // The marks go on the touch's newest output record; a list emptied by
    // its event log has none to mark.
    send();
    keys_.settle(point);
    const std::int64_t now_us = clock_.elapsed_us();
    if (monitor) report_.key_sent({point, key, now_us, now_us - last_key_us_});
    last_key_us_ = now_us;
    if (keys_.doubled_due()) {
        if (target_.use_doubled_send()) {
            // The made-up key is due double_strike_delay_ms after the first,
            // kept as precisely as any due key.
            const std::int64_t due_us = now_us + multiply_int64(target_.double_strike_delay_ms(), 1000);
            report_.doubled_key_due({due_us});
            if (queue_made_up_) {
                (void)keys_.queue(point, due_us);
                made_up_point_ = point;
                made_up_key_ = key;
                made_up_send_ = send;
                if (!monitor) keys_.note_doubled(true);
                keys_.set_doubled_due(false);
                keys_.turn_stroke();
                return;
            }
            clock_.wait_until_due(due_us);
            send();
            if (monitor)
                report_.doubled_key_sent({key});
            else
                keys_.note_doubled(true);
        }
        keys_.set_doubled_due(false);
    } else {
        if (always_note_record || monitor) report_.outputs_noted({keys_.output_count()});
        keys_.note_doubled(false);
    }
    keys_.turn_stroke();
}

char KeySender::stroke_key(std::int32_t point) const {
    const SensingPoint& p = target_.point(point);
    return keys_.handstroke() ? p.hand_key : p.back_key;
}

void KeySender::focus_lost(std::int32_t point) {
    if (focus_) {
        keys_.settle(point);  // this key is dropped
        focus_ = false;
        report_.focus_lost({settings_.target_program, point, false});
    } else if (settings_.monitor_output) {
        report_.focus_lost({settings_.target_program, point, true});
    }
}

void KeySender::focus_regained() {
    if (focus_) return;
    focus_ = true;
    report_.focus_regained({});
}

// ---- X11: the target's own window, in front, gets the key ---------------------

// The window is activated when another is in front; the window manager
// may refuse, and then the key must not go to the window that is.
bool KeySender::bring_to_front(WindowHandle w) {
    if (windows_.foreground() == w) return true;
    windows_.set_foreground(w);
    return windows_.foreground() == w;
}

void KeySender::target_window_missing(std::int32_t point, char key) {
    if (target_driver(target_).browser != Browser::None) {
        // As on Windows, where the key goes to no window: the stroke turns.
        report_.target_window_missing({"Ringing Room", false});
        deliver(point, key, [] {}, false);
        return;
    }
    report_.target_window_missing({settings_.target_program, true});
    (void)dialog_.wait_key();  // the key stays pending and is tried again
}

void KeySender::send_to_toplevel_target(char key, std::int32_t point) {
    const char upper_key = upper(key);
    const WindowHandle w = find_toplevel_target(window_, target_.index());
    if (w == 0) {
        target_window_missing(point, upper_key);
        return;
    }
    if (!bring_to_front(w)) {
        focus_lost(point);
        return;
    }
    window_.set_handle(w);
    focus_regained();
    deliver(point, upper_key, [this, upper_key] { typer_.type(std::string(1, upper_key)); }, false);
}

bool KeySender::adopt_focus_window(WindowHandle window) {
    const std::string title = windows_.window_text(window, 256);
    const std::string target = underscores_to_spaces(target_.entry().window_name);
    const bool adopted = title.find(target) != std::string::npos;
    report_.focus_window_seen({window, title, window_.handle(), window_.title(), adopted});
    if (adopted) window_.set_handle(window);
    return adopted;
}

void KeySender::send_one_key(std::int32_t point) {
    const WindowHandle front = windows_.foreground();
    if (target_.restricted()) {
        if (front == window_.handle()) {
            focus_regained();
        } else if (adopt_focus_window(front)) {
            return;  // adopted: the key goes on the next pass
        } else {
            focus_lost(point);
            return;
        }
    }
    windows_.set_active(front);
    windows_.set_foreground(front);
    const char key = stroke_key(point);
    deliver(point, key, [this, key] { typer_.type(std::string(1, key)); }, true);
}

void KeySender::send_key(char key, std::int32_t point) {
    if (keys_go_to_focused_window(windows_)) {
        send_one_key(point);
        return;
    }
    if (reaches_toplevel_windows(windows_)) {
        send_to_toplevel_target(key, point);
        return;
    }
    const TargetDriver& d = target_driver(target_);
    if (d.find_window == nullptr) return;
    // A browser is not looked for by its process: its tab is the window.
    if (d.exe != nullptr) {
        if (window_.find_processes(d.exe) == 0) {
            report_.program_not_running({d.absent_shown, d.absent_logged});
            (void)dialog_.wait_key();
            return;  // the key stays pending and is tried again on the next pass
        }
        window_.check_single_process();
    }
    window_.set_key_window(d.find_window(window_));
    const char upper_key = upper(key);
    deliver(point, upper_key, [this, &d, upper_key] {
        if (d.send_key != nullptr) d.send_key(window_, window_.key_window(), upper_key);
    }, false);
}

// A key due for a tower reached over the link: the same bookkeeping as a
// typed key (the doubled key of a missed strike too), but no window and no
// focus to check.
void KeySender::ring_on_link(std::int32_t point) {
    const char key = stroke_key(point);
    deliver(point, key, [this, key] { tower_.ring(key); }, false);
}

bool KeySender::made_up_due(std::int32_t point) const { return made_up_point_ == point && made_up_send_; }

void KeySender::send_made_up_key_now() {
    if (made_up_point_ < 0) return;
    const std::int32_t point = made_up_point_;
    made_up_point_ = -1;
    if (!keys_.pending(point) || !made_up_send_) return;
    made_up_send_();
    made_up_send_ = nullptr;
    keys_.settle(point);
    if (settings_.monitor_output) report_.doubled_key_sent({made_up_key_});
}

std::int64_t KeySender::next_key_due(std::int64_t now_us) const {
    return keys_.next_due_us(target_.sensors_active(), now_us);
}

void KeySender::send_due_keys() {
    for (std::int32_t point = 0; point < target_.sensors_active() && point < kMaxSensors; ++point) {
        if (!keys_.pending(point) || clock_.elapsed_us() < keys_.due_us(point)) continue;
        if (made_up_due(point)) {
            send_made_up_key_now();
            report_.due_key_handled({point});
            continue;
        }
        if (tower_.in_use())
            ring_on_link(point);
        else if (target_driver(target_).route == KeyRoute::FocusedWindow)
            send_one_key(point);
        else
            send_key(stroke_key(point), point);
        report_.due_key_handled({point});
    }
}

}  // namespace qn
