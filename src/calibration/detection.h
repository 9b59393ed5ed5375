#pragma once

#include <cstdint>

namespace qn {
struct Calibration;
void calibrate_sensors(Calibration& c, std::int32_t& current_port);
void seek_serial_events(Calibration& c, std::int32_t p);
bool assess_serial_event(Calibration& c, std::int32_t p, std::int32_t slot);
bool termination_reasonable(Calibration& c, std::int32_t p);
}  // namespace qn
