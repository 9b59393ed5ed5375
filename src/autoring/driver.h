// The automatic-ringing beat clock.
#pragma once

namespace qn {

struct Context;

// One step; returns 'A' when ringing must stop, else '\0'.
char autoring_driver_step(Context& c);
bool GETNEXTDOUBLEROW(Context& c);
void HALFDOUBLEROW(Context& c);
void EXPORTKEY(Context& c, char ch);

}  // namespace qn
