// What the sensing side decides, as records, and the report it tells them
// to; the screen and the run log observe and word them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/fan_out.h"

namespace qn {

// The service port stopped answering for more than a second: the program
// writes the touch's event log and ends.
struct PortLost {
    std::string port_name;      // the device name, as the settings hold it
    std::int32_t location = 0;  // where it was given up: 2 the serial thread, 7 data mode's reads
};

class SensingReport {
public:
    virtual ~SensingReport() = default;
    virtual void port_lost(const PortLost&) {}
};

// One report told to several observers, in the order they were added.
class SensingReportFanOut : public FanOut<SensingReport, 2> {
public:
    void port_lost(const PortLost& r) override { each(&SensingReport::port_lost, r); }
};

}  // namespace qn
