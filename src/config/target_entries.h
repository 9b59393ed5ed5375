// The target programs' entries as a settings file holds them: each entry's
// name and defaults. How an entry's keys reach its program is keyout's
// (targets.h), row for row with this table.
#pragma once

#include <cstdint>
#include <string>

#include "config/settings.h"

namespace qn {

struct TargetDefaults {
    const char* name;
    const char* window;
    bool find;
    bool restricted;
    bool sensor_is_last;  // sensor = sensor_count, else 1
    char key;
    std::int32_t delay_one_ms;
    std::int32_t delay_more_ms;
};

// The entry's defaults; an index outside the table gives Open's.
const TargetDefaults& target_defaults(std::int32_t index);
// Entry index of the table as calibration sets it up for a bell of this
// many sensors.
TargetProgram default_target_entry(int index, std::int32_t sensors);
// A name the table selects: "Open" or one of the programs' own names.
bool is_target_name(const std::string& name);

}  // namespace qn
