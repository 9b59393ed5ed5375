// Sending due keys: each by the target's route (typed into the window in
// front, sent to the program's own window, or rung on the tower link), with
// the focus checks and the doubled key of a missed strike. Sensing points
// are numbered from 0.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "config/settings.h"
#include "core/delivery_records.h"
#include "core/dialog.h"
#include "core/timing.h"
#include "config/current_target.h"
#include "keyout/sendtext.h"
#include "keyout/target_window.h"
#include "keyout/tower_ring.h"
#include "platform/platform.h"
#include "strokes/key_queue.h"

namespace qn {

class KeySender {
public:
    KeySender(const Settings& settings, RunClock& clock, Dialog& dialog, DeliveryReport& report,
              platform::Windows& windows, const CurrentTarget& target, TargetWindow& window, KeyTyper& typer,
              KeyQueue& keys, TowerRing& tower)
        : settings_(settings), clock_(clock), dialog_(dialog), report_(report), windows_(windows),
          target_(target), window_(window), typer_(typer), keys_(keys), tower_(tower) {}

    void send_due_keys();
    // The earliest due time of a pending key that is not yet due at now_us,
    // or -1 when there is none.
    std::int64_t next_key_due(std::int64_t now_us) const;

    // The made-up second key of a missed strike waits in the queue instead
    // of holding up the loop (a band: the other bells' keys go meanwhile).
    void queue_made_up_keys() { queue_made_up_ = true; }
    // A made-up key still waiting goes now (its bell strikes again).
    void send_made_up_key_now();

    // Whether the target's window had the focus at the last key.
    bool has_focus() const { return focus_; }
    void set_focus(bool focus) { focus_ = focus; }
    // Another window is in front: it becomes the target's when its title
    // names the target.
    bool adopt_focus_window(platform::WindowHandle window);

private:
    void send_one_key(std::int32_t point);
    void send_key(char key, std::int32_t point);
    void send_to_toplevel_target(char key, std::int32_t point);
    void ring_on_link(std::int32_t point);
    void deliver(std::int32_t point, char key, const std::function<void()>& send, bool always_note_record);
    char stroke_key(std::int32_t point) const;
    void focus_lost(std::int32_t point);
    void focus_regained();
    bool bring_to_front(platform::WindowHandle w);
    void target_window_missing(std::int32_t point, char key);

    const Settings& settings_;
    RunClock& clock_;
    Dialog& dialog_;
    DeliveryReport& report_;
    platform::Windows& windows_;
    const CurrentTarget& target_;
    TargetWindow& window_;
    KeyTyper& typer_;
    KeyQueue& keys_;
    TowerRing& tower_;

    bool made_up_due(std::int32_t point) const;

    bool focus_ = true;
    std::int64_t last_key_us_ = 0;
    bool queue_made_up_ = false;
    std::int32_t made_up_point_ = -1;  // the point whose queued key is a made-up one
    char made_up_key_ = '\0';
    std::function<void()> made_up_send_;
};

}  // namespace qn
