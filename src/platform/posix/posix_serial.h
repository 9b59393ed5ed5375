// Serial ports through the Linux tty layer.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial.h"

namespace qn::platform::posix {

// "\\.\ttyUSB0" -> "/dev/ttyUSB0"; a name that starts with "/" is a path.
std::string device_path(const std::string& device);

class PosixSerial : public SerialPorts {
public:
    PosixSerial();
    ~PosixSerial() override;

    Result<std::vector<std::string>> list_port_names() override;
    std::string device_name(const std::string& port) override { return device_path(port); }
    std::string stored_device_name(const std::string& stored) override;
    bool opens_unlisted(const std::string& device) override { return !device.empty() && device[0] == '/'; }
    Result<PortHandle> open(const std::string& device) override;
    void close(PortHandle h) override;
    Result<LineSettings> get_state(PortHandle h) override;
    Result<void> set_state(PortHandle h, const LineSettings& s) override;
    Result<Timeouts> get_timeouts(PortHandle h) override;
    Result<void> set_timeouts(PortHandle h, const Timeouts& t) override;
    Result<void> set_mask(PortHandle h, std::uint32_t ev_mask) override;
    Result<std::uint32_t> wait_event(PortHandle h) override;
    Result<std::uint32_t> modem_status(PortHandle h) override;
    Result<std::uint32_t> read(PortHandle h, char* buf, std::uint32_t max) override;
    Result<void> purge(PortHandle h, std::uint32_t flags) override;
    Result<void> flush(PortHandle h) override;
    PortLatency tune_latency(PortHandle h) override;

    // The open descriptor behind a handle, for waiting on it; -1 when closed.
    static int poll_fd(PortHandle h);

    struct Port;

private:
    std::mutex lock_;
    // Closed ports keep their record, so a thread still holding the handle
    // gets an error instead of touching freed memory.
    std::deque<std::unique_ptr<Port>> ports_;
};

// The tty names under class_dir (/sys/class/tty) that belong to a real
// device, in natural order ("ttyS2" before "ttyS10"). Ports of the serial
// core (the 8250 driver and, on newer kernels, every port on the
// "serial-base" bus) are kept only if TIOCGSERIAL on dev_dir/name reports a
// UART: the 8250 driver registers ports whether or not hardware is there.
Result<std::vector<std::string>> list_tty_ports(const std::string& class_dir,
                                                const std::string& dev_dir);
bool natural_less(const std::string& a, const std::string& b);

}  // namespace qn::platform::posix
