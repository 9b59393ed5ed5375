#pragma once

namespace qn {
struct Context;
// A signal taken by the watch loop: the keys of its sensing points queued,
// a key due at once sent at once, the row counted.
void schedule_outputs(Context& c);
char line_char(bool b);
}  // namespace qn
