#include "config/current_target.h"

namespace qn {

void CurrentTarget::take(std::int32_t index) {
    index_ = index;
    const TargetProgram& e = table_[index];
    // A settings file may hold any number here; the tables hold 16.
    sensors_active_ = e.sensors_active < 0 ? 0 : (e.sensors_active > kMaxSensors ? kMaxSensors : e.sensors_active);
    restricted_ = e.restricted;
    seeks_window_ = e.find_window;
    use_doubled_send_ = e.use_doubled_send;
    double_strike_delay_ms_ = e.double_strike_delay_ms;
    for (std::int32_t j = 0; j < sensors_active_; ++j) points_[j] = e.points[static_cast<std::size_t>(j)];
}

}  // namespace qn
