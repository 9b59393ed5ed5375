#pragma once

#include <cstdint>

namespace qn {
struct Context;
void SETUPSERIALPORTS(Context& c);
void CHECKWHICHSERIALPORTSAVAILABLE(Context& c);
void ZEROBAGLEYDATSINGLE(Context& c, std::int32_t CURRENTPORT);
}  // namespace qn
