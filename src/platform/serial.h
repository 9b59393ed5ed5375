// Serial ports: listing, opening, line settings, modem-line waits and reads.
// Modem-status and event bits keep their Windows values on every platform,
// because the settings file, the ring buffer and the event log carry them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/result.h"

namespace qn::platform {

using PortHandle = std::uintptr_t;  // 0 means "not open"

// Modem status word bits (GetCommModemStatus).
inline constexpr std::uint32_t kLineCts = 0x10;
inline constexpr std::uint32_t kLineDsr = 0x20;
inline constexpr std::uint32_t kLineRi = 0x40;
inline constexpr std::uint32_t kLineCd = 0x80;

// Event mask bits (SetCommMask / WaitCommEvent).
inline constexpr std::uint32_t kEventCts = 0x0008;
inline constexpr std::uint32_t kEventDsr = 0x0010;
inline constexpr std::uint32_t kEventCd = 0x0020;
inline constexpr std::uint32_t kEventRi = 0x0100;

// PurgeComm flags.
inline constexpr std::uint32_t kPurgeTxAbort = 0x0001;
inline constexpr std::uint32_t kPurgeRxAbort = 0x0002;
inline constexpr std::uint32_t kPurgeTxClear = 0x0004;
inline constexpr std::uint32_t kPurgeRxClear = 0x0008;

inline constexpr std::uint32_t kTimeoutMax = 0xFFFFFFFFu;

enum class Parity : std::uint8_t { None, Odd, Even };
enum class StopBits : std::uint8_t { One, OneAndHalf, Two };
enum class LineControl : std::uint8_t { Disable, Enable, Handshake };

// The part of a DCB the program sets.
struct LineSettings {
    std::uint32_t baud = 9600;
    std::uint8_t data_bits = 8;
    Parity parity = Parity::None;
    StopBits stop_bits = StopBits::One;
    bool binary = true;
    bool outx_cts_flow = false;
    bool outx_dsr_flow = false;
    LineControl dtr_control = LineControl::Disable;
    LineControl rts_control = LineControl::Disable;
    bool outx = false;  // software flow control, output
    bool inx = false;   // software flow control, input
    char xon_char = 0x11;
    char xoff_char = 0x13;
    std::uint16_t xon_lim = 512;
    std::uint16_t xoff_lim = 1;
};

// COMMTIMEOUTS, in milliseconds.
struct Timeouts {
    std::uint32_t read_interval = 0;
    std::uint32_t read_total_multiplier = 0;
    std::uint32_t read_total_constant = 0;
    std::uint32_t write_total_multiplier = 0;
    std::uint32_t write_total_constant = 0;
};

// What a USB serial adapter does to the timing of incoming bytes. Adapters
// such as FTDI's hold received bytes back for their latency timer (16 ms
// unless told otherwise); modem-line changes are sent on at once.
struct PortLatency {
    int timer_ms = -1;         // the adapter's latency timer; -1: not known (no such setting, not USB)
    std::string where;         // where it was read (a sysfs file, a registry key)
    bool low_latency = false;  // the driver agreed to pass bytes on at once
    std::string note;          // what asking for low latency gave, for the log
    std::string advice;        // how the user can lower the timer, when it is high
};

class SerialPorts {
public:
    virtual ~SerialPorts() = default;

    // Port names as the system lists them (registry order on Windows:
    // "COM3"; on Linux the device files of the ttys with a real driver:
    // "/dev/ttyUSB0").
    virtual Result<std::vector<std::string>> list_port_names() = 0;

    // The device name of a listed port: what open() takes and the settings
    // file stores ("\\.\COM3"; on Linux the path itself).
    virtual std::string device_name(const std::string& port) { return "\\\\.\\" + port; }
    // A device name as a settings file holds it, in this system's form
    // (older Linux settings files hold "\\.\ttyUSB0").
    virtual std::string stored_device_name(const std::string& stored) { return stored; }
    // Whether a device the list does not show may still be opened by its
    // name (on Linux any path: a /dev/serial/by-id link, a pty).
    virtual bool opens_unlisted(const std::string&) { return false; }

    // Exclusive read/write; every call blocks its caller.
    virtual Result<PortHandle> open(const std::string& device) = 0;
    virtual void close(PortHandle h) = 0;

    virtual Result<LineSettings> get_state(PortHandle h) = 0;
    virtual Result<void> set_state(PortHandle h, const LineSettings& s) = 0;
    virtual Result<Timeouts> get_timeouts(PortHandle h) = 0;
    virtual Result<void> set_timeouts(PortHandle h, const Timeouts& t) = 0;

    virtual Result<void> set_mask(PortHandle h, std::uint32_t ev_mask) = 0;
    // Blocks until a line in the mask changes; returns the EV_ bits seen.
    virtual Result<std::uint32_t> wait_event(PortHandle h) = 0;
    virtual Result<std::uint32_t> modem_status(PortHandle h) = 0;

    // Reads up to max bytes under the port's read time-outs; returns the count.
    virtual Result<std::uint32_t> read(PortHandle h, char* buf, std::uint32_t max) = 0;

    virtual Result<void> purge(PortHandle h, std::uint32_t flags) = 0;
    virtual Result<void> flush(PortHandle h) = 0;

    // Asks the driver for low latency where the OS has such a request, and
    // reads the adapter's latency timer where it can be read.
    virtual PortLatency tune_latency(PortHandle) { return {}; }
};

}  // namespace qn::platform
