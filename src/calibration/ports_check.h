#pragma once

#include <cstdint>

namespace qn {
struct Calibration;
void set_up_serial_ports(Calibration& c);
void check_available_ports(Calibration& c);
void zero_rest_on_port(Calibration& c, std::int32_t port);
}  // namespace qn
