#pragma once

namespace qn {
struct Context;
// Takes at most one sensor event; always returns true.
bool watch_ports(Context& c);
}  // namespace qn
