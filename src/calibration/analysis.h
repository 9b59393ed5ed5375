#pragma once

#include <cstdint>

namespace qn {
struct Calibration;
void write_port_times_signals(Calibration& c, std::int32_t p);
void write_port_times_data(Calibration& c, std::int32_t p);
void write_port_times_summary(Calibration& c, std::int32_t p);
}  // namespace qn
