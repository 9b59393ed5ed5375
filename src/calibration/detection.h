#pragma once

#include <cstdint>

namespace qn {
struct Context;
void calibrate_sensors(Context& c, std::int32_t& current_port);
void seek_serial_events(Context& c, std::int32_t p);
bool assess_serial_event(Context& c, std::int32_t p, std::int32_t slot);
bool termination_reasonable(Context& c, std::int32_t p);
}  // namespace qn
