#pragma once

#include <cstdint>

namespace qn {
struct Context;
void schedule_outputs(Context& c);
// How the signal's spacing was judged against the strikes before it.
enum class Spacing { Normal, Spurious, Missed };
Spacing fix_rogue_strikes(Context& c, std::int32_t I);
char line_char(bool b);
}  // namespace qn
