// The serial ports: the list the system shows, the ports calibration has
// open while it looks for the bell, and the service port the bell is on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/text_sink.h"
#include "platform/result.h"
#include "platform/serial.h"
#include "serial/port_failures.h"

namespace qn {

using platform::PortHandle;

inline constexpr int kMaxSerialPorts = 25;

// What the adapter of the service port does to incoming bytes: the log line
// is written; warning holds the lines for the ringer (empty: nothing to tell).
struct PortLatencyNote {
    std::vector<std::string> warning;
};

class SensorPorts {
public:
    SensorPorts(platform::SerialPorts& serial, TextSink& log) : serial_(serial), log_(log) {}

    platform::SerialPorts& system() { return serial_; }

    // ---- the list ----
    // The system's port names as one comma list (quoted where a name has a
    // comma, a blank or a quote).
    std::string names_text();
    // Lists the ports again, at most kMaxSerialPorts of them.
    void list();
    std::int32_t count() const { return static_cast<std::int32_t>(names_.size()); }
    // Port i of the list, from 0.
    const std::string& name(std::int32_t i) const { return names_[static_cast<std::size_t>(i)]; }

    // ---- ports open by list position (calibration's survey) ----
    PortHandle handle(std::int32_t i) const { return handles_[static_cast<std::size_t>(i)]; }
    void set_handle(std::int32_t i, PortHandle h) { handles_[static_cast<std::size_t>(i)] = h; }
    // Closes port i of the list, if open.
    void close_handle(std::int32_t i);

    // ---- the service port ----
    PortHandle service() const { return service_; }
    void set_service(PortHandle h) { service_ = h; }
    void close_service();

    // ---- calls on a port ----
    // Opens the device with the first-column settings; 0 on failure (logged).
    PortHandle open(const std::string& device);
    // The service settings: 2400 8N1, then RTS on, then DTR on.
    bool set_service_settings(PortHandle h, const std::string& device);
    // Reads at most one character with a total time-out (0: none, what is
    // there already): 0 or 1, or the error of a port that no longer answers
    // (an adapter pulled out).
    platform::Result<std::int32_t> read_byte(PortHandle h, char* buf, std::int32_t timeout_ms);
    // The same where a failed read counts as no character (calibration's sweeps).
    std::int32_t read_char(PortHandle h, char* buf, std::int32_t timeout_ms);
    // Flush, purge output, close.
    void close(PortHandle h);
    // Asks for low latency on the service port and logs what the adapter
    // does to incoming bytes; in data mode an adapter that holds them back
    // more than 2 ms has a warning for the ringer, with how to change it.
    PortLatencyNote tune_latency(bool data_mode);

private:
    bool apply(PortHandle h, const platform::LineSettings& s, const std::string& what);
    bool set_port(PortHandle h, std::uint32_t baud, const std::string& device);

    platform::SerialPorts& serial_;
    TextSink& log_;
    std::vector<std::string> names_;
    std::vector<PortHandle> handles_ = std::vector<PortHandle>(kMaxSerialPorts, 0);
    PortHandle service_ = 0;
};

// Data mode's reads of the service port on the main thread: a failed read is
// no character, and reads that fail for over a second are a port lost
// (location 7).
class DataPortReader {
public:
    DataPortReader(SensorPorts& ports, SerialClock clock, TextSink& log, platform::Wait& wake)
        : ports_(ports), failures_(clock, log, wake) {}
    // A character if one is there (never waits): 0 or 1.
    std::int32_t read(char* into);
    bool failing() const { return failures_.failing(); }
    std::int32_t lost_at() const { return failures_.lost_at(); }

private:
    SensorPorts& ports_;
    PortFailures failures_;
};

}  // namespace qn
