#pragma once

namespace qn {
struct Context;
bool set_up_autoring(Context& c);
}  // namespace qn
