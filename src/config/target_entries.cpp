#include "config/target_entries.h"

#include <array>

namespace qn {

namespace {

// Entry 4 has no delay with one sensor and the full delay with more, the
// reverse of entry 5; entries 5 and 6 have none with more than one sensor.
// Stored settings files and users' habits rest on these values; the
// entries' numbers are stored too, so the rows stay in this order.
constexpr std::array<TargetDefaults, kMaxTargetPrograms + 1> kEntries = {{
    {"Open", "Open", false, false, true, 'j', 380, 80},
    {"Ringing Room - any browser with focus", "Ringing Room", true, true, true, 'j', 380, 80},
    {"Ringing Room - Firefox", "Ringing Room * Mozilla Firefox", true, true, true, 'j', 380, 80},
    {"Ringing Room - Chrome or Edge", "Ringing Room ", true, true, true, 'j', 380, 80},
    {"Muster - using moving ropes", "Muster", true, true, false, 'j', 0, 380},
    {"Muster - no delay", "Muster", true, true, false, 'j', 380, 0},
    {"Ding - direct", "Ding", true, true, false, 'h', 380, 0},
    {"Ding - moving ropes", "Ding", true, true, false, 'h', 380, 80},
    {"Abel", "Abel", true, true, false, 'j', 380, 80},
    {"Beltower", "BELTOWER -", true, true, false, 'j', 380, 80},
}};

}  // namespace

const TargetDefaults& target_defaults(std::int32_t index) {
    if (index < 0 || index > kMaxTargetPrograms) return kEntries[0];
    return kEntries[static_cast<std::size_t>(index)];
}

TargetProgram default_target_entry(int index, std::int32_t sensors) {
    TargetProgram e;
    const TargetDefaults& d = target_defaults(index);
    e.sensors_active = 1;
    e.name = d.name;
    e.window_name = d.window;
    e.find_window = d.find;
    e.restricted = d.restricted;
    e.use_doubled_send = kDefaultUseDoubledSend;
    e.double_strike_delay_ms = kDefaultDoubleStrikeDelayMs;
    SensingPoint& p = e.points[0];
    p.sensor = d.sensor_is_last ? sensors : 1;
    p.hand_key = d.key;
    p.back_key = d.key;
    p.hand_delay_ms = sensors == 1 ? d.delay_one_ms : d.delay_more_ms;
    p.back_delay_ms = p.hand_delay_ms;
    return e;
}

bool is_target_name(const std::string& name) {
    if (name == "Open") return true;
    for (int i = 1; i <= kMaxTargetPrograms; ++i)
        if (name == kEntries[static_cast<std::size_t>(i)].name) return true;
    return false;
}

}  // namespace qn
