// The configuration menus: the default target, the switch-bounce delay,
// and the keys and delays of any target table entry. Each change is kept
// in the settings file.
#pragma once

#include <cstdint>

#include "config/settings.h"
#include "core/delivery_records.h"
#include "core/dialog.h"
#include "config/current_target.h"
#include "keyout/tower_ring.h"
#include "platform/platform.h"

namespace qn {

class SettingsFile;

class ConfigurationMenu {
public:
    ConfigurationMenu(Settings& settings, CurrentTarget& target, platform::Windows& windows, Dialog& dialog,
                      DeliveryReport& report, TowerRing& tower, SettingsFile& settings_file)
        : settings_(settings), target_(target), windows_(windows), dialog_(dialog), report_(report),
          tower_(tower), settings_file_(settings_file) {}

    void run();
    void set_switch_bounce();
    // Edits the sensing points of table entry `entry`.
    void change_target_parameters(std::int32_t entry);
    // Toggled by D at the menu.
    bool diagnostics() const { return diagnostics_; }

private:
    void write_menu();
    std::int32_t read_number_in(std::int32_t lo, std::int32_t hi);
    std::int32_t read_setting(const char* key, std::int32_t current);
    void change_target_entry();
    void show_sensing_points(const TargetProgram& e);
    void change_field(SensingPoint& sp, std::int32_t field);

    Settings& settings_;
    CurrentTarget& target_;
    platform::Windows& windows_;
    Dialog& dialog_;
    DeliveryReport& report_;
    TowerRing& tower_;
    SettingsFile& settings_file_;
    bool diagnostics_ = false;
};

// Bell number of a bell symbol; 0 for a character that is not one.
std::int32_t bell_number(char ch);

}  // namespace qn
