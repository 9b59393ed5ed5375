// The ranges of the numeric settings: the settings reader, the
// configuration menu and the delay keys of the service all keep to them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qn {

struct Settings;

// What a value outside its range gives: the line is left out (the value
// stays as it was: the start-up default, or the main file's value under
// bespoke.ini), or the nearest end of the range is taken (a key delay of
// -500 means "no delay" and one of two thousand million the longest).
enum class Beyond { LeaveOut, Nearest };

struct SettingRange {
    const char* key;
    double lo;
    double hi;
    Beyond beyond;
};

// The range of a numeric setting by its key name ("keydelayhand"); null for
// a setting that has none. whichsensor names a sensor of the bell: its top
// is the sensor count once that is known.
const SettingRange* setting_range(std::string_view key);
double range_top(const Settings& settings, const SettingRange& r);

// "0..2000", "1.01..10".
std::string range_text(const Settings& settings, const SettingRange& r);

// A key delay after a step of the + - < > keys: never below 0 or above the
// range's top, and no overflow on the way.
std::int32_t stepped_key_delay(std::int32_t delay_ms, std::int32_t step_ms);

}  // namespace qn
