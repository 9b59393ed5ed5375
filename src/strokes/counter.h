#pragma once

namespace qn {
struct Context;
void reset_counter_start(Context& c, bool pause);
void reset_counter_state(Context& c);
}  // namespace qn
