#pragma once

namespace qn {
struct Context;
bool SETUPARAMETERSAUTORING(Context& c);
}  // namespace qn
