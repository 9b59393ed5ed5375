// The sensing owners wired into the program's state: opening the service
// port, starting the serial thread, data mode's reader, a lost port.
#pragma once

#include <cstdint>

#include "core/modem_line.h"
#include "platform/serial.h"

namespace qn {

struct Context;
class DataPortReader;
class SerialThread;

// Opens the settings' port as the service port; a port that cannot be
// opened ends the run (code 95).
void start_serial_port(Context& c);
// The serial thread on port h, watching lines, not yet started.
SerialThread& make_serial_thread(Context& c, platform::PortHandle h, const PerModemLine<bool>& lines);
// Starts the serial thread on port h, watching lines (or every line when
// none is given).
void start_serial_thread(Context& c, platform::PortHandle h, const PerModemLine<bool>& lines);
bool serial_thread_running(const Context& c);
// Empties the event ring for a new recording, the thread held meanwhile.
void reset_serial_thread(Context& c);
// Data mode's reader of the service port.
DataPortReader& data_port_reader(Context& c);
// Where the service port was given up (0: it was not).
std::int32_t port_lost_at(const Context& c);
// The port has stopped answering: the ringer is told, then the run ends.
[[noreturn]] void stop_on_bad_port(Context& c, std::int32_t location);

}  // namespace qn
