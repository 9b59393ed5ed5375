#pragma once

#include <cstdint>

namespace qn {
struct Context;
void DOOUTPUTS(Context& c);
void FIXROGUESTRIKES(Context& c, std::int32_t I);
char CHB(bool b);
}  // namespace qn
