#pragma once

namespace qn {
struct Context;
void CALIBRATE(Context& c, bool full);
}  // namespace qn
