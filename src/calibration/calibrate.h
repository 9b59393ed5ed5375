#pragma once

namespace qn {
struct Context;
void calibrate(Context& c, bool full);
}  // namespace qn
