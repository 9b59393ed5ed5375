#pragma once

namespace qn {
struct Context;
void RESETCOUNTERSTART(Context& c, bool pause);
void RESETZEROPARAMETERS(Context& c);
}  // namespace qn
