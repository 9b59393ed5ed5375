// The target menu, and the drivers of the target programs: how each finds
// its window and sends it a key.
#pragma once

#include "config/settings.h"
#include "core/delivery_records.h"
#include "core/dialog.h"
#include "config/current_target.h"
#include "keyout/target_window.h"
#include "keyout/tower_ring.h"
#include "platform/platform.h"

namespace qn {

// Asks which target the keys go to, and takes its parameters.
void choose_target(Settings& settings, CurrentTarget& target, platform::Windows& windows, Dialog& dialog,
                   DeliveryReport& report, TowerRing& tower);

platform::WindowHandle find_abel_window(TargetWindow& w);
platform::WindowHandle find_beltower_window(TargetWindow& w);
platform::WindowHandle find_muster_window(TargetWindow& w);
platform::WindowHandle find_ringing_room_window(TargetWindow& w);
platform::WindowHandle find_ding_window(TargetWindow& w);

void send_key_to_abel(TargetWindow& w, platform::WindowHandle input_window, char ch);
void send_key_to_beltower(TargetWindow& w, platform::WindowHandle input_window, char ch);
void send_key_to_muster(TargetWindow& w, platform::WindowHandle input_window, char ch);
void send_key_to_ringing_room(TargetWindow& w, platform::WindowHandle input_window, char ch);
void send_key_to_ding(TargetWindow& w, platform::WindowHandle input_window, char ch);

}  // namespace qn
