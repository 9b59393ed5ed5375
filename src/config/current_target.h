// The target the keys go to now: the table of targets, the entry selected,
// and the sensing points and delays taken from it (the strike path reads
// them through a const reference). Sensing points are numbered from 0 here;
// the screen, the log and the settings file number them from 1.
#pragma once

#include <cstdint>

#include "config/settings.h"
#include "core/checked_array.h"

namespace qn {

class CurrentTarget {
public:
    TargetTable& table() { return table_; }
    const TargetTable& table() const { return table_; }
    std::int32_t index() const { return index_; }
    const TargetProgram& entry() const { return table_[index_]; }
    TargetProgram& entry() { return table_[index_]; }
    // Selects entry index and takes its parameters.
    void take(std::int32_t index);
    // No window is sought before ringing, and its focus is not guarded.
    void free_of_window() {
        seeks_window_ = false;
        restricted_ = false;
    }

    std::int32_t sensors_active() const { return sensors_active_; }
    void set_sensors_active(std::int32_t n) { sensors_active_ = n; }
    // The keys go only while the target's window has the focus.
    bool restricted() const { return restricted_; }
    // The target's window is looked for before ringing.
    bool seeks_window() const { return seeks_window_; }
    void set_window_rules(bool seeks_window, bool restricted) {
        seeks_window_ = seeks_window;
        restricted_ = restricted;
    }
    bool use_doubled_send() const { return use_doubled_send_; }
    void set_use_doubled_send(bool on) { use_doubled_send_ = on; }
    std::int32_t double_strike_delay_ms() const { return double_strike_delay_ms_; }
    void set_double_strike_delay_ms(std::int32_t ms) { double_strike_delay_ms_ = ms; }

    SensingPoint& point(std::int32_t i) { return points_[i]; }
    const SensingPoint& point(std::int32_t i) const { return points_[i]; }

private:
    TargetTable table_;
    std::int32_t index_ = 0;
    std::int32_t sensors_active_ = 0;
    bool restricted_ = false;
    bool seeks_window_ = false;
    bool use_doubled_send_ = false;
    std::int32_t double_strike_delay_ms_ = 0;
    CheckedArray<SensingPoint, kMaxSensors> points_;
};

}  // namespace qn
