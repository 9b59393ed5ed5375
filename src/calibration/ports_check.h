#pragma once

#include <cstdint>

namespace qn {
struct Context;
void set_up_serial_ports(Context& c);
void check_available_ports(Context& c);
void zero_rest_on_port(Context& c, std::int32_t port);
}  // namespace qn
