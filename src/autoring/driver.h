// The automatic-ringing beat clock.
#pragma once

#include <cstdint>

namespace qn {

struct Context;

// One step; returns 'A' when ringing must stop, else '\0'.
char autoring_driver_step(Context& c);
// When the step will next ring a beat, in stopwatch microseconds; -1 when
// no beat is waiting for the clock.
std::int64_t next_beat_due(const Context& c);
bool next_double_row(Context& c);
void half_double_row(Context& c);
void export_key(Context& c, char ch);

}  // namespace qn
