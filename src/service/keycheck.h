#pragma once

namespace qn {
struct Program;
void check_keys(Program& program);
// Carries out one command key (upper case) as if it had been pressed.
void do_command(Program& program, char key);
// Ringing paused (or the touch's output list is full): the touch's event log
// is written, and after a pause the next strike starts a new touch. Not
// while nothing has been rung, nor under automatic ringing.
void end_touch(Program& program, bool pause);
// The automatic ringer's set-up, asked of the ringer (autoring/setup.h).
bool set_up_autoring(Program& program);
}  // namespace qn
