#pragma once

#include <cstdint>

namespace qn {
struct Context;
void DOSENSORCALIBRATION(Context& c, std::int32_t& CURRENTPORTIDX);
void SEEKSERIALEVENTS(Context& c, std::int32_t p);
bool ASSESSSERIALEVENT(Context& c, std::int32_t p, std::int32_t slot);
bool CHECKTERMINATIONREASONABLE(Context& c, std::int32_t p);
}  // namespace qn
