#pragma once

#include <cstdint>

namespace qn {
struct Context;
void WRITEPORTTIMESSIGNALS(Context& c, std::int32_t p);
void WRITEPORTTIMESDATA(Context& c, std::int32_t p);
void WRITEPORTTIMESSMY(Context& c, std::int32_t p);
}  // namespace qn
