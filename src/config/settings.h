// The settings: what the settings file holds, as plain values, and the
// program's constants they are bounded by.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "core/checked_array.h"
#include "core/modem_line.h"

namespace qn {

inline constexpr const char* kProgramVersion = "Quennick_v0.8.2d3_(04_Jan_2021)_";
inline constexpr int kMaxSensors = 16;
inline constexpr int kMaxCalibrationEvents = 256;
inline constexpr int kMaxTargetPrograms = 9;
// The most rows of a touch, and so of a touch's keys and intervals.
inline constexpr int kMaxRows = 6000;
inline constexpr int kDefaultLoopSleepMs = 5;
inline constexpr int kDefaultSwitchBounceMs = 40;
inline constexpr int kDefaultTransientMs = 2;
inline constexpr int kDefaultSingleSensorDelayMs = 380;
inline constexpr int kDefaultDoubleSensorDelayMs = 80;
inline constexpr int kDefaultDoubleStrikeDelayMs = 350;
inline constexpr bool kDefaultUseDoubledSend = true;
inline constexpr const char* kInitialTargetProgram = "Ringing Room";
inline constexpr std::int64_t kNoEventTime = -1;
inline constexpr const char* kDefaultTowerSite = "https://ringingroom.com";

struct CalibrationResult {
    double signal_time_s = 0;  // from the first event
    double signal_gap_s = 0;
    double sensor_gap_s = 0;
};

// Band mode: every bell of a multi-bell interface box, each its own strike
// path. Bells are numbered from 1 as the box numbers them; the box's own
// delays are not used, each bell's key delays live here.
inline constexpr int kMaxBandBells = 16;
inline constexpr std::int32_t kDefaultBandDelayMs = kDefaultSingleSensorDelayMs;

// The box's standard character for bell n (from 1): 1-9, 0, E, T, then A-D.
inline char standard_band_char(int bell) {
    constexpr const char* kChars = "1234567890ETABCD";
    return bell >= 1 && bell <= kMaxBandBells ? kChars[bell - 1] : '\0';
}

struct BandBellSetting {
    bool rung = false;  // a ringer in the tower rings this bell on this box
    char box_char = '\0';
    std::int32_t hand_delay_ms = kDefaultBandDelayMs;
    std::int32_t back_delay_ms = kDefaultBandDelayMs;
};

struct BandSettings {
    bool on = false;
    std::array<BandBellSetting, kMaxBandBells> bells = [] {
        std::array<BandBellSetting, kMaxBandBells> b{};
        for (int n = 1; n <= kMaxBandBells; ++n) b[static_cast<std::size_t>(n - 1)].box_char = standard_band_char(n);
        return b;
    }();
    BandBellSetting& bell(int n) { return bells[static_cast<std::size_t>(n - 1)]; }
    const BandBellSetting& bell(int n) const { return bells[static_cast<std::size_t>(n - 1)]; }
    // The bell whose character ch is (0: none).
    int bell_of(char ch) const {
        for (int n = 1; n <= kMaxBandBells; ++n)
            if (bell(n).box_char == ch) return n;
        return 0;
    }
};

struct Settings {
    std::string port_name;
    bool signals_mode = false;
    bool rest_on_mode = false;
    PerModemLine<bool> use_line;  // the lines the sensor is on
    char data_char = '\0';
    std::int32_t signal_count = 0;
    std::array<CalibrationResult, kMaxCalibrationEvents> results{};  // event n (from 1) at n - 1
    std::int32_t loop_sleep_ms = kDefaultLoopSleepMs;
    bool big_numbers = false;
    bool monitor_output = false;
    std::int32_t switch_bounce_ms = kDefaultSwitchBounceMs;
    std::atomic<std::int32_t> transient_ms{0};  // read by the serial thread
    bool signal_starts_off = true;
    std::int32_t sensor_count = 0;
    std::int32_t mean_signal_ms = 0;
    bool handbells = false;
    bool off_and_on_are_signals = false;
    double space_ratio_low = 0.6;
    double space_ratio_high = 1.7;
    std::string target_program = kInitialTargetProgram;
    bool bespoke = false;

    // The tower link of the Ringing Room targets: rings go straight to the
    // tower's server. tower_id 0: keys go to the browser as before.
    std::int32_t tower_id = 0;
    std::int32_t tower_bell_j = 1;  // the ringer's bells for the keys "j" and "f" (0: none)
    std::int32_t tower_bell_f = 0;
    std::string tower_site = kDefaultTowerSite;
    std::string tower_email;       // a Ringing Room account to log in with; empty: anonymous
    bool tower_send_ahead = true;  // rings go the network's delay early, to reach the tower on time

    BandSettings band;  // data mode only: the whole box's bells
};

struct SensingPoint {
    std::int32_t sensor = 0;
    char hand_key = '\0';
    std::int32_t hand_delay_ms = 0;
    char back_key = '\0';
    std::int32_t back_delay_ms = 0;
};

struct TargetProgram {
    std::string name;
    std::string window_name;
    std::int32_t sensors_active = 0;
    bool find_window = false;
    bool restricted = false;
    std::array<SensingPoint, kMaxSensors> points{};  // sensing point n (from 1) at n - 1
    bool use_doubled_send = false;
    std::int32_t double_strike_delay_ms = 0;
};

// The target programs' settings as the settings file holds them; delivery
// takes the selected one's.
using TargetTable = CheckedArray<TargetProgram, kMaxTargetPrograms + 1>;

}  // namespace qn
