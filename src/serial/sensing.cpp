#include "serial/sensing.h"

#include "core/context.h"
#include "core/scheduling.h"
#include "core/colour.h"
#include "core/text.h"
#include "serial/ports.h"
#include "serial/serial_thread.h"

namespace qn {

namespace {

SerialClock serial_clock(Context& c) { return SerialClock(*c.clock.stopwatch(), *c.plat.wait, *c.plat.threads); }

}  // namespace

void start_serial_port(Context& c) {
    c.ports.set_service(c.ports.open(c.cfg.port_name));
    if (c.ports.service() == 0) c.dialog.halt(95, "Open " + c.cfg.port_name + " failed - check COM port connection");
    (void)c.ports.set_service_settings(c.ports.service(), c.cfg.port_name);
}

SerialThread& make_serial_thread(Context& c, platform::PortHandle h, const PerModemLine<bool>& lines) {
    c.serial_thread = std::make_unique<SerialThread>(WatchedPort{*c.plat.serial, h}, serial_clock(c), c.event_ring,
                                                     *c.plat.wait, c.run_log,
                                                     SerialThreadSettings{lines, &c.cfg.transient_ms});
    return *c.serial_thread;
}

void start_serial_thread(Context& c, platform::PortHandle h, const PerModemLine<bool>& lines) {
    make_serial_thread(c, h, lines);
    launch_serial_thread(*c.serial_thread, *c.plat.threads, c.run_log, c.dialog, *c.clock.stopwatch(),
                         [&c] { ask_for_realtime(c.plat.scheduling, c.run_log, TimingThread::Serial); });
}

bool serial_thread_running(const Context& c) { return c.serial_thread && c.serial_thread->running(); }

void reset_serial_thread(Context& c) {
    clear_event_ring(c.event_ring, c.serial_thread.get(), *c.plat.threads, c.run_log);
}

DataPortReader& data_port_reader(Context& c) {
    if (!c.data_reader) c.data_reader = std::make_unique<DataPortReader>(c.ports, serial_clock(c), c.run_log, *c.plat.wait);
    return *c.data_reader;
}

std::int32_t port_lost_at(const Context& c) {
    if (c.serial_thread && c.serial_thread->lost_at() != 0) return c.serial_thread->lost_at();
    return c.data_reader ? c.data_reader->lost_at() : 0;
}

void stop_on_bad_port(Context& c, std::int32_t location) {
    c.dialog.colour(kYellow);
    c.dialog.write_line("Serial port not responding locn " + str(location) + " - terminating");
    c.run_log.write_line("Serial port not responding locn " + str(location));
    c.run_log.flush();
    c.dialog.pause_ms(4000);
    c.dialog.end_process(0);
}

}  // namespace qn
