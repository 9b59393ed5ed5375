#include "keyout/targets.h"

#include <algorithm>
#include <array>

#include "core/text_sink.h"
#include "core/text.h"
#include "config/target_entries.h"
#include "config/current_target.h"
#include "keyout/desktop.h"
#include "keyout/keysending.h"

namespace qn {

namespace {

constexpr std::array<const char*, 2> kNoClasses = {nullptr, nullptr};
// The em dash of code page 1252, in which titles are read.
constexpr const char* kRoomTitle = "\x97 Ringing Room ";

// Row for row with the stored entries (config/target_entries.h).
const std::array<TargetDriver, kMaxTargetPrograms + 1> kDrivers = {{
    {KeyRoute::FocusedWindow, false, Browser::None, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, kNoClasses,
     false},
    {KeyRoute::FocusedWindow, true, Browser::None, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, kNoClasses,
     false},
    {KeyRoute::ProgramWindow, true, Browser::Firefox, nullptr, nullptr, nullptr, find_ringing_room_window,
     send_key_to_ringing_room, kRoomTitle, {"firefox", nullptr}, false},
    {KeyRoute::ProgramWindow, true, Browser::Chrome, nullptr, nullptr, nullptr, find_ringing_room_window,
     send_key_to_ringing_room, kRoomTitle, {"chrom", "microsoft-edge"}, false},
    {KeyRoute::ProgramWindow, false, Browser::None, "Muster.exe", "Muster", "Muster", find_muster_window,
     send_key_to_muster, "Muster", {"muster.exe", nullptr}, true},
    {KeyRoute::ProgramWindow, false, Browser::None, "Muster.exe", "Muster", "Muster", find_muster_window,
     send_key_to_muster, "Muster", {"muster.exe", nullptr}, true},
    {KeyRoute::ProgramWindow, false, Browser::None, "ding.exe", "Ding", "Ding", find_ding_window, send_key_to_ding,
     "Ding", {"ding.exe", nullptr}, true},
    {KeyRoute::ProgramWindow, false, Browser::None, "ding.exe", "Ding", "Ding", find_ding_window, send_key_to_ding,
     "Ding", {"ding.exe", nullptr}, true},
    {KeyRoute::ProgramWindow, false, Browser::None, "Abel3.exe", "Abel3.exe", "Abel", find_abel_window,
     send_key_to_abel, "Abel", {"abel3.exe", nullptr}, true},
    {KeyRoute::ProgramWindow, false, Browser::None, "Beltow95.exe", "Beltower", "Beltower", find_beltower_window,
     send_key_to_beltower, "BELTOWER", {"beltow95.exe", nullptr}, true},
}};

}  // namespace

const TargetDriver& target_driver(std::int32_t index) {
    if (index < 0 || index > kMaxTargetPrograms) return kDrivers[0];
    return kDrivers[static_cast<std::size_t>(index)];
}

void set_target_defaults(CurrentTarget& target, std::int32_t sensors) {
    target.set_sensors_active(1);
    for (int i = 0; i <= kMaxTargetPrograms; ++i) {
        TargetProgram& e = target.table()[i];
        TargetProgram d = default_target_entry(i, sensors);
        // Sensing points beyond the bell's sensors keep what they held.
        for (std::size_t j = static_cast<std::size_t>(std::max<std::int32_t>(sensors, 1)); j < kMaxSensors; ++j)
            d.points[j] = e.points[j];
        e = d;
    }
}

std::uint8_t target_index_of(CurrentTarget& target, const std::string& name) {
    for (int i = 1; i <= kMaxTargetPrograms; ++i)
        if (name == target_defaults(i).name) return static_cast<std::uint8_t>(i);
    target.free_of_window();
    return 0;
}

std::string target_name(CurrentTarget& target, std::uint8_t index) {
    if (index >= 1 && index <= kMaxTargetPrograms) return target_defaults(index).name;
    target.free_of_window();
    return "Open";
}

const TargetDriver& target_driver(const CurrentTarget& target) { return target_driver(target.index()); }

void load_target_parameters(CurrentTarget& target, platform::Windows& windows, const std::string& name) {
    target.take(target_index_of(target, name));
    fit_target_to_desktop(target, windows);
}

void write_other_program_options(const CurrentTarget& target, const Settings& settings, TextSink& f) {
    f.write_line("Other program options are ");
    for (int i = 0; i <= kMaxTargetPrograms; ++i) {
        const TargetProgram& e = target.table()[i];
        if (e.name == settings.target_program) {
            f.write_line();
            continue;
        }
        if (e.window_name == "Open")
            f.write_line("Option" + str(i) + " Open - Sends to any foreground window: # sensing points=" +
                      str(e.sensors_active));
        else
            f.write_line("Option" + str(i) + " Program" + e.name + " window: # sensing points=" +
                      str(e.sensors_active));
        for (std::int32_t j = 0; j < e.sensors_active && j < kMaxSensors; ++j) {
            const SensingPoint& p = e.points[static_cast<std::size_t>(j)];
            f.write_line("Sensing point=" + str(p.sensor) + " handstrokekey =" + std::string(1, p.hand_key) +
                      " delay=" + str(p.hand_delay_ms) + " backstrokekey=" + std::string(1, p.back_key) +
                      " delay=" + str(p.back_delay_ms));
        }
        f.write_line();
    }
}

}  // namespace qn
