// What the sensing side decides, as records, and the report it tells them
// to; the screen and the run log observe and word them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

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
class SensingReportFanOut : public SensingReport {
public:
    static constexpr int kMaxObservers = 2;

    // Returns false when it has no room for another.
    bool add(SensingReport& observer) {
        if (count_ == kMaxObservers) return false;
        observers_[static_cast<std::size_t>(count_++)] = &observer;
        return true;
    }
    void port_lost(const PortLost& r) override {
        for (int i = 0; i < count_; ++i) observers_[static_cast<std::size_t>(i)]->port_lost(r);
    }

private:
    std::array<SensingReport*, kMaxObservers> observers_{};
    int count_ = 0;
};

}  // namespace qn
