// Serial ports with the simulated bell on them. They keep the driver's
// habits the program relies on: a line change made between two waits is
// reported by the next wait at once; a wait completes at the change that
// ended it, leaving later ones for the next; reads follow COMMTIMEOUTS; a
// port is open to one handle at a time; a closed handle fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/serial.h"
#include "platform/sim/bell.h"
#include "platform/sim/sim_time.h"

namespace qn::platform::sim {

struct SimPortEntry {
    std::string name;         // as listed: "SIM1"
    SimBell* bell = nullptr;  // nothing connected when null
    // A multi-bell interface box: the other bells whose characters come on
    // the same port (data mode), merged by their arrival.
    std::vector<SimBell*> band;
};

class SimSerial : public SerialPorts {
public:
    SimSerial(SimTime& time, std::vector<SimPortEntry> ports);

    Result<std::vector<std::string>> list_port_names() override;
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

    // The adapter of the port pulled out (false) or put back (true): while
    // it is out the port is not listed and cannot be opened, and every call
    // on a handle opened before fails at once. Lock not held.
    void set_plugged_in(const std::string& name, bool in);

    // When the next unread byte arrives on the port (kNever: none known yet).
    // The time's lock held.
    std::int64_t next_byte_at(PortHandle h);

private:
    struct Port {
        SimPortEntry entry;
        PortHandle handle = 0;  // 0: closed
        LineSettings settings;
        Timeouts timeouts;
        std::uint32_t mask = 0;
        std::int64_t reported_until = 0;  // line changes up to here have been reported
        std::size_t next_byte = 0;        // the first byte not yet read
        bool gone = false;                // the adapter has been pulled out
        std::vector<DataByte> merged;     // a band's bytes, by arrival
        std::size_t merged_from = 0;      // the bytes of every bell the merge holds
    };

    Port* by_handle(PortHandle h);
    std::uint32_t events_between(Port& p, std::int64_t from, std::int64_t to, std::int64_t* first);
    std::size_t skip_bytes_until(Port& p, std::int64_t t);
    // Every byte of the port's bells known at t (each bell's bytes up to t
    // are all there, so a merge never moves a byte already read).
    const std::vector<DataByte>& bytes_until(Port& p, std::int64_t t);

    SimTime& time_;
    std::vector<Port> ports_;
    PortHandle next_handle_ = 0x51;
};

}  // namespace qn::platform::sim
