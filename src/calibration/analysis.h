#pragma once

#include <cstdint>

namespace qn {
struct Context;
void write_port_times_signals(Context& c, std::int32_t p);
void write_port_times_data(Context& c, std::int32_t p);
void write_port_times_summary(Context& c, std::int32_t p);
}  // namespace qn
