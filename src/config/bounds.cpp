#include "config/bounds.h"

#include <algorithm>
#include <limits>

#include "config/settings.h"
#include "core/text.h"

namespace qn {

namespace {

constexpr double kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr double kSecondsInADay = 86400;

// Times in milliseconds. A key still waiting at the bell's next blow is lost
// (the blow takes its place), and two blows of a bell are under 2 s apart at
// a brisk pace, so a key delay tops out well inside that; a signal length
// covers the longest the calibration window can measure.
// Filters (switch bounce, transients) beyond their range would swallow the
// blows, so such a line is left out rather than cut to the range.
// A calibration's figures are seconds from its first signal: a day is far
// beyond any recording, and keeps a figure within what the file can show.
// The sensor lines are flags, 0 or 1: a line read as off that was meant on
// would leave nothing watched, so any other value is left out.
const SettingRange kRanges[] = {
    {"usects", 0, 1, Beyond::LeaveOut},
    {"usedsr", 0, 1, Beyond::LeaveOut},
    {"usecd", 0, 1, Beyond::LeaveOut},
    {"useri", 0, 1, Beyond::LeaveOut},
    {"signalnum", 0, kMaxCalibrationEvents, Beyond::LeaveOut},
    {"signaltime", 0, kSecondsInADay, Beyond::LeaveOut},
    {"signalgap", 0, kSecondsInADay, Beyond::LeaveOut},
    {"sensorgap", 0, kSecondsInADay, Beyond::LeaveOut},
    {"sleepnum", -1, 50, Beyond::LeaveOut},
    {"switchbouncedelay", 0, 500, Beyond::LeaveOut},
    {"transientsignalsdelay", 0, 50, Beyond::LeaveOut},
    {"sensornum", 1, kMaxSensors, Beyond::LeaveOut},
    {"meansignallength", 0, 30000, Beyond::LeaveOut},
    {"spaceratiolowerbound", 0, 0.99, Beyond::LeaveOut},
    {"spaceratioupperbound", 1.01, 10, Beyond::LeaveOut},
    {"sensorsactive", 0, kMaxSensors, Beyond::LeaveOut},
    {"doublestrikedelay", 0, 1000, Beyond::Nearest},
    {"whichsensor", 1, kMaxSensors, Beyond::LeaveOut},
    {"keydelayhand", 0, 1000, Beyond::Nearest},
    {"keydelayback", 0, 1000, Beyond::Nearest},
    {"towerid", 0, kInt32Max, Beyond::LeaveOut},
    {"towerbellj", 0, 16, Beyond::LeaveOut},
    {"towerbellf", 0, 16, Beyond::LeaveOut},
    {"bandhanddelay", 0, 1000, Beyond::Nearest},
    {"bandbackdelay", 0, 1000, Beyond::Nearest},
};

std::string number_text(double v) {
    if (v == static_cast<double>(static_cast<std::int64_t>(v))) return str(static_cast<std::int64_t>(v));
    std::string t = fixed_text(v, 1, 2);
    while (t.back() == '0') t.pop_back();
    if (t.back() == '.') t.pop_back();
    return t;
}

}  // namespace

const SettingRange* setting_range(std::string_view key) {
    for (const SettingRange& r : kRanges)
        if (key == r.key) return &r;
    return nullptr;
}

double range_top(const Settings& settings, const SettingRange& r) {
    const std::int32_t sensors = settings.sensor_count;
    if (std::string_view(r.key) == "whichsensor" && sensors >= 1 && sensors <= kMaxSensors) return sensors;
    return r.hi;
}

std::string range_text(const Settings& settings, const SettingRange& r) {
    return number_text(r.lo) + ".." + number_text(range_top(settings, r));
}

std::int32_t stepped_key_delay(std::int32_t delay_ms, std::int32_t step_ms) {
    const SettingRange& r = *setting_range("keydelayhand");
    const std::int64_t v = std::int64_t{delay_ms} + step_ms;
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(v, static_cast<std::int64_t>(r.lo), static_cast<std::int64_t>(r.hi)));
}

}  // namespace qn
