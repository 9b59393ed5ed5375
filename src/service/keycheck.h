#pragma once

namespace qn {
struct Context;
void check_keys(Context& c);
// Carries out one command key (upper case) as if it had been pressed.
void do_command(Context& c, char key);
}  // namespace qn
