#pragma once

namespace qn {
struct Context;
// Takes at most one sensor event; always returns true.
bool WATCHPORTS(Context& c);
}  // namespace qn
