// FTDI USB serial adapters under Windows: the driver's settings per port.
#pragma once

#include "platform/win32/win32.h"

namespace qn::platform::win32 {

// The latency timer FTDI's driver uses for a port ("COM5"), from the
// registry: the key HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS\<device>
// \<instance>\Device Parameters whose PortName is the port. timer_ms is -1
// when no FTDI device has that port.
PortLatency ftdi_latency(const std::string& port_name);

}  // namespace qn::platform::win32
