#pragma once

#include <cstdint>

namespace qn {
struct Context;
void DOOUTPUTS(Context& c);
// How the signal's spacing was judged against the strikes before it.
enum class Spacing { Normal, Spurious, Missed };
Spacing FIXROGUESTRIKES(Context& c, std::int32_t I);
char CHB(bool b);
}  // namespace qn
