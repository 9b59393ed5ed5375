// Sending due keys, with the focus checks and doubled keys.
#pragma once

#include <cstdint>

#include "core/context.h"

namespace qn {

void send_due_keys(Context& c);
// The earliest due time of a pending key that is not yet due at now_us, or
// -1 when there is none.
std::int64_t next_key_due(const Context& c, std::int64_t now_us);
void send_one_key(Context& c, std::int32_t I);
void ring_on_link(Context& c, std::int32_t I);
bool adopt_focus_window(Context& c, WindowHandle hwnd);
void send_key(Context& c, char key, std::int32_t I);
void do_key_action(Context& c, std::int32_t target_index, char key, std::int32_t I);

}  // namespace qn
