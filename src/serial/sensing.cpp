#include "serial/sensing.h"

#include "core/colour.h"
#include "core/text.h"
#include "serial/serial_thread.h"

namespace qn {

Sensing::Sensing(SensorPorts& ports, EventRing& ring, RunClock& clock, const Settings& settings, TextSink& log,
                 Dialog& dialog, platform::SerialPorts& serial, platform::Wait& wait, platform::Threads& threads,
                 std::function<void()> thread_start)
    : ports_(ports),
      ring_(ring),
      clock_(clock),
      settings_(settings),
      log_(log),
      dialog_(dialog),
      serial_(serial),
      wait_(wait),
      threads_(threads),
      thread_start_(std::move(thread_start)) {}

Sensing::~Sensing() = default;

SerialClock Sensing::serial_clock() const { return SerialClock(*clock_.stopwatch(), wait_, threads_); }

void Sensing::open_service_port() {
    ports_.set_service(ports_.open(settings_.port_name));
    if (ports_.service() == 0) dialog_.halt(95, "Open " + settings_.port_name + " failed - check COM port connection");
    (void)ports_.set_service_settings(ports_.service(), settings_.port_name);
}

SerialThread& Sensing::make_thread(platform::PortHandle h, const PerModemLine<bool>& lines) {
    thread_ = std::make_unique<SerialThread>(WatchedPort{serial_, h}, serial_clock(), ring_, wait_, log_,
                                             SerialThreadSettings{lines, &settings_.transient_ms});
    return *thread_;
}

void Sensing::start_thread(platform::PortHandle h, const PerModemLine<bool>& lines) {
    make_thread(h, lines);
    launch_serial_thread(*thread_, threads_, log_, dialog_, *clock_.stopwatch(), thread_start_);
}

bool Sensing::thread_running() const { return thread_ && thread_->running(); }

void Sensing::reset_ring() { clear_event_ring(ring_, thread_.get(), threads_, log_); }

DataPortReader& Sensing::data_reader() {
    if (!data_reader_) data_reader_ = std::make_unique<DataPortReader>(ports_, serial_clock(), log_, wait_);
    return *data_reader_;
}

std::int32_t Sensing::port_lost_at() const {
    if (thread_ && thread_->lost_at() != 0) return thread_->lost_at();
    return data_reader_ ? data_reader_->lost_at() : 0;
}

void Sensing::stop_on_bad_port(std::int32_t location) {
    dialog_.colour(kYellow);
    dialog_.write_line("Serial port not responding locn " + str(location) + " - terminating");
    log_.write_line("Serial port not responding locn " + str(location));
    log_.flush();
    dialog_.pause_ms(4000);
    dialog_.end_process(0);
}

}  // namespace qn
