// Listing, opening and reading serial ports.
#pragma once

#include <cstdint>
#include <string>

#include "core/context.h"

namespace qn {

std::string serial_port_names(Context& c);
void list_serial_ports(Context& c, std::int32_t& total, Arr<std::string, 1, kMaxSerialPorts>& names);

// Opens "\\.\" + name with the first-column settings; 0 on failure.
PortHandle open_serial_port(Context& c, const std::string& device);
// The service settings: 2400 8N1, then RTS on, then DTR on.
bool set_service_settings(Context& c, PortHandle h);
void start_serial_port(Context& c);
bool cts_is_on(Context& c, PortHandle h);
bool dsr_is_on(Context& c, PortHandle h);
bool cd_is_on(Context& c, PortHandle h);
bool ri_is_on(Context& c, PortHandle h);
// Reads at most one character with a total time-out (0: none, what is
// there already): 0 or 1, or the error of a port that no longer answers (an
// adapter pulled out).
platform::Result<std::int32_t> read_serial_byte(Context& c, PortHandle h, char* buf, std::int32_t millisecs);
// The same where a failed read counts as no character (calibration's sweeps).
std::int32_t read_serial_char(Context& c, PortHandle h, char* buf, std::int32_t millisecs);
// Asks for low latency on the service port and logs what the adapter does
// to incoming bytes; in data mode an adapter that holds them back more than
// 2 ms is told on the screen too, with how to change it.
void report_port_latency(Context& c);
// Flush, purge output, close.
void close_serial_port(Context& c, PortHandle h);

}  // namespace qn
